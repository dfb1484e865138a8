#include "platform/clock.h"

#include <ctime>
#include <sys/time.h>

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
