// The pitch fader column and the jog wheel driven by scripted mouse frames on a real click track.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <numbers>

#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "screens/deck_panel.h"
#include "screens/pitch_jog.h"
#include "support/click_tracks.h"
#include "tests/ui/widget_frames.h"

namespace {

constexpr Rc kColumn{20, 20, 44, 300};
constexpr float kJogX = 300, kJogY = 180, kJogR = 88;

class PitchJog : public WidgetFrames {
 protected:
  void SetUp() override {
    WidgetFrames::SetUp();
    ResetDecksForTest();
  }
  void TearDown() override {
    ResetDecksForTest();
    WidgetFrames::TearDown();
  }
  static void Load() {
    static ClickTrackFolder folder;
    ClickTrack click;
    click.seconds = 12;
    ASSERT_TRUE(LoadAndWait(0, folder.Make(click)));
  }
  static void Draw() {
    SnapshotDecks();
    Frame([] {
      DrawPitchFader(0, kColumn);
      DrawJog(0, kJogX, kJogY, kJogR);
    });
  }
  static double Seconds() {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    return Engine.decks[0].position / Engine.decks[0].track->sampleRate;
  }
  static void SetSeconds(double s) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].position = s * Engine.decks[0].track->sampleRate;
  }
  static void Click(float x, float y) {
    Press(x, y), Draw();
    Release(), Draw();
  }
};

TEST_F(PitchJog, FaderDragSetsTempoWithinTheRangeBottomFaster) {
  DeckView& view = LiveDeckViews[0];
  // The fader spans y 46..270; drag the cap from the centre to the very bottom.
  Press(kColumn.CenterX(), 158), Draw();
  MoveTo(kColumn.CenterX(), 600), Draw();
  Release(), Draw();
  EXPECT_FLOAT_EQ(view.tempoFader, 0.0f);
  EXPECT_NEAR(TempoOffsetOf(view), 0.08, 1e-6) << "the bottom plays +range";
  Press(kColumn.CenterX(), 265), Draw();
  MoveTo(kColumn.CenterX(), -600), Draw();
  Release(), Draw();
  EXPECT_NEAR(TempoOffsetOf(view), -0.08, 1e-6) << "the top plays -range";
}

TEST_F(PitchJog, RangeButtonStepsThroughTheListKeepingTheTempo) {
  DeckView& view = LiveDeckViews[0];
  view.tempoFader = 0.25f;  // +4 % at 8 %
  Click(kColumn.CenterX(), kColumn.y + 10);
  EXPECT_FLOAT_EQ(view.pitchRange, 0.10f);
  EXPECT_NEAR(TempoOffsetOf(view), 0.04, 1e-6);
  Input.shiftHeld = true;
  Click(kColumn.CenterX(), kColumn.y + 10);
  Click(kColumn.CenterX(), kColumn.y + 10);
  Input.shiftHeld = false;
  EXPECT_FLOAT_EQ(view.pitchRange, 0.06f) << "Shift steps back";
  EXPECT_NEAR(TempoOffsetOf(view), 0.04, 1e-6);
  Input.shiftHeld = true;
  Click(kColumn.CenterX(), kColumn.y + 10);
  Input.shiftHeld = false;
  EXPECT_FLOAT_EQ(view.pitchRange, 0.50f) << "wraps from the first entry to the last";

  // A range too small for the tempo leaves the fader at its end.
  EXPECT_FLOAT_EQ(FaderForRange(0.0f, 0.5f, 0.06f), 0.0f);
  EXPECT_FLOAT_EQ(NextPitchRange(0.09f, false), 0.16f) << "0.09 is nearest to 0.08 or 0.10; either steps past it";
}

TEST_F(PitchJog, NudgeButtonsBendOnlyWhileHeldAndPlusWinsOverMinus) {
  DeckView& view = LiveDeckViews[0];
  const float rowY = kColumn.Bottom() - 11;
  Press(kColumn.x + 5, rowY), Draw();
  EXPECT_FLOAT_EQ(view.bendHeld, -kNudgeBend);
  Release(), Draw();
  EXPECT_FLOAT_EQ(view.bendHeld, 0.0f);
  heldIds.insert(DeckControlId(0, kNudgeDownCode));
  heldIds.insert(DeckControlId(0, kNudgeUpCode));
  Draw();
  EXPECT_FLOAT_EQ(view.bendHeld, kNudgeBend);
}

TEST_F(PitchJog, DraggingTheWheelScratchesByTheTurnAcrossTheAngleSeam) {
  Load();
  SetSeconds(5.0);
  // Start just above the 9 o'clock seam of atan2 and cross it: a small real turn.
  const float x = kJogX - 60 * std::cos(0.1f), yAbove = kJogY - 60 * std::sin(0.1f);
  Press(x, yAbove), Draw();
  EXPECT_TRUE(DeckSnapshots[0].jogTouched || Engine.decks[0].jogTouched);
  MoveTo(x, kJogY + 60 * std::sin(0.1f)), Draw();  // 0.2 rad anticlockwise on screen
  RenderPeriods(30);
  const double expected = 5.0 - 0.2 / (2 * std::numbers::pi) * kJogTurnSeconds;
  EXPECT_NEAR(Seconds(), expected, 0.01) << "the deck position follows the drag";
  // A quarter turn clockwise from 9 to 12 o'clock moves a quarter of 1.8 s forward.
  MoveTo(kJogX - 60, kJogY), Draw();
  MoveTo(kJogX, kJogY - 60), Draw();
  RenderPeriods(40);
  const double turn = std::numbers::pi / 2 - 0.1;  // back 0.2 rad, then on 0.1 and a quarter
  EXPECT_NEAR(Seconds(), 5.0 + turn / (2 * std::numbers::pi) * kJogTurnSeconds, 0.01);
  Release(), Draw();
  SnapshotDecks();
  EXPECT_FALSE(DeckSnapshots[0].jogTouched);
}

TEST_F(PitchJog, EmptyDeckIgnoresPressesAndWheelBendIsBounded) {
  Press(kJogX, kJogY), Draw();
  EXPECT_EQ(ActiveControlId, kNoActiveControl) << "no track: the wheel ignores the press";
  Release(), Draw();
  EXPECT_EQ(std::wstring(JogStateWord(0)), L"");
  Load();
  MoveTo(kJogX, kJogY);
  for (int i = 0; i < 8; ++i) {
    Input.wheel = 1;
    Draw();
  }
  EXPECT_FLOAT_EQ(LiveDeckViews[0].jogBend, kMaxJogBend);
  Input.wheel = -20, Draw();
  EXPECT_FLOAT_EQ(LiveDeckViews[0].jogBend, -kMaxJogBend);
  EXPECT_EQ(std::wstring(JogStateWord(0)), L"PAUSED");
}

TEST(PitchJogMaths, PlatterTurnsOncePerTurnLengthAndAngleDeltasWrap) {
  EXPECT_NEAR(PlatterAngleDegrees(0.45), 90.0, 1e-9);
  EXPECT_NEAR(PlatterAngleDegrees(1.8 + 0.9), 180.0, 1e-9);
  EXPECT_NEAR(PlatterAngleDegrees(-0.45), 270.0, 1e-9) << "backwards music turns the platter back";
  EXPECT_NEAR(WrapAngleDelta(3.0, -3.0), 2 * std::numbers::pi - 6.0, 1e-12);
  EXPECT_NEAR(WrapAngleDelta(-3.0, 3.0), 6.0 - 2 * std::numbers::pi, 1e-12);
}

}  // namespace
