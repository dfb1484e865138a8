#include "control/midi_clock.h"

std::unique_ptr<MidiClockSender> MidiClock;
