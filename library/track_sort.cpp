#include "library/track_sort.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
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
// Gathering reads the files (UI thread); sorting reads only the pool, so it may run anywhere.
struct SortedTexts {
  std::wstring pool;
  std::vector<SortEntry> entries;
  std::vector<std::pair<size_t, size_t>> lengths;  // of each entry's two texts in the pool, until sorted
  bool lowerFirst = false;  // the first texts are lowered when sorted
};

// Gathers the texts of the files at order[from, to) into entries from..to (sized for all of
// `order` first). A genre is copied as it is and lowered when sorted (lowerFirst).
void GatherTexts(const std::vector<int>& order, int column, size_t from, size_t to, SortedTexts* sorted) {
  std::vector<SortEntry>& entries = sorted->entries;
  std::wstring& pool = sorted->pool;
  std::vector<std::pair<size_t, size_t>>& lengths = sorted->lengths;
  if (from == 0) {
    entries.assign(order.size(), SortEntry{});
    lengths.assign(order.size(), {});
    pool.reserve(order.size() * 24);
    sorted->lowerFirst = column == kSortGenre;
  }
  for (size_t k = from; k < to; ++k) {
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
      default: append(file.genre, file.artistKey); break;  // genre
    }
  }
}

void SortGatheredTexts(bool ascending, SortedTexts* sorted) {
  std::vector<SortEntry>& entries = sorted->entries;
  const std::wstring_view all(sorted->pool);
  size_t at = 0;
  for (size_t k = 0; k < entries.size(); ++k) {
    const auto [first, second] = sorted->lengths[k];
    if (sorted->lowerFirst) {
      const std::wstring lower = LowerText(all.substr(at, first));  // keeps the length
      std::copy(lower.begin(), lower.end(), sorted->pool.begin() + static_cast<ptrdiff_t>(at));
    }
    entries[k].first = all.substr(at, first);
    entries[k].second = all.substr(at + first, second);
    entries[k].prefix = TextPrefix(entries[k].first);
    entries[k].astral = HasAstral(all.substr(at, first + second));
    at += first + second;
  }
  sorted->lengths = {};
  std::sort(entries.begin(), entries.end(), [ascending](const SortEntry& a, const SortEntry& b) {
    const bool astral = a.astral || b.astral;
    int order = a.prefix != b.prefix ? (a.prefix < b.prefix ? -1 : 1) : CompareTexts(a.first, b.first, astral);
    if (order == 0) order = CompareTexts(a.second, b.second, astral);
    if (order != 0) return ascending ? order < 0 : order > 0;
    return a.index < b.index;
  });
}

void SortTexts(const std::vector<int>& order, int column, bool ascending, SortedTexts* sorted) {
  GatherTexts(order, column, 0, order.size(), sorted);
  SortGatheredTexts(ascending, sorted);
}

// Hands each file of entries sorted ascending its rank: files with equal texts share one.
template <typename Put>
void RankSortedEntries(const std::vector<SortEntry>& entries, Put put) {
  uint32_t rank = 0;
  for (size_t k = 0; k < entries.size(); ++k) {
    if (k > 0 && (entries[k].first != entries[k - 1].first || entries[k].second != entries[k - 1].second)) ++rank;
    put(entries[k].index, rank);
  }
}

// Sorts `order` (indices into files) by the files' ranks, each below `ranks`; equal ranks keep
// scan order. Over many rows in scan order a counting sort by rank is linear.
template <typename RankOf>
void OrderByRanks(std::vector<int>& order, size_t ranks, bool ascending, RankOf rankOf) {
  constexpr size_t kRowsPerCountedFile = 8;
  if (order.size() * kRowsPerCountedFile >= ranks && std::is_sorted(order.begin(), order.end())) {
    const auto place = [&](int i) {
      const uint32_t rank = rankOf(i);
      return ascending ? rank : static_cast<uint32_t>(ranks - 1 - rank);
    };
    std::vector<uint32_t> next(ranks + 1, 0);
    for (int i : order) ++next[place(i) + 1];
    for (size_t r = 1; r <= ranks; ++r) next[r] += next[r - 1];
    std::vector<int> sorted(order.size());
    for (int i : order) sorted[next[place(i)]++] = i;
    order.swap(sorted);
    return;
  }
  constexpr int kIndexBits = 32;
  std::vector<uint64_t> keys(order.size());
  for (size_t k = 0; k < keys.size(); ++k) {
    const uint32_t rank = rankOf(order[k]);
    keys[k] = static_cast<uint64_t>(ascending ? rank : ~rank) << kIndexBits | static_cast<uint32_t>(order[k]);
  }
  std::sort(keys.begin(), keys.end());
  for (size_t k = 0; k < keys.size(); ++k) order[k] = static_cast<int>(static_cast<uint32_t>(keys[k]));
}

// A shown file's number for a sort by a column other than the text ones.
struct Numbered {
  double number;
  int index;
};

// The numbers of the files at order[from, to) for the column into rows from..to, their records
// looked up together first.
void GatherNumbers(const std::vector<int>& order, int column, size_t from, size_t to, std::vector<Numbered>* rows) {
  if (from == 0) rows->assign(order.size(), Numbered{});
  const std::vector<int> some(order.begin() + static_cast<ptrdiff_t>(from), order.begin() + static_cast<ptrdiff_t>(to));
  const std::vector<const TrackInfo*> records =
      SortReadsRecords(column) ? RecordsOf(some) : std::vector<const TrackInfo*>(some.size(), nullptr);
  for (size_t k = 0; k < some.size(); ++k)
    (*rows)[from + k] = {ValueOf(ViewItems[static_cast<size_t>(some[k])], records[k], column).number, some[k]};
}

// (value, index) pairs move little memory; equal values keep scan order.
void SortNumbers(std::vector<Numbered>& rows, bool ascending, std::vector<int>* order) {
  std::sort(rows.begin(), rows.end(), [ascending](const Numbered& a, const Numbered& b) {
    if (a.number != b.number) return ascending ? a.number < b.number : a.number > b.number;
    return a.index < b.index;
  });
  order->resize(rows.size());
  for (size_t row = 0; row < rows.size(); ++row) (*order)[row] = rows[row].index;
}

// Sorts `order` (indices into ViewItems) by the column; equal files keep their order in ViewItems.
void SortByValues(std::vector<int>& order, int column, bool ascending) {
  if (RankedByText(column)) {
    SortedTexts sorted;
    SortTexts(order, column, ascending, &sorted);
    for (size_t row = 0; row < order.size(); ++row) order[row] = sorted.entries[row].index;
    return;
  }
  std::vector<Numbered> rows;
  GatherNumbers(order, column, 0, order.size(), &rows);
  SortNumbers(rows, ascending, &order);
}

// Keeps ranks by the column for every file, under a new stamp.
template <typename RankOf>
void KeepRanks(int column, RankOf rankOf) {
  const size_t slot = RankSlot(column);
  const uint32_t stamp = ++RankStamps[slot];
  for (size_t i = 0; i < ViewItems.size(); ++i) {
    LibraryFile& file = ViewItems[i];
    file.sortRank[slot] = rankOf(i), file.sortRankStamp[slot] = stamp;
  }
}

void RankAllFiles(int column) {
  std::vector<int> all(ViewItems.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
  SortedTexts sorted;
  SortTexts(all, column, true, &sorted);
  std::vector<uint32_t> ranks(ViewItems.size());
  RankSortedEntries(sorted.entries, [&](int i, uint32_t rank) { ranks[static_cast<size_t>(i)] = rank; });
  KeepRanks(column, [&](size_t i) { return ranks[i]; });
}

bool ShownRanked(int column) {
  const size_t slot = RankSlot(column);
  const auto stale = [slot](int i) {
    return RankStamps[slot] == 0 || ViewItems[static_cast<size_t>(i)].sortRankStamp[slot] != RankStamps[slot];
  };
  return RankedByText(column) && !std::any_of(ViewOrder.begin(), ViewOrder.end(), stale);
}

// ---- sorting on a worker ----

// What a worker needs to sort the shown rows, copied from the view so that it reads nothing the
// UI thread owns, and what it hands back. The copy is gathered a slice per tick, so that no frame
// waits for all of it; the worker starts once it is whole.
struct WorkerSort {
  int column = kSortTitle;
  bool ascending = true;
  size_t files = 0;            // ViewItems' size when it started
  std::vector<int> rows;       // the shown rows; sorted when done
  std::vector<int> sources;    // the files gathered: every file for a text column, else the rows
  size_t gathered = 0;         // of sources
  SortedTexts texts;           // a text column: every file's texts
  std::vector<Numbered> numbers;  // another column: the shown rows' values
  std::vector<uint32_t> ranks;    // a text column: every file's rank, when done
  bool started = false;
  std::atomic<bool> dropped{false};
  std::atomic<bool> done{false};
};

std::shared_ptr<WorkerSort> PendingSort;

void RunWorkerSort(const std::shared_ptr<WorkerSort>& job) {
  if (!job->dropped.load(std::memory_order_relaxed)) {
    if (RankedByText(job->column)) {
      SortGatheredTexts(true, &job->texts);
      job->ranks.assign(job->files, 0);
      RankSortedEntries(job->texts.entries, [&](int i, uint32_t rank) { job->ranks[static_cast<size_t>(i)] = rank; });
      job->texts = SortedTexts{};
      OrderByRanks(job->rows, job->files, job->ascending, [&](int i) { return job->ranks[static_cast<size_t>(i)]; });
    } else {
      SortNumbers(job->numbers, job->ascending, &job->rows);
      job->numbers = {};
    }
  }
  job->done.store(true, std::memory_order_release);
}

}  // namespace

void StartSortThread(std::function<void()> work) { std::thread(std::move(work)).detach(); }

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
  const bool ranked = ShownRanked(column);
  // While a scan adds files, ranking them all on each batch would cost more than sorting the shown.
  if (!ranked && (!RankedByText(column) || ViewOrder.empty() || Scanning)) {
    SortByValues(ViewOrder, column, ascending);
    return;
  }
  if (!ranked) RankAllFiles(column);
  const size_t slot = RankSlot(column);
  OrderByRanks(ViewOrder, ViewItems.size(), ascending,
               [slot](int i) { return ViewItems[static_cast<size_t>(i)].sortRank[slot]; });
}

size_t SortRowsPerTick = 16384;
SortWorkerStarter StartSortWorkerHook = StartSortThread;

bool SortWantsWorker(int column) {
  return InSortRange(column) && ViewOrder.size() > SortRowsPerTick && !ShownRanked(column);
}

namespace {

// Gathers the next slice of the pending sort's copy; the worker starts once it is whole.
void GatherSlice() {
  WorkerSort& job = *PendingSort;
  // Numbers of the files alone (length, date) are copied in one go: no record is looked up.
  const bool slow = RankedByText(job.column) || SortReadsRecords(job.column);
  const size_t from = job.gathered, to = std::min(job.sources.size(), from + (slow ? SortRowsPerTick : job.sources.size()));
  if (RankedByText(job.column)) GatherTexts(job.sources, job.column, from, to, &job.texts);
  else GatherNumbers(job.sources, job.column, from, to, &job.numbers);
  job.gathered = to;
  if (to < job.sources.size()) return;
  job.started = true;
  job.sources = {};
  StartSortWorkerHook([job = PendingSort] { RunWorkerSort(job); });
}

}  // namespace

void StartWorkerSort(int column, bool ascending) {
  DropWorkerSort();
  auto job = std::make_shared<WorkerSort>();
  job->column = column, job->ascending = ascending, job->files = ViewItems.size(), job->rows = ViewOrder;
  if (RankedByText(column)) {
    job->sources.resize(ViewItems.size());
    for (size_t i = 0; i < job->sources.size(); ++i) job->sources[i] = static_cast<int>(i);
  } else {
    job->sources = ViewOrder;
  }
  PendingSort = std::move(job);
  GatherSlice();
}

bool WorkerSortPending() { return PendingSort != nullptr; }

void DropWorkerSort() {
  if (PendingSort) PendingSort->dropped.store(true, std::memory_order_relaxed);
  PendingSort.reset();
}

bool TakeWorkerSort() {
  if (!PendingSort) return false;
  if (!PendingSort->started) {
    GatherSlice();
    return false;
  }
  if (!PendingSort->done.load(std::memory_order_acquire)) return false;
  const std::shared_ptr<WorkerSort> job = std::move(PendingSort);
  PendingSort.reset();
  // Whatever changed the files, the rows or the sort since went through RebuildView, which drops
  // the worker's sort; this holds as a last guard.
  if (job->column != SortColumn || job->ascending != SortAscending || job->files != ViewItems.size() ||
      job->rows.size() != ViewOrder.size())
    return false;
  if (RankedByText(job->column)) KeepRanks(job->column, [&](size_t i) { return job->ranks[i]; });
  ViewOrder = std::move(job->rows);
  return true;
}
