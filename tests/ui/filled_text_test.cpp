// Messages with values are translated first and filled afterwards: the status pill in German and
// French, and every pattern the code fills has its row in the table.
#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/status_message.h"
#include "platform/text.h"
#include "support/shown_status.h"
#include "tests/ui/widget_frames.h"
#include "ui/language.h"
#include "ui/status_line.h"

namespace {

namespace fs = std::filesystem;

struct Measured {
  UiText message;
  const wchar_t* german;
  const wchar_t* french;
};

// The messages measured in English under a German UI, built as their callers build them.
TEST(FilledText, TheMeasuredMessagesComeOutTranslatedWithTheirValues) {
  const Measured cases[] = {
      {UiFormat(L"Pinned {} beats where the tempo drifts — play it with the metronome to check", 12),
       L"12 Beats fixiert, wo das Tempo driftet — spiel es mit dem Metronom ab, um es zu prüfen",
       L"12 temps épinglés là où le tempo dérive — écoutez avec le métronome pour vérifier"},
      {UiFormat(L"Key {} mapped \u2014 it now overrides any built-in shortcut", L"Q"),
       L"Taste Q zugewiesen — sie ersetzt jetzt jedes eingebaute Tastenkürzel",
       L"Touche Q assignée — elle remplace désormais tout raccourci intégré"},
      {UiFormat(L"Memory cue {} set at {}", 3, L"1:02.5"), L"Memory-Cue 3 gesetzt bei 1:02.5",
       L"Cue mémoire 3 placé à 1:02.5"},
      {UiFormat(L"Stems ready on deck {} ({:.0f} s on the {})", L'A', 41.6, L"CPU"),
       L"Stems bereit auf Deck A (42 s auf der CPU)", L"Stems prêts sur la platine A (42 s sur le CPU)"},
      // One of a thing is said in the singular, in every language, also inside a larger text.
      {CountText(1, L"Removed 1 duplicate", L"Removed {} duplicates"), L"1 Duplikat entfernt", L"1 doublon supprimé"},
      {UiFormat(L"Auto cues: {} and {} from the phrases", CountText(1, L"1 hot cue", L"{} hot cues"),
                CountText(3, L"1 memory cue", L"{} memory cues")),
       L"Auto-Cues: 1 Hotcue und 3 Memory-Cues aus den Phrasen",
       L"Cues auto : 1 hot cue et 3 cues mémoire à partir des phrases"},
  };
  for (const Measured& c : cases) {
    ShowStatus(c.message);
    EXPECT_EQ(ShownStatusIn(kUiGerman), c.german);
    EXPECT_EQ(ShownStatusIn(kUiFrench), c.french);
    EXPECT_EQ(ShownStatusIn(kUiEnglish), Status.text);
  }
  // A text made of texts (a recording's stop reason before its result): each part is translated
  // on its own, then the whole is filled.
  ShowStatus(UiFormat(L"{}. {}", UiFormat(L"Recording stopped \u2014 couldn't write the file ({})", L"EFBIG"),
                      UiFormat(L"Mix saved as {} in {}", L"MP3", L"~/Musik")));
  EXPECT_EQ(Status.text, L"Recording stopped \u2014 couldn't write the file (EFBIG). Mix saved as MP3 in ~/Musik");
  EXPECT_EQ(ShownStatusIn(kUiGerman), L"Aufnahme gestoppt \u2014 die Datei konnte nicht geschrieben werden (EFBIG). "
                                      L"Mix als MP3 gespeichert unter ~/Musik");
  ShowStatus(L"", 0);
}

// Reads the C++ wide literal(s) starting at text[pos] (L"..." L"..."), escapes decoded. False when
// the argument is not a literal (a named constant).
bool ReadWideLiterals(const std::wstring& text, size_t pos, std::wstring* out) {
  bool any = false;
  for (;;) {
    while (pos < text.size() && iswspace(text[pos])) ++pos;
    if (text.compare(pos, 2, L"L\"") != 0) return any;
    any = true;
    for (pos += 2; pos < text.size() && text[pos] != L'"'; ++pos) {
      if (text[pos] != L'\\') {
        out->push_back(text[pos]);
        continue;
      }
      const wchar_t e = text[++pos];
      if (e == L'u' || e == L'U') {
        const size_t digits = e == L'u' ? 4 : 8;
        out->push_back(static_cast<wchar_t>(std::stoul(WideToUtf8(text.substr(pos + 1, digits)), nullptr, 16)));
        pos += digits;
      } else {
        out->push_back(e == L'n' ? L'\n' : e == L't' ? L'\t' : e);
      }
    }
    ++pos;
  }
}

// A typo in a caller's pattern would leave its message English in every other language.
TEST(FilledText, EveryPatternTheCodeFillsHasItsRowInTheTable) {
  int patterns = 0;
  for (const char* folder : {"base", "app", "engine", "ui", "screens", "library", "broadcast", "karaoke", "control",
                             "settings", "selftest"}) {
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(VELDMIX_SOURCE_DIR) / folder)) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      const std::wstring source = Utf8ToWide(bytes.str());
      for (const wchar_t* call : {L"UiFormat(", L"TranslateFormat("}) {
        for (size_t at = source.find(call); at != std::wstring::npos; at = source.find(call, at + 1)) {
          std::wstring pattern;
          if (!ReadWideLiterals(source, at + std::wcslen(call), &pattern)) continue;
          // Glue between texts ("{}. {}") has nothing to translate.
          if (std::none_of(pattern.begin(), pattern.end(), [](wchar_t c) { return std::iswalpha(c); })) continue;
          ++patterns;
          EXPECT_GE(FindTranslationRow(pattern), 0)
              << entry.path().string() << ": no row for \"" << WideToUtf8(pattern) << "\"";
        }
      }
    }
  }
  EXPECT_GE(patterns, 15);
}

class FilledPill : public WidgetFrames {
 protected:
  void TearDown() override {
    SetUiLanguage(saved_);
    ShowStatus(L"", 0);
    WidgetFrames::TearDown();
  }
  // The pill's width in the last frame: the span of its yellow edge along its middle row.
  static int PillWidth() {
    constexpr int kMiddleY = 117;  // 100 + half of 34
    int left = -1, right = -1;
    for (int x = 0; x < kWidth; ++x) {
      const uint32_t p = Pixel(x, kMiddleY);
      if (Channel(p, 16) > 120 && Channel(p, 8) > 100 && Channel(p, 0) < 90) {
        if (left < 0) left = x;
        right = x;
      }
    }
    return left < 0 ? 0 : right - left + 1;
  }
  int saved_ = UiLanguage();
};

TEST_F(FilledPill, ThePillDrawsTheMessageInTheLanguageShownAtDrawTime) {
  ShowStatus(UiFormat(L"Key {} mapped \u2014 it now overrides any built-in shortcut", L"Q"));
  const auto widthIn = [](int language) {
    SetUiLanguage(language);
    Frame([] { DrawStatusLine(kWidth); });
    return PillWidth();
  };
  const int german = widthIn(kUiGerman), english = widthIn(kUiEnglish);
  const float textGerman =
      TextWidth(L"Taste Q zugewiesen — sie ersetzt jetzt jedes eingebaute Tastenkürzel", 13, true, kFontSegoeUi);
  const float textEnglish = TextWidth(Status.text, 13, true, kFontSegoeUi);
  ASSERT_GT(textGerman, textEnglish + 10) << "the two texts must differ in width for this check";
  EXPECT_NEAR(german, textGerman + 36, 4);
  EXPECT_NEAR(english, textEnglish + 36, 4) << "switching back re-translates the same message";
}

}  // namespace
