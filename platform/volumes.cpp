#include "platform/volumes.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/text.h"

namespace {

bool DeviceOf(const std::string& path, dev_t* device) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  *device = st.st_dev;
  return true;
}

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

// mountinfo writes space, tab, newline and backslash in names as \ooo octal escapes.
std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string digits = field.substr(i + 1, 3);
      if (digits.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::stoi(digits, nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

}  // namespace

std::wstring VolumeRootOf(const std::wstring& folder) {
  char* real = ::realpath(PathToBytes(folder).c_str(), nullptr);
  if (!real) return {};
  std::string path = real;
  std::free(real);
  dev_t device = 0, rootDevice = 0, homeDevice = 0;
  if (!DeviceOf(path, &device)) return {};
  if (DeviceOf("/", &rootDevice) && device == rootDevice) return L"/";
  const char* home = std::getenv("HOME");
  if (home && *home && DeviceOf(home, &homeDevice) && device == homeDevice) return L"/";
  // Climb while the parent is on the same file system.
  while (path != "/") {
    const size_t slash = path.rfind('/');
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    dev_t parentDevice = 0;
    if (!DeviceOf(parent, &parentDevice) || parentDevice != device) break;
    path = parent;
  }
  return PathFromBytes(WithSlash(path));
}

std::wstring MountedVolume(const std::wstring& name) {
  if (name.empty() || name.find(L'/') != std::wstring::npos) return {};
  const std::string wanted = PathToBytes(name);
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, devices, root, mountPoint;
    if (!(fields >> id >> parent >> devices >> root >> mountPoint)) continue;
    mountPoint = UnescapeMountField(mountPoint);
    const size_t slash = mountPoint.rfind('/');
    if (slash != std::string::npos && mountPoint.substr(slash + 1) == wanted) return PathFromBytes(WithSlash(mountPoint));
  }
  return {};
}
