#include "platform/thread_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr int kLowestNice = 19;

}  // namespace

bool LowerThreadPriority() {
  // On Linux the nice value belongs to each thread: PRIO_PROCESS with the thread's own id
  // changes that thread alone.
  const id_t self = static_cast<id_t>(gettid());
  const int now = ThreadNiceValue();
  return setpriority(PRIO_PROCESS, self, std::min(now + kBackgroundNiceStep, kLowestNice)) == 0;
}

int ThreadNiceValue() {
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  return errno == 0 ? nice : 0;
}

bool RaiseThreadToRealtime() {
  constexpr int kClockPriority = 10;  // above ordinary work, below the audio server's own threads
  sched_param param{};
  param.sched_priority = kClockPriority;
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

void NameThisThread(const char* name) {
  constexpr size_t kNameBytes = 15;  // the kernel's limit, without the terminator
  char kept[kNameBytes + 1] = {};
  for (size_t i = 0; i < kNameBytes && name[i] != '\0'; ++i) kept[i] = name[i];
  pthread_setname_np(pthread_self(), kept);
}
