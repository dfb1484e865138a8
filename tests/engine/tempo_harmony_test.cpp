#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "engine/tempo_harmony.h"

namespace {

constexpr double kHarmonyRate = 11025.0;
constexpr double kBeat = 0.5;  // 120 BPM
constexpr double kFirstBeat = 0.1;

// Sustained triads (no attack between beats) changing on every beat from kFirstBeat, cycling
// C, F, G, A minor; `changes` false holds C throughout.
std::vector<float> Chords(bool changes) {
  const double roots[] = {261.63, 349.23, 392.0, 440.0};
  const double thirds[] = {1.2599, 1.2599, 1.2599, 1.1892};
  std::vector<float> mix(static_cast<size_t>(16.0 * kHarmonyRate));
  for (size_t i = 0; i < mix.size(); ++i) {
    const double t = static_cast<double>(i) / kHarmonyRate;
    const long beat = changes ? std::max(0L, static_cast<long>(std::floor((t - kFirstBeat) / kBeat)) + 1) : 0;
    const double root = roots[beat % 4], third = thirds[beat % 4];
    double v = 0.0;
    for (double f : {root / 2, root, root * third, root * 1.4983}) v += std::sin(2 * std::numbers::pi * f * t);
    mix[i] = static_cast<float>(0.2 * v);
  }
  return mix;
}

TEST(TempoHarmony, ChordChangesNameTheBeatNotTheOffBeat) {
  const std::vector<float> moving = Chords(true);
  EXPECT_GT(HarmonicChangeContrast(moving, kHarmonyRate, kFirstBeat, kBeat), 0.5);
  EXPECT_LT(HarmonicChangeContrast(moving, kHarmonyRate, kFirstBeat + kBeat / 2, kBeat), -0.5);
  // A held chord, silence, a short or rateless mix give no vote.
  EXPECT_LT(std::fabs(HarmonicChangeContrast(Chords(false), kHarmonyRate, kFirstBeat, kBeat)), 0.1);
  EXPECT_EQ(HarmonicChangeContrast(std::vector<float>(moving.size(), 0.0f), kHarmonyRate, kFirstBeat, kBeat), 0.0);
  EXPECT_EQ(HarmonicChangeContrast(std::vector<float>(moving.begin(), moving.begin() + 8000), kHarmonyRate, kFirstBeat, kBeat), 0.0);
  EXPECT_EQ(HarmonicChangeContrast(moving, 0.0, kFirstBeat, kBeat), 0.0);
  EXPECT_EQ(HarmonicChangeContrast(moving, kHarmonyRate, kFirstBeat, 1e-9), 0.0);
}

}  // namespace
