#pragma once
// The settings screen's open flag and page, read by the frame and the top bar. UI thread.
#include <cstdint>

inline constexpr int32_t kSettingsPageBroadcast = 3;
inline constexpr int32_t kSettingsPageKaraoke = 6;  // its camera preview keeps the camera running

extern bool SettingsOpen;
extern int32_t SettingsPage;  // 0..9
