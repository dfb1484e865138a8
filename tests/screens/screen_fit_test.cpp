// The main screen at the sizes the window allows, in each layout: every label is drawn whole,
// inside the window and over no other label, and every control lies inside the panel holding it.
// The browser's sidebar scrolls each section and brings a newly shown source into view.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "base/settings.h"
#include "base/test_mode.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/side_slots.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "screens/browser_screen.h"
#include "screens/layout.h"
#include "screens/main_screen.h"
#include "screens/pads.h"
#include "screens/sidebar.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "app/publish_controls.h"
#include "ui/text_log.h"
#include "ui/widgets.h"

namespace {

struct Size {
  int w, h;
};
// The smallest window, a 1366x768 screen less a caption, and full HD.
constexpr Size kSizes[] = {{1340, 840}, {1366, 740}, {1920, 1080}};
constexpr int32_t kLayouts[] = {kLayoutFull, kLayoutLibrary, kLayoutPerformance};

// Where a text's letters lie: its width placed by the alignment within its box, about a size high.
Rc InkOf(const DrawnText& t) {
  const float w = std::min(t.width, t.box.w);
  float x = t.box.x;
  if (t.align == kAlignCenter) x += (t.box.w - w) / 2;
  else if (t.align != kAlignLeft) x += t.box.w - w;
  const float h = std::min(t.box.h, 0.9f * t.size);
  return Rc{x, t.box.CenterY() - h / 2, w, h};
}

bool Overlap(Rc a, Rc b) { return a.x < b.Right() && b.x < a.Right() && a.y < b.Bottom() && b.y < a.Bottom(); }
bool Within(Rc inner, Rc outer, float slack) {
  return inner.x >= outer.x - slack && inner.y >= outer.y - slack && inner.Right() <= outer.Right() + slack &&
         inner.Bottom() <= outer.Bottom() + slack;
}
std::string Name(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class ScreenFit : public ::testing::Test {
 protected:
  void SetUp() override {
    TestMode = true;
    saved_ = Settings;
    ResetDecksForTest();
    Settings.Vertical = Settings.FourDecks = false;
    SideSlots[kLeftSide] = 0, SideSlots[kRightSide] = 1;
    Input = UiInput{};
    ActiveControlId = kNoActiveControl;
    ViewItems.clear(), ViewOrder.clear(), SearchText.clear();
    MusicFolders = {L"/music/house", L"/music/techno", L"/music/disco"};
    ViewKind = kViewFolder, ViewIndex = 0;
    TrackLists = LoadLists();
    SetUiLanguage(kUiEnglish);
  }
  void TearDown() override {
    DrawnTextLog = nullptr;
    WidgetRectLog = nullptr;
    ReleaseDevice();
    Engine.dropouts.store(0);
    Meters = MixMeters{};
    ResetDecksForTest();
    MusicFolders.clear();
    SidebarOffset = 0;
    Settings = saved_;
    TestMode = false;
  }
  // Two frames (the second with every text listed) at a size and layout.
  void Draw(Size size, int32_t layout) {
    Settings.Layout = layout;
    ASSERT_TRUE(CreateDevice(size.w, size.h, 1.0f));
    for (int i = 0; i < 2; ++i) {
      texts_.clear(), widgets_.clear();
      DrawnTextLog = &texts_;
      WidgetRectLog = &widgets_;
      ResetGlowLayer();
      BeginDraw();
      Clear(ColorOf(Pal.Background));
      DrawMainScreen();
      EndFrame();
      EndFrameInput();
      DrawnTextLog = nullptr;
      WidgetRectLog = nullptr;
    }
  }
  void ExpectFit(Size size, const std::string& where) const;
  bool Shown(const std::wstring& text) const {
    return std::any_of(texts_.begin(), texts_.end(), [&](const DrawnText& t) { return t.text == text; });
  }
  TempHome home_;
  SettingsRecord saved_;
  std::vector<DrawnText> texts_;
  std::vector<std::pair<int, Rc>> widgets_;
};

// Every label of the frame just drawn is whole, inside the window and over no other label;
// every control in the panels' band lies inside a deck panel or the mixer.
void ScreenFit::ExpectFit(Size size, const std::string& where) const {
  const Rc window{0, 0, static_cast<float>(size.w), static_cast<float>(size.h)};
  ASSERT_FALSE(texts_.empty());
  for (size_t i = 0; i < texts_.size(); ++i) {
    const DrawnText& t = texts_[i];
    EXPECT_GT(t.box.w, 0) << where << "\"" << Name(t.text) << "\" has no room at all";
    EXPECT_LE(t.width, t.box.w + 0.01f) << where << "\"" << Name(t.text) << "\" is cut";
    EXPECT_TRUE(Within(InkOf(t), window, 0)) << where << "\"" << Name(t.text) << "\" leaves the window";
    for (size_t j = i + 1; j < texts_.size(); ++j) {
      const DrawnText& u = texts_[j];
      const bool copy = u.text == t.text && u.box.x == t.box.x && u.box.y == t.box.y;  // a glow's copy
      if (!copy && t.box.w > 0 && u.box.w > 0) {
        EXPECT_FALSE(Overlap(InkOf(t), InkOf(u)))
            << where << "\"" << Name(t.text) << "\" and \"" << Name(u.text) << "\" are drawn over each other";
      }
    }
  }
  const Rc panels[] = {Screen.leftPanel, Screen.mixer, Screen.rightPanel};
  for (const auto& [id, r] : widgets_) {
    if (r.y < Screen.leftPanel.y || r.y >= Screen.leftPanel.Bottom()) continue;  // not the panels' band
    const bool inside = std::any_of(std::begin(panels), std::end(panels), [&](Rc p) { return Within(r, p, 0.5f); });
    EXPECT_TRUE(inside) << where << "control " << id << " at " << r.x << "," << r.y << " " << r.w << "x" << r.h
                        << " leaves its panel";
  }
}

TEST_F(ScreenFit, EveryLabelIsWholeAndAloneAndEveryControlInItsPanelInEachLayoutAndSize) {
  Engine.dropouts.store(250);  // a three-digit dropout count on the load meter
  Meters.dropouts = 250;
  for (const Size size : kSizes) {
    for (const int32_t layout : kLayouts) {
      for (uint32_t mode = 0; mode < kPadModes; ++mode) {
        LiveDeckViews[0].padMode = LiveDeckViews[1].padMode = mode;
        Draw(size, layout);
        const std::string where = std::to_string(size.w) + "x" + std::to_string(size.h) + " layout " +
                                  std::to_string(layout) + " pad mode " + std::to_string(mode) + ": ";
        ExpectFit(size, where);
        EXPECT_TRUE(Shown(L"250")) << where << "the dropout count";
        EXPECT_TRUE(Shown(L"Drag a track here or double-click one in the browser")) << where;
      }
    }
  }
}

// A 1366x768 screen leaves the browser's sidebar too low for its three sections: the sidebar
// then scrolls as one column under the wheel, and a folder newly shown (as a folder dropped on the
// window is) comes into view.
TEST_F(ScreenFit, TheSidebarScrollsAndANewlyShownFolderComesIntoView) {
  Draw(kSizes[1], kLayoutFull);
  const std::wstring lastList = TrackLists.back().name;
  ASSERT_TRUE(Shown(L"house"));
  ASSERT_FALSE(Shown(L"disco") && Shown(lastList)) << "the window is too low for every row";

  MusicFolders.push_back(L"/music/dropped");
  ViewIndex = static_cast<int>(MusicFolders.size()) - 1;
  Draw(kSizes[1], kLayoutFull);
  EXPECT_TRUE(Shown(L"dropped")) << "the shown folder was scrolled into view";

  const float x = Screen.browser.x + 60, y = Screen.browser.CenterY();
  Input.x = x, Input.y = y, Input.wheel = 20;
  Draw(kSizes[1], kLayoutFull);
  EXPECT_TRUE(Shown(L"house")) << "the wheel scrolled back to the top";
  EXPECT_TRUE(Shown(L"FOLDERS"));
  Input.x = x, Input.y = y, Input.wheel = -20;
  Draw(kSizes[1], kLayoutFull);
  EXPECT_TRUE(Shown(lastList)) << "the last list can be reached";
  EXPECT_FALSE(Shown(L"house"));
  // Each row the sidebar draws lies wholly inside the browser.
  for (const DrawnText& t : texts_)
    if (t.box.x < Screen.browser.x + 210 && t.box.y > Screen.leftPanel.Bottom()) {
      EXPECT_LE(t.box.Bottom(), Screen.browser.Bottom()) << Name(t.text);
    }
}

}  // namespace
