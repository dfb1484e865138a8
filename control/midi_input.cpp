#include "control/midi_input.h"

#include <cstring>

#include "control/auto_map.h"
#include "control/control_ids.h"
#include "control/dispatcher.h"
#include "control/mapping_table.h"
#include "control/midi_learn.h"

namespace {

constexpr int kNoteOff = 0x80, kNoteOn = 0x90, kControlChange = 0xB0, kPitchBend = 0xE0;
constexpr int kPairedControllers = 32;  // controllers 0-31 pair with 32-63
constexpr float kFourteenBitMax = 16383.0f;

// 14-bit pairing per channel and controller 0-31; cleared with the mappings.
uint8_t Paired[16][kPairedControllers];
uint8_t Msb[16][kPairedControllers];
uint8_t Lsb[16][kPairedControllers];

void ApplyValue(int32_t target, float value, bool inverted) {
  ApplyMappedControl(static_cast<uint16_t>(target), ValueEvent(inverted ? 1.0f - value : value));
}

}  // namespace

int32_t DecodeRelativeMidi(int x) {
  x &= 0x7F;
  if (x >= 56 && x <= 72) return x - 64;
  return x < 64 ? x : x - 128;
}

void ClearMidiPairing() {
  std::memset(Paired, 0, sizeof Paired);
  std::memset(Msb, 0, sizeof Msb);
  std::memset(Lsb, 0, sizeof Lsb);
}

void OnMidiMessage(uint32_t packed) {
  const int status = packed & 0xFF;
  const int type = status & 0xF0;
  const int channel = status & 0x0F;
  const int d1 = (packed >> 8) & 0x7F;
  const int d2 = (packed >> 16) & 0x7F;
  if (type != kNoteOff && type != kNoteOn && type != kControlChange && type != kPitchBend) return;

  float precise = -1.0f;
  if (type == kPitchBend) {
    precise = static_cast<float>(d2 << 7 | d1) / kFourteenBitMax;
  } else if (type == kControlChange && d1 < kPairedControllers) {
    Msb[channel][d1] = static_cast<uint8_t>(d2);
    if (Paired[channel][d1]) precise = static_cast<float>(d2 * 128 + Lsb[channel][d1]) / kFourteenBitMax;
  }
  const int x = type == kNoteOff ? 0 : d2;
  const uint32_t key = MidiMappingKey(type == kNoteOff ? kNoteOn : type, channel, type == kPitchBend ? 0 : d1);

  if (AutoMapOpen) {
    AutoMapMidiInput(key, type, d1, x);
    return;
  }
  if (midiLearnOn) {
    const auto mapping = FindMapping(key);
    const int32_t target = mapping ? MappingTarget(*mapping) : 0;
    if ((target == kShiftWidget || target == kShiftControl) && midiLearnTarget != kShiftWidget)
      ApplyMappedControl(static_cast<uint16_t>(target), x != 0 ? PressEvent() : ReleaseEvent());
    else
      LearnMidiInput(key, type, d1, x);
    return;
  }

  const auto mapping = FindMapping(key);
  if (type == kControlChange && d1 >= kPairedControllers && d1 < 2 * kPairedControllers && !mapping) {
    // The least significant half of a 14-bit controller whose own key is unmapped.
    const int msb = d1 - kPairedControllers;
    const auto partner = FindMapping(key - kPairedControllers);
    if (!partner || GetBindingKind(MappingTarget(*partner)) != kAbsoluteControl) return;
    Paired[channel][msb] = 1;
    Lsb[channel][msb] = static_cast<uint8_t>(d2);
    ApplyValue(MappingTarget(*partner), static_cast<float>(Msb[channel][msb] << 7 | d2) / kFourteenBitMax,
               (*partner & kInvertedMapping) != 0);
    return;
  }
  if (!mapping) return;
  const int32_t target = MappingTarget(*mapping);
  const bool inverted = (*mapping & kInvertedMapping) != 0;
  switch (GetBindingKind(target)) {
    case kAbsoluteControl:
      ApplyValue(target, precise >= 0.0f ? precise : static_cast<float>(x) / 127.0f, inverted);
      return;
    case kRelativeControl: {
      if (type != kControlChange) return;
      const int32_t delta = DecodeRelativeMidi(x);
      ApplyMappedControl(static_cast<uint16_t>(target), DeltaEvent(inverted ? -delta : delta));
      return;
    }
    case kButtonControl: {
      const bool press = (type == kControlChange && x >= 64) || (type == kPitchBend && precise >= 0.5f) ||
                         (type == kNoteOn && x > 0);
      ApplyMappedControl(static_cast<uint16_t>(target), press ? PressEvent() : ReleaseEvent());
      return;
    }
  }
}
