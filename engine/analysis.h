#pragma once
// Track analysis: the three-band waveform summary, loudness, first sound, musical key, tempo and
// first beat of a freshly decoded track. Deterministic: the same samples always give the same
// results. Runs on the decoding worker before the track is shared; never on the audio thread.
#include <bit>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/track.h"
#include "engine/tempo.h"

// Waveform points per second of audio; every per-point array below has this resolution.
inline constexpr int32_t kWavePointsPerSecond = 150;

// --- Whole analysis ---
// Fills waveform, loudness, firstSound, key, bpm and firstBeat of `track` (tempoMarkers untouched).
// Never fails: a track with no frames, a bad rate or too few samples keeps the defaults
// (120 BPM, first beat 0, key -1) for whatever it cannot measure; one without a beat (a held
// tone, silence, speech over a tone), however long or short, gets no tempo (bpm 0). Allocates.
void AnalyzeTrack(Track& track);

// --- The named steps (each usable on its own, for tests and tools) ---
// Number of waveform points of a track: floor(frames x 150 / rate) + 1 (0 for a rate <= 0).
size_t WavePointCount(uint64_t frames, int32_t sampleRate);

// The per-point arrays of the one full-rate pass over the samples.
struct BandSplit {
  std::vector<float> lowPeak, midPeak, highPeak;  // largest absolute band value per point
  std::vector<uint32_t> count;                    // frames in each point
  double sumSquares = 0.0;                        // sum of the mono mix squared over all frames
  int64_t firstSoundFrame = -1;                   // first frame over the sound threshold, or -1
};

// The single pass over the interleaved stereo samples: three one-pole filters split the mono
// mix at 180 Hz (two stages) and 2200 Hz. Samples that are not finite count as 0; samples beyond
// +-1e4 (+80 dBFS, only in broken float files) are clamped there so no sum can overflow.
// With `mix`, also fills it as DecimateMix would, from the same read of the samples.
struct DecimatedMix;
BandSplit SplitBands(const Track& track, DecimatedMix* mix = nullptr);
// Waveform bytes (low, mid, high) from the peaks, each band normalised by its own maximum.
std::vector<WavePoint> WaveformFromBands(const BandSplit& bands);
// dB of the mean power of the mono mix; -100 for silence or no frames.
float LoudnessFromBands(const BandSplit& bands, uint64_t frames);
// Seconds of the automatic cue: 10 ms before the first frame over 0.02, never below 0; 0 if none.
double FirstSoundFromBands(const BandSplit& bands, int32_t sampleRate);

// --- Arithmetic of the spectral steps ---
// Four floats at a time, each lane rounded as a lone float would be: the same results as a
// scalar loop, in a quarter of the instructions.
using Float4 = float __attribute__((vector_size(16)));
using Int4 = int32_t __attribute__((vector_size(16)));
inline Float4 Load4(const float* p) {
  Float4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store4(float* p, Float4 v) { std::memcpy(p, &v, sizeof v); }
inline Float4 Reverse4(Float4 x) { return __builtin_shuffle(x, Int4{3, 2, 1, 0}); }

// Correctly rounded square roots, as std::sqrt gives.
inline Float4 Sqrt4(Float4 x) {
#if defined(__SSE__)
  return __builtin_ia32_sqrtps(x);
#else
  for (int lane = 0; lane < 4; ++lane) x[lane] = std::sqrt(x[lane]);
  return x;
#endif
}

// ln(1 + x) for x >= 0 to within 1e-4 on four lanes: the exponent's bits times ln 2 plus a quartic
// in the mantissa. std::log1p on every bin of every frame was a third of the onset stage, and
// spectra are only compared or summed. Plain float arithmetic on the bits: the same everywhere.
inline Float4 FastLog1p4(Float4 x) {
  const Int4 bits = std::bit_cast<Int4>(1.0f + x);
  const Float4 exponent = __builtin_convertvector((bits >> 23) - 127, Float4);
  const Float4 m = std::bit_cast<Float4>((bits & 0x007FFFFF) | 0x3F800000);  // [1, 2)
  const Float4 ln_m = -1.7417939f + (2.8212026f + (-1.4699568f + (0.44717955f - 0.056570851f * m) * m) * m) * m;
  return exponent * 0.69314718f + ln_m;
}
inline float FastLog1p(float x) { return FastLog1p4(Float4{x, 0.0f, 0.0f, 0.0f})[0]; }

// In-place forward complex FFT; `data.size()` must be a power of two (other sizes are left alone).
void AnalysisFft(std::vector<std::complex<float>>& data);
// The same on separate real and imaginary arrays of `n` values, without copying.
void AnalysisFft(float* re, float* im, size_t n);
// The same on values already in bit-reversed order: value k filled in at FftReverseOrder(n)[k],
// so filling and reordering are one pass.
void AnalysisFftReordered(float* re, float* im, size_t n);
const uint32_t* FftReverseOrder(size_t n);  // n a power of two
// x[k] w[k] for k < n into `out` in that order (n a power of two).
void FillReversed(const float* x, const float* w, size_t n, float* out);
// After AnalysisFft of real signal a in `re` and real signal b in `im`: the magnitudes of a's and
// b's bins 1..n/2-1 into a[1..] and b[1..] (two real transforms for the price of one complex one).
void SplitMagnitudes(const float* re, const float* im, size_t n, float* a, float* b);

// The mono mix at about 11 kHz that the key and onset steps read: means of `factor` frames
// (rate / 11025, at least 1), every sample cleaned as the band split cleans it.
struct DecimatedMix {
  std::vector<float> samples;
  int32_t factor = 1;
  double rate = 0.0;  // Hz; 0 for a track without a rate
};
DecimatedMix DecimateMix(const Track& track);

// The key index 0-23, or -1 when the track is too short (under 16384 samples at about 11 kHz) or
// has no tonal content: spectral peaks against a tuning measured from them, upper partials folded
// back to their fundamentals, each window's pitch classes normalised (the level does not matter),
// correlated with the Krumhansl-Kessler profiles plus the bass's share on each tonic.
int32_t DetectKey(const DecimatedMix& mix);
int32_t DetectKey(const Track& track);

