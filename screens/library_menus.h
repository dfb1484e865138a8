#pragma once
// The browser's sort menu, the smart-crate forms and the music-folder picker. Each opens a menu,
// a form or a dialog; call them from a deferred action, never inside the frame. UI thread.
#include <cstdint>
#include <vector>

#include "ui/popup_menu.h"

inline constexpr uint32_t kSortMenuReverseId = 6;  // ids 1-5 sort by genre .. colour

// --- Sort menu ---
// "Sort by" genre, play count, last played, date added and colour (the current one ticked), a
// separator and the reverse item naming the current direction.
std::vector<PopupMenuEntry> SortMenuEntries();
// Item 1-5 sorts by that key (genre ascending, the others descending); the reverse item flips the
// direction; either rebuilds the view.
void RunSortMenuCommand(uint32_t id);
// Shows the sort menu at the pointer.
void SortMenu();

// --- Smart crates ---
// "New smart crate": the name (empty) and the search box text; CREATE makes and shows the crate.
void NewCrate();
// "Edit smart crate" for crate `index` (nothing for an invalid one); SAVE updates it.
void EditCrate(int index);

// --- Music folders ---
// "Add a music folder": the chosen folder is added and shown; cancelling changes nothing.
void AddMusicDirDialog();
