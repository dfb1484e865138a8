#pragma once
// Timing lyrics by tapping: while it runs, each tap stamps the playback time on the next lyric
// line. UI thread.
#include <cstdint>

inline constexpr int32_t kTapSyncOff = -1;

// The line the next tap stamps; kTapSyncOff while tap sync is off.
extern int32_t TapSyncIndex;

// Stamps the current playback time on line TapSyncIndex; nothing until lyric timing exists.
void TapSyncLine();
