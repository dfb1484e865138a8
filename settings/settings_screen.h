#pragma once
// The settings screen: its open flag and page, read by the frame and the top bar; the audio
// device lists it offers, refilled by whoever opens the screen so it never enumerates devices
// while it draws; and drawing it. UI thread.
#include <cstdint>
#include <vector>

#include "platform/audio_devices.h"

inline constexpr int32_t kSettingsPageBroadcast = 3;
inline constexpr int32_t kSettingsPageKaraoke = 6;  // its camera preview keeps the camera running

extern bool SettingsOpen;
extern int32_t SettingsPage;  // 0..9

extern std::vector<AudioDevice> SettingsOutputDevices;  // render devices
extern std::vector<AudioDevice> SettingsInputDevices;   // capture devices

// Draws and handles the settings screen while SettingsOpen is set; nothing until it is built.
void DrawSettings();
