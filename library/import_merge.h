#pragma once
// Folding another program's collection into the library: tracks into their records and playlists
// into track lists on the UI thread, then the lists' files and the database written in one batch
// (on a worker, import_worker.h), then one report on the status line.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "library/imported_tracks.h"
#include "platform/files.h"

// wparam the ImportSource, lparam a heap ImportResult*; with kImportSaved in wparam the source's
// files are written and lparam is a heap ImportSave*.
inline constexpr int kImportPost = 11;
inline constexpr uintptr_t kImportSaved = 0x100;

// The playlist-name prefix of each source: "RB · ", "iTunes · ", "Serato · ", "Traktor · ", "VDJ · ".
const wchar_t* ImportPrefix(ImportSource source);
// The 0-11 index of the nearest hot-cue palette colour to 0xRRGGBB.
int32_t NearestCueColour(int32_t rgb);

// What an import leaves to do after the merge: the files to write and what the report says.
struct ImportSave {
  ImportSource source = kImportRekordbox;
  std::vector<FileWrite> files;  // each changed list's file; WriteImportFiles adds the database last
  bool database = false;         // the database is to be written (false: it may not be, LibraryNoSave)
  std::wstring databasePath;
  std::wstring databaseText;     // DatabaseText at the merge
  size_t tracks = 0;
  size_t playlists = 0;
  size_t listsNotSaved = 0;      // no free name, refused, or their write failed
  bool databaseSaved = false;
  std::wstring error;            // the importer's warning, shown in brackets
};

// The list file of each playlist into result.playlistFiles, so that the merge need not make them
// on the UI thread. Any thread.
void MakeListFiles(ImportResult& result);
// Merges the result (source clamped to 0-4) into the library and frees it. A result holding an
// error and no track changes nothing, only shows the error and gives null. Otherwise: each track
// into TrackInfoFor(path) (tempo, grid and key replaced; rating, colour, main cue and hot cues
// only where the record has none; memory cues added unless one lies within 0.05 s), each playlist
// into a list named prefix + name, the view rebuilt; returns the lists' files and the database
// (a copy of the whole library, LibraryDirty cleared) still to write. In test mode nothing is to
// write. UI thread.
std::unique_ptr<ImportSave> FoldImport(int source, ImportResult* result);
// Writes the files with one flush for all, each whole or not at all, and counts what failed. Any
// thread; the caller holds the library files or is the UI thread.
void WriteImportFiles(ImportSave& save);
// Shows "Imported N tracks and P playlists" (with the error in brackets, and saying so when a
// save failed); a failed database write marks the library dirty again. Returns whether all was
// saved. UI thread.
bool ReportImport(const ImportSave& save);
// FoldImport, WriteImportFiles and ReportImport in one call on the UI thread (the command line).
// Returns false when the import failed or anything could not be saved.
bool MergeImport(int source, ImportResult* result);
// The text MergeImport showed last (for the command line).
extern std::wstring LastImportReport;
