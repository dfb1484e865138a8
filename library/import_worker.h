#pragma once
// The import threads: one detached thread per import runs the source's importer and hands the
// result to the UI thread as completion kImportPost, which merges it (import_merge.h); a second
// detached thread writes the merged lists and the database and hands the report back the same
// way. One import runs at a time; one asked for meanwhile waits its turn.
#include <cstdint>
#include <string>

#include "library/imported_tracks.h"
#include "platform/ui_post.h"

inline constexpr const wchar_t* kImportingText = L"Importing\u2026 (this can take a moment for big collections)";
inline constexpr const wchar_t* kImportNotStartedText = L"Couldn't start the import";
inline constexpr const wchar_t* kImportQueuedText = L"Another import is still running; this one starts when it has finished";

struct ImportJob {
  uint32_t source = kImportSerato;  // ImportSource; any other value runs the Serato importer
  std::wstring path;                // the chosen file or folder
};

// Shows kImportingText and starts a detached thread running ImportWorker on the job. While an
// import runs (from its start to its report) the job waits instead, with kImportQueuedText shown,
// and starts when that import has reported. False (with kImportNotStartedText shown and the job
// freed) when no thread could be started. UI thread.
bool StartImport(uint32_t source, const std::wstring& path);
// Whether an import is running or waiting. UI thread.
bool ImportRunning();
// The thread body: runs the importer and posts kImportPost (wparam the source, lparam a heap
// ImportResult); frees the result itself when the post is refused. Owns the job.
void ImportWorker(ImportJob* job);
// Frees a result that was posted but never merged.
void FreeImportResult(void* result);

// The UI thread's side of kImportPost. A result is merged (FoldImport) and its files handed to a
// save thread, which holds the library files until it has written them (HoldLibraryFiles); the
// save's report is shown (ReportImport) and the next waiting import started. Frees lparam.
void HandleImportPost(const UiPost& post);
// Frees the lparam of a kImportPost that is never handled.
void DiscardImportPost(const UiPost& post);
