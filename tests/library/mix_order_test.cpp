#include "library/mix_order.h"
#include "library/folder_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/status_message.h"
#include "base/text_parse.h"
#include "base/track_info.h"
#include "library/duplicates.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "support/temp_home.h"

namespace {

using Paths = std::vector<std::wstring>;

class MixToolsTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  // Later suites in the same process scan folders for real.
  void TearDown() override {
    Reset();
    StartScanWorkerHook = LaunchFolderScan;
  }
  static void Reset() {
    TrackLibrary.clear(), TrackLists.clear(), ViewItems.clear(), ViewOrder.clear();
    SearchText.clear(), CrateSearch.clear();
    ViewKind = kViewFolder, ViewIndex = 0, SortColumn = kSortSourceOrder, SortAscending = true;
    StartScanWorkerHook = nullptr;
    Status = StatusLine{};
  }
  static void Analyse(const std::wstring& path, double bpm, int32_t key, int energy) {
    TrackInfo& record = TrackInfoFor(path);
    record.analyzed = true, record.bpm = bpm, record.key = key;
    record.loudness = static_cast<float>(energy * 1.4 - 22.0);
  }
  static void ShowFiles(const std::vector<std::pair<std::wstring, std::wstring>>& artistTitle) {
    ViewItems.clear();
    for (const auto& [artist, title] : artistTitle) {
      const uint32_t i = static_cast<uint32_t>(ViewItems.size());
      ViewItems.push_back(
          {.path = L"/m/" + std::to_wstring(i) + L".mp3", .title = title, .artist = artist, .index = i});
    }
    RebuildView();
  }
  TempHome home_;
};

MixTrack Tr(double bpm, int32_t key, int32_t energy) { return MixTrack{.bpm = bpm, .key = key, .energy = energy}; }

}  // namespace

TEST_F(MixToolsTest, MixOrderWalksKeysTemposAndTheEnergyCurve) {
  // The curve starts at the lowest energy; ties go to the slower track.
  EXPECT_EQ(MixOrder({Tr(130, 0, 5), Tr(120, 0, 3), Tr(110, 0, 3), Tr(0, 0, 1)}), (std::vector<uint32_t>{2, 1, 0, 3}))
      << "unanalysed tracks go last in input order";
  // Without energies the order follows tempo and key: 128 after 64 costs nothing for tempo.
  EXPECT_EQ(MixOrder({Tr(64, 21, 0), Tr(100, 21, 0), Tr(128, 21, 0)}), (std::vector<uint32_t>{0, 2, 1}));
  // Key costs: same key 0, relative or wheel neighbour 0.5, unknown 1.5, far keys distance + 3.
  EXPECT_EQ(MixOrder({Tr(128, 21, 0), Tr(128, 2, 0), Tr(128, -1, 0), Tr(128, 0, 0)}),
            (std::vector<uint32_t>{0, 3, 2, 1}));
  EXPECT_TRUE(MixOrder({}).empty());
  EXPECT_EQ(MixOrder({Tr(0, 0, 0), Tr(0, 0, 0)}), (std::vector<uint32_t>{0, 1}));
}

TEST_F(MixToolsTest, MixOrderOfListsAndTheView) {
  TrackLists = LoadLists();
  MixOrderList(kPrepareList);
  EXPECT_EQ(Status.text, L"Mix order needs at least two tracks");
  MixOrderList(99);
  EXPECT_EQ(Status.text, L"Mix order needs at least two tracks");

  TrackLists[kPrepareList].paths = {L"/u1.mp3", L"/u2.mp3", L"/u3.mp3"};
  MixOrderList(kPrepareList);
  EXPECT_EQ(TrackLists[kPrepareList].paths, (Paths{L"/u1.mp3", L"/u2.mp3", L"/u3.mp3"}));
  EXPECT_EQ(Status.text,
            L"In mix order: keys, tempos and energy now flow track to track (3 unanalysed tracks are "
            L"at the end \u2014 ANALYZE them first)");

  Analyse(L"/fast.mp3", 140, 0, 9);
  Analyse(L"/slow.mp3", 120, 0, 2);
  TrackLists[kHistoryList].paths = {L"/fast.mp3", L"/slow.mp3"};
  for (const wchar_t* name : {L"mix order", L"Mix Order"}) {
    TrackList list;
    list.name = name;
    TrackLists.push_back(list);
  }
  MixOrderList(kHistoryList);
  EXPECT_EQ(TrackLists[kHistoryList].paths, (Paths{L"/fast.mp3", L"/slow.mp3"})) << "History stays";
  EXPECT_TRUE(TrackLists[3].paths.empty());
  EXPECT_EQ(TrackLists[4].paths, (Paths{L"/slow.mp3", L"/fast.mp3"})) << "the later of two same-named lists";
  EXPECT_EQ(ViewKind, kViewList);
  EXPECT_EQ(ViewIndex, 4);
  EXPECT_EQ(Status.text, L"In mix order: keys, tempos and energy now flow track to track");

  // The view: each file once, into "Mix order".
  ViewKind = kViewFolder;
  ViewItems = {
      {.path = L"/fast.mp3", .index = 0}, {.path = L"/slow.mp3", .index = 1}, {.path = L"/fast.mp3", .index = 2}};
  RebuildView();
  const MixTrackSet view = CollectViewTracks();
  EXPECT_EQ(view.tracks().size(), 2u);
  MixOrderView();
  EXPECT_EQ(TrackLists[4].paths, (Paths{L"/slow.mp3", L"/fast.mp3"}));
  EXPECT_EQ(TrackLists.size(), 5u);
}

TEST_F(MixToolsTest, CollectViewTracksKeepsViewOrderAndTheFirstOfEachPath) {
  // Enough rows that the table of paths taken probes past collisions; every path shown twice,
  // the second time with other texts, and paths that differ only in case are two files.
  constexpr int kFiles = 3000;
  for (int i = 0; i < 2 * kFiles; ++i) {
    const int n = i < kFiles ? kFiles - 1 - i : i - kFiles;
    const std::wstring path = (n % 2 ? L"/Music/A" : L"/music/a") + std::to_wstring(n / 2) + L".mp3";
    ViewItems.push_back({.path = path, .title = L"T" + std::to_wstring(i), .artist = L"A", .genre = L"G",
                         .duration = double(i), .index = static_cast<uint32_t>(i)});
  }
  // Records for a spread of paths (found through the hash taken for the repeat check), and
  // one under a path no row shows.
  for (int k = 7; k < kFiles / 2; k += 7) Analyse(L"/Music/A" + std::to_wstring(k) + L".mp3", 100.0 + k, 5, 6);
  Analyse(L"/Music/elsewhere.mp3", 90.0, 1, 1);
  RebuildView();
  MixTrackSet collected = CollectViewTracks();
  // The set holds its own texts: the view may change while a worker reads them.
  ViewItems.clear(), ViewOrder.clear();
  const MixTrackSet view = std::move(collected);
  const std::vector<MixTrack>& tracks = view.tracks();
  ASSERT_EQ(tracks.size(), size_t(kFiles));
  for (int i = 0; i < kFiles; ++i) {
    const MixTrack& t = tracks[static_cast<size_t>(i)];
    const int n = kFiles - 1 - i;
    EXPECT_EQ(t.path, (n % 2 ? L"/Music/A" : L"/music/a") + std::to_wstring(n / 2) + L".mp3");
    EXPECT_EQ(t.title, L"T" + std::to_wstring(i)) << "the first row of a path wins";
    EXPECT_EQ(t.artist, L"A");
    EXPECT_EQ(t.genre, L"G");
    EXPECT_EQ(t.duration, double(i));
    const bool recorded = n % 2 == 1 && (n / 2) % 7 == 0 && n / 2 >= 7;
    EXPECT_EQ(t.bpm, recorded ? 100.0 + n / 2 : 0.0) << "analysis only from the path's own record: " << i;
  }
  const MixTrack& analysed = tracks[static_cast<size_t>(kFiles - 1 - 15)];
  EXPECT_EQ(analysed.path, L"/Music/A7.mp3");
  EXPECT_EQ(analysed.key, 5);
  EXPECT_GT(analysed.energy, 0);
}

// Texts of any length stay intact across block ends and moves; a set moved from starts afresh
// instead of writing into the blocks it gave away.
TEST(MixTrackSetTest, KeepsTextsAcrossBlocksAndMoves) {
  MixTrackSet set;
  std::vector<std::wstring> texts;
  for (int i = 0; i < 5000; ++i) texts.push_back(std::wstring(size_t(i % 97), wchar_t(L'a' + i % 26)) + std::to_wstring(i));
  texts.emplace_back(200000, L'z');  // longer than a block
  texts.emplace_back();
  for (const std::wstring& text : texts) set.tracks().push_back({.title = set.Keep(text)});
  MixTrackSet moved(std::move(set));
  set.tracks().push_back({.title = set.Keep(L"reused")});
  MixTrackSet assigned;
  assigned = std::move(moved);
  moved.tracks().push_back({.title = moved.Keep(L"again")});
  assigned.tracks().push_back({.title = assigned.Keep(L"after")});
  ASSERT_EQ(assigned.tracks().size(), texts.size() + 1);
  for (size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(assigned.tracks()[i].title, texts[i]) << i;
  EXPECT_EQ(assigned.tracks().back().title, L"after");
  EXPECT_EQ(set.tracks().back().title, L"reused");
  EXPECT_EQ(moved.tracks().back().title, L"again");
}

TEST_F(MixToolsTest, DuplicatesAreGroupedByArtistAndTitle) {
  EXPECT_EQ(NormaliseMatchText(L"  The\u2003 ARTIST\t  Name "), L"the artist name");
  TrackLists = LoadLists();
  ShowFiles({{L"Solo", L"Only once"}});
  FindDuplicates();
  EXPECT_EQ(Status.text, L"No duplicates: there is only 1 track here");
  EXPECT_EQ(TrackLists.size(), 3u) << "no list is touched";

  ShowFiles({{L"Zed", L"Song"},
             {L"DJ  Ärger ", L"Tune"},
             {L"", L"Nameless"},
             {L"Zed", L"Song (Remix)"},
             {L"dj ärger", L"tune"},
             {L"", L"Nameless"},
             {L"Same", L"  "},
             {L"Same", L""},
             {L"Zed", L"song"},
             {L"Zed", L"Song"}});
  ViewItems.push_back(ViewItems[0]);  // one file shown twice is not its own duplicate
  ViewItems.back().index = static_cast<uint32_t>(ViewItems.size() - 1);
  RebuildView();
  TrackList user;
  user.name = L"DUPLICATES";
  user.paths = {L"/stale.mp3"};
  TrackLists.push_back(user);
  FindDuplicates();
  ASSERT_EQ(TrackLists.size(), 4u) << "the user's list of that name in any case is reused";
  EXPECT_EQ(TrackLists[3].paths,
            (Paths{L"/m/2.mp3", L"/m/5.mp3", L"/m/1.mp3", L"/m/4.mp3", L"/m/0.mp3", L"/m/8.mp3", L"/m/9.mp3"}));
  EXPECT_EQ(Status.text,
            L"3 songs are in more than one file (7 files) \u2014 they're side by side in the Duplicates list");
}
