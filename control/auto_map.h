#pragma once
// The controller auto-map wizard, a full-screen overlay. Until it is built it never opens.
// UI thread.

extern bool AutoMapOpen;
// Draws and handles the wizard while AutoMapOpen is set.
void DrawAutoMap();
