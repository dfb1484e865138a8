// The main screen at the sizes the window allows, in each layout: every label is drawn whole,
// inside the window and over no other label, and every control lies inside the panel holding it.
// The browser's sidebar scrolls each section and brings a newly shown source into view. On the
// smallest windows the settings pages and the karaoke panel scroll so that each label and control
// is seen whole somewhere; the macros panel and the help screen fit as they are.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/publish_controls.h"
#include "base/settings.h"
#include "base/test_mode.h"
#include "control/macros_panel.h"
#include "control/remote_server.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/side_slots.h"
#include "karaoke/karaoke_panel.h"
#include "karaoke/karaoke_rotation.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/text.h"
#include "screens/browser_screen.h"
#include "screens/karaoke_panel.h"
#include "screens/layout.h"
#include "screens/macros_panel_view.h"
#include "screens/main_screen.h"
#include "screens/pads.h"
#include "screens/sidebar.h"
#include "screens/top_bar.h"
#include "settings/help_screen.h"
#include "settings/settings_rows.h"
#include "settings/settings_screen.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/scroll_view.h"
#include "ui/text_log.h"
#include "ui/widgets.h"

namespace {

struct Size {
  int w, h;
};
// The smallest window, a 1366x768 screen less a caption, and full HD.
constexpr Size kSizes[] = {{1340, 840}, {1366, 740}, {1920, 1080}};
constexpr int32_t kLayouts[] = {kLayoutFull, kLayoutLibrary, kLayoutPerformance};
// A 1280x720 screen (and its work area less a caption), a 1366x768 one less a caption and the
// largest minimum window.
constexpr Size kSmallSizes[] = {{1280, 699}, {1280, 720}, {1366, 740}, {1340, 840}};
constexpr int kMostScrollSteps = 80;

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
    DrawAlone(size, DrawMainScreen);
  }
  void ExpectFit(Size size, const std::string& where) const;
  // Two frames of `draw` alone (the second listed).
  void DrawAlone(Size size, const std::function<void()>& draw) {
    if (!HasDevice() || TargetWidth() != size.w || TargetHeight() != size.h) {
      ASSERT_TRUE(CreateDevice(size.w, size.h, 1.0f));
    }
    for (int i = 0; i < 2; ++i) {
      texts_.clear(), widgets_.clear();
      DrawnTextLog = &texts_;
      WidgetRectLog = &widgets_;
      ResetGlowLayer();
      BeginDraw();
      Clear(ColorOf(Pal.Background));
      draw();
      EndFrame();
      EndFrameInput();
      DrawnTextLog = nullptr;
      WidgetRectLog = nullptr;
    }
    if (everyText_) everyText_->insert(everyText_->end(), texts_.begin(), texts_.end());
  }
  struct Seen {
    std::set<std::wstring> drawn, whole;  // the scrolled texts drawn, and seen whole in view
    std::set<int> all, controls, wholeControls;  // every control; those partly in view; those wholly
  };
  std::set<int> elsewhere_;  // controls a panel draws outside itself on purpose
  void ExpectSeen(Size size, Rc panel, Rc view, const std::wstring& lastFixed, const std::string& where,
                  Seen* seen) const;
  // Draws `draw` from the top of its scroll to the end, a wheel notch over `view` at a time,
  // checking each frame; stops when a frame draws as the one before.
  void ScrollThrough(Size size, Rc panel, Rc view, PointF wheelAt, const std::wstring& lastFixed,
                     const std::function<void()>& draw, const std::string& where, Seen* seen) {
    Input.x = wheelAt.x, Input.y = wheelAt.y, Input.wheel = 100;
    DrawAlone(size, draw);
    std::vector<DrawnText> before;
    for (int step = 0; step < kMostScrollSteps; ++step) {
      Input.x = wheelAt.x, Input.y = wheelAt.y, Input.wheel = step == 0 ? 0.0f : -1.0f;
      DrawAlone(size, draw);
      ExpectSeen(size, panel, view, lastFixed, where + " step " + std::to_string(step) + ": ", seen);
      const bool same = before.size() == texts_.size() &&
                        std::equal(before.begin(), before.end(), texts_.begin(), [](const DrawnText& a, const DrawnText& b) {
                          return a.text == b.text && a.box.y == b.box.y;
                        });
      if (same) return;
      before = texts_;
    }
    ADD_FAILURE() << where << "never reached the end";
  }
  bool Shown(const std::wstring& text) const {
    return std::any_of(texts_.begin(), texts_.end(), [&](const DrawnText& t) { return t.text == text; });
  }
  TempHome home_;
  SettingsRecord saved_;
  std::vector<DrawnText> texts_;
  std::vector<DrawnText>* everyText_ = nullptr;  // while set, every frame's texts are added here
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

// The frame just drawn, of a panel whose texts after `lastFixed` scroll in `view`: every label
// is whole and inside the window; the fixed ones and the scrolled ones wholly in view lie over no
// other (those the view's edge cuts are left out, those beyond it are hidden); every control
// partly in view lies inside it across, every other inside the panel. Notes what was seen whole.
void ScreenFit::ExpectSeen(Size size, Rc panel, Rc view, const std::wstring& lastFixed, const std::string& where,
                           Seen* seen) const {
  const Rc window{0, 0, static_cast<float>(size.w), static_cast<float>(size.h)};
  ASSERT_FALSE(texts_.empty());
  size_t firstScrolled = texts_.size();
  for (size_t i = 0; i < texts_.size(); ++i)
    if (texts_[i].text == lastFixed) firstScrolled = i + 1;
  std::vector<Rc> shown;
  std::vector<std::wstring> names;
  for (size_t i = 0; i < texts_.size(); ++i) {
    const DrawnText& t = texts_[i];
    EXPECT_GT(t.box.w, 0) << where << "\"" << Name(t.text) << "\" has no room at all";
    EXPECT_LE(t.width, t.box.w + 0.01f) << where << "\"" << Name(t.text) << "\" is cut";
    const Rc ink = InkOf(t);
    if (i >= firstScrolled) {
      seen->drawn.insert(t.text);
      if (!Within(ink, view, 0)) continue;
      seen->whole.insert(t.text);
    }
    EXPECT_TRUE(Within(ink, window, 0)) << where << "\"" << Name(t.text) << "\" leaves the window";
    for (size_t j = 0; j < shown.size(); ++j) {
      EXPECT_FALSE(Overlap(ink, shown[j]) && !(names[j] == t.text && shown[j].y == ink.y))
          << where << "\"" << Name(t.text) << "\" and \"" << Name(names[j]) << "\" are drawn over each other";
    }
    shown.push_back(ink), names.push_back(t.text);
  }
  for (const auto& [id, r] : widgets_) {
    seen->all.insert(id);
    const bool inView = r.y < view.Bottom() && r.Bottom() > view.y && r.x < view.Right() && r.Right() > view.x;
    if (inView) {
      seen->controls.insert(id);
      if (Within(r, view, 0.5f)) seen->wholeControls.insert(id);
      EXPECT_TRUE(r.x >= view.x - 0.5f && r.Right() <= view.Right() + 0.5f)
          << where << "control " << id << " at " << r.x << "," << r.y << " " << r.w << "x" << r.h << " leaves its view";
      continue;
    }
    if (elsewhere_.count(id)) continue;
    // Scrolled out of the view (where a view scrolls inside its panel), or beside it.
    if (view.y != panel.y && (r.Bottom() <= view.y || r.y >= view.Bottom())) continue;
    EXPECT_TRUE(Within(r, panel, 0.5f)) << where << "control " << id << " at " << r.x << "," << r.y << " " << r.w
                                        << "x" << r.h << " leaves its panel";
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

// Every settings page with its long options on (the phone remote running): scrolled from top to
// end, each label and control is seen whole at some point, and nothing leaves the panel.
TEST_F(ScreenFit, EachSettingsPageScrollsEveryRowIntoViewWholeOnSmallWindows) {
  std::wstring error;
  ASSERT_TRUE(StartRemoteServer(0, "4321", &error, true)) << Name(error);
  Settings.RemoteOn = true;
  Settings.Pin = L"4321";
  SettingsOpen = true;
  for (const Size size : kSmallSizes) {
    for (int tab = 0; tab < kSettingsTabs; ++tab) {
      if (tab == kSettingsPageAbout) continue;  // drawn in an area of its own
      SettingsPage = tab;
      const std::string where = std::to_string(size.w) + "x" + std::to_string(size.h) + " " +
                                Name(SettingsTabs[tab].label) + " page";
      DrawAlone(size, DrawSettings);
      const Rc panel = Cursor.panel, view = SettingsPageView(panel);
      Seen seen;
      ScrollThrough(size, panel, view, PointF{view.CenterX(), view.CenterY()}, L"DONE", DrawSettings, where, &seen);
      for (const std::wstring& text : seen.drawn)
        EXPECT_TRUE(seen.whole.count(text)) << where << ": \"" << Name(text) << "\" is never seen whole";
      for (int id : seen.controls)
        EXPECT_TRUE(seen.wholeControls.count(id)) << where << ": control " << id << " is never seen whole";
      if (tab == kSettingsPageBroadcast)
        EXPECT_TRUE(seen.whole.count(L"If this computer runs a firewall, let TCP port " +
                                     std::to_wstring(RemoteServerPort()) + L" in from the local network."))
            << where << ": the remote's last line";
    }
  }
  SettingsOpen = false;
  StopRemoteServer();
}

// Eight singers in the karaoke panel of each layout on the smallest windows: every singer's row
// can be scrolled into view whole, and the card's controls too. With none, the card's hint is
// drawn whole in every language.
TEST_F(ScreenFit, TheKaraokePanelReachesEverySingerOnSmallWindows) {
  KaraokeRotation saved = Rotation;
  Rotation = KaraokeRotation{};
  KaraokePanelShown = true;
  for (int language = 0; language < kUiLanguageCount; ++language) {
    SetUiLanguage(language);
    Draw(kSmallSizes[0], kLayoutFull);
    const Rc column = LayOutBrowser(Screen.browser, 0.0f, true, false).karaoke;
    const KaraokePanelLayout l = LayOutKaraokePanel(column, false, 0);
    DrawAlone(kSmallSizes[0], [&] { DrawKaraokePanel(column); });
    Seen seen;
    const std::string where = "no singers, language " + std::to_string(language);
    ExpectSeen(kSmallSizes[0], column, l.body, Translate(L"SCREEN"), where + ": ", &seen);
    // The hint's lines: the card's texts under its title.
    const std::wstring hint = Translate(L"Add singers with + SINGER, then drag songs from the library onto their names.");
    std::wstring read;
    for (const DrawnText& t : texts_)
      if (Within(t.box, l.card, 0) && t.box.y > l.card.y + 24) read += (read.empty() ? L"" : L" ") + t.text;
    EXPECT_TRUE(read == hint) << where << ": the hint is not drawn whole: " << Name(read);
  }
  SetUiLanguage(kUiEnglish);
  for (int i = 1; i <= 8; ++i)
    Rotation.singers.push_back(KaraokeSinger{L"Singer " + std::to_wstring(i), {KaraokeSong{L"/m/s.mp3", L"Song", L""}}});
  KaraokePanelShown = true;
  for (const Size size : kSmallSizes) {
    for (const int32_t layout : {kLayoutFull, kLayoutLibrary}) {
      Draw(size, layout);
      const Rc column = LayOutBrowser(Screen.browser, 0.0f, true, false).karaoke;
      ASSERT_GT(column.h, 0);
      const KaraokePanelLayout l = LayOutKaraokePanel(column, false, 8);
      const std::string where =
          std::to_string(size.w) + "x" + std::to_string(size.h) + " layout " + std::to_string(layout);
      Seen seen;
      // Over the list while it scrolls on its own, else over the body's middle.
      const Rc over = l.maxScroll > 0 ? l.body : l.list;
      const PointF wheelAt{over.CenterX(), over.CenterY()};
      ScrollThrough(size, column, l.body, wheelAt, L"SCREEN", [&] { DrawKaraokePanel(column); }, where, &seen);
      for (int i = 1; i <= 8; ++i)
        EXPECT_TRUE(seen.whole.count(L"Singer " + std::to_wstring(i))) << where << ": singer " << i << " is never seen";
      EXPECT_TRUE(seen.wholeControls.count(kKaraokeActionId)) << where << ": NEXT is never seen whole";
      for (int id : seen.controls)
        EXPECT_TRUE(seen.wholeControls.count(id)) << where << ": control " << id << " is never seen whole";
    }
  }
  KaraokePanelShown = false;
  KaraokePanelBodyScroll = 0;
  Rotation = saved;
}

// The macros panel and the help screen fit the smallest windows as they are.
TEST_F(ScreenFit, TheMacrosPanelAndTheHelpScreenFitSmallWindows) {
  for (const Size size : kSmallSizes) {
    const std::string where = std::to_string(size.w) + "x" + std::to_string(size.h);
    MacrosPanelOpen = true;
    elsewhere_ = {kMidiButtonId};  // the top bar's, kept reachable above the panel for MIDI learn
    DrawAlone(size, DrawMacros);
    const Rc macros = LayoutMacrosPanel(static_cast<float>(size.w), static_cast<float>(size.h)).panel;
    Seen seen;
    ExpectSeen(size, macros, macros, L"", where + " macros: ", &seen);
    for (int id : seen.all)
      EXPECT_TRUE(seen.wholeControls.count(id) || elsewhere_.count(id)) << where << ": control " << id << " leaves the macros panel";
    MacrosPanelOpen = false;
    elsewhere_.clear();
    seen = Seen{};
    HelpOpen = true;
    DrawAlone(size, DrawHelp);
    const Rc help = HelpPanelRect(static_cast<float>(size.w), static_cast<float>(size.h));
    ExpectSeen(size, help, help, L"", where + " help: ", &seen);
    EXPECT_FALSE(seen.all.empty()) << where;
    for (int id : seen.all) EXPECT_TRUE(seen.wholeControls.count(id)) << where << ": control " << id << " leaves the help screen";
    HelpOpen = false;
  }
}

// Every language on a 1280x800 screen (the window less a caption): the main screen with each pad
// mode, every settings page scrolled through and the help screen draw no text smaller than a
// readable size. A translation too long for its place is abbreviated or wrapped in its own
// language, not shrunk out of sight.
TEST_F(ScreenFit, EveryLanguageDrawsEveryTextAtAReadableSize) {
  constexpr float kReadable = 8.0f;
  constexpr float kMostShrink = 0.8f;  // of the English text in the same place
  constexpr Size kLaptop{1280, 770};
  // A text's place: its box, to the pixel.
  const auto Place = [](const DrawnText& t) {
    return std::array<int, 4>{static_cast<int>(t.box.x), static_cast<int>(t.box.y), static_cast<int>(t.box.w),
                              static_cast<int>(t.box.h)};
  };
  std::vector<DrawnText> english;
  std::wstring error;
  ASSERT_TRUE(StartRemoteServer(0, "4321", &error, true)) << Name(error);
  Settings.RemoteOn = true;
  Settings.Pin = L"4321";
  // A card with channel pairs narrows the Audio page's device stepper: its labels must fit that too.
  SettingsOutputDevices = {{L"quad", L"Quad", 4}};
  std::string small;
  for (int language = 0; language < kUiLanguageCount; ++language) {
    SetUiLanguage(language);
    std::vector<DrawnText> every;
    everyText_ = &every;
    for (uint32_t mode = 0; mode < kPadModes; ++mode) {
      LiveDeckViews[0].padMode = LiveDeckViews[1].padMode = mode;
      Draw(kLaptop, kLayoutFull);
    }
    SettingsOpen = true;
    for (int tab = 0; tab < kSettingsTabs; ++tab) {
      SettingsPage = tab;
      DrawAlone(kLaptop, DrawSettings);
      const Rc view = SettingsPageView(Cursor.panel);
      Seen seen;
      ScrollThrough(kLaptop, Cursor.panel, view, PointF{view.CenterX(), view.CenterY()}, L"DONE", DrawSettings,
                    "language " + std::to_string(language) + " tab " + std::to_string(tab), &seen);
    }
    SettingsOpen = false;
    HelpOpen = true;
    DrawAlone(kLaptop, DrawHelp);
    HelpOpen = false;
    everyText_ = nullptr;
    if (language == kUiEnglish) {
      english = every;
      continue;
    }
    // The English texts in this language, by where they stand.
    std::map<std::pair<std::array<int, 4>, std::wstring>, float> translated;
    for (const DrawnText& t : english) translated.emplace(std::pair{Place(t), Translate(t.text)}, t.size);
    std::set<std::wstring> named;
    for (const DrawnText& t : every) {
      const auto found = translated.find(std::pair{Place(t), t.text});
      const float wanted =
          found == translated.end() ? kReadable : std::max(std::min(kReadable, found->second), found->second * kMostShrink);
      if (t.size < wanted && named.insert(t.text).second)
        small += "\n  language " + std::to_string(language) + ": \"" + WideToUtf8(t.text) + "\" at " +
                 std::to_string(t.size) + " px" +
                 (found == translated.end() ? std::string() : " (English " + std::to_string(found->second) + ")");
    }
  }
  SetUiLanguage(kUiEnglish);
  StopRemoteServer();
  EXPECT_TRUE(small.empty()) << "texts under " << kReadable << " px:" << small;
}

}  // namespace
