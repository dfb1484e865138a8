// The feature run's question pictures: the rows that raise the update questions raise the update
// flow's own questions, in the row's language.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/settings.h"
#include "selftest/feature_run.h"
#include "settings/update_client.h"
#include "settings/updates.h"
#include "support/temp_home.h"
#include "ui/language.h"
#include "ui/modal.h"

namespace {

// Applies the screen row that takes the picture `file` (its first tick).
void ApplyScreenRow(const wchar_t* file) {
  const std::vector<std::wstring> files = FeatureTest::ScreenFileNames();
  const auto at = std::find(files.begin(), files.end(), file);
  ASSERT_NE(at, files.end()) << "no screen row for the picture";
  FeatureTest::Run.screenIndex = static_cast<size_t>(at - files.begin());
  FeatureTest::Run.screenTicks = 0;
  FeatureTest::ScreensTick();
}

TEST(FeatureScreens, TheQuestionPicturesShowTheFlowsOwnQuestionsInTheirLanguage) {
  TempHome home;
  Settings = SettingsRecord{};
  SetUiLanguage(kUiEnglish);

  InstallUpdate();  // what the program asks once an update has downloaded
  ASSERT_TRUE(Prompt.pending);
  const ConfirmPrompt asked = Prompt;
  Prompt = ConfirmPrompt{};
  ApplyScreenRow(L"ask-install.png");
  ASSERT_TRUE(Prompt.pending);
  EXPECT_EQ(Prompt.title, asked.title);
  EXPECT_EQ(Prompt.body, asked.body) << "the picture shows a question the program never asks";
  EXPECT_EQ(Prompt.yesLabel, asked.yesLabel);
  EXPECT_EQ(Prompt.noLabel, asked.noLabel);
  EXPECT_EQ(Prompt.icon, asked.icon);

  // In Spanish the body is the Spanish row filled with the site the flow names.
  ApplyScreenRow(L"ask-update-es.png");
  ASSERT_TRUE(Prompt.pending);
  EXPECT_EQ(UiLanguage(), kUiSpanish);
  const int row = FindTranslationRow(
      L"There's a new version of Veldmix on {}.\n\nPublished: {}\nYou have: 1.0.10 ({})\n\nDownload it now? Nothing is "
      L"installed until you say so.");
  ASSERT_GE(row, 0);
  const std::wstring_view spanish = TranslationTable()[static_cast<size_t>(row)].text[kUiSpanish];
  const std::wstring head(spanish.substr(0, spanish.find(L"{}")));
  EXPECT_EQ(Prompt.body.substr(0, head.size() + UpdateSiteHost().size()), head + UpdateSiteHost());
  EXPECT_EQ(Prompt.yesLabel, Translate(L"DOWNLOAD"));

  Prompt = ConfirmPrompt{};
  SetUiLanguage(kUiEnglish);
}

}  // namespace
