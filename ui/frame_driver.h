#pragma once
// Drawing one frame of the main window (the widget layer's part: device, targets, glow layer,
// begin, end, present) and what the drawn frame asks of the next one: the frame clock, and the
// redraws that animations ask for. When a frame runs and in what order is the shell's
// (app/frame_tick.h). UI thread only.
#include <cstdint>

// A client area narrower or lower than this (pixels) is not drawn; the tick still runs.
inline constexpr int kMinDrawPixels = 200;
inline constexpr float kDpiTolerance = 0.01f;  // a smaller DPI difference keeps the targets

// What the driver needs of the window each frame; the window code fills it.
struct FrameWindow {
  int pixelWidth = 0;      // the client area
  int pixelHeight = 0;
  bool minimised = false;
  float scale = 1.0f;      // the UI scale: the window's DPI / 96
};

// Seconds on the MonotonicMs clock, set at the start of every drawn frame; animations read it.
extern double FrameClock;

// False while the window is minimised or smaller than kMinDrawPixels either way.
bool WindowDrawable(const FrameWindow& window);

// One drawn frame: makes the device on demand, follows the window's size and scale, sets the
// frame clock, resets the glow layer and the redraw requests, begins, runs `draw` (which covers
// the whole frame), ends the frame (glow pass, overlays, present) and the frame's input (drag,
// one-frame mouse fields, per-frame id sets). False, with nothing drawn and the input kept, when
// the window is not drawable or the device cannot be made (it is tried again next time).
bool DrawWindowFrame(const FrameWindow& window, void (*draw)());

// What moves with time asks for the frame at which it next looks different: a blink its next
// switch, a light that travels the very next frame. The earliest request of a drawn frame holds
// until the next drawn frame.
void RedrawAt(uint64_t monotonicMs);
void RedrawNextFrame();
// A blink lit on the even periodMs periods of the clock; asks for the frame of its next switch.
bool BlinkLit(uint64_t nowMs, uint64_t periodMs);
// The earliest MonotonicMs time asked for since the last drawn frame began; UINT64_MAX for none.
uint64_t RedrawDueMs();
