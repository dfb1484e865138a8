#pragma once
// Ready-made layouts for popular MIDI DJ controllers: when a matching input is connected the
// layout replaces the controller mapping (after a backup of the user's own), with the lights and
// jog resolution of that hardware. UI thread.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct ControllerPreset {
  std::wstring name;                                  // also [Midi] Layout while in use
  std::vector<std::wstring> matchKeys;                // normalised fragments of device names
  std::vector<std::pair<uint32_t, uint32_t>> rows;    // (MappingKey, mapping value), in order
  uint32_t ledOn = 127;
  uint32_t ledOff = 0;
  uint32_t jogTicks = 720;
};

// The three layouts, built once.
const std::vector<ControllerPreset>& ControllerPresets();
// Upper case without spaces, hyphens and underscores.
std::wstring NormaliseControllerName(const std::wstring& name);
// The first layout one of whose keys occurs in the normalised name; null for none.
const ControllerPreset* FindControllerPreset(const std::wstring& deviceName);
// Replaces every non-keyboard mapping with the layout's rows, sets [Midi] Layout, LedOn, LedOff
// and JogTicks, resends every light and saves the mapping and the settings.
void ApplyControllerPreset(const ControllerPreset& preset);
// The name of the backup written before a layout replaces the user's own mapping.
inline constexpr const wchar_t* kLayoutBackupName = L"My mapping (before the ready-made layout).vxmap";
// Run by every controller scan: the first open MIDI input with a layout gets it, unless the
// user's own mapping holds 6 or more controller rows or AutoLayouts is off. The user's own rows
// are backed up first whenever they differ from the layout in use.
void ApplyPresetForDevices(bool announce);
// The same over the given input names (in device order).
void ApplyPresetForDevices(bool announce, const std::vector<std::wstring>& inputs);
