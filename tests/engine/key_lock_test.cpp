#include "engine/key_lock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int kRate = 48000;

// A stereo track of sine sections: {frequency, seconds} each, amplitude 0.5.
Track ToneTrack(std::initializer_list<std::pair<double, double>> sections) {
  Track t;
  t.sampleRate = kRate;
  double phase = 0.0;
  for (auto [hz, seconds] : sections) {
    for (int i = 0; i < static_cast<int>(seconds * kRate); ++i) {
      const float v = 0.5f * static_cast<float>(std::sin(phase));
      t.samples.push_back(v);
      t.samples.push_back(v);
      phase += 2.0 * std::numbers::pi * hz / kRate;
    }
  }
  t.frames = t.samples.size() / 2;
  return t;
}

// Catmull-Rom read of the plain mix; 0 outside the track, as the deck's reader does.
void ReadCubic(const Track& t, double position, float& left, float& right) {
  left = right = 0.0f;
  const double whole = std::floor(position);
  if (!(whole >= 0.0) || whole >= static_cast<double>(t.frames)) return;
  const int64_t w = static_cast<int64_t>(whole);
  const float f = static_cast<float>(position - whole);
  for (int c = 0; c < 2; ++c) {
    float p[4];
    for (int k = 0; k < 4; ++k) {
      const int64_t i = w - 1 + k;
      p[k] = i >= 0 && i < static_cast<int64_t>(t.frames) ? t.samples[2 * i + c] : 0.0f;
    }
    const float a = (p[1] - p[2]) * 1.5f + (p[3] - p[0]) * 0.5f;
    const float b = p[0] - 2.5f * p[1] + 2.0f * p[2] - 0.5f * p[3];
    const float cc = (p[2] - p[0]) * 0.5f;
    (c == 0 ? left : right) = ((a * f + b) * f + cc) * f + p[1];
  }
}

ReadSources MixOf(const Track& t) {
  ReadSources sources;
  sources.mix = t.samples.data();
  sources.frames = static_cast<int64_t>(t.frames);
  return sources;
}

// Plays the track through the stretcher like the deck render: the position moves by `speed` per
// output frame, grains read at `pitch`; returns the left channel.
std::vector<float> Play(const Track& t, double speed, double pitch, int frames) {
  StretchState stretch;
  ResetStretch(stretch);
  const ReadSources sources = MixOf(t);
  std::vector<float> out(frames), run(2 * kGrainHopFrames);
  double position = 0.0;
  for (int i = 0; i < frames;) {
    const int count = std::min({StretchRunLength(stretch), frames - i, 480 - i % 480});
    StretchBlock(stretch, t, sources, position, pitch, count, run.data());
    for (int j = 0; j < count; ++j) out[i + j] = run[2 * j];
    position += speed * count;
    i += count;
  }
  return out;
}

// Frequency from upward zero crossings (interpolated) over [from, to) output frames.
double Frequency(const std::vector<float>& s, int from, int to) {
  double first = -1.0, last = -1.0;
  int crossings = 0;
  for (int i = from + 1; i < to; ++i) {
    if (s[i - 1] < 0.0f && s[i] >= 0.0f) {
      const double at = i - 1 + s[i - 1] / (s[i - 1] - s[i]);
      if (first < 0.0) first = at;
      last = at;
      ++crossings;
    }
  }
  return crossings < 2 ? 0.0 : (crossings - 1) * kRate / (last - first);
}

}  // namespace

TEST(StretchWindow, RisesFromZeroAndOverlappingHalvesSumToOne) {
  const float* w = StretchWindow();
  EXPECT_EQ(w[0], 0.0f);
  EXPECT_NEAR(w[kGrainFrames / 2], 1.0f, 1e-7);
  for (int i = 0; i < kGrainFrames / 2; ++i) ASSERT_NEAR(w[i] + w[i + kGrainFrames / 2], 1.0f, 1e-6) << i;
}

TEST(Stretch, FirstGrainAfterAResetStartsExactlyAtThePosition) {
  const Track t = ToneTrack({{440, 0.5}});
  StretchState stretch;
  stretch.grainPos[1] = 9999.0;
  ResetStretch(stretch);
  float frame[2];
  StretchBlock(stretch, t, MixOf(t), 1234.25, 1.5, 1, frame);
  const int g = 1 - stretch.activeGrain;
  EXPECT_DOUBLE_EQ(stretch.grainPos[g], 1234.25 + 1.5);  // started there, then read once
  EXPECT_EQ(stretch.grainPhase[g], 1);
  EXPECT_EQ(stretch.grainPhase[1 - g], kGrainFrames);
  EXPECT_EQ(frame[0], 0.0f);  // the window starts at 0
}

TEST(Stretch, UnitSpeedAndPitchReproduceTheTrack) {
  const Track t = ToneTrack({{440, 0.3}, {1000, 0.3}});
  const std::vector<float> out = Play(t, 1.0, 1.0, static_cast<int>(t.frames));
  // After the first grain has faded in, the two windows sum to 1 over the same source frames.
  for (size_t i = kGrainHopFrames; i < t.frames; ++i) ASSERT_NEAR(out[i], t.samples[2 * i], 1e-5) << i;
}

TEST(Stretch, KeyLockKeepsThePitchWhileThePositionRunsFaster) {
  // 440 Hz until 1.1 s of the track, then 660 Hz. At 1.08x the change is heard near 1.02 s.
  const Track t = ToneTrack({{440, 1.1}, {660, 1.0}});
  const std::vector<float> fast = Play(t, 1.08, 1.0, static_cast<int>(1.3 * kRate));
  EXPECT_NEAR(Frequency(fast, static_cast<int>(0.2 * kRate), static_cast<int>(0.95 * kRate)), 440.0, 2.0);
  EXPECT_NEAR(Frequency(fast, static_cast<int>(1.05 * kRate), static_cast<int>(1.3 * kRate)), 660.0, 3.0);
  // At unit speed the same stretch of output still holds 440 Hz for 50 ms.
  const std::vector<float> normal = Play(t, 1.0, 1.0, static_cast<int>(1.3 * kRate));
  EXPECT_NEAR(Frequency(normal, static_cast<int>(1.05 * kRate), static_cast<int>(1.09 * kRate)), 440.0, 3.0);
}

TEST(Stretch, TwelveSemitonesUpDoublesTheFrequencyAtUnitSpeed) {
  const Track t = ToneTrack({{440, 2.0}});
  const std::vector<float> out = Play(t, 1.0, 2.0, kRate);
  EXPECT_NEAR(Frequency(out, static_cast<int>(0.1 * kRate), kRate), 880.0, 4.0);
  double peak = 0.0;
  for (int i = kRate / 10; i < kRate; ++i) peak = std::max(peak, static_cast<double>(std::fabs(out[i])));
  EXPECT_NEAR(peak, 0.5, 0.05);  // aligned grains add up without cancelling
}

TEST(Stretch, GrainsPastTheEndAreSilent) {
  const Track t = ToneTrack({{440, 0.1}});
  const std::vector<float> out = Play(t, 1.0, 1.0, static_cast<int>(t.frames) + 6000);
  for (size_t i = t.frames + 2; i < out.size(); ++i) ASSERT_EQ(out[i], 0.0f) << i;
}

TEST(FindBestOverlap, ReturnsTheReferenceWhenCloseAndOtherwiseAlignsThePhase) {
  const Track t = ToneTrack({{440, 1.0}});
  EXPECT_DOUBLE_EQ(FindBestOverlap(t, 5000.2, 5000.6, 1.0), 5000.6);
  const double period = kRate / 440.0;  // 109.09 frames
  for (double offset : {37.0, -180.0, 350.0}) {
    const double start = FindBestOverlap(t, 10000.0 + offset, 10000.0, 1.0);
    EXPECT_LE(std::fabs(start - (10000.0 + offset)), kOverlapSearchFrames + 3);
    double phaseError = std::fmod(std::fabs(start - 10000.0), period);
    phaseError = std::min(phaseError, period - phaseError);
    EXPECT_LT(phaseError, 1.0) << offset;
  }
  // The score is the normalised correlation: a window against itself scores its own norm.
  OverlapContext context;
  context.track = &t;
  context.target = 20000.0;
  double energy = 0.0;
  for (int k = 0; k < kOverlapWindow; ++k) {
    context.reference[k] = 2.0f * t.samples[2 * (20000 + k)];
    energy += context.reference[k] * context.reference[k];
  }
  EXPECT_NEAR(OverlapScore(context, 0), std::sqrt(energy), 1e-3);
  EXPECT_LT(OverlapScore(context, 55), 0.0);  // half a period off: anti-phase
}
