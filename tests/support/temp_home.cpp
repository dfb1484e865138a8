#include "support/temp_home.h"

#include <sys/resource.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/files.h"
#include "platform/text.h"

TempHome::TempHome() {
  char tmpl[] = "/tmp/veldmix-test-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  setenv("HOME", path_.c_str(), 1);
  setenv("XDG_DATA_HOME", (path_ + "/data").c_str(), 1);
  setenv("XDG_STATE_HOME", (path_ + "/state").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (path_ + "/config").c_str(), 1);
}

TempHome::~TempHome() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::wstring TempHome::wpath() const { return Utf8ToWide(path_); }

void WriteRaw(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ReadRaw(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> WriteTemps(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    if (IsWriteTemp(Utf8ToWide(entry.path().filename().native()))) found.push_back(entry.path().native());
  return found;
}

FileSizeLimit::FileSizeLimit(unsigned long long bytes) {
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  oldSoft_ = old.rlim_cur;
  oldHard_ = old.rlim_max;
  oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG instead
  rlimit limit{static_cast<rlim_t>(bytes), old.rlim_max};
  setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
  rlimit old{static_cast<rlim_t>(oldSoft_), static_cast<rlim_t>(oldHard_)};
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler_);
}
