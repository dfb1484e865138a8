#include "ui/active_control.h"

int32_t ActiveControlId = kNoActiveControl;
