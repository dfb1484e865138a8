#pragma once
// The macros panel, a full-screen overlay. Until it is built it never opens. UI thread.

extern bool MacrosPanelOpen;
// Draws and handles the panel while MacrosPanelOpen is set.
void DrawMacros();
