#include "platform/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/text.h"

namespace {

// Seconds from 1601-01-01 to 1970-01-01, and 100-ns ticks in a second and in a nanosecond step.
constexpr int64_t kEpochDeltaSeconds = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000LL;
constexpr int64_t kNanosecondsPerTick = 100;

int64_t TicksOf(const struct stat& st) {
  return (static_cast<int64_t>(st.st_mtim.tv_sec) + kEpochDeltaSeconds) * kTicksPerSecond +
         st.st_mtim.tv_nsec / kNanosecondsPerTick;
}

struct Child {
  std::string name;
  bool folder;  // a real folder, not a link to one
};

// The folder's entries in byte order; false when it cannot be opened.
bool ReadFolder(int dirFd, std::vector<Child>* out) {
  DIR* dir = ::fdopendir(dirFd);
  if (dir == nullptr) {
    ::close(dirFd);
    return false;
  }
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    bool folder = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN) {
      struct stat st {};
      folder = ::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    }
    out->push_back({name, folder});
  }
  ::closedir(dir);
  std::sort(out->begin(), out->end(), [](const Child& a, const Child& b) { return a.name < b.name; });
  return true;
}

// The root may itself be a link to a folder (the user chose it); below it no link is entered.
int OpenFolder(const std::string& path, bool root) {
  return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (root ? 0 : O_NOFOLLOW));
}

// Depth-first, pre-order; false once the visitor asked to stop.
bool WalkFrom(const std::string& folder, bool root, const WalkHandlers& h,
              const std::function<bool(const std::wstring&)>& wantStat) {
  std::vector<Child> children;
  const int fd = OpenFolder(folder, root);
  if (fd < 0 || !ReadFolder(fd, &children)) {
    if (h.unreadable) h.unreadable(PathFromBytes(folder));
    return true;
  }
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  for (const Child& child : children) {
    const std::string path = prefix + child.name;
    if (child.folder) {
      if (!WalkFrom(path, false, h, wantStat)) return false;
      continue;
    }
    WalkEntry entry{.path = PathFromBytes(path), .regularFile = false, .modified = 0};
    if (!wantStat || wantStat(entry.path)) {
      struct stat st {};
      if (::stat(path.c_str(), &st) == 0) {
        entry.regularFile = S_ISREG(st.st_mode);
        entry.modified = TicksOf(st);
      }
    }
    if (h.visit && !h.visit(entry)) return false;
  }
  return true;
}

}  // namespace

void WalkFolder(const std::wstring& root, const WalkHandlers& handlers,
                const std::function<bool(const std::wstring& path)>& wantStat) {
  std::string start = PathToBytes(root);
  while (start.size() > 1 && start.back() == '/') start.pop_back();
  if (start.empty()) return;
  WalkFrom(start, true, handlers, wantStat);
}

int64_t FileModifiedTime(const std::wstring& path) {
  struct stat st {};
  if (::stat(PathToBytes(path).c_str(), &st) != 0) return 0;
  return TicksOf(st);
}

bool IsRegularFile(const std::wstring& path) {
  struct stat st {};
  return ::stat(PathToBytes(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

PathState ProbePath(const std::wstring& path) {
  struct stat st {};
  if (::stat(PathToBytes(path).c_str(), &st) == 0) return PathState::Exists;
  return errno == ENOENT || errno == ENOTDIR ? PathState::NotFound : PathState::Unknown;
}
