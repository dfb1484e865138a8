#pragma once
// The library map on disk: "database.tsv" in the data folder, one tab-separated line of 47
// columns per record, read once at start and written whole when the map has changed.
// UI thread only.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/ui_text.h"
#include "platform/clock.h"

inline constexpr wchar_t kDatabaseFileName[] = L"database.tsv";
inline constexpr int kDatabaseColumns = 47;
inline constexpr uint64_t kAutosaveIntervalMs = 5001;
inline constexpr int kSaveFailedStatusMs = 8000;

// Bounds on what a line may hold. Anything beyond them is damage, never a real record; the writer
// clips to the same bounds so that what it writes always reads back.
inline constexpr size_t kMaxDatabaseBytes = size_t(512) << 20;  // 512 MiB, ~1.5 million records
inline constexpr size_t kMaxPathChars = 4096;        // Linux PATH_MAX
inline constexpr size_t kMaxTextFieldChars = 4096;   // one hot-cue name or the tag text
inline constexpr size_t kMaxMemoryCues = 1024;
inline constexpr size_t kMaxTempoMarkers = 65536;    // a marker on every beat of a long set

// Set by LoadDatabase when "database.tsv" exists but cannot be read, is too large, holds more bad
// lines than good ones, or has a few bad lines and no copy of it as it was could be kept. While
// set nothing is written, so the file is never replaced by a partial library.
extern bool LibraryNoSave;
// What LoadDatabase found when it set LibraryNoSave, for the user ("it is no regular file", "1,200
// of its 1,500 lines could not be read"); empty otherwise.
extern UiText LibraryRefusal;

// "database.tsv" in the data folder.
std::wstring DatabasePath();
// Clears TrackLibrary and fills it from the file; sets or clears LibraryNoSave; clears
// LibraryDirty and LibrarySaveFault. Damaged lines are skipped and logged, the good ones kept; a
// file with a few of them is first kept as it was (KeepDamagedCopy) and then saved normally.
void LoadDatabase();
// Writes every record (sorted by key) crash-safe, after any worker that holds the library files
// (WaitForLibraryFiles). False without touching the file while LibraryNoSave is set or in test
// mode, and when the write fails; true clears LibraryDirty. Records whose path cannot stand in a
// tab-separated line (a tab, a line break) are left out and logged.
bool SaveDatabase();
// The file SaveDatabase writes, as text into *text; false (and nothing made) while LibraryNoSave is
// set or in test mode. For a save on another thread.
bool DatabaseText(std::wstring* text);

// Why the last save of the database failed; cleared by one that succeeds.
struct LibrarySaveFailure {
  bool failed = false;
  int systemError = 0;  // LastWriteError of the write
  std::wstring detail;  // the failing step and the system's reason
};
extern LibrarySaveFailure LibrarySaveFault;
// True while the library holds changes that a failed save left unwritten. Not while LibraryNoSave
// (saving is off then on purpose, and the user was told at start), nor in test mode.
bool LibraryChangesUnsaved();
// The cause of the last failed save in the user's words ("the disk is full").
UiText LibrarySaveCause();

// The autosave's memory between frames.
struct AutosaveState {
  bool attempted = false;     // a save was tried at least once
  uint64_t lastAttemptMs = 0; // MonotonicMs() of that try
  bool lastFailed = false;
  std::wstring noticeShown;   // the unsaved-changes notice as last put on the status line
};
extern AutosaveState LibraryAutosave;
// Per frame: when the library is dirty (and not in test mode, and no worker holds the library
// files) and 5001 ms have passed since the last try, saves; a failure is logged once until a save
// succeeds again. While changes are unsaved the status line says so and why, at once and again
// whenever it is free, so it stays in sight; the first save that succeeds takes it away.
void AutosaveLibrary(uint64_t nowMs = MonotonicMs());
