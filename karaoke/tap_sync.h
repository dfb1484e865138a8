#pragma once
// Timing lyrics by tapping: while it runs, each tap (T) stamps the deck's play position on the
// next lyric line; after the last line the words count as synced and go to the lyrics cache.
// UI thread.
#include <cstdint>

inline constexpr int32_t kTapSyncOff = -1;
inline constexpr int kTapSyncHintMs = 6000;
inline constexpr wchar_t kTapSyncedSource[] = L"tap-synced in Veldmix";

// The line the next tap stamps; kTapSyncOff while tap sync is off.
extern int32_t TapSyncIndex;
// The deck tap sync runs on; -1 when off.
extern int32_t TapSyncDeck;

// Starts tap sync on the deck's lyrics from the first line; says why not when there are none.
void StartTapSync(int deck);
// Stamps the deck's play position on line TapSyncIndex and moves on; ends quietly when the deck's
// lyrics no longer fit. Only the tapped line loses its word timing.
void TapSyncLine();
// Ends tap sync without a word; the lines tapped so far keep their times.
void StopTapSync();
