#pragma once
// Track analysis: the three-band waveform summary, loudness, first sound, musical key, tempo and
// first beat of a freshly decoded track. Deterministic: the same samples always give the same
// results. Runs on the decoding worker before the track is shared; never on the audio thread.
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/tempo.h"
#include "engine/track.h"

// Waveform points per second of audio; every per-point array below has this resolution.
inline constexpr int32_t kWavePointsPerSecond = 150;

// --- Whole analysis ---
// Fills waveform, loudness, firstSound, key, bpm and firstBeat of `track` (tempoMarkers untouched).
// Never fails: a track with no frames, a bad rate or too few samples keeps the defaults
// (120 BPM, first beat 0, key -1) for whatever it cannot measure. Allocates.
void AnalyzeTrack(Track& track);

// --- The named steps (each usable on its own, for tests and tools) ---
// Number of waveform points of a track: floor(frames x 150 / rate) + 1 (0 for a rate <= 0).
size_t WavePointCount(uint64_t frames, int32_t sampleRate);

// The per-point arrays of the one full-rate pass over the samples.
struct BandSplit {
  std::vector<float> lowPeak, midPeak, highPeak;  // largest absolute band value per point
  std::vector<float> energy;                      // sum of low^2 + 0.4 mid^2 + 0.15 high^2
  std::vector<uint32_t> count;                    // frames in each point
  double sumSquares = 0.0;                        // sum of the mono mix squared over all frames
  int64_t firstSoundFrame = -1;                   // first frame over the sound threshold, or -1
};

// The single pass over the interleaved stereo samples: three one-pole filters split the mono
// mix at 180 Hz (two stages) and 2200 Hz. Samples that are not finite count as 0; samples beyond
// +-1e4 (+80 dBFS, only in broken float files) are clamped there so no sum can overflow.
BandSplit SplitBands(const Track& track);
// Waveform bytes (low, mid, high) from the peaks, each band normalised by its own maximum.
std::vector<WavePoint> WaveformFromBands(const BandSplit& bands);
// dB of the mean power of the mono mix; -100 for silence or no frames.
float LoudnessFromBands(const BandSplit& bands, uint64_t frames);
// Seconds of the automatic cue: 10 ms before the first frame over 0.02, never below 0; 0 if none.
double FirstSoundFromBands(const BandSplit& bands, int32_t sampleRate);

// Four floats at a time, each lane rounded as a lone float would be: the same results as a
// scalar loop, in a quarter of the instructions.
using Float4 = float __attribute__((vector_size(16)));
inline Float4 Load4(const float* p) {
  Float4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store4(float* p, Float4 v) { std::memcpy(p, &v, sizeof v); }

// In-place forward complex FFT; `data.size()` must be a power of two (other sizes are left alone).
void AnalysisFft(std::vector<std::complex<float>>& data);
// The same on separate real and imaginary arrays of `n` values, without copying.
void AnalysisFft(float* re, float* im, size_t n);

// The key index 0-23 by chroma correlation with the Krumhansl-Kessler profiles, or -1 when the
// track is too short (under 16384 samples at about 11 kHz) or has no tonal content.
int32_t DetectKey(const Track& track);

