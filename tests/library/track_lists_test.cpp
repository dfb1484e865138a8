#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/status_message.h"
#include "library/track_lists.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace fs = std::filesystem;

namespace {

std::vector<int> shownLists, refreshedLists;

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    ListViewHooks = ListViewHookSet{};
  }
  void TearDown() override {
    Reset();
    ListViewHooks = shellListView_;
  }
  static void Reset() {
    TrackLists.clear();
    Status = StatusLine{};
    shownLists.clear();
    refreshedLists.clear();
  }
  std::string ListsFolder() const { return WideToUtf8(ListsDir()); }
  std::string FileOf(const std::wstring& name) const { return WideToUtf8(ListFileName(name)); }

  TempHome home_;
  const ListViewHookSet shellListView_ = ListViewHooks;
};

using Paths = std::vector<std::wstring>;

std::vector<std::wstring> Names(const std::vector<TrackList>& lists) {
  std::vector<std::wstring> names;
  for (const TrackList& l : lists) names.push_back(l.name);
  return names;
}

}  // namespace

TEST_F(ListTest, LoadsTheBuiltInListsFirstThenUserListsByNameIgnoringCase) {
  const std::string dir = ListsFolder();
  WriteRaw(dir + "/History.m3u8", "#EXTM3U\n/h1.mp3\n/h2.mp3\n");
  WriteRaw(dir + "/zebra.m3u8", "#EXTM3U\n/z.mp3\n");
  WriteRaw(dir + "/Apple.m3u8", "#EXTM3U\n");
  WriteRaw(dir + "/banana.m3u8", "#EXTM3U\n/b.mp3\n");
  WriteRaw(dir + "/notes.txt", "/x.mp3\n");
  WriteRaw(dir + "/Upper.M3U8", "/x.mp3\n");
  fs::create_directories(dir + "/folder.m3u8");

  std::vector<TrackList> lists = LoadLists();
  EXPECT_EQ(Names(lists), (Paths{L"Automix", L"Prepare", L"History", L"Apple", L"banana", L"zebra"}));
  for (int i = 0; i < kBuiltInListCount; ++i) {
    EXPECT_TRUE(lists[i].builtIn);
    EXPECT_EQ(lists[i].name, kBuiltInListNames[i]);
  }
  for (size_t i = kBuiltInListCount; i < lists.size(); ++i) EXPECT_FALSE(lists[i].builtIn);
  EXPECT_TRUE(lists[kAutomixList].paths.empty());  // no file yet
  EXPECT_EQ(lists[kHistoryList].paths, (Paths{L"/h1.mp3", L"/h2.mp3"}));
  EXPECT_EQ(lists[4].paths, (Paths{L"/b.mp3"}));
  EXPECT_EQ(ListSize(lists[5]), 1u);
}

TEST_F(ListTest, ReadsOnlyThePathLinesOfAFile) {
  const std::string file = ListsFolder() + "/Mixed.m3u8";
  WriteRaw(file, "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:123,Artist - Title\r\n/m/One.mp3\r\n\r\n/m/two  .mp3\n"
                 " /m/leading space.mp3\n/m/caf\xC3\xA9.flac");
  TrackList list;
  list.paths = {L"/already.mp3"};
  EXPECT_TRUE(LoadList(Utf8ToWide(file), list));
  EXPECT_EQ(list.paths, (Paths{L"/already.mp3", L"/m/One.mp3", L"/m/two  .mp3", L" /m/leading space.mp3",
                               L"/m/caf\u00e9.flac"}));
  EXPECT_FALSE(list.noSave);
}

TEST_F(ListTest, SavesAHeaderAndOnePathPerLineAndReadsItBack) {
  TrackList list;
  list.name = L"Caf\u00e9 set";
  list.paths = {L"/m/\u65e5\u672c.mp3", L"/m/a.mp3", L"/m/a.mp3", L"/m/A.mp3"};
  ASSERT_TRUE(SaveList(list));
  EXPECT_EQ(ReadRaw(FileOf(list.name)),
            "#EXTM3U\n/m/\xE6\x97\xA5\xE6\x9C\xAC.mp3\n/m/a.mp3\n/m/a.mp3\n/m/A.mp3\n");
  EXPECT_TRUE(WriteTemps(std::filesystem::path(FileOf(list.name)).parent_path().native()).empty());
  TrackList back;
  ASSERT_TRUE(LoadList(ListFileName(list.name), back));
  EXPECT_EQ(back.paths, list.paths);

  TrackList empty;
  empty.name = L"Empty";
  ASSERT_TRUE(SaveList(empty));
  EXPECT_EQ(ReadRaw(FileOf(L"Empty")), "#EXTM3U\n");
}

// A name that is not UTF-8 is saved as a file URL, so the list stays UTF-8, and reads back to the
// same bytes; raw bytes that another program left in a list are kept too.
TEST_F(ListTest, NamesThatAreNotUtf8ReadBackByteForByte) {
  TrackList list;
  list.name = PathFromBytes("Sch\xF6n");
  list.paths = {PathFromBytes("/m/caf\xE9 1.mp3"), L"/m/caf\u00e9 1.mp3", PathFromBytes("/m/\xFF%.flac")};
  ASSERT_TRUE(SaveList(list));
  EXPECT_EQ(ReadRaw(ListsFolder() + "/Sch\xF6n.m3u8"),
            "#EXTM3U\nfile://localhost/m/caf%E9%201.mp3\n/m/caf\xC3\xA9 1.mp3\nfile://localhost/m/%FF%25.flac\n");
  WriteRaw(ListsFolder() + "/Old.m3u8", "#EXTM3U\n/m/caf\xE9 1.mp3\n");
  const std::vector<TrackList> lists = LoadLists();
  ASSERT_EQ(lists.size(), kBuiltInListNames.size() + 2);
  EXPECT_EQ(lists[kBuiltInListNames.size()].paths, (Paths{PathFromBytes("/m/caf\xE9 1.mp3")}));
  EXPECT_EQ(lists[kBuiltInListNames.size() + 1].name, list.name);
  EXPECT_EQ(lists[kBuiltInListNames.size() + 1].paths, list.paths);
}

TEST_F(ListTest, PathsThatCannotStandOnALineAreLeftOut) {
  TrackList list;
  list.name = L"Odd";
  list.paths = {L"/ok.mp3", L"/line\nbreak.mp3", L"/cr\r.mp3", L"", L"#hash.mp3", L"/tab\tis fine.mp3"};
  ASSERT_TRUE(SaveList(list));
  EXPECT_EQ(ReadRaw(FileOf(L"Odd")), "#EXTM3U\n/ok.mp3\n/tab\tis fine.mp3\n");
  EXPECT_EQ(list.paths.size(), 6u);  // memory keeps everything
}

TEST_F(ListTest, CreateTrimsSpacesAndRefusesATakenName) {
  TrackLists = LoadLists();
  ListViewHooks.showList = [](int index) { shownLists.push_back(index); };

  int made = CreateList(L"Warm up  ");
  ASSERT_EQ(made, 3);
  EXPECT_EQ(TrackLists[3].name, L"Warm up");
  EXPECT_FALSE(TrackLists[3].builtIn);
  EXPECT_EQ(ReadRaw(FileOf(L"Warm up")), "#EXTM3U\n");
  EXPECT_EQ(shownLists, (std::vector<int>{3}));

  EXPECT_EQ(CreateList(L"warm UP"), -1);
  EXPECT_EQ(Status.text, L"A list with that name already exists");
  EXPECT_EQ(CreateList(L"history"), -1);
  EXPECT_EQ(CreateList(L"   "), -1);
  EXPECT_EQ(CreateList(L""), -1);
  EXPECT_EQ(TrackLists.size(), 4u);
  EXPECT_EQ(shownLists.size(), 1u);
}

TEST_F(ListTest, TwoNamesForOneFileNeverOverwriteEachOther) {
  TrackLists = LoadLists();
  ASSERT_EQ(CreateList(L"A/B"), 3);
  AddToList(3, L"/first.mp3");
  const std::string file = FileOf(L"A/B");
  EXPECT_EQ(file, ListsFolder() + "/A_B.m3u8");

  // A second name that maps to the same file is refused with a clear message.
  Status = StatusLine{};
  EXPECT_EQ(CreateList(L"A:B"), -1);
  EXPECT_EQ(Status.text, L"That name would share a file with the list \u201cA/B\u201d \u2014 choose another name");
  EXPECT_EQ(CreateList(L"A_B"), -1);

  // A list that arrives by another way (an import) cannot take the file either.
  TrackList imported;
  imported.name = L"A?B";
  imported.paths = {L"/imported.mp3"};
  EXPECT_FALSE(SaveList(imported));
  EXPECT_EQ(ReadRaw(file), "#EXTM3U\n/first.mp3\n");

  // Names that differ only in case are two files on Linux, but the second is refused as a name.
  EXPECT_EQ(CreateList(L"a/b"), -1);
}

TEST_F(ListTest, AddAppendsSavesRefreshesAndSays) {
  TrackLists = LoadLists();
  ListViewHooks.refreshList = [](int index) { refreshedLists.push_back(index); };
  AddToList(kPrepareList, L"/m/x.mp3");
  AddToList(kPrepareList, L"/m/x.mp3");  // duplicates are allowed
  EXPECT_EQ(TrackLists[kPrepareList].paths, (Paths{L"/m/x.mp3", L"/m/x.mp3"}));
  EXPECT_EQ(ReadRaw(FileOf(L"Prepare")), "#EXTM3U\n/m/x.mp3\n/m/x.mp3\n");
  EXPECT_EQ(Status.text, L"Added to Prepare");
  EXPECT_EQ(refreshedLists, (std::vector<int>{kPrepareList, kPrepareList}));

  // A stale index does nothing.
  Status = StatusLine{};
  AddToList(99, L"/m/y.mp3");
  AddToList(-1, L"/m/y.mp3");
  EXPECT_TRUE(Status.text.empty());
  EXPECT_EQ(refreshedLists.size(), 2u);

  // Reloading gives the same lists.
  std::vector<TrackList> again = LoadLists();
  EXPECT_EQ(again[kPrepareList].paths, TrackLists[kPrepareList].paths);
}

// A list that couldn't be written says so, with its file and the cause, never "Added to": here a
// folder took the file's place after the lists were read.
TEST_F(ListTest, AnAddThatCouldNotBeSavedSaysWhy) {
  TrackLists = LoadLists();
  fs::create_directories(FileOf(L"Prepare"));
  const size_t failedBefore = FailedWriteCount();
  AddToList(kPrepareList, L"/m/x.mp3");
  EXPECT_EQ(TrackLists[kPrepareList].paths, (Paths{L"/m/x.mp3"}));  // kept for a later save
  EXPECT_EQ(Status.text, L"Couldn't save Prepare.m3u8: a folder stands there, not a file; nothing was written");
  EXPECT_EQ(FailedWriteCount(), failedBefore + 1);
  EXPECT_EQ(LastFailedWrite().file, ListFileName(L"Prepare"));
  EXPECT_TRUE(fs::is_directory(FileOf(L"Prepare")));
}

TEST_F(ListTest, AnUnreadableListFileIsNeverReplaced) {
  // A folder where the Automix file should be, and a file above the size limit.
  fs::create_directories(FileOf(L"Automix") + "/inside");
  const std::string big = FileOf(L"Big");
  WriteRaw(big, "#EXTM3U\n/a.mp3\n");
  fs::resize_file(big, kMaxListFileBytes + 1);

  TrackLists = LoadLists();
  ASSERT_EQ(TrackLists.size(), 4u);
  EXPECT_TRUE(TrackLists[kAutomixList].noSave);
  EXPECT_TRUE(TrackLists[3].noSave);
  EXPECT_TRUE(TrackLists[3].paths.empty());
  EXPECT_FALSE(TrackLists[kPrepareList].noSave);

  AddToList(3, L"/new.mp3");
  EXPECT_EQ(TrackLists[3].paths, (Paths{L"/new.mp3"}));  // kept in memory
  EXPECT_EQ(Status.text, L"Couldn't save Big.m3u8: its file couldn't be read at start, so it is left as it is");
  EXPECT_FALSE(SaveList(TrackLists[3]));
  EXPECT_EQ(fs::file_size(big), kMaxListFileBytes + 1);
  AddToList(kAutomixList, L"/new.mp3");
  EXPECT_TRUE(fs::is_directory(FileOf(L"Automix") + "/inside"));
}

TEST_F(ListTest, ImportKeepsTheExistingFilesAPlaylistNames) {
  const std::string root = home_.path() + "/music";
  fs::create_directories(root + "/sets/sub");
  fs::create_directories(root + "/tracks");
  for (const char* name : {"/tracks/a b.mp3", "/tracks/b.mp3", "/tracks/caf\xC3\xA9.mp3", "/sets/sub/c.mp3",
                           "/tracks/d.mp3", "/tracks/x\\y.mp3"})
    WriteRaw(root + name, "");
  const std::string playlist = root + "/sets/party.m3u";
  WriteRaw(playlist, "\xEF\xBB\xBF#EXTM3U\r\n"
                     "#EXTINF:1,comment\r\n"
                     "file://" + root + "/tracks/a%20b.mp3\r\n"
                     "..\\tracks\\b.mp3\r\n"
                     "  sub/./c.mp3 \t\r\n"
                     + root + "/tracks/../tracks/d.mp3\n"
                     "missing.mp3\n"
                     "../tracks/x\\y.mp3\n"
                     "\n");
  const std::wstring r = Utf8ToWide(root);
  EXPECT_EQ(ImportM3u(Utf8ToWide(playlist)),
            (Paths{r + L"/tracks/a b.mp3", r + L"/tracks/b.mp3", r + L"/sets/sub/c.mp3", r + L"/tracks/d.mp3",
                   r + L"/tracks/x\\y.mp3"}));

  // A playlist saved by a Windows program in its code page.
  const std::string legacy = root + "/sets/legacy.m3u";
  WriteRaw(legacy, "../tracks/caf\xE9.mp3\r\n");
  EXPECT_EQ(ImportM3u(Utf8ToWide(legacy)), (Paths{r + L"/tracks/caf\u00e9.mp3"}));
  // Where the code page names no file, the line's bytes may be the Linux name itself.
  WriteRaw(root + "/tracks/na\xEFve.mp3", "");
  WriteRaw(legacy, "../tracks/caf\xE9.mp3\r\n../tracks/na\xEFve.mp3\r\n");
  EXPECT_EQ(ImportM3u(Utf8ToWide(legacy)), (Paths{r + L"/tracks/caf\u00e9.mp3", r + PathFromBytes("/tracks/na\xEFve.mp3")}));

  EXPECT_TRUE(ImportM3u(Utf8ToWide(root + "/sets/none.m3u")).empty());
}
