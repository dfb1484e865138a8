#pragma once
// What the main screen shows, folded into one number: the frame's input, the decks as the
// snapshot holds them, the deck views, meters, pulses, clocks, the status line, banners and the
// top bar's lights and counters. Two equal numbers mean the screen would draw the same pixels,
// apart from what moves with time on its own (blinks, travelling lights, open overlays), which
// asks for its redraw as it draws (ui/frame_driver.h RedrawAt). UI thread.
#include <cstdint>

#include "base/track.h"
#include "ui/frame_driver.h"

// The signature at nowMs (MonotonicMs): cheap, no drawing, no allocation. It leaves out what the
// parts below show.
uint64_t MainScreenSignature(uint64_t nowMs);

// Parts of the main screen that change alone, often, while the rest stays (the frame driver's
// part numbers, ui/frame_driver.h NotePartDrawn): what each shows, folded the same way.
// In the library layout, what a playing deck moves and the top bar's spectrum are parts too: the
// browser under them and the other deck stay as they were. Its lane moves every frame; its slim
// deck, side light and the top bar's pulse only when the pulse steps, the time shown changes by a
// tenth or the overview's playhead by a pixel, so they are a part of their own. Elsewhere the
// whole frame shows them.
enum ScreenPart : int {
  kLoadMeterPart = 0,  // the top bar's audio load, dropout count and dot
  kSpectrumPart,       // the top bar's mix spectrum (library layout)
  kDeckMotionPart,     // + deck: its lane and the phase meter (library layout)
  kSidePanelPart = kDeckMotionPart + kEngineDecks,  // + side: its slim deck and light, the top bar's pulse
  kScreenParts = kSidePanelPart + 2
};
uint64_t ScreenPartSignature(int part, uint64_t nowMs);

// What the browser's area shows (rows, scroll, selection, search, columns, the sidebar, the
// toolbar's words, the prelisten strip, which decks hold which tracks, the status line, the
// input), folded the same way: while it stays, a frame may keep that area's pixels
// (ui/frame_driver.h StillAreaBox).
uint64_t BrowserSignature(uint64_t nowMs);
static_assert(kScreenParts <= kMaxScreenParts);
