#pragma once
// The main window's full screen (F11). The placement rules shared with the second-screen windows
// are in platform/screen_placement.h.
#include "platform/screen_placement.h"

// F11 for the main window: full screen on its monitor, or back to exactly the earlier placement.
void ToggleFullScreen();
// Whether the main window is in full screen now.
bool MainWindowFullScreen();
