// PLAY/PAUSE, CUE and hot cues on a real click track loaded through LoadTrack, rendered with
// RenderMix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>

#include "app/load_settings.h"
#include "app/session.h"
#include "base/settings.h"
#include "base/track_info.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/transport.h"
#include "engine/undo.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"

namespace {

constexpr double kRate = 44100.0;
constexpr double kConsumed = kRate / kTestRate;  // source frames per output frame at rate 1

class Transport : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    static ClickTrackFolder folder;
    ClickTrack spec;
    spec.seconds = 12.0;
    path_ = folder.Make(spec);  // 120 BPM: a click every 0.5 s
    ASSERT_TRUE(LoadAndWait(0, path_));
  }
  void TearDown() override { ResetDecksForTest(); }

  DeckState& Deck() { return Engine.decks[0]; }
  void Place(double seconds) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck().position = seconds * kRate;
  }
  double Seconds() { return Deck().position / kRate; }

  std::string path_;
};

// The largest change between two neighbouring output samples (left channel) in [from, to).
float LargestStep(const std::vector<float>& out, size_t from, size_t to) {
  float largest = 0.0f;
  for (size_t i = std::max<size_t>(from, 1); i < to && i < out.size() / 2; ++i)
    largest = std::max(largest, std::abs(out[2 * i] - out[2 * (i - 1)]));
  return largest;
}

TEST_F(Transport, PlayFromTheLastFrameRestartsAndPauseFadesOut) {
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck().position = static_cast<double>(Deck().track->frames - 1);
  }
  PlayPause(0);
  EXPECT_TRUE(Deck().playing);
  EXPECT_DOUBLE_EQ(Deck().position, Deck().cuePoint);

  Place(0.2);  // between clicks: only the tone sounds where the pause falls
  RenderPeriods(10);
  PlayPause(0);
  EXPECT_FALSE(Deck().playing);
  const double pausedAt = Deck().position;
  const std::vector<float> out = RenderPeriods(3);
  EXPECT_DOUBLE_EQ(Deck().position, pausedAt);
  // The tone fades over a few ms instead of stopping dead; then silence.
  EXPECT_GT(std::abs(out[2 * 10]), 0.005f) << "the fade starts from the sounding tone";
  EXPECT_LT(LargestStep(out, 0, out.size() / 2), 0.01f);
  EXPECT_LT(std::abs(out[out.size() - 2]), 1e-6f);
}

TEST_F(Transport, CueReturnsPreviewsAndMoves) {
  const double cue = Deck().cuePoint;
  // Playing: back to the cue point, paused.
  PlayPause(0);
  RenderPeriods(20);
  CuePress(0);
  EXPECT_FALSE(Deck().playing);
  EXPECT_DOUBLE_EQ(Deck().position, cue);

  // 3 ms from the cue point: previews while held, stops on the cue point when released.
  Place(cue / kRate + 0.003);
  CuePress(0);
  EXPECT_TRUE(Deck().playing);
  EXPECT_TRUE(LiveDeckViews[0].cuePreview);
  RenderPeriods(20);
  EXPECT_GT(Deck().position, cue + 0.1 * kRate);
  CueRelease(0);
  EXPECT_FALSE(Deck().playing);
  EXPECT_DOUBLE_EQ(Deck().position, cue);

  // PLAY while CUE is held turns the preview into play; the release then changes nothing.
  CuePress(0);
  PlayPause(0);
  CueRelease(0);
  EXPECT_TRUE(Deck().playing);
  PlayPause(0);

  // 10 ms away the cue point moves there instead.
  Place(cue / kRate + 0.010);
  const double there = Deck().position;
  CuePress(0);
  EXPECT_FALSE(Deck().playing);
  EXPECT_DOUBLE_EQ(Deck().cuePoint, there);
}

TEST_F(Transport, QuantiseSnapsCuesAndHotCuesToTheNearestBeat) {
  Settings.Quantize = true;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck().track->firstBeat = 0.4;  // beats at 0.4, 0.9, 1.4...
  }
  Place(1.1);  // nearer 0.9 than 1.4
  CuePress(0);
  EXPECT_NEAR(Deck().cuePoint, 0.9 * kRate, 1e-6);
  Place(1.2);
  PressHotCue(0, 2);
  EXPECT_NEAR(Deck().hotCueStart[2], 1.4 * kRate, 1e-6);
  Place(0.05);  // the nearest beat, -1, lies before the track
  CuePress(0);
  EXPECT_DOUBLE_EQ(Deck().cuePoint, 0.0);
}

TEST_F(Transport, HotCuesSetJumpStoreLoopsAndDelete) {
  Place(2.0);
  PressHotCue(0, 0);
  EXPECT_DOUBLE_EQ(Deck().hotCueStart[0], 2.0 * kRate);
  EXPECT_DOUBLE_EQ(Deck().hotCueEnd[0], -1.0);
  EXPECT_DOUBLE_EQ(Seconds(), 2.0) << "setting a cue does not move the deck";

  Place(5.0);
  PressHotCue(0, 0);
  EXPECT_DOUBLE_EQ(Seconds(), 2.0);
  EXPECT_DOUBLE_EQ(Deck().cuePoint, 2.0 * kRate);

  // A running loop is stored in an empty slot; pressing the slot later re-enters it.
  PlayPause(0);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck().loopIn = 6.0 * kRate;
    Deck().loopOut = 8.0 * kRate;
    Deck().loopOn = true;
  }
  PressHotCue(0, 1);
  EXPECT_DOUBLE_EQ(Deck().hotCueStart[1], 6.0 * kRate);
  EXPECT_DOUBLE_EQ(Deck().hotCueEnd[1], 8.0 * kRate);
  Deck().loopOn = false;
  RenderPeriods(10);
  PressHotCue(0, 1);
  EXPECT_TRUE(Deck().loopOn);
  EXPECT_DOUBLE_EQ(Seconds(), 6.0);
  RenderPeriods(250);  // 2.5 s: the loop holds the deck
  EXPECT_GE(Seconds(), 6.0);
  EXPECT_LT(Seconds(), 8.0);

  DeleteHotCue(0, 5);
  EXPECT_TRUE(UndoStack.empty()) << "an empty slot pushes no undo record";
  LiveDeckViews[0].hotCueName[0] = L"INTRO";
  LiveDeckViews[0].hotCueColour[0] = 4;
  DeleteHotCue(0, 0);
  EXPECT_DOUBLE_EQ(Deck().hotCueStart[0], -1.0);
  EXPECT_TRUE(LiveDeckViews[0].hotCueName[0].empty());
  EXPECT_EQ(LiveDeckViews[0].hotCueColour[0], -1);
  ASSERT_EQ(UndoStack.size(), 1u);
  EXPECT_EQ(UndoStack.back().label, L"deleted hot cue 1");
  EXPECT_EQ(UndoStack.back().hotCueName[0], L"INTRO");

  ClearHotCues(0);
  EXPECT_DOUBLE_EQ(Deck().hotCueStart[1], -1.0);
  EXPECT_DOUBLE_EQ(Deck().hotCueEnd[1], -1.0);
  EXPECT_EQ(UndoStack.back().label, L"cleared all hot cues");
}

TEST_F(Transport, StoreDeckCuesWritesNamesColoursAndMemoryCues) {
  DeckView& view = LiveDeckViews[0];
  view.hotCueName[3] = L"DROP";
  view.hotCueColour[3] = 0;
  view.memoryCues = {1.0, 2.5};
  StoreDeckCues(0);
  const TrackInfo* record = FindTrackInfo(Utf8ToWide(path_));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->hotCueName[3], L"DROP");
  EXPECT_EQ(record->hotCueColor[3], 0);
  EXPECT_EQ(record->memoryCues, view.memoryCues);
}

TEST(TransportShift, HeldByControllerKeyOrMouse) {
  EXPECT_FALSE(IsUiControlHeld());
  ControllerShiftHeld = true;
  EXPECT_TRUE(IsUiControlHeld());
  ControllerShiftHeld = false;
  heldIds.insert(33);
  EXPECT_TRUE(IsUiControlHeld());
  heldIds.clear();
  ActiveControlId = 33;
  Input.held = false;
  EXPECT_FALSE(IsUiControlHeld());
  Input.held = true;
  EXPECT_TRUE(IsUiControlHeld());
  Input.held = false;
  ActiveControlId = kNoActiveControl;
}

}  // namespace

// A deck saved at its very end comes back from the session file a fraction of a frame short of
// it; PLAY must then start from the cue point, not play that fraction and stop.
TEST_F(Transport, PlayOnADeckRestoredAtItsEndStartsFromTheCue) {
  TempHome home;
  LoadSettings();
  const double cue = 2.0 * kRate;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck().position = static_cast<double>(Deck().track->frames - 1);
  }
  ASSERT_TRUE(SaveSession());
  ResetDecksForTest();
  LoadSession();
  for (int i = 0; i < 2000 && LiveDeckViews[0].loading; ++i) {
    DrainDeckLoads();
    SleepMs(5);
  }
  ASSERT_TRUE(Deck().track);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    EXPECT_GT(Deck().position, static_cast<double>(Deck().track->frames) - 2.0) << "restored at the end";
    Deck().cuePoint = cue;
  }
  PlayPause(0);
  RenderPeriods(10);
  EXPECT_TRUE(Deck().playing);
  // Ten periods on from the cue, less the first period's ramp up from standstill.
  EXPECT_GT(Deck().position, cue + 9 * kTestPeriod * kConsumed);
  EXPECT_LT(Deck().position, cue + 10 * kTestPeriod * kConsumed + 1);
}
