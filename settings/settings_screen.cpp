#include "settings/settings_screen.h"

bool SettingsOpen = false;
int32_t SettingsPage = 0;
std::vector<AudioDevice> SettingsOutputDevices;
std::vector<AudioDevice> SettingsInputDevices;

void DrawSettings() {}
