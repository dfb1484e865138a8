#include "ui/exchange_dialogs.h"

#include "library/import_worker.h"
#include "library/rekordbox_export.h"
#include "library/track_lists.h"
#include "platform/folders.h"
#include "ui/file_dialogs.h"

namespace {

struct ChooserRow {
  const wchar_t* title;
  const wchar_t* filterName;  // empty: a folder picker
  const wchar_t* pattern;
};

constexpr ChooserRow kChoosers[kImportSourceCount] = {
    {.title = L"Choose your rekordbox.xml (in rekordbox: File \u25b8 Export Collection in xml format)",
     .filterName = L"Rekordbox XML", .pattern = L"*.xml"},
    {.title = L"Choose your iTunes / Music \u201cLibrary.xml\u201d (File \u25b8 Library \u25b8 Export Library)",
     .filterName = L"Library XML", .pattern = L"*.xml"},
    {.title = L"Choose your _Serato_ folder", .filterName = L"", .pattern = L""},
    {.title = L"Choose Traktor's collection.nml (Documents \u25b8 Native Instruments \u25b8 Traktor \u2026)",
     .filterName = L"Traktor collection", .pattern = L"*.nml"},
    {.title = L"Choose VirtualDJ's database.xml (Documents \u25b8 VirtualDJ)", .filterName = L"VirtualDJ database",
     .pattern = L"database.xml;*.xml"},
};

constexpr const wchar_t* kSeratoFolderName = L"_Serato_";

const ChooserRow& ChooserOf(int source) {
  return kChoosers[source >= 0 && source < kImportSourceCount ? source : static_cast<int>(kImportSerato)];
}

}  // namespace

std::wstring ImportChooserTitle(int source) { return ChooserOf(source).title; }

bool ImportLibraryDialog(int source) {
  if (source < 0 || source >= kImportSourceCount) source = kImportSerato;
  const ChooserRow& row = ChooserOf(source);
  std::wstring path;
  if (source == kImportSerato) {
    const std::wstring music = MusicFolder();
    path = PickFolderDialog(row.title, music.empty() ? std::wstring() : JoinPath(music, kSeratoFolderName));
  } else {
    path = OpenFileDialog(row.title, row.filterName, row.pattern);
  }
  if (path.empty()) return false;
  return StartImport(static_cast<uint32_t>(source), path);
}

bool StartRekordboxExport(int list) {
  if (list >= static_cast<int>(TrackLists.size())) return false;
  const std::wstring name = list < 0 ? std::wstring(L"rekordbox") : TrackLists[static_cast<size_t>(list)].name;
  const std::wstring target = SaveFileDialog(L"Export for rekordbox", name, L"rekordbox XML", L"xml");
  if (target.empty()) return false;
  return StartExportJob(list, target);
}
