#pragma once
// One audio file of the browser's view as the folder scan read it, and the scan's hand-off to the
// view: the worker posts batches of these (completion 2) and a finish (completion 3), each tagged
// with the scan generation it started under.
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kScanBatchPost = 2;   // wparam the generation, lparam a heap std::vector<LibraryFile>
inline constexpr int kScanFinishedPost = 3;  // wparam the generation, no lparam
inline constexpr size_t kScanBatchFiles = 100;
inline constexpr int kRankedSortColumns = 3;  // the text columns: title, artist, genre

struct LibraryFile {
  std::wstring path{};        // as found or as listed, letter case kept
  std::wstring title{};       // the title tag, else the file name without its extension
  std::wstring artist{};
  std::wstring genre{};
  std::wstring titleKey{};    // title lower-cased
  std::wstring artistKey{};   // artist lower-cased
  std::wstring searchText{};  // lower-cased title, artist, album, genre, comment and file name, space-joined
  double duration = 0.0;    // seconds; 0 when the file gives none
  int64_t modified = 0;     // last-write time, 100-ns units since 1601-01-01; 0 unknown
  uint32_t index = 0;       // position in the order the scan delivered the file
  uint64_t pathHash = 0;    // Fnv1aPathHash of PathKey(path), for record lookups; 0 not yet worked out
  // Filled by the view and kept with the file, so a file whose text changes is replaced whole.
  std::string searchBytes{};   // searchText as SearchBytes, for the filter; filled when empty
  // Order among the view's files by each text column (title, artist, genre), valid with its stamp.
  uint32_t sortRank[kRankedSortColumns] = {};
  uint32_t sortRankStamp[kRankedSortColumns] = {};  // 0 never ranked
};

// Starts the detached scan worker on its own copies of the folders and single files; it posts
// kScanBatchPost and kScanFinishedPost tagged with `generation` and stops once ScanGeneration
// moves on. The shell sets LaunchFolderScan (library/folder_scan.h); while unset a scan delivers
// nothing and ends at once.
using ScanWorkerStarter = void (*)(std::vector<std::wstring> folders, std::vector<std::wstring> files,
                                   uint32_t generation);
extern ScanWorkerStarter StartScanWorkerHook;
