#pragma once
// The settings pages drawn by DrawSettings, one per file in this folder; each is a sequence of
// the row calls of settings/settings_rows.h on the cursor DrawSettings set up. UI thread.
#include <string>

// Tab 2: imports from other DJ programs, the rekordbox export, moved files, album art, search help.
void DrawLibraryPage();
// Tab 4: connected controllers, the layout, lights, jogs, auto-map, mapping presets, MIDI clock.
void DrawControllersPage();
// Tab 5: theme, layout, waveforms, deck art, language, the visualiser and the skin.
void DrawLookPage();

// --- the Look page's skin dialogs (queued after the frame) ---

// Asks for a ".vxskin" file and copies it into the Skins folder under its own name; a file that
// is not a skin (over 64 KiB, or without one colour line) is refused and nothing changes.
// Selects the imported skin. False when cancelled or refused.
bool ImportSkinDialog();
// Asks where to save the current colours as a skin file named after [Look] Skin. False when
// cancelled or the file could not be written (reported).
bool ExportSkinDialog();

// --- the Controllers page's mapping files (queued after the frame) ---

// Asks for a mapping file (".vxmap" or ".tsv"); one with at least one mapping replaces the table,
// leaves the ready-made layout and is kept as "<its name>.vxmap" in the Controllers folder. One
// that is not a mapping changes nothing and says so. False when cancelled or refused.
bool ImportMappingDialog();
// Asks where to write the mapping table as a ".vxmap" file. False when cancelled or not written.
bool ExportMappingDialog();
