#include "control/macros_panel.h"

bool MacrosPanelOpen = false;

void DrawMacros() {}
