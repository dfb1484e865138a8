#pragma once
// The controller mapping table as the keyboard uses it: a keyboard key stands in it as its
// MappingKey and maps to a ControlId, like a controller button. Until the controller code reads
// and writes the mapping file the table starts empty and is not saved. UI thread.
#include <cstdint>
#include <map>

// Marks a mapping key as a keyboard key (the virtual-key code is the low byte).
inline constexpr uint32_t kKeyboardMappingFlag = 0xF00000;
inline constexpr uint32_t kVirtualKeyMask = 0xFF;

// The mapping key of a keyboard key.
constexpr uint32_t MappingKey(int virtualKey) {
  return (static_cast<uint32_t>(virtualKey) & kVirtualKeyMask) | kKeyboardMappingFlag;
}

// MappingKey -> ControlId.
extern std::map<uint32_t, int32_t> MappingTable;

// Writes the table to midi.tsv (not in test mode); nothing until the mapping file exists.
void SaveMidiMap();
