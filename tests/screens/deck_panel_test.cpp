// The deck panel driven by scripted mouse frames over a real click track: layout, header texts,
// tool row, transport and a loop that must hold in the rendered audio; plus PNGs to look at.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "base/settings.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/sync.h"
#include "screens/deck_panel.h"
#include "screens/main_screen.h"
#include "support/click_tracks.h"
#include "tests/ui/widget_frames.h"
#include "ui/offscreen.h"

namespace {

constexpr Rc kPanel{10, 10, 900, 470};
constexpr double kRate = 44100;

class DeckPanel : public WidgetFrames {
 protected:
  void SetUp() override {
    WidgetFrames::SetUp();
    ReleaseDevice();
    ASSERT_TRUE(CreateDevice(960, 500, 1.0f)) << "the whole panel must be on screen";
    ResetDecksForTest();
  }
  void TearDown() override {
    ResetDecksForTest();
    WidgetFrames::TearDown();
  }
  static void Load(int deck = 0) {
    static ClickTrackFolder folder;
    ClickTrack click;
    click.seconds = 20;
    ASSERT_TRUE(LoadAndWait(deck, folder.Make(click, "Night Drive")));
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[deck].track->bpm = 120.0;
    Engine.decks[deck].track->firstBeat = 0.0;
  }
  static void Draw(int deck = 0) {
    SnapshotDecks();
    Frame([deck] { DrawDeck(deck, kPanel); });
  }
  static void Click(float x, float y) {
    Press(x, y), Draw();
    Release(), Draw();
  }
  static DeckPanelLayout Layout() { return LayOutDeckPanel(0, kPanel, false); }
  static double Seconds() {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    return Engine.decks[0].position / kRate;
  }
};

TEST(DeckPanelLayout, RightDecksMirrorTheMainAreaAndTheJogFitsIt) {
  const DeckPanelLayout a = LayOutDeckPanel(0, kPanel, false), b = LayOutDeckPanel(1, kPanel, false);
  EXPECT_FLOAT_EQ(a.jogRadius, 88);
  EXPECT_FLOAT_EQ(a.pitch.x, 20);
  EXPECT_FLOAT_EQ(b.pitch.Right(), kPanel.Right() - 10) << "B's pitch fader sits at the outer edge";
  EXPECT_FLOAT_EQ(a.jogX - kPanel.x, kPanel.Right() - b.jogX);
  EXPECT_FLOAT_EQ(a.pads.w, b.pads.w);
  EXPECT_FLOAT_EQ(a.pads.x - kPanel.x, kPanel.Right() - b.pads.Right());
  EXPECT_FLOAT_EQ(a.header.x, b.header.x) << "the header is not mirrored";
  const float main = kPanel.h - 50 - 10 - 134;
  EXPECT_FLOAT_EQ(LayOutDeckPanel(0, kPanel, true).jogRadius, main / 2) << "never beyond the main area";
  EXPECT_FLOAT_EQ(LayOutDeckPanel(0, Rc{0, 0, 900, 800}, true).jogRadius, 150);
}

TEST(DeckPanelText, TimesToolWidthsKeyLabelAndTempoAgreement) {
  EXPECT_EQ(HeaderTime(0), L"0:00.0");
  EXPECT_EQ(HeaderTime(65.99), L"1:05.9") << "tenths are cut, not rounded";
  EXPECT_EQ(HeaderTime(-3), L"0:00.0");
  EXPECT_EQ(HeaderTime(754.3), L"12:34.3");
  const float base[3] = {64, 22, 58};
  float widths[3], gap = 0;
  ToolRowWidths(500, widths, 3, base, &gap);
  EXPECT_FLOAT_EQ(widths[0], 64) << "a wide row leaves the base widths";
  EXPECT_FLOAT_EQ(gap, 4);
  ToolRowWidths(152, widths, 3, base, &gap);  // (152 + 4) / 156 = 1 still fits
  EXPECT_FLOAT_EQ(widths[2], 58);
  ToolRowWidths(74, widths, 3, base, &gap);   // half
  EXPECT_FLOAT_EQ(widths[0], 32);
  EXPECT_FLOAT_EQ(gap, 2);
  EXPECT_EQ(KeyButtonLabel(L"8A", 2), L"8A +2");
  EXPECT_EQ(KeyButtonLabel(L"Cm", -1), L"Cm -1");
  EXPECT_EQ(KeyButtonLabel(L"--", 0), L"--");
  EXPECT_TRUE(TemposAgree(120, 120.005));
  EXPECT_TRUE(TemposAgree(64, 128));
  EXPECT_TRUE(TemposAgree(128, 64));
  EXPECT_FALSE(TemposAgree(120, 121));
}

TEST_F(DeckPanel, KeyShiftButtonsStopAtSixAndTheKeyButtonResets) {
  Load();
  const DeckPanelLayout l = Layout();
  // The row is 880 wide: base widths; "−" starts at 68, the key button at 94, "+" at 156.
  for (int i = 0; i < 9; ++i) Click(l.tools.x + 160, l.tools.CenterY());
  EXPECT_EQ(LiveDeckViews[0].keyShift, 6);
  Click(l.tools.x + 120, l.tools.CenterY());
  EXPECT_EQ(LiveDeckViews[0].keyShift, 0);
  for (int i = 0; i < 8; ++i) Click(l.tools.x + 75, l.tools.CenterY());
  EXPECT_EQ(LiveDeckViews[0].keyShift, -6);
  Click(l.tools.x + 30, l.tools.CenterY());
  EXPECT_TRUE(LiveDeckViews[0].keyLock);
}

TEST_F(DeckPanel, PlayThenLoopHoldsThePlayheadInTheRenderedAudio) {
  Load();
  const DeckPanelLayout l = Layout();
  const float u = l.transport.w - 16;
  Click(l.transport.x + 0.5f * u + 8, l.transport.CenterY());  // PLAY
  RenderPeriods(100);                                              // 1 s of output
  SnapshotDecks();
  ASSERT_TRUE(DeckSnapshots[0].playing);
  // One beat: ÷2 twice from 4 beats.
  Click(l.loops.x + 10, l.loops.CenterY());
  Click(l.loops.x + 10, l.loops.CenterY());
  EXPECT_EQ(LiveDeckViews[0].loopSizeIndex, 3);
  Click(l.loops.Right() - 20, l.loops.CenterY());  // LOOP
  SnapshotDecks();
  ASSERT_TRUE(DeckSnapshots[0].loopOn);
  const double start = DeckSnapshots[0].loopIn / kRate, end = DeckSnapshots[0].loopOut / kRate;
  EXPECT_NEAR(end - start, 0.5, 1e-3);
  const std::vector<float> out = RenderPeriods(300);  // 3 s: six passes of the loop
  EXPECT_GE(Seconds(), start - 1e-3);
  EXPECT_LE(Seconds(), end + 1e-3);
  // The clicks keep coming every half second: the loop plays its one beat over and over.
  // A click starts where the left channel turns loud after 50 ms of quiet (the click is a tone).
  int clicks = 0;
  size_t quietFrames = kTestRate;
  for (size_t i = 0; i < out.size(); i += 2) {
    const bool loud = std::fabs(out[i]) > 0.3f;
    if (loud && quietFrames >= kTestRate / 20) ++clicks;
    quietFrames = loud ? 0 : quietFrames + 1;
  }
  EXPECT_GE(clicks, 5);
  EXPECT_LE(clicks, 7);
  Draw();
  Click(l.loops.Right() - 20, l.loops.CenterY());
  SnapshotDecks();
  EXPECT_FALSE(DeckSnapshots[0].loopOn);
}

TEST_F(DeckPanel, CueHeldOnTheCuePointPreviewsUntilReleased) {
  Load();
  const DeckPanelLayout l = Layout();
  const float u = l.transport.w - 16;
  Draw();
  SnapshotDecks();
  const bool onCue = std::fabs(DeckSnapshots[0].position - DeckSnapshots[0].cuePoint) <= 1;
  ASSERT_TRUE(onCue);
  Press(l.transport.x + 0.15f * u, l.transport.CenterY()), Draw();
  RenderPeriods(50);
  SnapshotDecks();
  EXPECT_TRUE(DeckSnapshots[0].playing) << "CUE held on the cue point previews";
  Release(), Draw();
  RenderPeriods(5);
  SnapshotDecks();
  EXPECT_FALSE(DeckSnapshots[0].playing);
  EXPECT_NEAR(DeckSnapshots[0].position, DeckSnapshots[0].cuePoint, 1.0);
}

TEST_F(DeckPanel, RendersEmptyLoadingAndPlayingPanelsToPng) {
  const char* dir = std::getenv("DECK_PANEL_PNG_DIR");
  const std::wstring folder = dir ? std::wstring(dir, dir + std::strlen(dir)) : L"/tmp";
  std::wstring error;
  SnapshotDecks();
  EXPECT_TRUE(RenderFrameToPng(920, 490, [] { DrawDeck(1, kPanel); }, folder + L"/deck_panel_empty.png", 1.0f, &error));
  Load();
  LiveDeckViews[0].tempoFader = 0.4f;
  LiveDeckViews[0].hotCueName[1] = L"Drop";
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].hotCueStart[0] = 0;
    Engine.decks[0].hotCueStart[1] = 8 * kRate;
    Engine.decks[0].position = 3.3 * kRate;
  }
  const DeckPanelLayout l = Layout();
  const float u = l.transport.w - 16;
  Click(l.transport.x + 0.5f * u + 8, l.transport.CenterY());
  RenderPeriods(20);
  Click(l.loops.Right() - 20, l.loops.CenterY());
  SnapshotDecks();
  BeatPulse[0] = 0.8f;
  EXPECT_TRUE(RenderFrameToPng(920, 490, [] { DrawDeck(0, kPanel); }, folder + L"/deck_panel_playing.png", 1.0f, &error))
      << std::string(error.begin(), error.end());
  BeatPulse[0] = 0;
}

}  // namespace
