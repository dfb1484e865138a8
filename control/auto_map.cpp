#include "control/auto_map.h"

bool AutoMapOpen = false;

void DrawAutoMap() {}

void AutoMapMidiInput(unsigned, int, int, int) {}
