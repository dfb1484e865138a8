#include "control/macros.h"

void TickMacros() {}
