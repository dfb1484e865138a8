#pragma once
// The About page (tab 9 of the settings screen). UI thread.
#include "ui/draw.h"

// Draws and handles the About page in the area the settings frame gives it (below the header).
void DrawAbout(Rc area);
