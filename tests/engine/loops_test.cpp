// Jog, seek, loops, rolls, the slicer, beat jumps, reverse, censor, slip and stop effects on a
// real 120 BPM click track, measured from the rendered audio and the deck position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "base/settings.h"
#include "base/status_message.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/jog_loops.h"
#include "engine/transport.h"
#include "support/click_tracks.h"

namespace {

constexpr double kRate = 44100.0;
constexpr double kBeat = 0.5;                    // seconds at 120 BPM
constexpr double kConsumed = kRate / kTestRate;  // source frames per output frame at rate 1
constexpr double kFramesPerPeriod = kTestPeriod * kConsumed;

class Loop : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    static ClickTrackFolder folder;
    ClickTrack spec;
    spec.seconds = 16.0;
    ASSERT_TRUE(LoadAndWait(0, folder.Make(spec)));
    {
      std::lock_guard<RealtimeMutex> lock(Engine.lock);
      Deck().track->bpm = 120.0;  // an exact grid: clicks every 0.5 s from 0
      Deck().track->firstBeat = 0.0;
    }
  }
  void TearDown() override { ResetDecksForTest(); }

  static DeckState& Deck() { return Engine.decks[0]; }
  // Starts the deck at `seconds` and lets it reach full speed.
  static void PlayFrom(double seconds) {
    {
      std::lock_guard<RealtimeMutex> lock(Engine.lock);
      Deck().position = seconds * kRate;
    }
    PlayPause(0);
    RenderPeriods(1);
  }
  static double Seconds() { return Deck().position / kRate; }
};

// Output times (seconds) where a click starts: the left channel rises above half the loudest
// sample after at least 50 ms below it.
std::vector<double> ClickTimes(const std::vector<float>& out) {
  float loudest = 0.0f;
  for (size_t i = 0; i < out.size(); i += 2) loudest = std::max(loudest, std::abs(out[i]));
  std::vector<double> times;
  const size_t quiet = kTestRate / 20;
  size_t last = 0;
  bool any = false;
  for (size_t i = 0; i < out.size() / 2; ++i) {
    if (std::abs(out[2 * i]) < 0.5f * loudest) continue;
    if (!any || i - last > quiet) times.push_back(static_cast<double>(i) / kTestRate);
    last = i;
    any = true;
  }
  return times;
}

TEST(LoopBounds, StartOnTheBeatWithASmallTolerance) {
  Track track;
  track.sampleRate = static_cast<int32_t>(kRate);
  track.frames = static_cast<uint64_t>(60 * kRate);
  track.bpm = 120.0;
  double start = 0, end = 0;
  QuantisedLoopBounds(track, (4.0 - 0.01) * kBeat * kRate, 4.0, start, end);
  EXPECT_DOUBLE_EQ(start, 4 * kBeat * kRate) << "0.01 beat early still starts on the beat";
  EXPECT_DOUBLE_EQ(end, 8 * kBeat * kRate);
  QuantisedLoopBounds(track, (4.0 - 0.1) * kBeat * kRate, 4.0, start, end);
  EXPECT_DOUBLE_EQ(start, 3 * kBeat * kRate);
  QuantisedLoopBounds(track, 4.3 * kBeat * kRate, 0.125, start, end);
  EXPECT_DOUBLE_EQ(start, 4.25 * kBeat * kRate) << "an eighth-beat loop starts on an eighth";
  EXPECT_DOUBLE_EQ(end, 4.375 * kBeat * kRate);
}

TEST_F(Loop, AutoLoopHoldsFourBeatsAndResizes) {
  PlayFrom(1.2);
  ToggleAutoLoop(0);
  EXPECT_DOUBLE_EQ(Deck().loopIn, 1.0 * kRate);
  EXPECT_DOUBLE_EQ(Deck().loopOut, 3.0 * kRate);
  const std::vector<float> out = RenderPeriods(500);  // 5 s
  EXPECT_GE(Seconds(), 1.0);
  EXPECT_LT(Seconds(), 3.0);
  // Inside the loop the clicks keep coming every beat, also across the wrap.
  const std::vector<double> clicks = ClickTimes(out);
  ASSERT_GE(clicks.size(), 9u);
  for (size_t i = 1; i < clicks.size(); ++i) EXPECT_NEAR(clicks[i] - clicks[i - 1], kBeat, 0.002);

  ChangeLoopSize(0, 1);  // 8 beats
  EXPECT_DOUBLE_EQ(Deck().loopOut, 5.0 * kRate);
  ChangeLoopSize(0, -3);  // 1 beat: a deck past the new end wraps into it
  EXPECT_DOUBLE_EQ(Deck().loopOut, 1.5 * kRate);
  EXPECT_LT(Seconds(), 1.5);
  ChangeLoopSize(0, 10);
  EXPECT_EQ(LiveDeckViews[0].loopSizeIndex, kLoopSizeCount - 1);
  ChangeLoopSize(0, 1);
  EXPECT_EQ(LiveDeckViews[0].loopSizeIndex, kLoopSizeCount - 1) << "32 beats is the largest";
  ToggleAutoLoop(0);
  EXPECT_FALSE(Deck().loopOn);
}

TEST_F(Loop, ManualLoopInOutReloopScaleAndMove) {
  PlayFrom(2.0);
  LoopIn(0);
  const double in = Deck().position;
  EXPECT_FALSE(Deck().loopOn);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck().position = in + 0.010 * kRate;
  }
  LoopOut(0);
  EXPECT_EQ(Status.text, L"Set LOOP IN first, then OUT a little later");
  EXPECT_FALSE(Deck().loopOn);
  RenderPeriods(100);
  LoopOut(0);
  EXPECT_TRUE(Deck().loopOn);
  const double length = Deck().loopOut - in;
  EXPECT_NEAR(length, 0.010 * kRate + 100 * kFramesPerPeriod, 1.0);

  Reloop(0);
  EXPECT_FALSE(Deck().loopOn);
  RenderPeriods(50);
  Reloop(0);
  EXPECT_TRUE(Deck().loopOn);
  EXPECT_DOUBLE_EQ(Deck().position, in);

  ScaleLoop(0, 0.5);
  EXPECT_DOUBLE_EQ(Deck().loopOut - Deck().loopIn, length / 2);
  MoveLoop(0, 2);
  EXPECT_NEAR(Deck().loopIn, in + length, 1e-6);
  EXPECT_NEAR(Deck().position, in + length, 1e-6) << "the playhead moves with the loop";
  MoveLoop(0, 100);  // past the end: refused
  EXPECT_NEAR(Deck().loopIn, in + length, 1e-6);

  // A loop near the end may still double; a 15 ms loop may not halve.
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck().loopIn = 15.0 * kRate;
    Deck().loopOut = 15.9 * kRate;
  }
  ScaleLoop(0, 2.0);
  EXPECT_DOUBLE_EQ(Deck().loopOut, 16.8 * kRate);
  const double shortEnd = 15.0 * kRate + 0.015 * kRate;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck().loopOut = shortEnd;
  }
  ScaleLoop(0, 0.5);
  EXPECT_DOUBLE_EQ(Deck().loopOut, shortEnd);
}

TEST_F(Loop, RollRepeatsHalfBeatsThenDropsBackWhereTheTrackWouldBe) {
  LoopRoll(0, 3);
  EXPECT_FALSE(Deck().loopOn) << "a roll needs a playing deck";
  PlayFrom(2.1);
  const double before = Deck().position;
  LoopRoll(0, 3);  // 1/2 beat from beat 4: 2.0 .. 2.25 s
  EXPECT_EQ(LiveDeckViews[0].rollIndex, 3);
  EXPECT_DOUBLE_EQ(Deck().loopIn, 2.0 * kRate);
  EXPECT_DOUBLE_EQ(Deck().loopOut, 2.25 * kRate);
  const std::vector<float> out = RenderPeriods(100);
  const std::vector<double> clicks = ClickTimes(out);
  ASSERT_GE(clicks.size(), 3u);
  for (size_t i = 1; i < clicks.size(); ++i) EXPECT_NEAR(clicks[i] - clicks[i - 1], 0.25, 0.002);
  EndLoopRoll(0);
  EXPECT_FALSE(Deck().loopOn);
  EXPECT_EQ(LiveDeckViews[0].rollIndex, -1);
  EXPECT_NEAR(Deck().position, before + 100 * kFramesPerPeriod, 1.0);
}

TEST_F(Loop, SlicerEntersTheChosenBeatAtTheSamePhase) {
  PlayFrom(4.65);  // beat 9.3 of the block 8..15
  const double x = Deck().position / kRate / kBeat;
  SliceLoop(0, 2);
  EXPECT_DOUBLE_EQ(Deck().loopIn, 5.0 * kRate);
  EXPECT_DOUBLE_EQ(Deck().loopOut, 5.5 * kRate);
  EXPECT_NEAR(Deck().position, (5.0 + (x - std::floor(x)) * kBeat) * kRate, 1e-6);
  EXPECT_EQ(LiveDeckViews[0].rollIndex, 2);
  RenderPeriods(30);
  EndLoopRoll(0);
  EXPECT_FALSE(Deck().loopOn);
}

TEST_F(Loop, JogReleaseReturnsToTheShadowOnlyWithSlip) {
  for (bool slip : {true, false}) {
    if (slip) ToggleSlip(0);
    PlayFrom(5.0);
    const double before = Deck().position;
    JogTouch(0);
    JogScratch(0, -1.0);
    RenderPeriods(40);
    EXPECT_LT(Deck().position, before) << "the scratch pulled the deck back";
    JogRelease(0);
    if (slip) EXPECT_NEAR(Deck().position, before + 40 * kFramesPerPeriod, 1.0);
    else EXPECT_LT(Deck().position, before);
    EXPECT_FALSE(Deck().jogTouched);
    PlayPause(0);
    if (slip) ToggleSlip(0);
  }
  EXPECT_FALSE(Deck().slipMode);
}

// A touch of a still jog holds the playing record where it is at once: it does not rock about the
// touched place, and within 20 ms the master is silent.
TEST_F(Loop, JogTouchHoldsThePlayingDeckAtOnce) {
  PlayFrom(5.2);  // between clicks, over the steady tone
  JogTouch(0);
  const double touched = Deck().position;
  RenderPeriods(2);
  const double held = Deck().position;
  EXPECT_NEAR(held, touched, kFramesPerPeriod) << "the deck ran on after the touch";
  const std::vector<float> out = RenderPeriods(30);
  float loudest = 0.0f;
  for (float v : out) loudest = std::max(loudest, std::abs(v));
  EXPECT_LT(loudest, 0.001f) << "20 ms after the touch the held deck still sounds";
  EXPECT_NEAR(Deck().position, held, 1.0) << "the held deck rocked about the touched place";
  JogRelease(0);
}

TEST_F(Loop, CensorPlaysBackwardsAndDropsBackIn) {
  PlayFrom(6.0);
  const double before = Deck().position;
  CensorPress(0);
  EXPECT_TRUE(Deck().reverse);
  EXPECT_TRUE(LiveDeckViews[0].censorHeld);
  RenderPeriods(50);
  EXPECT_LT(Deck().position, before);
  CensorRelease(0);
  EXPECT_FALSE(Deck().reverse);
  EXPECT_NEAR(Deck().position, before + 50 * kFramesPerPeriod, 1.0);

  // REV with SLIP runs over the shadow too; without SLIP it just turns.
  ToggleReverse(0);
  RenderPeriods(20);
  EXPECT_TRUE(Deck().reverse);
  ToggleReverse(0);
  EXPECT_FALSE(Deck().slipOn);
}

TEST_F(Loop, BeatJumpsMoveTheDeckAndItsLoopWithinTheTrack) {
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck().position = 1.0 * kRate;
    Deck().loopIn = 1.0 * kRate;
    Deck().loopOut = 2.0 * kRate;
    Deck().loopOn = true;
  }
  BeatJump(0, 4);
  EXPECT_DOUBLE_EQ(Seconds(), 3.0);
  EXPECT_DOUBLE_EQ(Deck().cuePoint, 3.0 * kRate) << "a paused deck's cue follows";
  EXPECT_DOUBLE_EQ(Deck().loopIn, 3.0 * kRate);
  EXPECT_DOUBLE_EQ(Deck().loopOut, 4.0 * kRate);
  Deck().loopOn = false;
  BeatJump(0, 1000);
  EXPECT_DOUBLE_EQ(Deck().position, static_cast<double>(Deck().track->frames - 1));
  PlayFrom(8.0);
  const double playingAt = Seconds();
  BeatJump(0, -8);
  EXPECT_NEAR(Seconds(), playingAt - 4.0, 1e-9);
}

TEST_F(Loop, SeekToFractionEndsShadowAndLoopsLeftBehind) {
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck().loopIn = 1.0 * kRate;
    Deck().loopOut = 2.0 * kRate;
    Deck().loopOn = true;
    Deck().slipOn = true;
  }
  SeekToFraction(0, 0.5);
  EXPECT_DOUBLE_EQ(Deck().position, 0.5 * static_cast<double>(Deck().track->frames));
  EXPECT_DOUBLE_EQ(Deck().cuePoint, Deck().position);
  EXPECT_FALSE(Deck().loopOn);
  EXPECT_FALSE(Deck().slipOn);
  SeekToFraction(0, 7.0);
  EXPECT_DOUBLE_EQ(Deck().position, static_cast<double>(Deck().track->frames - 1));
}

TEST_F(Loop, BrakeStopsThePlayingDeck) {
  BrakeOrSpin(0, kBrakeAction);
  EXPECT_EQ(Deck().stopMode, kStopNone) << "only a playing deck brakes";
  PlayFrom(2.0);
  BrakeOrSpin(0, kBrakeAction);
  EXPECT_EQ(Deck().stopMode, kStopBrake);
  int periods = 0;
  while (Deck().playing && periods < 500) {
    RenderPeriods(1);
    ++periods;
  }
  EXPECT_FALSE(Deck().playing);
  EXPECT_GT(periods, 20) << "the brake slows the deck down over time";
  PlayPause(0);
  BrakeOrSpin(0, kBackspinAction);
  EXPECT_EQ(Deck().stopMode, kStopBackspin);
}

}  // namespace
