#include "engine/effects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// A unit driven the way the render drives it: one update per block, a beat clock per frame.
struct Rig {
  EffectUnit unit;
  uint32_t mask = 0;
  float amounts[kEffectCount];
  float params[kEffectCount];
  double beatLength = 0.5;  // seconds
  int rate = 1000;
  double beat = 0.0;

  explicit Rig(int sampleRate, float amount = 0.5f) : rate(sampleRate) {
    for (int i = 0; i < kEffectCount; ++i) {
      amounts[i] = amount;
      params[i] = 0.0f;  // the table's defaults
    }
    PrepareEffectUnit(unit, rate);
  }

  // Runs interleaved stereo samples through in blocks of blockFrames.
  void Run(std::vector<float>& samples, int blockFrames = 48) {
    const int frames = static_cast<int>(samples.size() / 2);
    for (int start = 0; start < frames; start += blockFrames) {
      UpdateEffectUnit(unit, mask, amounts, params, beatLength, rate);
      for (int i = start; i < std::min(start + blockFrames, frames); ++i) {
        ProcessEffectUnit(unit, samples[2 * i], samples[2 * i + 1], beat);
        beat += 1.0 / (rate * beatLength);
      }
    }
  }
};

std::vector<float> Sine(int frames, double hz, int rate, float amplitude, int firstFrame = 0) {
  std::vector<float> s(2 * frames);
  for (int i = 0; i < frames; ++i) {
    const double phase = 2.0 * std::numbers::pi * hz * (firstFrame + i) / rate;
    s[2 * i] = amplitude * static_cast<float>(std::sin(phase));
    s[2 * i + 1] = amplitude * static_cast<float>(std::cos(phase));
  }
  return s;
}

std::vector<float> Noise(int frames, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> full(-1.0f, 1.0f);
  std::vector<float> s(2 * frames);
  for (float& v : s) v = full(random);
  return s;
}

}  // namespace

TEST(EffectTable, NamesAndBitOrderMatchTheMasks) {
  const char* expected[kEffectCount] = {"ECHO",   "REVERB",   "FLANGER", "PHASER",  "CRUSH",  "GATE",
                                        "NOISE",  "AUTO-WAH", "BRAKE",   "BACKSPIN", "TREMOLO", "CHORUS",
                                        "DRIVE",  "STUTTER",  "ROBOT",   "TELEPHONE", "SWEEP", "DUB ECHO"};
  std::set<std::wstring> names;
  for (int i = 0; i < kEffectCount; ++i) {
    const std::wstring name = kEffects[i].name;
    EXPECT_EQ(name, std::wstring(expected[i], expected[i] + std::string(expected[i]).size())) << i;
    names.insert(name);
    // Only the deck stop effects are left to the deck render.
    EXPECT_EQ(kEffects[i].inUnit, i != kFxBrake && i != kFxBackspin) << i;
    EXPECT_EQ(kEffects[i].process != nullptr, kEffects[i].inUnit) << i;
  }
  EXPECT_EQ(names.size(), static_cast<size_t>(kEffectCount));
  EXPECT_EQ(EffectBit(kFxDubEcho), 1u << 17);

  // The beat-timed effects, and only they, carry a default in beats.
  const std::set<int> timed = {kFxEcho, kFxFlanger, kFxPhaser, kFxGate, kFxAutoWah,
                               kFxTremolo, kFxStutter, kFxSweep, kFxDubEcho};
  for (int i = 0; i < kEffectCount; ++i) EXPECT_EQ(kEffects[i].defaultBeats > 0.0f, timed.count(i) == 1) << i;
}

TEST(EffectUnit, IsTransparentWithNoMaskAndPassesThroughWhenNotPreparedForTheRate) {
  Rig rig(8000);
  std::vector<float> in = Sine(4000, 440, 8000, 0.7f);
  std::vector<float> out = in;
  rig.Run(out);
  EXPECT_EQ(out, in);

  // A unit prepared for a lower rate cannot grow in the render: it passes its signal unchanged.
  Rig small(8000);
  small.rate = 16000;
  small.mask = EffectBit(kFxEcho) | EffectBit(kFxDrive);
  out = in;
  small.Run(out);
  EXPECT_EQ(out, in);
  EXPECT_EQ(small.unit.rate, 0);

  EffectUnit never;
  float l = 0.3f, r = -0.2f;
  const float amounts[kEffectCount] = {}, params[kEffectCount] = {};
  UpdateEffectUnit(never, EffectBit(kFxReverb), amounts, params, 0.5, 48000);
  ProcessEffectUnit(never, l, r, 0.0);
  EXPECT_EQ(l, 0.3f);
  EXPECT_EQ(r, -0.2f);
}

TEST(EffectUnit, ALowerRateIsLaidOutInsideThePreparedStorage) {
  EffectUnit unit;
  PrepareEffectUnit(unit, 2000);
  const float* echo = unit.echoLine.data();
  const float amounts[kEffectCount] = {}, params[kEffectCount] = {};
  UpdateEffectUnit(unit, EffectBit(kFxEcho), amounts, params, 0.5, 1000);
  EXPECT_EQ(unit.rate, 1000);
  EXPECT_EQ(unit.echoFrames, 8000);
  EXPECT_EQ(unit.echoLine.data(), echo);  // no reallocation in the render
  EXPECT_EQ(unit.echoDelay, 250);         // 0.5 beats of 0.5 s at 1 kHz
}

TEST(EffectUnit, EchoRepeatsPingPongAtTheBeatTimedDelayWithItsFeedback) {
  // amount 0.5: feedback 0.25 + 0.45 x 0.5, wet 0.35 + 0.45 x 0.5.
  const float feedback = 0.475f, wet = 0.575f;
  struct Case {
    float beats;
    double beatLength;
    int delay;
  };
  // The default half beat; an explicit beat; a beat length beyond 2 s clamped to 2 s.
  for (const Case& c : {Case{0.0f, 0.5, 250}, Case{1.0f, 0.4, 400}, Case{0.5f, 5.0, 1000}}) {
    SCOPED_TRACE(c.delay);
    Rig rig(1000);
    rig.mask = EffectBit(kFxEcho);
    rig.params[kFxEcho] = c.beats;
    rig.beatLength = c.beatLength;
    std::vector<float> s(2 * 4 * c.delay, 0.0f);
    s[0] = 1.0f;  // impulse on the left
    rig.Run(s, 40);
    for (int i = 0; i < 4 * c.delay; ++i) {
      float left = 0.0f, right = 0.0f;
      if (i == 0) left = 1.0f;
      if (i == c.delay) left = wet;
      if (i == 2 * c.delay) right = wet * feedback;
      if (i == 3 * c.delay) left = wet * feedback * feedback;
      ASSERT_NEAR(s[2 * i], left, 1e-6) << i;
      ASSERT_NEAR(s[2 * i + 1], right, 1e-6) << i;
    }
  }
}

TEST(EffectUnit, EchoTailsRingAfterSwitchingOffWhileTheInputStopsFeedingThem) {
  Rig rig(1000);
  rig.mask = EffectBit(kFxEcho) | EffectBit(kFxDubEcho);
  std::vector<float> s(2 * 100, 0.0f);
  s[0] = 1.0f;
  rig.Run(s);
  rig.mask = 0;
  std::vector<float> later(2 * 900, 0.0f);
  later[0] = 1.0f;  // arrives after switching off: must not be echoed
  rig.Run(later);
  // Echo (250) and dub echo (0.75 beats = 375) repeats of the first impulse, at wet level.
  EXPECT_NEAR(later[2 * 150], 0.575f, 1e-6);
  EXPECT_NEAR(later[2 * 275], 0.6f, 1e-6);
  // At 750 the echo's third repeat (left again after ping-pong) meets the dub echo's second,
  // which went through the 0.22 one-pole and the 0.675 feedback and so trails off after it.
  EXPECT_NEAR(later[2 * 650], 0.575f * 0.475f * 0.475f + 0.6f * 0.675f * 0.22f, 1e-6);
  EXPECT_NEAR(later[2 * 651], 0.6f * 0.675f * 0.22f * 0.78f, 1e-6);
  // Nothing from the impulse given while off: 250 and 375 frames after it stay silent.
  EXPECT_EQ(later[2 * 250], 0.0f);
  EXPECT_EQ(later[2 * 375], 0.0f);
}

TEST(EffectUnit, ReverbTailRingsForEightSecondsAndThenStops) {
  const int rate = 8000;
  Rig rig(rate);
  rig.mask = EffectBit(kFxReverb);
  std::vector<float> s = Noise(rate / 2, 11);
  rig.Run(s);
  rig.mask = 0;
  std::vector<float> in = Sine(9 * rate, 200, rate, 0.5f);
  std::vector<float> out = in;
  rig.Run(out, 400);
  double tailEnergy = 0.0;
  for (int i = 0; i < rate / 2; ++i) tailEnergy += std::pow(out[2 * i] - in[2 * i], 2);
  EXPECT_GT(tailEnergy, 1e-3);  // still ringing just after switching off
  for (int i = 8 * rate + 1; i < 9 * rate; ++i) ASSERT_EQ(out[2 * i], in[2 * i]) << i;
}

TEST(EffectUnit, GateAndTremoloFollowTheBeat) {
  // Rate 1 kHz, 0.5 s beats: the quarter-beat period is 125 frames.
  Rig gate(1000);
  gate.mask = EffectBit(kFxGate);  // depth 0.4 + 0.6 x 0.5 = 0.7
  std::vector<float> ones(2 * 1000, 1.0f);
  gate.Run(ones);
  for (int period = 2; period < 7; ++period) {
    EXPECT_NEAR(ones[2 * (period * 125 + 30)], 1.0f, 1e-6);
    EXPECT_NEAR(ones[2 * (period * 125 + 90)], 0.3f, 1e-6);
    // The 3 ms ramp: a third of full scale per frame after the edge at 62.5 frames.
    EXPECT_NEAR(ones[2 * (period * 125 + 63)], 2.0f / 3.0f, 1e-4);
    EXPECT_NEAR(ones[2 * (period * 125 + 64)], 1.0f / 3.0f, 1e-4);
  }

  Rig tremolo(1000, 1.0f);  // depth 1: silent in the middle of each period once fully on
  tremolo.mask = EffectBit(kFxTremolo);
  std::vector<float> level(2 * 1500, 0.5f);
  tremolo.Run(level);
  for (int period = 5; period < 11; ++period) {
    EXPECT_NEAR(level[2 * (period * 125 + 62)], 0.0f, 2e-3) << period;
    EXPECT_NEAR(level[2 * (period * 125)], 0.5f, 1e-6) << period;
  }
}

TEST(EffectUnit, StutterLoopsTheSliceAfterTheOneItWasSwitchedOnIn) {
  // Slice 0.25 beats = 125 frames. Switched on at frame 50 (slice 0): records the next slice,
  // frames 125..249, and replays it from frame 250.
  Rig rig(1000);
  rig.beat = 0.001;  // half a frame, so slice edges never fall on a frame
  const std::vector<float> in = Sine(1400, 7, 1000, 0.8f);
  std::vector<float> out = in;
  std::vector<float> head(out.begin(), out.begin() + 100);
  rig.Run(head, 50);
  rig.mask = EffectBit(kFxStutter);
  std::vector<float> rest(out.begin() + 100, out.end());
  rig.Run(rest, 50);
  std::copy(head.begin(), head.end(), out.begin());
  std::copy(rest.begin(), rest.end(), out.begin() + 100);
  for (int i = 0; i < 250; ++i) ASSERT_EQ(out[2 * i], in[2 * i]) << i;
  const float wet = 0.8f;  // 0.6 + 0.4 x 0.5, reached 400 frames into the replay
  for (int i = 700; i < 1400; ++i) {
    const int pos = (i - 250) % 125;
    const float fade = std::min(std::min(125 - pos, pos) / 64.0f, 1.0f);
    const float expected = in[2 * i] * (1 - wet) + wet * in[2 * (125 + pos)] * fade;
    ASSERT_NEAR(out[2 * i], expected, 1e-5) << i;
  }
  // Entering the replay ramps: no step larger than a few times the sine's own.
  float largest = 0.0f;
  for (int i = 245; i < 320; ++i) largest = std::max(largest, std::fabs(out[2 * i] - out[2 * i - 2]));
  EXPECT_LT(largest, 0.05f);

  // Switching off fades the replay out and then hands back the input untouched.
  rig.mask = 0;
  std::vector<float> after = Sine(1000, 7, 1000, 0.8f, 1400);
  const std::vector<float> dry = after;
  rig.Run(after, 50);
  EXPECT_GT(std::fabs(after[2] - dry[2]), 1e-3);
  for (int i = 500; i < 1000; ++i) ASSERT_EQ(after[2 * i], dry[2 * i]) << i;
}

TEST(EffectUnit, SwitchingAnEffectOnOrOffDoesNotJump) {
  // Three units fed the same music: one stays dry, one is switched on and later off, one stays
  // on from the same moment. The first frame after each switch must stay next to its neighbour.
  const int rate = 48000;
  const std::vector<float> music = Sine(rate, 440, rate, 0.5f);
  for (int effect = 0; effect < kEffectCount; ++effect) {
    if (!kEffects[effect].inUnit || effect == kFxCrush) continue;  // CRUSH is a hard effect
    SCOPED_TRACE(testing::Message() << "effect " << effect);
    Rig dry(rate), toggled(rate), kept(rate);
    std::vector<float> d = music, t = music, k = music;
    const int block = 480, onAt = 4800, offAt = 24000;
    for (int start = 0; start < rate; start += block) {
      toggled.mask = start >= onAt && start < offAt ? EffectBit(effect) : 0;
      kept.mask = start >= onAt ? EffectBit(effect) : 0;
      std::vector<float> a(d.begin() + 2 * start, d.begin() + 2 * (start + block));
      std::vector<float> b(t.begin() + 2 * start, t.begin() + 2 * (start + block));
      std::vector<float> c(k.begin() + 2 * start, k.begin() + 2 * (start + block));
      dry.Run(a, block);
      toggled.Run(b, block);
      kept.Run(c, block);
      std::copy(a.begin(), a.end(), d.begin() + 2 * start);
      std::copy(b.begin(), b.end(), t.begin() + 2 * start);
      std::copy(c.begin(), c.end(), k.begin() + 2 * start);
    }
    for (int ch = 0; ch < 2; ++ch) {
      EXPECT_NEAR(t[2 * onAt + ch], d[2 * onAt + ch], 0.01f);
      EXPECT_NEAR(t[2 * offAt + ch], k[2 * offAt + ch], 0.01f);
    }
    // And it does something once on (a silent effect would pass the checks above).
    double difference = 0.0;
    for (int i = offAt - 4800; i < offAt; ++i) difference += std::fabs(k[2 * i] - d[2 * i]);
    EXPECT_GT(difference / 4800, 1e-3);
  }
}

TEST(EffectUnit, StaysFiniteAndBoundedOnTenSecondsOfFullScaleNoise) {
  const int rate = 48000;
  const std::vector<float> noise = Noise(rate, 5);
  uint32_t everything = 0;
  for (int i = 0; i < kEffectCount; ++i) everything |= EffectBit(i);
  std::vector<uint32_t> masks = {everything};
  for (int i = 0; i < kEffectCount; ++i) masks.push_back(EffectBit(i));
  for (float amount : {0.0f, 1.0f}) {
    for (uint32_t mask : masks) {
      SCOPED_TRACE(testing::Message() << "mask " << mask << " amount " << amount);
      Rig rig(rate, amount);
      rig.mask = mask;
      rig.beatLength = 0.35;
      float peak = 0.0f;
      bool finite = true;
      for (int second = 0; second < 10; ++second) {
        std::vector<float> s = noise;
        rig.Run(s, 512);
        for (float v : s) {
          finite = finite && std::isfinite(v);
          peak = std::max(peak, std::fabs(v));
        }
      }
      EXPECT_TRUE(finite);
      EXPECT_LT(peak, 20.0f);
    }
  }
}

TEST(EffectUnit, ANonFiniteSampleDoesNotPoisonTheFeedbackLines) {
  Rig rig(1000);
  rig.mask = EffectBit(kFxEcho) | EffectBit(kFxReverb) | EffectBit(kFxDubEcho) | EffectBit(kFxFlanger);
  std::vector<float> s = Sine(2000, 50, 1000, 0.5f);
  s[20] = std::nanf("");
  s[21] = INFINITY;
  rig.Run(s);
  for (float v : s) ASSERT_TRUE(std::isfinite(v));
}
