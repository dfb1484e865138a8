#include "control/midi_learn.h"

bool midiLearnOn = false;
int32_t midiLearnTarget = 0;
std::set<int32_t> mappedControlIds;

void LearnMidiInput(uint32_t, int, int, int) {}
