#pragma once
// Drawing the settings screen (its open flag and page are in settings/settings_screen.h).
// UI thread.

// Draws and handles the settings screen while SettingsOpen is set; nothing until it is built.
void DrawSettings();
