// The Controllers page: what is connected, the ready-made layout, lights and jog wheels, the
// auto-map wizard, the user's mapping presets (.vxmap files in the Controllers folder) and the
// MIDI clock output.
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "base/settings.h"
#include "base/status_message.h"
#include "base/ui_text.h"
#include "control/auto_map.h"
#include "control/controller_devices.h"
#include "control/controller_leds.h"
#include "control/controller_presets.h"
#include "control/mapping_table.h"
#include "control/midi_clock.h"
#include "control/midi_devices.h"
#include "control/midi_input.h"
#include "engine/deck_view.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "settings/mapping_preset.h"
#include "settings/pages/settings_pages.h"
#include "settings/settings_rows.h"
#include "settings/settings_screen.h"
#include "ui/file_dialogs.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/widgets.h"

namespace {

namespace fs = std::filesystem;

constexpr int32_t kLayoutId = 3180, kAutoLayoutsId = 3182, kLedsId = 3060, kClearId = 80;
constexpr int32_t kVinylId = 3184, kJogFeelId = 3186, kFlipPitchId = 3190, kAutoMapId = 3646;
constexpr int32_t kSavePresetId = 3062, kImportId = 3063, kExportId = 3064, kClockId = 3066;
constexpr int32_t kFirstLoadId = 3070, kFirstDeleteId = 3090;

constexpr float kActionWidthDip = 170.0f;
constexpr float kAutoMapWidthDip = 240.0f, kAutoMapHeightDip = 34.0f, kAutoMapTextSize = 11.0f;
constexpr float kAfterAutoMapDip = 44.0f, kAfterOwnHelpDip = 8.0f;
constexpr float kSavePresetWidthDip = 150.0f, kFileButtonWidthDip = 110.0f;
constexpr float kImportDx = 158.0f, kExportDx = 276.0f, kAfterPresetButtonsDip = 44.0f;
constexpr int kMaxPresetRows = 6;
constexpr float kPresetNameRoomDip = 180.0f, kPresetRowStepDip = 34.0f;
constexpr float kLoadWidthDip = 80.0f, kLoadDx = 170.0f, kDeleteWidthDip = 84.0f;
constexpr float kPresetButtonHeightDip = 28.0f, kPresetButtonTextSize = 10.0f, kConnectedTextSize = 12.5f;
constexpr int kPresetListRefreshFrames = 60;  // files added by hand show within about a second

const std::vector<std::wstring> kJogFeelLabels = {L"LIGHT", L"NORMAL", L"HEAVY"};

// The preset names, listed again now and then rather than reading the folder every frame.
struct PresetList {
  std::vector<std::wstring> names;
  int framesLeft = 0;
};
PresetList Presets;

const std::vector<std::wstring>& PresetNames() {
  if (--Presets.framesLeft <= 0) {
    Presets.names = ListControllerMaps();
    Presets.framesLeft = kPresetListRefreshFrames;
  }
  return Presets.names;
}

std::wstring PresetPath(const std::wstring& name) { return JoinPath(ControllersFolder(), name + L".vxmap"); }

// After a mapping was loaded from a file the user is on their own mapping.
void LeaveReadyMadeLayout() {
  Settings.MidiLayout.clear();
  SaveSettings();
}

void ClearMappings() {
  MappingTable.clear();
  RebuildMappedTargets();
  ClearControllerLedCache();
  ClearMidiPairing();
  Settings.MidiLayout.clear();
  SaveMidiMap();
  SaveSettings();
}

void LoadPreset(const std::wstring& name) {
  if (!ImportMidiMap(PresetPath(name))) return;
  LeaveReadyMadeLayout();
  ShowStatus(UiFormat(L"Loaded \u201c{}\u201d", name));
}

void DeletePreset(const std::wstring& name) {
  std::error_code ignored;
  fs::remove(fs::path(PathToBytes(PresetPath(name))), ignored);
  Presets.framesLeft = 0;
}

void ConnectedRow() {
  RowLabel(L"Connected");
  std::wstring text;
  for (const std::wstring& name : MidiInputDevices) text += (text.empty() ? L"" : L", ") + name;
  for (const std::wstring& name : HidDeviceNames()) text += (text.empty() ? L"" : L", ") + name + L" (HID)";
  const Rc r{Cursor.controlX, Cursor.y, Cursor.controlWidth, kSettingsRowHeightDip};
  if (text.empty())
    DrawText(L"None \u2014 plug one in (no restart needed)", r, kConnectedTextSize, ColorOf(Pal.Dim), kAlignLeft, false,
             kFontSegoeUi);
  else
    DrawTextAsIs(text, r, kConnectedTextSize, ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
  Cursor.y += kSettingsRowStepDip;
}

void LayoutRow() {
  const std::vector<ControllerPreset>& layouts = ControllerPresets();
  int index = 0;
  for (size_t i = 0; i < layouts.size(); ++i)
    if (layouts[i].name == Settings.MidiLayout) index = static_cast<int>(i) + 1;
  RowLabel(L"Layout");
  const std::wstring shown = index == 0 ? std::wstring(L"Your own (MIDI learn)") : layouts[index - 1].name;
  if (!StepperRow(kLayoutId, shown, &index, static_cast<int>(layouts.size()) + 1)) return;
  if (index == 0) {
    LeaveReadyMadeLayout();
    ShowStatus(L"Your own mapping: change anything with MIDI learn");
  } else {
    ApplyControllerPreset(layouts[index - 1]);
    ShowStatus(UiFormat(L"Ready-made layout loaded: {}", layouts[index - 1].name));
  }
}

void ControllerRows() {
  SectionHeader(L"CONTROLLERS");
  ConnectedRow();
  LayoutRow();
  RowLabel(L"When plugged in");
  ToggleRow(kAutoLayoutsId, L"KEEP MY MAPPING", L"LOAD ITS LAYOUT", &Settings.AutoLayouts);
  RowLabel(L"Button lights");
  ToggleRow(kLedsId, L"OFF", L"FOLLOW THE SCREEN", &Settings.Leds);
  RowLabel(TranslateFormat(L"{} mapped", MappingTable.size()));
  if (RowButton(kClearId, Cursor.controlX, kActionWidthDip, L"CLEAR MAPPINGS", ColorOf(Pal.Red))) ClearMappings();
  Cursor.y += kSettingsRowStepDip;
}

void JogRows() {
  SectionHeader(L"JOG WHEELS");
  RowLabel(L"Touching the top");
  if (ToggleRow(kVinylId, L"BENDS ONLY", L"SCRATCHES (VINYL)", &Settings.Vinyl))
    for (DeckView& view : LiveDeckViews) view.vinylMode = Settings.Vinyl;
  RowLabel(L"Scratch feel");
  ChoiceRow(kJogFeelId, kJogFeelLabels, &Settings.JogFeel);
  RowLabel(L"Pitch faders");
  ToggleRow(kFlipPitchId, L"AS MAPPED", L"FLIPPED", &Settings.FlipPitch);
  HelpLine(L"VINYL on each deck switches scratching per deck. Faster with the");
  HelpLine(L"pitch fader down? Flip it here.");
}

void PresetRows() {
  SectionHeader(L"MAPPING YOUR OWN");
  HelpLine(L"Click MIDI in the top bar, click a control on screen, then move or");
  HelpLine(L"press it on your controller. Click the jog to map its touch and turn;");
  HelpLine(L"click the track list to map the browse knob (turn, then push).");
  HelpLine(L"SHIFT: map it, then hold it while you press a button in MIDI learn");
  HelpLine(L"to give that button a second job. Keyboard keys work in learn too.");
  Cursor.y += kAfterOwnHelpDip;
  if (RowButton(kSavePresetId, Cursor.columnX, kSavePresetWidthDip, L"SAVE AS PRESET\u2026", ColorOf(Pal.DeckA)))
    QueueDeferredAction([] {
      SaveMappingPresetDialog();
      Presets.framesLeft = 0;
    });
  if (RowButton(kImportId, Cursor.columnX + kImportDx, kFileButtonWidthDip, L"IMPORT\u2026", ColorOf(Pal.Text)))
    QueueDeferredAction([] { ImportMappingDialog(); });
  if (RowButton(kExportId, Cursor.columnX + kExportDx, kFileButtonWidthDip, L"EXPORT\u2026", ColorOf(Pal.Text)))
    QueueDeferredAction([] { ExportMappingDialog(); });
  Cursor.y += kAfterPresetButtonsDip;

  const std::vector<std::wstring>& names = PresetNames();
  for (int i = 0; i < kMaxPresetRows && i < static_cast<int>(names.size()); ++i) {
    const std::wstring& name = names[i];
    DrawTextAsIs(name, Rc{Cursor.columnX, Cursor.y, Cursor.columnWidth - kPresetNameRoomDip, kSettingsRowHeightDip},
                 kConnectedTextSize, ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
    if (Button(kFirstLoadId + i,
               Rc{Cursor.columnRight - kLoadDx, Cursor.y, kLoadWidthDip, kPresetButtonHeightDip}, L"LOAD",
               ColorOf(Pal.DeckA), false, kPresetButtonTextSize))
      QueueDeferredAction([name] { LoadPreset(name); });
    if (Button(kFirstDeleteId + i,
               Rc{Cursor.columnRight - kDeleteWidthDip, Cursor.y, kDeleteWidthDip, kPresetButtonHeightDip}, L"DELETE",
               ColorOf(Pal.Red), false, kPresetButtonTextSize))
      QueueDeferredAction([name] { DeletePreset(name); });
    Cursor.y += kPresetRowStepDip;
  }
}

void ClockRows() {
  SectionHeader(L"MIDI CLOCK OUT");
  const std::vector<std::wstring> outputs = MidiOutputNames();
  int index = MidiClockOutput() + 1;
  if (index > static_cast<int>(outputs.size())) index = 0;
  RowLabel(L"Send clock to");
  const std::wstring shown = index == 0 ? std::wstring(L"Off") : outputs[index - 1];
  if (StepperRow(kClockId, shown, &index, static_cast<int>(outputs.size()) + 1)) {
    Settings.ClockOut = index == 0 ? std::wstring() : outputs[index - 1];
    Midi::ClockTo();
    SaveSettings();
  }
  HelpLine(outputs.empty() ? L"No MIDI outputs found \u2014 connect a device (or a virtual MIDI port)."
                           : L"Drum machines, synths and apps follow the deck on air, beat-locked.");
}

}  // namespace

void DrawControllersPage() {
  BeginColumn(0);
  ControllerRows();
  JogRows();

  BeginColumn(1);
  SectionHeader(L"AUTO-MAP");
  if (Button(kAutoMapId, Rc{Cursor.columnX, Cursor.y, kAutoMapWidthDip, kAutoMapHeightDip}, L"AUTO-MAP MY CONTROLLER",
             ColorOf(Pal.Green), false, kAutoMapTextSize))
    QueueDeferredAction([] {
      SettingsOpen = false;
      StartAutoMap();
    });
  Cursor.y += kAfterAutoMapDip;
  HelpLine(L"Press or move each control when asked \u2014 about two minutes.");
  PresetRows();
  ClockRows();
}

bool ImportMappingDialog() {
  const std::wstring path = OpenFileDialog(L"Import a controller mapping", L"Veldmix mapping", L"*.vxmap;*.tsv");
  if (path.empty() || !ImportMidiMap(path)) return false;
  LeaveReadyMadeLayout();
  // Kept as a preset under the file's own name; a preset imported from its own place stays as it is.
  const fs::path from(PathToBytes(path));
  const fs::path to(PathToBytes(PresetPath(PathFromBytes(from.stem().native()))));
  std::error_code same;
  bool kept = true;
  if (!fs::equivalent(from, to, same)) {
    std::string bytes;
    std::wstring why = L"the file couldn't be read again";
    kept = ReadBytes(path, &bytes) == ReadStatus::Ok && WriteBytesAtomic(PathFromBytes(to.native()), bytes, &why);
    if (!kept) ShowStatus(UiFormat(L"Couldn't keep a copy in the Controllers folder: {}", UiText(why)));
  }
  Presets.framesLeft = 0;
  if (kept)
    ShowStatus(CountText(MappingTable.size(), L"Mapping imported: 1 control", L"Mapping imported: {} controls"));
  return true;
}

bool ExportMappingDialog() {
  const std::wstring path = SaveFileDialog(L"Export controller mapping", L"My mapping", L"Veldmix mapping", L"vxmap");
  if (path.empty()) return false;
  if (!WriteMidiMapFile(path)) {
    ShowStatus(L"Couldn't export the mapping");
    return false;
  }
  ShowStatus(L"Mapping exported");
  return true;
}
