#pragma once
// The stem self-test: deck A's track is separated into stems, then ten seconds of the mix from
// 30 s into the track are recorded to SelfTest.outputPath while the deck's stem parts switch every
// two seconds: everything, the instrumental, vocals only, nothing, everything at +6 % with key
// lock. A load, separation or recording that fails ends the run at once with the reason, and no
// WAV is left behind a failed separation. UI thread.
#include <span>

inline constexpr double kStemTestStartSeconds = 30.0;  // where in the track the recording begins
inline constexpr double kStemTestSeconds = 10.0;       // how long it runs
inline constexpr double kStemTestTempoOffset = 0.06;   // the last step's tempo with key lock

struct StemStep {
  double seconds;        // after the recording began
  const wchar_t* what;   // for the log
  void (*run)();
};
// The five steps, in ascending time.
std::span<const StemStep> StemSteps();

// One tick of the stem test at `nowSeconds`: waits for the track and its stems (starting the
// separation), then records and runs the steps that came due.
void StemTestTick(double nowSeconds);
