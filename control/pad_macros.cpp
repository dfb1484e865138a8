#include "control/pad_macros.h"

void RunPadMacro(int) {}
