#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "engine/analysis.h"
#include "engine/phrases.h"

namespace {

constexpr int32_t kRate = 44100;

// A track whose waveform is `levels[b]` x 255 in every band through 32-beat block b counted from
// `firstBeat`; points before the first beat are at `before`. Half a block of level 0 follows.
Track BlockTrack(const std::vector<double>& levels, double bpm = 120.0, double firstBeat = 0.0,
                 uint8_t before = 0) {
  Track track;
  track.sampleRate = kRate;
  track.bpm = bpm;
  track.firstBeat = firstBeat;
  const double block_s = 60.0 / bpm * 32;
  track.frames = static_cast<uint64_t>((firstBeat + (levels.size() + 0.5) * block_s) * kRate);
  track.waveform.resize(WavePointCount(track.frames, kRate));
  for (size_t i = 0; i < track.waveform.size(); ++i) {
    const double t = i / 150.0 - firstBeat;
    const size_t block = t < 0 ? 0 : static_cast<size_t>(t / block_s);
    const uint8_t v = t < 0 ? before : block < levels.size() ? static_cast<uint8_t>(levels[block] * 255) : 0;
    track.waveform[i] = {v, v, v};
  }
  return track;
}

std::string Describe(const std::vector<Phrase>& phrases) {
  std::string text;
  for (const Phrase& p : phrases) text += std::string(PhraseKindName(p.kind)) + "@" + std::to_string(int(p.beat)) + " ";
  return text;
}

}  // namespace

TEST(PhraseAnalysis, FindsIntroDropsBreaksAndOutro) {
  EXPECT_EQ(Describe(AnalyzePhrases(BlockTrack({0.3, 1, 1, 0.3, 1, 1, 0.3, 0.3}))),
            "INTRO@0 DROP@32 BREAK@96 DROP@128 OUTRO@192 ");
  // Blocks start at the first beat: the loud half block before it is not block 0.
  EXPECT_EQ(Describe(AnalyzePhrases(BlockTrack({0.3, 1, 1, 1}, 120.0, 8.0, 255))), "INTRO@0 DROP@32 ");
  // 16 loud beats in a quiet block only half lift it: the drop is the first fully loud block.
  Track half = BlockTrack({0.3, 0.3, 1, 1, 1});
  for (size_t i = 2400; i < 3600; ++i) half.waveform[i] = {255, 255, 255};
  EXPECT_EQ(Describe(AnalyzePhrases(half)), "INTRO@0 DROP@64 ");
}

TEST(PhraseAnalysis, ThresholdsAndTheOutroFloor) {
  // Loud throughout with steps of at most 0.15: nothing.
  EXPECT_EQ(Describe(AnalyzePhrases(BlockTrack({1, 0.9, 0.75, 0.9, 1.0}))), "");
  // A jump of 0.2 to a loud block is a drop even without an intro.
  EXPECT_EQ(Describe(AnalyzePhrases(BlockTrack({1, 0.9, 0.8, 1.0, 0.95}))), "DROP@96 ");
  // A quiet second half puts the outro at block N / 2, never before.
  EXPECT_EQ(Describe(AnalyzePhrases(BlockTrack({1, 1, 1, 0.2, 0.2, 0.2, 0.2}))), "OUTRO@96 ");
  EXPECT_EQ(Describe(AnalyzePhrases(BlockTrack({1, 0.2, 0.2, 0.2, 0.2, 0.2}))), "BREAK@32 OUTRO@96 ");
  // No drop or break at or after the outro start.
  EXPECT_EQ(Describe(AnalyzePhrases(BlockTrack({1, 1, 1, 1, 0.5, 0.2, 0.5, 0.2}))), "OUTRO@128 ");
}

TEST(PhraseAnalysis, NothingToAnalyse) {
  EXPECT_TRUE(AnalyzePhrases(BlockTrack({0.3, 1})).empty());  // two blocks
  EXPECT_TRUE(AnalyzePhrases(BlockTrack({0, 0, 0, 0})).empty());  // no energy anywhere
  Track track = BlockTrack({0.3, 1, 1, 0.3});
  for (double bad : {0.0, -120.0, std::numeric_limits<double>::quiet_NaN(), 1e12}) {
    track.bpm = bad;
    EXPECT_TRUE(AnalyzePhrases(track).empty()) << "bpm " << bad;
  }
  track.bpm = 120.0;
  track.firstBeat = std::numeric_limits<double>::infinity();
  EXPECT_TRUE(AnalyzePhrases(track).empty());
  track.firstBeat = 0.0;
  track.waveform.clear();
  EXPECT_TRUE(AnalyzePhrases(track).empty());
}

TEST(PhraseAnalysis, KindNames) {
  EXPECT_STREQ(PhraseKindName(kPhraseIntro), "INTRO");
  EXPECT_STREQ(PhraseKindName(kPhraseDrop), "DROP");
  EXPECT_STREQ(PhraseKindName(kPhraseBreak), "BREAK");
  EXPECT_STREQ(PhraseKindName(kPhraseOutro), "OUTRO");
  EXPECT_STREQ(PhraseKindName(7), "OUTRO");  // any other kind counts as an outro
}

TEST(PhraseAnalysis, FromAnalysedAudio) {
  // 120 BPM from 0.25 s: clicks over a noise bed, quiet or loud per 32 beats (16 s).
  const std::vector<double> sections = {0.1, 1, 1, 0.1, 1, 0.1, 0.1};
  constexpr int32_t rate = 22050;
  Track track;
  track.sampleRate = rate;
  track.frames = static_cast<uint64_t>((0.25 + sections.size() * 16.0 + 0.5) * rate);
  track.samples.resize(2 * track.frames);
  uint32_t hash = 7;
  for (uint64_t f = 0; f < track.frames; ++f) {
    const double t = static_cast<double>(f) / rate - 0.25;
    const double level = t < 0 ? 0.1 : sections[std::min(sections.size() - 1, static_cast<size_t>(t / 16.0))];
    hash = hash * 1664525u + 1013904223u;
    double v = 0.05 * (static_cast<double>(hash >> 8) / (1u << 24) - 0.5);
    if (t >= 0 && std::fmod(t, 0.5) < 0.01) v += 0.8 * std::sin(2 * std::numbers::pi * 1000.0 * t);
    track.samples[2 * f] = track.samples[2 * f + 1] = static_cast<float>(level * v);
  }
  AnalyzeTrack(track);
  ASSERT_EQ(track.bpm, 120.0);
  ASSERT_NEAR(track.firstBeat, 0.25, 0.01);
  EXPECT_EQ(Describe(AnalyzePhrases(track)), "INTRO@0 DROP@32 BREAK@96 DROP@128 OUTRO@160 ");
}
