#pragma once
// The settings pages drawn by DrawSettings, one per file in this folder; each is a sequence of
// the row calls of settings/settings_rows.h on the cursor DrawSettings set up. UI thread.
#include <cstdint>
#include <string>
#include <vector>

#include "base/ui_text.h"
#include "platform/audio_devices.h"

// Tab 0: outputs and channel pairs, the sound card's mode and state, microphone, recording, limiter.
void DrawAudioPage();
// Tab 1: cross-fader, colour FX, decks, stems, Automix and the timecode-vinyl turntables.
void DrawMixingPage();
// Tab 2: imports from other DJ programs, the rekordbox export, moved files, album art, search help.
void DrawLibraryPage();
// Tab 4: connected controllers, the layout, lights, jogs, auto-map, mapping presets, MIDI clock.
void DrawControllersPage();
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

// --- the Controllers page's mapping files (queued after the frame) ---

// Asks for a mapping file (".vxmap" or ".tsv"); one with at least one mapping replaces the table,
// leaves the ready-made layout and is kept as "<its name>.vxmap" in the Controllers folder. One
// that is not a mapping changes nothing and says so. False when cancelled or refused.
bool ImportMappingDialog();
// Asks where to write the mapping table as a ".vxmap" file. False when cancelled or not written.
bool ExportMappingDialog();
// --- shared by the Audio and Mixing pages ---

// A choice row over *index (ids id, id + 1...); true when a click changed it. Saves nothing: the
// caller stores the choice and saves. y += 40.
bool IndexChoiceRow(int id, const std::vector<std::wstring>& labels, int* index);
// A device stepper's index for the stored id: fixedEntries + the position of the last listed
// device with that id; 0 for an empty or unlisted id.
int DeviceChoiceIndex(const std::vector<AudioDevice>& devices, const std::wstring& id, int fixedEntries);
// The pair the headphones take on the master's device: 1 beside a master on 0, else 0.
int32_t HeadphonePairBesideMaster(int32_t masterPair);
// The Buffer row's choice for a stored buffer: 3, 5, 10, 20 ms; anything else shows 10 ms.
int BufferIndex(int32_t bufferMs);
// The Mic level row's choice: the level nearest the gain in whole percent, a tie to the lower.
int MicLevelIndex(float gain);
// The SOUND CARD status line, translated: "No sound card open" or "Now: ..." with the mode the
// card took.
std::wstring SoundCardStatus();
// True while the card runs in another mode than [Audio] Latency asks for: it wouldn't take more.
bool SoundCardRefusedMode();
// The Transition length row's choice for a stored MixLen; anything unlisted shows 8 s.
int MixLenIndex(int32_t seconds);
// A turntable's record speed for the readout: "no timecode", or the whole percentage with "%".
UiText RecordSpeedText(int deck);
