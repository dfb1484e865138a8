// The engine object: defaults, seeking, deck copies and the sandbox swap.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "engine/engine.h"
#include "engine/render.h"

namespace {

constexpr int kRate = 48000;
constexpr int kPeriod = 480;

TrackPtr MakeDc(uint64_t frames, float value) {
  auto track = std::make_shared<Track>();
  track->sampleRate = kRate;
  track->frames = frames;
  track->samples.assign(frames * 2, value);
  return track;
}

TEST(EngineState, FreshEngineRendersSilence) {
  auto engine = std::make_unique<AudioEngine>();
  float left = 0, right = 0;
  CrossfaderGains(engine->xfPosition, engine->xfCurve, left, right);
  EXPECT_EQ(left, 1.0f);
  EXPECT_EQ(right, 1.0f);
  std::vector<float> out(2 * kPeriod, 1.0f);
  for (int block = 0; block < 20; ++block) {
    RenderMix(*engine, out.data(), kPeriod, kRate);
    for (float v : out) ASSERT_EQ(v, 0.0f);
  }
  EXPECT_EQ(engine->masterPeakL.load(), 0.0f);
  EXPECT_FALSE(engine->clipped.load());
  EXPECT_EQ(engine->decks[2].fxParam[kFxDubEcho].load(), 0.75f);
  EXPECT_EQ(engine->decks[2].fxAmount[kFxDubEcho].load(), 0.5f);
}

TEST(EngineState, SeekDeckClampsAndIgnoresWhatItCannotUse) {
  auto engine = std::make_unique<AudioEngine>();
  DeckState& deck = engine->decks[1];
  SeekDeck(*engine, 1, 500.0);
  EXPECT_EQ(deck.position, 0.0);  // no track: nothing happens

  deck.track = MakeDc(1000, 0.1f);
  SeekDeck(*engine, 1, 5000.0);
  EXPECT_EQ(deck.position, 999.0);
  SeekDeck(*engine, 1, -20.0);
  EXPECT_EQ(deck.position, 0.0);
  SeekDeck(*engine, 1, 250.5);
  EXPECT_EQ(deck.position, 250.5);
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity()}) {
    SeekDeck(*engine, 1, bad);
    EXPECT_EQ(deck.position, 250.5);
  }
  SeekDeck(*engine, 4, 10.0);
  SeekDeck(*engine, -1, 10.0);
  EXPECT_EQ(deck.position, 250.5);
  EXPECT_EQ(deck.oldFade, 0.0f);  // paused: no de-click

  deck.playing = true;
  deck.speed = 1.0;
  deck.fadeIn = 1.0f;
  deck.stretch.grainPhase[0] = 10;
  deck.stretch.grainCounter = 77;
  SeekDeck(*engine, 1, 600.0);
  EXPECT_EQ(deck.oldPosition, 250.5);
  EXPECT_EQ(deck.oldSpeed, 1.0);
  EXPECT_EQ(deck.oldFade, 1.0f);
  EXPECT_EQ(deck.fadeIn, 0.0f);
  EXPECT_EQ(deck.stretch.grainPhase[0], kGrainFrames);
  EXPECT_EQ(deck.stretch.grainCounter, 0u);

  // A second jump while the first still fades keeps both voices at the levels they sound at.
  deck.oldFade = 0.75f;
  deck.fadeIn = 0.25f;
  SeekDeck(*engine, 1, 900.0);
  EXPECT_EQ(deck.olderPosition, 250.5);
  EXPECT_EQ(deck.olderFade, 0.75f);
  EXPECT_EQ(deck.oldPosition, 600.0);
  EXPECT_EQ(deck.oldFade, 0.25f);
  EXPECT_EQ(deck.position, 900.0);
}

TEST(EngineState, CopyDeckStateLeavesEffectUnitsAndWorkBuffers) {
  auto engine = std::make_unique<AudioEngine>();
  PrepareRenderBuffers(*engine, kPeriod, kRate);
  DeckState& from = engine->decks[0];
  DeckState& to = engine->sandboxDecks[0];
  from.track = MakeDc(100, 0.2f);
  from.position = 42.0;
  from.hotCueStart[3] = 7.0;
  from.eqLow = 0.1f;
  from.stemGain[2].store(0.3f);
  from.fxAmount[5].store(0.9f);
  from.fxParam[0].store(2.0f);
  from.stretch.grainPos[1] = 12.5;
  from.fxUnit.mask = 99;
  to.blockScratch.clear();
  to.fxUnit.mask = 1;
  CopyDeckState(to, from);
  EXPECT_EQ(to.track, from.track);
  EXPECT_EQ(to.position, 42.0);
  EXPECT_EQ(to.hotCueStart[3], 7.0);
  EXPECT_EQ(to.eqLow, 0.1f);
  EXPECT_EQ(to.stemGain[2].load(), 0.3f);
  EXPECT_EQ(to.fxAmount[5].load(), 0.9f);
  EXPECT_EQ(to.fxParam[0].load(), 2.0f);
  EXPECT_EQ(to.stretch.grainPos[1], 12.5);
  EXPECT_EQ(to.fxUnit.mask, 1u);
  EXPECT_TRUE(to.blockScratch.empty());
}

TEST(EngineState, LeavingTheSandboxKeepsCuesOnlyForTheSameTrack) {
  auto engine = std::make_unique<AudioEngine>();
  TrackPtr same = MakeDc(1000, 0.1f), savedOther = MakeDc(1000, 0.2f), rehearsed = MakeDc(1000, 0.3f);
  // Deck A: same track on both sides; deck B: the DJ loaded another track in the sandbox.
  engine->sandboxDecks[0].track = same;
  engine->sandboxDecks[0].cuePoint = 10.0;
  engine->sandboxDecks[0].hotCueStart[0] = 11.0;
  engine->sandboxDecks[0].position = 500.0;
  engine->decks[0].track = same;
  engine->decks[0].cuePoint = 20.0;
  engine->decks[0].hotCueStart[0] = 21.0;
  engine->decks[0].hotCueEnd[0] = 40.0;
  engine->sandboxDecks[1].track = savedOther;
  engine->sandboxDecks[1].cuePoint = 30.0;
  engine->sandboxDecks[1].hotCueStart[4] = 31.0;
  engine->decks[1].track = rehearsed;
  engine->decks[1].cuePoint = 50.0;
  engine->decks[1].hotCueStart[4] = 51.0;
  engine->sandboxDecks[1].fxUnit.mask = 5;
  engine->decks[1].fxUnit.mask = 9;

  SwapSandbox(*engine);  // off: nothing happens
  EXPECT_EQ(engine->decks[1].track, rehearsed);

  engine->sandboxOn.store(true);
  SwapSandbox(*engine);
  EXPECT_FALSE(engine->sandboxOn.load());
  EXPECT_EQ(engine->decks[0].position, 500.0);
  EXPECT_EQ(engine->decks[0].cuePoint, 20.0);
  EXPECT_EQ(engine->decks[0].hotCueStart[0], 21.0);
  EXPECT_EQ(engine->decks[0].hotCueEnd[0], 40.0);
  EXPECT_EQ(engine->decks[1].track, savedOther);
  EXPECT_EQ(engine->decks[1].cuePoint, 30.0);
  EXPECT_EQ(engine->decks[1].hotCueStart[4], 31.0);
  EXPECT_EQ(engine->decks[1].fxUnit.mask, 5u);
  EXPECT_FALSE(engine->sandboxDecks[0].track);
  EXPECT_FALSE(engine->sandboxDecks[1].track);
  EXPECT_EQ(rehearsed.use_count(), 1);  // the rehearsed track left the engine
  EXPECT_EQ(same.use_count(), 2);
}

TEST(EngineState, SandboxKeepsTheCrowdOnTheSavedDecks) {
  auto engine = std::make_unique<AudioEngine>();
  PrepareRenderBuffers(*engine, kPeriod, kRate);
  engine->phonesMode = kPhonesSplit;
  engine->sandboxDecks[0].track = MakeDc(kRate * 2, 0.3f);
  engine->sandboxDecks[0].playing = true;
  engine->sandboxDecks[0].fadeIn = 1.0f;
  engine->sandboxDecks[0].speed = 1.0;
  engine->sandboxDecks[0].fader = 1.0f;
  engine->decks[1].track = MakeDc(kRate * 2, 0.2f);
  engine->decks[1].playing = true;
  engine->decks[1].fadeIn = 1.0f;
  engine->decks[1].speed = 1.0;
  engine->decks[1].fader = 1.0f;
  engine->sandboxOn.store(true);
  std::vector<float> out(2 * kPeriod);
  for (int block = 0; block < 20; ++block) RenderMix(*engine, out.data(), kPeriod, kRate);
  // Split headphones: left is the crowd's mono master, right the rehearsal at 0.8^2 x 1.5.
  EXPECT_NEAR(out[2 * kPeriod - 2], 0.3f, 1e-4);
  EXPECT_NEAR(out[2 * kPeriod - 1], 0.2f * 0.96f, 1e-4);
}

}  // namespace
