#pragma once
// Drawing one frame of the main window (the widget layer's part: device, targets, glow layer,
// begin, end, present) and what the drawn frame asks of the next one: the frame clock, and the
// redraws that animations ask for. When a frame runs and in what order is the shell's
// (app/frame_tick.h). UI thread only.
#include <cstdint>

#include "base/frame_clock.h"
#include "ui/draw.h"
#include "ui/glow.h"

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

// The frames' clock (FrameNowHook) at the start of the drawn frame, in seconds and in
// milliseconds; what the frame draws reads them, never the wall clock.
extern double FrameClock;
extern uint64_t FrameClockMs;

// False while the window is minimised or smaller than kMinDrawPixels either way.
bool WindowDrawable(const FrameWindow& window);

// One drawn frame: makes the device on demand, follows the window's size and scale, sets the
// frame clock, resets the glow layer and the redraw requests, begins, runs `draw` (which covers
// the whole frame), ends the frame (glow pass, overlays, present) and the frame's input (drag,
// one-frame mouse fields, per-frame id sets). With `part`, only those pixels (grown to whole glow
// tiles) change: `draw` runs whole, its drawing kept inside them and on the calling thread (too
// little to wake the draw workers for), and only they are presented; the targets must already
// fit the window. False, with nothing drawn and the input kept, when the window is not drawable
// or the device cannot be made (it is tried again next time).
bool DrawWindowFrame(const FrameWindow& window, void (*draw)(), const PixelBox* part = nullptr);

// True while a frame drawn as small parts (the PartBoxes form below) runs its draw: outside the
// parts the window still shows the last whole frame, and nothing the main screen's signature
// folds has changed since it.
bool DrawingSmallParts();

// The boxes of frame pixels a frame redraws alone: a few apart, so that two changes far from each
// other (one light travelling along each deck's lane) do not redraw everything between them.
inline constexpr int kMaxPartBoxes = 4;
struct PartBoxes {
  PixelBox box[kMaxPartBoxes];
  int count = 0;
  // Adds b, joined with the boxes it overlaps or lies so near that one pass over both costs less
  // than two; when all are taken, the two whose joining costs least are joined.
  void Add(const PixelBox& b);
};
// The same frame drawn as one pass per box (draw runs once for each, at the same frame clock;
// the frame's input ends once, after the last), as small parts that do not age what is kept
// (see EndFrame). False as above, with nothing drawn.
bool DrawWindowFrame(const FrameWindow& window, void (*draw)(), const PartBoxes& parts);

// What moves with time asks for the frame at which it next looks different: a blink its next
// switch, a light that travels the very next frame. The earliest request of a drawn frame holds
// until the next drawn frame.
void RedrawAt(uint64_t monotonicMs);
void RedrawNextFrame();
// The same for what changes only inside r (DIPs under the current transform, on the frame; its
// queued glows included) up to untilMs: a frame that only such requests ask for redraws their
// boxes alone (grown by reachPx, frame pixels, the farthest a glow reaches unless told nearer),
// those far apart in passes of their own.
void RedrawPartAt(uint64_t monotonicMs, Rc r, uint64_t untilMs, int reachPx = kGlowReachPx);
// A blink lit on the even periodMs periods of the clock; asks for the frame of its next switch
// (of r alone when r is given).
bool BlinkLit(uint64_t nowMs, uint64_t periodMs);
bool BlinkLit(uint64_t nowMs, uint64_t periodMs, Rc r);
// The earliest MonotonicMs time asked for since the last drawn frame began, of the whole frame
// and of its parts; UINT64_MAX for none.
uint64_t RedrawDueMs();
uint64_t PartRedrawDueMs();
// When every request due by nowMs asked for a part that still holds then: true, with the boxes of
// frame pixels to redraw added to *parts; false when a whole frame is due.
bool RedrawPartDue(uint64_t nowMs, PartBoxes* parts);

// Parts of the screen that change alone, by number below kMaxScreenParts: where each was drawn
// this frame (r in DIPs under the current transform, grown by reachPx frame pixels for its glows;
// a part may note several places), and for the shell the boxes of frame pixels it covered in the
// last drawn frame, added to *boxes (false when it was not drawn there).
inline constexpr int kMaxScreenParts = 8;
void NotePartDrawn(int part, Rc r, int reachPx = kGlowReachPx);
bool PartDrawnBoxes(int part, PartBoxes* boxes);
// The area of the frame that only a still part of the screen draws (the browser under the
// panels): r in DIPs under the current transform, reaching the frame's right, left and bottom
// edges; noted only while nothing in it asked for a redraw. For the shell, the box of frame
// pixels of the last drawn frame's area that nothing drawn above it reaches (false when none was
// noted): while that part shows the same, a frame may redraw only what lies above the box.
void NoteStillArea(Rc r);
bool StillAreaBox(PixelBox* box);
// Requests for redraws (RedrawAt, RedrawNextFrame, RedrawPartAt, BlinkLit) made so far: a part
// that asked for one while it drew moves with time.
uint64_t RedrawRequestCount();
// The smallest box of whole glow tiles inside a width x height frame that holds `box`.
PixelBox OnGlowTiles(const PixelBox& box, int width, int height);
// A box of frame pixels holding both.
PixelBox UnionBox(const PixelBox& a, const PixelBox& b);
