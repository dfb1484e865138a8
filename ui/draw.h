#pragma once
// The drawing layer: the frame's image target, colours, shapes, gradients, text and bitmaps that
// every panel and widget draws with. Positions and sizes are device-independent pixels (DIPs);
// the UI scale maps them to the frame's pixels. Glows, overlays and the end of the frame are in
// ui/glow.h. UI thread only.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/palette.h"
#include "platform/draw_surface.h"

// A rectangle in DIPs, passed by value to every panel and widget function.
struct Rc {
  float x = 0, y = 0, w = 0, h = 0;
  float Right() const { return x + w; }
  float Bottom() const { return y + h; }
  float CenterX() const { return x + w / 2; }
  float CenterY() const { return y + h / 2; }
  Rc Inset(float dx, float dy) const { return Rc{x + dx, y + dy, w - 2 * dx, h - 2 * dy}; }
};

struct PointF {
  float x = 0, y = 0;
};

// Font indexes of the text calls.
constexpr int kFontSegoeUi = 0;
constexpr int kFontBahnschrift = 1;
constexpr int kFontIcons = 2;  // "Segoe MDL2 Assets" code points, see ui/icons.h
// Text alignment codes of the text calls; any other value aligns like kAlignRight.
constexpr int kAlignLeft = 0;
constexpr int kAlignCenter = 1;
constexpr int kAlignRight = 2;

// ---- device and targets (frame driver, main window) -----------------------------------------

// Makes the frame image (pixelWidth x pixelHeight, pixels = DIPs x scale) and the glow target;
// false, with nothing kept, when a size is not positive or the images cannot be made. Increments
// the device generation on success.
bool CreateDevice(int pixelWidth, int pixelHeight, float scale);
// After a change of window size or UI scale; releases the device when the new targets cannot be
// made. Does nothing without a device.
void ResizeTargets(int pixelWidth, int pixelHeight, float scale);
// Frees the targets and both gradient caches; text formats and measured widths stay.
void ReleaseDevice();
bool HasDevice();
// UI scale x 96 of the current targets; 0 without a device.
float CurrentDpi();
// Rises with every successful CreateDevice; bitmaps made under an older value are made again.
uint32_t DeviceGeneration();
// The frame's size in DIPs.
float TargetWidth();
float TargetHeight();
// The frame's pixels (premultiplied ARGB32, SDL_PIXELFORMAT_ARGB8888), handed to the window once
// per frame; empty without a device.
PixelView FrameImage();
// Writes the frame as a PNG, whole; false (with *error) without a device or on a write failure.
bool WriteFramePng(const std::wstring& path, std::wstring* error = nullptr);

// Frame begin: draws on the frame from here on, identity transform, no clip.
void BeginDraw();
// Fills the whole target with the colour (no blending, no clip).
void Clear(Color color);
// The transform that every following call draws under (DIP space; the UI scale is applied after).
void SetTransform(const Affine& transform);
Affine GetTransform();
// Aliased clip to the rectangle's device-pixel bounds under the current transform; pairs with
// PopClip. Clips left open at the end of the frame are dropped.
void PushClip(Rc r);
void PopClip();
// True when nothing drawn inside r grown by reachDip (DIPs under the current transform) can land
// inside the current clip: a part of the frame redrawn elsewhere may leave out what lies there.
bool ClipHides(Rc r, float reachDip = 0);

// The surface that drawing calls go to now: the frame, or the glow target during the glow pass.
DrawSurface* DrawTarget();
DrawSurface* FrameTarget();
DrawSurface* GlowTarget();
void SetDrawTarget(DrawSurface* target);

// The current device set aside (there is none until it is restored) and put back: an off-screen
// frame drawn between two window frames leaves the window's device untouched.
struct DeviceStash {
  std::shared_ptr<void> device;
  DrawSurface* target = nullptr;
};
DeviceStash StashDevice();
// Releases whatever device is current and makes the stashed one current again.
void RestoreDevice(DeviceStash stash);

// ---- colours --------------------------------------------------------------------------------

Color WithAlpha(Color c, float a);
// Each of r, g, b moved toward 1 (Lighten) or 0 (Darken) by the fraction f; alpha unchanged.
Color Lighten(Color c, float f);
Color Darken(Color c, float f);
// R << 24 | G << 16 | B << 8 | A, each channel clamped to 0..1 and rounded to 0..255.
uint32_t ColorKey(Color c);

// ---- brushes --------------------------------------------------------------------------------

// What a fill paints with: one solid colour, or a gradient brush from the caches below.
struct Brush {
  GradientBrush* gradient = nullptr;
  Color solid;
  Brush(Color c) : solid(c) {}
  Brush(GradientBrush* g) : gradient(g) {}
};
Brush UseSolidBrush(Color c);
// Cached per colour pair and mirrored flag; start and end are set and the opacity reset to 1 on
// every call. Mirrored: three stops a, b, a. Valid until ReleaseDevice.
GradientBrush* LinearGradientBrush(Color a, Color b, PointF start, PointF end, bool mirrored);
// Cached per colour pair and three-stop flag; the caller sets centre, origin offset, radii and
// opacity (GradientBrush::SetRadial, SetOpacity) before use. Three stops: a; a at 0.45 of its
// alpha at 35 %; b.
GradientBrush* RadialGradientBrush(Color a, Color b, bool threeStop);

// ---- primitives -----------------------------------------------------------------------------
// Each draws at once. A negative size or a non-finite number draws nothing (and nothing else is
// disturbed).

void FillRect(Rc r, Color c);
void FillRect(Rc r, const Brush& brush);
void FillRoundedRect(Rc r, float radius, Color c);
void FillRoundedRect(Rc r, float radius, const Brush& brush);
// The outline lies inside r: its centre line is inset by half the stroke width.
void StrokeRoundedRect(Rc r, float radius, Color c, float width);
// With round caps.
void DrawLine(float x0, float y0, float x1, float y1, Color c, float width);
void FillCircle(float cx, float cy, float r, Color c);
void StrokeCircle(float cx, float cy, float r, Color c, float width);
void FillEllipse(float cx, float cy, float rx, float ry, const Brush& brush);
// Degrees, 0 at twelve o'clock, growing clockwise; clockwise when end > start. A sweep under 0.5
// draws nothing; from 359.5 on the whole circle. Round caps.
void DrawArc(float cx, float cy, float r, float startDeg, float endDeg, Color c, float width);
void FillTriangle(PointF a, PointF b, PointF c, Color color);
// Vertical gradient from top (at r.y) to bottom (at r.y + r.h).
void FillGradientRoundedRect(Rc r, float radius, Color top, Color bottom);
// Radial gradient from inner to outer over the circle; its origin is moved by (r x ox, r x oy).
void FillRadialEllipse(float cx, float cy, float r, Color inner, Color outer, float ox, float oy);
// A soft elliptic light: full colour at the centre, 0.45 at 35 % of the radius, none at the edge,
// all scaled by the colour's alpha. Nothing at alpha 0.002 or less.
void SoftGlow(float cx, float cy, float rx, float ry, Color c);
// Soft lights are kept as images (the same pixels whenever drawn); this drops them, so what
// follows draws as after a start (for comparing runs of frames).
void ForgetKeptLights();
// A button's face: a vertical gradient in a rounded box, an outline inside it and, when
// `highlight` has any alpha, a one-DIP line along its top between the corners. Faces repeat frame
// after frame, so each is drawn once per look, size and place within a device pixel and laid over
// the target from then on (the same pixels whatever was drawn before); a face that cannot be kept
// (a rotating transform) is drawn afresh.
struct ButtonFace {
  float radius = 0;
  Color top, bottom, edge;
  float edgeWidth = 1;
  Color highlight{0, 0, 0, 0};  // none
};
void DrawButtonFace(Rc r, const ButtonFace& face);
// A raised panel in fixed colours: dark vertical gradient, #242935 outline, faint top highlight.
// Left out on the frame when the frame's backdrop already holds it (KeepPanelsInBackdrop).
void DrawPanel(Rc r, float radius);

// ---- panels kept in a backdrop --------------------------------------------------------------
// A panel looks the same every frame and covers a large area, so a screen may draw its panels
// once into its backdrop image. DrawPanel calls that land on the frame, unmoved and wholly inside
// the clip, are listed for the screen to pick from.

struct PanelShape {
  Rc r;
  float radius = 0;
  bool operator==(const PanelShape& o) const {
    return r.x == o.r.x && r.y == o.r.y && r.w == o.r.w && r.h == o.r.h && radius == o.radius;
  }
};
// The panels listed since ForgetDrawnPanels, in the order they were drawn.
const std::vector<PanelShape>& DrawnPanels();
void ForgetDrawnPanels();
// DrawPanel leaves these out on the frame from now on: the frame's backdrop holds them. An empty
// list draws every panel again.
void KeepPanelsInBackdrop(const std::vector<PanelShape>& panels);

// Waveform columns written straight into the frame's pixels (a path of thousands of rectangles
// costs far more). Column i, for first <= i <= last, covers x0 + i .. x0 + i + 1 and spans
// centreY - half[i] .. centreY + half[i]; columns with half[i] < 0 are skipped. The colour follows
// a vertical gradient over centreY - extent .. centreY + extent: outer at both ends, inner on the
// centre line, all times opacity, blended over the frame inside the current clip. Under a
// transform that is not a scale, a translation or a quarter turn, each column is filled as a
// shape instead.
void FillWaveColumns(const float* half, int first, int last, float x0, float centreY, float extent, Color outer,
                     Color inner, float opacity);

// ---- text -----------------------------------------------------------------------------------

// The cached format of (size to a quarter DIP, bold, font): "Bahnschrift" for 1, the icon font for
// 2, "Segoe UI" otherwise; weight 600 when bold, else 400.
TextFormat* GetTextFormat(float size, bool bold, int font);
// Width of the text on one line, trailing spaces included; 0 when it cannot be laid out.
float MeasureTextWidth(std::wstring_view text, float size, bool bold, int font);
// MeasureTextWidth cached per (text, size to an eighth, bold, font); the cache is emptied when it
// passes 6000 entries.
float TextWidth(const std::wstring& text, float size, bool bold, int font);
// The size at which the text (translated, regular weight) fits a box boxWidth wide, no smaller
// than 0.8 of `size`: for lines in boxes that narrow with the window.
float FittingSize(std::wstring_view text, float boxWidth, float size, int font = kFontSegoeUi);
// One line, vertically centred in r, aligned by the code, cut with an ellipsis and clipped to r.
// The text is translated into the UI language first; a translation wider than r.w - 2 is drawn
// smaller, down to 0.7 of the size. Nothing for an empty text or r.w <= 0.
void DrawText(std::wstring_view text, Rc r, float size, Color c, int align, bool bold, int font);
// The text as DrawText shows it: translated into the UI language, and the size it is drawn at.
struct ShownText {
  std::wstring text;
  float size = 0;
};
ShownText TranslateToFit(std::wstring_view text, float boxWidth, float size, bool bold, int font);
// DrawText without the translation.
void DrawTextAsIs(std::wstring_view text, Rc r, float size, Color c, int align, bool bold, int font);
// Draws the text as given, with no checks (texts held as pointer and length).
void DrawTextRun(std::wstring_view text, Rc r, float size, Color c, int align, bool bold, int font);

// ---- bitmaps --------------------------------------------------------------------------------

// A bitmap with the device generation it was made under.
struct Bitmap {
  std::unique_ptr<DrawBitmap> image;
  uint32_t generation = 0;
};
// Premultiplied ARGB pixels, row pitch width x 4; null without a device, pixels or a positive size.
std::shared_ptr<Bitmap> CreateBitmapFromPixels(const uint32_t* pixels, int width, int height);
// The program's logo (assets/logo.png), decoded once per process and made again after a device
// change; null when there is no logo or no device.
std::shared_ptr<Bitmap> LoadLogoBitmap();
// Stretched into r with linear interpolation; with radius > 0 inside that rounded rectangle.
// Nothing for a null bitmap.
void DrawImage(const std::shared_ptr<Bitmap>& bitmap, Rc r, float opacity, float radius);
