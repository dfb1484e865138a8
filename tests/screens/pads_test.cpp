// The pad section driven by scripted mouse frames: hot cues on a real click track, the × box,
// the KEYS pads, the tabs' label choice, the REC target and the effect rows.
#include <gtest/gtest.h>

#include <mutex>

#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/effects.h"
#include "engine/engine.h"
#include "screens/deck_panel.h"
#include "screens/pads.h"
#include "support/click_tracks.h"
#include "tests/ui/widget_frames.h"

namespace {

constexpr Rc kSection{20, 20, 560, 340};

class Pads : public WidgetFrames {
 protected:
  void SetUp() override {
    WidgetFrames::SetUp();
    ResetDecksForTest();
    SamplerShot = SamplerSnapshot{};
  }
  void TearDown() override {
    ResetDecksForTest();
    SamplerShot = SamplerSnapshot{};
    WidgetFrames::TearDown();
  }
  static void Load() {
    static ClickTrackFolder folder;
    ClickTrack click;
    click.seconds = 12;
    ASSERT_TRUE(LoadAndWait(0, folder.Make(click)));
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].track->bpm = 120.0;  // an exact grid: beats every 0.5 s from 0
    Engine.decks[0].track->firstBeat = 0.0;
  }
  static void Draw() {
    SnapshotDecks();
    Frame([] { DrawPads(0, kSection); });
  }
  static void Click(float x, float y) {
    Press(x, y), Draw();
    Release(), Draw();
  }
  static void ClickPad(int i) {
    const Rc pad = PadRect(kSection, LiveDeckViews[0].padMode, i);
    Click(pad.x + 10, pad.CenterY() + 5);
  }
  static double Position() {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    return Engine.decks[0].position;
  }
  static void SetPosition(double frames) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].position = frames;
  }
};

TEST_F(Pads, HotCuePadSetsThenJumpsAndTheCrossDeletesWithoutFiring) {
  Load();
  SetPosition(88200);  // 2 s, on a beat
  ClickPad(2);
  SnapshotDecks();
  ASSERT_NEAR(DeckSnapshots[0].hotCueStart[2], 88200, 1.0) << "an empty pad stores the position";
  SetPosition(300000);
  ClickPad(2);
  EXPECT_NEAR(Position(), 88200, 1.0) << "a set pad jumps to its cue";

  // Hovering shows the × box; pressing it deletes the cue and the pad does not store a new one.
  SetPosition(300000);
  const Rc pad = PadRect(kSection, 0, 2);
  MoveTo(pad.x + 10, pad.y + 10), Draw();
  Click(pad.Right() - 9, pad.y + 9);
  SnapshotDecks();
  EXPECT_LT(DeckSnapshots[0].hotCueStart[2], 0) << "deleted, and not set again at the new position";
  EXPECT_NEAR(Position(), 300000, 1.0);

  // Shift on a set pad deletes it too.
  ClickPad(5);
  Input.shiftHeld = true;
  ClickPad(5);
  Input.shiftHeld = false;
  SnapshotDecks();
  EXPECT_LT(DeckSnapshots[0].hotCueStart[5], 0);
}

TEST_F(Pads, TabsSelectModesAndKeysPadsToggleTheShift) {
  const Rc section = kSection;
  const float tw = (section.w - 21) / 8;
  Click(section.x + 5 * (tw + 3) + 4, section.y + 9);  // the sixth tab is KEYS
  ASSERT_EQ(LiveDeckViews[0].padMode, kPadModeKeys);
  ClickPad(6);
  EXPECT_EQ(LiveDeckViews[0].keyShift, -3);
  ClickPad(1);
  EXPECT_EQ(LiveDeckViews[0].keyShift, 2);
  ClickPad(1);
  EXPECT_EQ(LiveDeckViews[0].keyShift, 0) << "the lit pad returns the shift to 0";
  Click(section.x + 7 * (tw + 3) + 4, section.y + 9);
  EXPECT_EQ(LiveDeckViews[0].padMode, kPadModeSampler);
}

TEST_F(Pads, PadSizesTabLabelsAndRecordTarget) {
  EXPECT_FALSE(PadTabsShort(560));
  EXPECT_TRUE(PadTabsShort(200)) << "a narrow section uses the short labels";
  const Rc tight{0, 0, 400, 150};
  EXPECT_FLOAT_EQ(PadRect(tight, kPadModeCues, 0).h, 22.0f);
  EXPECT_FLOAT_EQ(PadRect(tight, kPadModeSampler, 0).h, 14.0f);
  EXPECT_FLOAT_EQ(PadRect(Rc{0, 0, 400, 900}, kPadModeCues, 0).h, 64.0f);
  const Rc last = PadRect(Rc{0, 0, 418, 300}, kPadModeCues, 7);
  EXPECT_FLOAT_EQ(last.x, 3 * (100.0f + 6));
  EXPECT_FLOAT_EQ(last.w, 100.0f);

  for (auto& name : SamplerShot.padName) name = L"KICK";
  EXPECT_EQ(RecordTargetPad(), 7) << "every pad named: pad 8";
  SamplerShot.padName[3].clear();
  EXPECT_EQ(RecordTargetPad(), 3);
  EXPECT_EQ(NearestBeatLength(0.3f), 1);
  EXPECT_EQ(NearestBeatLength(100.0f), kBeatLengthCount - 1);
}

TEST_F(Pads, EffectRowsStepEffectsSwitchingOffAndCycleBeats) {
  DeckView& view = LiveDeckViews[0];
  const float row0 = kSection.Bottom() - 84 + 12;
  view.fxSlotOn[0] = true;
  Click(kSection.x + 9, row0);  // ◂ from ECHO wraps to DUB ECHO
  EXPECT_EQ(view.fxSlotEffect[0], 17u);
  EXPECT_FALSE(view.fxSlotOn[0]) << "changing the effect switches the slot off";
  Click(kSection.Right() - 53, row0);  // ON
  EXPECT_TRUE(view.fxSlotOn[0]);
  Click(kSection.x + 60, row0);  // the name: next effect, ECHO
  EXPECT_EQ(view.fxSlotEffect[0], 0u);
  EXPECT_FALSE(view.fxSlotOn[0]);
  Click(kSection.Right() - 94, row0);  // beat: 1/2 -> 3/4
  EXPECT_FLOAT_EQ(view.fxParam[0], 0.75f);
  Input.shiftHeld = true;
  Click(kSection.Right() - 94, row0);
  Click(kSection.Right() - 94, row0);
  Input.shiftHeld = false;
  EXPECT_FLOAT_EQ(view.fxParam[0], 0.375f);
  MoveTo(kSection.Right() - 94, row0);
  Input.rightPressed = true, Draw();
  EXPECT_FLOAT_EQ(view.fxParam[0], kDefaultFxParams[0]) << "a right-click restores the default";
}

}  // namespace
