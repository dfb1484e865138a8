#pragma once
// Folders, text conversion, splitting and writing of the program's own files.
#include <string>
#include <string_view>
#include <vector>

#include "base/ui_text.h"
#include "platform/clock.h"
#include "platform/text.h"

// Data folder ("Veldmix" under the roaming data base), created on every call; a failure to
// create is ignored and the path is returned all the same.
std::wstring AppDataDir();
// "Veldmix Recordings" in the user's Music folder, created on every call.
std::wstring RecordingsDir();
// AppDataDir + "Lists", created on every call.
std::wstring ListsDir();
// The file of a saved track list: forbidden and control characters become '_', then ".m3u8".
std::wstring ListFileName(const std::wstring& listName);
// That file's name alone, without the folder (and without making the folder).
std::wstring ListFileLeaf(const std::wstring& listName);

// Writes the text as UTF-8 without a byte-order mark, crash-safe (".tmp", flush, rename); a file
// name's bytes that are not UTF-8 (PathFromBytes) are written as they were, so the path reads back.
// False (a log line, NoteFailedWrite, and *error when given: the step or file and the cause) when
// any step fails; the old target is then untouched.
bool WriteFileAtomic(const std::wstring& target, const std::wstring& text, std::wstring* error = nullptr);
// Writes the byte-order mark EF BB BF and the UTF-8 text, crash-safe as well.
bool WriteUtf8File(const std::wstring& path, const std::wstring& text, std::wstring* error = nullptr);

// --- Failed writes, as the user is told of them ---
// One write of the program's own files that did not happen: the file and why.
struct FailedWrite {
  std::wstring file;
  std::wstring error;
};
// Remembers a write that failed or was refused (any thread), so that a command can end with it.
void NoteFailedWrite(const std::wstring& file, const std::wstring& error);
// How many writes failed since the start, and the last one.
size_t FailedWriteCount();
FailedWrite LastFailedWrite();
// The cause alone, as a text translated on its own: the last part of an error that reads
// "<step or file>: <cause>" ("write: the disk is full" gives "the disk is full").
UiText FailureCause(const std::wstring& error);
// Why a write failed, in the user's words: the cause of that system error (LastWriteError) where
// there is one, else the cause part of the detail.
UiText WriteFailureCause(int systemError, const std::wstring& detail);
// "Couldn't save <file name>: <cause>" for the status line.
UiText WriteFailedText(const std::wstring& file, const std::wstring& error);
// Keeps a file with damaged lines as it was, beside itself as "<path>.damaged-YYYY-MM-DD", before
// it is saved without them: once a day, never over an earlier copy. True when today's copy is
// there (made now or earlier); false when it couldn't be made (then the file must not be replaced).
bool KeepDamagedCopy(const std::wstring& path, std::string_view bytes, const LocalTime& today);
// Whether a file whose bad lines are skipped may be saved again: not when most of its lines
// are bad (it is likely not this file at all). Saving also needs the damaged copy (above).
bool MostLinesBad(size_t badLines, size_t goodLines);
// --- Library files written behind the UI thread ---
// A worker that writes library files from a copy the UI thread made holds them from that copy on;
// the UI thread's own saves of those files wait for it, so an older copy never lands over a newer
// save and two writers never share a ".tmp" file.
// Holds the files (UI thread, before the worker starts); holds nest.
void HoldLibraryFiles();
// Lets them go (the worker, after its last rename).
void ReleaseLibraryFiles();
// Whether a worker holds them.
bool LibraryFilesHeld();
// Returns once no worker holds them (UI thread, before writing a list or the database).
void WaitForLibraryFiles();

// The whole file as text (a UTF-8 byte-order mark dropped); empty when unreadable.
std::wstring LoadTextFile(const std::wstring& path);

// The pieces between separators, empty pieces included ("" gives one empty piece).
std::vector<std::wstring> SplitString(const std::wstring& text, wchar_t separator);
