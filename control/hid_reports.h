#pragma once
// HID controller reports to control events: each report is compared with the previous report of
// the same report id from the same device, and the changed bits and bytes drive the mappings whose
// keys are HID keys (report id << 24 | 0xF2 << 16 | byte position << 4 | field kind). While MIDI
// learn is on, the changes go to learning instead. UI thread.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One input report of one device; byte 0 is the report id (0 for devices without numbered reports).
struct HidReport {
  uint32_t device = 0;
  std::vector<uint8_t> bytes;
};

struct HidByteChange {
  uint32_t position;
  uint8_t oldValue, newValue;
};
struct HidBitChange {
  uint32_t position, bit;
  uint8_t oldBit, newBit;
};
struct HidChanges {
  std::vector<HidByteChange> bytes;
  std::vector<HidBitChange> bits;  // positions ascending, bits 0 to 7
  bool Empty() const { return bytes.empty(); }
};

// What one device has reported: the last report per id, and per byte position when it last
// changed and how often in a row (changes less than a second apart).
struct HidHistory {
  std::vector<uint8_t> lastReport[64];
  std::map<uint32_t, uint64_t> changedAtMs;
  std::map<uint32_t, uint32_t> changeCount;
  std::map<uint32_t, uint32_t> largestRaw;  // per HID key, the largest raw value seen
};

// Field kinds: 0-7 one bit, 8 one byte, 9 two bytes (little-endian), 10 a one-byte counter,
// 11 a two-byte counter, 12-15 one byte as 8.
constexpr uint32_t HidMappingKey(uint32_t reportId, uint32_t position, uint32_t kind) {
  return (reportId & 63) << 24 | 0xF2u << 16 | (position & 0xFFF) << 4 | (kind & 0xF);
}

// The WM_APP+16 handler. Reports shorter than 2 bytes are ignored; the first report of an id (or
// one of a new length) only becomes the reference.
void OnHidReport(const HidReport& report);
// Same, with the time of arrival given (tests drive the change counts with it).
void OnHidReportAt(const HidReport& report, uint64_t nowMs);
// Empties the report history of every device (every controller rescan).
void ClearHidHistory();
// Learns the control of midiLearnTarget from one report's changes (byte positions that change
// constantly are skipped).
void HidLearn(const HidHistory& history, uint32_t reportId, const HidChanges& changes);

// Whether an enumerated HID device is a DJ controller: not a mouse, keyboard, system control,
// consumer control or digitizer; a DJ maker's vendor id, or a DJ word in its name.
bool IsHidControllerCandidate(uint16_t vendorId, uint32_t usagePage, uint32_t usage,
                              uint32_t inputReportLength, const std::wstring& manufacturer,
                              const std::wstring& product);
