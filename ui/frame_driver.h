#pragma once
// The frame driver: one frame of the main window from start to present (or only the per-frame
// tick while nothing can be drawn) and the frame clock. The actions queued for after the frame
// (DeferredActions, RunDeferredActions) are in ui/modal.h. UI thread only.

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

// The per-frame tick (AppTick), run once per frame whether or not it is drawn. The shell sets it.
extern void (*FrameTickHook)();
// Runs it.
void FrameTick();

// One frame. Too small or minimised: AppTick and the deferred actions only. Otherwise makes the
// device on demand (a failure only ticks, and creation is tried again next frame), follows the
// window's size and scale, sets the frame clock, resets the glow layer, clears to the skin's
// Background, runs Frame (which ticks first), ends the frame (glow pass, overlays, present),
// ends the frame's input (drag, one-frame mouse fields, per-frame id sets) and runs the deferred
// actions. AppTick runs exactly once per call.
void DriveFrame(const FrameWindow& window);

// The main screen: AppTick, then every panel (defined in screens/main_screen.cpp).
void Frame();
