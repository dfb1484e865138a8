#pragma once
// The settings pages drawn by DrawSettings, one per file in this folder; each is a sequence of
// the row calls of settings/settings_rows.h on the cursor DrawSettings set up. UI thread.
#include <string>

// Tab 2: imports from other DJ programs, the rekordbox export, moved files, album art, search help.
void DrawLibraryPage();
// Tab 3: the audio stream's server, live video, both streams' GO LIVE, the speed check, the
// phone remote.
void DrawBroadcastPage();
// Tab 8: this build, the automatic-check switch and the update status card.
void DrawUpdatesPage();
// Tab 5: theme, layout, waveforms, deck art, language, the visualiser and the skin.
void DrawLookPage();
// Tab 6: the karaoke screen's look, the singer camera, vocals, break music, online lyrics, the
// karaoke screen's button and the camera preview.
void DrawKaraokePage();
// Tab 7: the video window, transition, effect, titles, a live preview, what REC records.
void DrawVideoPage();

// --- the Look page's skin dialogs (queued after the frame) ---

// Asks for a ".vxskin" file and copies it into the Skins folder under its own name; a file that
// is not a skin (over 64 KiB, or without one colour line) is refused and nothing changes.
// Selects the imported skin. False when cancelled or refused.
bool ImportSkinDialog();
// Asks where to save the current colours as a skin file named after [Look] Skin. False when
// cancelled or the file could not be written (reported).
bool ExportSkinDialog();
