#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "library/crates.h"
#include "library/track_view.h"
#include "platform/text.h"
#include "screens/library_menus.h"
#include "support/temp_home.h"
#include "ui/file_dialogs.h"
#include "ui/modal.h"

namespace {

class LibraryMenus : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override {
    CloseModal(false);
    unsetenv(kDialogAnswersVariable);
    Reset();
  }
  static void Reset() {
    SmartCrates.clear(), MusicFolders.clear(), ViewItems.clear(), ViewOrder.clear();
    SearchText.clear(), CrateSearch.clear();
    ViewKind = kViewFolder, ViewIndex = 0, SortColumn = kSortSourceOrder, SortAscending = true;
    StartScanWorkerHook = nullptr;
  }
  TempHome home_;
};

}  // namespace

TEST_F(LibraryMenus, TheSortMenuTicksTheSortAndSetsItsDirection) {
  ViewItems = {{.path = L"/a", .genre = L"b", .index = 0}, {.path = L"/b", .genre = L"a", .index = 1}};
  SortColumn = 8;  // play count
  std::vector<PopupMenuEntry> menu = SortMenuEntries();
  ASSERT_EQ(menu.size(), 7u);
  const wchar_t* texts[] = {L"Sort by genre", L"Sort by play count", L"Sort by last played", L"Sort by date added",
                            L"Sort by colour"};
  for (uint32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(menu[i].text, texts[i]);
    EXPECT_EQ(menu[i].id, i + 1);
    EXPECT_EQ(menu[i].checked, i == 1) << i;
  }
  EXPECT_TRUE(menu[5].separator);
  EXPECT_EQ(menu[6].text, L"Reverse order (now ascending)");

  RunSortMenuCommand(1);
  EXPECT_EQ(SortColumn, kSortGenre);
  EXPECT_TRUE(SortAscending) << "genre sorts ascending";
  EXPECT_EQ(ViewOrder, (std::vector<int>{1, 0})) << "and the view is rebuilt";
  RunSortMenuCommand(kSortMenuReverseId);
  EXPECT_FALSE(SortAscending);
  EXPECT_EQ(ViewOrder, (std::vector<int>{0, 1}));
  EXPECT_EQ(SortMenuEntries()[6].text, L"Reverse order (now descending)");
  RunSortMenuCommand(4);
  EXPECT_EQ(SortColumn, kSortDateAdded);
  EXPECT_FALSE(SortAscending) << "the other four sort descending";
  RunSortMenuCommand(99);
  EXPECT_EQ(SortColumn, kSortDateAdded);
}

TEST_F(LibraryMenus, TheCrateFormsCreateAndEditCrates) {
  SearchText = L"bpm:120-128";
  NewCrate();
  ASSERT_TRUE(Modal.open);
  EXPECT_EQ(Modal.title, L"New smart crate");
  EXPECT_EQ(Modal.okLabel, L"CREATE");
  ASSERT_EQ(Modal.fields.size(), 2u);
  EXPECT_EQ(Modal.fields[0].label, L"Name");
  EXPECT_EQ(Modal.fields[0].value, L"");
  EXPECT_EQ(Modal.fields[1].label, L"Search");
  EXPECT_EQ(Modal.fields[1].value, L"bpm:120-128");
  CloseModal(true);
  ASSERT_EQ(SmartCrates.size(), 1u);
  EXPECT_EQ(SmartCrates[0].name, L"bpm:120-128");
  EXPECT_EQ(ViewKind, kViewCrate);

  EditCrate(3);
  EXPECT_FALSE(Modal.open) << "an invalid index opens nothing";
  EditCrate(0);
  ASSERT_TRUE(Modal.open);
  EXPECT_EQ(Modal.title, L"Edit smart crate");
  EXPECT_EQ(Modal.okLabel, L"SAVE");
  EXPECT_EQ(Modal.fields[0].value, L"bpm:120-128");
  Modal.fields[0].value = L"Warm-up";
  Modal.fields[1].value = L"bpm:118-124";
  CloseModal(true);
  EXPECT_EQ(SmartCrates[0].name, L"Warm-up");
  EXPECT_EQ(CrateSearch, L"bpm:118-124") << "the shown crate takes the new search";
  EXPECT_EQ(LoadCrates().at(0).search, L"bpm:118-124") << "and it is saved";
}

TEST_F(LibraryMenus, TheFolderPickerAddsTheChosenFolder) {
  const std::string answers = home_.path() + "/answers.txt";
  WriteRaw(answers, "/music/new\n\n");
  setenv(kDialogAnswersVariable, answers.c_str(), 1);
  AddMusicDirDialog();
  EXPECT_EQ(MusicFolders, std::vector<std::wstring>{L"/music/new"});
  EXPECT_EQ(ViewIndex, 0);
  AddMusicDirDialog();  // cancelled
  EXPECT_EQ(MusicFolders.size(), 1u);
}
