#include "library/track_sort.h"

#include <algorithm>
#include <array>
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
#include "platform/paths.h"

namespace {

constexpr int kLastSortKey = kSortColour;
constexpr int kLastColourIndex = 8;

int SortSign(double a, double b) { return a < b ? -1 : (a > b ? 1 : 0); }

// The compared value of one file for the sort of this rebuild, taken once per file so the sort
// itself never looks up records.
struct SortValue {
  double number = 0.0;
  std::wstring text;   // the genre's text key
};

// A key's Camelot name ordered as text among the others, as a number; an unknown key's empty name
// comes first.
double KeyNamePlace(int32_t key) {
  static const std::array<int, kKeyCount> places = [] {
    std::array<int32_t, kKeyCount> keys{};
    for (int32_t k = 0; k < kKeyCount; ++k) keys[static_cast<size_t>(k)] = k;
    std::sort(keys.begin(), keys.end(),
              [](int32_t a, int32_t b) { return CompareUtf16(KeyName(a, true), KeyName(b, true)) < 0; });
    std::array<int, kKeyCount> place{};
    for (size_t p = 0; p < keys.size(); ++p) place[static_cast<size_t>(keys[p])] = static_cast<int>(p);
    return place;
  }();
  return key >= 0 && key < kKeyCount ? 1.0 + places[static_cast<size_t>(key)] : 0.0;
}

SortValue ValueOf(const LibraryFile& file, const TrackInfo* record, int column) {
  SortValue value;
  switch (column) {
    case kSortBpm: value.number = record ? record->bpm : 0.0; break;
    case kSortKey: value.number = record ? KeyNamePlace(record->key) : 0.0; break;
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

SortValue ValueOf(const LibraryFile& file, int column) {
  return ValueOf(file, SortReadsRecords(column) ? FindTrackInfo(file.path) : nullptr, column);
}

// The records of the files at `order`, looked up together; path hashes not yet worked out (by
// the scan) are worked out and kept.
std::vector<const TrackInfo*> RecordsOf(const std::vector<int>& order) {
  const auto fileAt = [&](size_t k) -> LibraryFile& { return ViewItems[static_cast<size_t>(order[k])]; };
  std::vector<std::wstring> otherKeys;  // only where keys differ from paths
  if constexpr (!kPathKeyIsPath)
    for (size_t k = 0; k < order.size(); ++k) otherKeys.push_back(PathKey(fileAt(k).path));
  std::vector<HashedPathKey> keys(order.size());
  std::vector<size_t> unhashed;
  for (size_t k = 0; k < keys.size(); ++k) {
    keys[k] = HashedPathKey{kPathKeyIsPath ? std::wstring_view(fileAt(k).path) : otherKeys[k], fileAt(k).pathHash};
    if (keys[k].hash == 0) unhashed.push_back(k);
  }
  if (!unhashed.empty()) {
    std::vector<std::wstring_view> texts(unhashed.size());
    for (size_t u = 0; u < unhashed.size(); ++u) texts[u] = keys[unhashed[u]].key;
    std::vector<uint64_t> hashes(texts.size());
    Fnv1aPathHashes(texts, hashes.data());
    for (size_t u = 0; u < unhashed.size(); ++u) {
      keys[unhashed[u]].hash = static_cast<size_t>(hashes[u]);
      fileAt(unhashed[u]).pathHash = hashes[u];
    }
  }
  std::vector<const TrackInfo*> records(keys.size());
  FindHashedTrackInfos(keys, records.data());
  return records;
}

int CompareValues(const LibraryFile& a, const SortValue& va, const LibraryFile& b, const SortValue& vb, int column) {
  switch (column) {
    case kSortTitle: return CompareUtf16(a.titleKey, b.titleKey);
    case kSortArtist: {
      const int byArtist = CompareUtf16(a.artistKey, b.artistKey);
      return byArtist != 0 ? byArtist : CompareUtf16(a.titleKey, b.titleKey);
    }
    case kSortGenre: {
      const int byGenre = CompareUtf16(va.text, vb.text);
      return byGenre != 0 ? byGenre : CompareUtf16(a.artistKey, b.artistKey);
    }
    default: return SortSign(va.number, vb.number);
  }
}

// One shown file as a text sort sees it, its texts side by side so that comparing touches no
// file: cache misses on the files, not comparisons, are what a sort of many rows costs.
struct SortEntry {
  uint64_t prefix = 0;  // the first four characters of `first` as UTF-16 units, in order
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

// Text sort keys ranked once per column over all files, so that each rebuild sorts shown rows by
// number and a click back on a column sorted before compares no text. A file's rank of a column
// holds while its stamp is that column's current one: a file replaced or added carries another
// stamp, and any such file among the shown ranks all files again by that column alone.
uint32_t RankStamps[kRankedSortColumns] = {};

bool RankedByText(int column) { return column == kSortTitle || column == kSortArtist || column == kSortGenre; }

size_t RankSlot(int column) { return column == kSortTitle ? 0 : (column == kSortArtist ? 1 : 2); }

// The files at `order` sorted by a text column into entries; equal files keep their order in
// ViewItems. The compared texts lie side by side in the pool, so comparisons read nearby memory.
struct SortedTexts {
  std::wstring pool;
  std::vector<SortEntry> entries;
};

void SortTexts(const std::vector<int>& order, int column, bool ascending, SortedTexts* sorted) {
  std::vector<SortEntry>& entries = sorted->entries;
  std::wstring& pool = sorted->pool;
  entries.assign(order.size(), SortEntry{});
  pool.reserve(order.size() * 24);
  std::vector<std::pair<size_t, size_t>> lengths(order.size());
  for (size_t k = 0; k < order.size(); ++k) {
    const int i = order[k];
    const LibraryFile& file = ViewItems[static_cast<size_t>(i)];
    entries[k].index = i;
    const auto append = [&](std::wstring_view first, std::wstring_view second) {
      lengths[k] = {first.size(), second.size()};
      pool += first;
      pool += second;
    };
    switch (column) {
      case kSortTitle: append(file.titleKey, {}); break;
      case kSortArtist: append(file.artistKey, file.titleKey); break;
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
  std::sort(entries.begin(), entries.end(), [ascending](const SortEntry& a, const SortEntry& b) {
    const bool astral = a.astral || b.astral;
    int order = a.prefix != b.prefix ? (a.prefix < b.prefix ? -1 : 1) : CompareTexts(a.first, b.first, astral);
    if (order == 0) order = CompareTexts(a.second, b.second, astral);
    if (order != 0) return ascending ? order < 0 : order > 0;
    return a.index < b.index;
  });
}

// Sorts `order` (indices into ViewItems) by the column; equal files keep their order in ViewItems.
// Numbers are sorted as (value, index) pairs, which move little memory, their records looked up
// together first.
void SortByValues(std::vector<int>& order, int column, bool ascending) {
  if (RankedByText(column)) {
    SortedTexts sorted;
    SortTexts(order, column, ascending, &sorted);
    for (size_t row = 0; row < order.size(); ++row) order[row] = sorted.entries[row].index;
    return;
  }
  const std::vector<const TrackInfo*> records =
      SortReadsRecords(column) ? RecordsOf(order) : std::vector<const TrackInfo*>(order.size(), nullptr);
  struct Numbered {
    double number;
    int index;
  };
  std::vector<Numbered> rows(order.size());
  for (size_t k = 0; k < rows.size(); ++k)
    rows[k] = {ValueOf(ViewItems[static_cast<size_t>(order[k])], records[k], column).number, order[k]};
  std::sort(rows.begin(), rows.end(), [ascending](const Numbered& a, const Numbered& b) {
    if (a.number != b.number) return ascending ? a.number < b.number : a.number > b.number;
    return a.index < b.index;
  });
  for (size_t row = 0; row < rows.size(); ++row) order[row] = rows[row].index;
}

void RankAllFiles(int column) {
  std::vector<int> all(ViewItems.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
  SortedTexts sorted;
  SortTexts(all, column, true, &sorted);
  const size_t slot = RankSlot(column);
  const uint32_t stamp = ++RankStamps[slot];
  uint32_t rank = 0;
  const std::vector<SortEntry>& entries = sorted.entries;
  for (size_t k = 0; k < entries.size(); ++k) {
    if (k > 0 && (entries[k].first != entries[k - 1].first || entries[k].second != entries[k - 1].second)) ++rank;
    LibraryFile& file = ViewItems[static_cast<size_t>(entries[k].index)];
    file.sortRank[slot] = rank, file.sortRankStamp[slot] = stamp;
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
  const size_t slot = RankSlot(column);
  const auto stale = [slot](int i) {
    return RankStamps[slot] == 0 || ViewItems[static_cast<size_t>(i)].sortRankStamp[slot] != RankStamps[slot];
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
    const auto place = [&](int i) {
      const uint32_t rank = ViewItems[static_cast<size_t>(i)].sortRank[slot];
      return ascending ? rank : static_cast<uint32_t>(ranks - 1 - rank);
    };
    std::vector<uint32_t> next(ranks + 1, 0);
    for (int i : ViewOrder) ++next[place(i) + 1];
    for (size_t r = 1; r <= ranks; ++r) next[r] += next[r - 1];
    std::vector<int> sorted(ViewOrder.size());
    for (int i : ViewOrder) sorted[next[place(i)]++] = i;
    ViewOrder.swap(sorted);
    return;
  }
  constexpr int kIndexBits = 32;
  std::vector<uint64_t> keys(ViewOrder.size());
  for (size_t k = 0; k < keys.size(); ++k) {
    const uint32_t rank = ViewItems[static_cast<size_t>(ViewOrder[k])].sortRank[slot];
    keys[k] = static_cast<uint64_t>(ascending ? rank : ~rank) << kIndexBits | static_cast<uint32_t>(ViewOrder[k]);
  }
  std::sort(keys.begin(), keys.end());
  for (size_t k = 0; k < keys.size(); ++k) ViewOrder[k] = static_cast<int>(static_cast<uint32_t>(keys[k]));
}
