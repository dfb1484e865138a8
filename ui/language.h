#pragma once
// The UI language and the built-in translation table. Texts are written in English where they
// are used and translated only when drawn. UI thread only, except where a contract says otherwise.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/ui_text.h"

// --- Languages, in the column order of the table ---

constexpr int kUiEnglish = 0;
constexpr int kUiSpanish = 1;
constexpr int kUiGerman = 2;
constexpr int kUiPortuguese = 3;
constexpr int kUiFrench = 4;
constexpr int kUiLanguageCount = 5;

// --- The language setting ---

// The language for a first run, from the user's locale ($LANGUAGE, $LC_ALL, $LC_MESSAGES, $LANG).
int DefaultUiLanguage();
// Stores the language; values outside 1..4 become 0 (English). Cheap: the lookup index is built
// once and serves every language, so switching costs no rebuild.
void SetUiLanguage(int lang);
// The language last stored; 0 until the settings are loaded.
int UiLanguage();

// --- Translation ---

// The text in the current language (a copy). Besides whole texts it translates a leading part
// that ends in a space or an opening quote (the rest kept as it is), a short upper-case or numeric
// tail after a label ("BANK C") and a leading number before a known rest ("12 tracks"). Any other
// text, every text in English and every text shorter than two characters comes back unchanged.
std::wstring Translate(std::wstring_view text);
// A text with values (base/ui_text.h) in the current language: the English pattern is translated,
// then filled. A translation whose fields differ from the English ones, or that the values do not
// fit, gives the English pattern filled instead; never throws. A plain text is Translate(text).
std::wstring TranslateFilled(const UiText& text);
// TranslateFilled(UiFormat(pattern, args...)): for drawing code that shows a text with values.
template <typename... Args>
std::wstring TranslateFormat(fmt::wformat_string<Args...> pattern, Args&&... args) {
  return TranslateFilled(UiFormat(pattern, std::forward<Args>(args)...));
}

// --- The built-in table (data in ui/translations_data.cpp, generated from assets/translations.tsv
// by scripts/embed_translations.py) ---

// One row: the English key and its four translations, every column filled.
struct TranslationRow {
  std::wstring_view text[kUiLanguageCount];
};
extern const TranslationRow kTranslationRows[];
extern const size_t kTranslationRowCount;

inline std::span<const TranslationRow> TranslationTable() { return {kTranslationRows, kTranslationRowCount}; }

// The row whose English column is exactly this text, or -1. The index behind it is built on the
// first call of any lookup (thread-safe) and lives until the process ends.
int FindTranslationRow(std::wstring_view english);

// 64-bit FNV-1a over the text's UTF-16 code units, each taken low byte first; a character above
// U+FFFF counts as its surrogate pair. The program's string hash, so keys hash alike everywhere.
uint64_t Fnv1aTextHash(std::wstring_view text);
