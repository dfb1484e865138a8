#pragma once
// The rekordbox export job: the UI thread copies what the writer needs (records, lists) into a
// job; a detached thread writes the file and reports through completion kExportStatusPost.
#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "library/rekordbox_xml.h"
#include "library/track_lists.h"

inline constexpr int kExportStatusPost = 9;  // wparam 0 written, 1 failed; lparam a heap UiText
// Hot-cue colours written for a slot whose colour is the default (-1) or out of the palette.
inline constexpr std::array<uint32_t, kHotCues> kDefaultHotCueRgb = {0xFF3D6E, 0x2BF5A0, 0xFFC83D, 0x9D6BFF,
                                                                      0x22D3FF, 0xFF8A2B, 0xFF4FD8, 0xB6FF3D};

struct ExportJob {
  std::wstring target;
  std::vector<ExportRecord> records;
  std::vector<TrackList> playlists;
};

// What BuildExportRecords keeps between calls for one job.
struct ExportContext {
  std::set<std::wstring> added;                              // PathKey of every path with a record
  std::unordered_map<std::wstring, std::wstring> pathForms;  // PathKey -> the path as lists write it
  std::vector<ExportRecord> records;
};

// The 0xRRGGBB written for a record's hot-cue colour index in a slot.
uint32_t ExportHotCueRgb(int32_t colourIndex, int slot);
// Adds one record for the path unless one was added: the path as the lists write it, a copy of
// the library's record (a default one when it has none) and its hot-cue colours. UI thread.
void BuildExportRecords(ExportContext& context, const std::wstring& path);
// The job for list `list` (one list), or the whole library when negative: every record (by key
// order) and every non-empty list but Automix. Null when `list` names no list. UI thread.
ExportJob* MakeExportJob(int list, const std::wstring& target);
// Shows "Exporting N tracks for rekordbox…" and writes the job on a detached thread; false when
// `list` names no list or no thread could start. UI thread.
bool StartExportJob(int list, const std::wstring& target);
// The thread body: writes the file, posts "Exported N tracks to NAME" or the error. Owns the job.
void ExportWorker(ExportJob* job);
