#include "settings/demo_tracks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

bool AllZero(const std::vector<float>& bus) {
  return std::all_of(bus.begin(), bus.end(), [](float s) { return s == 0.0f; });
}

float PeakOf(const std::vector<float>& samples) {
  float peak = 0.0f;
  for (float s : samples) peak = std::max(peak, std::fabs(s));
  return peak;
}

// MT19937 seeded with 5489 starts 3499211612, 581869302: the noise value pairs them as
// (second x 2^21 + first >> 11) / 2^53, mapped onto [-1, 1).
TEST(DemoSynthesis, NoiseUsesTwoGeneratorWordsInOrder) {
  DemoRender r = MakeDemoRender(1, 5489);
  const double expected = -1.0 + 2.0 * ((581869302.0 * 2097152.0 + (3499211612u >> 11)) / 9007199254740992.0);
  EXPECT_DOUBLE_EQ(DemoNoise(r), expected);
  for (int i = 0; i < 10000; ++i) {
    const double v = DemoNoise(r);
    ASSERT_GE(v, -1.0);
    ASSERT_LT(v, 1.0);
  }
}

TEST(DemoSynthesis, FilterPassesAndBlocksSteadyInput) {
  DemoFilter f;
  SetDemoFilter(f, 1000.0, 0.7);
  for (int i = 0; i < 20000; ++i) ProcessDemoFilter(f, 1.0);
  EXPECT_NEAR(f.low, 1.0, 1e-6);   // DC passes the low-pass
  EXPECT_NEAR(f.band, 0.0, 1e-6);  // and not the band- or high-pass
  EXPECT_NEAR(f.high, 0.0, 1e-6);
  // A cutoff far above the range is clamped rather than left to blow up tan().
  DemoFilter wild;
  SetDemoFilter(wild, 1e9, 0.7);
  for (int i = 0; i < 1000; ++i) ProcessDemoFilter(wild, i % 2 ? 1.0 : -1.0);
  EXPECT_TRUE(std::isfinite(wild.low) && std::fabs(wild.low) < 10.0);
}

TEST(DemoSynthesis, VoicesGoToTheirBusesAndLastTheirLength) {
  DemoRender r = MakeDemoRender(44100, 1);
  DemoKick(r, 0.0);
  EXPECT_TRUE(AllZero(r.music));
  EXPECT_TRUE(AllZero(r.lead));
  ASSERT_EQ(r.kickTimes, std::vector<double>{0.0});
  for (size_t i = 0; i < 18522; ++i) ASSERT_EQ(r.drums[2 * i], r.drums[2 * i + 1]) << "kick is mono at " << i;
  EXPECT_NE(r.drums[2 * 18000], 0.0f);
  for (size_t i = 18522; i < 44100; ++i) ASSERT_EQ(r.drums[2 * i], 0.0f) << "kick still sounds at " << i;

  DemoRender b = MakeDemoRender(44100, 1);
  DemoBass(b, 0.5, 0.1, 45.0, 1.0);
  EXPECT_TRUE(AllZero(b.drums));
  EXPECT_TRUE(AllZero(b.lead));
  const size_t first = 22050, sounding = 4410 + 400;
  EXPECT_EQ(b.music[2 * (first - 1)], 0.0f);
  EXPECT_NE(b.music[2 * (first + sounding - 10)], 0.0f);  // the release still rings
  for (size_t i = first + sounding; i < 44100; ++i) ASSERT_EQ(b.music[2 * i], 0.0f) << i;

  DemoRender l = MakeDemoRender(44100, 1);
  DemoLead(l, 0.0, 0.1, 72.0, 0.35);
  EXPECT_TRUE(AllZero(l.music));
  // Panned right: right = 1.35 / 0.65 x left on every sample.
  for (size_t i = 100; i < 7000; i += 97)
    ASSERT_NEAR(l.lead[2 * i + 1], l.lead[2 * i] * 1.35f / 0.65f, 1e-6f) << i;
  EXPECT_NE(l.lead[2 * 7900], 0.0f);  // sounds 1.8 x its length (7938 samples)
  for (size_t i = 7938; i < 44100; ++i) ASSERT_EQ(l.lead[2 * i], 0.0f) << i;
}

TEST(DemoSynthesis, VoicesNearTheEndAreCutAtTheLastFrame) {
  DemoRender r = MakeDemoRender(1000, 3);
  DemoCrash(r, 900.0 / 44100.0);
  DemoChord(r, 950.0 / 44100.0, 1.0, {57, 60, 64}, true);
  DemoLead(r, 990.0 / 44100.0, 1.0, 80.0, 0.0);
  DemoRiser(r, 5.0, 1.0);  // wholly past the end: nothing
  EXPECT_EQ(r.drums.size(), 2000u);
  EXPECT_NE(r.drums[2 * 999], 0.0f);
  EXPECT_NE(r.music[2 * 999 + 1], 0.0f);
  EXPECT_NE(r.lead[2 * 999], 0.0f);
}

// The seed feeds the noise voices only: the tonal voices are the same for every seed.
TEST(DemoSynthesis, SeedChangesNoiseVoicesOnly) {
  DemoRender a = MakeDemoRender(30000, 11), b = MakeDemoRender(30000, 12);
  for (DemoRender* r : {&a, &b}) {
    DemoClap(*r, 0.0);
    DemoBass(*r, 0.0, 0.2, 40.0, 0.8);
    DemoChord(*r, 0.1, 0.2, {57, 60, 64}, false);
    DemoLead(*r, 0.1, 0.1, 76.0, -0.35);
  }
  EXPECT_NE(a.drums, b.drums);
  EXPECT_EQ(a.music, b.music);
  EXPECT_EQ(a.lead, b.lead);
}

TEST(DemoTrack, FrameCountsOfBothSongs) {
  EXPECT_EQ(DemoTrackFrames(124.0), 5572959u);
  EXPECT_EQ(DemoTrackFrames(126.0), 5486250u);
  EXPECT_EQ(DemoTrackSpecs[0].tempo, 124.0);
  EXPECT_EQ(DemoTrackSpecs[1].tempo, 126.0);
}

TEST(DemoTrack, TableHoldsUsableSteps) {
  for (const DemoTrackSpec& spec : DemoTrackSpecs) {
    for (int32_t p : spec.bassSteps) EXPECT_TRUE(p == -1 || (p >= 0 && p < 16)) << p;
    for (int32_t p : spec.stabSteps) EXPECT_TRUE(p == -1 || (p >= 0 && p < 16)) << p;
    for (int32_t p : spec.arpeggioPattern) EXPECT_TRUE(p >= 0 && p <= 2) << p;
    EXPECT_GT(spec.bassLength, 0.0);
  }
  EXPECT_NE(DemoTrackSpecs[0].seed, DemoTrackSpecs[1].seed);
}

// One full render: deterministic, normalised, within range, and quiet where the arrangement
// has no kick yet the pad plays (bar 32 onwards is not pumped).
TEST(DemoTrack, RenderIsDeterministicAndNormalised) {
  const DemoTrackSpec& spec = DemoTrackSpecs[1];
  const DemoAudio first = RenderDemoTrack(spec);
  ASSERT_EQ(first.frames, 5486250u);
  ASSERT_EQ(first.samples.size(), 2 * first.frames);
  EXPECT_NEAR(PeakOf(first.samples), 0.89f, 1e-6f);
  const DemoAudio second = RenderDemoTrack(spec);
  EXPECT_TRUE(first.samples == second.samples);

  DemoTrackSpec reseeded = spec;
  reseeded.seed = spec.seed + 1;
  const DemoAudio other = RenderDemoTrack(reseeded);
  EXPECT_FALSE(first.samples == other.samples);
  // The tail ends in near silence after the last hats and echoes have decayed.
  float tail = 0.0f;
  for (size_t i = first.samples.size() - 2 * 4410; i < first.samples.size(); ++i)
    tail = std::max(tail, std::fabs(first.samples[i]));
  EXPECT_LT(tail, 0.05f);
}

}  // namespace
