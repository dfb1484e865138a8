#include "ui/active_control.h"

int32_t ActiveControlId = kNoActiveControl;
float DragStartValue = 0.0f;
float DragStartCoord = 0.0f;
