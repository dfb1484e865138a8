#include "engine/key_lock.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    StretchBlock(stretch, t, sources, position, pitch, speed, count, run.data());
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
  StretchBlock(stretch, t, MixOf(t), 1234.25, 1.5, 1.0, 1, frame);
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

// A steady tone comes out as one unbroken sine at any tempo: each grain continues the last to the
// sample. Read at 10 ms steps, its phase against a 1 kHz clock holds still; a start a frame off
// (7.5 degrees at 1 kHz) stepped it at every grain, 25-35 dB of sidebands.
TEST(Stretch, AKeyLockedToneKeepsItsPhaseAcrossGrains) {
  const Track t = ToneTrack({{1000, 4.0}});
  for (double speed : {0.92, 1.03, 1.08, 1.16}) {
    const std::vector<float> out = Play(t, speed, 1.0, 3 * kRate);
    double lowest = 1e9, highest = -1e9;
    for (int from = kRate / 2; from + 480 <= 3 * kRate; from += 480) {
      double re = 0.0, im = 0.0;
      for (int n = from; n < from + 480; ++n) {
        const double w = 2.0 * std::numbers::pi * 1000.0 * n / kRate;
        re += out[n] * std::cos(w), im -= out[n] * std::sin(w);
      }
      const double degrees = std::atan2(im, re) * 180.0 / std::numbers::pi;
      lowest = std::min(lowest, degrees), highest = std::max(highest, degrees);
    }
    EXPECT_LT(highest - lowest, 1.0) << "speed " << speed;
  }
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

// Onsets after silence land where the unlocked deck plays them: the alignment in silence (every
// score 0) keeps the grain where it meets the deck instead of the first lag tried, 400 frames
// early, and a grain meets the deck at its middle rather than at its start.
TEST(Stretch, KeyLockedOnsetsAfterSilenceLandWithinAMillisecondOfTheUnlockedDeck) {
  // Digital silence with a 10 ms burst of 2 kHz at each onset.
  const std::vector<double> onsets = {14400, 32640, 46560, 67200};
  Track t;
  t.sampleRate = kRate;
  t.frames = 80000;
  t.samples.assign(2 * t.frames, 0.0f);
  for (double onset : onsets)
    for (int i = 0; i < kRate / 100; ++i)
      t.samples[2 * (static_cast<size_t>(onset) + i)] = t.samples[2 * (static_cast<size_t>(onset) + i) + 1] =
          0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 2000.0 * i / kRate));
  EXPECT_DOUBLE_EQ(FindBestOverlap(t, 5000.0, 6000.0, 1.0), 5000.0);
  constexpr float kHeard = 0.05f;
  for (double speed : {1.08, 0.92}) {
    const std::vector<float> out = Play(t, speed, 1.0, static_cast<int>(t.frames / speed) - 2048);
    double sum = 0.0, worst = 0.0;
    for (double onset : onsets) {
      const double unlocked = onset / speed;
      int heard = static_cast<int>(unlocked) - 2000;
      while (heard < static_cast<int>(out.size()) && std::abs(out[heard]) < kHeard) ++heard;
      // The unlocked deck crosses the same level about as many frames into the burst.
      int into = 0;
      while (std::abs(t.samples[2 * (static_cast<size_t>(onset) + into)]) < kHeard) ++into;
      const double offset = heard - (unlocked + into / speed);
      sum += offset;
      worst = std::max(worst, std::abs(offset));
    }
    // A grain's window spreads an onset over its hop: one may land up to 1.5 ms off, their mean within 1 ms.
    EXPECT_LT(std::abs(sum / onsets.size()) * 1000.0 / kRate, 1.0) << "speed " << speed;
    EXPECT_LT(worst * 1000.0 / kRate, 1.5) << "speed " << speed;
  }
}

// Attacks in the output: 2 ms RMS levels every 0.5 ms; an attack is a rise of 6 dB within 3 ms.
// Returns the output frame and peak level (over the next 10 ms) of each, 5 ms apart at least.
std::vector<std::pair<int, double>> Attacks(const std::vector<float>& out) {
  constexpr int kWindow = kRate / 500, kHop = kRate / 2000, kRise = 6;
  std::vector<double> level;
  for (size_t at = 0; at + kWindow < out.size(); at += kHop) {
    double sum = 0.0;
    for (int i = 0; i < kWindow; ++i) sum += out[at + i] * out[at + i];
    level.push_back(std::sqrt(sum / kWindow) + 1e-6);
  }
  std::vector<std::pair<int, double>> attacks;
  for (size_t i = kRise; i < level.size(); ++i) {
    if (level[i] < 2.0 * level[i - kRise] || level[i] < 0.05) continue;
    const int frame = static_cast<int>(i) * kHop;
    if (!attacks.empty() && frame - attacks.back().first < kRate / 200) continue;
    double peak = 0.0;
    for (size_t k = i; k < std::min(level.size(), i + 20); ++k) peak = std::max(peak, level[k]);
    attacks.emplace_back(frame, peak);
  }
  return attacks;
}

// A drum hit comes out once: no second attack within 12 dB of it inside 50 ms, at any tempo or
// key shift, wherever the hit falls in the grains. Hits are decaying noise bursts over a quiet
// bass note (-32 dBFS).
TEST(Stretch, KeyLockedHitsComeOutOnce) {
  Track t;
  t.sampleRate = kRate;
  t.frames = 30 * kRate / 4;
  t.samples.assign(2 * t.frames, 0.0f);
  for (size_t i = 0; i < t.frames; ++i)
    t.samples[2 * i] = t.samples[2 * i + 1] = 0.025f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 110.0 * i / kRate));
  uint32_t noise = 12345;
  std::vector<int> hits;
  for (int at = kRate / 10; at + kRate / 4 < static_cast<int>(t.frames); at += kRate / 4 + 173) hits.push_back(at);
  for (int hit : hits) {
    for (int i = 0; i < kRate / 5; ++i) {
      noise = noise * 1664525u + 1013904223u;
      const float white = static_cast<float>(noise >> 8) / static_cast<float>(1 << 24) - 0.5f;
      const float v = white * static_cast<float>(std::exp(-i / (0.03 * kRate)));
      t.samples[2 * (hit + i)] += v;
      t.samples[2 * (hit + i) + 1] += v;
    }
  }
  const double shift = std::pow(2.0, 2.0 / 12.0);
  for (auto [speed, pitch] : {std::pair{0.92, 1.0}, {1.08, 1.0}, {1.16, 1.0}, {1.0, shift}}) {
    const std::vector<float> out = Play(t, speed, pitch, static_cast<int>(t.frames / speed) - 2048);
    const auto attacks = Attacks(out);
    int doubled = 0;
    for (size_t a = 1; a < attacks.size(); ++a) {
      const auto [first, firstPeak] = attacks[a - 1];
      const auto [second, secondPeak] = attacks[a];
      if (second - first < kRate / 20 && secondPeak > firstPeak / 4.0) ++doubled;
    }
    EXPECT_EQ(doubled, 0) << "speed " << speed << ", pitch " << pitch << ": " << attacks.size() << " attacks";
    EXPECT_GE(attacks.size(), hits.size() * 9 / 10) << "speed " << speed << ", pitch " << pitch;
  }
}

// A dense loop: every 125 ms (give or take) a tom (800 Hz and noise), a snare or a hat (noise),
// each on the tail of the last. Each key-locked attack lands within 1.5 ms of where the
// unlocked deck plays it (the source's own attack at the tempo), and none comes out twice.
TEST(Stretch, KeyLockedOnsetsInADenseLoopLandWhereTheUnlockedDeckPlaysThem) {
  Track t;
  t.sampleRate = kRate;
  t.frames = 6 * kRate;
  t.samples.assign(2 * t.frames, 0.0f);
  uint32_t noise = 777;
  std::vector<int> hits;
  for (int i = 0, at = kRate / 10; at + kRate / 4 < static_cast<int>(t.frames); ++i, at += kRate / 8 + (i % 5) * 97) {
    hits.push_back(at);
    for (int k = 0; k < kRate / 4; ++k) {
      noise = noise * 1664525u + 1013904223u;
      const double white = static_cast<double>(noise >> 8) / (1 << 24) - 0.5;
      const double s = static_cast<double>(k) / kRate;
      double v = 0.0;
      if (i % 4 == 0) v = (0.15 * white + 0.6 * std::sin(2.0 * std::numbers::pi * 800.0 * s)) * std::exp(-s / 0.03);
      else if (i % 4 == 2) v = 0.9 * white * std::exp(-s / 0.05);
      else v = 0.4 * white * std::exp(-s / 0.008);
      t.samples[2 * (at + k)] += static_cast<float>(v);
      t.samples[2 * (at + k) + 1] += static_cast<float>(v);
    }
  }
  std::vector<float> source(t.frames);
  for (size_t i = 0; i < t.frames; ++i) source[i] = t.samples[2 * i];
  const auto heard = Attacks(source);
  ASSERT_EQ(heard.size(), hits.size());
  const double shift = std::pow(2.0, 2.0 / 12.0);
  for (auto [speed, pitch] : {std::pair{0.92, 1.0}, {0.97, 1.0}, {1.03, 1.0}, {1.08, 1.0}, {1.16, 1.0}, {1.0, shift}}) {
    const std::vector<float> out = Play(t, speed, pitch, static_cast<int>(t.frames / speed) - 2048);
    const auto attacks = Attacks(out);
    double worst = 0.0;
    size_t found = 0;
    for (const auto& [at, peak] : heard) {
      const double unlocked = at / speed;
      if (unlocked > static_cast<double>(out.size()) - kRate / 10) break;
      const auto near = std::min_element(attacks.begin(), attacks.end(), [&](const auto& a, const auto& b) {
        return std::fabs(a.first - unlocked) < std::fabs(b.first - unlocked);
      });
      ASSERT_NE(near, attacks.end());
      worst = std::max(worst, std::fabs(near->first - unlocked));
      ++found;
      for (const auto& [other, otherPeak] : attacks)
        EXPECT_FALSE(other > near->first && other - near->first < kRate / 20 && otherPeak > near->second / 4.0)
            << "speed " << speed << ", pitch " << pitch << ": attack at " << near->first << " again at " << other;
    }
    EXPECT_GE(found, hits.size() * 9 / 10);
    EXPECT_LT(worst * 1000.0 / kRate, 1.5) << "speed " << speed << ", pitch " << pitch;
  }
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
