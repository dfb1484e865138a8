#include "broadcast/visualiser_toggle.h"

void ToggleVisualiser() {}
