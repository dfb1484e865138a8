#include "screens/list_menu.h"

#include "base/files.h"
#include "base/palette.h"
#include "base/status_message.h"
#include "engine/side_slots.h"
#include "library/analysis_queue.h"
#include "library/list_tools.h"
#include "library/mix_order.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "library/tracklist_text.h"
#include "platform/clock.h"
#include "screens/browser_seams.h"
#include "screens/tag_forms.h"
#include "ui/file_dialogs.h"
#include "ui/language.h"
#include "ui/modal.h"

namespace {

bool ValidList(int list) { return list >= 0 && static_cast<size_t>(list) < TrackLists.size(); }

TrackList& ListAt(int list) { return TrackLists[static_cast<size_t>(list)]; }

// After every change of the paths: saved, and shown again (scroll row kept) when it is shown.
// False when it couldn't be saved (the status line says why).
bool SaveAndRefresh(int list) {
  const bool saved = SaveList(ListAt(list));
  RefreshShownList(list);
  return saved;
}

void ImportPlaylist(int list) {
  const std::wstring file = ChoosePlaylistFile();
  if (file.empty()) return;
  // A playlist may name folders or devices; the list takes regular files only.
  const std::vector<std::wstring> found = RegularFilesOnly(ImportM3u(file));
  std::vector<std::wstring>& paths = ListAt(list).paths;
  paths.insert(paths.end(), found.begin(), found.end());
  if (!SaveAndRefresh(list)) return;
  if (found.empty()) ShowStatus(L"No playable files found in that playlist");
  else if (found.size() == 1) ShowStatus(L"Imported 1 track");
  else ShowStatus(UiFormat(L"Imported {} tracks", found.size()));
}

void Export(int list, bool m3u) {
  const TrackList& l = ListAt(list);
  const std::wstring file = m3u ? SaveFileDialog(L"Export playlist", l.name, L"M3U playlist", L"m3u8")
                                : SaveFileDialog(L"Export tracklist", l.name, L"Text file", L"txt");
  if (file.empty()) return;
  size_t written = l.paths.size();
  const std::wstring text = m3u ? M3uText(l.name, l.paths, &written) : TracklistText(l.paths);
  std::wstring error;
  if (!WriteUtf8File(file, text, &error)) ShowStatus(WriteFailedText(file, error));
  else if (written == 1) ShowStatus(L"Exported 1 track");
  else ShowStatus(UiFormat(L"Exported {} tracks", written));
}

void AskToDelete(const std::wstring& name) {
  ShowConfirmPrompt(
      L"Delete playlist",
      TranslateFormat(L"Delete the playlist “{}”?\n\nThe music itself stays where it is — only the list goes.", name),
      L"DELETE",
      L"CANCEL",
      [name] {
        const int removed = DeleteUserList(name);
        if (removed < 0) return;
        if (ViewKind == kViewList && ViewIndex >= removed) {
          ViewIndex = 0;
          ShowFolder();
        }
      },
      {}, L"!", Pal.Red);
}

}  // namespace

std::vector<PopupMenuEntry> ListMenuEntries(int list) {
  if (!ValidList(list)) return {};
  std::vector<PopupMenuEntry> menu = {
      MenuEntry(L"Import playlist (M3U) into this list…", kListImportM3u),
      MenuEntry(L"Export as M3U playlist…", kListExportM3u),
      MenuEntry(L"Export as text tracklist…", kListExportText),
      MenuEntry(L"Export for rekordbox (XML with cues)…", kListRekordbox),
      MenuSeparator(),
      MenuEntry(L"Mix order (keys, tempo, energy)", kListMixOrder),
      MenuEntry(L"Shuffle", kListShuffle),
      MenuEntry(L"Remove duplicates", kListRemoveDuplicates),
      MenuEntry(L"Find moved files (relocate)…", kListRelocate),
      MenuEntry(L"Remove missing files", kListRemoveMissing),
      MenuEntry(L"Analyze all", kListAnalyzeAll),
      MenuSeparator(),
      MenuEntry(L"Clear list", kListClear),
  };
  if (!ListAt(list).builtIn) menu.push_back(MenuEntry(L"Delete list", kListDelete));
  return menu;
}

void RunListMenuCommand(int list, const std::wstring& name, uint32_t id) {
  if (!ValidList(list) || ListAt(list).name != name) return;
  std::vector<std::wstring>& paths = ListAt(list).paths;
  switch (id) {
    case kListImportM3u: ImportPlaylist(list); break;
    case kListExportM3u: Export(list, true); break;
    case kListExportText: Export(list, false); break;
    case kListRekordbox: StartRekordboxExport(list); break;
    case kListMixOrder: MixOrderList(list); break;
    case kListShuffle:
      ShufflePaths(paths, static_cast<uint32_t>(MonotonicMs()));
      if (SaveAndRefresh(list)) ShowStatus(L"List shuffled");
      break;
    case kListRemoveDuplicates: {
      const size_t removed = RemoveDuplicatePaths(paths);
      if (SaveAndRefresh(list)) ShowStatus(CountText(removed, L"Removed 1 duplicate", L"Removed {} duplicates"));
      break;
    }
    case kListRelocate: FindMovedFiles(); break;
    case kListRemoveMissing: {
      const size_t removed = RemoveMissingPaths(paths);
      if (SaveAndRefresh(list)) ShowStatus(CountText(removed, L"Removed 1 missing file", L"Removed {} missing files"));
      break;
    }
    case kListAnalyzeAll: AnalysePaths(UnanalysedPaths(paths)); break;
    case kListClear:
      paths.clear();
      SaveAndRefresh(list);
      break;
    case kListDelete:
      if (!ListAt(list).builtIn) AskToDelete(name);
      break;
    default: break;
  }
}

void ListMenu(int list) {
  if (!ValidList(list)) return;
  const std::wstring name = ListAt(list).name;
  ShowPopupMenu(ListMenuEntries(list), DeckColour(SideSlots[kLeftSide]),
                [list, name](uint32_t id) { RunListMenuCommand(list, name, id); });
}
