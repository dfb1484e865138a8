// A short scripted mix through the real render, compared with a stored recording of it: two decks,
// a tempo match, EQ, two effects, key lock, the cross-fader and the filter. Any change to how the
// render sounds shows here. When the render changes on purpose, run the test with
// VELDMIX_GOLDEN_UPDATE=1 to store the new reference (and listen to it first).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/render_script.h"
#include "engine/sync.h"
#include "engine/wav_file.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace {

constexpr int kTrackRate = 44100;
constexpr double kTrackSeconds = 4.0;
constexpr double kPi = 3.141592653589793;
constexpr double kBpmA = 120.0, kBpmB = 126.0;
// 16-bit storage rounds by 1/65534; float differences between machines stay far below 1e-4. A
// 0.5 dB change of one EQ band of these tracks moves samples by more than 0.005.
constexpr float kTolerance = 1e-3f;
const std::string kReference = std::string(VELDMIX_SOURCE_DIR) + "/tests/data/golden_mix.wav";

// Deterministic sources: integer noise and plain sines only.
std::vector<float> MakeTrack(bool a) {
  const size_t frames = static_cast<size_t>(kTrackSeconds * kTrackRate);
  std::vector<float> out(2 * frames);
  uint32_t noise = 12345;
  const double beat = 60.0 / (a ? kBpmA : kBpmB);
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kTrackRate, inBeat = std::fmod(t, beat);
    noise = noise * 1664525u + 1013904223u;
    const double hiss = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.05;
    double l, r;
    if (a) {  // a kick on each beat, a bass line and a bright tone
      const double kick = 0.5 * std::sin(2 * kPi * 55 * inBeat) * std::exp(-12 * inBeat);
      l = kick + 0.15 * std::sin(2 * kPi * 110 * t) + 0.1 * std::sin(2 * kPi * 3520 * t) + hiss;
      r = kick + 0.15 * std::sin(2 * kPi * 110 * t) + 0.1 * std::sin(2 * kPi * 1760 * t) - hiss;
    } else {  // a chord pulsing on the beat
      const double pulse = 0.6 + 0.4 * std::exp(-6 * inBeat);
      l = pulse * (0.2 * std::sin(2 * kPi * 330 * t) + 0.15 * std::sin(2 * kPi * 415.3 * t)) + hiss;
      r = pulse * (0.2 * std::sin(2 * kPi * 330 * t) + 0.15 * std::sin(2 * kPi * 554.4 * t)) + hiss;
    }
    out[2 * i] = static_cast<float>(l);
    out[2 * i + 1] = static_cast<float>(r);
  }
  return out;
}

// The 16-bit stereo samples of a WAV as WriteWavFile writes it, scaled to -1..1; empty when the
// file is missing or not of that layout.
std::vector<float> ReadReference(const std::string& path, int32_t& rate) {
  const std::string bytes = ReadRaw(path);
  if (bytes.size() < kWavHeaderBytes || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) return {};
  const auto u8 = [&](size_t at) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])); };
  rate = static_cast<int32_t>(u8(24) | u8(25) << 8 | u8(26) << 16 | u8(27) << 24);
  std::vector<float> samples((bytes.size() - kWavHeaderBytes) / 2);
  for (size_t k = 0; k < samples.size(); ++k) {
    const auto v = static_cast<int16_t>(u8(kWavHeaderBytes + 2 * k) | u8(kWavHeaderBytes + 2 * k + 1) << 8);
    samples[k] = static_cast<float>(v) / 32767.0f;
  }
  return samples;
}

TEST(GoldenMix, ScriptedMixSoundsAsRecorded) {
  TempHome home;
  for (bool a : {true, false}) {
    const std::vector<float> track = MakeTrack(a);
    ASSERT_TRUE(WriteWavFile(Utf8ToWide(home.path() + (a ? "/a.wav" : "/b.wav")), track.data(), track.size() / 2,
                             kTrackRate));
  }
  // SYNC's own tempo match brings B to A's tempo; B plays it with key lock on.
  const TempoMatch match = MatchTempo(kBpmA, kBpmB, PitchRanges[1]);
  ASSERT_TRUE(match.matched);
  std::ostringstream text;
  text << "rate 22050\nperiod 256\nduration 3\n"
          "load A a.wav\nload B b.wav\nfader A 1\nfader B 1\nplay A\n"
          "eq A high 0.3\nfx A on echo\nfx A amount echo 0.6\n"
          "at 0.5 tempo B "
       << match.deviation * 100.0
       << "\nat 0.5 keylock B on\nat 0.5 play B\n"
          "at 1.0 fx B on flanger\nat 1.5 eq B low 0.2\nat 1.5 eq A mid 0.7\nat 2.0 xfader 0.7\n"
          "at 2.2 fx A off echo\nat 2.5 filter B -0.4\n";
  RenderScript script;
  std::string error;
  ASSERT_TRUE(ParseRenderScript(text.str(), home.wpath(), script, error)) << error;
  auto engine = std::make_unique<AudioEngine>();
  std::vector<float> mix;
  ASSERT_TRUE(RunRenderScript(*engine, script, mix, error)) << error;
  const uint64_t frames = mix.size() / 2;

  if (std::getenv("VELDMIX_GOLDEN_UPDATE") != nullptr) {
    ASSERT_TRUE(WriteWavFile(Utf8ToWide(kReference), mix.data(), frames, static_cast<uint32_t>(script.rate)));
    GTEST_SKIP() << "stored a new reference at " << kReference;
  }
  int32_t rate = 0;
  const std::vector<float> reference = ReadReference(kReference, rate);
  size_t worst = 0;
  float worstDifference = 0.0f;
  for (size_t k = 0; k < std::min(mix.size(), reference.size()); ++k) {
    const float difference = std::abs(std::clamp(mix[k], -1.0f, 1.0f) - reference[k]);
    if (difference > worstDifference) worstDifference = difference, worst = k;
  }
  const bool same = rate == script.rate && reference.size() == mix.size() && worstDifference <= kTolerance;
  if (!same) WriteWavFile(Utf8ToWide(kReference + ".actual"), mix.data(), frames, static_cast<uint32_t>(script.rate));
  EXPECT_TRUE(same) << "the mix differs from " << kReference << " (rate " << rate << ", " << reference.size()
                    << " samples against " << mix.size() << "; largest difference " << worstDifference << " at frame "
                    << worst / 2 << "); the render is in " << kReference << ".actual";
  // The reference itself is a mix, not silence: both decks are heard.
  float loudest = 0.0f;
  for (float v : reference) loudest = std::max(loudest, std::abs(v));
  EXPECT_GT(loudest, 0.2f);
}

}  // namespace
