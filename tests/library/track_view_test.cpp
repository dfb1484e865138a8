#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "base/text_parse.h"
#include "base/track_info.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/side_slots.h"
#include "library/crates.h"
#include "library/folder_scan.h"
#include "library/track_lists.h"
#include "library/track_sort.h"
#include "library/track_view.h"
#include "platform/text.h"

namespace {

using Titles = std::vector<std::wstring>;
const size_t kSortRowsPerTick = SortRowsPerTick;
const SortWorkerStarter kSortOnThread = StartSortWorkerHook;

// What the scan worker was asked for, in place of a real walk.
struct StartedScan {
  std::vector<std::wstring> folders, files;
  uint32_t generation = 0;
};
std::vector<StartedScan> startedScans;

LibraryFile File(const std::wstring& title, const std::wstring& artist = L"", const std::wstring& genre = L"",
                 double duration = 0.0, int64_t modified = 0) {
  LibraryFile file{.path = L"/music/" + title + L".mp3", .title = title, .artist = artist, .genre = genre};
  file.titleKey = LowerText(title), file.artistKey = LowerText(artist);
  file.searchText = file.titleKey + L' ' + file.artistKey + L' ' + LowerText(genre);
  file.duration = duration, file.modified = modified;
  return file;
}

class TrackViewTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  // Later suites in the same process scan folders for real.
  void TearDown() override {
    Reset();
    StartScanWorkerHook = LaunchFolderScan;
    SortRowsPerTick = kSortRowsPerTick, StartSortWorkerHook = kSortOnThread;
  }
  static void Reset() {
    TrackLibrary.clear(), TrackLists.clear(), SmartCrates.clear(), MusicFolders.clear();
    ViewItems.clear(), ViewOrder.clear(), SearchText.clear(), CrateSearch.clear();
    ViewKind = kViewFolder, ViewIndex = 0, Selection = -1, ScrollRow = 0, VisibleRows = 1;
    SortColumn = kSortSourceOrder, SortAscending = true, MatchDeck = false, Scanning = false;
    startedScans.clear();
    StartScanWorkerHook = nullptr;
    for (DeckSnapshot& shot : DeckSnapshots) shot = DeckSnapshot{};
    for (DeckView& view : LiveDeckViews) view = DeckView{};
    SideSlots[kLeftSide] = 0, SideSlots[kRightSide] = 1;
    CrossfaderPosition = 0.5f;
  }
  // Starts a scan through the view, then delivers the files as the worker would, in one batch.
  static void Deliver(std::vector<LibraryFile> files) {
    auto* batch = new std::vector<LibraryFile>(std::move(files));
    for (size_t i = 0; i < batch->size(); ++i) (*batch)[i].index = static_cast<uint32_t>(ViewItems.size() + i);
    ApplyScanBatch(ScanGeneration.load(), batch);
  }
  static Titles Shown() {
    Titles titles;
    for (int i : ViewOrder) titles.push_back(ViewItems[static_cast<size_t>(i)].title);
    return titles;
  }
  static void RecordScans() {
    StartScanWorkerHook = [](std::vector<std::wstring> folders, std::vector<std::wstring> files, uint32_t generation) {
      startedScans.push_back({std::move(folders), std::move(files), generation});
    };
  }
};

}  // namespace

TEST_F(TrackViewTest, EverySortKeyOrdersBothWaysAndKeepsTiesInScanOrder) {
  // Pairs of files tie on every key, so each sort has ties to keep in scan order.
  std::vector<LibraryFile> files = {
      File(L"b", L"x", L"house", 200, 5), File(L"a", L"y", L"Techno", 100, 5), File(L"B", L"x", L"house", 200, 9),
      File(L"c", L"", L"", 100, 1),       File(L"A", L"Y", L"techno", 300, 9), File(L"d", L"x", L"House", 300, 1)};
  for (size_t i = 0; i < files.size(); ++i) files[i].path = L"/music/" + std::to_wstring(i) + L".mp3";
  const double bpms[] = {128, 0, 128, 90, 90, 0};
  const int32_t keys[] = {21, 0, 21, -1, 9, 0};  // 8A, 8B, 8A, none, 11B, 8B
  const int32_t ratings[] = {5, 0, 5, 3, 3, 0};
  for (size_t i = 0; i < files.size(); ++i) {
    if (i == 5) continue;  // no record at all
    TrackInfo& record = TrackInfoFor(files[i].path);
    record.analyzed = bpms[i] > 0, record.bpm = bpms[i], record.key = keys[i];
    record.loudness = static_cast<float>(ratings[i] * 1.4 - 22.0);
    record.rating = ratings[i], record.playCount = ratings[i] * 2, record.lastPlayed = ratings[i] * 1000;
    record.color = i == 4 ? 42 : ratings[i];  // an out-of-range colour sorts as 8
  }
  Deliver(files);
  for (int column = kSortTitle; column <= kSortColour; ++column) {
    for (bool ascending : {true, false}) {
      SortColumn = column, SortAscending = ascending;
      RebuildView();
      ASSERT_EQ(ViewOrder.size(), files.size());
      for (size_t row = 1; row < ViewOrder.size(); ++row) {
        const LibraryFile& a = ViewItems[static_cast<size_t>(ViewOrder[row - 1])];
        const LibraryFile& b = ViewItems[static_cast<size_t>(ViewOrder[row])];
        const int order = CompareTracks(a, b, column);
        EXPECT_TRUE(ascending ? order <= 0 : order >= 0) << "column " << column << " row " << row;
        if (order == 0) EXPECT_LT(a.index, b.index) << "a tie keeps scan order: column " << column << " row " << row;
      }
    }
  }
  // The particular rules of some keys.
  SortColumn = kSortBpm, SortAscending = true;
  RebuildView();
  EXPECT_EQ(Shown(), (Titles{L"a", L"d", L"c", L"A", L"b", L"B"})) << "no BPM first when ascending";
  SortAscending = false;
  RebuildView();
  EXPECT_EQ(Shown(), (Titles{L"b", L"B", L"c", L"A", L"a", L"d"})) << "and last when descending";
  SortColumn = kSortArtist, SortAscending = true;
  RebuildView();
  EXPECT_EQ(Shown(), (Titles{L"c", L"b", L"B", L"d", L"a", L"A"})) << "one artist's tracks by title";
  SortColumn = kSortKey;
  RebuildView();
  EXPECT_EQ(Shown(), (Titles{L"c", L"d", L"A", L"b", L"B", L"a"})) << "Camelot names as text: 11B before 8A";
  SortColumn = kSortGenre;
  RebuildView();
  EXPECT_EQ(Shown(), (Titles{L"c", L"b", L"B", L"d", L"a", L"A"})) << "genre ignoring case, then artist";
  SortColumn = kSortColour, SortAscending = false;
  RebuildView();
  EXPECT_EQ(Shown().front(), L"A") << "colour 42 counts as 8";
}

TEST_F(TrackViewTest, TitlesSortByUtf16CodeUnits) {
  // Above U+FFFF a character is a surrogate pair (D800-DFFF), so it sorts below U+E000-U+FFFF.
  Deliver({File(L"\uFFFD"), File(L"x\U0001F600"), File(L"\U0001F600"), File(L"x\uE000"), File(L"a"),
           File(L"long\uE000"), File(L"long\U0001F600")});
  SortColumn = kSortTitle, SortAscending = true;
  RebuildView();
  EXPECT_EQ(Shown(), (Titles{L"a", L"long\U0001F600", L"long\uE000", L"x\U0001F600", L"x\uE000", L"\U0001F600",
                             L"\uFFFD"}));
}

TEST_F(TrackViewTest, SwitchingTheSourceStartsAFreshScanAndDropsTheOldOnesBatches) {
  RecordScans();
  MusicFolders = {L"/music", L"/more"};
  ViewIndex = 1;
  ShowFolder();
  ASSERT_EQ(startedScans.size(), 1u);
  EXPECT_EQ(startedScans[0].folders, std::vector<std::wstring>{L"/more"});
  EXPECT_TRUE(Scanning);
  EXPECT_EQ(SortColumn, kSortTitle) << "a folder view sorts by title when no sort was set";
  const uint32_t folderScan = startedScans[0].generation;
  Deliver({File(L"z"), File(L"y")});
  EXPECT_EQ(Shown(), (Titles{L"y", L"z"}));

  SmartCrates = {{.name = L"Fast", .search = L"fast"}};
  ShowCrate(0);
  ASSERT_EQ(startedScans.size(), 2u);
  EXPECT_EQ(startedScans[1].folders, MusicFolders) << "a crate scans every music folder";
  EXPECT_TRUE(ViewItems.empty());
  ApplyScanBatch(folderScan, new std::vector<LibraryFile>{File(L"late fast")});
  FinishFolderScan(folderScan);
  EXPECT_TRUE(ViewItems.empty()) << "the folder's late batch is dropped";
  EXPECT_TRUE(Scanning) << "and its end does not end the crate's scan";
  Deliver({File(L"fast one"), File(L"slow"), File(L"fast two")});
  EXPECT_EQ(Shown(), (Titles{L"fast one", L"fast two"}));
  FinishFolderScan(startedScans[1].generation);
  EXPECT_FALSE(Scanning);
  ShowCrate(1);
  EXPECT_EQ(startedScans.size(), 2u) << "an invalid crate does nothing";

  // Editing the shown crate filters again at once, without a scan.
  UpdateCrate(0, L"", L"slow");
  EXPECT_EQ(startedScans.size(), 2u);
  EXPECT_EQ(SmartCrates[0].name, L"Fast") << "an emptied name keeps the old one";
  EXPECT_EQ(Shown(), Titles{L"slow"});

  // A view of a list: list order, History newest first; the selection and scroll start over.
  TrackLists = LoadLists();
  TrackLists[kHistoryList].paths = {L"/old.mp3", L"/new.mp3", L"/old.mp3"};
  TrackLists[kPrepareList].paths = {L"/2.mp3", L"/1.mp3"};
  Selection = 1, ScrollRow = 4;
  ShowList(kPrepareList);
  EXPECT_EQ(startedScans.back().files, TrackLists[kPrepareList].paths);
  EXPECT_TRUE(startedScans.back().folders.empty());
  EXPECT_EQ(Selection, -1);
  EXPECT_EQ(ScrollRow, 0);
  Deliver({File(L"2"), File(L"1")});
  EXPECT_EQ(Shown(), (Titles{L"2", L"1"}));
  ShowList(kHistoryList);
  Deliver({File(L"old"), File(L"new"), File(L"old again")});
  EXPECT_EQ(Shown(), (Titles{L"old again", L"new", L"old"}));

  // The shell's list hook: a changed History shown again keeps its scroll row; another list is not shown.
  ScrollRow = 7;
  const size_t scans = startedScans.size();
  ListViewHooks.refreshList(kPrepareList);
  EXPECT_EQ(startedScans.size(), scans);
  ListViewHooks.refreshList(kHistoryList);
  EXPECT_EQ(startedScans.size(), scans + 1);
  EXPECT_EQ(ScrollRow, 7);
}

TEST_F(TrackViewTest, MoveSelectionClampsAndScrollsTheRowIntoView) {
  MoveSelection(1);
  EXPECT_EQ(Selection, -1) << "an empty view";
  Deliver({File(L"a"), File(L"b"), File(L"c"), File(L"d"), File(L"e")});
  SortColumn = kSortSourceOrder, SortAscending = false;  // rows e d c b a
  RebuildView();
  VisibleRows = 2;
  MoveSelection(1);
  EXPECT_EQ(Selection, 4) << "+1 without a selection: the first row";
  Selection = -1;
  MoveSelection(-1);
  EXPECT_EQ(Selection, 0) << "-1 without a selection: the last row";
  EXPECT_EQ(ScrollRow, 3) << "the last row scrolled into view";
  MoveSelection(-10);
  EXPECT_EQ(Selection, 4) << "stops at the first row";
  EXPECT_EQ(ScrollRow, 0);
  MoveSelection(2);
  EXPECT_EQ(Selection, 2);
  EXPECT_EQ(ScrollRow, 1);
  MoveSelection(99);
  EXPECT_EQ(Selection, 0);
  // A selection filtered out of view starts over from the ends.
  SearchText = L"b";
  RebuildView();
  MoveSelection(1);
  EXPECT_EQ(Selection, 1);
}

TEST_F(TrackViewTest, MatchFollowsTheOnAirDeck) {
  auto track = std::make_shared<Track>();
  track->path = L"/music/playing.mp3", track->bpm = 128.0, track->key = 21;  // 8A
  track->frames = 44100 * 60;
  std::vector<LibraryFile> files = {File(L"half"), File(L"same"), File(L"near"), File(L"far"), File(L"clash"),
                                    File(L"wheel"), File(L"unanalysed"), File(L"playing")};
  const double bpms[] = {64, 128, 135, 140, 128, 121, 128, 128};
  const int32_t keys[] = {21, 21, 0, 21, 2, 16, 21, 21};  // 8A, 8A, 8B, 8A, 10B, 9A, 8A, 8A
  for (size_t i = 0; i < files.size(); ++i) {
    TrackInfo& record = TrackInfoFor(files[i].path);
    record.analyzed = i != 6, record.bpm = bpms[i], record.key = keys[i];
  }
  Deliver(files);
  MatchDeck = true;
  RebuildView();
  EXPECT_EQ(Shown().size(), files.size()) << "no deck loaded: the search alone";

  DeckSnapshots[0].track = track;
  RebuildView();
  EXPECT_EQ(Shown(), (Titles{L"half", L"same", L"near", L"wheel"}));

  // A second deck playing and audible takes over; the view follows it.
  auto other = std::make_shared<Track>(*track);
  other->path = L"/music/other.mp3", other->bpm = 140.0, other->key = -1;
  DeckSnapshots[1].track = other;
  DeckSnapshots[1].playing = true;
  EXPECT_EQ(OnAirDeck(), 1);
  RebuildView();
  EXPECT_EQ(Shown(), (Titles{L"near", L"far"})) << "any key fits an unknown deck key";
  CrossfaderPosition = 0.0f;  // deck B's side closed: still the playing deck over a stopped one
  EXPECT_EQ(OnAirDeck(), 1);
  DeckSnapshots[0].playing = true;
  EXPECT_EQ(OnAirDeck(), 0);
  MatchDeck = false;
  RebuildView();
  EXPECT_EQ(Shown().size(), files.size());
}

TEST_F(TrackViewTest, LoadingTheSelectionPicksAStoppedEmptyDeck) {
  Deliver({File(L"one")});
  LoadSelectedTrack(-1);
  EXPECT_FALSE(LiveDeckViews[0].loading) << "no selection";
  Selection = 0;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].track = std::make_shared<Track>();
    Engine.decks[1].track.reset();
  }
  LoadSelectedTrack(-1);
  EXPECT_FALSE(LiveDeckViews[0].loading);
  EXPECT_TRUE(LiveDeckViews[1].loading) << "the right deck is stopped and empty";
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  Engine.decks[0].track.reset();
}

TEST_F(TrackViewTest, AddMusicDirSelectsAKnownFolderAndAppendsANewOne) {
  RecordScans();
  MusicFolders = {L"/a", L"/b"};
  AddMusicDir(L"/b");
  EXPECT_EQ(ViewIndex, 1);
  EXPECT_EQ(MusicFolders.size(), 2u);
  AddMusicDir(L"/B");
  EXPECT_EQ(ViewIndex, 2) << "paths are compared exactly";
  EXPECT_EQ(startedScans.back().folders, std::vector<std::wstring>{L"/B"});
  ViewIndex = 9;
  const size_t scans = startedScans.size();
  Deliver({File(L"left over")});
  ShowFolder();
  EXPECT_TRUE(ViewItems.empty()) << "no such folder: an empty view";
  EXPECT_EQ(startedScans.size(), scans);
  EXPECT_FALSE(Scanning);
}

TEST_F(TrackViewTest, ScanBatchesMergedIntoTheOrderEqualAFullRebuild) {
  // Few distinct values, so every key has ties across batches; "deep" is in some files' text and
  // in some records' own tags only; "é" is matched as bytes.
  std::vector<LibraryFile> files;
  const std::wstring titles[] = {L"Deep é", L"b", L"\U0001F600 deep", L"a", L"Dé", L"\uE000"};
  for (int i = 0; i < 240; ++i) {
    files.push_back(File(titles[i * 7 % 6] + L" é", i % 4 == 0 ? L"Deep" : L"x", i % 3 ? L"House" : L"house",
                         100.0 + i % 5, i % 7));
    files.back().path = L"/music/" + std::to_wstring(i) + L".mp3";
    if (i % 11 == 0) TrackInfoFor(files.back().path).myTags = L"Deep, warm";
  }
  const int columns[] = {kSortSourceOrder, kSortTitle, kSortArtist, kSortLength, kSortGenre, kSortDateAdded};
  for (const std::wstring& search : {L"", L"deep é", L"é"}) {
    for (int column : columns) {
      for (bool ascending : {true, false}) {
        SearchText = search, SortColumn = column, SortAscending = ascending;
        ViewItems.clear();
        RebuildView();
        for (size_t start = 0; start < files.size(); start += 30)
          Deliver(std::vector<LibraryFile>(files.begin() + static_cast<long>(start),
                                           files.begin() + static_cast<long>(start + 30)));
        const std::vector<int> merged = ViewOrder;
        RebuildView();
        EXPECT_EQ(merged, ViewOrder) << "search '" << WideToUtf8(search) << "' column " << column
                                     << (ascending ? " ascending" : " descending");
        EXPECT_FALSE(ViewOrder.empty());
      }
    }
  }
  // A condition reads records that change without a rebuild: batches then rebuild in full.
  SearchText = L"bpm:120", SortColumn = kSortTitle, SortAscending = true;
  ViewItems.clear();
  RebuildView();
  Deliver(std::vector<LibraryFile>(files.begin(), files.begin() + 10));
  EXPECT_TRUE(ViewOrder.empty());
  TrackInfo& record = TrackInfoFor(files[0].path);  // an existing record: the map's size stays
  record.analyzed = true, record.bpm = 120.0;
  Deliver(std::vector<LibraryFile>(files.begin() + 10, files.begin() + 20));
  EXPECT_EQ(ViewOrder, (std::vector<int>{0}));
}

TEST_F(TrackViewTest, TextSortsRankAgainWhenFilesChange) {
  Deliver({File(L"c", L"z"), File(L"a", L"y"), File(L"b", L"x")});
  SortColumn = kSortTitle, SortAscending = true;
  RebuildView();
  EXPECT_EQ(Shown(), (Titles{L"a", L"b", L"c"}));
  const LibraryFile ranked = ViewItems[1];
  ViewItems[2] = File(L"0", L"w"), ViewItems[2].index = 2;  // as a tag edit replaces a file
  RebuildView();
  EXPECT_EQ(Shown(), (Titles{L"0", L"a", L"c"}));
  SortColumn = kSortArtist;  // another column ranks again
  RebuildView();
  EXPECT_EQ(Shown(), (Titles{L"0", L"a", L"c"}));
  ViewItems[0] = ranked, ViewItems[0].index = 0;  // a file ranked by an earlier sort
  SortColumn = kSortTitle, SortAscending = false;
  RebuildView();
  EXPECT_EQ(Shown(), (Titles{L"a", L"a", L"0"})) << "ties in scan order";
  Scanning = true;  // a full rebuild during a scan sorts the shown rows by their values
  Deliver({File(L"b", L"v")});
  SearchText = L"a";
  RebuildView();
  EXPECT_EQ(Shown(), (Titles{L"a", L"a"}));
  SearchText.clear();
  RebuildView();
  EXPECT_EQ(Shown(), (Titles{L"b", L"a", L"a", L"0"}));
}

TEST_F(TrackViewTest, TextSortsKeptPerColumnOrderAsTheComparatorThroughChanges) {
  // Accents, case, digits, empty fields, characters above U+FFFF and past U+E000, and ties.
  const std::wstring titles[] = {L"\u00c9clair", L"eclair", L"Zebra",        L"zebra", L"10 Tracks", L"9 Tracks",
                                 L"",             L"\u00e1bc", L"abc",         L"Abc",   L"\U0001F600 smile",
                                 L"\uFF21 wide", L"stra\u00dfe", L"STRASSE", L"abc"};
  const std::wstring artists[] = {L"", L"\u00d3lafur", L"olafur", L"2 Many", L"10 Many", L"\u00f3lafur", L"Zed"};
  const std::wstring genres[] = {L"House", L"", L"house", L"\u00c9lectro", L"Tech House", L"electro"};
  std::vector<LibraryFile> files;
  for (size_t i = 0; i < std::size(titles); ++i)
    files.push_back(File(titles[i], artists[i % std::size(artists)], genres[i % std::size(genres)]));
  Deliver(files);
  // Today's comparator, ties in scan order.
  const auto expected = [](int column, bool ascending) {
    std::vector<int> order(ViewItems.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      const int c = CompareTracks(ViewItems[static_cast<size_t>(a)], ViewItems[static_cast<size_t>(b)], column);
      return ascending ? c < 0 : c > 0;
    });
    return order;
  };
  // Back and forth between the columns, so that each sorts from kept ranks as well as fresh ones;
  // between rounds a tag edit replaces a file, whose kept ranks would misplace it.
  const int columns[] = {kSortTitle, kSortArtist, kSortGenre, kSortTitle, kSortLength, kSortArtist, kSortGenre};
  for (int round = 0; round < 3; ++round) {
    for (int column : columns)
      for (bool ascending : {true, false}) {
        SortColumn = column, SortAscending = ascending;
        RebuildView();
        EXPECT_EQ(ViewOrder, expected(column, ascending)) << "round " << round << " column " << column;
      }
    const size_t edited = round == 0 ? 3 : 7;
    ViewItems[edited] = File(round == 0 ? L"AAA" : L"zzz", round == 0 ? L"zz top" : L"", L"Ambient");
    ViewItems[edited].index = static_cast<uint32_t>(edited);
  }
}

TEST_F(TrackViewTest, EditedSearchesShowWhatAFullSearchShowsThroughLibraryChanges) {
  // Titles and artists that share prefixes, some words only in records' own tags, ties in every
  // sort key; typed a key at a time, then taken back by Backspace to nothing and typed again, with
  // own tags edited and a scan batch arriving on the way, a paste over the whole query, a
  // condition typed in and words in any order.
  std::vector<LibraryFile> files;
  const std::wstring words[] = {L"deep", L"deeper", L"house", L"hou", L"warm é", L"art", L"artist", L"Live"};
  for (int i = 0; i < 460; ++i) {
    files.push_back(File(words[i % 8] + L" " + words[i * 3 % 8], words[i * 5 % 7], i % 3 ? L"House" : L"techno",
                         100.0 + i % 9, i % 5));
    files.back().path = L"/music/" + std::to_wstring(i) + L".mp3";
  }
  const std::vector<LibraryFile> later(files.begin() + 400, files.end());
  files.resize(400);
  const auto setTags = [&](int every, int from, const std::wstring& tags) {
    for (size_t i = static_cast<size_t>(from); i < files.size(); i += static_cast<size_t>(every))
      TrackInfoFor(files[i].path).myTags = tags;
  };
  // Each key, or a library change as its code makes it (a tag edit rebuilds the view).
  struct Key {
    std::wstring text;
    std::function<void()> change;
  };
  const auto session = [&](const std::wstring& query) {
    std::vector<Key> keys;
    for (size_t n = 1; n <= query.size(); ++n) keys.push_back({query.substr(0, n), nullptr});
    keys.push_back({L"", [&] { setTags(7, 3, L"Deeper house, artistic"), RebuildView(); }});
    for (size_t n = query.size(); n-- > 0;) {
      keys.push_back({query.substr(0, n), nullptr});
      if (n == query.size() / 2) keys.push_back({L"", [&] { setTags(7, 3, L""), RebuildView(); }});
    }
    for (size_t n = 1; n <= query.size(); ++n) {
      keys.push_back({query.substr(0, n), nullptr});
      if (n == 2) keys.push_back({L"", [&] { Deliver(later); }});
    }
    keys.push_back({L"live warm", nullptr});  // pasted over the whole query
    keys.push_back({query, nullptr});
    return keys;
  };
  // What the list shows after each key: as typed, or searched in full every time.
  const auto run = [&](const std::vector<Key>& keys, bool full) {
    setTags(13, 0, L"Warmer, artistic");
    setTags(7, 3, L"");
    SearchText.clear();
    ViewItems.clear();
    RebuildView();
    Deliver(files);
    std::vector<std::vector<int>> shown;
    for (const Key& key : keys) {
      if (key.change) {
        key.change();
      } else {
        SearchText = key.text;
        RebuildView();
        if (full) RebuildView();  // the same text again: a full search
      }
      shown.push_back(ViewOrder);
    }
    return shown;
  };
  const std::wstring typed[] = {L"deep hou", L"artist warm", L"hou  deep é", L"bpm:12 deep", L"warmer x"};
  for (int column : {kSortTitle, kSortArtist, kSortSourceOrder, kSortLength})
    for (bool ascending : {true, false})
      for (const std::wstring& query : typed) {
        SortColumn = column, SortAscending = ascending;
        const std::vector<Key> keys = session(query);
        const std::vector<std::vector<int>> asTyped = run(keys, false), inFull = run(keys, true);
        for (size_t k = 0; k < keys.size(); ++k)
          EXPECT_EQ(asTyped[k], inFull[k]) << "'" << WideToUtf8(query) << "' key " << k << " '"
                                           << WideToUtf8(keys[k].text) << "' column " << column << " ascending "
                                           << ascending;
      }
  // The edited tags changed what the shorter queries show, so a stale row set would differ.
  const std::vector<Key> keys = session(L"deep hou");
  SortColumn = kSortTitle, SortAscending = true;
  const std::vector<std::vector<int>> shown = run(keys, false);
  const size_t edited = std::string("deep hou").size(), prefix = edited - 1;
  EXPECT_NE(shown[prefix].size(), shown[edited + 2].size()) << "'deep ho' before and after the tag edit";
}

namespace {

// Sorts handed to a worker, run when the test says.
std::vector<std::function<void()>> queuedSorts;

// The view's rows as the comparator orders them, ties in scan order.
std::vector<int> SortedRows(int column, bool ascending) {
  std::vector<int> rows = ViewOrder;
  std::sort(rows.begin(), rows.end());
  std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) {
    const int c = CompareTracks(ViewItems[static_cast<size_t>(a)], ViewItems[static_cast<size_t>(b)], column);
    return ascending ? c < 0 : c > 0;
  });
  return rows;
}

}  // namespace

TEST_F(TrackViewTest, ASlowSortShowsTheOldOrderUntilItsWorkerEndsAndTheNewestSortOrFilterWins) {
  SortRowsPerTick = 8;  // every sort here is a slow one, its copy taken in slices
  StartSortWorkerHook = [](std::function<void()> work) { queuedSorts.push_back(std::move(work)); };
  queuedSorts.clear();
  std::vector<LibraryFile> files;
  for (int i = 0; i < 60; ++i) {
    files.push_back(File(std::wstring(1, L"dbca"[i % 4]) + std::to_wstring(i % 7), i % 3 ? L"Ann" : L"Bo",
                         i % 3 == 0 ? L"House" : (i % 3 == 1 ? L"disco" : L"Techno"), 100.0 + i % 9));
    files.back().path = L"/music/" + std::to_wstring(i) + L".mp3";
    TrackInfoFor(files.back().path).bpm = 120.0 + i % 5;
  }
  Deliver(files);
  SortColumn = kSortTitle, SortAscending = true;
  RebuildView();
  const std::vector<int> byTitle = ViewOrder;
  // Ticks until the sort's copy is whole and its worker queued; the old order stays meanwhile.
  const auto tickUntilQueued = [&](size_t sorts) {
    for (int tick = 0; tick < 20 && queuedSorts.size() < sorts; ++tick) {
      EXPECT_FALSE(TakeViewSort());
      EXPECT_EQ(ViewOrder, byTitle) << "tick " << tick;
    }
    ASSERT_EQ(queuedSorts.size(), sorts);
  };

  SortView(kSortBpm, true);
  EXPECT_TRUE(queuedSorts.empty()) << "60 rows are copied in slices of 8";
  tickUntilQueued(1);
  SortView(kSortArtist, false);  // a newer click before the first sort came
  EXPECT_EQ(SortColumn, kSortArtist) << "the header shows the newest sort at once";
  tickUntilQueued(2);
  EXPECT_TRUE(ViewSortPending());
  EXPECT_FALSE(TakeViewSort());
  EXPECT_EQ(ViewOrder, byTitle) << "the old order stays until the new one is ready";
  queuedSorts[1]();
  EXPECT_TRUE(TakeViewSort());
  EXPECT_EQ(ViewOrder, SortedRows(kSortArtist, false));
  queuedSorts[0]();  // the overtaken sort ends last
  EXPECT_FALSE(TakeViewSort());
  EXPECT_EQ(ViewOrder, SortedRows(kSortArtist, false)) << "an overtaken sort is dropped";
  EXPECT_FALSE(ViewSortPending());

  // The worker's ranks are kept: the same column the other way is sorted at once, and right.
  SortView(kSortArtist, true);
  EXPECT_FALSE(ViewSortPending());
  EXPECT_EQ(ViewOrder, SortedRows(kSortArtist, true));

  // A search typed while a sort runs, and a scan batch, each rebuild by the newest sort.
  SortView(kSortGenre, true);
  while (queuedSorts.size() < 3) ASSERT_FALSE(TakeViewSort());
  SearchText = L"house";
  RebuildView();
  queuedSorts.back()();
  EXPECT_FALSE(TakeViewSort());
  EXPECT_EQ(ViewOrder, SortedRows(kSortGenre, true));
  EXPECT_EQ(ViewOrder.size(), 20u);
  SortView(kSortLength, false);
  while (queuedSorts.size() < 4) ASSERT_FALSE(TakeViewSort());
  Deliver({File(L"e", L"Cy", L"House", 250.0)});
  queuedSorts.back()();
  EXPECT_FALSE(TakeViewSort());
  EXPECT_EQ(ViewOrder, SortedRows(kSortLength, false));
  EXPECT_EQ(ViewItems[static_cast<size_t>(ViewOrder.front())].title, L"e");

  // On a real thread, the sort comes while the UI goes on.
  StartSortWorkerHook = kSortOnThread;
  SearchText.clear();
  SortColumn = kSortTitle;
  RebuildView();
  SortView(kSortGenre, false);
  for (int wait = 0; wait < 10000 && !TakeViewSort(); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(ViewSortPending());
  EXPECT_EQ(ViewOrder, SortedRows(kSortGenre, false));
}
