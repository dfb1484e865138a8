#pragma once
// The browser's sidebar (music folders, smart crates and track lists, each with its "+" button)
// and its search box. Both are drawn every frame by the browser and handle their own mouse input;
// menus and forms they open are deferred. Typed characters reach the search text through the
// window's character handler (app/keyboard.cpp). UI thread.
#include <cstdint>
#include <string>
#include <vector>

#include "ui/draw.h"

inline constexpr int32_t kSearchBoxId = 9;
inline constexpr int32_t kSearchClearId = 10;
inline constexpr int32_t kFoldersPlusId = 7;
inline constexpr int32_t kListsPlusId = 8;
inline constexpr int32_t kCratesPlusId = 57;
inline constexpr int32_t kFirstFolderRowId = 100;
inline constexpr int32_t kFirstListRowId = 500;
inline constexpr int32_t kFirstCrateRowId = 800;

// Where the sidebar's parts lie for the sidebar rectangle and the numbers of folders, crates and
// lists. When each section's rows fit its share of the height, the sections keep their shares.
// Otherwise the sections are stacked, each with all its rows, and scrolled up by `offset` (limited
// to what there is to scroll); then only the titles and rows wholly inside r are listed (a title
// out of view has an empty rectangle).
struct SidebarLayout {
  Rc foldersTitle, foldersPlus, cratesTitle, cratesPlus, listsTitle, listsPlus;
  Rc crateHint;  // empty unless there are no crates and it fits
  std::vector<Rc> folders, crates, lists;
  size_t firstFolder = 0, firstCrate = 0, firstList = 0;  // the item in each section's first listed row
  float offset = 0;     // how far the stacked sections are scrolled up
  float maxOffset = 0;  // 0 when the sections keep their shares
};
SidebarLayout LayOutSidebar(Rc r, size_t folders, size_t crates, size_t lists, float offset = 0);
// How far the sidebar is scrolled; the wheel over it moves it, and a newly shown folder, crate or
// list is scrolled into view.
extern float SidebarOffset;
// The label of a folder row: the last part of the path, or the whole path when that is empty.
std::wstring FolderLabel(const std::wstring& path);

// Draws the search box into r and handles its mouse input.
void DrawSearchBox(Rc r);
// Draws the sidebar into r; fills SidebarListRows with the list rows it drew.
void DrawSidebar(Rc r);

// --- Actions, also run by tests ---
// Removes music folder `index` (its records stay); a shown folder view moves to the folder now at
// the kept index, limited to the last; the settings are saved.
void RemoveMusicFolder(size_t index);
// Deletes crate `index` and saves the crates; while a crate is shown the first folder is shown.
void DeleteCrate(size_t index);
// The crate menu ("Edit…", "Delete") of crate `index` at the pointer.
void CrateMenu(size_t index);
// The "New playlist" form.
void NewPlaylistForm();
// The search box's clear button and Esc: empties the search text and filters again.
void ClearSearch();
