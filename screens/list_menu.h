#pragma once
// The right-click menu of a track list in the browser's sidebar: import and export, reordering and
// cleaning, clearing and deleting the list. Call from a deferred action. UI thread.
#include <cstdint>
#include <string>
#include <vector>

#include "ui/popup_menu.h"

// The list menu's command ids.
enum ListMenuCommand : uint32_t {
  kListClear = 1, kListDelete = 2, kListImportM3u = 3, kListExportM3u = 4, kListExportText = 5,
  kListShuffle = 6, kListRemoveDuplicates = 7, kListRemoveMissing = 8, kListAnalyzeAll = 9,
  kListRekordbox = 10, kListRelocate = 11, kListMixOrder = 12,
};

// The entries for list `list` ("Delete list" only for a user list); empty for an invalid index.
std::vector<PopupMenuEntry> ListMenuEntries(int list);
// Runs command `id` on list `list`, which must still be named `name` (the lists may have changed
// while the menu was open); otherwise nothing happens.
void RunListMenuCommand(int list, const std::wstring& name, uint32_t id);
// Shows the menu of list `list` at the pointer.
void ListMenu(int list);
