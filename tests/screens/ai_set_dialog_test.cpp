#include "screens/ai_set_dialog.h"

#include <gtest/gtest.h>

#include "base/settings.h"
#include "base/status_message.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "support/temp_home.h"

namespace {

class AiSetDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    AiJobRunning = false, Scanning = false;
    TrackLists.clear(), ViewItems.clear(), ViewOrder.clear();
    ViewKind = kViewFolder, ViewIndex = 0;
    StartScanWorkerHook = nullptr;
    Status = StatusLine{};
    Prompt = ConfirmPrompt{};
    CloseModal(false);
  }
};

}  // namespace

TEST(AiSetMinutes, LeadingNumberClampedToFiveAndSixHundred) {
  EXPECT_EQ(AiSetMinutes(L"abc"), 5);
  EXPECT_EQ(AiSetMinutes(L"1000"), 600);
  EXPECT_EQ(AiSetMinutes(L" 45 min"), 45);
  EXPECT_EQ(AiSetMinutes(L"-20"), 5);
  EXPECT_EQ(AiSetMinutes(L"99999999999999999999"), 600);
}

// The form opens only when no job runs and the view has finished scanning.
TEST_F(AiSetDialogTest, RefusesWhileAJobRunsOrTheViewScans) {
  AiJobRunning = true;
  AiSetDialog();
  EXPECT_EQ(Status.text, L"The AI is still working on your last set…");
  EXPECT_FALSE(Modal.open);
  AiJobRunning = false, Scanning = true;
  AiSetDialog();
  EXPECT_EQ(Status.text, L"Wait a moment for the tracks to finish loading");
  EXPECT_FALSE(Modal.open);
  Scanning = false;
  LastAiDescription = L"warm up";
  AiSetDialog();
  ASSERT_TRUE(Modal.open);
  ASSERT_EQ(Modal.fields.size(), 3u);
  EXPECT_EQ(Modal.fields[0].value, L"warm up");
  EXPECT_EQ(Modal.fields[1].value, L"60");
  EXPECT_EQ(Modal.fields[2].value, Settings.AiModel);
  EXPECT_EQ(Modal.okLabel, L"BUILD");
}

// No tracks in view: no job, the flag stays clear.
TEST_F(AiSetDialogTest, NoTracksInViewStartsNothing) {
  StartAiJob({{L"", L"deep", false}, {L"", L"60", false}, {L"", L"", false}});
  EXPECT_FALSE(AiJobRunning);
  EXPECT_EQ(Status.text, L"There are no tracks in view — open a folder or list first");
  EXPECT_EQ(LastAiDescription, L"deep");
}

// A result clears the flag; a set without a name is named after the description, with the
// characters a file name can't hold as "-"; an error that merely mentions ollama is a status.
TEST_F(AiSetDialogTest, ResultsMakeTheListOrShowTheError) {
  TempHome home;
  auto* job = new AiJob{L"Deep: warm/up set that runs for quite a while", {}, {}};
  MixTrack a, b;
  a.path = L"/m/a.mp3", a.duration = 200;
  b.path = L"/m/b.mp3", b.duration = 250;
  job->tracks.tracks() = {a, b};
  job->result.picks = {1, 0};
  AiJobRunning = true;
  EXPECT_TRUE(ApplyAiSet(job));
  EXPECT_FALSE(AiJobRunning);
  ASSERT_FALSE(TrackLists.empty());
  EXPECT_EQ(TrackLists.back().name, L"AI · Deep- warm-up set that runs for quite a ");
  EXPECT_EQ(TrackLists.back().paths, (std::vector<std::wstring>{L"/m/b.mp3", L"/m/a.mp3"}));
  EXPECT_EQ(Status.text, L"AI set: 2 tracks, 8 minutes. Right-click the list for Mix order to tighten the keys.");
  auto* one = new AiJob{L"Solo", {}, {}};
  MixTrack c;
  c.path = L"/m/c.mp3", c.duration = 40;
  one->tracks.tracks() = {c};
  one->result.picks = {0};
  AiJobRunning = true;
  EXPECT_TRUE(ApplyAiSet(one));
  EXPECT_EQ(Status.text, L"AI set: 1 track, 1 minute. Right-click the list for Mix order to tighten the keys.");

  auto* failed = new AiJob{L"x", {}, {}};
  failed->result.error = UiText(L"The AI server returned an error: ollama crashed");
  AiJobRunning = true;
  EXPECT_FALSE(ApplyAiSet(failed));
  EXPECT_FALSE(AiJobRunning);
  EXPECT_FALSE(Prompt.pending);
  EXPECT_EQ(Status.text, L"The AI server returned an error: ollama crashed");
}
