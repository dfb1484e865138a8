#pragma once
// The help screen, a full-screen overlay. Until it is built it never opens. UI thread.

extern bool HelpOpen;
// Draws and handles the help screen while HelpOpen is set.
void DrawHelp();
