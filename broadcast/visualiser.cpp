#include "broadcast/visualiser.h"

bool VisualiserWindowOpen = false;

void ToggleVisualiser() {}
