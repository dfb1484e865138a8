#include "library/crates.h"
#include "library/folder_scan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/files.h"
#include "library/track_view.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace fs = std::filesystem;

namespace {

class CratesTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  // Later suites in the same process scan folders for real.
  void TearDown() override {
    Reset();
    StartScanWorkerHook = LaunchFolderScan;
  }
  static void Reset() {
    SmartCrates.clear();
    CratesNoSave = false;
    MusicFolders.clear(), ViewItems.clear(), ViewOrder.clear(), CrateSearch.clear(), SearchText.clear();
    ViewKind = kViewFolder, ViewIndex = 0, SortColumn = kSortSourceOrder;
    StartScanWorkerHook = nullptr;
  }
  std::string File() const { return WideToUtf8(AppDataDir()) + "/crates.tsv"; }

  TempHome home_;
};

bool operator==(const SmartCrate& a, const SmartCrate& b) { return a.name == b.name && a.search == b.search; }

}  // namespace

TEST_F(CratesTest, RoundTripsThroughTheFile) {
  WriteRaw(File(),
           "Peak\tbpm:126-130 energy:8+\r\n"
           "Tabbed\tdeep\thouse\n"
           "no tab here\n"
           "\tstarts with a tab\n"
           "\n"
           "Empty search\t\n"
           "Últimas\tcolor:aqua");
  SmartCrates = LoadCrates();
  const std::vector<SmartCrate> expected = {{.name = L"Peak", .search = L"bpm:126-130 energy:8+"},
                                            {.name = L"Tabbed", .search = L"deep\thouse"},
                                            {.name = L"Empty search", .search = L""},
                                            {.name = L"Últimas", .search = L"color:aqua"}};
  ASSERT_EQ(SmartCrates.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_TRUE(SmartCrates[i] == expected[i]) << i;
  ASSERT_TRUE(SaveCrates());
  EXPECT_EQ(ReadRaw(File()), "Peak\tbpm:126-130 energy:8+\nTabbed\tdeep\thouse\nEmpty search\t\nÚltimas\tcolor:aqua\n");
  const std::vector<SmartCrate> again = LoadCrates();
  ASSERT_EQ(again.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_TRUE(again[i] == expected[i]) << i;
}

TEST_F(CratesTest, CreatingNamesTheCrateAndKeepsEveryLineWhole) {
  EXPECT_EQ(CreateCrate(L"", L"bpm:120-128"), 0);
  EXPECT_EQ(SmartCrates[0].name, L"bpm:120-128") << "named after its search";
  EXPECT_EQ(ViewKind, kViewCrate);
  EXPECT_EQ(CrateSearch, L"bpm:120-128");
  EXPECT_EQ(SortColumn, kSortTitle);
  CreateCrate(L"", L"");
  EXPECT_EQ(SmartCrates[1].name, L"Smart crate");
  EXPECT_EQ(ViewIndex, 1);
  // Tabs and line breaks in a name (and line breaks in a search) would break the file's lines.
  CreateCrate(L"a\tb\nc\r", L"x\ty\nz");
  EXPECT_EQ(SmartCrates[2].name, L"a b c ");
  EXPECT_EQ(SmartCrates[2].search, L"x\ty z");
  const std::vector<SmartCrate> loaded = LoadCrates();
  ASSERT_EQ(loaded.size(), 3u);
  EXPECT_TRUE(loaded[2] == SmartCrates[2]);

  UpdateCrate(2, L"\t", L"new");
  EXPECT_EQ(SmartCrates[2].name, L" ") << "a tab alone is a space, not an empty name";
  UpdateCrate(7, L"x", L"y");
  EXPECT_EQ(LoadCrates().size(), 3u) << "an invalid index changes nothing";
}

TEST_F(CratesTest, AFileThatCannotBeReadIsNeverReplaced) {
  fs::create_directories(fs::path(File()).parent_path());
  fs::create_symlink("/nonexistent/crates.tsv", File());  // there, but it cannot be opened
  SmartCrates = LoadCrates();
  EXPECT_TRUE(SmartCrates.empty());
  EXPECT_TRUE(CratesNoSave);
  CreateCrate(L"kept in memory", L"deep");
  EXPECT_EQ(SmartCrates.size(), 1u) << "the crate is kept for this run";
  EXPECT_FALSE(SaveCrates());
  EXPECT_TRUE(fs::is_symlink(File())) << "the file was not replaced";
  EXPECT_EQ(fs::read_symlink(File()), "/nonexistent/crates.tsv");

  fs::remove(File());
  SmartCrates = LoadCrates();
  EXPECT_FALSE(CratesNoSave) << "a missing file is no fault";
}
