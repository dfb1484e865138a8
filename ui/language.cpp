#include "ui/language.h"

#include <cstdlib>
#include <unordered_map>

namespace {

constexpr uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;
constexpr uint32_t kFirstAstral = 0x10000;  // code points from here on take a surrogate pair
constexpr uint32_t kLastCodePoint = 0x10FFFF;
constexpr wchar_t kOpeningQuote = L'\u201C';  // a leading part may end in it: Loaded “Title”
constexpr size_t kMinTranslatedLength = 2;    // shorter texts are never translated
constexpr size_t kMinLeadingPart = 2;         // the shortest index a leading part may end at
constexpr size_t kMaxShortTail = 5;           // "BANK C", "SKIP ▶", "LOOP 12": at most 5 characters

int CurrentLanguage = kUiEnglish;

struct ViewHash {
  size_t operator()(std::wstring_view text) const { return static_cast<size_t>(Fnv1aTextHash(text)); }
};
using TranslationIndex = std::unordered_map<std::wstring_view, int, ViewHash>;

// English key -> row, built once from the constant table; an English text that appeared twice
// would keep its first row.
const TranslationIndex& Index() {
  static const TranslationIndex index = [] {
    TranslationIndex built;
    built.reserve(kTranslationRowCount);
    for (size_t row = 0; row < kTranslationRowCount; ++row)
      built.emplace(kTranslationRows[row].text[kUiEnglish], static_cast<int>(row));
    return built;
  }();
  return index;
}

// The translation of exactly this text in the current (non-English) language, or null.
const std::wstring_view* Lookup(std::wstring_view text) {
  const int row = FindTranslationRow(text);
  if (row < 0) return nullptr;
  const std::wstring_view& translated = kTranslationRows[row].text[CurrentLanguage];
  return translated.empty() ? nullptr : &translated;
}

// Lower-case letters of the scripts the UI meets, independent of the process locale (a tail like
// " c" or " é" is part of a sentence, not a tag).
bool IsLowerCaseLetter(wchar_t c) {
  const uint32_t cp = static_cast<uint32_t>(c);
  if (cp >= U'a' && cp <= U'z') return true;
  if (cp >= 0xDF && cp <= 0xFF) return cp != 0xF7;  // Latin-1: ß..ÿ without ÷
  if (cp >= 0x3AC && cp <= 0x3CE) return true;       // Greek
  if (cp >= 0x430 && cp <= 0x45F) return true;       // Cyrillic
  return false;
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

std::wstring Joined(std::wstring_view first, std::wstring_view second) {
  std::wstring out;
  out.reserve(first.size() + second.size());
  out.append(first).append(second);
  return out;
}

}  // namespace

int DefaultUiLanguage() {
  struct Code {
    std::string_view code;
    int language;
  };
  static constexpr Code kCodes[] = {{"es", kUiSpanish}, {"de", kUiGerman}, {"pt", kUiPortuguese}, {"fr", kUiFrench}};
  // The first variable that is set decides, as it does for the messages of every program.
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    // "de_AT.UTF-8@euro" -> "de"; "pt:en" (a $LANGUAGE list) -> "pt".
    const std::string_view locale(value);
    const std::string_view code = locale.substr(0, locale.find_first_of("_.@:"));
    for (const Code& c : kCodes)
      if (c.code == code) return c.language;
    return kUiEnglish;
  }
  return kUiEnglish;
}

void SetUiLanguage(int lang) {
  CurrentLanguage = (lang >= kUiSpanish && lang < kUiLanguageCount) ? lang : kUiEnglish;
  Index();  // built here at the latest, so the first drawn frame pays nothing
}

int UiLanguage() { return CurrentLanguage; }

uint64_t Fnv1aTextHash(std::wstring_view text) {
  uint64_t hash = kFnvOffsetBasis;
  auto add_unit = [&hash](uint32_t unit) {
    hash = (hash ^ (unit & 0xFFu)) * kFnvPrime;
    hash = (hash ^ ((unit >> 8) & 0xFFu)) * kFnvPrime;
  };
  for (wchar_t c : text) {
    uint32_t cp = static_cast<uint32_t>(c);
    if (cp >= kFirstAstral && cp <= kLastCodePoint) {
      cp -= kFirstAstral;
      add_unit(0xD800u + (cp >> 10));
      add_unit(0xDC00u + (cp & 0x3FFu));
    } else {
      add_unit(cp);
    }
  }
  return hash;
}

int FindTranslationRow(std::wstring_view english) {
  const TranslationIndex& index = Index();
  const auto it = index.find(english);
  return it == index.end() ? -1 : it->second;
}

std::wstring Translate(std::wstring_view text) {
  const size_t n = text.size();
  if (CurrentLanguage == kUiEnglish || n < kMinTranslatedLength) return std::wstring(text);

  // Whole text.
  if (const std::wstring_view* whole = Lookup(text)) return std::wstring(*whole);

  // Leading part ending in a space or an opening quote; the longest one wins.
  for (size_t i = n - 1; i >= kMinLeadingPart; --i) {
    if (text[i] != L' ' && text[i] != kOpeningQuote) continue;
    if (const std::wstring_view* lead = Lookup(text.substr(0, i + 1))) return Joined(*lead, text.substr(i + 1));
  }

  // Short trailing tag: the run of spaces before the last word, then at most a few characters
  // without a lower-case letter.
  if (size_t p = text.rfind(L' '); p != std::wstring_view::npos) {
    while (p > 0 && text[p - 1] == L' ') --p;
    const std::wstring_view tail = text.substr(p);
    bool tag = p >= kMinLeadingPart && tail.size() <= kMaxShortTail;
    for (wchar_t c : tail) tag = tag && !IsLowerCaseLetter(c);
    if (tag)
      if (const std::wstring_view* label = Lookup(text.substr(0, p))) return Joined(*label, tail);
  }

  // Leading number before a known rest: "12 tracks".
  size_t digits = 0;
  while (digits < n && IsDigit(text[digits])) ++digits;
  if (digits > 0 && digits < n)
    if (const std::wstring_view* rest = Lookup(text.substr(digits))) return Joined(text.substr(0, digits), *rest);

  return std::wstring(text);
}

std::wstring TranslateFilled(const UiText& text) {
  return FillTranslated(text, Translate(text.pattern));
}
