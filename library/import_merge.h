#pragma once
// Folding another program's collection into the library on the UI thread: tracks into their
// records, playlists into track lists, then one save and one report on the status line.
#include <cstdint>
#include <string>

#include "library/imported_tracks.h"

inline constexpr int kImportPost = 11;  // wparam the ImportSource, lparam a heap ImportResult*

// The playlist-name prefix of each source: "RB · ", "iTunes · ", "Serato · ", "Traktor · ", "VDJ · ".
const wchar_t* ImportPrefix(ImportSource source);
// The 0-11 index of the nearest hot-cue palette colour to 0xRRGGBB.
int32_t NearestCueColour(int32_t rgb);

// Merges the result (source clamped to 0-4) and frees it. A result holding an error and no track
// changes nothing and only shows the error. Otherwise: each track into TrackInfoFor(path) (tempo,
// grid and key replaced; rating, colour, main cue and hot cues only where the record has none;
// memory cues added unless one lies within 0.05 s), each playlist saved as a list named prefix +
// name, the database saved, the view rebuilt, and "Imported N tracks and P playlists" shown (with
// the error in brackets, and saying so when a save failed). Returns false when the import failed
// or anything could not be saved. UI thread.
bool MergeImport(int source, ImportResult* result);
// The text MergeImport showed last (for the command line).
extern std::wstring LastImportReport;
