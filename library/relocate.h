#pragma once
// Finding moved files: the paths of the lists and records that no longer exist are looked up by
// file name in a folder tree the user names, on a worker; the UI thread then moves the records
// and list entries to the files found.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

inline constexpr int kRelocatePost = 12;  // wparam 0, lparam RelocateResult*

struct RelocateJob {
  std::wstring folder;              // the tree to search
  std::vector<std::wstring> paths;  // candidates, each once
};

struct RelocateResult {
  std::vector<std::pair<std::wstring, std::wstring>> found;  // (missing path as stored, new path)
  uint32_t missing = 0;    // candidates definitely not found where they were
  uint32_t ambiguous = 0;  // missing paths with several matches, left alone
};

// Every path of every track list, in list order, then every record's path; each once.
std::vector<std::wstring> RelocateCandidates();
// The search itself, on the calling thread. Only a path the system reports as not there counts
// as missing (a folder it may not read is not proof). A file found for two missing paths goes to
// neither: both count as having several matches.
RelocateResult FindRelocations(const RelocateJob& job);
// Says "Looking for moved files…" and runs the search on a detached worker that posts
// kRelocatePost (a refused post frees the result).
void StartRelocate(const std::wstring& folder);
// Completion 12, UI thread: moves the records and list entries, saves (not in test mode), shows
// a shown list again and reports the counts. Frees the result.
void ApplyRelocate(RelocateResult* result);
