#pragma once
// The import thread: one detached thread per import runs the source's importer and hands the
// result to the UI thread as completion kImportPost, which merges it (import_merge.h).
#include <cstdint>
#include <string>

#include "library/imported_tracks.h"

inline constexpr const wchar_t* kImportingText = L"Importing\u2026 (this can take a moment for big collections)";
inline constexpr const wchar_t* kImportNotStartedText = L"Couldn't start the import";

struct ImportJob {
  uint32_t source = kImportSerato;  // ImportSource; any other value runs the Serato importer
  std::wstring path;                // the chosen file or folder
};

// Shows kImportingText and starts a detached thread running ImportWorker on the job. False (with
// kImportNotStartedText shown and the job freed) when no thread could be started. UI thread.
bool StartImport(uint32_t source, const std::wstring& path);
// The thread body: runs the importer and posts kImportPost (wparam the source, lparam a heap
// ImportResult); frees the result itself when the post is refused. Owns the job.
void ImportWorker(ImportJob* job);
// Frees a result that was posted but never merged.
void FreeImportResult(void* result);
