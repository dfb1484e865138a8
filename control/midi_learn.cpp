#include "control/midi_learn.h"

#include "base/status_message.h"
#include "base/ui_text.h"
#include "control/control_ids.h"
#include "control/dispatcher.h"
#include "control/mapping_table.h"

bool midiLearnOn = false;
int32_t midiLearnTarget = 0;
std::set<int32_t> mappedControlIds;

namespace {

constexpr int kNoteOn = 0x90, kControlChange = 0xB0, kPitchBend = 0xE0;
constexpr int kLearnStatusMs = 2800;
constexpr int32_t kJogWidget = 2;  // k of a side's jog wheel

uint32_t BrowseKnobKey = 0;
uint32_t BrowsePushKey = 0;
uint32_t LastController = 0;  // key of the last controller below 32 seen, + 1 (0 = none)

void Store(uint32_t key, int32_t target) {
  MappingTable[key] = static_cast<uint32_t>(target);
  mappedControlIds.insert(target);
  SaveMidiMap();
}

void LearnBrowse(uint32_t key, int type, int value) {
  if (type == kControlChange && BrowseKnobKey == 0) {
    Store(key, kBrowseKnobWidget);
    BrowseKnobKey = key;
    ShowStatus(BrowsePushKey == 0 ? L"Browse knob mapped \u2014 now push it down to map loading"
                                  : L"Browse knob mapped",
               kLearnStatusMs);
  } else {
    const bool pushed = (type == kNoteOn && value >= 1) || (type == kControlChange && value >= 64);
    if (!pushed || BrowsePushKey != 0 || key == BrowseKnobKey) return;
    Store(key, kBrowsePushWidget);
    BrowsePushKey = key;
    ShowStatus(BrowseKnobKey != 0 ? L"Browse push mapped \u2014 it loads the selected track"
                                  : L"Browse push mapped \u2014 now turn the knob",
               kLearnStatusMs);
  }
  if (BrowseKnobKey != 0 && BrowsePushKey != 0) BrowseKnobKey = BrowsePushKey = 0, midiLearnTarget = 0;
}

}  // namespace

void ResetMidiLearn() { BrowseKnobKey = BrowsePushKey = LastController = 0; }

void MidiLearnAssign(uint32_t key) {
  const bool shiftLayer = IsShiftHeld() && midiLearnTarget != kShiftWidget;
  if (shiftLayer) key |= kShiftLayerFlag;
  Store(key, midiLearnTarget);
  ShowStatus(shiftLayer ? L"Mapped on the SHIFT layer \u2014 click another control, or MIDI to finish"
                        : L"Mapped \u2014 click another control, or MIDI to finish",
             kLearnStatusMs);
  midiLearnTarget = 0;
}

void LearnMidiInput(uint32_t key, int type, int data1, int value) {
  if (midiLearnTarget == kBrowseKnobWidget) {
    LearnBrowse(key, type, value);
    return;
  }
  BrowseKnobKey = BrowsePushKey = 0;
  if (midiLearnTarget == 0) return;
  if (type == kControlChange) {
    if (data1 >= 32 && data1 < 64 && LastController != 0 && key == LastController - 1 + 32) return;
    if (data1 < 32) LastController = key + 1;
  }
  for (int side = 0; side < 2; ++side) {
    if (midiLearnTarget != kDeckWidgetBase + kDeckWidgetSideStep * side + kJogWidget || type != kNoteOn) continue;
    if (value == 0) return;
    MappingTable[key] = static_cast<uint32_t>(DeckControl(side, kJogTouchOffset));
    SaveMidiMap();
    ShowStatus(L"Jog touch mapped \u2014 now turn the jog wheel", kLearnStatusMs);
    return;
  }
  if (type == kNoteOn ? value < 1 : type != kControlChange && type != kPitchBend) return;
  MidiLearnAssign(key);
}

std::wstring DescribeMidiKey(uint32_t key) {
  const uint32_t type = (key >> 16) & 0xF0;
  const int channel = static_cast<int>((key >> 8) & 0x0F) + 1;
  // Message names as the controller's manual writes them: not translated.
  const std::wstring ch = L" \u00b7 ch " + std::to_wstring(channel);
  if (type == kPitchBend) return L"pitch bend" + ch;
  return (type == kNoteOn ? L"note " : L"CC ") + std::to_wstring(key & 0x7F) + ch;
}
