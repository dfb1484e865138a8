#include "library/track_view.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <mutex>

#include "base/musical_keys.h"
#include "base/settings.h"
#include "base/text_parse.h"
#include "base/track_info.h"
#include "engine/deck_commands.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/side_slots.h"
#include "library/crates.h"
#include "library/folder_scan.h"
#include "library/now_playing.h"
#include "library/search_filter.h"
#include "library/track_lists.h"
#include "library/track_sort.h"
#include "platform/paths.h"

int ViewKind = kViewFolder;
int ViewIndex = 0;
std::vector<LibraryFile> ViewItems;
std::vector<int> ViewOrder;
int Selection = -1;
int ScrollRow = 0;
int VisibleRows = 1;
int SortColumn = kSortSourceOrder;
bool SortAscending = true;
std::wstring SearchText;
std::wstring CrateSearch;
bool MatchDeck = false;
bool Scanning = false;
std::atomic<uint32_t> ScanGeneration{0};
bool SearchFocused = false;
std::vector<std::wstring> MusicFolders;
ScanWorkerStarter StartScanWorkerHook = nullptr;

namespace {

constexpr double kMatchTempoTolerance = 0.06;  // 6 % either way, at half, same or double tempo
constexpr int32_t kMatchKeyDistance = 1;

// The on-air deck (-1 none) with the tempo and sounding key that MATCH filters by.
struct MatchTarget {
  int deck = -1;
  double bpm = 0.0;
  int32_t key = kKeyUnknown;
};

bool MixesWith(const LibraryFile& file, const TrackInfo* record, const MatchTarget& target) {
  if (!record || !record->analyzed || !(record->bpm > 0.0) || !(target.bpm > 0.0)) return false;
  bool tempoFits = false;
  for (double ratio : {0.5, 1.0, 2.0})
    tempoFits = tempoFits || std::abs(record->bpm * ratio / target.bpm - 1.0) <= kMatchTempoTolerance;
  if (!tempoFits) return false;
  if (target.key >= 0 && KeyDistance(record->key, target.key) > kMatchKeyDistance) return false;
  const TrackPtr& loaded = DeckSnapshots[target.deck].track;
  return !(loaded && loaded->path == file.path);
}

// Every record's own tags, lower case, read once after each full rebuild began (a change of any
// record's tags rebuilds in full). Over a view much smaller than the library the lookups of the
// rows' own records are cheaper than visiting every record: the tags are not read (known false).
struct OwnTagsSeen {
  bool read = false, known = false;
  size_t viewFiles = 0;
  std::vector<std::wstring> tags{};
};
OwnTagsSeen OwnTags;

void ForgetOwnTags(size_t viewFiles) { OwnTags = OwnTagsSeen{.viewFiles = viewFiles}; }

// For each word, whether any record's own tags hold it (every word counts as held while the tags
// are not known). A file whose text lacks a word no tags hold cannot match, so its record need not
// be looked up.
std::vector<bool> WordsInSomeOwnTags(const std::vector<std::wstring>& words) {
  constexpr size_t kRecordsPerLookup = 4;  // a record visited costs about a quarter of a lookup
  if (!words.empty() && !OwnTags.read) {
    OwnTags.read = true;
    OwnTags.known = OwnTags.viewFiles * kRecordsPerLookup >= TrackLibrary.size();
    if (OwnTags.known)
      for (const auto& [key, record] : TrackLibrary)
        if (!record.myTags.empty()) OwnTags.tags.push_back(LowerText(record.myTags));
  }
  std::vector<bool> held(words.size(), !OwnTags.known);
  if (!OwnTags.known) return held;
  for (size_t w = 0; w < words.size(); ++w)
    held[w] = std::any_of(OwnTags.tags.begin(), OwnTags.tags.end(),
                          [&](const std::wstring& tags) { return tags.find(words[w]) != std::wstring::npos; });
  return held;
}

// Whether the file is shown under the search and MATCH. Looking a record up costs a hash of the
// path: only when a condition needs it or a word is not in the file's own text but could be in its
// record's own tags (inSomeTags).
bool PassesFilter(LibraryFile& file, const CompiledSearch& search, const std::vector<bool>& inSomeTags,
                  const MatchTarget& target) {
  if (file.searchBytes.empty() && !file.searchText.empty()) file.searchBytes = SearchBytes(file.searchText);
  bool wordsFound = true;
  for (size_t w = 0; w < search.words.size(); ++w) {
    if (HasBytes(file.searchBytes, search.wordBytes[w])) continue;
    if (!inSomeTags[w]) return false;
    wordsFound = false;
  }
  const bool needRecord = !search.predicates.empty() || target.deck >= 0;
  const TrackInfo* record = needRecord || !wordsFound ? FindTrackInfo(file.path) : nullptr;
  if (wordsFound ? !ConditionsHold(search, record) : !MatchesSearch(search, file, record)) return false;
  return target.deck < 0 || MixesWith(file, record, target);
}

// What the last full rebuild filtered and sorted by. While a scan only appends files and neither
// the search nor the sort changed, its batches merge into the order: the same rows as a rebuild
// when the filter and sort read no record but for own tags, whose every change rebuilds the view.
struct RebuildInputs {
  bool mergeable = false;
  std::wstring crateSearch, searchText;
  int column = kSortSourceOrder;
  bool ascending = true;
  size_t files = 0;    // ViewItems filtered
  size_t records = 0;  // TrackLibrary's size then
};
RebuildInputs LastRebuild;

bool CanMergeAfter(size_t filesBefore) {
  const RebuildInputs& last = LastRebuild;
  return last.mergeable && !MatchDeck && last.files == filesBefore && ViewOrder.size() <= filesBefore &&
         last.records == TrackLibrary.size() && last.column == SortColumn && last.ascending == SortAscending &&
         last.searchText == SearchText && last.crateSearch == CrateSearch;
}

// The rows of searches shown since the last full rebuild, each what a full search for its words
// gave, which holds while the view stays as that rebuild left it: the same files, records, crate
// and sort, no conditions, no MATCH (any change of those rebuilds in full and forgets them). A
// search whose every word holds a kept search's words shows a subset of its rows in their order,
// so only those rows need filtering (typing on); a search shown before takes its rows back
// (Backspace).
struct KeptSearch {
  std::vector<std::wstring> words;  // compiled, the crate's included
  std::vector<int> rows;
  uint64_t used = 0;
};
constexpr size_t kMaxKeptSearches = 32;
std::vector<KeptSearch> Kept;
uint64_t KeptClock = 0;

bool SameView(const CompiledSearch& search) {
  const RebuildInputs& last = LastRebuild;
  return !Kept.empty() && last.mergeable && !MatchDeck && last.files == ViewItems.size() &&
         ViewOrder.size() <= last.files && last.records == TrackLibrary.size() && last.column == SortColumn &&
         last.ascending == SortAscending && last.crateSearch == CrateSearch && last.searchText != SearchText &&
         search.predicates.empty();
}

// Every word of `kept` lies inside a word of `words`: a file they match, it matches.
bool Holds(const std::vector<std::wstring>& words, const std::vector<std::wstring>& kept) {
  return std::all_of(kept.begin(), kept.end(), [&](const std::wstring& old) {
    return std::any_of(words.begin(), words.end(),
                       [&](const std::wstring& word) { return word.find(old) != std::wstring::npos; });
  });
}

// Keeps the shown rows under the search's words, dropping the least recently used search but
// never the widest one.
void KeepShownRows(const std::vector<std::wstring>& words) {
  if (Kept.size() >= kMaxKeptSearches) {
    const auto widest = std::max_element(Kept.begin(), Kept.end(), [](const KeptSearch& a, const KeptSearch& b) {
      return a.rows.size() < b.rows.size();
    });
    auto oldest = Kept.end();
    for (auto k = Kept.begin(); k != Kept.end(); ++k)
      if (k != widest && (oldest == Kept.end() || k->used < oldest->used)) oldest = k;
    Kept.erase(oldest);
  }
  Kept.push_back(KeptSearch{.words = words, .rows = ViewOrder, .used = ++KeptClock});
}

// The rows of `from` that the search's words not among its own keep, in their order, into
// ViewOrder. The files are visited in scan order, which reads memory in sequence (the display
// order jumps about a large collection).
void FilterKeptRows(const KeptSearch& from, const CompiledSearch& search, const MatchTarget& target) {
  CompiledSearch added;
  for (size_t w = 0; w < search.words.size(); ++w) {
    if (std::find(from.words.begin(), from.words.end(), search.words[w]) != from.words.end()) continue;
    added.words.push_back(search.words[w]);
    added.wordBytes.push_back(search.wordBytes[w]);
  }
  ViewOrder = from.rows;
  if (added.words.empty()) return;
  const std::vector<bool> inSomeTags = WordsInSomeOwnTags(added.words);
  std::vector<uint8_t> kept(ViewItems.size(), 0);
  for (int i : ViewOrder) kept[static_cast<size_t>(i)] = 1;
  for (size_t i = 0; i < ViewItems.size(); ++i)
    if (kept[i] && !PassesFilter(ViewItems[i], added, inSomeTags, target)) kept[i] = 0;
  std::erase_if(ViewOrder, [&](int i) { return !kept[static_cast<size_t>(i)]; });
}

void FilterAndSort(const CompiledSearch& search, const MatchTarget& target);

// Shows the search from the kept rows when the view is unchanged: a search shown before, else the
// fewest kept rows that hold it filtered by it, else the unsearched rows (the crate's alone),
// kept first so that every later search in this view finds them. False when the view changed.
bool ShowFromKeptRows(const CompiledSearch& search, const MatchTarget& target) {
  if (!SameView(search)) return false;
  KeptSearch* from = nullptr;
  for (KeptSearch& k : Kept) {
    if (k.words == search.words) {
      from = &k;
      break;
    }
    if (Holds(search.words, k.words) && (!from || k.rows.size() < from->rows.size())) from = &k;
  }
  if (!from) {
    const CompiledSearch crate = CompileSearch(CrateSearch, L"");
    FilterAndSort(crate, target);
    KeepShownRows(crate.words);
    from = &Kept.back();
  }
  from->used = ++KeptClock;
  const bool same = from->words == search.words;
  FilterKeptRows(*from, search, target);
  if (!same) KeepShownRows(search.words);
  LastRebuild.searchText = SearchText;
  return true;
}

// Filters ViewItems from `first` on and merges them into ViewOrder where a full rebuild would put
// them: a new file follows every shown file it ties with, those being earlier in scan order.
void MergeNewFiles(size_t first) {
  DropWorkerSort();  // its rows lack the new files
  const CompiledSearch search = CompileSearch(CrateSearch, SearchText);
  const std::vector<bool> lookUpTags(search.words.size(), true);
  std::vector<int> added;
  for (size_t i = first; i < ViewItems.size(); ++i)
    if (PassesFilter(ViewItems[i], search, lookUpTags, MatchTarget{})) added.push_back(static_cast<int>(i));
  LastRebuild.files = ViewItems.size();
  Kept.clear();  // they lack the new files
  const int column = SortColumn;
  const bool ascending = SortAscending;
  if (!InSortRange(column)) {
    if (ascending) ViewOrder.insert(ViewOrder.end(), added.begin(), added.end());
    else ViewOrder.insert(ViewOrder.begin(), added.rbegin(), added.rend());
    return;
  }
  const auto precedes = [column, ascending](int a, int b) {
    const int order = CompareTracks(ViewItems[static_cast<size_t>(a)], ViewItems[static_cast<size_t>(b)], column);
    return ascending ? order < 0 : order > 0;
  };
  std::stable_sort(added.begin(), added.end(), precedes);
  std::vector<int> merged;
  merged.reserve(ViewOrder.size() + added.size());
  std::merge(ViewOrder.begin(), ViewOrder.end(), added.begin(), added.end(), std::back_inserter(merged), precedes);
  ViewOrder.swap(merged);
}

// Filters every file by the search into ViewOrder and sorts it by SortColumn.
void FilterAndSort(const CompiledSearch& search, const MatchTarget& target) {
  const std::vector<bool> inSomeTags = WordsInSomeOwnTags(search.words);
  ViewOrder.clear();
  for (size_t i = 0; i < ViewItems.size(); ++i)
    if (PassesFilter(ViewItems[i], search, inSomeTags, target)) ViewOrder.push_back(static_cast<int>(i));
  if (InSortRange(SortColumn)) SortShown(SortColumn, SortAscending);
  else if (!SortAscending) std::reverse(ViewOrder.begin(), ViewOrder.end());
}

void ClearView() {
  ViewItems.clear();
  Selection = -1;
  ScrollRow = 0;
}

}  // namespace

// --- Switching the source ---

void ShowFolder() {
  ViewKind = kViewFolder;
  CrateSearch.clear();
  if (SortColumn < 0) SortColumn = kSortTitle;
  if (ViewIndex >= 0 && ViewIndex < static_cast<int>(MusicFolders.size())) {
    StartFolderScan({MusicFolders[static_cast<size_t>(ViewIndex)]}, {});
    return;
  }
  ++ScanGeneration;  // a scan of the folder shown before must not fill this empty view
  ClearView();
  RebuildView();
  Scanning = false;
}

void ShowList(int index) {
  if (index < 0 || index >= static_cast<int>(TrackLists.size())) return;
  ViewIndex = index;
  CrateSearch.clear();
  SortAscending = index != kHistoryList;
  ViewKind = kViewList;
  SortColumn = kSortSourceOrder;
  StartFolderScan({}, TrackLists[static_cast<size_t>(index)].paths);
}

void ShowCrate(int index) {
  if (index < 0 || index >= static_cast<int>(SmartCrates.size())) return;
  ViewKind = kViewCrate;
  ViewIndex = index;
  CrateSearch = SmartCrates[static_cast<size_t>(index)].search;
  if (SortColumn < 0) SortColumn = kSortTitle;
  StartFolderScan(MusicFolders, {});
}

void StartFolderScan(const std::vector<std::wstring>& folders, const std::vector<std::wstring>& files) {
  ClearView();
  RebuildView();
  const uint32_t generation = ++ScanGeneration;
  Scanning = true;
  if (StartScanWorkerHook) StartScanWorkerHook(folders, files, generation);
  else Scanning = false;
}

void RefreshShownList(int index) {
  if (ViewKind != kViewList || ViewIndex != index) return;
  const int row = ScrollRow;
  ShowList(index);
  ScrollRow = row;
}

// --- The scan's results ---

void ApplyScanBatch(uint32_t generation, std::vector<LibraryFile>* batch) {
  std::unique_ptr<std::vector<LibraryFile>> owned(batch);
  if (!owned || generation != ScanGeneration.load()) return;
  const size_t before = ViewItems.size();
  ViewItems.insert(ViewItems.end(), std::make_move_iterator(owned->begin()), std::make_move_iterator(owned->end()));
  if (CanMergeAfter(before)) MergeNewFiles(before);
  else RebuildView();
}

void FinishFolderScan(uint32_t generation) {
  if (generation == ScanGeneration.load()) Scanning = false;
}

void StopFolderScans() { ++ScanGeneration; }

// --- Filtering and sorting ---

namespace {

// The view as a full rebuild left it: by the current files, records, search and sort.
void NoteRebuiltInFull(const CompiledSearch& search) {
  const int column = SortColumn;
  const bool byRecords = !search.predicates.empty() || MatchDeck || (InSortRange(column) && SortReadsRecords(column));
  LastRebuild = {.mergeable = !byRecords, .crateSearch = CrateSearch, .searchText = SearchText,
                 .column = column, .ascending = SortAscending, .files = ViewItems.size(),
                 .records = TrackLibrary.size()};
  Kept.clear();
  if (!byRecords) KeepShownRows(search.words);
}

}  // namespace

void RebuildView() {
  DropWorkerSort();  // this rebuild sorts by what the view shows now
  const CompiledSearch search = CompileSearch(CrateSearch, SearchText);
  MatchTarget target;
  if (MatchDeck) {
    target.deck = OnAirDeck();
    if (target.deck >= 0) target.bpm = DeckBpm(target.deck), target.key = DeckKey(target.deck);
  }
  if (ShowFromKeptRows(search, target)) return;
  ForgetOwnTags(ViewItems.size());
  FilterAndSort(search, target);
  NoteRebuiltInFull(search);
}

void SortView(int column, bool ascending) {
  SortColumn = column, SortAscending = ascending;
  // The shown rows are what a rebuild would filter: nothing they hang on changed since the last.
  const RebuildInputs& last = LastRebuild;
  const bool rowsHold = !MatchDeck && !Scanning && last.files == ViewItems.size() &&
                        last.records == TrackLibrary.size() && last.searchText == SearchText &&
                        last.crateSearch == CrateSearch && CompileSearch(CrateSearch, SearchText).predicates.empty();
  if (!rowsHold || !SortWantsWorker(column)) {
    RebuildView();
    return;
  }
  StartWorkerSort(column, ascending);
  // Until the sort comes, the rows are in no column's order: no batch merges, no kept search.
  LastRebuild.mergeable = false;
  Kept.clear();
}

bool ViewSortPending() { return WorkerSortPending(); }

bool TakeViewSort() {
  if (!TakeWorkerSort()) return false;
  NoteRebuiltInFull(CompileSearch(CrateSearch, SearchText));
  return true;
}

// --- Selection and loading ---

const LibraryFile* SelectedFile() {
  if (Selection < 0 || Selection >= static_cast<int>(ViewItems.size())) return nullptr;
  return &ViewItems[static_cast<size_t>(Selection)];
}

void MoveSelection(int step) {
  const int count = static_cast<int>(ViewOrder.size());
  if (count == 0) return;
  const auto found = std::find(ViewOrder.begin(), ViewOrder.end(), Selection);
  int start = static_cast<int>(found - ViewOrder.begin());
  if (found == ViewOrder.end()) start = step > 0 ? -1 : count;
  const int row = std::clamp(start + step, 0, count - 1);
  Selection = ViewOrder[static_cast<size_t>(row)];
  const int visible = std::max(VisibleRows, 1);
  if (row < ScrollRow) ScrollRow = row;
  else if (row >= ScrollRow + visible) ScrollRow = row - visible + 1;
}

void LoadSelectedTrack(int deck) {
  const LibraryFile* file = SelectedFile();
  if (!file) return;
  const std::wstring path = file->path;  // loading rebuilds the view
  if (deck < 0) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    const int sides[2] = {SideSlots[kLeftSide], SideSlots[kRightSide]};
    deck = -1;
    for (int side : sides)
      if (deck < 0 && !Engine.decks[side].playing && !Engine.decks[side].track) deck = side;
    for (int side : sides)
      if (deck < 0 && !Engine.decks[side].playing) deck = side;
    if (deck < 0) deck = sides[0];
  }
  LoadTrack(deck, path);
}

int OnAirDeck() {
  int candidate = DeckSnapshots[0].track ? 0 : -1;
  for (int deck = 1; deck < kEngineDecks; ++deck) {
    if (!DeckSnapshots[deck].track) continue;
    if (candidate < 0 || IsDeckAudible(deck) || (DeckSnapshots[deck].playing && !DeckSnapshots[candidate].playing))
      candidate = deck;
  }
  return candidate;
}

// --- Music folders ---

void AddMusicDir(const std::wstring& path) {
  auto found = std::find_if(MusicFolders.begin(), MusicFolders.end(),
                            [&](const std::wstring& folder) { return SamePath(folder, path); });
  if (found == MusicFolders.end()) found = MusicFolders.insert(MusicFolders.end(), path);
  ViewIndex = static_cast<int>(found - MusicFolders.begin());
  ShowFolder();
  SaveSettings();
}
