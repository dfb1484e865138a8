#include "platform/realtime_mutex.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <new>

namespace {

static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 16);

constexpr int64_t kNanosPerSecond = 1000000000;

pthread_mutex_t* Native(unsigned char* storage) { return std::launder(reinterpret_cast<pthread_mutex_t*>(storage)); }

// A recursive mutex, priority-inheriting when asked and allowed; false when it could not be made.
bool MakeMutex(pthread_mutex_t* mutex, bool inherit) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  bool made = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
              (!inherit || pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_INHERIT) == 0) &&
              pthread_mutex_init(mutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  return made;
}

}  // namespace

RealtimeMutex::RealtimeMutex() {
  auto* mutex = new (storage_) pthread_mutex_t;
  inherits_ = MakeMutex(mutex, true);
  if (!inherits_ && !MakeMutex(mutex, false)) std::abort();
}

RealtimeMutex::~RealtimeMutex() { pthread_mutex_destroy(Native(storage_)); }

void RealtimeMutex::lock() {
  if (pthread_mutex_lock(Native(storage_)) != 0) std::abort();  // only a broken mutex fails
}

bool RealtimeMutex::try_lock() { return pthread_mutex_trylock(Native(storage_)) == 0; }

void RealtimeMutex::unlock() { pthread_mutex_unlock(Native(storage_)); }

bool RealtimeMutex::LockWithin(int64_t micros) {
  if (try_lock()) return true;
  if (micros <= 0) return false;
  // A priority-inheriting mutex waits on the wall clock only; the wait is a few milliseconds.
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  const int64_t nanos = deadline.tv_nsec + micros * 1000;
  deadline.tv_sec += static_cast<time_t>(nanos / kNanosPerSecond);
  deadline.tv_nsec = static_cast<long>(nanos % kNanosPerSecond);
  int result;
  do {
    result = pthread_mutex_timedlock(Native(storage_), &deadline);
  } while (result == EINTR);
  return result == 0;
}
