// Texts with values: filled in English, filled into a translation, and never thrown out of by a
// pattern the values do not fit.
#include "base/ui_text.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/status_message.h"

namespace {

TEST(UiText, UiFormatKeepsThePatternAndFillsEveryKindOfValue) {
  const UiText text = UiFormat(L"{} {:.1f} s, bank {} pad {:02} (0x{:08X}) {}", std::wstring(L"Deck"), 2.04, L'A',
                               7, 0xBEEFu, L"ok");
  EXPECT_TRUE(text.formatted);
  EXPECT_EQ(text.pattern, L"{} {:.1f} s, bank {} pad {:02} (0x{:08X}) {}");
  EXPECT_EQ(text.args.size(), 6u);
  EXPECT_EQ(EnglishText(text), L"Deck 2.0 s, bank A pad 07 (0x0000BEEF) ok");
  // A plain text is shown as it is, braces and all.
  EXPECT_EQ(EnglishText(UiText(L"Set {} here")), L"Set {} here");
}

TEST(UiText, PatternFieldsSkipLiteralBraces) {
  EXPECT_EQ(PatternFields(L"{{x}} {} at {:.1f}%, {:02}"), (std::vector<std::wstring_view>{L"{}", L"{:.1f}", L"{:02}"}));
  EXPECT_TRUE(PatternFields(L"no fields {{}}").empty());
}

TEST(UiText, ValuesThatDoNotFitNeverThrow) {
  std::wstring out = L"untouched";
  const std::vector<UiTextArg> number{int64_t{3}}, text{std::wstring(L"x")};
  EXPECT_FALSE(FillPattern(L"{:.1f} {}", number, &out)) << "too few values";
  EXPECT_FALSE(FillPattern(L"{:.1f}", text, &out)) << "a real-number spec on a text";
  EXPECT_FALSE(FillPattern(L"{:08X}", std::vector<UiTextArg>{2.5}, &out)) << "hex on a real number";
  EXPECT_FALSE(FillPattern(L"{name}", number, &out));
  EXPECT_FALSE(FillPattern(L"open { brace", number, &out));
  EXPECT_EQ(out, L"untouched");
  // A text built by hand whose own pattern does not fit shows the bare pattern.
  UiText broken(L"Took {:.1f} s");
  broken.formatted = true;
  broken.args = text;
  EXPECT_EQ(EnglishText(broken), L"Took {:.1f} s");
}

TEST(UiText, AFaultyTranslationFallsBackToTheEnglishText) {
  const UiText text = UiFormat(L"Memory cue {} set at {}", 3, L"1:02.5");
  EXPECT_EQ(FillTranslated(text, L"Memory-Cue {} gesetzt bei {}", EnglishText), L"Memory-Cue 3 gesetzt bei 1:02.5");
  for (const wchar_t* bad : {L"Memory-Cue {} gesetzt", L"Memory-Cue {:.1f} bei {}", L"Cue {} {} {}",
                             L"Memory-Cue {0} gesetzt bei {1} {2}", L"Memory-Cue { gesetzt bei {}"}) {
    EXPECT_EQ(FillTranslated(text, bad, EnglishText), L"Memory cue 3 set at 1:02.5") << bad;
  }
  EXPECT_EQ(FillTranslated(UiText(L"SKIP"), L"PASSER", EnglishText), L"PASSER");
}

TEST(UiText, TextsInsideATextAreShownByTheGivenShowerAndCompareByContent) {
  const UiText reason = UiFormat(L"Stopped ({})", L"EFBIG");
  const UiText whole = UiFormat(L"{}. {}", reason, UiText(L"Saved"));
  EXPECT_EQ(EnglishText(whole), L"Stopped (EFBIG). Saved");
  const auto shout = [](const UiText& t) { return L"<" + EnglishText(t) + L">"; };
  EXPECT_EQ(FillTranslated(whole, L"{} / {}", shout), L"<Stopped (EFBIG)> / <Saved>");
  EXPECT_TRUE(whole == UiFormat(L"{}. {}", UiFormat(L"Stopped ({})", L"EFBIG"), UiText(L"Saved")));
  EXPECT_FALSE(whole == UiFormat(L"{}. {}", UiFormat(L"Stopped ({})", L"ENOSPC"), UiText(L"Saved")));
  EXPECT_EQ(fmt::format(L"log: {}", whole), L"log: Stopped (EFBIG). Saved");
}

TEST(StatusMessage, KeepsTheEnglishPatternAndItsFilledText) {
  ShowStatus(UiFormat(L"Recorded {:.1f} s into bank {} pad {}", 1.96, L'B', 4), 100);
  EXPECT_EQ(Status.message.pattern, L"Recorded {:.1f} s into bank {} pad {}");
  EXPECT_EQ(Status.text, L"Recorded 2.0 s into bank B pad 4");
  ShowStatus(L"Sync lock off");
  EXPECT_FALSE(Status.message.formatted);
  EXPECT_EQ(Status.text, L"Sync lock off");
  ShowStatus(L"", 0);
}

}  // namespace
