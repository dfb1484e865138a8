#pragma once
// The glow layer, overlays and the end of the frame. Code that draws a glowing thing also queues
// a GlowShape; EndFrame draws the queued shapes at half resolution, blurs them with a tight and a
// wide Gaussian and adds both onto the frame (so a glow only ever brightens), then draws the
// overlays above everything and hands the frame to the window. UI thread only.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/draw.h"

// GlowShape kinds and what their six floats mean.
constexpr uint8_t kGlowFilledRoundedRect = 0;  // left, top, right, bottom, corner radius, -
constexpr uint8_t kGlowOutlinedRoundedRect = 1;  // left, top, right, bottom, corner radius, stroke width
constexpr uint8_t kGlowFilledCircle = 2;        // centre x, centre y, radius, -, -, -
constexpr uint8_t kGlowRing = 3;                // centre x, centre y, radius, -, -, stroke width
constexpr uint8_t kGlowLine = 4;                // x0, y0, x1, y1, -, stroke width
constexpr uint8_t kGlowArc = 5;                 // centre x, centre y, radius, start deg, end deg, stroke width
constexpr uint8_t kGlowText = 6;                // x, y, width, height of the text box, text size, -
constexpr uint8_t kGlowColumns = 7;             // x of the first column, centre y, -, -, -, - (halves in `columns`)

// One queued glow.
struct GlowShape {
  uint8_t kind = kGlowFilledRoundedRect;
  float g1 = 0, g2 = 0, g3 = 0, g4 = 0, g5 = 0, g6 = 0;
  Color color;
  std::wstring text;  // kind 6 only, already translated
  std::vector<float> columns;  // kind 7 only: half heights, negative for a gap
  uint8_t align = 0;
  bool bold = false;
  uint8_t font = 0;
  // Replaced by the transform in effect when the shape is queued, so the glow lands on its control.
  Affine transform;
};

// The frame's glows; emptied at the start of every frame (ResetGlowLayer).
extern std::vector<GlowShape> GlowList;
// Shapes before this index are not drawn: the modal backdrop sets it to GlowList.size() so that
// the glows of the screens under a form vanish. Reset to 0 every frame.
extern size_t GlowStartIndex;
// Callbacks drawn after the glow pass, above everything; destroyed after each frame.
extern std::vector<std::function<void()>> OverlayList;

// Frame start: empties the glow list and the overlay list and resets the start index.
void ResetGlowLayer();

// Stores the current transform in the shape and appends it.
void QueueGlow(GlowShape&& shape);
void GlowRoundedRect(Rc r, float radius, Color c);
void GlowCircle(float cx, float cy, float r, Color c);
void GlowRing(float cx, float cy, float r, Color c, float width);
void GlowLine(float x0, float y0, float x1, float y1, Color c, float width);
void GlowArc(float cx, float cy, float r, float startDeg, float endDeg, Color c, float width);
// The text is translated when queued and glows at the size DrawText shows it; always font 1.
void GlowText(std::wstring_view text, Rc r, float size, Color c, int align, bool bold);
// Waveform columns in one colour, as FillWaveColumns draws them: column i covers x0 + i .. x0 + i + 1
// and centreY - half[i] .. centreY + half[i]; a negative half is a gap. One shape however many
// columns (a glow per column made the pass draw thousands of shapes). The halves are copied,
// trimmed to the columns that glow; nothing is queued when none does.
void GlowColumns(const float* half, int count, float x0, float centreY, Color c);
// fn must not be empty.
void QueueOverlay(std::function<void()>&& fn);

// Draws one shape in its colour on the current target (the glow pass's own step).
void DrawGlowShape(const GlowShape& shape);

// How the window shows a finished frame; false when it could not (the device is then released
// and made again on the next frame). Without a presenter frames stay off-screen. Returns the
// presenter it replaces.
// `changed` is the box of the frame's pixels drawn since the last presented frame (all of them
// but for a part of the frame redrawn); the rest is as the window shows it.
using FramePresenter = std::function<bool(const PixelView& frame, const PixelBox& changed)>;
FramePresenter SetFramePresenter(FramePresenter present);

// The glow works on tiles of this many frame pixels a side, and changes pixels at most this far
// (frame pixels) from the shape that glows.
inline constexpr int kGlowTilePx = 8;
inline constexpr int kGlowReachPx = 40;

// The glow's pixel work runs four pixels a register where the processor has AVX2, two otherwise;
// both draw the very same pixels. False forces two (to compare them); returns whether four are
// used from now on.
bool UseWideGlowLanes(bool wide);

// Ends the frame: the glow pass over GlowList from GlowStartIndex, the overlays, then the
// presenter. Always empties the overlay list. A broken target releases the device instead of
// presenting. With `part` (whole glow tiles, the frame's base clip), only those pixels were drawn
// afresh: the glow is added inside it alone and the presenter told so. A frame that drew only
// small parts (ageKept false) does not age the kept text and layouts: what it left out for lying
// elsewhere was not unused, and is drawn from its kept image again by the next whole frame.
void EndFrame(const PixelBox* part = nullptr, bool ageKept = true);
