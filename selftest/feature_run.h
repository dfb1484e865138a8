#pragma once
// The feature run: the program drives itself through its features one frame tick at a time and
// writes a verdict line per check, screenshots, and "results.txt" in the output folder. The
// runner lives in feature_run.cpp; its suites in audio_steps, performance_steps, feature_screens
// and further_checks. UI thread.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "control/controller_presets.h"
#include "engine/engine.h"

namespace FeatureTest {

// One timed step of the performance suite: a name starting "(" is a preparation, run and waited
// but never checked or reported. With `ready`, the check waits past `seconds` until it holds, for
// up to kStepLateSeconds more: what the program times on its frames ends late on a loaded machine.
struct TimedStep {
  std::wstring name;
  std::function<void()> action;
  double seconds = 0.0;
  std::function<bool()> check;
  std::function<bool()> ready;
};
inline constexpr double kStepLateSeconds = 5.0;

// One audio output set-up, checked 1.5 s after the output was started with it.
struct AudioStep {
  std::wstring name;
  std::function<OutputConfig()> config;
  std::function<bool()> check;
};

// The runner's state; everything starts at zero. A start time of 0 means "not started".
struct Runner {
  int32_t phase = 0;
  bool busy = false;  // a capture draws the window: the tick returns at once
  std::vector<AudioStep> audio;
  size_t audioIndex = 0;
  double audioStart = 0.0;
  std::vector<TimedStep> steps;
  bool stepsBuilt = false;
  size_t stepIndex = 0;
  double stepStart = 0.0;
  uint64_t stepMixMark = 0;  // the master's mixed frames at the step's start
  float stepPeak = 0.0f;
  bool skipped = false;  // set by a check that could not judge: its line is a SKIP
  size_t screenIndex = 0;
  int32_t screenTicks = 0;
  double demoStart = 0.0;
  int32_t demoDoneTicks = 0;
  double cameraStart = 0.0;
  int32_t cameraState = 0;
  bool snapshotTaken = false;
};
extern Runner Run;

// The plain output set-up every audio step and the performance phase start from: default
// devices, master pair 0, headphones pair 1 (mode none), shared, 10 ms, 2 deck outputs.
OutputConfig PlainOutputConfig();
// The audio set-ups: two always, four more when an output device has 4 or more channels.
std::vector<AudioStep> AudioSteps();
// The check name of an audio step from the engine's live status: "audio: " + name +
// " (normal|low latency|exclusive, N ch, L ms)".
std::wstring AudioCheckName(const std::wstring& stepName);
// A step's verdict line after its wait: none for a preparation "(…)", a SKIP when its check
// could not judge (it sets Run.skipped), else PASS or FAIL.
void ReportStep(const TimedStep& step);
// The performance suite, 46 steps, built afresh on each call.
std::vector<TimedStep> PerformanceSteps();
// Phase 4: one screen row per call; true once all 33 screenshots are queued and the screens are
// closed again.
bool ScreensTick();
inline constexpr int kScreenCount = 33;
// The screen table's file names in order.
std::vector<std::wstring> ScreenFileNames();

// Phase 1's immediate checks, in the order the runner calls them.
void ControllerLayoutTests();
void AutoMapTests();
void BentGridTest();
void RemoteTest();
void SkinTest();
void TimecodeTest();

// The first layout whose name contains `text` (case-sensitive; an empty text matches the first),
// else the first of the list, which must not be empty.
const ControllerPreset& FindPresetByName(const std::vector<ControllerPreset>& presets, const std::wstring& text);
// The table maps (status's type, status's channel, data1) to exactly `control`.
bool HasMapping(int status, int data1, int32_t control);

// Moves the deck to `frames`, clamped into its track, under the engine lock. A position that is
// not finite is refused (false) before any clamp, and the deck stays put.
bool SetDeckPosition(int deck, double frames);
// A tempo fit to divide by: the BPM when finite and at least 1, else 1.
double UsableBpm(double bpm);

// The output folder joined with a file name.
std::wstring OutputFile(const std::wstring& name);
// The ingest address step 46 tries: VELDMIX_INGEST_ADDRESS when set, else YouTube's RTMPS
// ingest on port 443.
std::wstring IngestAddress();

}  // namespace FeatureTest

// The feature run's step for this tick (the --featuretest switch); returns at once while a
// capture of its own draws the window.
void FeatureTestTick(double nowSeconds);

// A MIDI message packed as status | data1 << 8 | data2 << 16, entering where a device's does.
void InjectMidi(int status, int data1, int data2);
// A HID report's bytes, entering where a device's report does.
void InjectHidReport(std::vector<uint8_t> report);
// Deck's playing flag, read under the engine lock.
bool IsDeckPlaying(int deck);
