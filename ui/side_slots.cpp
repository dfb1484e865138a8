#include "ui/side_slots.h"

int32_t SideSlots[2] = {0, 1};
