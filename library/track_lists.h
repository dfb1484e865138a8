#pragma once
// Track lists: named, ordered lists of file paths, each saved as one ".m3u8" file in the Lists
// folder and rewritten whole after every change. Lists 0-2 are the built-in Automix, Prepare and
// History lists; user lists follow, sorted by name at start. UI thread only.
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/files.h"

inline constexpr int kAutomixList = 0;
inline constexpr int kPrepareList = 1;
inline constexpr int kHistoryList = 2;
inline constexpr int kBuiltInListCount = 3;
inline constexpr std::array<const wchar_t*, kBuiltInListCount> kBuiltInListNames = {L"Automix", L"Prepare",
                                                                                   L"History"};
inline constexpr wchar_t kListExtension[] = L".m3u8";
inline constexpr size_t kMaxListFileBytes = size_t(64) << 20;  // ~300,000 paths

struct TrackList {
  std::wstring name;
  std::vector<std::wstring> paths;  // in list order; duplicates allowed
  bool builtIn = false;             // Automix, Prepare or History
  // Its file exists but could not be read whole: the list is kept out of SaveList so the file is
  // never replaced by what little was read.
  bool noSave = false;
};

// Every list, built-in ones first. Filled from LoadLists at start.
extern std::vector<TrackList> TrackLists;

// --- Files ---

// The three built-in lists, then every ".m3u8" file of the Lists folder as a user list, sorted by
// name ignoring case. A missing file gives an empty list; an unreadable one an empty list marked
// noSave.
std::vector<TrackList> LoadLists();
// Appends the paths of an ".m3u8" file to the list: lines split at LF, one trailing CR removed,
// empty lines and lines starting with '#' skipped. False, with the list marked noSave, when the
// file exists but cannot be read or is larger than kMaxListFileBytes.
bool LoadList(const std::wstring& file, TrackList& list);
// Writes "#EXTM3U" and one path per line to ListFileName (name), crash-safe. Paths that cannot
// stand on a line of their own (empty, a line break, a leading '#') are left out and logged.
// False when the write failed, when the list is marked noSave, or when another list in TrackLists
// owns the same file (names that differ only in characters a file name cannot hold); the status
// line then names the file and the cause, and NoteFailedWrite has it.
bool SaveList(const TrackList& list);
// SaveList and SaveLists write after any worker that holds the library files (WaitForLibraryFiles).
// SaveList for many lists at once (indexes into TrackLists, each once), with one flush for all
// of them (WriteFilesAtomic); the number of lists not saved.
size_t SaveLists(const std::vector<int>& indexes);
// What SaveLists writes, for a write on another thread: one file per list that may be saved;
// *refused counts the others (marked noSave, or their file shared with another list, logged).
// made: null, or per index the file's bytes made beforehand from the same paths (taken; an
// empty one is made here).
std::vector<FileWrite> ListFileWrites(const std::vector<int>& indexes, std::vector<std::string>* made,
                                      size_t* refused);
// The writes that failed, each logged with its reason.
size_t CountFailedWrites(const std::vector<FileWrite>& writes);
// "#EXTM3U" and one path per line, as SaveList writes them; a path whose name is not UTF-8 as a
// file URL with its bytes percent-encoded (LoadList reads it back). Paths that cannot stand on a
// line of their own are left out and logged under the list's name. *kept (when given): the paths written.
std::wstring M3uText(const std::wstring& listName, const std::vector<std::wstring>& paths, size_t* kept);
// The number of paths in the list.
size_t ListSize(const TrackList& list);
// The other list in TrackLists that saves to the same file as `name`, or -1.
int ListSharingFile(const std::wstring& name);

// --- Editing ---

// Makes, saves and shows a new empty list. Trailing spaces are dropped; an empty name does
// nothing. Refused with a status line when a list of that name (ignoring case) exists or when
// another list already saves to the same file. Returns the new list's index, or -1.
int CreateList(const std::wstring& name);
// Appends a path to list `index`, saves it, refreshes the browser when it shows that list and
// says "Added to <name>", or why it couldn't be saved. An index outside TrackLists does nothing.
void AddToList(int index, const std::wstring& path);

// --- Playlists from elsewhere ---

// The paths of the existing files and folders that an M3U or M3U8 playlist names, in its order:
// UTF-8, else Windows-1252 text; comments skipped; file URLs read by FileUrlToPath; relative paths joined
// to the playlist's folder; lexically normalised. Empty when the file cannot be read.
std::vector<std::wstring> ImportM3u(const std::wstring& playlistPath);

// The Automix list's length, 0 when the lists are not loaded.
size_t AutomixListSize();
// Takes the path at `index` (< AutomixListSize()) out of the Automix list, saves the list and
// refreshes the browser when it shows it.
std::wstring TakeFromAutomixList(size_t index);

// --- The browser's part ---

// What the browser does when a list changes (track_view.h's ShowList and RefreshShownList, which
// the shell sets). Unset hooks do nothing.
struct ListViewHookSet {
  void (*showList)(int index) = nullptr;     // show a list (a new one)
  void (*refreshList)(int index) = nullptr;  // show it again, keeping its scroll row, if shown
};
extern ListViewHookSet ListViewHooks;
