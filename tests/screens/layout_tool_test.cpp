// `veldmix-tool layout` against the panel's own hit tests: a click at the centre of a rectangle
// the tool prints reaches that control in a drawn frame of the same window size. Mouse-driven
// checks of the real program rely on this.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

#include "base/settings.h"
#include "control/midi_learn.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "screens/deck_panel.h"
#include "screens/grid_editor.h"
#include "screens/layout.h"
#include "screens/mixer.h"
#include "screens/pads.h"
#include "screens/top_bar.h"
#include "support/click_tracks.h"
#include "support/wav_probe.h"
#include "tests/ui/widget_frames.h"

namespace {

constexpr int kWindowW = 1500, kWindowH = 980;

using Rects = std::map<std::string, Rc>;

Rects RunLayout(const std::string& arguments, int* status) {
  const std::string out = RunCommand(ShellQuote(VELDMIX_TOOL) + " layout " + arguments + " 2>/dev/null", status);
  Rects rects;
  std::istringstream lines(out);
  std::string name;
  float x, y, w, h;
  while (lines >> name >> x >> y >> w >> h) rects[name] = Rc{x, y, w, h};
  return rects;
}

class LayoutTool : public WidgetFrames {
 protected:
  void SetUp() override {
    WidgetFrames::SetUp();
    ReleaseDevice();
    ASSERT_TRUE(CreateDevice(kWindowW, kWindowH, 1.0f));
    ResetDecksForTest();
    Settings.Layout = kLayoutFull;
    Settings.FourDecks = false;
  }
  void TearDown() override {
    GridEditorDeck = -1;
    ResetDecksForTest();
    WidgetFrames::TearDown();
  }
  static void Draw() {
    SnapshotDecks();
    const ScreenLayout s = ComputeLayout(kWindowW, kWindowH, kLayoutFull, false, false);
    Frame([&s] { DrawDeck(0, s.leftPanel); });
  }
  static void ClickCentre(Rc r, bool right = false) {
    const float x = r.CenterX(), y = r.CenterY();
    if (right) {
      MoveTo(x, y);
      Input.rightPressed = true;
      Draw();
      return;
    }
    Press(x, y), Draw();
    Release(), Draw();
  }
};

TEST_F(LayoutTool, ClicksAtPrintedCentresReachTheirControls) {
  int status = 0;
  const Rects rects = RunLayout(std::to_string(kWindowW) + " " + std::to_string(kWindowH), &status);
  ASSERT_EQ(status, 0);
  for (const char* name : {"play.0", "pads.0.2", "tab.0.loop", "loop.in.0", "loop.auto.0", "gridedit.0", "jog.0"})
    ASSERT_TRUE(rects.count(name)) << name << " is not printed";

  static ClickTrackFolder folder;
  ClickTrack click;
  click.seconds = 20;
  ASSERT_TRUE(LoadAndWait(0, folder.Make(click, "Layout")));
  Draw();

  ClickCentre(rects.at("pads.0.2"));
  EXPECT_GE(DeckSnapshots[0].hotCueStart[2], 0) << "pad 3 set no hot cue";
  ClickCentre(rects.at("tab.0.loop"));
  EXPECT_EQ(LiveDeckViews[0].padMode, kPadModeLoop);
  ClickCentre(rects.at("play.0"));
  EXPECT_TRUE(DeckSnapshots[0].playing);
  ClickCentre(rects.at("loop.auto.0"));
  EXPECT_TRUE(DeckSnapshots[0].loopOn) << "LOOP did not start an auto loop";
  ClickCentre(rects.at("gridedit.0"), true);
  EXPECT_EQ(GridEditorDeck, 0) << "a right-click on the grid-edit button did not open the editor";
}

TEST(LayoutToolOutput, ScaleDoublesEveryRectangleAndBadArgumentsFail) {
  int status = 0;
  const Rects one = RunLayout("1500 980", &status);
  ASSERT_EQ(status, 0);
  const Rects two = RunLayout("3000 1960 --scale 2", &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(one.size(), two.size());
  for (const auto& [name, r] : one) {
    const Rc d = two.at(name);
    // Each edge is rounded once, so doubling may differ by a pixel.
    EXPECT_LE(std::fabs(d.x - 2 * r.x), 1) << name;
    EXPECT_LE(std::fabs(d.Right() - 2 * r.Right()), 1) << name;
    EXPECT_LE(std::fabs(d.Bottom() - 2 * r.Bottom()), 1) << name;
    EXPECT_TRUE(r.x >= 0 && r.y >= 0 && r.Right() <= 1500 && r.Bottom() <= 980) << name << " leaves the window";
  }
  EXPECT_TRUE(RunLayout("1500 980 --layout library", &status).count("loop.auto.1"));
  EXPECT_TRUE(RunLayout("1500 980 --decks 4", &status).count("lane.3"));
  for (const char* bad : {"", "1500", "abc 980", "1500 980 --scale", "1500 980 --scale 9", "1500 980 --layout big",
                          "1500 980 --decks 3", "1500 980 --wide 1", "50 980"}) {
    RunLayout(bad, &status);
    EXPECT_EQ(status, 2) << "\"" << bad << "\" was accepted";
  }
}

TEST_F(LayoutTool, TopBarAndStripControlsArePrintedWhereTheFrameDrawsThem) {
  int status = 0;
  const Rects rects = RunLayout(std::to_string(kWindowW) + " " + std::to_string(kWindowH), &status);
  ASSERT_EQ(status, 0);
  for (const char* name : {"topbar.midi", "topbar.settings", "strip.0.volume", "strip.1.gain", "strip.1.cue"})
    ASSERT_TRUE(rects.count(name)) << name << " is not printed";
  const ScreenLayout s = ComputeLayout(kWindowW, kWindowH, kLayoutFull, false, false);
  const auto frame = [&s] {
    DrawTopBar(Rc{0, 0, static_cast<float>(kWindowW), kTopBarHeight});
    DrawMixer(s.mixer);
  };
  const Rc midi = rects.at("topbar.midi");
  Press(midi.CenterX(), midi.CenterY()), Frame(frame);
  Release(), Frame(frame);
  EXPECT_TRUE(midiLearnOn) << "the printed MIDI button did not start MIDI learn";
  midiLearnOn = false;

  // Dragging the printed right-hand volume fader from its middle to its bottom pulls it down.
  const Rc fader = rects.at("strip.1.volume");
  LiveDeckViews[1].fader = 0.5f;
  Frame(frame);
  Press(fader.CenterX(), fader.y + fader.h / 2), Frame(frame);
  MoveTo(fader.CenterX(), fader.Bottom()), Frame(frame);
  Release(), Frame(frame);
  EXPECT_LT(LiveDeckViews[1].fader, 0.2f);
}

}  // namespace
