// The main screen: the rectangles of the three layouts, the deck hit test, the beat pulse, the
// banners, the tooltip, dragging a library row onto a deck or a list, and whole frames (overlay
// guard, banner, tooltip and status pill where they belong).
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/frame_tick.h"
#include "app/keyboard.h"
#include "base/settings.h"
#include "base/test_mode.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/clock.h"
#include "platform/keymap.h"
#include "screens/browser_screen.h"
#include "screens/deck_panel.h"
#include "screens/layout.h"
#include "screens/main_screen.h"
#include "screens/mixer.h"
#include "screens/slim_layout.h"
#include "screens/top_bar.h"
#include "screens/waveform.h"
#include "settings/help_screen.h"
#include "settings/settings_screen.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/knobs.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/status_line.h"
#include "ui/widgets.h"

namespace {

constexpr float kW = 1500, kH = 980;

void ExpectRect(Rc got, Rc want, const char* what) {
  EXPECT_FLOAT_EQ(got.x, want.x) << what;
  EXPECT_FLOAT_EQ(got.y, want.y) << what;
  EXPECT_FLOAT_EQ(got.w, want.w) << what;
  EXPECT_FLOAT_EQ(got.h, want.h) << what;
}

// ---- layouts -------------------------------------------------------------------------------------

TEST(LayoutRects, FullTwoDecksStacksLanesPhaseMeterPanelsAndBrowser) {
  const ScreenLayout s = ComputeLayout(kW, kH, kLayoutFull, false, false);
  ExpectRect(s.lanes[0], {8, 46, 1484, 66}, "lane A");
  ExpectRect(s.lanes[1], {8, 130, 1484, 66}, "lane B");
  ExpectRect(s.lanes[2], {}, "no lane C");
  EXPECT_FLOAT_EQ(s.phaseMeterY, 112);
  ExpectRect(s.leftPanel, {8, 204, 554, 372}, "left");
  ExpectRect(s.mixer, {570, 204, 360, 372}, "mixer");
  ExpectRect(s.rightPanel, {938, 204, 554, 372}, "right");
  ExpectRect(s.browser, {8, 584, 1484, 388}, "browser");
}

TEST(LayoutRects, FourDeckLanesAreThinnerAndThePanelsStillStartAt204) {
  const ScreenLayout s = ComputeLayout(kW, kH, kLayoutFull, false, true);
  const float tops[] = {46, 130, 80, 164};  // A, B, C, D
  for (int d = 0; d < 4; ++d) {
    EXPECT_FLOAT_EQ(s.lanes[d].y, tops[d]) << "deck " << d;
    EXPECT_FLOAT_EQ(s.lanes[d].h, 32) << "deck " << d;
  }
  EXPECT_FLOAT_EQ(s.phaseMeterY, 112);
  EXPECT_FLOAT_EQ(s.leftPanel.y, 204);
}

TEST(LayoutRects, LibraryIsSlimWithANarrowMixerAndIgnoresVertical) {
  const ScreenLayout s = ComputeLayout(kW, kH, kLayoutLibrary, true, false);
  EXPECT_FALSE(s.vertical);
  EXPECT_FLOAT_EQ(s.lanes[0].w, 1484) << "lanes stay horizontal";
  EXPECT_FLOAT_EQ(s.leftPanel.h, 124);
  EXPECT_FLOAT_EQ(s.mixer.w, 300);
  ExpectRect(s.browser, {8, 336, 1484, 636}, "browser");
  EXPECT_TRUE(VariantOf(kLayoutLibrary).slimPanels);
}

TEST(LayoutRects, PerformanceHasNoBrowserAndPanelsReachTheBottomMargin) {
  const ScreenLayout s = ComputeLayout(kW, kH, kLayoutPerformance, false, false);
  ExpectRect(s.browser, {}, "browser");
  EXPECT_FLOAT_EQ(s.leftPanel.Bottom(), kH - 8);
  EXPECT_FLOAT_EQ(s.mixer.Bottom(), kH - 8);
}

TEST(LayoutRects, VerticalPutsUprightStripsBesideThePanels) {
  const ScreenLayout two = ComputeLayout(kW, kH, kLayoutFull, true, false);
  EXPECT_TRUE(two.vertical);
  EXPECT_FLOAT_EQ(two.phaseMeterY, 42);
  ExpectRect(two.leftPanel, {8, 62, 482, 372}, "left");
  ExpectRect(two.lanes[0], {494, 62, 64, 372}, "strip A right of the left panel");
  ExpectRect(two.mixer, {570, 62, 360, 372}, "mixer");
  ExpectRect(two.lanes[1], {934, 62, 64, 372}, "strip B right of the mixer");
  ExpectRect(two.rightPanel, {1010, 62, 482, 372}, "right");

  const ScreenLayout four = ComputeLayout(kW, kH, kLayoutPerformance, true, true);
  EXPECT_FLOAT_EQ(four.leftPanel.w, 454);
  EXPECT_FLOAT_EQ(four.lanes[0].x, 466);
  EXPECT_FLOAT_EQ(four.lanes[2].x, 514) << "C beside A";
  EXPECT_FLOAT_EQ(four.lanes[1].x, four.mixer.Right() + 4);
  EXPECT_FLOAT_EQ(four.lanes[3].x, four.mixer.Right() + 52) << "D beside B";
  EXPECT_FLOAT_EQ(four.lanes[3].w, 44);
  EXPECT_FLOAT_EQ(four.lanes[3].h, kH - 62 - 8);
}

// Every variant, with and without strips and four decks, spans the window from margin to margin
// with nothing overlapping.
TEST(LayoutTable, EveryVariantFillsTheWidthWithoutOverlaps) {
  std::set<std::wstring> texts;
  for (int32_t layout = 0; layout < kLayoutCount; ++layout) {
    const LayoutVariant& v = kLayoutVariants[layout];
    EXPECT_TRUE(texts.insert(v.statusText).second) << "status texts differ";
    EXPECT_GT(v.mixerWidth, 0);
    EXPECT_FALSE(v.slimPanels && v.allowsVertical) << "slim panels have no strips";
    for (bool vertical : {false, true}) {
      for (bool four : {false, true}) {
        const ScreenLayout s = ComputeLayout(1920, 1080, layout, vertical, four);
        const std::string what = "layout " + std::to_string(layout) + (vertical ? " vertical" : "") +
                                 (four ? " four" : "");
        EXPECT_FLOAT_EQ(s.leftPanel.x, 8) << what;
        EXPECT_FLOAT_EQ(s.rightPanel.Right(), 1920 - 8) << what;
        EXPECT_FLOAT_EQ(s.leftPanel.w, s.rightPanel.w) << what;
        EXPECT_LT(s.leftPanel.Right(), s.mixer.x) << what;
        EXPECT_LT(s.mixer.Right(), s.rightPanel.x) << what;
        for (int d = 0; d < (four ? 4 : 2); ++d) {
          EXPECT_GT(s.lanes[d].w, 0) << what << " deck " << d;
          if (!s.vertical) continue;
          const bool left = d % 2 == 0;
          EXPECT_GE(s.lanes[d].x, left ? s.leftPanel.Right() : s.mixer.Right()) << what;
          EXPECT_LE(s.lanes[d].Right(), left ? s.mixer.x : s.rightPanel.x) << what;
        }
        if (v.browser) {
          EXPECT_GE(s.browser.y, s.leftPanel.Bottom() + 8) << what;
        }
      }
    }
  }
}

TEST(LayoutTable, CyclingWrapsAndUnknownNumbersReadAsFull) {
  EXPECT_EQ(NextLayout(kLayoutFull), kLayoutLibrary);
  EXPECT_EQ(NextLayout(kLayoutLibrary), kLayoutPerformance);
  EXPECT_EQ(NextLayout(kLayoutPerformance), kLayoutFull);
  EXPECT_EQ(NextLayout(7), kLayoutLibrary);
  EXPECT_EQ(&VariantOf(-1), &kLayoutVariants[kLayoutFull]);
  EXPECT_EQ(ComputeLayout(kW, kH, 9, false, false).layout, kLayoutFull);
}

TEST(LayoutRects, ATinyWindowGetsEmptyRatherThanNegativeRectangles) {
  const ScreenLayout s = ComputeLayout(300, 250, kLayoutFull, true, true);
  for (const Rc& r : {s.leftPanel, s.rightPanel, s.browser, s.lanes[0], s.lanes[3]}) {
    EXPECT_GE(r.w, 0);
    EXPECT_GE(r.h, 0);
  }
}

// ---- the deck hit test ---------------------------------------------------------------------------

class MainScreenState : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    Screen = ScreenLayout{};
    SideSlots[kLeftSide] = 0, SideSlots[kRightSide] = 1;
    Input = UiInput{};
    ActiveControlId = kNoActiveControl;
    RowDrag = LibraryRowDrag{};
    ViewItems.clear(), ViewOrder.clear(), Selection = -1, SearchText.clear(), CrateSearch.clear();
    SidebarListRows.clear();
    Tooltip = FrameTooltip{};
    midiLearnOn = false, midiLearnTarget = 0;
    Sandbox.on = false;
    for (float& p : BeatPulse) p = 0;
    for (DeckSnapshot& shot : DeckSnapshots) shot = DeckSnapshot{};
    SetUiLanguage(kUiEnglish);
  }
};

TEST_F(MainScreenState, DeckAtPointPrefersLanesThenPanelsThenTheHalfAboveTheBrowser) {
  Screen = ComputeLayout(kW, kH, kLayoutFull, false, true);
  SideSlots[kLeftSide] = 2;  // C on the left
  EXPECT_EQ(DeckAtPoint(8, 46), 0) << "lane A, top-left edge inside";
  EXPECT_EQ(DeckAtPoint(700, 80), 2) << "lane C";
  EXPECT_EQ(DeckAtPoint(700, 164), 3) << "lane D";
  EXPECT_EQ(DeckAtPoint(100, 300), 2) << "left panel shows C";
  EXPECT_EQ(DeckAtPoint(1000, 300), 1) << "right panel";
  EXPECT_EQ(DeckAtPoint(750, 120), 1) << "phase meter, right half";
  EXPECT_EQ(DeckAtPoint(3, 500), 2) << "left margin above the browser";
  EXPECT_EQ(DeckAtPoint(700, 700), -1) << "the browser";

  Screen = ComputeLayout(kW, kH, kLayoutPerformance, false, false);
  EXPECT_EQ(DeckAtPoint(700, kH - 4), -1) << "under the panels with no browser";
  EXPECT_EQ(DeckAtPoint(1492, 300), -1) << "the right panel's right edge is outside it";
}

// ---- beat pulse -----------------------------------------------------------------------------------

TEST_F(MainScreenState, TheBeatPulseFollowsThePlayingBeatAndDecaysWhenStopped) {
  auto track = std::make_shared<Track>();
  track->sampleRate = 44100;
  track->frames = 44100 * 60;
  track->bpm = 120;  // a beat every 0.5 s
  DeckSnapshots[0].track = track;
  DeckSnapshots[0].playing = true;
  DeckSnapshots[0].position = 44100 * 2.0;  // on a beat
  DeckSnapshots[1].track = track;
  DeckSnapshots[1].playing = true;
  DeckSnapshots[1].position = 44100 * 2.25;  // half a beat on
  UpdateBeatPulses();
  // Shown in sixteenths: exp(-2.5) = 0.082 is 1/16.
  EXPECT_EQ(BeatPulse[0], 1.0f);
  EXPECT_EQ(BeatPulse[1], 1.0f / kBeatPulseSteps);
  EXPECT_EQ(BeatPulse[2], 0.0f) << "no track";
  EXPECT_FALSE(BeatPulsesFalling());
  // Stopped: 0.9 per frame underneath, 0.81 and 0.59 after two and five frames, while the shown
  // steps hold for frames at a time.
  DeckSnapshots[0].playing = false;
  UpdateBeatPulses();
  UpdateBeatPulses();
  EXPECT_EQ(BeatPulse[0], 13.0f / kBeatPulseSteps);
  UpdateBeatPulses();
  UpdateBeatPulses();
  UpdateBeatPulses();
  EXPECT_EQ(BeatPulse[0], 9.0f / kBeatPulseSteps);
  EXPECT_TRUE(BeatPulsesFalling()) << "the frames keep coming while it falls";
  for (int frame = 0; frame < 80; ++frame) UpdateBeatPulses();
  EXPECT_EQ(BeatPulse[0], 0.0f);
  EXPECT_FALSE(BeatPulsesFalling()) << "and stop once it settled";
}

// ---- banners --------------------------------------------------------------------------------------

TEST_F(MainScreenState, BannerLearnTextsFollowTheLearnStepAndWinOverTheSandbox) {
  EXPECT_TRUE(CurrentBanner(100).text.empty());
  Sandbox.on = true;
  midiLearnOn = true;
  Banner b = CurrentBanner(100);
  EXPECT_EQ(b.text, L"MIDI LEARN — click the control you want to map (the track list maps the browse knob)");
  EXPECT_EQ(b.colour, Pal.Yellow);
  midiLearnTarget = 1102;
  EXPECT_EQ(CurrentBanner(100).text, L"MIDI LEARN — now move a control on your controller (click MIDI to finish)");
  midiLearnTarget = 31;
  EXPECT_EQ(CurrentBanner(100).text, L"MIDI LEARN — turn your browse knob, then push it down (click MIDI to finish)");
  SetUiLanguage(kUiGerman);
  EXPECT_EQ(CurrentBanner(100).text.rfind(L"MIDI LEARN — dreh deinen Browse-Regler", 0), 0u);
}

TEST_F(MainScreenState, BannerSandboxCountsMinutesAndSecondsNeverNegative) {
  Sandbox.on = true;
  Sandbox.since = 1000.0;
  Banner b = CurrentBanner(1000.0 + 65.9);
  EXPECT_EQ(b.text,
            L"SANDBOX 1:05 — the crowd hears the mix from when you started; you're rehearsing in the headphones. "
            L"SANDBOX again to go back.");
  EXPECT_EQ(b.colour, Pal.Pink);
  EXPECT_EQ(CurrentBanner(999.0).text.substr(0, 12), L"SANDBOX 0:00");
  EXPECT_EQ(CurrentBanner(1000.0 + 3600 + 7).text.substr(0, 13), L"SANDBOX 60:07");
  SetUiLanguage(kUiSpanish);
  EXPECT_EQ(CurrentBanner(1000.0 + 65).text.rfind(L"SANDBOX 1:05 — el público", 0), 0u);
}

// ---- the tooltip ------------------------------------------------------------------------------------

TEST_F(MainScreenState, TooltipBoxFitsItsLinesAndStaysInsideTheWindow) {
  const std::wstring text = L"Audio load 12%  (highest 40%)\nNo dropouts since Veldmix started\nshort";
  const Rc anchor{900, 7, 92, 26};
  const TooltipBox tip = PlaceTooltip(text, anchor, kW);
  ASSERT_EQ(tip.lines.size(), 3u);
  EXPECT_EQ(tip.lines[2], L"short");
  const float widest = TextWidth(L"No dropouts since Veldmix started", 11.5f, false, kFontSegoeUi);
  ASSERT_GT(widest, 100);
  EXPECT_FLOAT_EQ(tip.box.w, widest + 24);
  EXPECT_FLOAT_EQ(tip.box.h, 18 * 3 + 12);
  EXPECT_FLOAT_EQ(tip.box.y, anchor.Bottom() + 6);
  EXPECT_FLOAT_EQ(tip.box.Right(), anchor.Right()) << "right-aligned under its control";

  const TooltipBox nearRight = PlaceTooltip(text, Rc{kW - 20, 7, 92, 26}, kW);
  EXPECT_FLOAT_EQ(nearRight.box.Right(), kW - 8);
  const TooltipBox nearLeft = PlaceTooltip(text, Rc{0, 7, 30, 26}, kW);
  EXPECT_FLOAT_EQ(nearLeft.box.x, 8);
}

TEST_F(MainScreenState, TooltipLinesAreMeasuredAsTranslated) {
  SetUiLanguage(kUiFrench);
  const std::wstring line = L"Full layout";
  const TooltipBox tip = PlaceTooltip(line, Rc{400, 0, 10, 10}, kW);
  ASSERT_EQ(tip.lines.size(), 1u);
  EXPECT_EQ(tip.lines[0], Translate(line));
  EXPECT_NE(tip.lines[0], line);
  EXPECT_FLOAT_EQ(tip.box.w, TextWidth(Translate(line), 11.5f, false, kFontSegoeUi) + 24);
}

// ---- frames ---------------------------------------------------------------------------------------

// Whole frames of the main screen off-screen: what the frame driver does around Frame.
class MainScreenFrame : public MainScreenState {
 protected:
  void SetUp() override {
    MainScreenState::SetUp();
    TestMode = true;
    saved_ = Settings;
    ResetDecksForTest();
    Settings.Layout = kLayoutFull;
    Settings.Vertical = Settings.FourDecks = false;
    TrackLists = LoadLists();
    Status = StatusLine{};
    Modal.open = false;
    Prompt.pending = false;
    ASSERT_TRUE(CreateDevice(static_cast<int>(kW), static_cast<int>(kH), 1.0f));
  }
  void TearDown() override {
    ReleaseDevice();
    Modal = ModalForm{};
    Prompt = ConfirmPrompt{};
    Status = StatusLine{};
    ResetDecksForTest();
    Settings = saved_;
    TestMode = false;
    MainScreenState::TearDown();
  }
  // One frame as the shell runs it: the tick, then the screen.
  static void DrawOneFrame() {
    AppTick();
    ResetGlowLayer();
    BeginDraw();
    Clear(ColorOf(Pal.Background));
    DrawMainScreen();
    EndFrame();
    EndFrameInput();
  }
  static uint32_t Pixel(float x, float y) {
    const PixelView v = FrameImage();
    return v.pixels[static_cast<size_t>(y) * v.stride + static_cast<size_t>(x)] & 0xFFFFFF;
  }
  // How far apart two colours are, the largest channel difference.
  static int Distance(uint32_t a, uint32_t b) {
    int d = 0;
    for (int shift : {16, 8, 0})
      d = std::max(d, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
    return d;
  }
  TempHome home_;
  SettingsRecord saved_;
};

TEST_F(MainScreenFrame, TheFrameComputesThisFramesLayoutFromTheSettings) {
  Settings.Layout = kLayoutPerformance;
  Settings.FourDecks = true;
  DrawOneFrame();
  EXPECT_EQ(Screen.layout, kLayoutPerformance);
  EXPECT_FLOAT_EQ(Screen.width, kW);
  EXPECT_FLOAT_EQ(Screen.lanes[3].h, 32);
  EXPECT_FLOAT_EQ(Screen.browser.w, 0);
}

// The background is copied from bitmaps drawn once; it must look as the lights drawn directly,
// at each deck's strength, also at a UI scale that is not whole.
TEST_F(MainScreenFrame, BackgroundMatchesTheLightsDrawnDirectly) {
  for (const float scale : {1.0f, 1.25f}) {
    ReleaseDevice();
    ASSERT_TRUE(CreateDevice(static_cast<int>(kW * scale), static_cast<int>(kH * scale), scale));
    Screen = ComputeLayout(kW, kH, kLayoutFull, false, false);
    SideSlots[kRightSide] = 3;
    DeckSnapshots[0].playing = true;
    BeatPulse[0] = 0.6f;
    std::vector<uint32_t> cached;
    for (int pass = 0; pass < 2; ++pass) {  // the second pass copies what the first one drew
      BeginDraw();
      Clear(Color{0, 0, 0, 1});
      DrawBackground();
      const PixelView v = FrameImage();
      cached.assign(v.pixels, v.pixels + static_cast<size_t>(v.stride) * v.height);
    }
    BeginDraw();
    Clear(Color{0, 0, 0, 1});
    FillRect(Rc{0, 0, kW, kH}, Brush(LinearGradientBrush(ColorOf(0x0B0D14), ColorOf(0x040508), PointF{0, 0},
                                                         PointF{0, kH}, false)));
    SoftGlow(kW / 2, 112 + 9, 0.6f * kW, 120, ColorOf(0x6A5BFF, 0.06f));
    const Rc left = Screen.leftPanel, right = Screen.rightPanel;
    SoftGlow(left.CenterX(), left.CenterY(), 0.75f * left.w, 0.95f * left.h, ColorOf(Pal.DeckA, 0.6f * 0.1f + 0.13f));
    SoftGlow(right.CenterX(), right.CenterY(), 0.75f * right.w, 0.95f * right.h, ColorOf(Pal.DeckD, 0.07f));
    const PixelView direct = FrameImage();
    int worst = 0;
    for (size_t i = 0; i < cached.size(); ++i) worst = std::max(worst, Distance(cached[i], direct.pixels[i]));
    EXPECT_LE(worst, 3) << "scale " << scale;
  }
}

// The panels and the top bar's backdrop drawn once into the backdrop, with the lights taken out
// under them and under the lanes, must look as bar, panels and lanes drawn over the lights every
// frame, in every layout, and be asked for again as they were.
TEST_F(MainScreenFrame, PanelsKeptInTheBackdropLookAsPanelsDrawnOverTheLights) {
  DeckSnapshots[0].playing = true;
  BeatPulse[0] = 0.6f;
  const bool savedFourDecks = Settings.FourDecks;
  auto lanes = [] {
    for (int deck = 0; deck < DecksInUse(); ++deck)
      if (Screen.vertical) DrawDeckRotated(deck, Screen.lanes[deck]);
      else DrawWaveform(deck, Screen.lanes[deck]);
  };
  struct Case {
    int32_t layout;
    bool vertical, fourDecks;
  };
  for (const Case c : {Case{kLayoutFull, false, false}, Case{kLayoutFull, true, false}, Case{kLayoutFull, false, true},
                       Case{kLayoutLibrary, false, false}, Case{kLayoutPerformance, false, true}}) {
    Settings.FourDecks = c.fourDecks;
    Screen = ComputeLayout(kW, kH, c.layout, c.vertical, c.fourDecks);
    const int left = SideSlots[kLeftSide], right = SideSlots[kRightSide];
    const bool slim = VariantOf(c.layout).slimPanels;
    // The plain way: the lights, then every panel and lane over them, nothing clipped.
    ResetGlowLayer();
    BeginDraw();
    KeepPanelsInBackdrop({});
    ForgetDrawnPanels();
    DrawBackground();
    DrawTopBarBackdrop(Rc{0, 0, static_cast<float>(kW), kTopBarHeight});
    if (slim) DrawSlimDeck(left, Screen.leftPanel), DrawSlimMixer(Screen.mixer), DrawSlimDeck(right, Screen.rightPanel);
    else DrawDeck(left, Screen.leftPanel), DrawMixer(Screen.mixer), DrawDeck(right, Screen.rightPanel);
    if (VariantOf(c.layout).browser) DrawBrowser(Screen.browser);
    lanes();
    const PixelView v = FrameImage();
    const std::vector<uint32_t> direct(v.pixels, v.pixels + static_cast<size_t>(v.stride) * v.height);
    const std::vector<PanelShape> panels = DrawnPanels();
    ASSERT_EQ(panels.size(), VariantOf(c.layout).browser ? 4u : 3u) << c.layout;

    ResetGlowLayer();
    BeginDraw();
    ASSERT_TRUE(DrawBackgroundWithPanels(panels));
    KeepPanelsInBackdrop(panels);
    ForgetDrawnPanels();
    DrawPanels();
    KeepPanelsInBackdrop({});
    EXPECT_EQ(DrawnPanels(), panels) << c.layout;
    lanes();
    int worst = 0, apart = 0;
    for (size_t i = 0; i < direct.size(); ++i) {
      const int d = Distance(direct[i], v.pixels[i]);
      worst = std::max(worst, d);
      apart += d > 2;
    }
    // Only a panel's or lane's antialiased rim, where light and panel mix in the other order, may
    // differ.
    EXPECT_LE(worst, 5) << "layout " << c.layout << " vertical " << c.vertical << " four " << c.fourDecks;
    EXPECT_LE(apart, 40) << "layout " << c.layout << " vertical " << c.vertical << " four " << c.fourDecks;
  }
  Settings.FourDecks = savedFourDecks;
}

// The lights are kept between frames; a new skin colour must show at once, and a deck's beat
// must brighten its light without redrawing the image.
TEST_F(MainScreenFrame, TheKeptSideLightFollowsTheSkinAndTheBeat) {
  Screen = ComputeLayout(kW, kH, kLayoutFull, false, false);
  SideSlots[kLeftSide] = 0;
  const Rc left = Screen.leftPanel;
  auto light = [&] {
    BeginDraw();
    Clear(Color{0, 0, 0, 1});
    DrawBackground();
    return Pixel(left.CenterX(), left.CenterY());
  };
  auto red = [](uint32_t p) { return static_cast<int>((p >> 16) & 0xFF); };
  auto blue = [](uint32_t p) { return static_cast<int>(p & 0xFF); };
  const uint32_t skin = Pal.DeckA;
  DeckSnapshots[0].playing = false;
  BeatPulse[0] = 0;
  Pal.DeckA = 0xFF0000;
  const uint32_t reddish = light();
  Pal.DeckA = 0x0000FF;
  const uint32_t bluish = light();
  BeatPulse[0] = 1;
  const uint32_t on_beat = light();
  Pal.DeckA = skin;
  EXPECT_GT(red(reddish), blue(reddish) + 10);
  EXPECT_GT(blue(bluish), red(bluish) + 10);
  EXPECT_GT(blue(on_beat), blue(bluish) + 10);
}

TEST_F(MainScreenFrame, PanelsBehindAnOverlaySeeNoWheelOrPress) {
  // The wheel over lane A zooms the waveforms, unless a form is open.
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].track = std::make_shared<Track>();
    Engine.decks[0].track->frames = 44100 * 60;
  }
  const float zoom = WaveformZoom;
  Input.x = 700, Input.y = 70, Input.wheel = 1;
  Modal.open = true;
  DrawOneFrame();
  EXPECT_EQ(WaveformZoom, zoom) << "a form is open";
  Input.wheel = 1;
  Modal.open = false;
  DrawOneFrame();
  EXPECT_NE(WaveformZoom, zoom) << "no overlay: the lane takes the wheel";
  WaveformZoom = zoom;

  // A press on the cross-fader grabs it, unless a question is pending.
  const Rc mixer = ComputeLayout(kW, kH, kLayoutFull, false, false).mixer;
  Input.x = mixer.CenterX(), Input.y = mixer.Bottom() - 31;
  Input.pressed = Input.held = true;
  Prompt.pending = true;
  DrawOneFrame();
  EXPECT_NE(ActiveControlId, kCrossfaderControlId);
  EXPECT_FLOAT_EQ(Input.x, mixer.CenterX()) << "the mouse is back after the panels";
  Input.pressed = true;
  Prompt.pending = false;
  DrawOneFrame();
  EXPECT_EQ(ActiveControlId, kCrossfaderControlId);
}

// The settings and help screens are still empty: opening one must not take the mouse from the
// panels, and the button that opened it closes it again.
TEST_F(MainScreenFrame, TheSettingsAndHelpScreensTakeTheMouse) {
  // Right-group buttons from the bar's right edge (8 in), 6 apart: ? 30 wide, ⚙ 34, MIC 56,
  // MIDI 56, SHIFT 50, SANDBOX 74, GO LIVE 84.
  const PointF help{kW - 8 - 15, 20}, gear{kW - 8 - 30 - 6 - 17, 20}, goLive{kW - 8 - 30 - 6 - 34 - 6 - 56 - 6 - 56 - 6 - 50 - 6 - 74 - 6 - 42, 20};
  const Rc mixer = ComputeLayout(kW, kH, kLayoutFull, false, false).mixer;
  const PointF fader{mixer.CenterX(), mixer.Bottom() - 31};
  auto click = [](PointF at) {
    Input.x = at.x, Input.y = at.y;
    Input.pressed = Input.held = true;
    DrawOneFrame();
    Input.held = false, Input.released = true;
    DrawOneFrame();
  };
  auto faderTakesThePress = [&] {
    Input.x = fader.x, Input.y = fader.y;
    Input.pressed = Input.held = true;
    DrawOneFrame();
    const bool grabbed = ActiveControlId == kCrossfaderControlId;
    Input.held = false, Input.released = true;
    DrawOneFrame();
    return grabbed;
  };
  HelpOpen = SettingsOpen = false;
  Settings.Stream = StreamConfig{};
  Settings.Key = {};

  click(gear);
  ASSERT_TRUE(SettingsOpen);
  EXPECT_FALSE(faderTakesThePress()) << "the settings screen lies over the mixer";
  click(gear);
  EXPECT_TRUE(SettingsOpen) << "the bar under the screen sees no clicks";
  OnKeyDown(KeyCode::Escape, false, false, false);
  EXPECT_FALSE(SettingsOpen);

  OnKeyDown(KeyCode::F1, false, false, false);
  ASSERT_TRUE(HelpOpen);
  EXPECT_FALSE(faderTakesThePress()) << "the help screen lies over the mixer";
  EXPECT_FALSE(HelpOpen) << "a press on none of its widgets closes it";
  OnKeyDown(KeyCode::F1, false, false, false);
  ASSERT_TRUE(HelpOpen);
  click(help);
  EXPECT_FALSE(HelpOpen);

  click(goLive);  // with no stream set up it asks for the broadcast settings
  ASSERT_TRUE(SettingsOpen);
  EXPECT_EQ(SettingsPage, kSettingsPageBroadcast);
  OnKeyDown(KeyCode::Escape, false, false, false);
  EXPECT_FALSE(SettingsOpen);
}

TEST_F(MainScreenFrame, APressOutsideTheSearchBoxTakesItsFocus) {
  BrowserScreen.searchBox = Rc{100, 600, 200, 24};
  SearchFocused = true;
  Input.x = 150, Input.y = 610, Input.pressed = true;
  DrawOneFrame();
  EXPECT_TRUE(SearchFocused);
  Input.x = 150, Input.y = 700, Input.pressed = true;
  DrawOneFrame();
  EXPECT_FALSE(SearchFocused);
}

TEST_F(MainScreenFrame, BannerPillIsDrawnCentredUnderTheTopBar) {
  Sandbox.on = true;
  Sandbox.since = MonotonicSeconds();
  DrawOneFrame();
  const float width = TextWidth(CurrentBanner(MonotonicSeconds()).text, 12, true, kFontSegoeUi) + 30;
  const float left = kW / 2 - width / 2;
  EXPECT_LT(Distance(Pixel(left + 6, 57), Pal.Pink), 40) << "inside the pill's left end";
  EXPECT_GT(Distance(Pixel(left - 6, 57), Pal.Pink), 80) << "left of the pill";
  EXPECT_GT(Distance(Pixel(kW / 2, 40), Pal.Pink), 80) << "above the pill";
}

TEST_F(MainScreenFrame, TooltipIsDrawnAboveEverythingAndCleared) {
  const Rc anchor{1200, 7, 92, 26};
  Tooltip = FrameTooltip{L"first line\nsecond", anchor};
  Modal.open = true;  // a form dims the screen; the tooltip still lies above it
  Modal.title = L"A FORM";
  DrawOneFrame();
  EXPECT_TRUE(Tooltip.text.empty());
  const TooltipBox tip = PlaceTooltip(L"first line\nsecond", anchor, kW);
  EXPECT_LT(Distance(Pixel(tip.box.Right() - 4, tip.box.Bottom() - 6), Pal.Panel3), 6);
  DrawOneFrame();
  EXPECT_GT(Distance(Pixel(tip.box.Right() - 4, tip.box.Bottom() - 6), Pal.Panel3), 6) << "gone next frame";
}

TEST_F(MainScreenFrame, PillOfTheStatusLineLiesAboveAnOpenForm) {
  ShowStatus(L"Full layout", 60000);
  Modal.open = true;
  Modal.title = L"A FORM";
  DrawOneFrame();
  // The pill's gradient runs from rgb(44, 49, 61) to rgb(27, 30, 38): about rgb(36, 40, 50) half
  // way down, where the form's dimming would leave some rgb(15, 16, 20).
  const float width = TextWidth(L"Full layout", 13, true, kFontSegoeUi) + 36;
  EXPECT_LT(Distance(Pixel(kW / 2 - width / 2 + 12, 117), 0x242832), 16);
}

TEST_F(MainScreenFrame, CycleLayoutStepsTheSettingAndSaysSo) {
  CycleLayout();
  EXPECT_EQ(Settings.Layout, kLayoutLibrary);
  EXPECT_EQ(Status.text, L"Library layout");
  CycleLayout();
  CycleLayout();
  EXPECT_EQ(Settings.Layout, kLayoutFull);
  EXPECT_EQ(Status.text, L"Full layout");
  DrawOneFrame();
  EXPECT_EQ(Screen.layout, kLayoutFull);
}

// ---- dragging a library row -----------------------------------------------------------------------

class MainScreenDrag : public MainScreenFrame {
 protected:
  void SetUp() override {
    MainScreenFrame::SetUp();
    Screen = ComputeLayout(kW, kH, kLayoutFull, false, false);
    ViewItems = {LibraryFile{.path = L"/music/one.wav", .title = L"One", .index = 0},
                 LibraryFile{.path = L"/music/two.wav", .title = L"Two — the second", .index = 1}};
    SortColumn = kSortSourceOrder, SortAscending = true;
    RebuildView();
    Selection = 1;
  }
  // A press on a browser row at (x, y): what DrawBrowser does.
  static void PressRow(float x, float y) {
    BrowserScreen.pressX = x, BrowserScreen.pressY = y;
    Input.x = x, Input.y = y;
    Input.held = true;
    ActiveControlId = kBrowserRowsControlId;
  }
  static void DragStep(float x, float y) {
    Input.x = x, Input.y = y;
    ResetGlowLayer();
    BeginDraw();
    FollowRowDrag();
    EndFrame();
    Input.released = false;
  }
  static void ReleaseAt(float x, float y) {
    Input.held = false;
    Input.released = true;
    DragStep(x, y);
  }
};

TEST_F(MainScreenDrag, TheDragStartsPastSixUnitsAndTargetsTheDeckUnderThePointer) {
  PressRow(300, 700);
  DragStep(304, 704);  // 5.66 away
  EXPECT_FALSE(RowDrag.dragging);
  EXPECT_EQ(RowDropTarget(), -1);
  DragStep(300, 707);
  EXPECT_TRUE(RowDrag.dragging);
  EXPECT_EQ(RowDrag.targetDeck, -1) << "over the browser";
  DragStep(700, 150);
  EXPECT_EQ(RowDrag.targetDeck, 1) << "lane B";
  EXPECT_EQ(RowDropTarget(), 1);
  // The label sits 12 right and 8 below the pointer, outlined in deck B's colour.
  EXPECT_LT(Distance(Pixel(700 + 12 + 150, 150 + 8 + 27), Pal.DeckB), 60);
  EXPECT_LT(Distance(Pixel(700 + 12 + 255, 150 + 8 + 14), Pal.Panel3), 12);
}

TEST_F(MainScreenDrag, ReleasingOnADeckLoadsTheSelectedRow) {
  PressRow(300, 700);
  DragStep(300, 720);
  ReleaseAt(100, 300);  // the left panel: deck A
  EXPECT_FALSE(RowDrag.dragging);
  EXPECT_TRUE(LiveDeckViews[0].loading);
  EXPECT_EQ(LiveDeckViews[0].title.find(L"two"), 0u) << LiveDeckViews[0].title;
  EXPECT_FALSE(LiveDeckViews[1].loading);
}

TEST_F(MainScreenDrag, ReleasingOnAListRowAddsTheFileElsewhereNothing) {
  ASSERT_GE(TrackLists.size(), 2u);
  const size_t before = TrackLists[kPrepareList].paths.size();
  SidebarListRows = {{Rc{10, 600, 120, 24}, kPrepareList}};
  PressRow(300, 700);
  DragStep(300, 720);
  ReleaseAt(20, 610);
  ASSERT_EQ(TrackLists[kPrepareList].paths.size(), before + 1);
  EXPECT_EQ(TrackLists[kPrepareList].paths.back(), L"/music/two.wav");

  // Over empty space: nothing, and the drag still ends.
  PressRow(300, 700);
  DragStep(300, 720);
  ReleaseAt(600, 900);
  EXPECT_FALSE(RowDrag.dragging);
  EXPECT_EQ(TrackLists[kPrepareList].paths.size(), before + 1);

  // A selection that no longer names a row does nothing.
  Selection = 5;
  PressRow(300, 700);
  DragStep(300, 720);
  ReleaseAt(20, 610);
  EXPECT_EQ(TrackLists[kPrepareList].paths.size(), before + 1);
  EXPECT_FALSE(LiveDeckViews[0].loading);
}

TEST_F(MainScreenDrag, APressThatIsNotARowNeverDrags) {
  PressRow(300, 700);
  ActiveControlId = kCrossfaderControlId;
  DragStep(400, 150);
  EXPECT_FALSE(RowDrag.dragging);
}

}  // namespace
