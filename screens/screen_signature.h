#pragma once
// What the main screen shows, folded into one number: the frame's input, the decks as the
// snapshot holds them, the deck views, meters, pulses, clocks, the status line, banners and the
// top bar's lights and counters. Two equal numbers mean the screen would draw the same pixels,
// apart from what moves with time on its own (blinks, travelling lights, open overlays), which
// asks for its redraw as it draws (ui/frame_driver.h RedrawAt). UI thread.
#include <cstdint>

// The signature at nowMs (MonotonicMs): cheap, no drawing, no allocation.
uint64_t MainScreenSignature(uint64_t nowMs);
