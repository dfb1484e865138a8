// The video outputs' sound from a tap: a sine fed in blocks of awkward sizes comes out at the
// output rate as the same sine, with no step or gap where blocks meet.
#include "broadcast/tap_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

// Feeds `seconds` of a 1 kHz sine at inRate through one resampler in blocks of the given sizes
// (cycled) and returns the largest difference from the ideal sine at outRate, in 16-bit steps,
// and the output frame count.
double WorstError(int32_t inRate, int32_t outRate, const std::vector<size_t>& blocks, size_t* outFrames) {
  constexpr double kHz = 1000.0, kLevel = 0.5;
  TapResampler r;
  ResetTapResampler(r, inRate, outRate);
  const auto total = static_cast<size_t>(inRate);  // one second
  std::vector<float> in(total * 2);
  for (size_t i = 0; i < total; ++i)
    in[2 * i] = in[2 * i + 1] = static_cast<float>(kLevel * std::sin(2 * std::numbers::pi * kHz * i / inRate));
  std::vector<int16_t> out;
  size_t at = 0;
  for (size_t b = 0; at < total; ++b) {
    const size_t n = std::min(blocks[b % blocks.size()], total - at);
    std::vector<int16_t> pcm(TapResampleCapacity(r, n) * 2);
    const size_t made = TapBlockToPcm(r, &in[2 * at], n, pcm.data());
    EXPECT_LE(made, TapResampleCapacity(r, n));
    out.insert(out.end(), pcm.begin(), pcm.begin() + static_cast<ptrdiff_t>(made) * 2);
    at += n;
  }
  *outFrames = out.size() / 2;
  double worst = 0;
  for (size_t k = 0; k < *outFrames; ++k) {
    const double ideal = 32767.0 * kLevel * std::sin(2 * std::numbers::pi * kHz * k / outRate);
    worst = std::max({worst, std::abs(out[2 * k] - ideal), std::abs(out[2 * k + 1] - ideal)});
  }
  return worst;
}

}  // namespace

TEST(TapAudio, ResamplingKeepsTheSineAcrossBlocks) {
  size_t frames = 0;
  // 96 kHz to 48 kHz: every other frame, exact.
  EXPECT_LE(WorstError(96000, 48000, {1024, 7, 333, 1}, &frames), 1.0);
  EXPECT_NEAR(static_cast<double>(frames), 48000.0, 2.0);
  // 44.1 kHz to 48 kHz and 192 kHz to 48 kHz: linear interpolation of a 1 kHz sine stays within
  // its curvature error ((2 pi f / rate)^2 / 8 x amplitude: 42 steps at 44.1 kHz) everywhere, block
  // joins too (a wrong join is off by thousands).
  EXPECT_LE(WorstError(44100, 48000, {1024, 5, 1000, 2}, &frames), 44.0);
  EXPECT_NEAR(static_cast<double>(frames), 48000.0, 2.0);
  EXPECT_LE(WorstError(192000, 48000, {1023, 3, 4800}, &frames), 2.0);
  EXPECT_NEAR(static_cast<double>(frames), 48000.0, 2.0);
  // The same rate passes through untouched.
  EXPECT_LE(WorstError(48000, 48000, {1024, 17}, &frames), 0.5);
  EXPECT_EQ(frames, 48000u);
}

TEST(TapAudio, RatesForTheEncoders) {
  EXPECT_EQ(LiveAudioRate(44100), 44100);
  EXPECT_EQ(LiveAudioRate(48000), 48000);
  EXPECT_EQ(LiveAudioRate(96000), 48000);
  EXPECT_EQ(LiveAudioRate(32000), 48000);
  EXPECT_EQ(RecordAudioRate(96000), 96000);
  EXPECT_EQ(RecordAudioRate(96001), 48000);
  EXPECT_EQ(RecordAudioRate(192000), 48000);
  EXPECT_EQ(RecordAudioRate(6000), 8000);
}
