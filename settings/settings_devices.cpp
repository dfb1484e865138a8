#include "settings/settings_devices.h"

std::vector<AudioDevice> SettingsOutputDevices;
std::vector<AudioDevice> SettingsInputDevices;
