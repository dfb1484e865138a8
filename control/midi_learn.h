#pragma once
// What the widgets read of MIDI learn and the mapping table: the learn switch, the control
// chosen to be mapped, and the controls that already have a mapping; and learning itself, from
// MIDI messages and (through the HID reports) from HID controls. UI thread.
#include <cstdint>
#include <set>
#include <string>

inline constexpr int32_t kBrowseKnobWidget = 31;
inline constexpr int32_t kBrowsePushWidget = 32;

// Learn mode: widgets ignore the mouse, mark themselves and become the target when clicked.
extern bool midiLearnOn;
// The widget id the next incoming controller control is mapped to; 0 = none, 31 = the browse knob.
extern int32_t midiLearnTarget;
// The ControlIds that have a controller mapping.
extern std::set<int32_t> mappedControlIds;
// A MIDI message while learn is on (other than the mapped SHIFT): maps it to midiLearnTarget.
// The browse knob learns turn and push, the jog touch and turn; 14-bit partners are skipped.
void LearnMidiInput(uint32_t key, int type, int data1, int value);
// Stores one learned mapping (on the SHIFT layer while SHIFT is held) and clears the target.
void MidiLearnAssign(uint32_t key);
// "note 36 · ch 1", "CC 7 · ch 2", "pitch bend · ch 1".
std::wstring DescribeMidiKey(uint32_t key);
// Forgets the half-learned browse knob and the last controller (tests, a new learn session).
void ResetMidiLearn();
