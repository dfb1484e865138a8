#pragma once
// What the widgets read of MIDI learn and the mapping table: the learn switch, the control
// chosen to be mapped, and the controls that already have a mapping. The learn and mapping code
// keeps them; widgets only set the target when clicked in learn mode. UI thread.
#include <cstdint>
#include <set>

// Learn mode: widgets ignore the mouse, mark themselves and become the target when clicked.
extern bool midiLearnOn;
// The ControlId the next incoming controller control is mapped to; 0 = none, 31 = the browse knob.
extern int32_t midiLearnTarget;
// The ControlIds that have a controller mapping.
extern std::set<int32_t> mappedControlIds;
// A MIDI message while learn is on (other than the mapped SHIFT): maps it to midiLearnTarget;
// nothing until learning from controllers is built.
void LearnMidiInput(uint32_t key, int type, int data1, int value);
