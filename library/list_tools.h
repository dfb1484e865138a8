#pragma once
// What the list menu does to a track list's paths: shuffling, dropping repeats and missing files,
// removing one clicked entry, taking an imported playlist's files, deleting a user list. Each works
// on the paths only; saving and showing the list again is the caller's. UI thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "library/track_lists.h"

// Permutes the paths with MT19937 seeded with `seed`: for k from 1 to n - 1 a uniform j in 0..k
// is swapped with k.
void ShufflePaths(std::vector<std::wstring>& paths, uint32_t seed);
// Keeps each path the first time its PathKey is met, in order; returns how many went.
size_t RemoveDuplicatePaths(std::vector<std::wstring>& paths);
// Removes the paths the system reports as certainly not there (ENOENT, ENOTDIR); a path whose
// state cannot be read (no permission, an I/O error) stays. Returns how many went.
size_t RemoveMissingPaths(std::vector<std::wstring>& paths);
// Removes the entry at `position` only while it still is `path` (the list may have changed since
// the row was clicked). True when removed.
bool RemovePathAt(std::vector<std::wstring>& paths, size_t position, const std::wstring& path);
// The paths that name regular files (folders, devices and dead links dropped), in order.
std::vector<std::wstring> RegularFilesOnly(const std::vector<std::wstring>& paths);
// Deletes the user list (index kBuiltInListCount on) of exactly this name: its file is removed
// and the list taken out of TrackLists. Returns its former index, or -1 when there is none or its
// file couldn't be deleted (the list is kept and the status line says why).
int DeleteUserList(const std::wstring& name);
