#pragma once
// Two demo tracks synthesised from nothing (a 64-bar house arrangement from a small description
// per song), and the demo-track job as the per-frame tick sees it.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

// ---- synthesis (pure computation; any thread) ------------------------------------------------

inline constexpr uint32_t kDemoSampleRate = 44100;
inline constexpr int32_t kDemoBars = 64;
inline constexpr double kDemoTailSeconds = 2.5;  // after the last bar, so the echoes ring out
inline constexpr double kDemoPeak = 0.89;         // normalised absolute peak

// One song's description.
struct DemoTrackSpec {
  const wchar_t* title;
  double tempo;                                 // BPM
  std::array<double, 4> bassRoots;              // MIDI notes, one per bar of a four-bar cycle
  std::array<std::array<double, 3>, 4> chords;  // MIDI notes, one chord per bar of the cycle
  std::array<int32_t, 8> bassSteps;             // sixteenths 0-15 where a bass note starts; -1 empty
  double bassLength;                            // sixteenths
  std::array<int32_t, 4> stabSteps;             // sixteenths of the chord stabs; -1 empty
  std::array<int32_t, 4> arpeggioPattern;       // indexes 0-2 into the bar's chord
  uint32_t seed;                                // of the track's noise generator
};
extern const std::array<DemoTrackSpec, 2> DemoTrackSpecs;

// The working state of one rendering. Buses are interleaved stereo, `frames` frames each.
struct DemoRender {
  std::vector<float> drums;  // kick, clap, hi-hat, crash, riser
  std::vector<float> music;  // bass, stabs, pad
  std::vector<float> lead;
  size_t frames = 0;
  std::mt19937 noise;
  std::vector<double> kickTimes;  // seconds, ascending
};
// Zeroed buses of `frames` frames and the generator seeded with `seed`.
DemoRender MakeDemoRender(size_t frames, uint32_t seed);
// The next noise value, uniform in [-1, 1), from two generator outputs.
double DemoNoise(DemoRender& render);

// Two-pole state-variable filter (trapezoidal); states start at 0.
struct DemoFilter {
  double k = 1.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
  double s1 = 0.0, s2 = 0.0;
  double band = 0.0, low = 0.0, high = 0.0;  // outputs of the last Process
};
// New coefficients for cutoff `hz` (clamped to 20..19845) and `q`; the states stay.
void SetDemoFilter(DemoFilter& f, double hz, double q);
void ProcessDemoFilter(DemoFilter& f, double x);

// The voices: each adds into its bus from `start` seconds (start frame truncated); samples past
// the end of the bus are dropped. The kick is rendered by RenderDemoTrack.
void DemoKick(DemoRender& r, double start);
void DemoClap(DemoRender& r, double start);
void DemoHat(DemoRender& r, double start, bool open, double level, double pan);
void DemoCrash(DemoRender& r, double start);
void DemoRiser(DemoRender& r, double start, double length);
void DemoBass(DemoRender& r, double start, double length, double note, double brightness);
void DemoChord(DemoRender& r, double start, double length, const std::array<double, 3>& chord, bool pad);
void DemoLead(DemoRender& r, double start, double length, double note, double pan);

// A rendered track: interleaved stereo float at 44100 Hz.
struct DemoAudio {
  std::vector<float> samples;
  size_t frames = 0;
};
// Frames of a track at `tempo` BPM: 64 bars plus the tail, truncated.
size_t DemoTrackFrames(double tempo);
// The whole song: deterministic for a given spec. Allocates about 4 x frames x 8 bytes.
DemoAudio RenderDemoTrack(const DemoTrackSpec& spec);

// ---- the job's state word (the job itself lives elsewhere) -----------------------------------
// The worker writes the error text before it sets state 4; the UI thread reads it after seeing 4.

enum DemoTrackStep : int32_t {
  kDemoIdle = 0,
  kDemoMaking = 1,
  kDemoDone = 2,       // both files exist, not yet announced
  kDemoAnnounced = 3,
  kDemoFailed = 4,     // not yet reported
};
extern std::atomic<int32_t> DemoTrackState;
extern std::wstring DemoTrackError;

// A test run's output path, which the shell sets.
extern std::wstring (*TestOutputPathHook)();
// In test mode the test output path joined with "Demo Tracks", else the data folder joined with
// "Demo Tracks". Not created here.
std::wstring DemoTracksFolder();

// ---- the job: both songs rendered, encoded and tagged into a folder ----------------------------

// "Veldmix - <title> (Demo).mp3" for song 0 or 1 (no folder).
std::wstring DemoTrackFileName(int32_t song);
// Makes one song's file in `folder` (created when missing): renders it, writes "~demo<song>.wav",
// encodes that to DemoTrackFileName as MP3 and tags it. When the MP3 cannot be made the WAV is
// moved to the same name with ".wav". True with *outPath the file written; false with *error the
// user's message, and no temporary left. Also false (error empty) when a stop was asked.
bool MakeDemoTrack(int32_t song, const std::wstring& folder, std::wstring* outPath, std::wstring* error);
// Both songs into `folder`, stopping at the first failure, each file made appended to *made;
// temporaries of a crashed earlier run are removed first. Any thread.
bool MakeDemoTracks(const std::wstring& folder, std::vector<std::wstring>* made, std::wstring* error);
// UI thread. Nothing while making; state 2 at once when both ".mp3" files exist; otherwise
// state 1 and a worker. A worker that cannot start gives state 4 with a message.
void StartDemoTracks();
// Asks a running worker to stop after its current step and waits for it (at close).
void StopDemoTracks();
