#pragma once
// The folder scan: a worker walks music folders for audio files, reads the tags of each (and of a
// list's single files) and hands them to the UI thread in batches, in the order it found them.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// One audio file of the view as the scan read it.
struct LibraryFile {
  std::wstring path;       // as found or as listed, case kept
  std::wstring title;      // the title tag, else the file name without extension
  std::wstring artist;
  std::wstring genre;
  std::wstring titleKey;   // title lower-cased
  std::wstring artistKey;  // artist lower-cased
  // Lower-cased title, artist, album, genre, comment and file name with extension, joined by
  // single spaces.
  std::wstring searchText;
  double duration = 0.0;   // seconds; 0 when the file gives none
  int64_t modified = 0;    // last-write time, 100-ns units since 1601-01-01; 0 unknown
  uint32_t index = 0;      // position in the scan's delivery order
};

inline constexpr int kScanBatchPost = 2;    // wparam generation, lparam std::vector<LibraryFile>*
inline constexpr int kScanDonePost = 3;     // wparam generation, lparam null
inline constexpr size_t kScanBatchSize = 100;
inline constexpr uint32_t kMaxScanFolderFiles = 50000;  // folder files read per scan

// Raised by every new scan and at exit; a worker whose job carries an older number stops at its
// next file, and the UI thread drops its late batches.
extern std::atomic<uint32_t> ScanGeneration;

struct ScanJob {
  std::vector<std::wstring> folders;      // walked recursively, in order
  std::vector<std::wstring> singleFiles;  // read in order, neither filtered nor de-duplicated
  uint32_t generation = 0;
};

// True when the extension, lower-cased, is one the library plays (.mp3 .wav .flac .m4a .aac .wma
// .mp4 .aif .aiff .m4v .mov .mkv).
bool IsAudioFile(const std::wstring& path);
// Reads the file's record: tags through the tag store, with the container's own tags and length
// filling what the store misses. Only a regular file is opened; anything else (missing, a FIFO, a
// device) gives the file name as title and length 0.
LibraryFile ReadFileTags(const std::wstring& path, uint32_t index);

// The thread body; owns the job. Posts full batches of kScanBatchSize as it goes, the rest at
// the end, then kScanDonePost; a refused post frees its batch. Stops between files once
// ScanGeneration moves on.
void FolderScanWorker(ScanJob* job);
// Starts FolderScanWorker on a detached thread.
void StartScanWorker(ScanJob job);
