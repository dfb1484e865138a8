// The popup menu: the layout of a level, hit testing and keyboard stepping, fitting a level to
// the work area, and whole menu runs on SDL's headless video driver driven through the menu's
// event queue: keys, the mouse, submenus, dismissal, the guard against a changed target and the
// pump that runs after every frame.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "base/settings.h"
#include "base/test_mode.h"
#include "engine/deck_view.h"
#include "engine/sampler.h"
#include "engine/sampler_bank.h"
#include "platform/menu_window.h"
#include "platform/window.h"
#include "screens/sampler_menu.h"
#include "support/temp_home.h"
#include "ui/modal.h"
#include "ui/popup_menu.h"

namespace {

constexpr int kVkReturn = 0x0D, kVkEscape = 0x1B, kVkLeft = 0x25, kVkUp = 0x26, kVkRight = 0x27, kVkDown = 0x28;

PopupMenuEntry Submenu(const wchar_t* text, std::vector<PopupMenuEntry> entries, bool disabled = false) {
  PopupMenuEntry e = MenuEntry(text, 0, disabled);
  e.submenu = std::move(entries);
  return e;
}

// Tops: 6, 36, 66 (separator, 11 high), 77, 107, 137; 179 high in all.
std::vector<PopupMenuEntry> SampleMenu() {
  return {
      MenuEntry(L"Load a sound", 1),
      Submenu(L"Capture loop", {MenuEntry(L"From deck A", 10), MenuEntry(L"From deck B", 11, true)}),
      MenuSeparator(),
      MenuEntry(L"One-shot (plays once)", 2, false, true),
      MenuEntry(L"Greyed", 5, true),
      Submenu(L"Volume", {MenuEntry(L"25%", 20), MenuSeparator(), MenuEntry(L"50%", 21)}),
  };
}

// Item i's vertical centre in SampleMenu, in window pixels at scale 1.
float CentreOf(int i) {
  constexpr float kTops[] = {6, 36, 66, 77, 107, 137};
  return kTops[i] + (i == 2 ? 5.5f : 15.0f);
}

// A headless window session for whole menu runs; the menu and the frame queue are emptied after.
struct HeadlessSession {
  HeadlessSession() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    std::wstring error;
    started = StartWindowing(&error) && OpenMainWindow(L"menu test", 800, 600);
  }
  ~HeadlessSession() {
    ClosePopupMenu();
    DeferredActions.clear();
    StopWindowing();
  }
  bool started = false;
};

// Shows SampleMenu at (100, 100) and records the choice.
struct MenuUnderTest {
  explicit MenuUnderTest(PopupMenuGuard guard = {}, int x = 100, int y = 100) {
    shown = ShowPopupMenu(SampleMenu(), x, y, 0x1FA8FF, [this](uint32_t id) { chosen = id; }, std::move(guard));
  }
  bool shown = false;
  std::optional<uint32_t> chosen;
};

// Keys and presses outside belong to no menu window.
void Post(MenuEventKind kind, int key = 0) {
  MenuEvent e;
  e.kind = kind;
  e.key = key;
  PostMenuEvent(e);
}

// A mouse or wheel event addressed to a level's window (y in its pixels), then a pump.
void PostToLevel(MenuEventKind kind, size_t level, float y) {
  MenuEvent e;
  e.kind = kind;
  e.y = y;
  e.window = InspectPopupMenu().at(level).window;
  PostMenuEvent(e);
  PumpPopupMenu();
}

void Keys(std::initializer_list<int> keys) {
  for (int k : keys) Post(MenuEventKind::Key, k);
  PumpPopupMenu();
}

}  // namespace

// --- Layout, hit testing and stepping ---

TEST(PopupMenuLayout, ItemsStackFromTheTopPaddingAndTheWidthFollowsTheWidestText) {
  const std::vector<PopupMenuEntry> menu = SampleMenu();
  const MenuLayout layout = LayoutMenuLevel(menu);
  ASSERT_EQ(layout.items.size(), 6u);
  const float tops[] = {6, 36, 66, 77, 107, 137};
  for (size_t i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(layout.items[i].top, tops[i]) << i;
  EXPECT_FLOAT_EQ(layout.items[2].height, kMenuSeparatorDip);
  EXPECT_FLOAT_EQ(layout.height, 137 + 30 + 6);
  EXPECT_EQ(layout.items[1].submenu, &menu[1].submenu);
  EXPECT_EQ(layout.items[0].submenu, nullptr);
  EXPECT_TRUE(layout.items[3].checked);
  EXPECT_TRUE(layout.items[4].disabled);

  const std::vector<PopupMenuEntry> narrow = {MenuEntry(L"Eject", 1), MenuSeparator(), MenuEntry(L"Undo", 2)};
  EXPECT_FLOAT_EQ(LayoutMenuLevel(narrow).width, kMenuMinWidthDip);  // short texts: the narrowest menu
  const std::vector<PopupMenuEntry> wide = {MenuEntry(std::wstring(200, L'W').c_str(), 1)};
  EXPECT_FLOAT_EQ(LayoutMenuLevel(wide).width, kMenuMaxWidthDip);
  const std::vector<PopupMenuEntry> medium = {MenuEntry(L"Auto cues from phrases (intro, drops, breaks, outro)", 1)};
  const float w = LayoutMenuLevel(medium).width;
  EXPECT_GT(w, kMenuMinWidthDip);
  EXPECT_LT(w, kMenuMaxWidthDip);
}

TEST(PopupMenuLayout, ItemAtSkipsSeparatorsAndTheEdges) {
  const std::vector<PopupMenuEntry> menu = SampleMenu();
  const MenuLayout layout = LayoutMenuLevel(menu);
  EXPECT_EQ(MenuItemAt(layout.items, 5.9f), -1);  // the top padding
  EXPECT_EQ(MenuItemAt(layout.items, 6.0f), 0);
  EXPECT_EQ(MenuItemAt(layout.items, 35.9f), 0);
  EXPECT_EQ(MenuItemAt(layout.items, 36.0f), 1);
  EXPECT_EQ(MenuItemAt(layout.items, 70.0f), -1);  // the separator
  EXPECT_EQ(MenuItemAt(layout.items, 120.0f), 4);  // disabled items are still hit
  EXPECT_EQ(MenuItemAt(layout.items, 167.0f), -1);  // the bottom padding
}

TEST(PopupMenuLayout, SteppingSkipsSeparatorsAndDisabledItemsAndWraps) {
  const std::vector<PopupMenuEntry> menu = SampleMenu();
  const std::vector<MenuItem> items = LayoutMenuLevel(menu).items;
  EXPECT_EQ(NextSelectableItem(items, -1, 1), 0);
  EXPECT_EQ(NextSelectableItem(items, -1, -1), 5);
  EXPECT_EQ(NextSelectableItem(items, 1, 1), 3);   // over the separator
  EXPECT_EQ(NextSelectableItem(items, 3, 1), 5);   // over the disabled item
  EXPECT_EQ(NextSelectableItem(items, 5, 1), 0);   // wraps
  EXPECT_EQ(NextSelectableItem(items, 0, -1), 5);  // wraps backward
  EXPECT_EQ(NextSelectableItem(items, 3, -1), 1);

  const std::vector<PopupMenuEntry> dead = {MenuSeparator(), MenuEntry(L"x", 1, true)};
  EXPECT_EQ(NextSelectableItem(LayoutMenuLevel(dead).items, -1, 1), -1);
  EXPECT_EQ(NextSelectableItem({}, -1, 1), -1);
}

TEST(PopupMenuLayout, LevelsMoveIntoTheWorkArea) {
  const PixelRect work{0, 0, 1920, 1040};
  // Fits: stays.
  PixelRect r = FitMenuRect(100, 200, 180, 300, work, -1);
  EXPECT_EQ(r.x, 100);
  EXPECT_EQ(r.y, 200);
  // A root past the right edge moves left to end at it.
  r = FitMenuRect(1850, 200, 180, 300, work, -1);
  EXPECT_EQ(r.x, 1920 - 180);
  // A submenu flips to the left of its parent (left edge 1700), overlapping it by 4 pixels.
  r = FitMenuRect(1876, 200, 200, 300, work, 1700);
  EXPECT_EQ(r.x, 1700 - 200 + 4);
  // Past the bottom: moves up, never above the top.
  r = FitMenuRect(100, 900, 180, 300, work, -1);
  EXPECT_EQ(r.y, 1040 - 300);
  r = FitMenuRect(100, 900, 180, 2000, work, -1);
  EXPECT_EQ(r.y, 0);
  EXPECT_EQ(r.h, 1040) << "taller than the work area: as tall as it, and it scrolls";
  // Never left of the work area, also on a monitor that does not start at 0.
  const PixelRect second{1920, 0, 1280, 1024};
  r = FitMenuRect(1900, 10, 180, 100, second, -1);
  EXPECT_EQ(r.x, 1920);
  r = FitMenuRect(3100, 10, 300, 100, second, 2000);
  EXPECT_EQ(r.x, 1920);  // flipped past the left edge, then held at it
  EXPECT_EQ(r.w, 300);
  EXPECT_EQ(r.h, 100);
}

// --- Whole runs ---

TEST(PopupMenuRun, ArrowKeysAndEnterChooseAndTheMenuCloses) {
  HeadlessSession session;
  ASSERT_TRUE(session.started);
  MenuUnderTest menu;
  ASSERT_TRUE(menu.shown);
  ASSERT_EQ(InspectPopupMenu().size(), 1u);
  EXPECT_EQ(InspectPopupMenu()[0].rect.x, 102);  // just below and right of the point
  EXPECT_EQ(InspectPopupMenu()[0].rect.y, 102);
  EXPECT_EQ(InspectPopupMenu()[0].hover, -1);
  Keys({kVkDown, kVkDown});
  EXPECT_EQ(InspectPopupMenu()[0].hover, 1);
  Keys({kVkDown});
  EXPECT_EQ(InspectPopupMenu()[0].hover, 3);  // over the separator
  EXPECT_FALSE(menu.chosen);
  Keys({kVkReturn});
  EXPECT_FALSE(PopupMenuOpen());
  EXPECT_TRUE(InspectPopupMenu().empty());
  ASSERT_TRUE(menu.chosen);
  EXPECT_EQ(*menu.chosen, 2u);
}

TEST(PopupMenuRun, SubmenusOpenWithRightAndCloseWithLeftAndEscape) {
  HeadlessSession session;
  ASSERT_TRUE(session.started);
  MenuUnderTest menu;
  ASSERT_TRUE(menu.shown);
  Keys({kVkUp});  // from no highlight: the last item
  EXPECT_EQ(InspectPopupMenu()[0].hover, 5);
  Keys({kVkRight});
  ASSERT_EQ(InspectPopupMenu().size(), 2u);
  EXPECT_EQ(InspectPopupMenu()[1].hover, 0);  // the first item of the new level is lit
  EXPECT_EQ(InspectPopupMenu()[0].hover, 5);  // the parent keeps its highlight
  Keys({kVkLeft});
  EXPECT_EQ(InspectPopupMenu().size(), 1u);
  Keys({kVkLeft});  // nothing at the root
  EXPECT_EQ(InspectPopupMenu().size(), 1u);
  Keys({kVkRight, kVkEscape});  // Esc in a submenu closes only it
  EXPECT_EQ(InspectPopupMenu().size(), 1u);
  EXPECT_TRUE(PopupMenuOpen());
  Keys({kVkRight, kVkDown, kVkReturn});  // 25% -> over the separator -> 50%
  ASSERT_TRUE(menu.chosen);
  EXPECT_EQ(*menu.chosen, 21u);
}

TEST(PopupMenuRun, EscapeAtTheRootAndAPressOutsideDismissWithoutAChoice) {
  HeadlessSession session;
  ASSERT_TRUE(session.started);
  {
    MenuUnderTest menu;
    Keys({kVkDown, kVkEscape});
    EXPECT_FALSE(PopupMenuOpen());
    EXPECT_FALSE(menu.chosen);
  }
  {
    MenuUnderTest menu;
    Keys({kVkDown});
    Post(MenuEventKind::PressOutside);
    PumpPopupMenu();
    EXPECT_FALSE(PopupMenuOpen());
    EXPECT_FALSE(menu.chosen);
  }
  {
    MenuUnderTest menu;
    ClosePopupMenu();
    EXPECT_FALSE(PopupMenuOpen());
    EXPECT_FALSE(menu.chosen);
  }
}

TEST(PopupMenuRun, TheMouseHighlightsOpensSubmenusAtOnceAndChoosesOnRelease) {
  HeadlessSession session;
  ASSERT_TRUE(session.started);
  MenuUnderTest menu;
  ASSERT_TRUE(menu.shown);
  PostToLevel(MenuEventKind::MouseMove, 0, CentreOf(1));
  std::vector<PopupMenuLevelInfo> levels = InspectPopupMenu();
  ASSERT_EQ(levels.size(), 2u);
  EXPECT_EQ(levels[0].hover, 1);
  EXPECT_EQ(levels[1].hover, -1);  // hovering opens without lighting an item
  EXPECT_EQ(levels[1].rect.x, levels[0].rect.x + levels[0].rect.w - 4);
  EXPECT_EQ(levels[1].rect.y, levels[0].rect.y + 30);  // lined up with its item
  // Leaving the submenu clears its highlight; the parent keeps its own.
  PostToLevel(MenuEventKind::MouseMove, 1, CentreOf(0));
  EXPECT_EQ(InspectPopupMenu()[1].hover, 0);
  PostToLevel(MenuEventKind::MouseLeave, 1, 0);
  EXPECT_EQ(InspectPopupMenu()[1].hover, -1);
  PostToLevel(MenuEventKind::MouseLeave, 0, 0);  // not the deepest level: keeps its highlight
  EXPECT_EQ(InspectPopupMenu()[0].hover, 1);
  // Back on the root's first item: the submenu closes.
  PostToLevel(MenuEventKind::MouseMove, 0, CentreOf(0));
  EXPECT_EQ(InspectPopupMenu().size(), 1u);
  // Releases on a separator or a disabled item keep the menu open.
  PostToLevel(MenuEventKind::LeftUp, 0, CentreOf(2));
  PostToLevel(MenuEventKind::LeftUp, 0, CentreOf(4));
  EXPECT_TRUE(PopupMenuOpen());
  EXPECT_FALSE(menu.chosen);
  PostToLevel(MenuEventKind::LeftUp, 0, CentreOf(3));
  ASSERT_TRUE(menu.chosen);
  EXPECT_EQ(*menu.chosen, 2u);
}

TEST(PopupMenuRun, AChoiceAfterTheDeckLoadedAnotherTrackActsOnNothing) {
  HeadlessSession session;
  ASSERT_TRUE(session.started);
  const uint32_t before = LiveDeckViews[1].loadSerial;
  {
    MenuUnderTest menu(DeckMenuGuard(1));
    Keys({kVkDown, kVkReturn});
    ASSERT_TRUE(menu.chosen);  // nothing changed: the choice runs
    EXPECT_EQ(*menu.chosen, 1u);
  }
  {
    MenuUnderTest menu(DeckMenuGuard(1));
    ++LiveDeckViews[1].loadSerial;  // a load started while the menu was open
    Keys({kVkDown, kVkReturn});
    EXPECT_FALSE(PopupMenuOpen());
    EXPECT_FALSE(menu.chosen);
  }
  {
    MenuUnderTest menu(DeckMenuGuard(7));  // no such deck: never acts
    Keys({kVkDown, kVkReturn});
    EXPECT_FALSE(menu.chosen);
  }
  LiveDeckViews[1].loadSerial = before;
}

TEST(PopupMenuRun, ASamplerPadChoiceAfterTheBankChangedActsOnNothing) {
  TempHome home;
  HeadlessSession session;
  ASSERT_TRUE(session.started);
  TestMode = true;  // the choice saves the settings: nothing is written
  constexpr int kPad = 2;
  const int slotA = kPad, slotB = kPadsPerBank + kPad;
  Settings.Loop[slotA] = false;
  Settings.Loop[slotB] = false;
  // Load a sound, Capture loop, (separator), One-shot, Loop.
  const std::initializer_list<int> chooseLoop = {kVkDown, kVkDown, kVkDown, kVkDown, kVkReturn};
  SamplerPadMenu(kPad);
  ASSERT_TRUE(PopupMenuOpen());
  Keys(chooseLoop);
  EXPECT_TRUE(Settings.Loop[slotA]);  // the bank did not change: the choice acts

  Settings.Loop[slotA] = false;
  SamplerPadMenu(kPad);
  ASSERT_TRUE(PopupMenuOpen());
  SelectSamplerBank(1);  // meanwhile, from a key or a controller
  Keys(chooseLoop);
  EXPECT_FALSE(PopupMenuOpen());
  EXPECT_FALSE(Settings.Loop[slotA]);  // the slot the menu was for
  EXPECT_FALSE(Settings.Loop[slotB]);  // and not the one now under the pad
  SelectSamplerBank(0);
  TestMode = false;
}

TEST(PopupMenuRun, TheMenuRunsInTheFramesDeferredActions) {
  HeadlessSession session;
  ASSERT_TRUE(session.started);
  DeferredActions.clear();
  MenuUnderTest menu;
  ASSERT_EQ(DeferredActions.size(), 1u);  // the pump waits for the frame
  RunDeferredActions();                   // a frame with nothing for the menu
  EXPECT_TRUE(PopupMenuOpen());
  ASSERT_EQ(DeferredActions.size(), 1u);  // queued again for the next frame
  Post(MenuEventKind::Key, kVkDown);
  Post(MenuEventKind::Key, kVkReturn);
  RunDeferredActions();
  ASSERT_TRUE(menu.chosen);
  EXPECT_EQ(*menu.chosen, 1u);
  EXPECT_TRUE(DeferredActions.empty());  // closed: nothing more to run

  // A menu that replaced another leaves one pump running, not two.
  MenuUnderTest replaced;
  MenuUnderTest current;
  ASSERT_EQ(DeferredActions.size(), 2u);
  RunDeferredActions();
  EXPECT_EQ(DeferredActions.size(), 1u);
  RunDeferredActions();
  EXPECT_EQ(DeferredActions.size(), 1u);
}

TEST(PopupMenuRun, ANewMenuReplacesTheOpenOneAndEmptyMenusShowNothing) {
  HeadlessSession session;
  ASSERT_TRUE(session.started);
  MenuUnderTest first;
  Keys({kVkUp, kVkRight});
  ASSERT_EQ(InspectPopupMenu().size(), 2u);
  MenuUnderTest second;
  ASSERT_TRUE(second.shown);
  EXPECT_EQ(InspectPopupMenu().size(), 1u);
  Keys({kVkDown, kVkReturn});
  EXPECT_FALSE(first.chosen);
  ASSERT_TRUE(second.chosen);
  EXPECT_EQ(*second.chosen, 1u);

  bool ran = false;
  EXPECT_FALSE(ShowPopupMenu({}, 10, 10, 0xFFFFFF, [&](uint32_t) { ran = true; }));
  EXPECT_FALSE(PopupMenuOpen());
  EXPECT_FALSE(ran);
}

TEST(PopupMenuRun, LevelsNearTheScreenEdgeMoveAndSubmenusFlipLeft) {
  HeadlessSession session;
  ASSERT_TRUE(session.started);
  // The headless display is 1024 x 768.
  MenuUnderTest menu({}, 1000, 740);
  ASSERT_TRUE(menu.shown);
  PixelRect root = InspectPopupMenu()[0].rect;
  EXPECT_EQ(root.x + root.w, 1024);
  EXPECT_EQ(root.y + root.h, 768);
  Keys({kVkUp, kVkRight});
  ASSERT_EQ(InspectPopupMenu().size(), 2u);
  const PixelRect sub = InspectPopupMenu()[1].rect;
  EXPECT_EQ(sub.x + sub.w, root.x + 4);
  EXPECT_LE(sub.y + sub.h, 768);
}

// A submenu of 45 tags, a separator and "Edit My Tags…" (1416 DIPs) on the 768-pixel display: it
// fits the screen and scrolls, by the wheel, by the arrows at its ends and by the keys, so its
// last entry is reached and chosen with the mouse.
TEST(PopupMenuRun, ASubmenuTallerThanTheScreenScrollsToItsLastEntry) {
  HeadlessSession session;
  ASSERT_TRUE(session.started);
  std::vector<PopupMenuEntry> tags;
  for (uint32_t i = 1; i <= 45; ++i) tags.push_back(MenuEntry(L"t" + std::to_wstring(i), 100 + i));
  tags.push_back(MenuSeparator());
  tags.push_back(MenuEntry(L"Edit My Tags\u2026", 99));
  std::optional<uint32_t> chosen;
  ASSERT_TRUE(ShowPopupMenu({MenuEntry(L"Play", 1), Submenu(L"My Tag", tags)}, 100, 100, 0x1FA8FF,
                            [&](uint32_t id) { chosen = id; }));
  PostToLevel(MenuEventKind::MouseMove, 0, CentreOf(1));
  ASSERT_EQ(InspectPopupMenu().size(), 2u);
  const PixelRect sub = InspectPopupMenu()[1].rect;
  EXPECT_GE(sub.y, 0);
  EXPECT_EQ(sub.y + sub.h, 768) << "as tall as the screen, and on it";

  // The wheel scrolls three items a step, no further than the end.
  PostToLevel(MenuEventKind::Wheel, 1, -1);
  EXPECT_FLOAT_EQ(InspectPopupMenu()[1].scroll, 90.0f);
  for (int i = 0; i < 40; ++i) PostToLevel(MenuEventKind::Wheel, 1, -1);
  const float end = InspectPopupMenu()[1].scroll;
  EXPECT_FLOAT_EQ(end, 45 * 30 + 11 + 30 + 12 - 768.0f);
  // The last entry now sits above the bottom edge: the mouse picks it.
  PostToLevel(MenuEventKind::MouseMove, 1, 768 - 6 - 15);
  PostToLevel(MenuEventKind::LeftUp, 1, 768 - 6 - 15);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(*chosen, 99u);

  // Again, back up with the arrow at the top and with the keys.
  chosen.reset();
  ASSERT_TRUE(ShowPopupMenu({Submenu(L"My Tag", tags)}, 100, 100, 0x1FA8FF, [&](uint32_t id) { chosen = id; }));
  Keys({kVkDown, kVkRight});
  ASSERT_EQ(InspectPopupMenu().size(), 2u);
  Keys({kVkUp});  // wraps to the last entry, which scrolls into view
  EXPECT_FLOAT_EQ(InspectPopupMenu()[1].scroll, end);
  PostToLevel(MenuEventKind::LeftUp, 1, kMenuScrollArrowDip / 2);  // the top arrow: a page back
  EXPECT_LT(InspectPopupMenu()[1].scroll, end - 600);
  Keys({kVkDown, kVkReturn});  // from the last entry down wraps to t1
  ASSERT_TRUE(chosen);
  EXPECT_EQ(*chosen, 101u);
}

TEST(PopupMenuRun, WithoutADisplayNothingIsShown) {
  bool ran = false;
  EXPECT_FALSE(ShowPopupMenu(SampleMenu(), 10, 10, 0xFFFFFF, [&](uint32_t) { ran = true; }));
  EXPECT_FALSE(PopupMenuOpen());
  EXPECT_TRUE(DeferredActions.empty());
  EXPECT_FALSE(ran);
}
