#include "control/auto_map.h"

bool AutoMapOpen = false;

void DrawAutoMap() {}

void AutoMapMidiInput(uint32_t, int, int, int) {}
