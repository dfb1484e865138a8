#include "engine/biquad.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr double kMinus3Db = 0.70710678;

// Steady-state amplitude gain for a sine at hz, fed in consecutive 64-sample blocks: settles for
// at least half a second and ten cycles, then compares powers over a whole number of cycles.
double SineGain(Biquad filter, double hz, int rate) {
  ResetBiquad(filter);
  const double cycles = std::max(10.0, std::ceil(0.5 * hz));
  const int settle = static_cast<int>(std::max(0.5 * rate, cycles * rate / hz));
  const int total = settle + static_cast<int>(std::lround(cycles * rate / hz));
  double inPower = 0.0, outPower = 0.0;
  for (int start = 0; start < total; start += 64) {
    for (int n = start; n < start + 64 && n < total; ++n) {
      const double x = std::sin(2.0 * std::numbers::pi * hz * n / rate);
      const double y = ProcessBiquad(filter, x);
      if (n >= settle) {
        inPower += x * x;
        outPower += y * y;
      }
    }
  }
  return std::sqrt(outPower / inPower);
}

double DcGain(Biquad filter) {
  ResetBiquad(filter);
  double y = 0.0;
  for (int n = 0; n < 200000; ++n) y = ProcessBiquad(filter, 1.0);
  return y;
}

double NyquistGain(Biquad filter) {
  ResetBiquad(filter);
  double y = 0.0;
  for (int n = 0; n < 200000; ++n) y = ProcessBiquad(filter, n % 2 ? -1.0 : 1.0);
  return std::fabs(y);
}

struct Corner {
  double hz;
  int rate;
};
// The engine's own corners: crossovers, KICK, HI-HAT, voice band, channel-filter ends.
const Corner kCorners[] = {{250, 44100}, {2800, 48000}, {110, 96000}, {7000, 48000}, {180, 44100},
                           {6000, 48000}, {150, 48000}, {25, 44100}};

}  // namespace

TEST(Biquad, LowPassAndHighPassHaveUnityPassbandZeroStopbandAndMinus3DbCorner) {
  for (const Corner& c : kCorners) {
    SCOPED_TRACE(testing::Message() << c.hz << " Hz at " << c.rate);
    Biquad low, high;
    DesignLowPass(low, c.hz, kButterworthQ, c.rate);
    DesignHighPass(high, c.hz, kButterworthQ, c.rate);
    EXPECT_NEAR(DcGain(low), 1.0, 1e-9);
    EXPECT_NEAR(NyquistGain(low), 0.0, 1e-9);
    EXPECT_NEAR(DcGain(high), 0.0, 1e-9);
    EXPECT_NEAR(NyquistGain(high), 1.0, 1e-9);
    EXPECT_NEAR(SineGain(low, c.hz, c.rate), kMinus3Db, 2e-3);
    EXPECT_NEAR(SineGain(high, c.hz, c.rate), kMinus3Db, 2e-3);
    // One decade into the stop band a second-order section is down 40 dB.
    if (c.hz * 10 < 0.45 * c.rate) {
      EXPECT_NEAR(SineGain(low, c.hz * 10, c.rate), 0.01, 2e-3);
    }
    EXPECT_NEAR(SineGain(high, c.hz / 10, c.rate), 0.01, 2e-3);
  }
}

TEST(Biquad, AllPassIsFlatAndSumsTheSquaredCrossover) {
  const int rate = 48000;
  Biquad all;
  DesignAllPass(all, 2800, kButterworthQ, rate);
  for (double hz : {30.0, 700.0, 2800.0, 9000.0, 20000.0})
    EXPECT_NEAR(SineGain(all, hz, rate), 1.0, 2e-3) << hz;

  // Two low-pass stages plus two high-pass stages at the same corner equal this all-pass: the
  // three-band EQ at unity is flat only if that holds.
  Biquad lp[2], hp[2];
  for (int s = 0; s < 2; ++s) {
    DesignLowPass(lp[s], 2800, kButterworthQ, rate);
    DesignHighPass(hp[s], 2800, kButterworthQ, rate);
  }
  std::mt19937 random(7);
  std::uniform_real_distribution<double> noise(-1.0, 1.0);
  double worst = 0.0;
  for (int n = 0; n < 20000; ++n) {
    const double x = noise(random);
    const double low = ProcessBiquad(lp[1], ProcessBiquad(lp[0], x));
    const double split = low + ProcessBiquad(hp[1], ProcessBiquad(hp[0], x));
    worst = std::max(worst, std::fabs(split - ProcessBiquad(all, x)));
  }
  EXPECT_LT(worst, 1e-3);
}

TEST(Biquad, BandPassPeaksAtZeroDecibelsOnItsCentre) {
  // The analyser's shape: alpha = sin(w) x 0.25, i.e. Q = 2.
  for (double hz : {40.0, 1000.0, 16000.0}) {
    Biquad band;
    DesignBandPass(band, hz, 2.0, 48000);
    EXPECT_NEAR(SineGain(band, hz, 48000), 1.0, 2e-3) << hz;
    EXPECT_LT(SineGain(band, hz / 4, 48000), 0.2) << hz;
    EXPECT_NEAR(DcGain(band), 0.0, 1e-9);
  }
  Biquad band;
  DesignBandPass(band, 1000, 2.0, 48000);
  EXPECT_EQ(band.b1, 0.0);
  EXPECT_NEAR(band.b2, -band.b0, 1e-15);
}

TEST(Biquad, CornersAboveNyquistStayStableAndBadRatesPassThrough) {
  Biquad low;
  DesignLowPass(low, 3200, 0.7, 4000);  // the telephone band at a very low rate
  std::mt19937 random(3);
  std::uniform_real_distribution<double> noise(-1.0, 1.0);
  double peak = 0.0;
  for (int n = 0; n < 40000; ++n) peak = std::max(peak, std::fabs(ProcessBiquad(low, noise(random))));
  EXPECT_TRUE(std::isfinite(peak));
  EXPECT_LT(peak, 10.0);

  Biquad none;
  DesignHighPass(none, 1000, kButterworthQ, 0);
  EXPECT_EQ(ProcessBiquad(none, 0.25), 0.25);
  DesignBandPass(none, std::nan(""), 2.0, 48000);
  EXPECT_EQ(ProcessBiquad(none, -0.5), -0.5);
}

TEST(Biquad, RetuningKeepsTheStatesSoTheOutputDoesNotJump) {
  const int rate = 48000;
  Biquad low;
  DesignLowPass(low, 800, kButterworthQ, rate);
  double last = 0.0, largestStep = 0.0, stepAtRetune = 0.0;
  for (int n = 0; n < 9600; ++n) {
    if (n == 4800) DesignLowPass(low, 1000, kButterworthQ, rate);
    const double y = ProcessBiquad(low, 0.8 * std::sin(2.0 * std::numbers::pi * 300.0 * n / rate));
    const double step = std::fabs(y - last);
    if (n > 100) largestStep = std::max(largestStep, step);
    if (n == 4800) stepAtRetune = step;
    last = y;
  }
  EXPECT_LE(stepAtRetune, largestStep * 1.1);
  EXPECT_GT(stepAtRetune, 0.0);

  ResetBiquad(low);
  EXPECT_EQ(low.z1, 0.0);
  EXPECT_EQ(low.z2, 0.0);
}
