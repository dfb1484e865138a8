#pragma once
// The per-frame tick: every piece of per-frame housekeeping, in one fixed order, run once per
// frame whether or not the frame is drawn. UI thread.
#include <cstdint>

#include "ui/knobs.h"

inline constexpr uint64_t kFirstUpdateCheckDelayMs = 20000;  // after the first tick
inline constexpr int kUpdatedNoticeMs = 6000;

// What the tick keeps from one tick to the next.
struct TickMemory {
  bool keepAwake = false;         // the last answer handed to KeepAwake
  bool updateNoticeDone = false;  // the once-per-process update notice has run
};
extern TickMemory AppTickMemory;

// The tick, in this order: side slots back to A/B without four decks; sync-lock follow;
// cross-fader glide; DemoTick; SnapshotDecks; phrase cache; Automix, now playing (with the
// library autosave), karaoke, pad recording, remote state, macros, timecode speed; keep-awake;
// outside test mode the update notice (first tick) and the automatic update check; the
// self-test step. Frame calls it before drawing; DriveFrame calls it when nothing is drawn.
void AppTick();
// The same at `nowMs` on the MonotonicMs clock.
void AppTickAt(uint64_t nowMs);
