#include "control/timecode.h"

void ApplyTimecodeSpeed() {}
