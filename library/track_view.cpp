#include "library/track_view.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

#include "app/settings.h"
#include "app/text_parse.h"
#include "engine/deck_commands.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/musical_keys.h"
#include "engine/side_slots.h"
#include "library/crates.h"
#include "library/folder_scan.h"
#include "library/now_playing.h"
#include "library/search_filter.h"
#include "library/track_info.h"
#include "library/track_lists.h"
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
ScanWorkerStarter StartScanWorker = LaunchFolderScan;

namespace {

constexpr double kMatchTempoTolerance = 0.06;  // 6 % either way, at half, same or double tempo
constexpr int32_t kMatchKeyDistance = 1;
constexpr int kLastSortKey = kSortColour;
constexpr int kLastColourIndex = 8;

int Sign(double a, double b) { return a < b ? -1 : (a > b ? 1 : 0); }

// The compared value of one file for the sort of this rebuild, taken once per file so the sort
// itself never looks up records.
struct SortValue {
  double number = 0.0;
  std::wstring text;   // text keys (key name, genre)
};

SortValue ValueOf(const LibraryFile& file, int column) {
  const TrackInfo* record = FindTrackInfo(file.path);
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
    default: return Sign(va.number, vb.number);
  }
}

// The on-air deck's tempo and sounding key that MATCH filters by; false when no deck is on air.
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
  if (StartScanWorker) StartScanWorker(folders, files, generation);
  else Scanning = false;
}

void RefreshShownList(int index) {
  if (ViewKind != kViewList || ViewIndex != index) return;
  const int row = ScrollRow;
  ShowList(index);
  ScrollRow = row;
}

void ConnectListView() { ListView = ListViewHooks{.showList = ShowList, .refreshList = RefreshShownList}; }

// --- The scan's results ---

void ApplyScanBatch(uint32_t generation, std::vector<LibraryFile>* batch) {
  std::unique_ptr<std::vector<LibraryFile>> owned(batch);
  if (!owned || generation != ScanGeneration.load()) return;
  ViewItems.insert(ViewItems.end(), std::make_move_iterator(owned->begin()), std::make_move_iterator(owned->end()));
  RebuildView();
}

void FinishFolderScan(uint32_t generation) {
  if (generation == ScanGeneration.load()) Scanning = false;
}

void StopFolderScans() { ++ScanGeneration; }

// --- Filtering and sorting ---

int CompareTracks(const LibraryFile& a, const LibraryFile& b, int column) {
  if (column < 0 || column > kLastSortKey) return 0;
  return CompareValues(a, ValueOf(a, column), b, ValueOf(b, column), column);
}

void RebuildView() {
  ViewOrder.clear();
  const CompiledSearch search = CompileSearch(CrateSearch, SearchText);
  MatchTarget target;
  if (MatchDeck) {
    target.deck = OnAirDeck();
    if (target.deck >= 0) target.bpm = DeckBpm(target.deck), target.key = DeckKey(target.deck);
  }
  const bool needRecord = !search.predicates.empty() || target.deck >= 0;
  for (size_t i = 0; i < ViewItems.size(); ++i) {
    const LibraryFile& file = ViewItems[i];
    // Looking a record up costs a hash of the path: only when a condition or a word needs it.
    const TrackInfo* record = needRecord || !search.words.empty() ? FindTrackInfo(file.path) : nullptr;
    if (!MatchesSearch(search, file, record)) continue;
    if (target.deck >= 0 && !MixesWith(file, record, target)) continue;
    ViewOrder.push_back(static_cast<int>(i));
  }
  const int column = SortColumn;
  if (column < 0 || column > kLastSortKey) {
    if (!SortAscending) std::reverse(ViewOrder.begin(), ViewOrder.end());
    return;
  }
  const bool textOnly = column == kSortTitle || column == kSortArtist;
  std::vector<SortValue> values(textOnly ? 0 : ViewItems.size());
  if (!textOnly)
    for (int i : ViewOrder) values[static_cast<size_t>(i)] = ValueOf(ViewItems[static_cast<size_t>(i)], column);
  const bool ascending = SortAscending;
  static const SortValue kNone;
  std::stable_sort(ViewOrder.begin(), ViewOrder.end(), [&](int x, int y) {
    const LibraryFile& a = ViewItems[static_cast<size_t>(x)];
    const LibraryFile& b = ViewItems[static_cast<size_t>(y)];
    const SortValue& va = textOnly ? kNone : values[static_cast<size_t>(x)];
    const SortValue& vb = textOnly ? kNone : values[static_cast<size_t>(y)];
    const int order = CompareValues(a, va, b, vb, column);
    return ascending ? order < 0 : order > 0;
  });
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
    std::lock_guard<std::recursive_mutex> lock(Engine.lock);
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
