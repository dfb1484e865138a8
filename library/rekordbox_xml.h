#pragma once
// rekordbox's collection XML (root DJ_PLAYLISTS): read into an ImportResult on the import thread,
// written from copies of library records on the export thread.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/tags.h"
#include "base/track_info.h"
#include "library/imported_tracks.h"
#include "library/track_lists.h"

inline constexpr const wchar_t* kRekordboxNoTracksText = L"No tracks from that collection were found on this computer";
inline constexpr const wchar_t* kNothingToExportText = L"There are no tracks to export yet";
inline constexpr const wchar_t* kExportWriteErrorText = L"Couldn't write that file";
// Playlist folders nested deeper than this are skipped (each level lengthens every name below it).
inline constexpr int kMaxRekordboxFolderDepth = 64;

// One track to write: its path, a copy of its record, and its eight hot-cue colours as 0xRRGGBB.
struct ExportRecord {
  std::wstring path;
  TrackInfo info;
  std::array<uint32_t, kHotCues> hotCueRgb = {};
};

// --- Reading ---
// Tracks whose Location names a regular file here, with tempo and grid (only from TEMPO
// elements), key, rating, colour and cues; playlists by TrackID or Location, folders joined as
// "House / Deep". Errors: kXmlReadErrorText, kRekordboxNoTracksText.
ImportResult ImportRekordbox(const std::wstring& path);

// --- Writing ---
// What the writer asks of the file system; replaced in benchmarks to measure the writer alone.
struct ExportFileAccess {
  bool (*isFile)(const std::wstring& path);
  bool (*readTags)(const std::wstring& path, TrackTags* tags);
};
extern const ExportFileAccess kRealFileAccess;

// The whole file as UTF-8: each record whose path is a regular file and was not written before
// (PathKey) as a TRACK with TEMPO and POSITION_MARK children, then each list with an entry as a
// playlist. *written gets the number of TRACKs.
std::string RekordboxXmlText(const std::vector<ExportRecord>& records, const std::vector<TrackList>& lists,
                             const ExportFileAccess& files, int32_t* written);
// Writes the file crash-safe (a failed write keeps the old file; writes to one target never
// interleave). The number of tracks written, or -1 with *error set to kNothingToExportText (no
// file touched) or kExportWriteErrorText.
int32_t WriteRekordboxXml(const std::wstring& target, const std::vector<ExportRecord>& records,
                          const std::vector<TrackList>& lists, std::wstring* error,
                          const ExportFileAccess& files = kRealFileAccess);

// --- Text pieces ---
// Quote, ampersand and angle brackets as entities; control characters but TAB, U+FFFE, U+FFFF,
// surrogates and anything past U+10FFFF dropped (XML 1.0 cannot hold them).
std::wstring XmlEscape(const std::wstring& text);
// "MP3 File", "M4A File" (M4A, MP4, AAC), "AIFF File" (AIF, AIFF), "Audio File" without extension.
std::wstring KindName(const std::wstring& path);
