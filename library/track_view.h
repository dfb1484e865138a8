#pragma once
// The browser's view: which music folder, track list or smart crate is shown, the files the scan
// read for it, their filtered and sorted order, the selection and the scroll row; switching the
// source, the rebuild, selection movement and loading the selected file. All state belongs to the
// UI thread except ScanGeneration, which the scan worker reads.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "library/library_file.h"

inline constexpr int kViewFolder = 0;
inline constexpr int kViewList = 1;
inline constexpr int kViewCrate = 2;

// Sort keys; any other value keeps the scan order.
enum SortKey : int {
  kSortTitle = 0,
  kSortArtist = 1,
  kSortBpm = 2,
  kSortKey = 3,
  kSortLength = 4,
  kSortEnergy = 5,
  kSortRating = 6,
  kSortGenre = 7,
  kSortPlayCount = 8,
  kSortLastPlayed = 9,
  kSortDateAdded = 10,
  kSortColour = 11,
  kSortSourceOrder = -1,
};

// --- The view state ---

extern int ViewKind;                     // kViewFolder, kViewList or kViewCrate
extern int ViewIndex;                    // the shown music folder, list or crate
extern std::vector<LibraryFile> ViewItems;  // the source's files in scan order
extern std::vector<int> ViewOrder;       // indices into ViewItems passing the search, display order
extern int Selection;                    // index into ViewItems; -1 none
extern int ScrollRow;                    // first row shown (index into ViewOrder)
extern int VisibleRows;                  // rows that fit, set by the browser each frame
extern int SortColumn;                   // a SortKey
extern bool SortAscending;
extern std::wstring SearchText;          // the search box text
extern std::wstring CrateSearch;         // the shown crate's search; empty otherwise
extern bool MatchDeck;                   // only tracks that mix with the on-air deck
extern bool Scanning;                    // a scan for this view runs
extern std::atomic<uint32_t> ScanGeneration;  // raised by every scan and at exit
extern bool SearchFocused;               // the search box takes typed characters

// The user's music folders ([Library] Folder0.. in settings.ini), in order.
extern std::vector<std::wstring> MusicFolders;

// --- Switching the source ---

// Shows music folder ViewIndex (scanning it), or an empty view when there is none.
void ShowFolder();
// Shows track list `index`: its paths as single files in list order; History newest first.
void ShowList(int index);
// Shows smart crate `index` over all music folders; an index out of range does nothing.
void ShowCrate(int index);
// Empties the view, raises ScanGeneration and starts the scan worker on copies of the lists.
void StartFolderScan(const std::vector<std::wstring>& folders, const std::vector<std::wstring>& files);
// Shows list `index` again when it is the shown list, keeping the scroll row.
void RefreshShownList(int index);

// --- The scan's results (completions 2 and 3) ---

// Appends a batch of the current scan to ViewItems and rebuilds, or merges the batch into the
// order when that gives the same rows; a stale batch is dropped. Frees the batch in any case.
void ApplyScanBatch(uint32_t generation, std::vector<LibraryFile>* batch);
// The current scan has ended: Scanning is cleared.
void FinishFolderScan(uint32_t generation);
// Raises the generation so that no later batch is taken (at exit).
void StopFolderScans();

// --- Filtering and sorting ---

// Filters ViewItems by the search (and MatchDeck) into ViewOrder, then sorts it stably by
// SortColumn; equal files keep their scan order. When only the search's words changed since the
// last call, the rows come from those kept of earlier searches in this view (a search shown
// before, or a wider one filtered further). Whoever changes a record or a file the view reads
// calls it (with the text unchanged, it searches in full and forgets the kept rows).
void RebuildView();
// Sorts the view by the column in that direction (a column header, the sort menu): at once when
// that is quick or the rows must be filtered again; else on a worker, the rows keeping their order
// until TakeViewSort takes the sorted one. Any rebuild meanwhile drops the worker's sort (a newer
// sort, search or change wins).
void SortView(int column, bool ascending);
// A sort runs on a worker for the view.
bool ViewSortPending();
// Takes the worker's finished sort into ViewOrder; true when it did. Each tick.
bool TakeViewSort();
// <0, 0 or >0 as file a's value of sort key `column` is less than, equal to or greater than b's.
int CompareTracks(const LibraryFile& a, const LibraryFile& b, int column);

// --- Selection and loading ---

// The selected file, or null.
const LibraryFile* SelectedFile();
// Moves the selection by a signed number of rows within ViewOrder, clamped, scrolling it into view.
void MoveSelection(int step);
// Loads the selected file onto the deck; deck -1: the first of the two shown decks that is stopped
// and empty, else the first stopped, else the left one.
void LoadSelectedTrack(int deck);
// The deck the audience hears: deck 0 when it holds a track, replaced in turn by a later deck with
// a track that is audible, or playing while the candidate is not; -1 none.
int OnAirDeck();

// --- Music folders ---

// Makes the path (added when it is not yet one) the shown music folder, shows it and saves the
// settings.
void AddMusicDir(const std::wstring& path);
