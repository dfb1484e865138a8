#include "ui/language.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>
#include <fmt/xchar.h>
#include <gtest/gtest.h>

#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

// Every test leaves the language as it found it.
class LanguageTest : public ::testing::Test {
 protected:
  void TearDown() override { SetUiLanguage(saved_); }

 private:
  int saved_ = UiLanguage();
};

using LanguageSetting = LanguageTest;
using TranslationLookup = LanguageTest;
using TranslationRules = LanguageTest;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh, empty folder for files a test writes.
fs::path ScratchFolder(const std::string& name) {
  const fs::path dir = fs::temp_directory_path() / fmt::format("veldmix-language-{}-{}", name, ::getpid());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// Runs the table generator; returns its exit status, its error output in *errors.
int RunGenerator(const fs::path& tsv, const fs::path& output, std::string* errors) {
  const fs::path log = output.parent_path() / "generator.err";
  const std::string command =
      fmt::format("python3 '{}/scripts/embed_translations.py' --tsv '{}' --output '{}' >/dev/null 2>'{}'",
                  VELDMIX_SOURCE_DIR, tsv.string(), output.string(), log.string());
  const int status = std::system(command.c_str());
  if (errors) *errors = ReadAll(log);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The format fields of a text in order: {fmt} fields, then printf conversions ("%%" is none).
std::vector<std::wstring> Placeholders(std::wstring_view text) {
  std::vector<std::wstring> fields;
  for (size_t open = text.find(L'{'); open != std::wstring_view::npos; open = text.find(L'{', open + 1)) {
    const size_t close = text.find(L'}', open);
    if (close != std::wstring_view::npos) fields.emplace_back(text.substr(open, close - open + 1));
  }
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'%') continue;
    if (text[i + 1] == L'%') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < text.size() && std::wstring_view(L"-+#0123456789.hlL").find(text[j]) != std::wstring_view::npos) ++j;
    if (j < text.size() && std::wstring_view(L"diuxXfcs").find(text[j]) != std::wstring_view::npos)
      fields.emplace_back(text.substr(i, j - i + 1));
  }
  return fields;
}

// FNV-1a 64 over raw bytes, written out independently of the code under test.
uint64_t ReferenceFnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t h = 14695981039346656037ull;
  for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
  return h;
}

// --- The language setting ---

TEST_F(LanguageSetting, ValuesOutsideOneToFourSelectEnglish) {
  for (int lang : {kUiSpanish, kUiGerman, kUiPortuguese, kUiFrench}) {
    SetUiLanguage(lang);
    EXPECT_EQ(UiLanguage(), lang);
  }
  for (int lang : {-1, 5, 99, INT_MIN, INT_MAX}) {
    SetUiLanguage(kUiGerman);
    SetUiLanguage(lang);
    EXPECT_EQ(UiLanguage(), kUiEnglish) << lang;
    EXPECT_EQ(Translate(L"SKIP"), L"SKIP") << lang;
  }
}

TEST_F(LanguageSetting, AnEmptyLocaleVariableIsSkippedAndAnUnknownOneMeansEnglish) {
  const char* names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  std::vector<std::optional<std::string>> saved;
  for (const char* name : names) {
    const char* value = std::getenv(name);
    saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
  }
  unsetenv("LC_ALL");
  setenv("LANGUAGE", "", 1);
  setenv("LC_MESSAGES", "fr_CA.UTF-8", 1);
  setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(DefaultUiLanguage(), kUiFrench);
  setenv("LC_MESSAGES", "it_IT.UTF-8", 1);  // the first set variable decides, known or not
  EXPECT_EQ(DefaultUiLanguage(), kUiEnglish);
  for (size_t i = 0; i < saved.size(); ++i) saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
}

// --- Whole texts ---

TEST_F(TranslationLookup, TheFixedRowsHoldInEveryLanguage) {
  const std::wstring_view rows[][kUiLanguageCount] = {
      {L"SKIP", L"SALTAR", L"ÜBERSPRINGEN", L"PULAR", L"PASSER"},
      {L"BANK", L"BANCO", L"BANK", L"BANCO", L"BANQUE"},
      {L"Loading…", L"Cargando…", L"Wird geladen…", L"Carregando…", L"Chargement…"},
      {L"Loaded “", L"Cargada “", L"Geladen: “", L"Carregada “", L"Chargé “"},
      {L"Load a track onto deck ", L"Carga una pista en el deck ", L"Lade einen Track auf Deck ",
       L"Carregue uma faixa no deck ", L"Chargez un titre sur la platine "},
      {L" tracks", L" pistas", L" Tracks", L" faixas", L" titres"},
      {L"close", L"cerrar", L"schließen", L"fechar", L"fermer"},
  };
  for (const auto& row : rows) {
    const int index = FindTranslationRow(row[kUiEnglish]);
    ASSERT_GE(index, 0) << WideToUtf8(row[kUiEnglish]);
    for (int lang = 0; lang < kUiLanguageCount; ++lang) {
      EXPECT_EQ(kTranslationRows[index].text[lang], row[lang]);
      SetUiLanguage(lang);
      EXPECT_EQ(Translate(row[kUiEnglish]), row[lang]) << "language " << lang;
    }
  }
}

TEST_F(TranslationLookup, EnglishUnknownAndOneCharacterTextsComeBackUnchanged) {
  SetUiLanguage(kUiEnglish);
  for (std::wstring_view text : {L"SKIP", L"Loading…", L"x", L"", L"12 tracks"}) EXPECT_EQ(Translate(text), text);
  for (int lang = kUiSpanish; lang < kUiLanguageCount; ++lang) {
    SetUiLanguage(lang);
    EXPECT_EQ(Translate(L"Zorblax quux"), L"Zorblax quux");
    EXPECT_EQ(Translate(L"A"), L"A");
    EXPECT_EQ(Translate(L"+"), L"+");
    EXPECT_EQ(Translate(L""), L"");
    EXPECT_EQ(Translate(L"skip"), L"skip");  // keys compare exactly, case included
  }
}

TEST_F(TranslationLookup, SwitchingLanguageTakesEffectOnTheNextLookup) {
  SetUiLanguage(kUiGerman);
  EXPECT_EQ(Translate(L"SKIP"), L"ÜBERSPRINGEN");
  SetUiLanguage(kUiFrench);
  EXPECT_EQ(Translate(L"SKIP"), L"PASSER");
  SetUiLanguage(kUiEnglish);
  EXPECT_EQ(Translate(L"SKIP"), L"SKIP");
}

// --- Glued texts ---

TEST_F(TranslationRules, ALeadingPartKeepsTheRestAndTheLongestPartWins) {
  SetUiLanguage(kUiSpanish);
  EXPECT_EQ(Translate(L"Load a track onto deck B"), L"Carga una pista en el deck B");
  EXPECT_EQ(Translate(L"Loaded “Night Drive”"), L"Cargada “Night Drive”");
  EXPECT_EQ(Translate(L"Added to Warm-up set"), L"Añadida a Warm-up set");
  // "Undone: " alone would also match; the longer leading part is taken.
  EXPECT_EQ(Translate(L"Undone: deleted hot cue 3"), L"Deshecho: hot cue borrado 3");
  EXPECT_EQ(Translate(L"Undone: something new"), L"Deshecho: something new");
}

TEST_F(TranslationRules, AWholeTextBeatsEveryPartialRule) {
  SetUiLanguage(kUiSpanish);
  EXPECT_EQ(Translate(L"Undone: auto cues"), L"Deshecho: cues automáticos");
  SetUiLanguage(kUiFrench);
  EXPECT_EQ(Translate(L"Deck C is playing — pause it before loading"),
            L"La platine C joue — mettez-la en pause avant de charger");
}

TEST_F(TranslationRules, AShortUpperCaseTailFollowsItsLabel) {
  SetUiLanguage(kUiSpanish);
  EXPECT_EQ(Translate(L"BANK C"), L"BANCO C");
  EXPECT_EQ(Translate(L"BANK  D"), L"BANCO  D");      // the run of spaces stays with the tail
  EXPECT_EQ(Translate(L"BANK ABCD"), L"BANCO ABCD");  // a tail of five characters, space included
  EXPECT_EQ(Translate(L"BANK ABCDE"), L"BANK ABCDE");  // six is too long
  EXPECT_EQ(Translate(L"BANK c"), L"BANK c");          // lower case: part of a sentence
  EXPECT_EQ(Translate(L"BANK é"), L"BANK é");
  SetUiLanguage(kUiFrench);
  EXPECT_EQ(Translate(L"SKIP ▶"), L"PASSER ▶");
  EXPECT_EQ(Translate(L"Deck D"), L"Platine D");
}

TEST_F(TranslationRules, ALeadingNumberKeepsItsDigits) {
  SetUiLanguage(kUiFrench);
  EXPECT_EQ(Translate(L"12 tracks"), L"12 titres");
  EXPECT_EQ(Translate(L"1 track"), L"1 titre");
  EXPECT_EQ(Translate(L"3 singers"), L"3 chanteurs");
  EXPECT_EQ(Translate(L"123"), L"123");
  EXPECT_EQ(Translate(L"12 zorblax"), L"12 zorblax");
}

TEST_F(TranslationRules, RowsWithFieldsAreTranslatedThenFilledInEveryLanguage) {
  // Every row with {fmt} fields, given values of the kinds its fields take, comes out as its own
  // column filled in each language: the runtime never falls back to English for a table row.
  int rows = 0;
  for (const TranslationRow& row : TranslationTable()) {
    const std::wstring_view english = row.text[kUiEnglish];
    const std::vector<std::wstring_view> fields = PatternFields(english);
    if (fields.empty()) continue;
    ++rows;
    UiText text(english);
    text.formatted = true;
    for (std::wstring_view f : fields) {
      if (f.find(L'f') != std::wstring_view::npos) text.args.emplace_back(1.5);
      else if (f.find(L'X') != std::wstring_view::npos) text.args.emplace_back(uint64_t{0xBEEF});
      else text.args.emplace_back(int64_t{7});
    }
    for (int lang = 0; lang < kUiLanguageCount; ++lang) {
      SetUiLanguage(lang);
      std::wstring expected;
      ASSERT_TRUE(FillPattern(row.text[lang], text.args, &expected)) << WideToUtf8(row.text[lang]);
      EXPECT_EQ(TranslateFilled(text), expected) << WideToUtf8(english) << ", language " << lang;
    }
  }
  EXPECT_GE(rows, 70);
}

// --- The table ---

TEST(TranslationTable, RowsAreCompleteUniqueAndAgreeWithTheirEnglish) {
  constexpr size_t kMinRows = 981;  // a truncated TSV must not pass unnoticed
  ASSERT_GE(kTranslationRowCount, kMinRows);
  std::set<std::wstring_view> english;
  for (size_t i = 0; i < kTranslationRowCount; ++i) {
    const TranslationRow& row = kTranslationRows[i];
    const std::wstring_view key = row.text[kUiEnglish];
    SCOPED_TRACE(testing::Message() << "row " << i << ": " << WideToUtf8(key));
    EXPECT_TRUE(english.insert(key).second) << "English repeats";
    EXPECT_EQ(FindTranslationRow(key), static_cast<int>(i));
    bool all_same = true;
    for (int lang = 0; lang < kUiLanguageCount; ++lang) {
      const std::wstring_view text = row.text[lang];
      ASSERT_FALSE(text.empty()) << "language " << lang;
      all_same = all_same && text == key;
      EXPECT_EQ(Placeholders(text), Placeholders(key)) << "language " << lang;
      EXPECT_EQ(text.front() == L' ', key.front() == L' ') << "language " << lang;
      EXPECT_EQ(text.back() == L' ', key.back() == L' ') << "language " << lang;
      EXPECT_EQ(text.back() == L'\u201C', key.back() == L'\u201C') << "language " << lang;
      for (wchar_t c : text) EXPECT_TRUE(c >= 0x20 || c == L'\n') << "control character, language " << lang;
    }
    EXPECT_FALSE(all_same) << "a row that changes nothing";
  }
}

TEST(TranslationData, TheEmbeddedTableIsGeneratedFromTheTsv) {
  const fs::path dir = ScratchFolder("sync");
  const fs::path source = fs::path(VELDMIX_SOURCE_DIR);
  std::string errors;
  ASSERT_EQ(RunGenerator(source / "assets/translations.tsv", dir / "translations_data.cpp", &errors), 0) << errors;
  EXPECT_TRUE(ReadAll(dir / "translations_data.cpp") == ReadAll(source / "ui/translations_data.cpp"))
      << "ui/translations_data.cpp is stale: run scripts/embed_translations.py";
  fs::remove_all(dir);
}

TEST(TranslationData, TheGeneratorRefusesABrokenTableAndWritesNothing) {
  const fs::path dir = ScratchFolder("broken");
  const std::string header = "English\tSpanish\tGerman\tPortuguese\tFrench\n";
  struct Case {
    const char* rows;
    const char* message;
  } cases[] = {
      {"SKIP\tSALTAR\tÜBERSPRINGEN\tPULAR\tPASSER\nSKIP\tA\tB\tC\tD\n", "repeats line 2"},
      {"SKIP\tSALTAR\t\tPULAR\tPASSER\n", "German column is empty"},
      {"SKIP\tSALTAR\tPULAR\tPASSER\n", "4 columns"},
      {"Took {} s\tTardó {} s\t{:.1f} s\tLevou {} s\tPris {} s\n", "placeholders"},
      {"Took %d s\tTardó %s s\tX %d\tY %d\tZ %d\n", "placeholders"},
      {"Added to \tAñadida a\tHinzugefügt zu \tAdicionada a \tAjouté à \n", "outer spaces"},
      {"A\\qB\tx\ty\tz\tw\n", "unknown escape"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const fs::path tsv = dir / "bad.tsv", out = dir / "out.cpp";
    std::ofstream(tsv, std::ios::binary) << header << c.rows;
    std::string errors;
    EXPECT_EQ(RunGenerator(tsv, out, &errors), 1);
    EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
    EXPECT_FALSE(fs::exists(out));
  }
  // A good table with escapes comes out as the wide literals the program reads.
  const fs::path tsv = dir / "good.tsv", out = dir / "good.cpp";
  std::ofstream(tsv, std::ios::binary) << header << "A\\nB \\\\ \"q\"\tC\\nD\tE\\nF\tG\\nH\tI\\nJ\n";
  ASSERT_EQ(RunGenerator(tsv, out, nullptr), 0);
  EXPECT_NE(ReadAll(out).find(R"({{L"A\nB \\ \"q\"", L"C\nD", L"E\nF", L"G\nH", L"I\nJ"}},)"), std::string::npos)
      << ReadAll(out);
  fs::remove_all(dir);
}

// --- The string hash ---

TEST(LanguageHash, Fnv1aRunsOverUtf16UnitsLowByteFirst) {
  EXPECT_EQ(Fnv1aTextHash(L""), 0xcbf29ce484222325ull);
  EXPECT_EQ(Fnv1aTextHash(L"SKIP"), 0xb61a79078afbdaecull);
  EXPECT_EQ(Fnv1aTextHash(L"Ü"), ReferenceFnv1a({0xDC, 0x00}));
  // Above U+FFFF a character counts as its surrogate pair D83C DFB5.
  EXPECT_EQ(Fnv1aTextHash(L"\U0001F3B5"), 0x2595871c5596f281ull);
  EXPECT_EQ(Fnv1aTextHash(L"\U0001F3B5"), ReferenceFnv1a({0x3C, 0xD8, 0xB5, 0xDF}));
  EXPECT_NE(Fnv1aTextHash(L"ab"), Fnv1aTextHash(L"ba"));
}

}  // namespace
