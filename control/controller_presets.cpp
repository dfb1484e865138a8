#include "control/controller_presets.h"

#include <algorithm>
#include <cwctype>
#include <initializer_list>

#include "base/log.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "control/action_table.h"
#include "control/control_ids.h"
#include "control/controller_leds.h"
#include "control/mapping_table.h"
#include "control/midi_devices.h"
#include "engine/audio_routing.h"
#include "platform/folders.h"

namespace {

constexpr uint32_t kNote = 0x90, kCc = 0xB0;
constexpr int kBuiltInRows = 6;  // a user mapping this large is never replaced by a layout

// Adds rows for a side: the same controls on each of the side's channels (counted from 1).
class RowBuilder {
 public:
  explicit RowBuilder(ControllerPreset* preset) : preset_(preset) {}
  void Add(uint32_t type, int channel, uint32_t data1, int32_t target, bool inverted = false) {
    const uint32_t value = static_cast<uint32_t>(target) | (inverted ? kInvertedMapping : 0);
    preset_->rows.emplace_back(MidiMappingKey(type, static_cast<uint32_t>(channel - 1), data1), value);
  }
  // data1 values in step with deck offsets, on each of the channels of each side.
  void Deck(uint32_t type, std::initializer_list<int> left, std::initializer_list<int> right,
            std::initializer_list<uint32_t> data1, std::initializer_list<int32_t> offsets, bool inverted = false) {
    for (int side = 0; side < 2; ++side)
      for (int channel : side == 0 ? left : right) {
        auto offset = offsets.begin();
        for (uint32_t d : data1) Add(type, channel, d, DeckControl(side, *offset++), inverted);
      }
  }
  // A run of `count` data1 values from first, mapped to offsets from firstOffset.
  void Run(uint32_t type, std::initializer_list<int> left, std::initializer_list<int> right, uint32_t first,
           int count, int32_t firstOffset) {
    for (int side = 0; side < 2; ++side)
      for (int channel : side == 0 ? left : right)
        for (int i = 0; i < count; ++i)
          Add(type, channel, first + static_cast<uint32_t>(i), DeckControl(side, firstOffset + i));
  }

 private:
  ControllerPreset* preset_;
};

// The controllers' own SHIFT+SYNC buttons do what SHIFT+SYNC does on screen.
int32_t ShiftedSync() { return ShiftedDeckOffset(kSyncOffset, true); }

ControllerPreset Numark() {
  ControllerPreset p{.name = L"Numark Party Mix / Mixtrack", .matchKeys = {L"PARTYMIX", L"MIXTRACK", L"DJ2GO"},
                     .ledOn = 127, .ledOff = 1, .jogTicks = 720};
  RowBuilder b(&p);
  b.Deck(kNote, {1, 3}, {2, 4}, {0, 1, 2, 3, 4, 5},
         {kPlayOffset, kCueOffset, kSyncOffset, ShiftedSync(), kPlayFromCueOffset, kCueOffset});
  b.Deck(kNote, {1, 3}, {2, 4}, {6, 7, 11, 12, 27},
         {kJogTouchOffset, kVinylOffset, kBendUpOffset, kBendDownOffset, kHeadphoneCueOffset});
  b.Deck(kCc, {1, 3}, {2, 4}, {6}, {kJogOffset});
  b.Deck(kCc, {1, 3}, {2, 4}, {9}, {kPitchOffset}, true);
  b.Deck(kCc, {1, 3}, {2, 4}, {22, 23, 24, 25, 26, 28},
         {kGainOffset, kHighOffset, kMidOffset, kLowOffset, kFilterOffset, kVolumeOffset});
  b.Deck(kNote, {1}, {2}, {80, 84, 70, 72, 71, 73},
         {kJogTouchOffset, kHeadphoneCueOffset, kAcapellaOffset, kInstrumentalOffset, kPadModeOffset + 3,
          kPadModeOffset + 7});
  b.Deck(kCc, {1}, {2}, {43}, {kJogSearchOffset});
  b.Deck(kNote, {5, 7}, {6, 8}, {0}, {kPadModeStepOffset});
  b.Run(kNote, {5, 7}, {6, 8}, 20, 8, kPadOffset);
  b.Run(kNote, {5}, {6}, 28, 8, kClearHotCueOffset);
  for (uint32_t note : {2u, 4u, 72u}) b.Add(kNote, 16, note, DeckControl(0, kLoadOffset));
  for (uint32_t note : {3u, 5u, 73u}) b.Add(kNote, 16, note, DeckControl(1, kLoadOffset));
  b.Add(kCc, 16, 0, kBrowseControl);
  b.Add(kCc, 16, 8, kCrossfaderControl);
  b.Add(kCc, 16, 10, kMasterLevelControl);
  b.Add(kCc, 16, 12, kHeadphoneLevelControl);
  b.Add(kCc, 16, 13, kHeadphoneMixControl);
  for (uint32_t note : {0u, 6u, 7u}) b.Add(kNote, 16, note, kBrowsePushControl);
  b.Add(kNote, 16, 70, kGlideControl);
  b.Add(kNote, 16, 71, kAutomixControl);
  return p;
}

ControllerPreset Pioneer() {
  ControllerPreset p{.name = L"Pioneer DJ DDJ-400 / DDJ-FLX4", .matchKeys = {L"DDJ400", L"DDJFLX4"},
                     .ledOn = 127, .ledOff = 0, .jogTicks = 720};
  RowBuilder b(&p);
  b.Deck(kNote, {1}, {2}, {11, 12, 71, 72, 88, 92, 96, 84},
         {kPlayOffset, kCueOffset, kCensorOffset, kPlayFromCueOffset, kSyncOffset, ShiftedSync(),
          kPitchRangeOffset, kHeadphoneCueOffset});
  b.Deck(kNote, {1}, {2}, {54, 103, 16, 17, 77, 80, 81, 83},
         {kJogTouchOffset, kJogTouchOffset, kLoopInOffset, kLoopOutOffset, kReloopOffset, kReloopOffset,
          kLoopHalfOffset, kLoopDoubleOffset});
  b.Deck(kNote, {1}, {2}, {62, 61}, {kBeatJumpOffset + 1, kBeatJumpOffset + 6});
  b.Deck(kCc, {1}, {2}, {33, 34, 35, 41}, {kJogOffset, kJogTouchedOffset, kJogSearchOffset, kJogSearchOffset});
  b.Deck(kCc, {1}, {2}, {0}, {kPitchOffset}, true);
  b.Deck(kCc, {1}, {2}, {19, 4, 7, 11, 15}, {kVolumeOffset, kGainOffset, kHighOffset, kMidOffset, kLowOffset});
  for (int channel : {1, 2}) {
    b.Add(kNote, channel, 63, kShiftControl);
    b.Add(kNote, channel, 104, kQuantizeControl);
  }
  b.Add(kCc, 7, 23, DeckControl(0, kFilterOffset));
  b.Add(kCc, 7, 24, DeckControl(1, kFilterOffset));
  b.Add(kNote, 7, 70, DeckControl(0, kLoadOffset));
  b.Add(kNote, 7, 71, DeckControl(1, kLoadOffset));
  b.Add(kCc, 7, 64, kBrowseControl);
  b.Add(kCc, 7, 31, kCrossfaderControl);
  b.Add(kCc, 7, 12, kHeadphoneMixControl);
  b.Add(kCc, 7, 13, kHeadphoneLevelControl);
  b.Add(kNote, 7, 65, kBrowsePushControl);
  b.Run(kNote, {8}, {10}, 0, 8, kHotCueOffset);
  b.Run(kNote, {9}, {11}, 0, 8, kClearHotCueOffset);
  b.Run(kNote, {8}, {10}, 32, 8, kBeatJumpOffset);
  b.Run(kNote, {8}, {10}, 48, 8, kSamplerOffset);
  b.Run(kNote, {8}, {10}, 96, 8, kBeatLoopOffset);
  b.Run(kNote, {9}, {11}, 96, 8, kLoopRollOffset);
  return p;
}

ControllerPreset Hercules() {
  ControllerPreset p{.name = L"Hercules DJControl Inpulse", .matchKeys = {L"INPULSE"}, .ledOn = 127, .ledOff = 0,
                     .jogTicks = 248};
  RowBuilder b(&p);
  b.Deck(kNote, {2}, {3}, {7, 6, 5, 12, 13, 3, 8, 9, 10},
         {kPlayOffset, kCueOffset, kSyncOffset, kHeadphoneCueOffset, kLoadOffset, kVinylOffset, kJogTouchOffset,
          kBeatLoopOffset + 4, kReloopOffset});
  b.Deck(kCc, {2}, {3}, {0, 1, 2, 3, 4, 5},
         {kVolumeOffset, kFilterOffset, kLowOffset, kMidOffset, kHighOffset, kGainOffset});
  b.Deck(kCc, {2}, {3}, {8}, {kPitchOffset}, true);
  b.Deck(kCc, {2}, {3}, {9, 10}, {kJogOffset, kJogTouchedOffset});
  b.Deck(kNote, {5}, {6}, {12, 8, 5, 6, 7, 9, 10},
         {kHeadphoneCueOffset, kJogTouchOffset, ShiftedSync(), kPlayFromCueOffset, kPlayFromCueOffset,
          kLoopHalfOffset, kLoopDoubleOffset});
  b.Deck(kCc, {5}, {6}, {9, 10}, {kJogSearchOffset, kJogSearchOffset});
  b.Add(kNote, 1, 0, kBrowsePushControl);
  b.Add(kNote, 1, 3, kAutomixControl);
  b.Add(kCc, 1, 0, kCrossfaderControl);
  b.Add(kCc, 1, 1, kBrowseControl);
  b.Add(kCc, 4, 1, kBrowseControl);
  b.Run(kNote, {7}, {8}, 0, 8, kHotCueOffset);
  b.Run(kNote, {7}, {8}, 8, 8, kClearHotCueOffset);
  b.Run(kNote, {7}, {8}, 16, 4, kLoopRollOffset + 3);
  b.Run(kNote, {7}, {8}, 32, 3, kEffectOnOffset);
  for (int i = 0; i < 4; ++i) {
    b.Add(kNote, 7, 48 + static_cast<uint32_t>(i), DeckControl(0, kSamplerOffset + i));
    b.Add(kNote, 8, 48 + static_cast<uint32_t>(i), DeckControl(1, kSamplerOffset + 4 + i));
  }
  return p;
}

// The table's controller rows (keyboard keys left out), in key order.
std::vector<std::pair<uint32_t, uint32_t>> ControllerRows(const MappingPairs& table) {
  std::vector<std::pair<uint32_t, uint32_t>> rows;
  for (const auto& row : table)
    if (!IsKeyboardKey(row.first)) rows.push_back(row);
  return rows;
}

// The rows a layout leaves in a table that held only keyboard keys.
std::vector<std::pair<uint32_t, uint32_t>> LayoutRows(const ControllerPreset& preset) {
  MappingPairs table;
  for (const auto& [key, value] : preset.rows) table[key] = value;
  return ControllerRows(table);
}

const ControllerPreset* PresetNamed(const std::wstring& name) {
  for (const ControllerPreset& preset : ControllerPresets())
    if (preset.name == name) return &preset;
  return nullptr;
}

}  // namespace

const std::vector<ControllerPreset>& ControllerPresets() {
  static const std::vector<ControllerPreset> presets = {Numark(), Pioneer(), Hercules()};
  return presets;
}

std::wstring NormaliseControllerName(const std::wstring& name) {
  std::wstring out;
  out.reserve(name.size());
  for (wchar_t c : name)
    if (c != L' ' && c != L'-' && c != L'_') out += static_cast<wchar_t>(std::towupper(c));
  return out;
}

const ControllerPreset* FindControllerPreset(const std::wstring& deviceName) {
  const std::wstring normalised = NormaliseControllerName(deviceName);
  for (const ControllerPreset& preset : ControllerPresets())
    for (const std::wstring& key : preset.matchKeys)
      if (normalised.find(key) != std::wstring::npos) return &preset;
  return nullptr;
}

void ApplyControllerPreset(const ControllerPreset& preset) {
  std::erase_if(MappingTable, [](const auto& row) { return !IsKeyboardKey(row.first); });
  for (const auto& [key, value] : preset.rows) MappingTable[key] = value;
  RebuildMappedTargets();
  Settings.MidiLayout = preset.name;
  Settings.LedOn = static_cast<int32_t>(preset.ledOn);
  Settings.LedOff = static_cast<int32_t>(preset.ledOff);
  Settings.JogTicks = static_cast<int32_t>(preset.jogTicks);
  ClearControllerLedCache();
  SaveMidiMap();
  SaveSettings();
}

void ApplyPresetForDevices(bool announce) { ApplyPresetForDevices(announce, MidiInputNames()); }

void ApplyPresetForDevices(bool announce, const std::vector<std::wstring>& inputs) {
  const ControllerPreset* preset = nullptr;
  std::wstring device;
  for (const std::wstring& name : inputs) {
    if ((preset = FindControllerPreset(name)) != nullptr) {
      device = name;
      break;
    }
  }
  if (!preset) return;
  if (preset->name == Settings.MidiLayout) {
    if (announce) ShowStatus(UiFormat(L"{} connected \u2014 ready to play", device), 4000);
    return;
  }
  const std::vector<std::pair<uint32_t, uint32_t>> own = ControllerRows(MappingTable);
  const size_t ownCount = Settings.MidiLayout.empty() ? own.size() : 0;
  if (!Settings.AutoLayouts || ownCount >= kBuiltInRows) {
    if (announce)
      ShowStatus(UiFormat(L"{} connected \u2014 its ready-made layout is in Settings \u25B8 CONTROLLERS", device), 6000);
    return;
  }
  // Rows the user changed after a layout was applied count as their own too: back them up.
  const ControllerPreset* inUse = PresetNamed(Settings.MidiLayout);
  const bool userRows = !own.empty() && (!inUse || own != LayoutRows(*inUse));
  if (userRows && !TestMode) {
    if (!WriteMidiMapFile(JoinPath(ControllersFolder(), kLayoutBackupName))) {
      ShowStatus(L"Couldn't back up your mapping \u2014 the ready-made layout was not loaded", 6000);
      return;
    }
  }
  ApplyControllerPreset(*preset);
  WriteLog(L"Controller layout: {} for {}", preset->name, device);
  if (Settings.Master.empty() && AutoPickOutput(device, false)) {
    ShowStatus(UiFormat(L"{} ready \u2014 layout loaded; main out and headphones on the {}", device, device), 7000);
  } else {
    ShowStatus(UiFormat(L"{} connected \u2014 {} layout loaded, ready to play", device, preset->name), 6000);
  }
}
