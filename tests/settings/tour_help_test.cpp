// The tour's geometry (spotlights, card placement) and the tour and help screen driven through
// real frames: buttons, keys, clicks and the stored [Tour] Done.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "app/frame_tick.h"
#include "app/keyboard.h"
#include "base/settings.h"
#include "engine/control_input.h"
#include "platform/draw_surface.h"
#include "platform/keymap.h"
#include "platform/text.h"
#include "settings/help_screen.h"
#include "settings/settings_screen.h"
#include "settings/tour.h"
#include "support/temp_home.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/widgets.h"

namespace {

bool Same(Rc a, Rc b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; }

TourLayout TwoDeckLayout(bool library) {
  TourLayout l;
  l.w = 1500, l.h = 980;
  if (library) l.library = Rc{8, 580, 1484, 392}, l.tableLeft = 230;
  l.leftDeck = Rc{8, 200, 550, 370};
  l.mixer = Rc{566, 200, 368, 370};
  l.waveforms[0] = Rc{8, 44, 1484, 70};
  l.waveforms[1] = Rc{8, 122, 1484, 70};
  l.waveforms[2] = Rc{100, 10, 50, 900};  // decks C and D exist but count only with four decks
  l.waveforms[3] = Rc{0, 0, 0, 0};
  return l;
}

TEST(TourGeometry, SpotlightsFollowTheLayoutWithAndWithoutALibrary) {
  const TourLayout l = TwoDeckLayout(true);
  EXPECT_EQ(TourSpotlight(0, l).w, 0.0f);
  EXPECT_TRUE(Same(TourSpotlight(1, l), Rc{8, 580, 214, 392}));
  EXPECT_TRUE(Same(TourSpotlight(2, l), Rc{224, 582, 8 + 1484 - 230 + 2, 388}));
  EXPECT_TRUE(Same(TourSpotlight(3, l), l.leftDeck));
  EXPECT_TRUE(Same(TourSpotlight(4, l), Rc{8, 44, 1484, 148})) << "decks A and B only";
  EXPECT_TRUE(Same(TourSpotlight(5, l), l.mixer));
  EXPECT_TRUE(Same(TourSpotlight(6, l), Rc{0, 0, 1500, 40}));
  EXPECT_TRUE(Same(TourSpotlight(7, l), Rc{1422, 7, 70, 26}));

  TourLayout four = l;
  four.fourDecks = true;
  EXPECT_TRUE(Same(TourSpotlight(4, four), Rc{8, 10, 1484, 900})) << "C widens the box; D has no width";
  four.waveforms[0].w = 0;  // a zero-width first lane does not start the box at (0, 0)
  EXPECT_TRUE(Same(TourSpotlight(4, four), Rc{8, 10, 1484, 900}));

  const TourLayout bare = TwoDeckLayout(false);
  EXPECT_EQ(TourSpotlight(1, bare).w, 0.0f);
  EXPECT_EQ(TourSpotlight(2, bare).w, 0.0f);
}

TEST(TourGeometry, TheCardGoesBelowAboveOrLevelAndStaysInsideShortWindows) {
  // Below a spotlight near the top, centred on it horizontally.
  Rc c = TourCardRect(Rc{400, 40, 200, 100}, 580, 172, 1500, 980);
  EXPECT_TRUE(Same(c, Rc{210, 154, 580, 172}));
  // Centred on a spotlight at the left edge would leave the window: clamped 16 inside.
  EXPECT_EQ(TourCardRect(Rc{0, 40, 100, 100}, 580, 172, 1500, 980).x, 16.0f);
  // Near the bottom: above it.
  c = TourCardRect(Rc{400, 800, 200, 100}, 580, 172, 1500, 980);
  EXPECT_EQ(c.y, 800 - 14 - 172);
  // Fits neither way: level with the spotlight's centre, clamped 8 inside.
  c = TourCardRect(Rc{0, 100, 1500, 700}, 580, 172, 1500, 980);
  EXPECT_EQ(c.y, 450 - 86);
  c = TourCardRect(Rc{0, 180, 1500, 1600}, 580, 172, 1500, 980);  // runs off the bottom
  EXPECT_EQ(c.y, 980 - 172 - 8);
  // No spotlight: centred.
  EXPECT_TRUE(Same(TourCardRect(Rc{}, 600, 172, 1500, 980), Rc{450, 404, 600, 172}));
  // Windows shorter than the card plus its margins: the range is empty, the top edge wins.
  for (float h = 200; h <= 208; h += 1) {
    c = TourCardRect(Rc{0, 0, 400, 40}, 368, 193, 400, h);
    EXPECT_EQ(c.y, 8.0f) << "window height " << h;
  }
}

TEST(HelpGeometry, UnderAThousandPixelsTheTipsFormOneColumn) {
  for (float w : {800.0f, 999.0f}) EXPECT_EQ(HelpTipGridFor(HelpTipArea(HelpPanelRect(w, 700)).w).columns, 1) << w;
  const HelpTipGrid wide = HelpTipGridFor(HelpTipArea(HelpPanelRect(1920, 1080)).w);
  EXPECT_EQ(wide.columns, 2);
  EXPECT_EQ(wide.rows, 3);
}

// ---- through real frames ---------------------------------------------------------------------

class OnboardFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    Settings = SettingsRecord{};
    WidgetRectLog = &rects_;
  }
  void TearDown() override {
    WidgetRectLog = nullptr;
    Reset();
    ReleaseDevice();
  }
  static void Reset() {
    TourOpen = HelpOpen = SettingsOpen = false;
    TourStep = 0;
    Input = UiInput{};
    ActiveControlId = kNoActiveControl;
  }
  void Frame() {
    rects_.clear();
    DriveFrame(FrameWindow{1500, 980, false, 1.0f});
  }
  // One frame with a click at (x, y), then the button let go.
  void ClickAt(float x, float y) {
    Input.x = x, Input.y = y;
    Input.pressed = Input.held = true;
    Frame();
    Input.pressed = Input.held = false;
    Input.released = true;
    Frame();
    Input.released = false;
    ActiveControlId = kNoActiveControl;
  }
  // Clicks the widget `id` where the last frame drew it.
  void Click(int id) {
    Rc r{};
    for (const auto& [rid, rect] : rects_)
      if (rid == id) r = rect;
    ASSERT_GT(r.w, 0.0f) << "widget " << id << " was not drawn";
    ClickAt(r.x + r.w / 2, r.y + r.h / 2);
  }
  static void Key(int key) { OnKeyDown(key, false, false, false); }
  static std::string StoredSettings() { return ReadRaw(WideToUtf8(SettingsPath())); }

  TempHome home_;
  std::vector<std::pair<int, Rc>> rects_;
};

TEST_F(OnboardFrames, TheTourMovesByButtonsAndKeysAndEveryCloseStoresDone) {
  OpenTour();
  Frame();
  Click(kTourNextId);  // START THE TOUR
  EXPECT_EQ(TourStep, 1);
  Key(KeyCode::Right);
  Key(KeyCode::Return);
  EXPECT_EQ(TourStep, 3);
  Key(KeyCode::Left);
  Frame();
  Click(kTourBackId);
  EXPECT_EQ(TourStep, 1);
  Click(kTourBackId);
  EXPECT_EQ(TourStep, 0) << "BACK from step 1 returns to the welcome card";
  Key(KeyCode::Space);  // other keys do nothing while the tour is open
  EXPECT_TRUE(TourOpen);
  EXPECT_EQ(TourStep, 0);
  Click(kTourSkipId);  // SKIP
  EXPECT_FALSE(TourOpen);
  EXPECT_TRUE(Settings.TourDone);
  EXPECT_NE(StoredSettings().find("[Tour]\nDone=1"), std::string::npos) << StoredSettings();

  // Past the last card by NEXT, and by the key; Esc; a step out of range is clamped.
  for (int way = 0; way < 3; ++way) {
    Settings.TourDone = false;
    OpenTour();
    TourStep = 12;
    Frame();
    EXPECT_EQ(TourStep, kTourSteps - 1);
    if (way == 0) Click(kTourNextId);  // FINISH
    if (way == 1) Key(KeyCode::Right);
    if (way == 2) Key(KeyCode::Escape);
    EXPECT_FALSE(TourOpen) << way;
    EXPECT_TRUE(Settings.TourDone) << way;
  }
}

TEST_F(OnboardFrames, HelpTogglesWithF1ClosesOnAClickOutsideAndReopensTheTour) {
  Key(KeyCode::F1);
  EXPECT_TRUE(HelpOpen);
  Key(KeyCode::F1);
  EXPECT_FALSE(HelpOpen);

  Key(KeyCode::F1);
  Frame();
  ClickAt(5, 970);  // outside the panel, on no widget of the help screen
  EXPECT_FALSE(HelpOpen);

  Settings.TourDone = true;
  HelpOpen = true;
  Frame();
  Click(kHelpTourId);
  EXPECT_TRUE(TourOpen) << "TAKE THE TOUR opens it even when done";
  EXPECT_EQ(TourStep, 0);
  EXPECT_FALSE(HelpOpen);
}

// The overlay alone is drawn again after a frame, so texts the screen beneath cuts do not count.
TEST_F(OnboardFrames, NoTourOrHelpTextIsCutInAnyLanguage) {
  for (int lang = 0; lang <= 4; ++lang) {
    SetUiLanguage(lang);
    for (auto [w, h] : {std::pair{1500, 980}, std::pair{1920, 1080}}) {
      for (int page = 0; page <= kTourSteps; ++page) {  // the tour's steps, then help
        TourOpen = page < kTourSteps;
        TourStep = page;
        HelpOpen = page == kTourSteps;
        DriveFrame(FrameWindow{w, h, false, 1.0f});
        BeginDraw();
        ResetTextLinesCut();
        if (TourOpen) DrawTour();
        else DrawHelp();
        EXPECT_EQ(TextLinesCut(), 0u) << "language " << lang << ", " << w << "x" << h << ", page " << page << ": "
                                      << (CutTextSamples().empty() ? "" : CutTextSamples()[0]);
      }
    }
  }
  SetUiLanguage(0);
  BeginDraw();
  ResetTextLinesCut();  // and the counter does count here
  DrawText(L"Welcome to Veldmix", Rc{0, 0, 30, 20}, 18, Color{1, 1, 1, 1}, kAlignLeft, true, kFontSegoeUi);
  EXPECT_EQ(TextLinesCut(), 1u);
}

}  // namespace
