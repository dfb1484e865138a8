// The KICK / HI-HAT split on its own: its three bands add up to its all-passes, and each tone
// lands in its own band.
#include "engine/drum_split.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

TEST(DrumSplit, BandsAddUpToTheAllPassedInputAndHoldTheirTones) {
  for (int rate : {44100, 48000, 96000}) {
    DrumSplit split;
    SplitPhase phase;
    DesignDrumSplit(split, rate);
    DesignSplitPhase(phase, rate);
    // A reference made of the plain designs: the all-passes at both crossovers.
    Biquad kick, hat;
    DesignAllPass(kick, kKickSplitHz, std::numbers::sqrt2 / 2.0, rate);
    DesignAllPass(hat, kHatSplitHz, std::numbers::sqrt2 / 2.0, rate);
    uint32_t noise = 1;
    double worst = 0.0, worstPhase = 0.0;
    for (int i = 0; i < rate; ++i) {
      noise = noise * 1664525u + 1013904223u;
      const double x = static_cast<double>(noise >> 8) / 16777216.0 - 0.5;
      const DrumBands b = SplitDrums(split, x);
      const double reference = ProcessBiquad(hat, ProcessBiquad(kick, x));
      worst = std::max(worst, std::fabs(b.low + b.mid + b.high - reference));
      worstPhase = std::max(worstPhase, std::fabs(ShiftLikeSplit(phase, x) - reference));
    }
    EXPECT_LT(worst, 1e-9) << rate;
    EXPECT_LT(worstPhase, 1e-12) << rate;

    // Tones well inside one band come out of that band at full level and of the others nearly not.
    for (double hz : {30.0, 1000.0, 18000.0}) {
      ResetDrumSplit(split);
      double level[3] = {0, 0, 0};
      for (int i = 0; i < 2 * rate; ++i) {
        const DrumBands b = SplitDrums(split, std::sin(2 * std::numbers::pi * hz * i / rate));
        if (i < rate) continue;  // settled
        level[0] = std::max(level[0], std::fabs(b.low));
        level[1] = std::max(level[1], std::fabs(b.mid));
        level[2] = std::max(level[2], std::fabs(b.high));
      }
      const int own = hz < kKickSplitHz ? 0 : hz < kHatSplitHz ? 1 : 2;
      for (int band = 0; band < 3; ++band) {
        if (band == own) {
          EXPECT_GT(level[band], 0.95) << rate << " Hz " << hz;
        } else {
          EXPECT_LT(level[band], 0.1) << rate << " Hz " << hz << " band " << band;
        }
      }
    }
  }
}

}  // namespace
