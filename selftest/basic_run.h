#pragma once
// The basic self-test: once deck A holds the test track, the mix recorder starts on
// SelfTest.outputPath and deck A plays hard left through a timed script of tempo, effect,
// sampler, loop and stop actions; at the end the WAV gets an MP3 copy beside it and the window
// closes. UI thread; the actions take the engine lock themselves.
#include <cstddef>
#include <span>
#include <string>

// The track (and the audio output the recorder needs) must be ready this long after the first tick.
inline constexpr double kTrackWaitSeconds = 60.0;
// Step 1's tempo change with key lock on: +6 %.
inline constexpr double kKeyLockTempoOffset = 0.06;

// One step of the script: when it runs (seconds after the start) and what it does.
struct BasicStep {
  double seconds;
  const wchar_t* what;  // for the log
  void (*run)();
};
// The script, in ascending time.
std::span<const BasicStep> BasicSteps();

// One tick of the basic test at `nowSeconds`: before the start, waits for the track and the
// output (a load that failed or never ends fails the run); at the start, starts the recorder
// (a refusal fails the run) and deck A; after it, runs the steps that came due.
void BasicTestTick(double nowSeconds);
// Remembers the first tick, `elapsed` seconds into the run, at which the audio output was not
// running; the final check names it when the recording comes up short.
void NoteOutputStop(double elapsed);
// Runs, in order, every step not run yet whose time is at most `elapsed` seconds after the start;
// returns how many ran. Several due steps run within one call.
size_t RunDueBasicSteps(double elapsed);
// Why the deck's load of `path` ended without a track (the load error and the path, or the path
// alone); empty while it holds a track or still loads.
std::wstring DeckLoadError(int deck, const std::wstring& path);
// Stops the recorder and checks the WAV at SelfTest.outputPath on disk: a recording that ended
// badly, holds no sound or falls clearly short of `runSeconds` is a failed "mix recorded" check
// with the reason. True when the file holds sound (worth a copy), even when short.
bool CheckMixRecorded(double runSeconds);
// The MP3 copy's path: the output path with its extension replaced by ".mp3", or ".mp3" appended
// when the file name has none.
std::wstring Mp3CopyPath(const std::wstring& wavPath);
