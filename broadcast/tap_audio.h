#pragma once
// Sound taken from one of the engine's video taps for an encoder: the rate it is encoded at,
// linear resampling to that rate, and 16-bit conversion. Owned by the one thread reading the tap.
#include <cstddef>
#include <cstdint>
#include <vector>

// AAC carries at most 96 kHz; faster masters go out at 48 kHz.
inline constexpr int32_t kAacMaxRate = 96000;
inline constexpr int32_t kAacFallbackRate = 48000;

// The live stream's audio rate: the master rate when it is 44100 or 48000, else 48000.
int32_t LiveAudioRate(int32_t masterRate);
// The MP4's audio rate: the master rate, at least 8000, and 48000 above kAacMaxRate.
int32_t RecordAudioRate(int32_t masterRate);

// Linear interpolation from one rate to another across blocks: `position` is the next output's
// place in the coming block (−1..0 interpolates from the last frame of the block before).
struct TapResampler {
  double step = 1.0;  // input frames per output frame
  double position = 0.0;
  float previous[2] = {0.0f, 0.0f};
};
void ResetTapResampler(TapResampler& resampler, int32_t inRate, int32_t outRate);
// The most output frames ResampleTapBlock can give for `frames` input frames.
size_t TapResampleCapacity(const TapResampler& resampler, size_t frames);

// Turns `frames` interleaved stereo float frames at the tap's rate into 16-bit frames at the
// output rate (resampled when the step is not 1) in pcm; returns the output frame count. pcm holds
// at least TapResampleCapacity frames. No allocation.
size_t TapBlockToPcm(TapResampler& resampler, const float* in, size_t frames, int16_t* pcm);
