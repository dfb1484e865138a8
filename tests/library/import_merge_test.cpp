#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "base/files.h"
#include "base/status_message.h"
#include "base/track_info.h"
#include "library/database.h"
#include "library/import_merge.h"
#include "library/import_worker.h"
#include "library/rekordbox_export.h"
#include "library/rekordbox_xml.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/playlist_collection.h"
#include "support/temp_home.h"

namespace {

constexpr auto kUiTurn = std::chrono::milliseconds(1);
constexpr auto kImportDeadline = std::chrono::minutes(3);

// The window's post queue, open for one test.
struct WindowPosts {
  WindowPosts() { OpenUiPosts(nullptr); }
  ~WindowPosts() { CloseUiPosts(DiscardImportPost); }
};

class ImportMergeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    TrackLists = LoadLists();
  }
  void TearDown() override { Reset(); }
  static void Reset() {
    TrackLibrary.clear();
    TrackLists.clear();
    ViewItems.clear();
    LibraryNoSave = false;
    LibraryDirty = false;
    Status = StatusLine{};
    LastImportReport.clear();
  }
  static ImportResult* Result(std::vector<ImportedTrack> tracks, std::vector<TrackList> lists = {},
                              std::wstring error = L"") {
    return new ImportResult{std::move(tracks), std::move(lists), std::move(error)};
  }
  static std::vector<std::wstring> Names() {
    std::vector<std::wstring> names;
    for (const TrackList& list : TrackLists) names.push_back(list.name);
    return names;
  }

  TempHome home_;
};

ImportedTrack Full(const std::wstring& path) {
  ImportedTrack t;
  t.path = path;
  t.bpm = 124.0;
  t.firstBeat = 0.2;
  t.tempoMarkers = {{32.0, 15.7}, {2080.0, 1007.0}};
  t.key = 5;
  t.rating = 5;
  t.cue = 3.0;
  t.hotCueStart = {1.0, 2.0, 3.0, -1.0, 5.0, -1.0, -1.0, -1.0};
  t.hotCueEnd[1] = 4.0;
  t.hotCueColor = {0xFF0000, 0x0000FF, 0xFFFFFF, -1, -1, -1, -1, -1};
  t.hotCueName[0] = L"Intro";
  t.memoryCues = {10.0, 20.0};
  t.color = 3;
  return t;
}

}  // namespace

TEST_F(ImportMergeTest, TracksFillWhatTheRecordLacksAndASecondImportAddsNoCues) {
  TrackInfo& mine = TrackInfoFor(L"/m/mine.mp3");
  mine.rating = 3;
  mine.color = 7;
  mine.cue = 9.0;
  mine.hotCueStart[0] = 50.0;
  mine.hotCueName[0] = L"Mine";
  mine.memoryCues = {20.03};
  mine.bpm = 100.0;
  mine.analyzed = true;

  ASSERT_TRUE(MergeImport(kImportRekordbox, Result({Full(L"/m/mine.mp3"), Full(L"/m/new.mp3")})));
  EXPECT_EQ(LastImportReport, L"Imported 2 tracks and 0 playlists");
  const TrackInfo& a = *FindTrackInfo(L"/m/mine.mp3");
  EXPECT_EQ(a.rating, 3);
  EXPECT_EQ(a.color, 7);
  EXPECT_EQ(a.cue, 9.0);
  EXPECT_EQ(a.hotCueStart[0], 50.0);  // a used slot is never touched
  EXPECT_EQ(a.hotCueName[0], L"Mine");
  EXPECT_EQ(a.hotCueStart[1], 2.0);
  EXPECT_EQ(a.hotCueEnd[1], 4.0);
  EXPECT_EQ(a.hotCueColor[1], 6);   // pure blue
  EXPECT_EQ(a.hotCueColor[2], 9);   // white
  EXPECT_EQ(a.hotCueColor[4], -1);  // none given: the slot's default
  EXPECT_EQ(a.memoryCues, (std::vector<double>{10.0, 20.03}));  // 20.0 lies within 0.05 s of 20.03
  EXPECT_EQ(a.bpm, 124.0);
  EXPECT_EQ(a.firstBeat, 0.2);
  EXPECT_EQ(a.tempoMarkers.size(), 2u);
  EXPECT_TRUE(a.gridImported);
  EXPECT_TRUE(a.analyzed);
  EXPECT_EQ(a.key, 5);
  const TrackInfo& b = *FindTrackInfo(L"/m/new.mp3");
  EXPECT_EQ(b.rating, 5);
  EXPECT_EQ(b.color, 3);
  EXPECT_EQ(b.cue, 3.0);
  EXPECT_EQ(b.hotCueColor[0], 11);  // pure red
  EXPECT_EQ(b.hotCueName[0], L"Intro");

  // The same collection again, with a new key and tempo: those are written, no cue is added.
  ImportedTrack again = Full(L"/m/new.mp3");
  again.key = 17;
  again.bpm = 125.0;
  again.hotCueStart = {1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5, 8.5};
  again.memoryCues = {10.01, 19.99};
  ASSERT_TRUE(MergeImport(kImportRekordbox, Result({again})));
  const TrackInfo& b2 = *FindTrackInfo(L"/m/new.mp3");
  EXPECT_EQ(b2.key, 17);
  EXPECT_EQ(b2.bpm, 125.0);
  EXPECT_EQ(b2.memoryCues, (std::vector<double>{10.0, 20.0}));
  EXPECT_EQ(b2.hotCueStart[0], 1.0);
  EXPECT_EQ(b2.hotCueStart[3], 4.5);  // only the free slots take cues
  EXPECT_TRUE(std::filesystem::exists(WideToUtf8(DatabasePath())));
}

TEST_F(ImportMergeTest, PlaylistsArePrefixedReplacedAndNeverShareAFile) {
  auto lists = [] {
    return std::vector<TrackList>{{.name = L"A/B", .paths = {L"/m/1.mp3"}},
                                  {.name = L"x:y", .paths = {L"/m/2.mp3"}},
                                  {.name = L"x?y", .paths = {L"/m/3.mp3"}}};
  };
  ASSERT_TRUE(MergeImport(kImportSerato, Result({}, lists())));
  EXPECT_EQ(LastImportReport, L"Imported 0 tracks and 3 playlists");
  const std::vector<std::wstring> once = Names();
  EXPECT_EQ(once, (std::vector<std::wstring>{L"Automix", L"Prepare", L"History", L"Serato \u00b7 A-B",
                                             L"Serato \u00b7 x:y", L"Serato \u00b7 x?y (2)"}));
  // Each list went to its own file, so all three read back.
  std::vector<TrackList> loaded = LoadLists();
  ASSERT_EQ(loaded.size(), 6u);
  EXPECT_EQ(loaded[5].paths, (std::vector<std::wstring>{L"/m/3.mp3"}));

  std::vector<TrackList> changed = lists();
  changed[0].paths = {L"/m/9.mp3"};
  changed[0].name = L"a/b";  // the same list, letter case aside
  ASSERT_TRUE(MergeImport(kImportSerato, Result({}, changed)));
  EXPECT_EQ(Names(), once);
  EXPECT_EQ(TrackLists[3].paths, (std::vector<std::wstring>{L"/m/9.mp3"}));
  EXPECT_EQ(TrackLists[5].paths, (std::vector<std::wstring>{L"/m/3.mp3"}));
}

// A collection of many playlists in a folder tree, read from rekordbox XML and merged: every list
// under its folder's name, in the source's order, each in its own file that reads back, and the
// lists written in one batch leave no temporary file behind.
TEST_F(ImportMergeTest, AFolderTreeOfManyPlaylistsArrivesWhole) {
  const std::string music = home_.path() + "/Music";
  std::filesystem::create_directories(music);
  constexpr int kSongs = 50, kFolders = 30, kLists = 40;
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><DJ_PLAYLISTS><COLLECTION>";
  std::vector<std::wstring> songs;
  for (int i = 0; i < kSongs; ++i) {
    songs.push_back(Utf8ToWide(music + "/" + std::to_string(i) + ".mp3"));
    WriteRaw(WideToUtf8(songs.back()), "x");
    xml += "<TRACK TrackID=\"" + std::to_string(i + 1) + "\" Location=\"file://localhost" + WideToUtf8(songs.back()) + "\"/>";
  }
  xml += "</COLLECTION><PLAYLISTS><NODE Type=\"0\" Name=\"ROOT\">";
  for (int f = 0; f < kFolders; ++f) {
    xml += "<NODE Type=\"0\" Name=\"Gigs " + std::to_string(f) + "\"><NODE Type=\"0\" Name=\"Night\">";
    for (int l = 0; l < kLists; ++l)
      xml += "<NODE Type=\"1\" Name=\"Set " + std::to_string(l) + "\" KeyType=\"0\"><TRACK Key=\"" +
             std::to_string((f + l) % kSongs + 1) + "\"/><TRACK Key=\"" + std::to_string((f * l) % kSongs + 1) + "\"/></NODE>";
    xml += "</NODE></NODE>";
  }
  xml += "</NODE></PLAYLISTS></DJ_PLAYLISTS>";
  WriteRaw(home_.path() + "/rb.xml", xml);
  ASSERT_TRUE(MergeImport(kImportRekordbox, new ImportResult(ImportRekordbox(home_.wpath() + L"/rb.xml"))));
  EXPECT_EQ(LastImportReport, L"Imported 50 tracks and 1200 playlists");
  ASSERT_EQ(TrackLists.size(), 3u + kFolders * kLists);
  EXPECT_EQ(TrackLists[3].name, L"RB \u00b7 Gigs 0 - Night - Set 0");
  EXPECT_EQ(TrackLists.back().name, L"RB \u00b7 Gigs 29 - Night - Set 39");

  const std::vector<TrackList> loaded = LoadLists();  // sorted by name: compared by name
  ASSERT_EQ(loaded.size(), TrackLists.size());
  std::map<std::wstring, std::vector<std::wstring>> onDisk;
  for (const TrackList& list : loaded) onDisk[list.name] = list.paths;
  for (int f = 0; f < kFolders; ++f)
    for (int l = 0; l < kLists; ++l) {
      const std::wstring name = L"RB \u00b7 Gigs " + std::to_wstring(f) + L" - Night - Set " + std::to_wstring(l);
      const std::vector<std::wstring> want = {songs[(f + l) % kSongs], songs[(f * l) % kSongs]};
      ASSERT_EQ(onDisk[name], want) << WideToUtf8(name);
    }
  for (const auto& entry : std::filesystem::directory_iterator(WideToUtf8(ListsDir())))
    EXPECT_EQ(entry.path().extension(), ".m3u8") << entry.path();

  // Again: the same lists are replaced, none added.
  ASSERT_TRUE(MergeImport(kImportRekordbox, new ImportResult(ImportRekordbox(home_.wpath() + L"/rb.xml"))));
  EXPECT_EQ(TrackLists.size(), 3u + kFolders * kLists);
}

TEST_F(ImportMergeTest, FailuresAndWarningsAreReportedAsTheyAre) {
  EXPECT_FALSE(MergeImport(kImportTraktor, Result({}, {{.name = L"L", .paths = {L"/m/a.mp3"}}}, L"Broken file")));
  EXPECT_EQ(LastImportReport, L"Broken file");
  EXPECT_EQ(Status.text, L"Broken file");
  EXPECT_TRUE(TrackLibrary.empty());
  EXPECT_EQ(TrackLists.size(), 3u);
  EXPECT_FALSE(std::filesystem::exists(WideToUtf8(DatabasePath())));
  EXPECT_FALSE(std::filesystem::exists(WideToUtf8(ListFileName(L"Traktor \u00b7 L"))));

  EXPECT_TRUE(MergeImport(99, Result({})));  // clamped to VirtualDJ; nothing in it
  EXPECT_EQ(LastImportReport, L"Imported 0 tracks and 0 playlists");

  EXPECT_TRUE(MergeImport(kImportItunes, Result({Full(L"/m/a.mp3")}, {}, L"Some lists were skipped")));
  EXPECT_EQ(LastImportReport, L"Imported 1 track and 0 playlists (Some lists were skipped)");

  // The database file is damaged, so nothing may be saved over it: the report says so.
  LibraryNoSave = true;
  EXPECT_FALSE(MergeImport(kImportItunes, Result({Full(L"/m/b.mp3")})));
  EXPECT_EQ(LastImportReport, L"Imported 1 track and 0 playlists, but the library couldn't be saved");
  EXPECT_EQ(ImportPrefix(static_cast<ImportSource>(4)), std::wstring(L"VDJ \u00b7 "));
}

TEST_F(ImportMergeTest, TheExportJobCopiesRecordsAndListsButNotAutomix) {
  TrackInfo& a = TrackInfoFor(L"/m/a.mp3");
  a.bpm = 120.0;
  a.hotCueColor = {11, -1, 12, 0, -1, -1, -1, 3};
  TrackInfoFor(L"/m/b.mp3");
  TrackLists[kAutomixList].paths = {L"/m/automix-only.mp3"};
  TrackLists[kPrepareList].paths = {L"/m/a.mp3", L"/m/list-only.mp3", L"/m/a.mp3"};
  TrackLists.push_back({.name = L"Empty"});
  TrackLists.push_back({.name = L"Mine", .paths = {L"/m/b.mp3", L"/m/A.mp3"}});

  std::unique_ptr<ExportJob> all(MakeExportJob(-1, L"/tmp/x.xml"));
  ASSERT_TRUE(all);
  std::vector<std::wstring> paths;
  for (const ExportRecord& r : all->records) paths.push_back(r.path);
  EXPECT_EQ(paths, (std::vector<std::wstring>{L"/m/a.mp3", L"/m/b.mp3", L"/m/list-only.mp3", L"/m/A.mp3"}));
  std::vector<std::wstring> names;
  for (const TrackList& l : all->playlists) names.push_back(l.name);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Prepare", L"Mine"}));
  EXPECT_EQ(all->records[0].info.bpm, 120.0);
  EXPECT_EQ(all->records[0].hotCueRgb, (std::array<uint32_t, kHotCues>{0xE0503C, 0x2BF5A0, 0xFFC83D, 0xFF3D6E, 0x22D3FF,
                                                                         0xFF8A2B, 0xFF4FD8, 0xB6FF3D}));
  EXPECT_EQ(all->records[2].info.bpm, 0.0);  // a list path without a record: a default one

  std::unique_ptr<ExportJob> one(MakeExportJob(kPrepareList, L"/tmp/x.xml"));
  ASSERT_TRUE(one);
  EXPECT_EQ(one->records.size(), 2u);
  EXPECT_EQ(one->playlists.size(), 1u);
  EXPECT_EQ(MakeExportJob(99, L"/tmp/x.xml"), nullptr);
}

// A 10,000-playlist collection imported as the window does it: the UI thread merges the lists and
// keeps taking turns while they and the database are written, and closing the program meanwhile
// (its database save) waits for that write, so the files on disk end whole and newest. A second
// import asked for meanwhile waits its turn and says so.
TEST_F(ImportMergeTest, TheWindowKeepsServingWhileTenThousandPlaylistsAreSaved) {
  const PlaylistCollection shape;  // 2,000 tracks, 100 folders of 100 lists of 12
  const std::string big = home_.path() + "/big";
  const std::wstring bigXml = WritePlaylistCollection(big, shape);
  const PlaylistCollection tiny{.tracks = 3, .folders = 1, .lists = 1, .tracksPerList = 2};
  const std::string small = home_.path() + "/small";
  const std::wstring smallXml = WritePlaylistCollection(small, tiny);
  const size_t bigLists = static_cast<size_t>(shape.folders * shape.lists);
  WindowPosts posts;

  ASSERT_TRUE(StartImport(kImportRekordbox, bigXml));
  EXPECT_EQ(Status.text, L"Importing\u2026 (this can take a moment for big collections)");
  ASSERT_TRUE(StartImport(kImportRekordbox, smallXml));
  EXPECT_EQ(Status.text, L"Another import is still running; this one starts when it has finished");

  // The UI thread's turns until the big import's lists are in the library, then while it saves.
  const auto deadline = std::chrono::steady_clock::now() + kImportDeadline;
  while (TrackLists.size() < 3 + bigLists && std::chrono::steady_clock::now() < deadline) {
    DispatchUiPosts();
    std::this_thread::sleep_for(kUiTurn);
  }
  ASSERT_EQ(TrackLists.size(), 3 + bigLists);
  int turnsWhileSaving = 0;
  for (; turnsWhileSaving < 3 && LastImportReport.empty(); ++turnsWhileSaving) {
    std::this_thread::sleep_for(kUiTurn);
    DispatchUiPosts();
  }
  EXPECT_EQ(turnsWhileSaving, 3) << "the report came while the UI thread was held: " << WideToUtf8(LastImportReport);

  // Closing now: a change made after the merge, then the closing save, which must come after the
  // import's own and leave every list whole on disk.
  const std::wstring first = PlaylistCollectionTrack(big, 0);
  TrackInfoFor(first).rating = 4;
  ASSERT_TRUE(SaveDatabase());
  EXPECT_FALSE(LibraryFilesHeld());
  size_t listFiles = 0;
  for (const auto& entry : std::filesystem::directory_iterator(WideToUtf8(ListsDir())))
    listFiles += entry.path().extension() == ".m3u8";
  EXPECT_EQ(listFiles, bigLists);

  // Both reports, in order; the small import ran after the big one had reported.
  std::vector<std::wstring> reports;
  while (ImportRunning() && std::chrono::steady_clock::now() < deadline) {
    DispatchUiPosts();
    if (!LastImportReport.empty() && (reports.empty() || reports.back() != LastImportReport))
      reports.push_back(LastImportReport);
    std::this_thread::sleep_for(kUiTurn);
  }
  ASSERT_FALSE(ImportRunning());
  EXPECT_EQ(reports, (std::vector<std::wstring>{L"Imported 2000 tracks and 10000 playlists",
                                                L"Imported 3 tracks and 1 playlist"}));
  EXPECT_FALSE(LibraryFilesHeld());

  // Everything reads back from disk: each list with its tracks in order, every record with its
  // grid, and the change made during the save.
  const std::vector<TrackList> loaded = LoadLists();
  ASSERT_EQ(loaded.size(), 3 + bigLists);
  std::map<std::wstring, std::vector<std::wstring>> onDisk;
  for (const TrackList& list : loaded) onDisk[list.name] = list.paths;
  // The small collection's one list has the name of the big one's first: imported after it, it
  // replaced that list's tracks.
  EXPECT_EQ(onDisk[PlaylistCollectionListName(0, 0)], PlaylistCollectionPaths(small, tiny, 0, 0));
  for (int f = 0; f < shape.folders; ++f)
    for (int l = f == 0 ? 1 : 0; l < shape.lists; ++l)
      ASSERT_EQ(onDisk[PlaylistCollectionListName(f, l)], PlaylistCollectionPaths(big, shape, f, l))
          << WideToUtf8(PlaylistCollectionListName(f, l));
  for (const auto& entry : std::filesystem::directory_iterator(WideToUtf8(ListsDir())))
    EXPECT_EQ(entry.path().extension(), ".m3u8") << entry.path();
  LoadDatabase();
  EXPECT_FALSE(LibraryNoSave);
  ASSERT_EQ(TrackLibrary.size(), static_cast<size_t>(shape.tracks + tiny.tracks));
  for (int i = 0; i < shape.tracks; ++i) ASSERT_EQ(TrackLibrary[PlaylistCollectionTrack(big, i)].bpm, 124.0) << i;
  EXPECT_EQ(TrackLibrary[first].rating, 4);
}
