#include "platform/clock.h"

#include <cerrno>

#include <sys/time.h>
#include <ctime>

namespace {
timespec Monotonic() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts;
}
}  // namespace

uint64_t MonotonicMs() {
  timespec ts = Monotonic();
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

double MonotonicSeconds() {
  timespec ts = Monotonic();
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void SleepUntilSeconds(double seconds) {
  if (!(seconds > 0.0)) return;
  timespec until;
  until.tv_sec = static_cast<time_t>(seconds);
  until.tv_nsec = static_cast<long>((seconds - static_cast<double>(until.tv_sec)) * 1e9);
  if (until.tv_nsec >= 1000000000L) until.tv_sec += 1, until.tv_nsec -= 1000000000L;
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

LocalTime NowLocal() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm t;
  localtime_r(&ts.tv_sec, &t);
  return LocalTime{static_cast<unsigned>(t.tm_year + 1900), static_cast<unsigned>(t.tm_mon + 1),
                   static_cast<unsigned>(t.tm_mday), static_cast<unsigned>(t.tm_hour),
                   static_cast<unsigned>(t.tm_min), static_cast<unsigned>(t.tm_sec),
                   static_cast<unsigned>(ts.tv_nsec / 1000000)};
}

void SleepMs(unsigned ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {}
}
