#pragma once
// The folder scan: a worker walks music folders for audio files, reads the tags of each (and of a
// list's single files) and hands them to the UI thread in batches, in the order it found them.
#include <cstdint>
#include <string>
#include <vector>

#include "library/library_file.h"

inline constexpr uint32_t kMaxScanFolderFiles = 50000;  // folder files read per scan

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

// The thread body; owns the job. Posts full batches of kScanBatchFiles as it goes, the rest at
// the end, then kScanFinishedPost; a refused post frees its batch. Stops between files once
// ScanGeneration moves on.
void FolderScanWorker(ScanJob* job);
// Starts FolderScanWorker on a detached thread (the view's StartScanWorkerHook).
void LaunchFolderScan(std::vector<std::wstring> folders, std::vector<std::wstring> files, uint32_t generation);
