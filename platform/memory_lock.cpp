#include "platform/memory_lock.h"

#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace {

// The libraries a block of audio passes through on its way to the sound server.
constexpr std::string_view kAudioPathLibraries[] = {"libc.so",      "libm.so",   "libstdc++.so", "libgcc_s.so",
                                                    "libpulse.so",  "libpulsecommon", "libasound.so",
                                                    "libdbus-1.so", "ld-linux"};

bool OnAudioPath(const char* path) {
  if (path == nullptr || *path == '\0') return true;  // the program itself
  const char* slash = std::strrchr(path, '/');
  const std::string_view name = slash != nullptr ? slash + 1 : path;
  for (std::string_view library : kAudioPathLibraries)
    if (name.substr(0, library.size()) == library) return true;
  return false;
}

struct CodeLock {
  size_t pageSize = 4096;
  bool wholeSegments = false;  // read every page in now, not as it is first touched
  int locked = 0;              // segments locked
  int refused = 0;             // segments the limit refused
};

// Code and, with wholeSegments, the constant tables beside it: a first touch of either from the
// audio thread would wait for the disk under memory pressure.
int LockCodeSegments(dl_phdr_info* info, size_t, void* data) {
  auto* lock = static_cast<CodeLock*>(data);
  if (!OnAudioPath(info->dlpi_name)) return 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    if (!lock->wholeSegments && (segment.p_flags & PF_X) == 0) continue;
    const uintptr_t start = (info->dlpi_addr + segment.p_vaddr) & ~(lock->pageSize - 1);
    const uintptr_t end = info->dlpi_addr + segment.p_vaddr + segment.p_memsz;
    const int done = lock->wholeSegments ? mlock(reinterpret_cast<void*>(start), end - start)
                                         : mlock2(reinterpret_cast<void*>(start), end - start, MLOCK_ONFAULT);
    if (done == 0) ++lock->locked;
    else ++lock->refused;
  }
  return 0;
}

}  // namespace

MemoryLock LockProgramMemory(std::string* reason) {
  CodeLock lock;
  lock.pageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  if (mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) == 0) {
    // Pages are locked as they are touched; the audio path's are read in now, so a branch the
    // render first takes under load (a late block's count, a rare effect) finds its page here.
    lock.wholeSegments = true;
    dl_iterate_phdr(LockCodeSegments, &lock);
    return MemoryLock::kAll;
  }
  const int refused = errno;
  dl_iterate_phdr(LockCodeSegments, &lock);
  if (reason != nullptr) {
    *reason = std::strerror(refused);
    if (lock.refused > 0) *reason += "; the limit also refused " + std::to_string(lock.refused) + " code segment(s)";
  }
  return lock.locked > 0 ? MemoryLock::kCode : MemoryLock::kRefused;
}
