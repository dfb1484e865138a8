#include "platform/folders.h"

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

std::wstring Env(const char* name) {
  const char* v = std::getenv(name);
  return (v && *v) ? PathFromBytes(v) : std::wstring();
}

std::wstring Home() { return Env("HOME"); }

// An absolute $NAME, else HOME joined with the fallback; relative XDG values are ignored.
std::wstring XdgBase(const char* name, const wchar_t* fallback) {
  std::wstring v = Env(name);
  if (!v.empty() && v[0] == L'/') return v;
  std::wstring home = Home();
  return home.empty() ? std::wstring() : JoinPath(home, fallback);
}

// Reads XDG_<key>_DIR from user-dirs.dirs ("$HOME/..." or an absolute path).
std::wstring UserDir(const char* key, const wchar_t* fallback) {
  std::wstring home = Home();
  if (home.empty()) return {};
  std::ifstream in(PathToBytes(JoinPath(ConfigBase(), L"user-dirs.dirs")));
  std::string line;
  std::string prefix = std::string("XDG_") + key + "_DIR=";
  std::wstring found;
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) != 0) continue;
    std::string value = line.substr(prefix.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) found = home + PathFromBytes(value.substr(5));
    else if (!value.empty() && value[0] == '/') found = PathFromBytes(value);
  }
  return found.empty() ? JoinPath(home, fallback) : found;
}

}  // namespace

std::wstring JoinPath(const std::wstring& base, const std::wstring& name) {
  if (base.empty()) return name;
  if (base.back() == L'/') return base + name;
  return base + L"/" + name;
}

bool CreateFolderTree(const std::wstring& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::path p(PathToBytes(path));
  fs::create_directories(p, ec);
  return fs::is_directory(p, ec);
}

bool FolderExists(const std::wstring& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(fs::path(PathToBytes(path)), ec);
}

bool FileExists(const std::wstring& path) {
  std::error_code ec;
  return !path.empty() && fs::exists(fs::path(PathToBytes(path)), ec);
}

std::wstring RoamingDataBase() { return XdgBase("XDG_DATA_HOME", L".local/share"); }
std::wstring LocalDataBase() { return XdgBase("XDG_STATE_HOME", L".local/state"); }
std::wstring CacheBase() { return XdgBase("XDG_CACHE_HOME", L".cache"); }
std::wstring ConfigBase() { return XdgBase("XDG_CONFIG_HOME", L".config"); }
std::wstring MusicFolder() { return UserDir("MUSIC", L"Music"); }
std::wstring DownloadsFolder() { return UserDir("DOWNLOAD", L"Downloads"); }
std::wstring DesktopFolder() { return UserDir("DESKTOP", L"Desktop"); }

std::wstring ProgramFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return PathFromBytes(exe.parent_path().string());
}
