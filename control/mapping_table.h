#pragma once
// The one controller mapping table: MIDI messages, HID report fields and keyboard keys (each a
// MappingKey) map to a target, a ControlId or a widget id, in the low 16 bits of the value; bit 16
// inverts. Saved after every change as "midi.tsv" in the data folder and exchanged as ".vxmap"
// files in the "Controllers" folder: one "key<TAB>value<LF>" line per mapping, ascending keys.
// UI thread.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Marks a mapping key as a keyboard key (the virtual-key code is the low byte).
inline constexpr uint32_t kKeyboardMappingFlag = 0xF00000;
inline constexpr uint32_t kVirtualKeyMask = 0xFF;
inline constexpr uint32_t kHidMappingType = 0xF2;
inline constexpr uint32_t kShiftLayerFlag = 0x80000000u;  // the SHIFT-layer twin of a key
inline constexpr uint32_t kInvertedMapping = 0x10000;     // value bit: absolute 1 - v, relative -delta
inline constexpr uint32_t kMappingTargetMask = 0xFFFF;

// The mapping key of a keyboard key.
constexpr uint32_t MappingKey(int virtualKey) {
  return (static_cast<uint32_t>(virtualKey) & kVirtualKeyMask) | kKeyboardMappingFlag;
}
// The mapping key of a MIDI message: type (0x90 notes on and off, 0xB0, 0xE0) << 16 | channel << 8
// | data byte 1 (0 for pitch bend).
constexpr uint32_t MidiMappingKey(uint32_t type, uint32_t channel, uint32_t data1) {
  return (type & 0xF0) << 16 | (channel & 0x0F) << 8 | (data1 & 0x7F);
}
constexpr bool IsKeyboardKey(uint32_t key) { return ((key >> 16) & 0x7FFF) == 0xF0; }
constexpr bool IsHidKey(uint32_t key) { return ((key >> 16) & 0xFF) == kHidMappingType; }
constexpr int32_t MappingTarget(uint32_t value) { return static_cast<int32_t>(value & kMappingTargetMask); }

// MappingKey -> mapping value, ascending keys.
using MappingPairs = std::map<uint32_t, uint32_t>;
extern MappingPairs MappingTable;

// The value for a physical control: with SHIFT held the SHIFT-layer key first, then the key.
std::optional<uint32_t> FindMapping(uint32_t key);
// Rebuilds the mapped-targets set (mappedControlIds) from the table.
void RebuildMappedTargets();

// The pairs of a mapping file's text: whitespace-separated unsigned decimals, key then value,
// each line read up to the first thing that is not such a number (a dangling key is dropped);
// the next line is read all the same.
std::vector<std::pair<uint32_t, uint32_t>> ParseMappingPairs(std::string_view text);
// The file's text as written: "key<TAB>value<LF>" per mapping, ascending keys.
std::string MappingFileText(const MappingPairs& table);

// Start-up: the table becomes the file's pairs (empty when it cannot be read); the mapped targets
// and the light cache start over.
void LoadMidiMap(const std::wstring& path);
// An import chosen by the user: a file with at least one pair replaces the whole table (keyboard
// bindings included) and is saved; an unreadable or pairless file keeps the table (and midi.tsv)
// and says "That file isn't a controller mapping". True when the table was replaced.
bool ImportMidiMap(const std::wstring& path);
// Writes the table crash-safe (".tmp", then rename); false, with a log line, on failure.
bool WriteMidiMapFile(const std::wstring& path);
// The data folder's "midi.tsv".
std::wstring MidiMapPath();
// Writes the table to midi.tsv (not in test mode); a failed write is reported on the status line.
// True when written (or in test mode).
bool SaveMidiMap();
// The data folder's "Controllers", created when missing (errors ignored).
std::wstring ControllersFolder();
// Names (without ".vxmap") of the ".vxmap" files directly in ControllersFolder, in listing order.
std::vector<std::wstring> ListControllerMaps();
