// The update flow's decisions on the UI thread, fed the records its workers post: what is up to
// date, what is offered, asked or put off, what a busy DJ is told, and what INSTALL NOW leaves for
// the next start.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <string>

#include "base/settings.h"
#include "base/status_message.h"
#include "engine/deck_snapshot.h"
#include "platform/text.h"
#include "settings/update_client.h"
#include "settings/updates.h"
#include "support/temp_home.h"
#include "ui/language.h"
#include "ui/modal.h"

namespace {

const wchar_t* const kAvailableLine =
    L"A Veldmix update is available \u2014 get it from Settings \u25B8 UPDATES when you've finished playing";

UpdateResult* CheckResult(int64_t stamp) {
  auto* r = new UpdateResult;
  r->info.file = L"Veldmix 1.0.11.msi";
  r->info.url = L"/downloads/veldmix/Veldmix 1.0.11.msi";
  r->info.stamp = stamp;
  r->info.size = 10;
  r->info.sha256 = std::wstring(64, L'a');
  return r;
}

// The check result arrives for a check that was (not) asked for.
void Arrive(UpdateResult* result, bool asked) {
  Updates.phase = kUpdateChecking;
  Updates.asked = asked;
  OnUpdateResult(result);
}

// "9 dic" for a stamp: the day and the Spanish month from the C library's own calendar.
std::wstring SpanishDayAndMonth(int64_t stamp) {
  static const wchar_t* const kMonths[] = {L"ene", L"feb", L"mar", L"abr", L"may", L"jun",
                                           L"jul", L"ago", L"sept", L"oct", L"nov", L"dic"};
  const std::time_t t = static_cast<std::time_t>(stamp);
  std::tm local{};
  localtime_r(&t, &local);
  return std::to_wstring(local.tm_mday) + L" " + kMonths[local.tm_mon] + L" ";
}

class UpdateFlow : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  void Reset() {
    StopUpdateWorkers();
    Updates = UpdateState{};
    Settings = SettingsRecord{};
    Prompt = ConfirmPrompt{};
    Status = StatusLine{};
    for (DeckSnapshot& shot : DeckSnapshots) shot.playing = false;
    SetUiLanguage(kUiEnglish);
  }
  TempHome home_;
};

TEST_F(UpdateFlow, ABuildUpToAnHourNewerOrAlreadyInstalledIsUpToDateAndANewerOneIsOffered) {
  const int64_t build = BuildStamp();
  ASSERT_GT(build, 1600000000) << "the build stamp is the link time";
  Updates.offered.stamp = 5;  // an earlier find is cleared by an up-to-date answer
  Arrive(CheckResult(build + 3600), true);
  EXPECT_EQ(Updates.phase, kUpdateIdle);
  EXPECT_EQ(Updates.offered.stamp, 0);
  EXPECT_FALSE(Prompt.pending);
  EXPECT_EQ(Status.text, L"Veldmix is up to date");
  EXPECT_NE(EnglishText(Updates.statusText).find(L"Veldmix is up to date (checked "), std::wstring::npos);

  Settings.Installed = build + 9000;  // a downgrade: that build was installed already
  Arrive(CheckResult(build + 9000), false);
  EXPECT_EQ(Updates.offered.stamp, 0);
  EXPECT_FALSE(Prompt.pending);

  Settings.Installed = 0;
  Arrive(CheckResult(build + 3601), false);
  EXPECT_EQ(Updates.offered.stamp, build + 3601);
  ASSERT_TRUE(Prompt.pending);
  EXPECT_EQ(Prompt.title, L"Update available");
  EXPECT_NE(Prompt.body.find(L"You have: 1.0.10 (" + FormatStamp(build) + L")"), std::wstring::npos);
  EXPECT_TRUE(Updates.lastCheck > 0 && !Updates.lastCheckFailed);

  // NOT NOW puts it off: an automatic check finding it again stays quiet, an asked one offers it.
  AnswerConfirmPrompt(false);
  EXPECT_EQ(Settings.Dismissed, build + 3601);
  EXPECT_EQ(Status.text, L"The update will wait in Settings \u25B8 UPDATES whenever you want it");
  Arrive(CheckResult(build + 3601), false);
  EXPECT_FALSE(Prompt.pending);
  EXPECT_EQ(Updates.offered.stamp, build + 3601);
  Arrive(CheckResult(build + 3601), true);
  EXPECT_TRUE(Prompt.pending);

  // A failed check keeps the find and reports only when asked.
  Prompt = ConfirmPrompt{};
  Status = StatusLine{};
  auto* failed = new UpdateResult;
  failed->info.error = L"No updates have been published yet";
  Arrive(failed, false);
  EXPECT_TRUE(Updates.lastCheckFailed);
  EXPECT_EQ(Updates.offered.stamp, build + 3601);
  EXPECT_TRUE(Status.text.empty());
}

TEST_F(UpdateFlow, APlayingDeckHearsOfAnUpdateOnceAndInstallWaitsForTheMusicToStop) {
  const int64_t stamp = static_cast<int64_t>(BuildStamp()) + 100000;
  DeckSnapshots[1].playing = true;
  Arrive(CheckResult(stamp), false);
  EXPECT_FALSE(Prompt.pending);
  EXPECT_EQ(Status.text, kAvailableLine);
  Status = StatusLine{};
  Arrive(CheckResult(stamp), false);
  EXPECT_TRUE(Status.text.empty()) << "the same stamp is announced once";
  Arrive(CheckResult(stamp), true);
  EXPECT_EQ(Status.text, kAvailableLine) << "an asked check says it again";

  // A finished download asks to install; while the deck plays only the line shows.
  Updates.phase = kUpdateDownloading;
  auto* done = new UpdateResult;
  done->isDownload = true;
  done->installerPath = L"/nowhere/Veldmix 1.0.11.msi";
  OnUpdateResult(done);
  EXPECT_EQ(Updates.phase, kUpdateReady);
  EXPECT_FALSE(Prompt.pending);
  EXPECT_NE(Status.text.find(L"stop the music first"), std::wstring::npos);

  DeckSnapshots[1].playing = false;
  UpdateButtonAction();
  ASSERT_TRUE(Prompt.pending);
  EXPECT_EQ(Prompt.yesLabel, L"INSTALL NOW");
  // The deck starts again while the question waits: INSTALL NOW only repeats the line.
  DeckSnapshots[1].playing = true;
  AnswerConfirmPrompt(true);
  EXPECT_EQ(Settings.Pending, 0);
  EXPECT_TRUE(Updates.installerAtExit.empty());
  DeckSnapshots[1].playing = false;
  UpdateButtonAction();
  AnswerConfirmPrompt(true);
  EXPECT_EQ(Settings.Pending, stamp);
  EXPECT_EQ(Settings.PendingBuild, static_cast<int64_t>(BuildStamp()));
  EXPECT_EQ(Updates.installerAtExit, L"/nowhere/Veldmix 1.0.11.msi");
}

TEST_F(UpdateFlow, AFailedOrCancelledDownloadReturnsToIdleWithItsError) {
  Updates.offered.stamp = 7;
  Updates.phase = kUpdateDownloading;
  Updates.progress = std::make_shared<std::atomic<float>>(0.4f);
  Updates.cancel = std::make_shared<std::atomic<bool>>(false);
  UpdateButtonAction();
  EXPECT_TRUE(Updates.cancel->load()) << "the button cancels a running download";
  auto* cancelled = new UpdateResult;
  cancelled->isDownload = true;
  cancelled->downloadError = L"Download cancelled";
  OnUpdateResult(cancelled);
  EXPECT_EQ(Updates.phase, kUpdateIdle);
  EXPECT_FALSE(Updates.progress || Updates.cancel);
  EXPECT_EQ(EnglishText(Updates.statusText), L"Download cancelled");
  EXPECT_EQ(Status.text, L"Update: Download cancelled");
  EXPECT_EQ(Updates.offered.stamp, 7) << "the update can still be downloaded";
}


// Dates show their month in the UI language, in the form English shows them; the log keeps English.
TEST_F(UpdateFlow, DatesShowTheMonthInTheUiLanguage) {
  constexpr int64_t kDecember = 1796817600;  // 9 Dec 2026 12:00 UTC: December in every time zone
  const wchar_t* const kDecemberIn[kUiLanguageCount] = {L" Dec 2026, ", L" dic 2026, ", L" Dez 2026, ", L" dez 2026, ",
                                                        L" déc. 2026, "};
  const std::wregex form(LR"(^(8|9|10) \S+ 2026, [0-2][0-9]:[0-5][0-9]$)");
  for (int language = kUiEnglish; language < kUiLanguageCount; ++language) {
    SetUiLanguage(language);
    const std::wstring shown = TranslateFilled(StampText(kDecember));
    EXPECT_NE(shown.find(kDecemberIn[language]), std::wstring::npos) << language << ": " << WideToUtf8(shown);
    EXPECT_TRUE(std::regex_match(shown, form)) << WideToUtf8(shown);
    EXPECT_NE(FormatStamp(kDecember).find(L" Dec 2026, "), std::wstring::npos) << "the log's date stays English";
  }

  // Through the flow in Spanish: the up-to-date line and the offer's two dates.
  SetUiLanguage(kUiSpanish);
  const int64_t build = BuildStamp();
  Arrive(CheckResult(build), false);
  const std::wstring upToDate = TranslateFilled(Updates.statusText);
  EXPECT_NE(upToDate.find(L"(comprobado " + SpanishDayAndMonth(Updates.lastCheck)), std::wstring::npos)
      << WideToUtf8(upToDate);
  Arrive(CheckResult(build + 3601), false);
  ASSERT_TRUE(Prompt.pending);
  EXPECT_NE(Prompt.body.find(L"Publicada: " + SpanishDayAndMonth(build + 3601)), std::wstring::npos)
      << WideToUtf8(Prompt.body);
  EXPECT_NE(Prompt.body.find(L"Tienes: 1.0.10 (" + SpanishDayAndMonth(build)), std::wstring::npos)
      << WideToUtf8(Prompt.body);
}

}  // namespace
