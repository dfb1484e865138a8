#pragma once
// Clocks. Monotonic time for every interval and timeout; wall-clock time only for what a person
// reads (log lines, file names).
#include <cstdint>

// Milliseconds since an arbitrary start; never goes back.
uint64_t MonotonicMs();
// Seconds since the same start, with sub-microsecond resolution.
double MonotonicSeconds();

struct LocalTime {
  unsigned year, month, day, hour, minute, second, millisecond;
};
// The local date and time; async-signal-safe apart from the first call's time-zone load.
LocalTime NowLocal();
// Sleeps until MonotonicSeconds() reaches `seconds` (an absolute wake-up, so a late start of the
// sleep does not shift it). Returns at once for a time already past.
void SleepUntilSeconds(double seconds);
// Sleeps the calling thread; never on the audio thread.
void SleepMs(unsigned ms);
