#include "platform/system_info.h"

#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "platform/text.h"

std::wstring KernelRelease() {
  struct utsname names;
  if (uname(&names) != 0) return {};
  return Utf8ToWide(names.release);
}

unsigned LogicalProcessorCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<unsigned>(n) : 1u;
}

unsigned UsableProcessorCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return LogicalProcessorCount();
  const int n = CPU_COUNT(&set);
  return n > 0 ? static_cast<unsigned>(n) : 1u;
}

uint64_t PhysicalMemoryBytes() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }
unsigned long CurrentThreadId() { return static_cast<unsigned long>(gettid()); }
