// Volumes set between two periods reach their new value across the next period, as the channel
// gains do: no step at the block edge, the target exactly at its end.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/engine.h"
#include "engine/render.h"

namespace {

constexpr int kRate = 48000;
constexpr int kPeriod = 480;
constexpr float kLevel = 0.25f;  // a constant sound: interpolation gives it back exactly

TrackPtr Constant(double seconds) {
  auto track = std::make_shared<Track>();
  track->sampleRate = kRate;
  track->frames = static_cast<uint64_t>(seconds * kRate);
  track->samples.assign(track->frames * 2, kLevel);
  return track;
}

// One looping pad of the constant sound at unity sampler volume, the headphones on the master
// device's second pair hearing the master only, and the booth on the master device.
std::unique_ptr<AudioEngine> PadEngine() {
  auto engine = std::make_unique<AudioEngine>();
  PrepareRenderBuffers(*engine, kPeriod, kRate);
  engine->samplerVolume = 1.0f;
  engine->phonesMode = kPhonesOwnOutput;
  engine->phonesOnMaster = true;
  engine->headphoneMix = 1.0f;
  engine->boothOnMaster = true;
  SamplerPad& pad = engine->pads[0];
  pad.track = Constant(2.0);
  pad.loop = true;
  pad.playing = true;
  return engine;
}

struct Block {
  std::vector<float> master, phones, booth;
};

Block RenderBlock(AudioEngine& engine) {
  Block block;
  block.master.resize(2 * kPeriod);
  RenderMix(engine, block.master.data(), kPeriod, kRate);
  block.phones.assign(engine.phonesBuffer.begin(), engine.phonesBuffer.begin() + 2 * kPeriod);
  block.booth.assign(engine.boothBuffer.begin(), engine.boothBuffer.begin() + 2 * kPeriod);
  return block;
}

// Frame i of a block ramping from a to b: (i + 1) / frames of the way.
float Ramp(float a, float b, int i) { return a + (b - a) * static_cast<float>(i + 1) / kPeriod; }

void ExpectRamp(const std::vector<float>& left, float from, float to, const char* what) {
  for (int i = 0; i < kPeriod; ++i) ASSERT_NEAR(left[2 * i], Ramp(from, to, i), 2e-6f) << what << ", frame " << i;
}

}  // namespace

TEST(MixRamps, SamplerVolumeAndPadGainRampAcrossThePeriod) {
  auto engine = PadEngine();
  ExpectRamp(RenderBlock(*engine).master, kLevel, kLevel, "steady at unity");
  engine->samplerVolume = 0.5f;  // gain 0.25
  ExpectRamp(RenderBlock(*engine).master, kLevel, kLevel * 0.25f, "sampler volume down");
  ExpectRamp(RenderBlock(*engine).master, kLevel * 0.25f, kLevel * 0.25f, "then steady");
  engine->pads[0].gain = 2.0f;
  ExpectRamp(RenderBlock(*engine).master, kLevel * 0.25f, kLevel * 0.5f, "pad gain up");

  // A pad that starts again begins at its gain: its own start is its fade-in.
  engine->pads[0].playing = false;
  RenderBlock(*engine);
  engine->samplerVolume = 1.0f;
  engine->pads[0].playing = true;
  ExpectRamp(RenderBlock(*engine).master, kLevel * 2.0f, kLevel * 2.0f, "restarted pad");
}

TEST(MixRamps, HeadphoneAndBoothVolumesAndTheCueMixRamp) {
  constexpr float kBoost = 1.5f;  // both outputs: volume^2 x 1.5
  auto engine = PadEngine();
  engine->headphoneVolume = 0.4f;
  engine->boothVolume = 0.4f;
  Block steady = RenderBlock(*engine);
  const float before = kLevel * 0.16f * kBoost;
  ExpectRamp(steady.phones, before, before, "phones steady");
  ExpectRamp(steady.booth, before, before, "booth steady");

  engine->headphoneVolume = 0.6f;
  engine->boothVolume = 0.2f;
  Block moved = RenderBlock(*engine);
  ExpectRamp(moved.phones, before, kLevel * 0.36f * kBoost, "phones up");
  ExpectRamp(moved.booth, before, kLevel * 0.04f * kBoost, "booth down");

  // The cue/master knob turned from master to cue (an empty cue): the master part fades out.
  engine->headphoneMix = 0.0f;
  ExpectRamp(RenderBlock(*engine).phones, kLevel * 0.36f * kBoost, 0.0f, "mix to cue");
  // The master itself never moved.
  ExpectRamp(moved.master, kLevel, kLevel, "master");
}
