// The dispatcher on real decks (click tracks through LoadTrack): every control acts without any
// widget being drawn, on the deck its side shows.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <string>

#include "base/settings.h"
#include "control/control_ids.h"
#include "control/dispatcher.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/side_slots.h"
#include "library/track_view.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"

namespace {

constexpr double kRate = 44100.0;

DeckPlace Place(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  return Engine.decks[deck];
}
void SetPosition(int deck, double seconds) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  Engine.decks[deck].position = Engine.decks[deck].cuePoint = seconds * kRate;
}
double LoopBeats(int deck) {
  const DeckPlace p = Place(deck);
  return p.loopOn ? (p.loopOut - p.loopIn) / (kRate * 0.5) : 0.0;  // 120 BPM: 0.5 s a beat
}
void Deck(int offset, const ControlEvent& e, int side = 0) { ApplyMappedControl(DeckControl(side, offset), e); }
void Press(int offset, int side = 0) {
  Deck(offset, PressEvent(), side);
  Deck(offset, ReleaseEvent(), side);
}

class Dispatcher : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    Settings = SettingsRecord{};
    SideSlots[0] = 0, SideSlots[1] = 1;
    heldIds.clear(), pressedIds.clear(), releasedIds.clear(), absolutePositions.clear();
    ControllerShiftHeld = false;
    for (float& last : PitchTakeover) last = -1.0f;
    static ClickTrackFolder folder;
    ClickTrack spec;
    spec.seconds = 20.0;
    const std::string path = folder.Make(spec);
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(LoadAndWait(0, path));
    ASSERT_TRUE(LoadAndWait(1, path));
  }
  void TearDown() override {
    ResetDecksForTest();
    heldIds.clear(), pressedIds.clear(), releasedIds.clear(), absolutePositions.clear();
    ControllerShiftHeld = false;
  }
  TempHome home;
};

TEST_F(Dispatcher, PitchFaderTakesOverOnlyAfterReachingTheScreenPosition) {
  LiveDeckViews[0].tempoFader = 0.2f;
  PitchTakeover[0] = 0.95f;
  Deck(kPitchOffset, ValueEvent(0.9f));
  EXPECT_FLOAT_EQ(LiveDeckViews[0].tempoFader, 0.2f);
  Deck(kPitchOffset, ValueEvent(0.1f));  // crossed 0.2
  EXPECT_FLOAT_EQ(LiveDeckViews[0].tempoFader, 0.1f);
  Deck(kPitchOffset, ValueEvent(0.12f));
  EXPECT_FLOAT_EQ(LiveDeckViews[0].tempoFader, 0.12f);

  Settings.FlipPitch = true;
  PitchTakeover[1] = -1.0f;
  Deck(kPitchOffset, ValueEvent(0.25f), 1);
  EXPECT_FLOAT_EQ(LiveDeckViews[1].tempoFader, 0.75f);
}

TEST_F(Dispatcher, ChannelStripMixerAndNonFiniteValues) {
  Deck(kFilterOffset, ValueEvent(0.51f));
  EXPECT_EQ(LiveDeckViews[0].filter, 0.0f);
  Deck(kFilterOffset, ValueEvent(1.0f));
  EXPECT_FLOAT_EQ(LiveDeckViews[0].filter, 1.0f);
  Deck(kVolumeOffset, ValueEvent(0.3f), 1);
  EXPECT_FLOAT_EQ(LiveDeckViews[1].fader, 0.3f);
  Deck(kVolumeOffset, ValueEvent(NAN), 1);
  Deck(kVolumeOffset, ValueEvent(INFINITY), 1);
  EXPECT_FLOAT_EQ(LiveDeckViews[1].fader, 0.3f);

  XfGlide.active = true;
  ApplyMappedControl(kCrossfaderControl, ValueEvent(0.25f));
  EXPECT_FLOAT_EQ(CrossfaderPosition, 0.25f);
  EXPECT_FALSE(XfGlide.active);
  ApplyMappedControl(kGlideControl, PressEvent());
  EXPECT_TRUE(GlidingTowards(1.0f));
  ApplyMappedControl(20, ValueEvent(0.6f));  // the MASTER knob's widget id
  EXPECT_FLOAT_EQ(MasterSection.masterLevel, 0.6f);

  ApplyMappedControl(kShiftControl, PressEvent());
  EXPECT_TRUE(IsShiftHeld());
  ApplyMappedControl(kShiftControl, ReleaseEvent());
  EXPECT_FALSE(IsShiftHeld());
}

TEST_F(Dispatcher, BeatLoopPadsToggleAndResizeWithinOneFrame) {
  Press(kPlayOffset);
  ASSERT_TRUE(Place(0).playing);
  Press(kBeatLoopOffset + 2);  // beat loop 3: 1 beat
  EXPECT_NEAR(LoopBeats(0), 1.0, 0.01);
  Press(kBeatLoopOffset + 2);
  EXPECT_FALSE(Place(0).loopOn);
  Press(kBeatLoopOffset + 2);
  Press(kBeatLoopOffset + 3);  // 2 beats replaces the 1-beat loop
  EXPECT_NEAR(LoopBeats(0), 2.0, 0.01);
}

TEST_F(Dispatcher, JogMovesAPausedDeckByTicksFeelAndSearch) {
  Settings.JogTicks = 720, Settings.JogFeel = 1;
  SetPosition(0, 5.0);
  LiveDeckViews[0].vinylMode = false;
  Deck(kJogOffset, DeltaEvent(720));
  EXPECT_NEAR(Place(0).position / kRate, 6.8, 1e-6);
  Settings.JogFeel = 2;
  Deck(kJogOffset, DeltaEvent(-720));
  EXPECT_NEAR(Place(0).position / kRate, 6.8 - 2.88, 1e-6);
  Settings.JogFeel = 1, Settings.JogTicks = 10;  // below 32 counts as 32
  SetPosition(0, 5.0);
  Deck(kJogOffset, DeltaEvent(32));
  EXPECT_NEAR(Place(0).position / kRate, 6.8, 1e-6);

  SetPosition(0, 5.0);
  Deck(kJogSearchOffset, DeltaEvent(4));
  EXPECT_NEAR(Place(0).position / kRate, 6.0, 1e-6);
  EXPECT_NEAR(Place(0).cuePoint / kRate, 6.0, 1e-6);
  Deck(kJogSearchOffset, DeltaEvent(-1000));
  EXPECT_EQ(Place(0).position, 0.0);

  Press(kPlayOffset);
  LiveDeckViews[0].jogBend = 0.0f;
  Deck(kJogOffset, DeltaEvent(5));
  EXPECT_NEAR(LiveDeckViews[0].jogBend, 0.03f, 1e-6);
  Deck(kJogOffset, DeltaEvent(1000));
  EXPECT_FLOAT_EQ(LiveDeckViews[0].jogBend, 0.3f);
}

TEST_F(Dispatcher, VinylTouchScratchesAndARescanReleasesIt) {
  LiveDeckViews[0].vinylMode = true;
  Press(kPlayOffset);
  Deck(kJogTouchOffset, PressEvent());
  EXPECT_TRUE(LiveDeckViews[0].jogScratching);
  EXPECT_TRUE(Place(0).jogTouched);
  ReleaseControllerState();
  EXPECT_FALSE(LiveDeckViews[0].jogScratching);
  EXPECT_FALSE(LiveDeckViews[0].jogHeld);
  EXPECT_FALSE(Place(0).jogTouched);

  Deck(kJogTouchOffset, PressEvent());
  Press(kVinylOffset);  // vinyl off while scratching lets go
  EXPECT_FALSE(LiveDeckViews[0].vinylMode);
  EXPECT_FALSE(Place(0).jogTouched);
}

TEST_F(Dispatcher, PitchRangeCycleKeepsTheTempo) {
  DeckView& view = LiveDeckViews[1];
  view.pitchRange = 0.08f, view.tempoFader = 0.25f;  // +4 %
  Press(kPitchRangeOffset, 1);
  EXPECT_FLOAT_EQ(view.pitchRange, 0.10f);
  EXPECT_NEAR(TempoOffsetOf(view), 0.04, 1e-6);
  view.pitchRange = 0.50f, view.tempoFader = 0.0f;  // +50 % does not fit ±6 %
  Press(kPitchRangeOffset, 1);
  EXPECT_FLOAT_EQ(view.pitchRange, 0.06f);
  EXPECT_EQ(view.tempoFader, 0.0f);
}

TEST_F(Dispatcher, PadReleasesEndOnlyTheirOwnRoll) {
  Press(kPlayOffset);
  Deck(kPadOffset + 2, ReleaseEvent());  // CUES: nothing
  LiveDeckViews[0].padMode = 1;           // ROLL
  Deck(kPadOffset + 2, PressEvent());
  EXPECT_EQ(LiveDeckViews[0].rollIndex, 2);
  Deck(kPadOffset + 1, ReleaseEvent());
  EXPECT_EQ(LiveDeckViews[0].rollIndex, 2);
  Deck(kPadOffset + 2, ReleaseEvent());
  EXPECT_EQ(LiveDeckViews[0].rollIndex, -1);
}

TEST_F(Dispatcher, LeftSideActsOnDeckCAndPlainWidgetsAreHeldOnce) {
  SideSlots[0] = 2;
  Press(kHeadphoneCueOffset);
  EXPECT_TRUE(LiveDeckViews[2].headphoneCue);
  EXPECT_FALSE(LiveDeckViews[0].headphoneCue);

  ApplyMappedControl(777, PressEvent());
  pressedIds.clear();
  ApplyMappedControl(777, PressEvent());
  EXPECT_TRUE(pressedIds.empty());
  EXPECT_EQ(heldIds.count(777), 1u);
  ApplyMappedControl(777, ReleaseEvent());
  EXPECT_EQ(heldIds.count(777), 0u);
  EXPECT_EQ(releasedIds.count(777), 1u);
  ApplyMappedControl(777, DeltaEvent(3));  // a relative event does nothing to a button widget
  EXPECT_TRUE(heldIds.empty());

  Deck(kBendUpOffset, PressEvent(), 1);
  EXPECT_EQ(heldIds.count(1106), 1u);
  EXPECT_FLOAT_EQ(LiveDeckViews[1].bendHeld, kNudgeBend);
  Deck(kBendUpOffset, ReleaseEvent(), 1);
  EXPECT_EQ(LiveDeckViews[1].bendHeld, 0.0f);
}

TEST_F(Dispatcher, BrowseMovesAtMostEightRows) {
  ViewItems.clear();
  for (int i = 0; i < 30; ++i)
    ViewItems.push_back({.path = L"/x/" + std::to_wstring(i), .title = L"t", .searchText = L"t", .index = uint32_t(i)});
  RebuildView();
  Selection = 0;
  ApplyMappedControl(kBrowseControl, DeltaEvent(40));
  EXPECT_EQ(Selection, 8);
  ApplyMappedControl(kBrowseControl, DeltaEvent(0));
  EXPECT_EQ(Selection, 8);
  ViewItems.clear();
  RebuildView();
}

}  // namespace
