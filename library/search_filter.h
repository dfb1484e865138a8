#pragma once
// The library's search language, shared by the search box and the smart crates: tokens split at
// spaces; "key:value" tokens become conditions on the track's record, every other token is a word
// that must occur in the file's text. UI thread (the compiled search reads the record map).
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/track_info.h"
#include "library/library_file.h"

// A condition on a file's record (null when the file has none).
using SearchPredicate = std::function<bool(const TrackInfo* record)>;

struct CompiledSearch {
  std::vector<SearchPredicate> predicates;
  std::vector<std::wstring> words;  // lower case
  std::vector<std::string> wordBytes;  // the words as SearchBytes
  bool empty() const { return predicates.empty() && words.empty(); }
};

// The range of a numeric condition before the condition's text narrows it.
inline constexpr double kOpenRangeLow = -1e18;
inline constexpr double kOpenRangeHigh = 1e18;
using NumericRange = std::pair<double, double>;

// True and *out set when the (lower-case) token is a recognised key:value condition; false for a
// plain word.
bool FilterToken(const std::wstring& token, SearchPredicate* out);
// Reads "N", "N+", "N-M", ">=N", "<=N", ">N", "<N" (C-locale numbers) into *range; "N" alone is
// N ± tolerance. False, *range unchanged, when the text is not such a condition or a number is
// not finite.
bool ParseNumericCondition(std::wstring_view text, double tolerance, NumericRange* range);
// Adds the token as a condition when it is one, else as a word; then empties it.
void AddSearchToken(std::wstring* token, CompiledSearch* search);
// The crate's search, a space and the search box text, lower-cased and split at spaces.
CompiledSearch CompileSearch(const std::wstring& crateSearch, const std::wstring& boxText);
// Every word occurs in the file's search text or its record's own tags, and every condition
// holds for the record.
bool MatchesSearch(const CompiledSearch& search, const LibraryFile& file, const TrackInfo* record);

// The text as bytes, one character to one UTF-8-style sequence for any wchar_t value (nothing is
// replaced): a word occurs in a text exactly when its bytes occur in the text's bytes.
std::string SearchBytes(std::wstring_view text);
// The word's bytes occur in the text's bytes.
bool HasBytes(std::string_view text, std::string_view word);

// Every condition holds for the record (the words aside).
bool ConditionsHold(const CompiledSearch& search, const TrackInfo* record);

// Energy 1-10 of an analysed record from its loudness; 0 without a record or analysis.
int TrackEnergy(const TrackInfo* record);
