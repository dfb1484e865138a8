#include "library/track_sort.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/musical_keys.h"
#include "base/text_parse.h"
#include "base/track_info.h"
#include "library/search_filter.h"
#include "library/track_view.h"

namespace {

constexpr int kLastSortKey = kSortColour;
constexpr int kLastColourIndex = 8;

int SortSign(double a, double b) { return a < b ? -1 : (a > b ? 1 : 0); }

// The compared value of one file for the sort of this rebuild, taken once per file so the sort
// itself never looks up records.
struct SortValue {
  double number = 0.0;
  std::wstring text;   // text keys (key name, genre)
};

SortValue ValueOf(const LibraryFile& file, int column) {
  const TrackInfo* record = SortReadsRecords(column) ? FindTrackInfo(file.path) : nullptr;
  SortValue value;
  switch (column) {
    case kSortBpm: value.number = record ? record->bpm : 0.0; break;
    case kSortKey: value.text = record ? KeyName(record->key, true) : std::wstring(); break;
    case kSortLength: value.number = file.duration; break;
    case kSortEnergy: value.number = TrackEnergy(record); break;
    case kSortRating: value.number = record ? record->rating : 0; break;
    case kSortGenre: value.text = LowerText(file.genre); break;
    case kSortPlayCount: value.number = record ? record->playCount : 0; break;
    case kSortLastPlayed: value.number = record ? static_cast<double>(record->lastPlayed) : 0.0; break;
    case kSortDateAdded: value.number = static_cast<double>(file.modified); break;
    case kSortColour: value.number = record ? std::clamp(record->color, 0, kLastColourIndex) : 0; break;
    default: break;
  }
  if (!std::isfinite(value.number)) value.number = 0.0;  // a total order for the sort
  return value;
}

int CompareValues(const LibraryFile& a, const SortValue& va, const LibraryFile& b, const SortValue& vb, int column) {
  switch (column) {
    case kSortTitle: return CompareUtf16(a.titleKey, b.titleKey);
    case kSortArtist: {
      const int byArtist = CompareUtf16(a.artistKey, b.artistKey);
      return byArtist != 0 ? byArtist : CompareUtf16(a.titleKey, b.titleKey);
    }
    case kSortKey: return CompareUtf16(va.text, vb.text);
    case kSortGenre: {
      const int byGenre = CompareUtf16(va.text, vb.text);
      return byGenre != 0 ? byGenre : CompareUtf16(a.artistKey, b.artistKey);
    }
    default: return SortSign(va.number, vb.number);
  }
}

// One shown file as the sort sees it, its values side by side so that comparing touches no
// file: cache misses on the files, not comparisons, are what a sort of many rows costs.
struct SortEntry {
  uint64_t prefix = 0;  // the first four characters of `first` as UTF-16 units, in order
  double number = 0.0;
  std::wstring_view first{}, second{};  // text keys and their tie-breaks
  int index = 0;
  bool astral = false;  // a text holds a character above U+FFFF
};

constexpr wchar_t kFirstAstral = 0x10000;

bool HasAstral(std::wstring_view text) {
  wchar_t highest = 0;
  for (wchar_t c : text) highest = std::max(highest, c);
  return highest >= kFirstAstral;
}

// CompareUtf16, through the C library's vector compare when neither text has a character above
// U+FFFF: code point order is UTF-16 order then.
int CompareTexts(std::wstring_view a, std::wstring_view b, bool astral) {
  if (astral) return CompareUtf16(a, b);
  const int order = a.compare(b);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

uint64_t TextPrefix(std::wstring_view text) {
  constexpr size_t kPrefixChars = 4;
  constexpr uint32_t kHighSurrogates = 0xD800;
  constexpr int kSurrogateBits = 10;
  uint64_t prefix = 0;
  for (size_t i = 0; i < kPrefixChars; ++i) {
    uint32_t unit = 0;
    if (i < text.size()) {
      const uint32_t c = static_cast<uint32_t>(text[i]);
      const uint32_t astral = static_cast<uint32_t>(kFirstAstral);
      unit = c < astral ? c : kHighSurrogates + ((c - astral) >> kSurrogateBits);
    }
    prefix = prefix << 16 | unit;
  }
  return prefix;
}

// Sorts `order` (indices into ViewItems) by the column; equal files keep their order in ViewItems.
void SortByValues(std::vector<int>& order, int column, bool ascending) {
  const bool text = column == kSortTitle || column == kSortArtist || column == kSortKey || column == kSortGenre;
  std::vector<SortEntry> entries(order.size());
  // The compared texts side by side in one buffer, so comparisons read nearby memory.
  std::wstring pool;
  pool.reserve(text ? order.size() * 24 : 0);
  std::vector<std::pair<size_t, size_t>> lengths(text ? order.size() : 0);
  for (size_t k = 0; k < order.size(); ++k) {
    const int i = order[k];
    const LibraryFile& file = ViewItems[static_cast<size_t>(i)];
    entries[k].index = i;
    if (!text) {
      entries[k].number = ValueOf(file, column).number;
      continue;
    }
    const auto append = [&](std::wstring_view first, std::wstring_view second) {
      lengths[k] = {first.size(), second.size()};
      pool += first;
      pool += second;
    };
    switch (column) {
      case kSortTitle: append(file.titleKey, {}); break;
      case kSortArtist: append(file.artistKey, file.titleKey); break;
      case kSortKey: append(ValueOf(file, column).text, {}); break;
      default: append(LowerText(file.genre), file.artistKey); break;  // genre
    }
  }
  size_t at = 0;
  for (size_t k = 0; k < lengths.size(); ++k) {
    const std::wstring_view all(pool);
    entries[k].first = all.substr(at, lengths[k].first);
    entries[k].second = all.substr(at + lengths[k].first, lengths[k].second);
    entries[k].prefix = TextPrefix(entries[k].first);
    entries[k].astral = HasAstral(all.substr(at, lengths[k].first + lengths[k].second));
    at += lengths[k].first + lengths[k].second;
  }
  std::sort(entries.begin(), entries.end(), [text, ascending](const SortEntry& a, const SortEntry& b) {
    int order = 0;
    if (text) {
      const bool astral = a.astral || b.astral;
      order = a.prefix != b.prefix ? (a.prefix < b.prefix ? -1 : 1) : CompareTexts(a.first, b.first, astral);
      if (order == 0) order = CompareTexts(a.second, b.second, astral);
    } else {
      order = SortSign(a.number, b.number);
    }
    if (order != 0) return ascending ? order < 0 : order > 0;
    return a.index < b.index;
  });
  for (size_t row = 0; row < entries.size(); ++row) order[row] = entries[row].index;
}


// Text sort keys ranked once over all files, so that each rebuild sorts shown rows by number.
// A file's rank holds while its stamp is the current one: a file replaced or added carries
// another stamp, and any such file among the shown ranks all files again.
uint32_t RankStamp = 0;
int RankedColumn = kSortSourceOrder;

bool RankedByText(int column) { return column == kSortTitle || column == kSortArtist || column == kSortGenre; }

void RankAllFiles(int column) {
  std::vector<int> all(ViewItems.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
  SortByValues(all, column, true);
  ++RankStamp;
  RankedColumn = column;
  uint32_t rank = 0;
  for (size_t k = 0; k < all.size(); ++k) {
    LibraryFile& file = ViewItems[static_cast<size_t>(all[k])];
    if (k > 0 && CompareTracks(ViewItems[static_cast<size_t>(all[k - 1])], file, column) != 0) ++rank;
    file.sortRank = rank, file.sortRankStamp = RankStamp;
  }
}

}  // namespace

bool InSortRange(int column) { return column >= 0 && column <= kLastSortKey; }

bool SortReadsRecords(int column) {
  return column != kSortTitle && column != kSortArtist && column != kSortLength && column != kSortGenre &&
         column != kSortDateAdded;
}

int CompareTracks(const LibraryFile& a, const LibraryFile& b, int column) {
  if (!InSortRange(column)) return 0;
  return CompareValues(a, ValueOf(a, column), b, ValueOf(b, column), column);
}

void SortShown(int column, bool ascending) {
  const auto stale = [column](int i) {
    return RankStamp == 0 || RankedColumn != column || ViewItems[static_cast<size_t>(i)].sortRankStamp != RankStamp;
  };
  const bool ranked = RankedByText(column) && !std::any_of(ViewOrder.begin(), ViewOrder.end(), stale);
  // While a scan adds files, ranking them all on each batch would cost more than sorting the shown.
  if (!ranked && (!RankedByText(column) || ViewOrder.empty() || Scanning)) {
    SortByValues(ViewOrder, column, ascending);
    return;
  }
  if (!ranked) RankAllFiles(column);
  // Ranks lie below the number of files: over many rows in scan order a counting sort by rank is
  // linear, and keeps scan order within a rank.
  constexpr size_t kRowsPerCountedFile = 8;
  if (ViewOrder.size() * kRowsPerCountedFile >= ViewItems.size() && std::is_sorted(ViewOrder.begin(), ViewOrder.end())) {
    const size_t ranks = ViewItems.size();
    const auto slot = [&](int i) {
      const uint32_t rank = ViewItems[static_cast<size_t>(i)].sortRank;
      return ascending ? rank : static_cast<uint32_t>(ranks - 1 - rank);
    };
    std::vector<uint32_t> next(ranks + 1, 0);
    for (int i : ViewOrder) ++next[slot(i) + 1];
    for (size_t r = 1; r <= ranks; ++r) next[r] += next[r - 1];
    std::vector<int> sorted(ViewOrder.size());
    for (int i : ViewOrder) sorted[next[slot(i)]++] = i;
    ViewOrder.swap(sorted);
    return;
  }
  constexpr int kIndexBits = 32;
  std::vector<uint64_t> keys(ViewOrder.size());
  for (size_t k = 0; k < keys.size(); ++k) {
    const uint32_t rank = ViewItems[static_cast<size_t>(ViewOrder[k])].sortRank;
    keys[k] = static_cast<uint64_t>(ascending ? rank : ~rank) << kIndexBits | static_cast<uint32_t>(ViewOrder[k]);
  }
  std::sort(keys.begin(), keys.end());
  for (size_t k = 0; k < keys.size(); ++k) ViewOrder[k] = static_cast<int>(static_cast<uint32_t>(keys[k]));
}
