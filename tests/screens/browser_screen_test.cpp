#include "screens/browser_screen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "base/settings.h"
#include "base/track_info.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "karaoke/karaoke_panel.h"
#include "library/analysis_queue.h"
#include "library/crates.h"
#include "library/folder_scan.h"
#include "library/now_playing.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "screens/browser_table.h"
#include "screens/sidebar.h"
#include "support/temp_home.h"
#include "ui/draw.h"
#include "ui/glow.h"
#include "ui/modal.h"
#include "ui/widgets.h"

namespace {

constexpr int kFrameW = 1600, kFrameH = 700;
constexpr Rc kBrowser{8, 8, 1584, 656};

void ResetGlobals() {
  Input = UiInput{};
  ActiveControlId = kNoActiveControl;
  midiLearnOn = false, midiLearnTarget = 0;
  pressedIds.clear(), releasedIds.clear(), heldIds.clear();
  DeferredActions.clear();
  ViewItems.clear(), ViewOrder.clear(), MusicFolders.clear(), SmartCrates.clear(), TrackLists.clear();
  SearchText.clear(), CrateSearch.clear();
  ViewKind = kViewFolder, ViewIndex = 0, Selection = -1, ScrollRow = 0;
  SortColumn = kSortTitle, SortAscending = true;
  Scanning = false, Analysing = false, MatchDeck = false, SearchFocused = false;
  KaraokePanelShown = false;
  TrackLibrary.clear();
  NowPlaying = NowPlayingState{};
  for (DeckSnapshot& shot : DeckSnapshots) shot = DeckSnapshot{};
  StartScanWorkerHook = nullptr;
}

class BrowserScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetGlobals();
    // No covers: their loader would post its answers into later tests' message queue.
    Settings.Art = false;
    ASSERT_TRUE(CreateDevice(kFrameW, kFrameH, 1.0f));
  }
  void TearDown() override {
    ReleaseDevice();
    ResetGlobals();
    Settings.Art = true;
    StartScanWorkerHook = LaunchFolderScan;
  }
  // n files "Track 000".., with loudness (and energy) growing with the index, shown in title order.
  static void FillView(int n) {
    for (int i = 0; i < n; ++i) {
      wchar_t title[32];
      swprintf(title, 32, L"Track %03d", i);
      LibraryFile f{.path = L"/music/" + std::wstring(title) + L".mp3", .title = title, .artist = L"A"};
      f.titleKey = L"track " + std::to_wstring(1000 + i).substr(1);
      f.searchText = f.titleKey;
      f.index = static_cast<uint32_t>(i);
      f.duration = 60 + i;
      ViewItems.push_back(f);
      TrackInfo& record = TrackInfoFor(f.path);
      record.analyzed = true, record.bpm = 120 + i, record.loudness = -20.0f + 3.0f * static_cast<float>(i);
    }
    RebuildView();
  }
  static void Frame() {
    ResetGlowLayer();
    BeginDraw();
    DrawBrowser(kBrowser);
    EndFrame();
    EndFrameInput();
  }
  static void Press(float x, float y, bool right = false) {
    Input.x = x, Input.y = y;
    if (right) {
      Input.rightPressed = true;
    } else {
      Input.held = Input.pressed = true;
    }
    Frame();
    Input.held = false, Input.released = !right;
    Frame();
  }
  static BrowserLayout Layout() {
    return LayOutBrowser(kBrowser, TextWidth(BrowserCountLine(), kBrowserCountTextSize, false, kFontSegoeUi), false,
                         false);
  }
};

}  // namespace

TEST(BrowserLayoutTest, ToolbarAndColumnsFollowTheRoomLeft) {
  // Wide: full labels, the search box at its 300 cap, the columns filling the table exactly.
  BrowserLayout wide = LayOutBrowser(Rc{0, 0, 1584, 656}, 60, false, false);
  EXPECT_FALSE(wide.compact);
  EXPECT_FLOAT_EQ(wide.contentX, 222);
  EXPECT_FLOAT_EQ(wide.searchBox.w, 300);
  EXPECT_FLOAT_EQ(wide.loadLeft.x, 222 + 300 + 8);
  EXPECT_FLOAT_EQ(wide.macros.w, 80);
  float sum = wide.firstCell.w;
  for (const Rc& cell : wide.headerCells) sum += cell.w;
  EXPECT_FLOAT_EQ(sum, wide.tableWidth);
  EXPECT_FLOAT_EQ(wide.headerCells[6].Right(), wide.contentX + wide.tableWidth);
  EXPECT_EQ(wide.visibleRows, 24);  // (656 - 76) / 24
  EXPECT_GT(wide.countLine.w, 0);

  // Narrow: compact widths; the search box keeps at least min(room, 120).
  BrowserLayout narrow = LayOutBrowser(Rc{0, 0, 900, 400}, 60, false, false);
  EXPECT_TRUE(narrow.compact);
  EXPECT_FLOAT_EQ(narrow.loadLeft.w, 48);
  EXPECT_FLOAT_EQ(narrow.ai.w, 52);
  EXPECT_GE(narrow.searchBox.w, 0);

  // The karaoke column takes 300..420 on the right; the content ends 10 before it.
  BrowserLayout karaoke = LayOutBrowser(Rc{0, 0, 1584, 656}, 60, true, false);
  EXPECT_FLOAT_EQ(karaoke.karaoke.w, 420);
  EXPECT_FLOAT_EQ(karaoke.contentRight, karaoke.karaoke.x - 10);
  EXPECT_FLOAT_EQ(LayOutBrowser(Rc{0, 0, 1200, 656}, 60, true, false).karaoke.w, 300);

  // A tiny browser: one row at least, never a negative search box.
  BrowserLayout tiny = LayOutBrowser(Rc{0, 0, 300, 80}, 200, false, true);
  EXPECT_EQ(tiny.visibleRows, 1);
  EXPECT_GE(tiny.searchBox.w, 0);
}

TEST(BrowserLayoutTest, ScrollingNeverPassesTheEndAndAShortListNeverDivides) {
  const BrowserLayout l = LayOutBrowser(Rc{0, 0, 1584, 656}, 60, false, false);  // 24 rows fit
  EXPECT_EQ(ScrollRowAfterWheel(0, -1000.0f, 1000, 24), 976);
  EXPECT_EQ(ScrollRowAfterWheel(0, -100.0f, 1000, 24), 300);
  EXPECT_EQ(ScrollRowAfterWheel(10, 1.0f, 1000, 24), 7);
  EXPECT_EQ(ScrollRowAfterWheel(10, 5.0f, 1000, 24), 0);
  EXPECT_EQ(ScrollRowAfterWheel(5, -1.0f, 10, 24), 0) << "all rows fit: the scroll row is 0";
  // The thumb sits at the bottom at the last scroll row, and a drag past the end stops there.
  const ScrollThumb last = ScrollbarThumb(l, 1000, 976);
  EXPECT_FLOAT_EQ(last.top + last.height, l.list.Bottom());
  EXPECT_EQ(ScrollRowForDrag(l, 1000, 0, l.list.y, l.list.Bottom() + 500), 976);
  EXPECT_EQ(ScrollRowForDrag(l, 1000, 500, 300, -5000), 0);
  EXPECT_EQ(ScrollRowForJump(l, 1000, l.list.Bottom()), 976);

  // A list no taller than the minimum thumb: the thumb has no travel, so nothing moves.
  const BrowserLayout flat = LayOutBrowser(Rc{0, 0, 1584, 96}, 60, false, false);  // a 20 DIP list
  ASSERT_LE(flat.list.h, 24.0f);
  EXPECT_EQ(ScrollRowForDrag(flat, 50, 7, 10, 400), 7);
  EXPECT_EQ(ScrollRowForJump(flat, 50, 400), 0);
  const ScrollThumb t = ScrollbarThumb(flat, 50, 7);
  EXPECT_TRUE(std::isfinite(t.top));
}

// MATCH that hides every file of a full folder says that nothing mixes with the deck, not that
// the folder holds no audio.
TEST(BrowserTextsTest, MatchWithNothingMatchingSaysNothingMixes) {
  ResetGlobals();
  MusicFolders = {L"/music"};
  for (const wchar_t* name : {L"/music/slow.mp3", L"/music/fast.mp3", L"/music/new.mp3"}) {
    ViewItems.push_back(LibraryFile{.path = name});
    TrackInfo& record = TrackInfoFor(name);
    record.analyzed = std::wstring(name) != L"/music/new.mp3";
    record.bpm = std::wstring(name) == L"/music/fast.mp3" ? 174.0 : 90.0;
  }
  auto track = std::make_shared<Track>();
  track->sampleRate = 44100, track->bpm = 128.0;
  DeckSnapshots[0].track = track;
  MatchDeck = true;
  RebuildView();
  EXPECT_TRUE(ViewOrder.empty());
  EXPECT_EQ(EmptyViewText(), L"No analysed track here mixes with the on-air deck");
  MatchDeck = false;
  RebuildView();
  EXPECT_EQ(ViewOrder.size(), 3u);
  ResetGlobals();
}

TEST(BrowserTextsTest, CountLineEmptyTextsAndCellValues) {
  ResetGlobals();
  ViewOrder = {0};
  EXPECT_EQ(BrowserCountLine(), L"1 track");
  ViewOrder = {0, 1};
  Scanning = true;
  SortColumn = kSortGenre;
  SortAscending = true;
  EXPECT_EQ(BrowserCountLine(), L"2 tracks  •  scanning…  •  by genre ▲");
  SortColumn = kSortColour, SortAscending = false;
  Scanning = false;
  EXPECT_EQ(BrowserCountLine(), L"2 tracks  •  by colour ▼");

  ViewOrder.clear();
  Scanning = true, ViewKind = kViewList;
  EXPECT_EQ(EmptyViewText(), L"Scanning…") << "scanning wins over all others";
  Scanning = false;
  EXPECT_EQ(EmptyViewText(), L"This list is empty — drag tracks onto it in the sidebar, or right-click a track");
  ViewKind = kViewCrate;
  EXPECT_EQ(EmptyViewText(), L"Nothing in your folders matches this crate's search");
  ViewKind = kViewFolder;
  EXPECT_EQ(EmptyViewText(), L"Add a music folder to get started");
  MusicFolders = {L"/music"};
  EXPECT_EQ(EmptyViewText(), L"No audio files found in this folder");
  SearchText = L"zz";
  EXPECT_EQ(EmptyViewText(), L"No tracks match your search");

  EXPECT_EQ(EnergyLevel(-40.0f), 1);
  EXPECT_EQ(EnergyLevel(-8.0f), 10);
  EXPECT_EQ(EnergyLevel(-15.0f), 5);
  EXPECT_EQ(HoveredStar(100, 100), 1);
  EXPECT_EQ(HoveredStar(100, 124.5f), 3);
  EXPECT_EQ(HoveredStar(100, 400), 5);
  EXPECT_EQ(RatingAfterClick(3, 3), 0);
  EXPECT_EQ(RatingAfterClick(3, 4), 4);
  ResetGlobals();
  StartScanWorkerHook = LaunchFolderScan;
}

TEST_F(BrowserScreenTest, HeaderClicksSortAndFlipAndARightPressQueuesTheSortMenu) {
  FillView(3);
  const BrowserLayout l = Layout();
  const Rc title = l.headerCells[0], energy = l.headerCells[4];
  Press(title.CenterX(), title.CenterY());
  EXPECT_EQ(SortColumn, kSortTitle);
  EXPECT_FALSE(SortAscending) << "a second click on the sorted column flips it";
  EXPECT_EQ(ViewOrder, (std::vector<int>{2, 1, 0}));
  Press(energy.CenterX(), energy.CenterY());
  EXPECT_EQ(SortColumn, kSortEnergy);
  EXPECT_FALSE(SortAscending) << "ENERGY starts with the highest";
  EXPECT_EQ(ViewOrder.front(), 2);
  Press(l.headerCells[5].CenterX(), l.headerCells[5].CenterY());
  EXPECT_EQ(SortColumn, kSortRating);
  EXPECT_FALSE(SortAscending);
  Press(l.headerCells[2].CenterX(), l.headerCells[2].CenterY());
  EXPECT_EQ(SortColumn, kSortBpm);
  EXPECT_TRUE(SortAscending);
  EXPECT_TRUE(DeferredActions.empty());
  Press(title.CenterX(), title.CenterY(), true);
  EXPECT_EQ(DeferredActions.size(), 1u) << "the sort menu waits for the end of the frame";
}

TEST_F(BrowserScreenTest, StarsSetAndClearTheRatingAndRowsSelectAndCapture) {
  FillView(3);
  const BrowserLayout l = Layout();
  const Rc row1 = BrowserRowRect(l, 1);
  const Rc stars = BrowserStarsRect(l, row1);
  const float third = stars.x + 2.5f * kBrowserStarDip;
  Input.x = third, Input.y = row1.CenterY();
  Frame();  // hover first: the row must be hovered when pressed
  Press(third, row1.CenterY());
  const std::wstring path = ViewItems[static_cast<size_t>(ViewOrder[1])].path;
  ASSERT_NE(FindTrackInfo(path), nullptr);
  EXPECT_EQ(FindTrackInfo(path)->rating, 3);
  EXPECT_EQ(Selection, -1) << "a press on the stars does not select";
  Press(third, row1.CenterY());
  EXPECT_EQ(FindTrackInfo(path)->rating, 0) << "the same star again clears the rating";

  // A press on the row's title selects it and starts a possible drag from there.
  const float x = l.headerCells[0].CenterX();
  Input.x = x, Input.y = row1.CenterY(), Input.held = Input.pressed = true;
  Frame();
  EXPECT_EQ(ActiveControlId, kBrowserRowsControlId);
  EXPECT_EQ(Selection, ViewOrder[1]);
  EXPECT_FLOAT_EQ(BrowserScreen.pressX, x);
  Input.held = false, Input.released = true;
  Frame();

  // A right press selects the row and defers its menu.
  const Rc row2 = BrowserRowRect(l, 2);
  Input.x = x, Input.y = row2.CenterY();
  Frame();
  Press(x, row2.CenterY(), true);
  EXPECT_EQ(Selection, ViewOrder[2]);
  EXPECT_EQ(DeferredActions.size(), 1u);
}

TEST_F(BrowserScreenTest, InLearnModeNothingReactsAndTheListBecomesTheTarget) {
  FillView(3);
  const BrowserLayout l = Layout();
  midiLearnOn = true;
  const Rc row0 = BrowserRowRect(l, 0);
  Press(l.headerCells[0].CenterX(), l.headerCells[0].CenterY());
  EXPECT_EQ(SortColumn, kSortTitle);
  EXPECT_TRUE(SortAscending) << "the header did not sort";
  Press(BrowserStarsRect(l, row0).x + 1, row0.CenterY());
  EXPECT_EQ(FindTrackInfo(ViewItems[0].path)->rating, 0);
  EXPECT_EQ(Selection, -1);
  EXPECT_EQ(midiLearnTarget, kBrowserListId) << "a press on the list makes it the learn target";
  EXPECT_EQ(controlKinds[kBrowserListId], 2) << "a relative control, moved by an encoder";
}

TEST_F(BrowserScreenTest, TheWheelAndTheScrollbarKeepTheLastPageFull) {
  FillView(100);
  const BrowserLayout l = Layout();
  Input.x = l.list.CenterX(), Input.y = l.list.CenterY(), Input.wheel = -1000;
  Frame();
  EXPECT_EQ(ScrollRow, 100 - l.visibleRows);
  EXPECT_EQ(VisibleRows, l.visibleRows);
  Input.wheel = 0;
  // Dragging the scrollbar from its thumb far up goes back to the top, never above.
  const ScrollThumb thumb = ScrollbarThumb(l, 100, ScrollRow);
  Input.x = l.scrollTrack.CenterX(), Input.y = thumb.top + thumb.height / 2;
  Input.held = Input.pressed = true;
  Frame();
  EXPECT_EQ(ActiveControlId, kBrowserScrollbarId);
  Input.pressed = false, Input.y = -3000;
  Frame();
  EXPECT_EQ(ScrollRow, 0);
  Input.held = false, Input.released = true;
  Frame();
  // A press on the track below the thumb jumps there.
  Press(l.scrollTrack.CenterX(), l.list.Bottom() - 1);
  EXPECT_EQ(ScrollRow, 100 - l.visibleRows);

  // A list shown again keeps its scroll row while its rows are still arriving.
  ViewItems.resize(10);
  RebuildView();
  ScrollRow = 50, Scanning = true;
  Input.x = Input.y = -100;
  Frame();
  EXPECT_EQ(ScrollRow, 50);
  Scanning = false;
  Frame();
  EXPECT_EQ(ScrollRow, 0) << "once the scan is done the rows bound it";
}

TEST_F(BrowserScreenTest, SidebarRowsShowTheirSourceAndFolderRemovalKeepsTheIndex) {
  TempHome home;
  MusicFolders = {L"/m/one", L"/m/two", L"/m/three"};
  ViewKind = kViewFolder, ViewIndex = 2;
  TrackLists = LoadLists();
  Frame();
  const SidebarLayout s = LayOutSidebar(Layout().sidebar, 3, 0, TrackLists.size());
  ASSERT_EQ(s.folders.size(), 3u);
  EXPECT_GT(s.crateHint.w, 0) << "no crates: the hint";
  ASSERT_EQ(SidebarListRows.size(), 3u) << "every drawn list row is a drop target";
  EXPECT_FLOAT_EQ(SidebarListRows[1].rect.y, s.lists[1].y);
  // A click on a list shows it; a right press on folder 0 removes it and the shown index stays
  // within the folders.
  Press(s.lists[1].CenterX(), s.lists[1].CenterY());
  EXPECT_EQ(ViewKind, kViewList);
  EXPECT_EQ(ViewIndex, 1);
  ViewKind = kViewFolder, ViewIndex = 2;
  Input.x = s.folders[0].CenterX(), Input.y = s.folders[0].CenterY();
  Frame();
  Press(s.folders[0].CenterX(), s.folders[0].CenterY(), true);
  EXPECT_EQ(MusicFolders, (std::vector<std::wstring>{L"/m/two", L"/m/three"}));
  EXPECT_EQ(ViewIndex, 1) << "limited to the new last folder";
  EXPECT_EQ(FolderLabel(L"/m/three/"), L"/m/three/");
  EXPECT_EQ(FolderLabel(L"/m/three"), L"three");
}

TEST_F(BrowserScreenTest, TheSearchBoxFocusesAndItsCrossClearsTheSearch) {
  FillView(3);
  const BrowserLayout l = Layout();
  Press(l.searchBox.x + 40, l.searchBox.CenterY());
  EXPECT_TRUE(SearchFocused);
  SearchText = L"track 001";
  RebuildView();
  EXPECT_EQ(ViewOrder.size(), 1u);
  ScrollRow = 0;
  Frame();
  Press(l.searchBox.Right() - 15, l.searchBox.CenterY());
  EXPECT_TRUE(SearchText.empty());
  EXPECT_EQ(ViewOrder.size(), 3u);
  EXPECT_TRUE(SearchFocused) << "the focus stays as it was";
}
