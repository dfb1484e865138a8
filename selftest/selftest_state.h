#pragma once
// What every self-test shares: the run's clock and its place in its script, and the verdicts
// that become the results text and the exit code. UI thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A run still going this long after its first tick is ended as a failure, whatever it waits for.
// Each switch has its own cap, a little above its longest honest run.
inline constexpr double kBasicTestCapSeconds = 120.0;
// The stem run waits for a whole track's separation first; the karaoke run ends itself at 300 s,
// naming its step and writing its results, so its cap lies just beyond.
inline constexpr double kStemTestCapSeconds = 240.0;
inline constexpr double kKaraokeTestCapSeconds = 305.0;
inline constexpr double kFeatureTestCapSeconds = 240.0;

struct SelfTestProgress {
  double firstTick = 0.0;  // seconds (MonotonicMs / 1000) of the run's first tick; 0 before it
  double start = 0.0;      // seconds when the script began; 0 until then
  size_t nextStep = 0;     // the script's first step not run yet
  bool finished = false;   // the results are out and the window is closing
  std::wstring where;      // what the run is doing now, named when the cap ends it; may be empty
};
extern SelfTestProgress TestProgress;

// Failed checks so far; above 0 the main window's close exits with 1.
extern int SelfTestFailures;
// One line per check, "PASS  <name>\n", "FAIL  <name>\n" or "SKIP  <name>\n", in the order they were made.
extern std::wstring SelfTestResults;

// Records one check. A failure is counted, and its reason, when given, goes to standard error
// and the log at once.
void SelfTestCheck(bool passed, std::wstring_view name, std::wstring_view reason = {});
// Records a check that could not be made here (a peer that is out of reach): "SKIP  <name>\n",
// neither a pass nor a failure.
void SelfTestSkip(std::wstring_view name);
// Ends the run once: the results text goes to standard error and the log, then the main window
// is destroyed (its close turns the failures into the exit code). Later calls do nothing.
void FinishSelfTest();
// Everything above back to before the first tick.
void ResetSelfTest();

// The master's mixed frames now (a mark), and the seconds of sound mixed since a mark at the
// output's rate: the decks move by these, not by the wall clock, so a sound server that wakes the
// output late or a loaded machine does not move the goal.
uint64_t MixedFramesMark();
double MixedSecondsSince(uint64_t mark);

// The steps act as a user does, through the action table's rows (control/action_table.h).
// Clicks a deck's toggle button when its state (now) is not the wanted one.
void ClickToState(int deck, int32_t offset, bool now, bool wanted);
// The cross-fader as a controller moves it: 0 hard left (deck A alone) .. 1.
void MoveCrossfader(float position);
// The deck's pitch fader as a controller moves it to the on-screen position `fader`, flipped
// the way the settings flip a controller's fader.
void MovePitchFader(int deck, float fader);
// The deck's filter knob turned to `filter` (-1 .. 1, 0 off).
void MoveFilter(int deck, float filter);
