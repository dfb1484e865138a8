#include "library/list_tools.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/files.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace fs = std::filesystem;

namespace {
using Paths = std::vector<std::wstring>;
}  // namespace

TEST(ListTools, ShuffleIsASeededPermutation) {
  Paths paths;
  for (int i = 0; i < 50; ++i) paths.push_back(L"/t/" + std::to_wstring(i));
  Paths a = paths, b = paths, c = paths;
  ShufflePaths(a, 7);
  ShufflePaths(b, 7);
  ShufflePaths(c, 8);
  EXPECT_EQ(a, b) << "the same seed gives the same order";
  EXPECT_NE(a, paths);
  EXPECT_NE(a, c);
  std::sort(a.begin(), a.end());
  Paths sorted = paths;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(a, sorted) << "every path once";
  Paths one = {L"/x"}, none;
  ShufflePaths(one, 1);
  ShufflePaths(none, 1);
  EXPECT_EQ(one, Paths{L"/x"});
}

TEST(ListTools, DuplicatesGoAfterTheirFirstAndOnlyTheClickedEntryIsRemoved) {
  Paths paths = {L"/a", L"/b", L"/a", L"/c", L"/b", L"/a"};
  EXPECT_EQ(RemoveDuplicatePaths(paths), 3u);
  EXPECT_EQ(paths, (Paths{L"/a", L"/b", L"/c"}));

  Paths twice = {L"/x", L"/y", L"/x"};
  EXPECT_FALSE(RemovePathAt(twice, 1, L"/x")) << "the list changed: another path sits there now";
  EXPECT_FALSE(RemovePathAt(twice, 3, L"/x"));
  EXPECT_TRUE(RemovePathAt(twice, 2, L"/x"));
  EXPECT_EQ(twice, (Paths{L"/x", L"/y"})) << "of two equal paths only the clicked one goes";
}

TEST(ListTools, MissingFilesGoOnlyWhenCertainlyAbsentAndImportsTakeRegularFiles) {
  TempHome home;
  const std::string dir = home.path() + "/m";
  fs::create_directories(dir);
  WriteRaw(dir + "/here.mp3", "x");
  fs::create_symlink(dir + "/gone.mp3", dir + "/dead.mp3");
  ASSERT_EQ(mkfifo((dir + "/pipe").c_str(), 0600), 0);
  const std::wstring d = Utf8ToWide(dir);
  // A name longer than any file system allows: its state cannot be read, so it stays.
  const std::wstring unknowable = d + L"/" + std::wstring(300, L'n');
  Paths paths = {d + L"/here.mp3", d + L"/gone.mp3", d + L"/here.mp3/inside", unknowable, d + L"/dead.mp3"};
  EXPECT_EQ(RemoveMissingPaths(paths), 3u);
  EXPECT_EQ(paths, (Paths{d + L"/here.mp3", unknowable}));

  const Paths found = {d + L"/here.mp3", d, d + L"/pipe", d + L"/dead.mp3", d + L"/here.mp3"};
  EXPECT_EQ(RegularFilesOnly(found), (Paths{d + L"/here.mp3", d + L"/here.mp3"}));
}

TEST(ListTools, DeletingAUserListRemovesItsFileAndLeavesBuiltInsAlone) {
  TempHome home;
  TrackLists = LoadLists();
  ASSERT_GE(CreateList(L"Warm up"), 0);
  ASSERT_GE(CreateList(L"Peak"), 0);
  const std::string file = WideToUtf8(ListFileName(L"Warm up"));
  ASSERT_TRUE(fs::exists(file));
  EXPECT_EQ(DeleteUserList(L"Prepare"), -1) << "built-in lists are never deleted";
  EXPECT_EQ(DeleteUserList(L"warm up"), -1) << "the exact name only";
  const int expected = static_cast<int>(
      std::find_if(TrackLists.begin(), TrackLists.end(), [](const TrackList& l) { return l.name == L"Warm up"; }) -
      TrackLists.begin());
  EXPECT_EQ(DeleteUserList(L"Warm up"), expected);
  EXPECT_FALSE(fs::exists(file));
  ASSERT_EQ(TrackLists.size(), 4u);
  EXPECT_EQ(TrackLists[3].name, L"Peak");
  EXPECT_EQ(DeleteUserList(L"Warm up"), -1);
  TrackLists.clear();
}

TEST(ListTools, M3uTextLeavesOutPathsThatCannotStandOnALine) {
  size_t kept = 0;
  EXPECT_EQ(M3uText(L"x", {}, &kept), L"#EXTM3U\n");
  EXPECT_EQ(kept, 0u);
  const std::wstring text = M3uText(L"x", {L"/a b.mp3", L"/two\nlines.mp3", L"#hash.mp3", L"", L"/c,d.mp3"}, &kept);
  EXPECT_EQ(text, L"#EXTM3U\n/a b.mp3\n/c,d.mp3\n");
  EXPECT_EQ(kept, 2u);
}
