#pragma once
// Real audio files for deck tests: click-and-tone tracks made by ffmpeg (a 1 kHz click of 10 ms on
// every beat over a quiet steady tone), and helpers that load them through the real LoadTrack and
// its completion, reset the decks and render the mix. Tests only.
#include <string>
#include <vector>

struct ClickTrack {
  double bpm = 120.0;
  double seconds = 30.0;
  double leadSilence = 0.0;         // seconds of digital silence before beat 0
  double toneHz = 220.0;            // the steady tone under the clicks; 0 = clicks only
  int rate = 44100;
  std::string extension = "wav";    // wav, flac or mp3 (ffmpeg picks the codec)
  // Loudness of each 32-beat block in turn (the last one holds to the end); empty = all 1.
  std::vector<double> blockLevels;
};

inline constexpr double kClickSeconds = 0.010;  // length of each click
inline constexpr double kClickLevel = 0.8;
inline constexpr double kToneLevel = 0.1;

// A temporary folder of generated tracks, removed with everything in it when destroyed.
class ClickTrackFolder {
 public:
  ClickTrackFolder();
  ~ClickTrackFolder();
  ClickTrackFolder(const ClickTrackFolder&) = delete;
  ClickTrackFolder& operator=(const ClickTrackFolder&) = delete;
  // Writes the track (named `name` + "." + extension, or after its settings when name is empty)
  // and returns its path; empty when ffmpeg failed. A file already made is reused.
  std::string Make(const ClickTrack& spec, const std::string& name = "");
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// --- Decks in tests (the global Engine and LiveDeckViews) ---
// Empties deck 0..3 (no track, stopped, no loop, slip, reverse or hot cues), gives it a fresh
// DeckView, and clears the undo stack and the library map. Call at the start of each test.
void ResetDecksForTest();
// Loads `path` onto the deck through LoadTrack, then drains the UI posts as the main window does
// (completion 1 to FinishDeckLoad) until the deck is no longer loading. False on a timeout or a
// refused or failed load. Opens the post queue when needed.
bool LoadAndWait(int deck, const std::string& path, int timeoutMs = 20000);
// Drains the queued posts once, handing deck-load completions to FinishDeckLoad.
void DrainDeckLoads();

inline constexpr int kTestRate = 48000;   // output rate of RenderPeriods
inline constexpr int kTestPeriod = 480;   // frames per period (10 ms)
// Renders `periods` periods of the global Engine's mix and returns the interleaved stereo output.
std::vector<float> RenderPeriods(int periods);
