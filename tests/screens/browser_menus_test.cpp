#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/track_info.h"
#include "karaoke/karaoke_rotation.h"
#include "library/crates.h"
#include "library/folder_scan.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/desktop_open.h"
#include "platform/text.h"
#include "screens/list_menu.h"
#include "screens/sidebar.h"
#include "screens/track_menu.h"
#include "support/temp_home.h"
#include "ui/file_dialogs.h"
#include "ui/modal.h"

namespace fs = std::filesystem;

namespace {

using Paths = std::vector<std::wstring>;

class BrowserMenus : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    TrackLists = LoadLists();
  }
  void TearDown() override {
    unsetenv(kDialogAnswersVariable);
    Reset();
    StartScanWorkerHook = LaunchFolderScan;
  }
  static void Reset() {
    TrackLists.clear(), ViewItems.clear(), ViewOrder.clear(), MusicFolders.clear();
    TrackLibrary.clear();
    Rotation = KaraokeRotation{};
    ViewKind = kViewFolder, ViewIndex = 0, SortColumn = kSortTitle, ScrollRow = 0;
    Status = StatusLine{};
    Prompt = ConfirmPrompt{};
    StartScanWorkerHook = nullptr;
    Settings.FourDecks = false;
  }
  // Dialog answers, one per line.
  void Answer(const std::string& lines) {
    const std::string file = home_.path() + "/answers";
    WriteRaw(file, lines);
    setenv(kDialogAnswersVariable, file.c_str(), 1);
  }
  static const PopupMenuEntry* Find(const std::vector<PopupMenuEntry>& menu, const std::wstring& text) {
    for (const PopupMenuEntry& e : menu)
      if (e.text == text) return &e;
    return nullptr;
  }
  TempHome home_;
};

}  // namespace

TEST_F(BrowserMenus, TheTrackMenuOffersWhatAppliesWithItsTicks) {
  TrackMenuTarget target{.path = L"/m/a.mp3"};
  std::vector<PopupMenuEntry> menu = TrackMenuEntries(target);
  EXPECT_EQ(menu[0].text, L"Load on deck A");
  EXPECT_EQ(menu[1].text, L"Load on deck B");
  EXPECT_TRUE(menu[2].separator) << "two decks only";
  EXPECT_EQ(Find(menu, L"Add to playlist"), nullptr) << "only the built-in lists exist";
  EXPECT_EQ(Find(menu, L"Remove from this list"), nullptr) << "no list is shown";
  const PopupMenuEntry* rating = Find(menu, L"Rating");
  ASSERT_NE(rating, nullptr);
  ASSERT_EQ(rating->submenu.size(), 6u);
  EXPECT_TRUE(rating->submenu[0].checked) << "no record: \"No rating\" ticked";
  const PopupMenuEntry* colour = Find(menu, L"Colour");
  ASSERT_NE(colour, nullptr);
  ASSERT_EQ(colour->submenu.size(), 9u);
  EXPECT_EQ(colour->submenu[8].text, L"Purple");
  EXPECT_TRUE(colour->submenu[0].checked);
  EXPECT_EQ(menu.back().text, L"Show in folder");
  const PopupMenuEntry* karaoke = Find(menu, L"Karaoke: add for a singer");
  ASSERT_NE(karaoke, nullptr);
  ASSERT_EQ(karaoke->submenu.size(), 1u);
  EXPECT_EQ(karaoke->submenu[0].id, static_cast<uint32_t>(kTrackNewSinger));

  // A user list, singers, 45 tags in use (40 offered, the track's own ticked without case) and
  // four decks.
  ASSERT_GE(CreateList(L"Sunset"), 0);
  Rotation.singers = {{.name = L"Ann"}, {.name = L"Bo"}};
  for (int i = 0; i < 45; ++i) TrackInfoFor(L"/m/t" + std::to_wstring(i)).myTags = L"tag" + std::to_wstring(100 + i);
  TrackInfo& record = TrackInfoFor(L"/m/a.mp3");
  record.myTags = L"TAG100", record.rating = 4, record.color = 12;
  Settings.FourDecks = true;
  ViewKind = kViewList, ViewIndex = 3;
  target.list = 3;
  menu = TrackMenuEntries(target);
  EXPECT_EQ(menu[3].text, L"Load on deck D");
  const PopupMenuEntry* lists = Find(menu, L"Add to playlist");
  ASSERT_NE(lists, nullptr);
  ASSERT_EQ(lists->submenu.size(), 1u);
  EXPECT_EQ(lists->submenu[0].id, 103u);
  EXPECT_EQ(Find(menu, L"Karaoke: add for a singer")->submenu.size(), 4u) << "two singers, a separator, New singer";
  EXPECT_TRUE(Find(menu, L"Rating")->submenu[4].checked);
  EXPECT_TRUE(Find(menu, L"Colour")->submenu[8].checked) << "colour 12 counts as 8";
  const PopupMenuEntry* tags = Find(menu, L"My Tag");
  ASSERT_EQ(tags->submenu.size(), 42u) << "40 tags, a separator, Edit My Tags…";
  EXPECT_TRUE(tags->submenu[0].checked);
  EXPECT_FALSE(tags->submenu[1].checked);
  EXPECT_EQ(target.tags.size(), 40u);
  EXPECT_NE(Find(menu, L"Remove from this list"), nullptr);
}

TEST_F(BrowserMenus, TrackMenuActionsRateColourTagAndRemoveOnlyTheClickedEntry) {
  TrackMenuTarget target{.path = L"/m/new.mp3"};
  TrackMenuEntries(target);
  RunTrackMenuCommand(target, kTrackRatingFirst + 5);
  ASSERT_NE(FindTrackInfo(L"/m/new.mp3"), nullptr) << "a rating creates the record";
  EXPECT_EQ(FindTrackInfo(L"/m/new.mp3")->rating, 5);
  RunTrackMenuCommand(target, kTrackRatingFirst + 5);
  EXPECT_EQ(FindTrackInfo(L"/m/new.mp3")->rating, 5) << "the menu sets, it does not toggle";
  RunTrackMenuCommand(target, kTrackColourFirst + 6);
  EXPECT_EQ(FindTrackInfo(L"/m/new.mp3")->color, 6);

  TrackInfoFor(L"/m/other.mp3").myTags = L"deep";
  TrackMenuEntries(target);
  RunTrackMenuCommand(target, kTrackMyTagFirst);
  EXPECT_EQ(FindTrackInfo(L"/m/new.mp3")->myTags, L"deep");

  RunTrackMenuCommand(target, kTrackPrepare);
  EXPECT_EQ(TrackLists[kPrepareList].paths, Paths{L"/m/new.mp3"});
  EXPECT_EQ(Status.text, L"Added to Prepare");

  // Two equal paths in a shown list: the clicked (second) one goes, and only while it is there.
  const int list = CreateList(L"Twice");
  ASSERT_GE(list, 0);
  TrackLists[static_cast<size_t>(list)].paths = {L"/m/x.mp3", L"/m/y.mp3", L"/m/x.mp3"};
  ShowList(list);
  const TrackMenuTarget second{.path = L"/m/x.mp3", .position = 2, .list = list};
  TrackLists[static_cast<size_t>(list)].paths.insert(TrackLists[static_cast<size_t>(list)].paths.begin(), L"/m/z");
  RunTrackMenuCommand(second, kTrackRemoveFromList);
  EXPECT_EQ(TrackLists[static_cast<size_t>(list)].paths.size(), 4u) << "the list moved on: nothing removed";
  TrackLists[static_cast<size_t>(list)].paths.erase(TrackLists[static_cast<size_t>(list)].paths.begin());
  RunTrackMenuCommand(second, kTrackRemoveFromList);
  EXPECT_EQ(TrackLists[static_cast<size_t>(list)].paths, (Paths{L"/m/x.mp3", L"/m/y.mp3"}));
  TrackList reread{.name = L"Twice"};
  ASSERT_TRUE(LoadList(ListFileName(L"Twice"), reread));
  EXPECT_EQ(reread.paths, (Paths{L"/m/x.mp3", L"/m/y.mp3"})) << "and saved";
}

TEST_F(BrowserMenus, ListMenuExportsImportsAndCleans) {
  const std::string dir = home_.path() + "/music";
  fs::create_directories(dir + "/sub");
  WriteRaw(dir + "/a.mp3", "a");
  WriteRaw(dir + "/b.mp3", "b");
  const std::wstring a = Utf8ToWide(dir + "/a.mp3"), b = Utf8ToWide(dir + "/b.mp3");
  const int list = CreateList(L"Set");
  ASSERT_GE(list, 0);
  TrackList& set = TrackLists[static_cast<size_t>(list)];
  set.paths = {a, L"/gone/c.mp3", b, L"/bad\nname.mp3", a};

  std::vector<PopupMenuEntry> menu = ListMenuEntries(list);
  EXPECT_EQ(menu.front().text, L"Import playlist (M3U) into this list…");
  EXPECT_EQ(menu.back().text, L"Delete list");
  EXPECT_NE(ListMenuEntries(kHistoryList).back().text, L"Delete list") << "built-in lists can't be deleted";

  // Export: a byte-order mark, the header, the paths; the one with a line break left out.
  const std::string out = home_.path() + "/out.m3u8";
  Answer(out + "\n" + home_.path() + "/out.txt\n");
  RunListMenuCommand(list, L"Set", kListExportM3u);
  EXPECT_EQ(ReadRaw(out), "\xEF\xBB\xBF#EXTM3U\n" + dir + "/a.mp3\n/gone/c.mp3\n" + dir + "/b.mp3\n" + dir + "/a.mp3\n");
  EXPECT_EQ(Status.text, L"Exported 4 tracks");
  RunListMenuCommand(list, L"Set", kListExportText);
  EXPECT_NE(ReadRaw(home_.path() + "/out.txt").find("1. a"), std::string::npos);

  RunListMenuCommand(list, L"Set", kListRemoveDuplicates);
  EXPECT_EQ(Status.text, L"Removed 1 duplicate");
  RunListMenuCommand(list, L"Set", kListRemoveMissing);
  EXPECT_EQ(set.paths, (Paths{a, b})) << "both missing paths went";
  EXPECT_EQ(Status.text, L"Removed 2 missing files");

  // Import: the playlist names a folder, a missing file and a file; only the file is taken.
  const std::string playlist = home_.path() + "/in.m3u";
  WriteRaw(playlist, "#EXTM3U\nmusic/sub\nmusic/nothing.mp3\nmusic/b.mp3\n");
  Answer(playlist + "\n");
  RunListMenuCommand(list, L"Set", kListImportM3u);
  EXPECT_EQ(set.paths, (Paths{a, b, b}));
  EXPECT_EQ(Status.text, L"Imported 1 track");
  WriteRaw(playlist, "#EXTM3U\nmusic/sub\n");
  Answer(playlist + "\n");
  RunListMenuCommand(list, L"Set", kListImportM3u);
  EXPECT_EQ(Status.text, L"No playable files found in that playlist");

  RunListMenuCommand(list, L"Other name", kListClear);
  EXPECT_EQ(set.paths.size(), 3u) << "a menu for a list that is gone does nothing";
  RunListMenuCommand(list, L"Set", kListClear);
  EXPECT_TRUE(set.paths.empty());

  // Delete: asked first; DELETE removes the file and, as the list was shown, shows the first folder.
  ShowList(list);
  RunListMenuCommand(list, L"Set", kListDelete);
  ASSERT_TRUE(Prompt.pending);
  EXPECT_EQ(Prompt.title, L"Delete playlist");
  EXPECT_EQ(Prompt.body, L"Delete the playlist “Set”?\n\nThe music itself stays where it is — only the list goes.");
  AnswerConfirmPrompt(true);
  EXPECT_FALSE(fs::exists(WideToUtf8(ListFileName(L"Set"))));
  EXPECT_EQ(TrackLists.size(), 3u);
  EXPECT_EQ(ViewKind, kViewFolder);
  EXPECT_EQ(ViewIndex, 0);
}

TEST(DesktopOpen, FileUrisKeepTheirPathOnOneLine) {
  EXPECT_EQ(FileUri(L"/music/a b,c.mp3"), "file:///music/a%20b%2Cc.mp3");
  EXPECT_EQ(FileUri(L"/m/ü\n.mp3"), "file:///m/%C3%BC%0A.mp3");
  EXPECT_EQ(FileUri(PathFromBytes("/m/caf\xE9.mp3")), "file:///m/caf%E9.mp3") << "a Latin-1 name keeps its byte";
  EXPECT_EQ(FolderOf(L"/m/x.mp3"), L"/m");
  EXPECT_EQ(FolderOf(L"/x.mp3"), L"/");
}

TEST_F(BrowserMenus, SidebarFormsMakeAPlaylistAndDeletingACrateLeavesItsView) {
  NewPlaylistForm();
  ASSERT_TRUE(Modal.open);
  EXPECT_EQ(Modal.title, L"New playlist");
  EXPECT_EQ(Modal.okLabel, L"CREATE");
  ASSERT_EQ(Modal.fields.size(), 1u);
  EXPECT_EQ(Modal.fields[0].label, L"Name");
  Modal.fields[0].value = L"Opening";
  CloseModal(true);
  ASSERT_EQ(TrackLists.size(), 4u);
  EXPECT_EQ(TrackLists[3].name, L"Opening");
  EXPECT_TRUE(fs::exists(WideToUtf8(ListFileName(L"Opening"))));

  MusicFolders = {L"/m/a"};
  SmartCrates = {{.name = L"House", .search = L"house"}, {.name = L"Techno", .search = L"techno"}};
  ShowCrate(1);
  DeleteCrate(0);
  EXPECT_EQ(SmartCrates.size(), 1u);
  EXPECT_EQ(SmartCrates[0].name, L"Techno");
  EXPECT_EQ(ViewKind, kViewFolder) << "any crate deleted while a crate is shown: the first folder";
  EXPECT_EQ(ViewIndex, 0);
  EXPECT_NE(ReadRaw(WideToUtf8(AppDataDir() + L"/" + kCratesFile)).find("Techno\ttechno"), std::string::npos);
  SmartCrates.clear();
}
