#include "screens/library_menus.h"

#include <array>

#include "base/palette.h"
#include "engine/side_slots.h"
#include "library/crates.h"
#include "library/track_view.h"
#include "ui/file_dialogs.h"
#include "ui/modal.h"

namespace {

constexpr uint32_t kFirstSortItem = 1;
constexpr int kSortItemToColumn = 6;  // item k sorts by key k + 6
constexpr std::array<const wchar_t*, 5> kSortItemNames = {
    L"Sort by genre", L"Sort by play count", L"Sort by last played", L"Sort by date added", L"Sort by colour"};
constexpr size_t kCrateNameField = 0;
constexpr size_t kCrateSearchField = 1;

std::vector<ModalField> CrateFields(const std::wstring& name, const std::wstring& search) {
  return {ModalField{.label = L"Name", .value = name}, ModalField{.label = L"Search", .value = search}};
}

}  // namespace

std::vector<PopupMenuEntry> SortMenuEntries() {
  std::vector<PopupMenuEntry> menu;
  for (uint32_t id = kFirstSortItem; id <= kSortItemNames.size(); ++id)
    menu.push_back(
        MenuEntry(kSortItemNames[id - 1], id, false, SortColumn == static_cast<int>(id) + kSortItemToColumn));
  menu.push_back(MenuSeparator());
  menu.push_back(MenuEntry(SortAscending ? L"Reverse order (now ascending)" : L"Reverse order (now descending)",
                           kSortMenuReverseId));
  return menu;
}

void RunSortMenuCommand(uint32_t id) {
  if (id >= kFirstSortItem && id <= kSortItemNames.size())
    SortView(static_cast<int>(id) + kSortItemToColumn, id == kFirstSortItem);
  else if (id == kSortMenuReverseId)
    SortView(SortColumn, !SortAscending);
}

void SortMenu() { ShowPopupMenu(SortMenuEntries(), DeckColour(SideSlots[kLeftSide]), RunSortMenuCommand); }

void NewCrate() {
  OpenModal(L"New smart crate", CrateFields(L"", SearchText), L"CREATE", [](const std::vector<ModalField>& fields) {
    CreateCrate(fields[kCrateNameField].value, fields[kCrateSearchField].value);
  });
}

void EditCrate(int index) {
  if (index < 0 || index >= static_cast<int>(SmartCrates.size())) return;
  const SmartCrate& crate = SmartCrates[static_cast<size_t>(index)];
  OpenModal(L"Edit smart crate", CrateFields(crate.name, crate.search), L"SAVE",
            [index](const std::vector<ModalField>& fields) {
              UpdateCrate(index, fields[kCrateNameField].value, fields[kCrateSearchField].value);
            });
}

void AddMusicDirDialog() {
  const std::wstring folder = PickFolderDialog(L"Add a music folder", L"");
  if (!folder.empty()) AddMusicDir(folder);
}
