#include "settings/settings_screen.h"

bool SettingsOpen = false;
int32_t SettingsPage = 0;
