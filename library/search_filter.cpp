#include "library/search_filter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/musical_keys.h"
#include "base/text_parse.h"

namespace {

constexpr double kBpmTolerance = 0.5;
constexpr double kExactTolerance = 0.0;
constexpr double kStrictStep = 0.000001;  // ">N" and "<N" leave N itself out
constexpr float kEnergyLoudnessOffsetDb = 22.0f;
constexpr float kEnergyDbPerStep = 1.4f;
constexpr int kEnergyMin = 1;
constexpr int kEnergyMax = 10;

constexpr std::array<const wchar_t*, 12> kNoteNames = {L"c",  L"db", L"d",  L"eb", L"e",  L"f",
                                                       L"f#", L"g",  L"ab", L"a",  L"bb", L"b"};

bool InRange(double value, const NumericRange& range) { return range.first <= value && value <= range.second; }

// The number at the start of the text as wcstod reads it in the C locale; false when none starts
// there or it is not finite (nan, inf, an overflow such as 1e999: no one means those as bounds).
bool ReadNumber(std::wstring_view text, double* value, size_t* used) {
  *value = LeadingCNumber(text, used);
  return *used > 0 && std::isfinite(*value);
}

// A numeric key's predicate over a record value; `needsAnalysis` keeps out unanalysed records.
template <typename Value>
SearchPredicate NumericPredicate(NumericRange range, bool needsAnalysis, Value value) {
  return [range, needsAnalysis, value](const TrackInfo* record) {
    if (needsAnalysis && (!record || !record->analyzed)) return false;
    return InRange(value(record), range);
  };
}

int ColourIndexOf(const std::wstring& name) {
  for (const TrackColour& colour : kTrackColours)
    if (LowerText(colour.name) == name) return colour.index;
  return -1;
}

bool KeyMatches(int32_t key, const std::wstring& value) {
  if (key < 0 || key >= kKeyCount) return false;
  if (LowerText(KeyName(key, true)) == value) return true;
  std::wstring note = kNoteNames[static_cast<size_t>(key % 12)];
  if (key >= 12) note += L'm';
  return note == value;
}

}  // namespace

int TrackEnergy(const TrackInfo* record) {
  if (!record || !record->analyzed) return 0;
  float steps = (record->loudness + kEnergyLoudnessOffsetDb) / kEnergyDbPerStep;
  if (!std::isfinite(steps)) steps = static_cast<float>(kEnergyMin);
  steps = std::clamp(steps, static_cast<float>(kEnergyMin), static_cast<float>(kEnergyMax));
  return std::clamp(static_cast<int>(std::lround(steps)), kEnergyMin, kEnergyMax);
}

bool ParseNumericCondition(std::wstring_view text, double tolerance, NumericRange* range) {
  if (text.empty()) return false;
  double n = 0.0;
  size_t used = 0;
  if (text.starts_with(L">=") || text.starts_with(L"<=")) {
    if (!ReadNumber(text.substr(2), &n, &used)) return false;
    (text[0] == L'>' ? range->first : range->second) = n;
    return true;
  }
  if (text[0] == L'>' || text[0] == L'<') {
    if (!ReadNumber(text.substr(1), &n, &used)) return false;
    if (text[0] == L'>') range->first = n + kStrictStep;
    else range->second = n - kStrictStep;
    return true;
  }
  if (!ReadNumber(text, &n, &used)) return false;
  if (used == text.size()) {
    *range = {n - tolerance, n + tolerance};
    return true;
  }
  if (text[used] == L'+') {
    if (used + 1 != text.size()) return false;
    range->first = n;
    return true;
  }
  if (text[used] == L'-') {
    double m = 0.0;
    size_t usedM = 0;
    const std::wstring_view rest = text.substr(used + 1);
    // "directly": wcstod would skip white space first
    if (rest.empty() || IsWideSpace(rest[0]) || !ReadNumber(rest, &m, &usedM)) return false;
    *range = {std::min(n, m), std::max(n, m)};
    return true;
  }
  return false;
}

bool FilterToken(const std::wstring& token, SearchPredicate* out) {
  const size_t colon = token.find(L':');
  if (token.empty() || colon == std::wstring::npos || colon == 0) return false;
  const std::wstring key = token.substr(0, colon);
  const std::wstring value = token.substr(colon + 1);
  NumericRange range{kOpenRangeLow, kOpenRangeHigh};

  if (key == L"bpm") {
    if (!ParseNumericCondition(value, kBpmTolerance, &range)) return false;
    // A track with no measured tempo (0) matches no tempo condition, not even "<130".
    *out = NumericPredicate(range, true, [](const TrackInfo* r) {
      return r->bpm > 0.0 ? r->bpm : std::numeric_limits<double>::quiet_NaN();
    });
    return true;
  }
  if (key == L"rating" || key == L"stars" || key == L"r") {
    if (!ParseNumericCondition(value, kExactTolerance, &range)) return false;
    *out = NumericPredicate(range, false, [](const TrackInfo* r) { return r ? double(r->rating) : 0.0; });
    return true;
  }
  if (key == L"plays" || key == L"played") {
    if (!ParseNumericCondition(value, kExactTolerance, &range)) return false;
    *out = NumericPredicate(range, false, [](const TrackInfo* r) { return r ? double(r->playCount) : 0.0; });
    return true;
  }
  if (key == L"energy" || key == L"e") {
    if (!ParseNumericCondition(value, kExactTolerance, &range)) return false;
    *out = NumericPredicate(range, true, [](const TrackInfo* r) { return double(TrackEnergy(r)); });
    return true;
  }
  if (key == L"color" || key == L"colour") {
    if (value == L"any") {
      *out = [](const TrackInfo* r) { return r && r->color > 0; };
      return true;
    }
    const int index = ColourIndexOf(value);
    if (value.empty() || index < 0) return false;
    *out = [index](const TrackInfo* r) { return (r ? r->color : 0) == index; };
    return true;
  }
  if (key == L"tag" || key == L"mytag") {
    if (value.empty()) return false;
    *out = [value](const TrackInfo* r) {
      if (!r) return false;
      for (const std::wstring& tag : SplitTags(r->myTags))
        if (LowerText(tag).find(value) != std::wstring::npos) return true;
      return false;
    };
    return true;
  }
  if (key == L"key") {
    if (value.empty()) return false;
    *out = [value](const TrackInfo* r) { return r && r->analyzed && KeyMatches(r->key, value); };
    return true;
  }
  return false;
}

void AddSearchToken(std::wstring* token, CompiledSearch* search) {
  SearchPredicate predicate;
  if (FilterToken(*token, &predicate)) search->predicates.push_back(std::move(predicate));
  else search->words.push_back(*token), search->wordBytes.push_back(SearchBytes(*token));
  token->clear();
}

CompiledSearch CompileSearch(const std::wstring& crateSearch, const std::wstring& boxText) {
  const std::wstring text = LowerText(crateSearch + L' ' + boxText);
  CompiledSearch search;
  std::wstring token;
  for (wchar_t c : text) {
    if (c != L' ') {
      token += c;
      continue;
    }
    if (!token.empty()) AddSearchToken(&token, &search);
  }
  if (!token.empty()) AddSearchToken(&token, &search);
  return search;
}

std::string SearchBytes(std::wstring_view text) {
  // UTF-8's scheme stretched to 32 bits: every sequence is a lead byte, then continuation bytes
  // 10xxxxxx; so a match of whole sequences can only start at a lead byte.
  constexpr uint32_t kLimits[] = {0x80, 0x800, 0x10000, 0x200000, 0x4000000, 0x80000000};
  constexpr uint8_t kLeads[] = {0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE};
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    const uint32_t c = static_cast<uint32_t>(wc);
    if (c < kLimits[0]) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    size_t more = 1;
    while (more < std::size(kLimits) && c >= kLimits[more]) ++more;
    out.push_back(static_cast<char>(kLeads[more] | (more < 6 ? c >> (6 * more) : 0)));
    for (size_t k = more; k-- > 0;) out.push_back(static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F)));
  }
  return out;
}

bool HasBytes(std::string_view text, std::string_view word) {
  return memmem(text.data(), text.size(), word.data(), word.size()) != nullptr;
}

bool ConditionsHold(const CompiledSearch& search, const TrackInfo* record) {
  for (const SearchPredicate& predicate : search.predicates)
    if (!predicate(record)) return false;
  return true;
}

bool MatchesSearch(const CompiledSearch& search, const LibraryFile& file, const TrackInfo* record) {
  std::wstring ownTags;
  bool ownTagsLowered = false;
  for (const std::wstring& word : search.words) {
    if (file.searchText.find(word) != std::wstring::npos) continue;
    if (!record) return false;
    if (!ownTagsLowered) ownTags = LowerText(record->myTags), ownTagsLowered = true;
    if (ownTags.find(word) == std::wstring::npos) return false;
  }
  return ConditionsHold(search, record);
}
