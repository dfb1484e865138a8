// The Library page: doors to the library's imports, the rekordbox export and the moved-files
// search (each starts a library job after the frame), and the browser's album-art switch.
#include "base/settings.h"
#include "screens/tag_forms.h"
#include "settings/pages/settings_pages.h"
#include "settings/settings_rows.h"
#include "ui/exchange_dialogs.h"
#include "ui/modal.h"

namespace {

constexpr float kActionWidthDip = 170.0f;
constexpr float kButtonRowStepDip = 32.0f;
constexpr float kAfterHintDip = 4.0f;
constexpr int32_t kExportId = 3036, kFindMovedId = 3035, kArtId = 3034;

struct ImportSource {
  int index;  // the importer's source number
  const wchar_t* label;
  const wchar_t* button;
  const wchar_t* hint;
  int32_t id;
};
// In the order shown.
constexpr ImportSource kSources[] = {
    {0, L"rekordbox", L"IMPORT XML\u2026", L"In rekordbox: File \u25B8 Export Collection in xml format", 3030},
    {2, L"Serato DJ", L"IMPORT LIBRARY\u2026", L"Choose the _Serato_ folder (usually in Music)", 3032},
    {3, L"Traktor", L"IMPORT NML\u2026", L"Documents \u25B8 Native Instruments \u25B8 collection.nml", 3037},
    {4, L"VirtualDJ", L"IMPORT DATABASE\u2026", L"Documents \u25B8 VirtualDJ \u25B8 database.xml", 3038},
    {1, L"iTunes / Music", L"IMPORT XML\u2026", L"In iTunes/Music: File \u25B8 Library \u25B8 Export Library", 3031},
};

// A labelled row with one action button; y moves past the button only.
bool ActionRow(std::wstring_view label, int32_t id, std::wstring_view button) {
  RowLabel(label);
  const bool clicked = RowButton(id, Cursor.controlX, kActionWidthDip, button, ColorOf(Pal.DeckA));
  Cursor.y += kButtonRowStepDip;
  return clicked;
}

}  // namespace

void DrawLibraryPage() {
  BeginColumn(0);
  SectionHeader(L"IMPORT FROM OTHER DJ SOFTWARE");
  for (const ImportSource& s : kSources) {
    if (ActionRow(s.label, s.id, s.button)) {
      const int index = s.index;
      QueueDeferredAction([index] { ImportLibraryDialog(index); });
    }
    ControlHelpLine(s.hint);
    Cursor.y += kAfterHintDip;
  }
  HelpLine(L"Playlists and crates become lists; beat grids, keys, ratings,");
  HelpLine(L"colours, hot cues, loops and memory cues are added to your");
  HelpLine(L"tracks. Your own cues are never overwritten.");

  BeginColumn(1);
  SectionHeader(L"EXPORT TO REKORDBOX");
  if (ActionRow(L"rekordbox", kExportId, L"EXPORT XML\u2026")) QueueDeferredAction([] { StartRekordboxExport(-1); });
  HelpLine(L"Grids, keys, ratings, colours, cues, loops, memory cues, lists.");
  HelpLine(L"In rekordbox: Preferences \u25B8 Advanced \u25B8 rekordbox xml.");
  SectionHeader(L"MISSING FILES");
  if (ActionRow(L"Relocate", kFindMovedId, L"FIND MOVED FILES\u2026")) QueueDeferredAction(FindMovedFiles);
  HelpLine(L"Moved your music? Pick the new folder: cues, grids and lists follow.");
  SectionHeader(L"BROWSER");
  RowLabel(L"Album art");
  ToggleRow(kArtId, L"HIDDEN", L"SHOWN", &Settings.Art);
  SectionHeader(L"SEARCH FILTERS");
  HelpLine(L"bpm:120-128   key:8A   rating:4+   plays:0   energy:>6");
  HelpLine(L"color:red  (right-click a track to colour it)");
  HelpLine(L"Type a search, then + beside SMART CRATES to keep it.");
}
