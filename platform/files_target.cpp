// Where a write lands: the end of the target's symbolic links, a hidden temporary beside it, and
// the removal of temporaries that a killed writer left behind.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

#include "platform/text.h"

namespace {

constexpr char kTempEnding[] = ".veldmix-tmp";
// A temporary this old whose writer is gone is a leftover; a live writer touches its file far
// more often than this.
constexpr time_t kStaleTempSeconds = 5 * 60;
// Room left in a 255-byte name for "." + "." + "<pid>-<n>" + kTempEnding.
constexpr size_t kMaxLeafBytesInTemp = 200;

std::atomic<unsigned> g_tempSerial{0};

std::string FolderPart(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

std::string LeafPart(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The leaf as it stands in its temporaries' names: clipped on a character boundary.
std::string LeafInTemp(const std::string& leaf) {
  if (leaf.size() <= kMaxLeafBytesInTemp) return leaf;
  size_t n = kMaxLeafBytesInTemp;
  while (n > 0 && (static_cast<unsigned char>(leaf[n]) & 0xC0) == 0x80) --n;
  return leaf.substr(0, n);
}

std::wstring Named(const std::string& path, const wchar_t* why) { return PathFromBytes(path) + L": " + why; }

// The writer's process id when name is one of our temporaries (of a file whose LeafInTemp is in
// leaves, or of any file when leaves is null), else 0.
long TempWriter(const std::string& name, const std::set<std::string>* leaves) {
  const size_t endingSize = sizeof kTempEnding - 1;
  if (name.size() < 1 + endingSize + 4 || name[0] != '.' ||
      name.compare(name.size() - endingSize, endingSize, kTempEnding) != 0)
    return 0;
  const std::string middle = name.substr(1, name.size() - 1 - endingSize);  // "<leaf>.<pid>-<n>"
  const std::string::size_type dot = middle.rfind('.');
  if (dot == std::string::npos || (leaves && !leaves->contains(middle.substr(0, dot)))) return 0;
  const std::string serial = middle.substr(dot + 1);
  const std::string::size_type dash = serial.find('-');
  if (dash == std::string::npos || dash == 0 || dash + 1 == serial.size()) return 0;
  if (serial.find_first_not_of("0123456789-") != std::string::npos || serial.find('-', dash + 1) != std::string::npos)
    return 0;
  return std::strtol(serial.c_str(), nullptr, 10);
}

// Removes folder/name when it is a regular file untouched for a while whose writer is gone.
bool RemoveIfStale(const std::string& folder, const std::string& name, long pid) {
  const std::string path = folder + "/" + name;
  struct stat st;
  if (pid <= 0 || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (std::time(nullptr) - st.st_mtime < kStaleTempSeconds) return false;
  if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) return false;
  return ::unlink(path.c_str()) == 0;
}

// One read of the folder, however many files' temporaries are looked for: a batch of thousands
// of files in one folder read it once, not once a file.
int RemoveLeftovers(const std::string& folder, const std::set<std::string>* leaves) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (RemoveIfStale(folder, name, TempWriter(name, leaves))) ++removed;
  }
  ::closedir(dir);
  return removed;
}

}  // namespace

bool PlanWrite(const std::wstring& target, SpecialTarget special, WritePlan* plan, std::wstring* error,
               bool removeStale) {
  *plan = WritePlan();
  const std::string path = PathToBytes(target);
  std::string final = path;
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // The kernel follows the chain with its own bound on hops and reports a loop as ELOOP.
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
      const int err = errno;
      if (error)
        *error = Named(path, err == ELOOP ? L"its symbolic links go round in a loop; nothing was written"
                                          : L"its symbolic link points at nothing; nothing was written");
      return false;
    }
    final = resolved;
    std::free(resolved);
  }
  if (::stat(final.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      if (error) *error = Named(final, L"a folder stands there, not a file; nothing was written");
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      if (special == SpecialTarget::WriteInPlace && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) {
        plan->final = PathFromBytes(final);
        plan->inPlace = true;
        return true;
      }
      if (error) *error = Named(final, L"it is a device, pipe or socket, not a regular file; it was left as it is");
      return false;
    }
    plan->exists = true;
    plan->mode = st.st_mode & 07777;
    plan->uid = st.st_uid;
    plan->gid = st.st_gid;
  }
  const std::string folder = FolderPart(final), leaf = LeafPart(final);
  if (removeStale) {
    const std::set<std::string> leaves{LeafInTemp(leaf)};
    RemoveLeftovers(folder, &leaves);
  }
  plan->final = PathFromBytes(final);
  plan->temp = PathFromBytes(folder + "/." + LeafInTemp(leaf) + "." + std::to_string(::getpid()) + "-" +
                          std::to_string(g_tempSerial.fetch_add(1)) + kTempEnding);
  return true;
}

int OpenWriteTemp(const WritePlan& plan) {
  const int fd = ::open(PathToBytes(plan.temp).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0 && plan.exists) {
    // The new file keeps what the old one was: its permissions, and its owner where we may.
    ::fchmod(fd, plan.mode);
    if (::geteuid() == 0) (void)!::fchown(fd, plan.uid, plan.gid);
  }
  return fd;
}

bool CommitWrite(const WritePlan& plan, std::wstring* error, bool syncFolder) {
  const std::string temp = PathToBytes(plan.temp), final = PathToBytes(plan.final);
  if (plan.exists) {
    ::chmod(temp.c_str(), plan.mode);  // for writers that made the temporary themselves
    if (::geteuid() == 0) (void)!::chown(temp.c_str(), plan.uid, plan.gid);
  }
  if (::rename(temp.c_str(), final.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    if (error) *error = SysText("rename", err);
    errno = err;  // for the caller's LastWriteError
    return false;
  }
  const int dir = syncFolder ? ::open(FolderPart(final).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

void AbandonWrite(const WritePlan& plan) {
  if (!plan.temp.empty()) ::unlink(PathToBytes(plan.temp).c_str());
}

bool IsWriteTemp(const std::wstring& leaf) { return TempWriter(PathToBytes(leaf), nullptr) != 0; }

bool RemoveStaleWriteTemp(const std::wstring& path) {
  const std::string p = PathToBytes(path), leaf = LeafPart(p);
  return RemoveIfStale(FolderPart(p), leaf, TempWriter(leaf, nullptr));
}

int RemoveStaleWriteTemps(const std::wstring& folder) { return RemoveLeftovers(PathToBytes(folder), nullptr); }

void RemoveStaleWriteTempsOf(const std::vector<WritePlan>& plans) {
  std::map<std::string, std::set<std::string>> leaves;  // by folder
  for (const WritePlan& plan : plans) {
    if (plan.temp.empty()) continue;
    const std::string final = PathToBytes(plan.final);
    leaves[FolderPart(final)].insert(LeafInTemp(LeafPart(final)));
  }
  for (const auto& [folder, names] : leaves) RemoveLeftovers(folder, &names);
}
