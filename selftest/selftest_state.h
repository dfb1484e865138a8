#pragma once
// What every self-test shares: the run's clock and its place in its script, and the verdicts
// that become the results text and the exit code. UI thread.
#include <cstddef>
#include <string>
#include <string_view>

// A run still going this long after its first tick is ended as a failure, whatever it waits for:
// the basic run's cap; every switch has its own below, fitting its longest honest run.
inline constexpr double kSelfTestCapSeconds = 120.0;

enum class SelfTestKind { Basic, Stem, Karaoke, Feature };
struct SelfTestCap {
  SelfTestKind kind;
  double seconds;
};
// The stem run waits for a whole track's separation; the karaoke run names its stuck step at
// 300 s itself, so its cap lies just beyond.
inline constexpr SelfTestCap kSelfTestCaps[] = {
    {.kind = SelfTestKind::Basic, .seconds = kSelfTestCapSeconds},
    {.kind = SelfTestKind::Stem, .seconds = 240.0},
    {.kind = SelfTestKind::Karaoke, .seconds = 305.0},
    {.kind = SelfTestKind::Feature, .seconds = 120.0},
};
// The test the command line asked for (SelfTest's switch flags).
SelfTestKind RequestedSelfTest();
// Its cap in seconds.
double SelfTestCapSeconds(SelfTestKind kind);

struct SelfTestProgress {
  double firstTick = 0.0;  // seconds (MonotonicMs / 1000) of the run's first tick; 0 before it
  double start = 0.0;      // seconds when the script began; 0 until then
  size_t nextStep = 0;     // the script's first step not run yet
  bool finished = false;   // the results are out and the window is closing
};
extern SelfTestProgress TestProgress;

// Failed checks so far; above 0 the main window's close exits with 1.
extern int SelfTestFailures;
// One line per check, "PASS  <name>\n" or "FAIL  <name>\n", in the order they were made.
extern std::wstring SelfTestResults;

// Records one check. A failure is counted, and its reason, when given, goes to standard error
// and the log at once.
void SelfTestCheck(bool passed, std::wstring_view name, std::wstring_view reason = {});
// Ends the run once: the results text goes to standard error and the log, then the main window
// is destroyed (its close turns the failures into the exit code). Later calls do nothing.
void FinishSelfTest();
// Everything above back to before the first tick.
void ResetSelfTest();
