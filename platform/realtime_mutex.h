#pragma once
// A recursive mutex that lends its waiter's priority to its holder: when the real-time audio
// thread waits for a lock a normal thread holds, the holder runs at the audio thread's priority
// until it lets go, so no ordinary thread can keep the render waiting by being preempted while
// it holds the lock. Usable with std::lock_guard and std::unique_lock. Locking and unlocking
// allocate nothing.
#include <cstdint>

class RealtimeMutex {
 public:
  RealtimeMutex();
  ~RealtimeMutex();
  RealtimeMutex(const RealtimeMutex&) = delete;
  RealtimeMutex& operator=(const RealtimeMutex&) = delete;

  void lock();
  bool try_lock();
  void unlock();
  // Waits at most `micros` microseconds for the lock; true when it is held.
  bool LockWithin(int64_t micros);
  // True when the system lends priority through this mutex (false: it works as a plain
  // recursive mutex).
  bool InheritsPriority() const { return inherits_; }

 private:
  alignas(16) unsigned char storage_[64];
  bool inherits_ = false;
};
