#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

#include "engine/builtin_sounds.h"

namespace {

struct Expected {
  const wchar_t* name;
  double seconds;
};
constexpr Expected kExpected[kBuiltinSoundCount] = {
    {L"HORN", 1.9}, {L"SIREN", 2.4}, {L"LASER", 0.6}, {L"KICK", 0.5},
    {L"CLAP", 0.35}, {L"RISER", 4.0}, {L"BOOM", 2.5}, {L"HAT", 0.2},
};

bool SameBytes(const Track& a, const Track& b) {
  return a.samples.size() == b.samples.size() &&
         std::memcmp(a.samples.data(), b.samples.data(), a.samples.size() * sizeof(float)) == 0;
}

float Left(const Track& t, double seconds) { return t.samples[2 * static_cast<size_t>(seconds * 44100)]; }

}  // namespace

TEST(BuiltinSounds, EachSoundIsWellFormedAndRepeatable) {
  for (int32_t n = 0; n < kBuiltinSoundCount; ++n) {
    SCOPED_TRACE(n);
    std::wstring name = L"stale";
    const TrackPtr sound = MakeBuiltinSound(n, &name);
    ASSERT_TRUE(sound);
    EXPECT_EQ(name, kExpected[n].name);
    EXPECT_EQ(sound->title, kExpected[n].name);
    EXPECT_EQ(sound->sampleRate, 44100);
    EXPECT_EQ(sound->frames, static_cast<uint64_t>(kExpected[n].seconds * 44100));
    ASSERT_EQ(sound->samples.size(), 2 * sound->frames);
    // No path and no analysis: the record's defaults.
    const Track blank;
    EXPECT_TRUE(sound->path.empty() && sound->artist.empty() && sound->waveform.empty() && sound->tempoMarkers.empty());
    EXPECT_EQ(sound->bpm, blank.bpm);
    EXPECT_EQ(sound->key, blank.key);
    EXPECT_EQ(sound->loudness, blank.loudness);

    float peak = 0.0f;
    bool mono = true, finite = true;
    for (uint64_t f = 0; f < sound->frames; ++f) {
      const float l = sound->samples[2 * f], r = sound->samples[2 * f + 1];
      mono &= l == r;
      finite &= std::isfinite(l);
      peak = std::max(peak, std::fabs(l));
    }
    EXPECT_TRUE(mono);
    EXPECT_TRUE(finite);
    EXPECT_LE(peak, 1.0f);
    EXPECT_GT(peak, 0.05f);

    const TrackPtr again = MakeBuiltinSound(n, nullptr);
    EXPECT_TRUE(SameBytes(*sound, *again));
  }
}

TEST(BuiltinSounds, LengthsTruncateInDoublePrecision) {
  EXPECT_EQ(MakeBuiltinSound(3, nullptr)->frames, 22050u);
  EXPECT_EQ(MakeBuiltinSound(4, nullptr)->frames, 15434u);  // 0.35 x 44100 is just below 15435
}

TEST(BuiltinSounds, NumbersOutsideTheTableAreHatsWithTheirOwnNoise) {
  const TrackPtr hat = MakeBuiltinSound(7, nullptr);
  for (int32_t n : {8, 100, -1}) {
    SCOPED_TRACE(n);
    std::wstring name;
    const TrackPtr other = MakeBuiltinSound(n, &name);
    EXPECT_EQ(name, L"HAT");
    EXPECT_EQ(other->frames, hat->frames);
    EXPECT_FALSE(SameBytes(*hat, *other));  // a different seed
    EXPECT_TRUE(SameBytes(*other, *MakeBuiltinSound(n, nullptr)));
  }
}

TEST(BuiltinSounds, FirstSamplesFollowPhaseAndNoiseRules) {
  // Phases start at 0 and advance after the frame is written.
  const TrackPtr kick = MakeBuiltinSound(3, nullptr);
  EXPECT_EQ(kick->samples[0], 0.0f);
  const double kick1 = 0.95 * std::sin(2 * std::numbers::pi * 168.0 / 44100) * std::exp(-6.0 / 44100);
  EXPECT_NEAR(kick->samples[2], kick1, 1e-6);
  EXPECT_NEAR(MakeBuiltinSound(2, nullptr)->samples[0], -0.33, 1e-6);  // LASER: sin 0 is not above 0
  // HAT's first value is 0.35 x the first draw of MT19937 seeded 1241, scaled to [-1, 1).
  std::mt19937 noise(1241);
  const double first = 2.0 * static_cast<double>(noise() >> 8) / 16777216.0 - 1.0;
  EXPECT_NEAR(MakeBuiltinSound(7, nullptr)->samples[0], 0.35 * first, 1e-6);
}

TEST(BuiltinSounds, EnvelopesGoSilentWhereExpected) {
  const TrackPtr horn = MakeBuiltinSound(0, nullptr);
  EXPECT_EQ(horn->samples[0], 0.0f);
  EXPECT_EQ(Left(*horn, 0.18), 0.0f);   // between the first two notes
  EXPECT_EQ(Left(*horn, 0.65), 0.0f);   // between the third and fourth
  EXPECT_NE(Left(*horn, 0.05), 0.0f);
  EXPECT_EQ(Left(*horn, 1.87), 0.0f);   // after the last note

  // SIREN fades over its last 0.2 s, RISER over its last 0.05 s: bounded by their fade lines.
  const TrackPtr siren = MakeBuiltinSound(1, nullptr);
  for (uint64_t f = siren->frames - 8820; f < siren->frames; ++f)
    ASSERT_LE(std::fabs(siren->samples[2 * f]), 0.5 * (2.4 - f / 44100.0) / 0.2 + 1e-6) << f;
  const TrackPtr riser = MakeBuiltinSound(5, nullptr);
  for (uint64_t f = riser->frames - 2205; f < riser->frames; ++f)
    ASSERT_LE(std::fabs(riser->samples[2 * f]), 0.55 * (4.0 - f / 44100.0) / 0.05 + 1e-6) << f;
  EXPECT_LT(std::fabs(riser->samples.back()), 0.001f);
}
