#pragma once
// The audio device lists the settings screen offers; refilled by whoever opens the screen, so
// the screen itself never enumerates devices while it draws. UI thread.
#include <vector>

#include "platform/audio_devices.h"

extern std::vector<AudioDevice> SettingsOutputDevices;  // render devices
extern std::vector<AudioDevice> SettingsInputDevices;   // capture devices
