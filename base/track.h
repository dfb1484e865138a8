#pragma once
// One decoded sound: interleaved stereo float at the file's own rate, with its analysis.
// Held by shared pointer; samples and waveform never change once another thread holds it.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

inline constexpr int kEngineDecks = 4;  // decks A to D
inline constexpr int kHotCues = 8;      // hot-cue slots of a track and of a deck

struct WavePoint {
  uint8_t low = 0, mid = 0, high = 0;  // band levels 0..255
};

struct TempoMarker {
  double beat = 0.0;
  double seconds = 0.0;
};

struct Track {
  std::wstring path;
  std::wstring title;
  std::wstring artist;
  int32_t sampleRate = 44100;
  uint64_t frames = 0;
  std::vector<float> samples;      // exactly 2 x frames values: L, R, L, R...
  std::vector<WavePoint> waveform; // empty, or floor(frames * 150 / sampleRate) + 1 points
  double bpm = 120.0;
  double firstBeat = 0.0;                 // seconds of beat 0
  std::vector<TempoMarker> tempoMarkers;  // sorted by beat; empty = constant tempo
  int32_t key = -1;                       // 0-11 major, 12-23 minor, C = 0; -1 unknown
  float loudness = -20.0f;                // dB
  double firstSound = 0.0;                // seconds
};

using TrackPtr = std::shared_ptr<Track>;
