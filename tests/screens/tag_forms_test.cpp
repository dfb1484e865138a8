// The browser's tag forms and the moved-files dialog, driven as the user would: the form is
// opened, its fields read and confirmed; the folder dialog is answered from an answers file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "base/status_message.h"
#include "base/tags.h"
#include "base/track_info.h"
#include "library/relocate.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "screens/tag_forms.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"
#include "ui/file_dialogs.h"
#include "ui/modal.h"

namespace {

TEST(TagForms, EditTagsShowsTheFileTagsAndSavesTheEditedOnes) {
  SetProcessLocale();
  TempHome home;
  const std::string path = home.path() + "/Sóng.flac";
  int status = -1;
  RunCommand("ffmpeg -v error -f lavfi -i sine=d=1 -metadata title=Old -metadata artist=Ärtist " + ShellQuote(path) +
                 " 2>&1",
             &status);
  ASSERT_EQ(status, 0);
  EditTags(Utf8ToWide(path));
  ASSERT_TRUE(Modal.open);
  EXPECT_EQ(Modal.title, L"Edit tags — Sóng.flac");
  ASSERT_EQ(Modal.fields.size(), 5u);
  EXPECT_EQ(Modal.fields[0].value, L"Old");
  EXPECT_EQ(Modal.fields[1].value, L"Ärtist");
  Modal.fields[0].value = L"New";
  Modal.fields[4].value = L"Nöte";
  CloseModal(true);
  TrackTags back;
  ASSERT_TRUE(ReadTags(Utf8ToWide(path), &back));
  EXPECT_EQ(back.title, L"New");
  EXPECT_EQ(back.artist, L"Ärtist");
  EXPECT_EQ(back.comment, L"Nöte");
  EXPECT_EQ(Status.text, L"Tags saved");
}

TEST(TagForms, EditMyTagsStoresTheNormalisedTags) {
  TrackLibrary.clear();
  TrackInfoFor(L"/m/Deep One.mp3").myTags = L"deep";
  EditMyTags(L"/m/Deep One.mp3");
  ASSERT_TRUE(Modal.open);
  EXPECT_EQ(Modal.title, L"My Tags — Deep One");
  ASSERT_EQ(Modal.fields.size(), 1u);
  EXPECT_EQ(Modal.fields[0].value, L"deep");
  Modal.fields[0].value = L" deep , Opener,,opener ";
  CloseModal(true);
  EXPECT_EQ(FindTrackInfo(L"/m/Deep One.mp3")->myTags, L"deep, Opener");
  TrackLibrary.clear();
}

// The folder chosen in the dialog is searched on the worker; its completion moves the record.
TEST(TagForms, FindMovedFilesSearchesTheChosenFolder) {
  TempHome home;
  const std::string moved = home.path() + "/new/Set";
  RunCommand("mkdir -p " + ShellQuote(moved) + " && touch " + ShellQuote(moved + "/a.mp3"));
  TrackLibrary.clear();
  TrackLists.clear();
  TrackInfoFor(L"/gone/Set/a.mp3").rating = 5;
  TrackInfoFor(L"/gone/Set/a.mp3").myTags = L"Opener";
  // The shown folder holds the moved file, searched for by the record's own tag.
  ViewItems = {LibraryFile{.path = Utf8ToWide(moved + "/a.mp3"), .searchText = L"a"}};
  SearchText = L"opener";
  RebuildView();
  EXPECT_TRUE(ViewOrder.empty());
  const std::string answers = home.path() + "/answers";
  WriteRaw(answers, "\n" + home.path() + "/new\n");
  setenv(kDialogAnswersVariable, answers.c_str(), 1);
  OpenUiPosts(nullptr);
  DrainUiPosts([](const UiPost&) {});
  FindMovedFiles();  // cancelled: nothing starts
  FindMovedFiles();
  unsetenv(kDialogAnswersVariable);
  EXPECT_EQ(Status.text, L"Looking for moved files…");
  int results = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (results == 0 && std::chrono::steady_clock::now() < deadline) {
    DrainUiPosts([&](const UiPost& post) {
      if (post.message != kRelocatePost) return;
      ++results;
      ApplyRelocate(static_cast<RelocateResult*>(post.lparam));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  DrainUiPosts([&](const UiPost& post) { results += post.message == kRelocatePost; });
  EXPECT_EQ(results, 1) << "one search for one chosen folder";
  EXPECT_EQ(Status.text, L"Found 1 of 1 missing file");
  EXPECT_EQ(FindTrackInfo(L"/gone/Set/a.mp3"), nullptr);
  const TrackInfo* record = FindTrackInfo(Utf8ToWide(moved + "/a.mp3"));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->rating, 5);
  EXPECT_EQ(ViewOrder, std::vector<int>{0}) << "the view shows the file its moved tags match";
  ViewItems.clear(), ViewOrder.clear(), SearchText.clear();
  TrackLibrary.clear();
}

}  // namespace
