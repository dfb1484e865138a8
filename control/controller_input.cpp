#include "control/controller_input.h"

std::set<int32_t> heldIds;
bool ControllerShiftHeld = false;
