#include "ui/draw.h"
#include "ui/text_log.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <compare>
#include <cstring>
#include <map>
#include <unordered_map>
#include <vector>

#include "platform/text.h"
#include "ui/draw_pixels.h"
#include "ui/icons.h"
#include "ui/kept_images.h"
#include "ui/language.h"

// The translation of a UI text (ui/language). Declared weak so that the drawing layer also links
// into programs without the translation table; such a program draws English.
std::wstring Translate(std::wstring_view text) __attribute__((weak));

namespace {

constexpr float kBoldWeight = 600;
constexpr float kNormalWeight = 400;
constexpr const char* kFontFamilies[] = {"Segoe UI", "Bahnschrift", "Segoe MDL2 Assets"};
// A translation that does not fit is shrunk to no less than this fraction of its size.
constexpr float kMinTranslatedScale = 0.7f;
// The box a translated text must fit: its width less this margin.
constexpr float kFitMarginDip = 2.0f;
constexpr size_t kMaxCachedWidths = 6000;
// Degrees: sweeps below draw nothing, sweeps from here on draw the whole circle.
constexpr float kMinArcSweepDeg = 0.5f;
constexpr float kFullArcSweepDeg = 359.5f;
constexpr float kSoftGlowMinAlpha = 0.002f;
// Radial three-stop brushes: the inner colour holds 0.45 of its alpha at 35 % of the radius.
constexpr float kThreeStopOffset = 0.35f;
constexpr float kThreeStopAlpha = 0.45f;

struct Device {
  std::unique_ptr<DrawSurface> frame;
  std::unique_ptr<DrawSurface> glow;  // half the frame's pixels at half its DIP scale
  float scale = 1;
};

std::unique_ptr<Device> TheDevice;
DrawSurface* Target = nullptr;
uint32_t Generation = 0;

// Gradient brush keys: both colours whole and the flag apart, so no two brushes can share a key.
struct BrushKey {
  uint64_t colours = 0;
  bool flag = false;
  auto operator<=>(const BrushKey&) const = default;
};
std::map<BrushKey, std::unique_ptr<GradientBrush>> LinearBrushes;
std::map<BrushKey, std::unique_ptr<GradientBrush>> RadialBrushes;
std::map<int, std::unique_ptr<TextFormat>> TextFormats;

Rgba ToRgba(Color c) { return Rgba{c.r, c.g, c.b, c.a}; }

BrushKey KeyOf(Color a, Color b, bool flag) {
  return BrushKey{(static_cast<uint64_t>(ColorKey(a)) << 32) | ColorKey(b), flag};
}

// Font indexes other than 1 and 2 all mean "Segoe UI"; folding them keeps them out of the bold bit
// of the cache keys.
int FontSlot(int font) { return font == kFontBahnschrift || font == kFontIcons ? font : kFontSegoeUi; }

bool Finite(float v) { return std::isfinite(v); }
template <typename... T>
bool Finite(float v, T... rest) {
  return std::isfinite(v) && Finite(rest...);
}

TextAlign AlignOf(int align) {
  if (align == kAlignLeft) return TextAlign::Leading;
  if (align == kAlignCenter) return TextAlign::Center;
  return TextAlign::Trailing;
}

std::string TextBytes(std::wstring_view text, int font) {
  return WideToUtf8(FontSlot(font) == kFontIcons ? IconText(text) : text);
}

// FNV-1a over the UTF-16 code units of the text, the program's string hash.
struct Fnv1aUtf16 {
  size_t operator()(const std::wstring& text) const {
    constexpr uint64_t kOffset = 14695981039346656037ull, kPrime = 1099511628211ull;
    uint64_t h = kOffset;
    auto add_unit = [&h](uint16_t unit) {
      h = (h ^ (unit & 0xFF)) * kPrime;
      h = (h ^ (unit >> 8)) * kPrime;
    };
    for (wchar_t ch : text) {
      const uint32_t cp = static_cast<uint32_t>(ch);
      if (cp >= 0x10000 && cp <= 0x10FFFF) {
        add_unit(static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
        add_unit(static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      } else {
        add_unit(static_cast<uint16_t>(cp));
      }
    }
    return static_cast<size_t>(h);
  }
};

bool MakeTargets(Device* d, int pixelWidth, int pixelHeight, float scale) {
  d->glow.reset();
  d->frame = DrawSurface::Create(pixelWidth, pixelHeight, scale);
  if (!d->frame) return false;
  d->glow = DrawSurface::Create(std::max(1, pixelWidth / 2), std::max(1, pixelHeight / 2), scale * 0.5f);
  if (!d->glow) {
    d->frame.reset();
    return false;
  }
  d->scale = scale;
  return true;
}

}  // namespace

// ---- device and targets ---------------------------------------------------------------------

bool CreateDevice(int pixelWidth, int pixelHeight, float scale) {
  ReleaseDevice();
  auto d = std::make_unique<Device>();
  if (!MakeTargets(d.get(), pixelWidth, pixelHeight, scale)) return false;
  TheDevice = std::move(d);
  Target = TheDevice->frame.get();
  ++Generation;
  return true;
}

void ResizeTargets(int pixelWidth, int pixelHeight, float scale) {
  if (!TheDevice) return;
  Target = nullptr;
  if (!MakeTargets(TheDevice.get(), pixelWidth, pixelHeight, scale)) {
    ReleaseDevice();
    return;
  }
  Target = TheDevice->frame.get();
}

void ReleaseDevice() {
  LinearBrushes.clear();
  RadialBrushes.clear();
  Target = nullptr;
  TheDevice.reset();
}

bool HasDevice() { return TheDevice != nullptr; }
float CurrentDpi() { return TheDevice ? TheDevice->scale * 96.0f : 0.0f; }
uint32_t DeviceGeneration() { return Generation; }
float TargetWidth() { return TheDevice ? TheDevice->frame->pixelWidth() / TheDevice->scale : 0.0f; }
float TargetHeight() { return TheDevice ? TheDevice->frame->pixelHeight() / TheDevice->scale : 0.0f; }
PixelView FrameImage() { return TheDevice ? TheDevice->frame->Pixels() : PixelView{}; }

bool WriteFramePng(const std::wstring& path, std::wstring* error) {
  if (!TheDevice) {
    if (error) *error = L"There is no frame to save.";
    return false;
  }
  return TheDevice->frame->WritePng(path, error);
}

void BeginDraw() {
  if (!TheDevice) return;
  Target = TheDevice->frame.get();
  Target->ResetClips();
  Target->SetTransform(Affine{});
}

void Clear(Color color) {
  if (Target) Target->Clear(ToRgba(color));
}

void SetTransform(const Affine& transform) {
  if (Target) Target->SetTransform(transform);
}

Affine GetTransform() { return Target ? Target->transform() : Affine{}; }

void PushClip(Rc r) {
  if (Target) Target->PushClip(r.x, r.y, r.w, r.h);
}

void PopClip() {
  if (Target) Target->PopClip();
}

DrawSurface* DrawTarget() { return Target; }
DrawSurface* FrameTarget() { return TheDevice ? TheDevice->frame.get() : nullptr; }
DrawSurface* GlowTarget() { return TheDevice ? TheDevice->glow.get() : nullptr; }
void SetDrawTarget(DrawSurface* target) { Target = target; }

DeviceStash StashDevice() {
  DeviceStash stash;
  stash.device = std::shared_ptr<Device>(std::move(TheDevice));
  stash.target = Target;
  Target = nullptr;
  return stash;
}

void RestoreDevice(DeviceStash stash) {
  ReleaseDevice();
  auto device = std::static_pointer_cast<Device>(stash.device);
  if (!device) return;
  // The surfaces move with their owners, so the stashed target pointer stays valid.
  TheDevice = std::make_unique<Device>(std::move(*device));
  Target = stash.target;
}

// ---- colours --------------------------------------------------------------------------------

Color WithAlpha(Color c, float a) { return Color{c.r, c.g, c.b, a}; }

Color Lighten(Color c, float f) {
  return Color{c.r + (1 - c.r) * f, c.g + (1 - c.g) * f, c.b + (1 - c.b) * f, c.a};
}

Color Darken(Color c, float f) { return Color{c.r * (1 - f), c.g * (1 - f), c.b * (1 - f), c.a}; }

uint32_t ColorKey(Color c) {
  auto byte = [](float v) {
    return static_cast<uint32_t>(std::lround((std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f) * 255.0f));
  };
  return byte(c.r) << 24 | byte(c.g) << 16 | byte(c.b) << 8 | byte(c.a);
}

// ---- brushes --------------------------------------------------------------------------------

Brush UseSolidBrush(Color c) { return Brush(c); }

GradientBrush* LinearGradientBrush(Color a, Color b, PointF start, PointF end, bool mirrored) {
  std::unique_ptr<GradientBrush>& slot = LinearBrushes[KeyOf(a, b, mirrored)];
  if (!slot) {
    const GradientStop two[] = {{0, ToRgba(a)}, {1, ToRgba(b)}};
    const GradientStop three[] = {{0, ToRgba(a)}, {0.5f, ToRgba(b)}, {1, ToRgba(a)}};
    slot = mirrored ? std::make_unique<GradientBrush>(GradientBrush::Kind::Linear, three, 3)
                    : std::make_unique<GradientBrush>(GradientBrush::Kind::Linear, two, 2);
  }
  slot->SetLinearPoints(start.x, start.y, end.x, end.y);
  slot->SetOpacity(1);
  return slot.get();
}

GradientBrush* RadialGradientBrush(Color a, Color b, bool threeStop) {
  std::unique_ptr<GradientBrush>& slot = RadialBrushes[KeyOf(a, b, threeStop)];
  if (!slot) {
    const GradientStop two[] = {{0, ToRgba(a)}, {1, ToRgba(b)}};
    const GradientStop three[] = {
        {0, ToRgba(a)}, {kThreeStopOffset, ToRgba(WithAlpha(a, a.a * kThreeStopAlpha))}, {1, ToRgba(b)}};
    slot = threeStop ? std::make_unique<GradientBrush>(GradientBrush::Kind::Radial, three, 3)
                     : std::make_unique<GradientBrush>(GradientBrush::Kind::Radial, two, 2);
    slot->SetRadial(0, 0, 0, 0, 1, 1);
  }
  return slot.get();
}

namespace {
void UseBrush(const Brush& brush) {
  if (brush.gradient)
    Target->SetBrush(brush.gradient);
  else
    Target->SetColor(ToRgba(brush.solid));
}
}  // namespace

// ---- primitives -----------------------------------------------------------------------------

namespace {
// DIPs and device pixels a call's pixels may reach past the box it is checked with: antialiased
// rims, rounding onto pixels.
constexpr float kCullPadDip = 1.0f;
constexpr float kCullPadPx = 2.0f;

// True when nothing drawn inside the user-space box x0..x1 x y0..y1, grown by `reach` DIPs (half
// a stroke), could land inside the current clip: a part of the frame redrawn then skips the rest
// of the screen's drawing at the cost of a few multiplications per call. False without a target
// or for numbers that are not finite (the call decides what those draw).
bool OffClip(float x0, float y0, float x1, float y1, float reach = 0) {
  if (!Target || !Finite(x0, y0, x1, y1, reach)) return false;
  const float grow = std::fabs(reach) + kCullPadDip;
  const float lx = std::min(x0, x1) - grow, hx = std::max(x0, x1) + grow;
  const float ly = std::min(y0, y1) - grow, hy = std::max(y0, y1) + grow;
  const Affine& d = Target->DeviceTransform();
  float dx0, dx1, dy0, dy1;  // the box's device bounds
  if (d.m12 == 0 && d.m21 == 0) {  // no turn: two corners bound it
    dx0 = d.m11 * lx + d.dx, dx1 = d.m11 * hx + d.dx;
    dy0 = d.m22 * ly + d.dy, dy1 = d.m22 * hy + d.dy;
    if (dx1 < dx0) std::swap(dx0, dx1);
    if (dy1 < dy0) std::swap(dy0, dy1);
  } else {
    float xs[4], ys[4];
    MapPoint(d, lx, ly, &xs[0], &ys[0]);
    MapPoint(d, hx, ly, &xs[1], &ys[1]);
    MapPoint(d, lx, hy, &xs[2], &ys[2]);
    MapPoint(d, hx, hy, &xs[3], &ys[3]);
    dx0 = *std::min_element(xs, xs + 4), dx1 = *std::max_element(xs, xs + 4);
    dy0 = *std::min_element(ys, ys + 4), dy1 = *std::max_element(ys, ys + 4);
  }
  if (!Finite(dx0, dx1, dy0, dy1)) return false;
  int cx0, cy0, cx1, cy1;
  Target->DeviceClip(&cx0, &cy0, &cx1, &cy1);
  if (cx1 <= cx0 || cy1 <= cy0) return true;
  return dx1 + kCullPadPx <= cx0 || dx0 - kCullPadPx >= cx1 || dy1 + kCullPadPx <= cy0 || dy0 - kCullPadPx >= cy1;
}
bool OffClip(Rc r, float reach = 0) { return OffClip(r.x, r.y, r.x + r.w, r.y + r.h, reach); }
}  // namespace

bool ClipHides(Rc r, float reachDip) { return Target && OffClip(r, reachDip); }

void FillRect(Rc r, Color c) { FillRect(r, Brush(c)); }

void FillRect(Rc r, const Brush& brush) {
  if (!Target || OffClip(r)) return;
  if (brush.gradient && FillLinearBoxPixels(*Target, r.x, r.y, r.w, r.h, 0, *brush.gradient)) return;
  UseBrush(brush);
  Target->FillRect(r.x, r.y, r.w, r.h);
}

void FillRoundedRect(Rc r, float radius, Color c) { FillRoundedRect(r, radius, Brush(c)); }

void FillRoundedRect(Rc r, float radius, const Brush& brush) {
  if (!Target || OffClip(r)) return;
  if (brush.gradient && FillLinearBoxPixels(*Target, r.x, r.y, r.w, r.h, radius, *brush.gradient)) return;
  if (!brush.gradient && r.w >= 0 && r.h >= 0 &&
      FillRoundedBoxPixels(*Target, r.x + r.w / 2, r.y + r.h / 2, r.w / 2, r.h / 2, radius, ToRgba(brush.solid)))
    return;
  UseBrush(brush);
  Target->FillRoundedRect(r.x, r.y, r.w, r.h, radius);
}

void StrokeRoundedRect(Rc r, float radius, Color c, float width) {
  if (!Target || !Finite(width) || width <= 0 || OffClip(r)) return;
  const float s = width;
  const float w = std::max(0.0f, r.w - s), h = std::max(0.0f, r.h - s);
  // Outlines through cairo's stroker cost several times more than writing their pixels.
  if (StrokeRoundedBoxPixels(*Target, r.x + s / 2 + w / 2, r.y + s / 2 + h / 2, w / 2, h / 2, radius, s, ToRgba(c)))
    return;
  Target->SetColor(ToRgba(c));
  Target->StrokeRoundedRect(r.x + s / 2, r.y + s / 2, std::max(0.0f, r.w - s), std::max(0.0f, r.h - s), radius, s);
}

void DrawLine(float x0, float y0, float x1, float y1, Color c, float width) {
  if (!Target || OffClip(x0, y0, x1, y1, width / 2)) return;
  // Level and upright lines are boxes without height or width.
  if ((x0 == x1 || y0 == y1) && StrokeRoundedBoxPixels(*Target, (x0 + x1) / 2, (y0 + y1) / 2, std::fabs(x1 - x0) / 2,
                                                        std::fabs(y1 - y0) / 2, 0, width, ToRgba(c)))
    return;
  Target->SetColor(ToRgba(c));
  Target->StrokeLine(x0, y0, x1, y1, width, LineCap::Round);
}

void FillCircle(float cx, float cy, float r, Color c) { FillEllipse(cx, cy, r, r, Brush(c)); }

void StrokeCircle(float cx, float cy, float r, Color c, float width) {
  if (!Target || OffClip(cx - r, cy - r, cx + r, cy + r, width / 2)) return;
  if (r > 0 && StrokeRoundedBoxPixels(*Target, cx, cy, r, r, r, width, ToRgba(c))) return;
  Target->SetColor(ToRgba(c));
  Target->StrokeEllipse(cx, cy, r, r, width);
}

void FillEllipse(float cx, float cy, float rx, float ry, const Brush& brush) {
  if (!Target || OffClip(cx - rx, cy - ry, cx + rx, cy + ry)) return;
  if (brush.gradient && FillRadialPixels(*Target, cx, cy, rx, ry, *brush.gradient)) return;
  // A disc is a box whose corners are its radius.
  if (!brush.gradient && rx == ry && rx > 0 && FillRoundedBoxPixels(*Target, cx, cy, rx, rx, rx, ToRgba(brush.solid)))
    return;
  UseBrush(brush);
  Target->FillEllipse(cx, cy, rx, ry);
}

void DrawArc(float cx, float cy, float r, float startDeg, float endDeg, Color c, float width) {
  if (!Target || !Finite(startDeg, endDeg) || OffClip(cx - r, cy - r, cx + r, cy + r, width / 2)) return;
  const float sweep = std::fabs(endDeg - startDeg);
  if (sweep < kMinArcSweepDeg) return;
  Target->SetColor(ToRgba(c));
  if (sweep >= kFullArcSweepDeg) {
    if (r > 0 && StrokeRoundedBoxPixels(*Target, cx, cy, r, r, r, width, ToRgba(c))) return;
    Target->StrokeEllipse(cx, cy, r, r, width);
    return;
  }
  // 0 degrees at twelve o'clock here, along +x in cairo; both grow clockwise on screen.
  auto radians = [](float deg) { return static_cast<float>((deg - 90.0) * M_PI / 180.0); };
  if (StrokeArcPixels(*Target, cx, cy, r, radians(startDeg), radians(endDeg), endDeg > startDeg, width, ToRgba(c)))
    return;
  Target->StrokeArc(cx, cy, r, radians(startDeg), radians(endDeg), endDeg > startDeg, width, LineCap::Round);
}

void FillTriangle(PointF a, PointF b, PointF c, Color color) {
  if (!Target || OffClip(std::min({a.x, b.x, c.x}), std::min({a.y, b.y, c.y}), std::max({a.x, b.x, c.x}),
                         std::max({a.y, b.y, c.y})))
    return;
  Target->SetColor(ToRgba(color));
  const float xy[] = {a.x, a.y, b.x, b.y, c.x, c.y};
  Target->FillPolygon(xy, 3);
}

void FillGradientRoundedRect(Rc r, float radius, Color top, Color bottom) {
  if (!Target || OffClip(r)) return;
  FillRoundedRect(r, radius, LinearGradientBrush(top, bottom, PointF{0, r.y}, PointF{0, r.y + r.h}, false));
}


namespace {

// The disc drawn afresh.
void DrawRadialEllipse(float cx, float cy, float r, Color inner, Color outer, float ox, float oy) {
  GradientBrush* brush = RadialGradientBrush(inner, outer, false);
  brush->SetRadial(cx, cy, r * ox, r * oy, r, r);
  brush->SetOpacity(1);
  FillEllipse(cx, cy, r, r, brush);
}

// The light drawn afresh, at the colour's alpha.
void DrawSoftGlow(float cx, float cy, float rx, float ry, Color c) {
  GradientBrush* brush = RadialGradientBrush(WithAlpha(c, 1), WithAlpha(c, 0), true);
  brush->SetRadial(cx, cy, 0, 0, rx, ry);
  brush->SetOpacity(c.a);
  FillEllipse(cx, cy, rx, ry, brush);
}

// ---- soft lights kept as pixels --------------------------------------------------------------
// A soft light looks the same frame after frame but for its strength (a beat pulse), and working
// out its gradient costs several times more than laying an image over the pixels. Each is drawn
// once at full strength, per colour, device size and place within a device pixel, and laid over
// the target at its alpha: the same pixels whatever was drawn before. A radial disc (a platter)
// is kept the same way and laid at full strength.

// What a kept image shows: a soft light in `colour`, or a disc from `colour` to `outer` with its
// gradient's origin moved by (ox, oy) radii.
struct LightShape {
  bool disc = false;
  uint32_t colour = 0, outer = 0;
  float ox = 0, oy = 0;
  bool operator==(const LightShape&) const = default;
};

Color ColourOfKey(uint32_t key) {
  return Color{((key >> 24) & 255) / 255.0f, ((key >> 16) & 255) / 255.0f, ((key >> 8) & 255) / 255.0f,
               (key & 255) / 255.0f};
}

constexpr size_t kKeptLights = 64;  // every knob face of a full screen, and the lights
constexpr int64_t kMaxKeptLightPixels = 512 * 1024;  // larger lights (the backdrop's) draw afresh
constexpr int kKeptLightPadPx = 2;                   // past the antialiased rim

struct KeptLight {
  LightShape shape;
  float rx = 0, ry = 0, fx = 0, fy = 0;  // device radii, centre within its pixel
  int halfW = 0, halfH = 0;              // the centre's pixel to the image's edges
  std::vector<uint32_t> pixels;
  PixelRuns lit;
  uint64_t used = 0;
  bool ok = false;
};
KeptLight KeptLights[kKeptLights];
uint64_t KeptLightUses = 0;
std::unique_ptr<DrawSurface> LightScratch;

// The scratch's top-left w x h pixels into `pixels`, with the runs that are not transparent;
// false when the scratch could not be drawn.
bool KeepScratch(DrawSurface& scratch, int w, int h, std::vector<uint32_t>* pixels, PixelRuns* lit) {
  const PixelView px = scratch.Pixels();
  if (!scratch.Ok() || !px.pixels || px.width < w || px.height < h) return false;
  pixels->resize(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    std::copy_n(px.pixels + static_cast<size_t>(y) * px.stride, w, pixels->begin() + static_cast<ptrdiff_t>(y) * w);
  FindLitRuns(pixels->data(), w, h, lit);
  return true;
}

// The kept light for the key, drawn now when it is not kept; null when it cannot be made.
const KeptLight* KeepLight(const LightShape& shape, float drx, float dry, float fx, float fy) {
  KeptLight* oldest = &KeptLights[0];
  for (KeptLight& k : KeptLights) {
    if (k.ok && k.shape == shape && k.rx == drx && k.ry == dry && k.fx == fx && k.fy == fy) {
      k.used = ++KeptLightUses;
      return &k;
    }
    if (k.used < oldest->used) oldest = &k;
  }
  KeptLight& k = *oldest;
  k.ok = false;
  k.shape = shape, k.rx = drx, k.ry = dry, k.fx = fx, k.fy = fy;
  // The rim's antialiasing reaches a pixel past each radius.
  k.halfW = static_cast<int>(std::ceil(drx)) + kKeptLightPadPx, k.halfH = static_cast<int>(std::ceil(dry)) + kKeptLightPadPx;
  const int w = 2 * k.halfW + 1, h = 2 * k.halfH + 1;
  if (!LightScratch || LightScratch->pixelWidth() < w || LightScratch->pixelHeight() < h) {
    LightScratch = DrawSurface::Create(std::max(w, LightScratch ? LightScratch->pixelWidth() : 0),
                                       std::max(h, LightScratch ? LightScratch->pixelHeight() : 0), 1.0f);
    if (!LightScratch) return nullptr;
  }
  LightScratch->ResetClips();
  LightScratch->SetTransform(Affine{});
  // The scratch grows to the largest light kept; only this light's corner is cleared and read.
  LightScratch->ClearBox(0, 0, w, h);
  DrawSurface* const previous = Target;
  Target = LightScratch.get();
  if (shape.disc)
    DrawRadialEllipse(k.halfW + fx, k.halfH + fy, drx, ColourOfKey(shape.colour), ColourOfKey(shape.outer), shape.ox,
                      shape.oy);
  else
    DrawSoftGlow(k.halfW + fx, k.halfH + fy, drx, dry, ColourOfKey(shape.colour));
  Target = previous;
  if (!KeepScratch(*LightScratch, w, h, &k.pixels, &k.lit)) return nullptr;
  k.ok = true;
  k.used = ++KeptLightUses;
  return &k;
}

// The shape from its kept image at the opacity; false when the transform does not only scale
// alike and move, or the shape is too large to keep: the caller draws it afresh.
bool DrawKeptLight(const LightShape& shape, float cx, float cy, float rx, float ry, float opacity) {
  const Affine d = Target->DeviceTransform();
  if (d.m12 != 0 || d.m21 != 0 || d.m11 != d.m22 || !(d.m11 > 0) || !Finite(cx, cy) || !Finite(rx, ry) || !(rx > 0) ||
      !(ry > 0))
    return false;
  const float dcx = d.m11 * cx + d.dx, dcy = d.m22 * cy + d.dy, drx = d.m11 * rx, dry = d.m22 * ry;
  if (!(std::fabs(dcx) < 1e6f && std::fabs(dcy) < 1e6f) ||
      (static_cast<int64_t>(drx) + 4) * (static_cast<int64_t>(dry) + 4) * 4 > kMaxKeptLightPixels)
    return false;
  const float ix = std::floor(dcx), iy = std::floor(dcy);
  const KeptLight* k = KeepLight(shape, drx, dry, dcx - ix, dcy - iy);
  if (!k) return false;
  // The image's corner in user space: DrawPixelImages lays it on the device pixel under it.
  const PixelImage image{.pixels = k->pixels.data(),
                         .width = 2 * k->halfW + 1,
                         .height = 2 * k->halfH + 1,
                         .x = (ix - k->halfW - d.dx) / d.m11,
                         .y = (iy - k->halfH - d.dy) / d.m22,
                         .lit = &k->lit};
  const float alpha = std::clamp(opacity, 0.0f, 1.0f);
  return DrawPixelImages(*Target, &image, &alpha, 1);
}

// ---- button faces kept as pixels ------------------------------------------------------------

constexpr size_t kMaxKeptFaces = 512;     // more than a full screen's buttons in every state
constexpr uint64_t kFaceIdleFrames = 600;  // a face not drawn for this many faces' draws goes
constexpr int kFacePadPx = 2;             // past r: the antialiased rim
constexpr float kMaxKeptFacePixels = 128 * 1024;  // a larger face (a page's) is drawn afresh

struct FaceKey {
  ButtonFace face;
  int width = 0, height = 0;  // device pixels of r, rounded up from its place within a pixel
  float fx = 0, fy = 0, scale = 0;
  bool operator==(const FaceKey& o) const {
    auto same = [](const Color& a, const Color& b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; };
    return face.radius == o.face.radius && same(face.top, o.face.top) && same(face.bottom, o.face.bottom) &&
           same(face.edge, o.face.edge) && face.edgeWidth == o.face.edgeWidth &&
           same(face.highlight, o.face.highlight) && width == o.width && height == o.height && fx == o.fx &&
           fy == o.fy && scale == o.scale;
  }
};
struct KeptFace {
  FaceKey key;
  std::vector<uint32_t> pixels;
  PixelRuns lit;
  uint64_t used = 0;
};
std::unordered_map<uint64_t, KeptFace> KeptFaces;
uint64_t FaceDraws = 0;
std::unique_ptr<DrawSurface> FaceScratch;

uint64_t HashOf(const FaceKey& k) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&](float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    h = (h ^ bits) * 1099511628211ull;
  };
  for (const Color& c : {k.face.top, k.face.bottom, k.face.edge, k.face.highlight}) mix(c.r), mix(c.g), mix(c.b), mix(c.a);
  mix(k.face.radius), mix(k.face.edgeWidth), mix(static_cast<float>(k.width)), mix(static_cast<float>(k.height));
  mix(k.fx), mix(k.fy), mix(k.scale);
  return h;
}

void DrawFaceAfresh(Rc r, const ButtonFace& f) {
  FillGradientRoundedRect(r, f.radius, f.top, f.bottom);
  StrokeRoundedRect(r, f.radius, f.edge, f.edgeWidth);
  if (f.highlight.a > 0) DrawLine(r.x + f.radius, r.y + 1, r.Right() - f.radius, r.y + 1, f.highlight, 1);
}

// Drops the faces not drawn for a while once there are many.
void EvictIdleFaces() {
  if (KeptFaces.size() < kMaxKeptFaces) return;
  for (auto it = KeptFaces.begin(); it != KeptFaces.end();)
    it = FaceDraws - it->second.used > kFaceIdleFrames ? KeptFaces.erase(it) : std::next(it);
  if (KeptFaces.size() >= kMaxKeptFaces) KeptFaces.clear();
}

// The face from its kept image; false when the transform does not only scale alike and move.
bool DrawKeptFace(Rc r, const ButtonFace& f) {
  const Affine d = Target->DeviceTransform();
  if (d.m12 != 0 || d.m21 != 0 || d.m11 != d.m22 || !(d.m11 > 0) || !Finite(r.x, r.y, r.w, r.h) || !(r.w > 0) ||
      !(r.h > 0))
    return false;
  const float s = d.m11, dx = s * r.x + d.dx, dy = s * r.y + d.dy;
  if (!(std::fabs(dx) < 1e6f && std::fabs(dy) < 1e6f && s * r.w * s * r.h < kMaxKeptFacePixels)) return false;
  const float ix = std::floor(dx), iy = std::floor(dy);
  FaceKey key{.face = f, .fx = dx - ix, .fy = dy - iy, .scale = s};
  key.width = static_cast<int>(std::ceil(key.fx + s * r.w)) + 2 * kFacePadPx;
  key.height = static_cast<int>(std::ceil(key.fy + s * r.h)) + 2 * kFacePadPx;
  ++FaceDraws;
  KeptFace& kept = KeptFaces[HashOf(key)];
  if (!(kept.key == key) || kept.pixels.empty()) {
    kept.key = key;
    kept.pixels.clear();
    const int w = key.width, h = key.height;
    if (!FaceScratch || FaceScratch->dipScale() != s || FaceScratch->pixelWidth() < w || FaceScratch->pixelHeight() < h) {
      const int fw = std::max(w, FaceScratch && FaceScratch->dipScale() == s ? FaceScratch->pixelWidth() : 0);
      const int fh = std::max(h, FaceScratch && FaceScratch->dipScale() == s ? FaceScratch->pixelHeight() : 0);
      FaceScratch = DrawSurface::Create(fw, fh, s);
      if (!FaceScratch) return false;
    }
    FaceScratch->ResetClips();
    FaceScratch->SetTransform(Affine{});
    FaceScratch->ClearBox(0, 0, w, h);  // the corner read back; the rest may hold a larger face
    // r's corner lands kFacePadPx past the image's corner at its place within a device pixel.
    FaceScratch->SetTransform(Affine{1, 0, 0, 1, (kFacePadPx + key.fx) / s - r.x, (kFacePadPx + key.fy) / s - r.y});
    DrawSurface* const previous = Target;
    Target = FaceScratch.get();
    DrawFaceAfresh(r, f);
    Target = previous;
    FaceScratch->SetTransform(Affine{});
    if (!KeepScratch(*FaceScratch, w, h, &kept.pixels, &kept.lit)) return false;
  }
  kept.used = FaceDraws;
  const PixelImage image{.pixels = kept.pixels.data(),
                         .width = key.width,
                         .height = key.height,
                         .x = (ix - kFacePadPx - d.dx) / s,
                         .y = (iy - kFacePadPx - d.dy) / s,
                         .lit = &kept.lit};
  const float full = 1.0f;
  const bool drawn = DrawPixelImages(*Target, &image, &full, 1);
  EvictIdleFaces();
  return drawn;
}

}  // namespace

void ForgetKeptLights() {
  for (KeptLight& k : KeptLights) k = KeptLight{};
  LightScratch.reset();
  KeptFaces.clear();
  FaceScratch.reset();
}

void SoftGlow(float cx, float cy, float rx, float ry, Color c) {
  if (!Target || !(c.a > kSoftGlowMinAlpha) || OffClip(cx - rx, cy - ry, cx + rx, cy + ry)) return;
  if (DrawKeptLight(LightShape{.colour = ColorKey(WithAlpha(c, 1))}, cx, cy, rx, ry, c.a)) return;
  DrawSoftGlow(cx, cy, rx, ry, c);
}

void DrawButtonFace(Rc r, const ButtonFace& face) {
  if (!Target || OffClip(r)) return;
  if (DrawKeptFace(r, face)) return;
  DrawFaceAfresh(r, face);
}

void FillRadialEllipse(float cx, float cy, float r, Color inner, Color outer, float ox, float oy) {
  if (!Target || OffClip(cx - r, cy - r, cx + r, cy + r)) return;
  const LightShape disc{.disc = true, .colour = ColorKey(inner), .outer = ColorKey(outer), .ox = ox, .oy = oy};
  if (Finite(ox, oy) && DrawKeptLight(disc, cx, cy, r, r, 1.0f)) return;
  DrawRadialEllipse(cx, cy, r, inner, outer, ox, oy);
}

namespace {
std::vector<PanelShape> Drawn, Kept;
// Listed panels past this many are not listed: a caller that never forgets them cannot grow it.
constexpr size_t kMaxListedPanels = 64;

// On the frame, under a plain move, with r's device pixels wholly inside the clip.
bool OnFrameUnclipped(Rc r) {
  if (!Target || !TheDevice || Target != TheDevice->frame.get()) return false;
  const Affine m = Target->transform();
  if (m.m11 != 1 || m.m12 != 0 || m.m21 != 0 || m.m22 != 1 || m.dx != 0 || m.dy != 0) return false;
  // A base clip (a part of the frame redrawn) leaves the same panels listed as a whole frame.
  const PixelBox clip = Target->PushedClip();
  const int x0 = clip.x0, y0 = clip.y0, x1 = clip.x1, y1 = clip.y1;
  const float s = Target->dipScale();
  return std::floor(r.x * s) >= x0 && std::floor(r.y * s) >= y0 && std::ceil(r.Right() * s) <= x1 &&
         std::ceil(r.Bottom() * s) <= y1;
}
}  // namespace

const std::vector<PanelShape>& DrawnPanels() { return Drawn; }
void ForgetDrawnPanels() { Drawn.clear(); }
void KeepPanelsInBackdrop(const std::vector<PanelShape>& panels) { Kept = panels; }

void DrawPanel(Rc r, float radius) {
  if (OnFrameUnclipped(r)) {
    const PanelShape shape{r, radius};
    if (Drawn.size() < kMaxListedPanels) Drawn.push_back(shape);
    if (std::find(Kept.begin(), Kept.end(), shape) != Kept.end()) return;
  }
  if (OffClip(r)) return;
  constexpr Color kPanelTop = ColorOf(0x171A22), kPanelBottom = ColorOf(0x0F1117), kPanelEdge = ColorOf(0x242935);
  constexpr float kHighlightAlpha = 0.05f;
  constexpr float kHighlightInset = 0.75f;
  FillGradientRoundedRect(r, radius, kPanelTop, kPanelBottom);
  StrokeRoundedRect(r, radius, kPanelEdge, 1);
  DrawLine(r.x + radius, r.y + kHighlightInset, r.x + r.w - radius, r.y + kHighlightInset,
           Color{1, 1, 1, kHighlightAlpha}, 1);
}

void FillWaveColumns(const float* half, int first, int last, float x0, float centreY, float extent, Color outer,
                     Color inner, float opacity) {
  if (!Target || !half || first < 0 || last < first || !Finite(x0, centreY, extent, opacity) || extent <= 0) return;
  opacity = std::clamp(opacity, 0.0f, 1.0f);
  if (opacity <= 0) return;
  if (FillColumnPixels(*Target, half, first, last, x0, centreY, extent, ToRgba(outer), ToRgba(inner), opacity)) return;
  GradientBrush* brush = LinearGradientBrush(outer, inner, PointF{0, centreY - extent}, PointF{0, centreY + extent}, true);
  brush->SetOpacity(opacity);
  for (int i = first; i <= last; ++i)
    if (half[i] >= 0) FillRect(Rc{x0 + i, centreY - half[i], 1, 2 * half[i]}, brush);
}

// ---- text -----------------------------------------------------------------------------------

TextFormat* GetTextFormat(float size, bool bold, int font) {
  if (!Finite(size) || size <= 0) return nullptr;
  const int quarters = static_cast<int>(std::min(size, 4000.0f) * 4);
  if (quarters < 1) return nullptr;
  const int slot = FontSlot(font);
  const int key = quarters * 8 + (bold ? 4 : 0) + slot;
  std::unique_ptr<TextFormat>& format = TextFormats[key];
  if (!format)
    format = std::make_unique<TextFormat>(kFontFamilies[slot], bold ? kBoldWeight : kNormalWeight, quarters / 4.0f);
  return format.get();
}

float MeasureTextWidth(std::wstring_view text, float size, bool bold, int font) {
  TextFormat* format = GetTextFormat(size, bold, font);
  if (!format || text.empty()) return 0;
  return MeasureTextLine(*format, TextBytes(text, font)).width;
}

float FittingSize(std::wstring_view text, float boxWidth, float size, int font) {
  constexpr float kLeastScale = 0.8f, kSlackDip = 2.0f;
  const std::wstring shown = Translate ? Translate(text) : std::wstring(text);
  const float width = MeasureTextWidth(shown, size, false, font);
  if (width <= boxWidth - kSlackDip) return size;
  return std::max(size * kLeastScale, size * (boxWidth - kSlackDip) / width);
}

float TextWidth(const std::wstring& text, float size, bool bold, int font) {
  static std::unordered_map<std::wstring, float, Fnv1aUtf16> widths(8);
  if (!Finite(size)) return 0;
  const long eighths = std::lround(std::clamp(size, -1.0e6f, 1.0e6f) * 8);
  std::wstring key = text;
  key.push_back(L'\x01');
  const std::string digits = std::to_string(eighths * 8 + (bold ? 4 : 0) + FontSlot(font));
  key.append(digits.begin(), digits.end());
  if (auto it = widths.find(key); it != widths.end()) return it->second;
  if (widths.size() > kMaxCachedWidths) widths.clear();
  const float w = MeasureTextWidth(text, size, bold, font);
  widths.emplace(std::move(key), w);
  return w;
}

ShownText TranslateToFit(std::wstring_view text, float boxWidth, float size, bool bold, int font) {
  ShownText shown{std::wstring(text), size};
  if (UiLanguage() == 0 || !Translate) return shown;
  std::wstring t = Translate(text);
  if (t == text) return shown;
  const float w = TextWidth(t, size, bold, font);
  if (w > boxWidth - kFitMarginDip) shown.size = size * std::max((boxWidth - kFitMarginDip) / w, kMinTranslatedScale);
  shown.text = std::move(t);
  return shown;
}

std::vector<DrawnText>* DrawnTextLog = nullptr;

namespace {
void LogText(std::wstring_view text, Rc r, float size, int align, bool bold, int font) {
  if (DrawnTextLog && !text.empty())
    DrawnTextLog->push_back(DrawnText{std::wstring(text), r, size, MeasureTextWidth(text, size, bold, font), align});
}
}  // namespace

void DrawText(std::wstring_view text, Rc r, float size, Color c, int align, bool bold, int font) {
  if (text.empty()) return;
  if (!(r.w > 0)) return LogText(text, r, size, align, bold, font);
  if (!DrawnTextLog && OffClip(r)) return;  // a logged text is logged as shown, wherever it lands
  if (UiLanguage() == 0 || !Translate) {
    DrawTextRun(text, r, size, c, align, bold, font);
    return;
  }
  const ShownText shown = TranslateToFit(text, r.w, size, bold, font);
  DrawTextRun(shown.text, r, shown.size, c, align, bold, font);
}

void DrawTextAsIs(std::wstring_view text, Rc r, float size, Color c, int align, bool bold, int font) {
  if (text.empty()) return;
  if (!(r.w > 0)) return LogText(text, r, size, align, bold, font);
  DrawTextRun(text, r, size, c, align, bold, font);
}

void DrawTextRun(std::wstring_view text, Rc r, float size, Color c, int align, bool bold, int font) {
  LogText(text, r, size, align, bold, font);
  if (OffClip(r)) return;
  TextFormat* format = GetTextFormat(size, bold, font);
  if (!Target || !format) return;
  const std::string bytes = TextBytes(text, font);
  if (DrawKeptTextLine(*Target, *format, bytes, ToRgba(c), r.x, r.y, r.w, r.h, AlignOf(align))) return;
  Target->SetColor(ToRgba(c));
  Target->DrawTextLine(*format, bytes, r.x, r.y, r.w, r.h, AlignOf(align));
}

// ---- bitmaps --------------------------------------------------------------------------------

std::shared_ptr<Bitmap> CreateBitmapFromPixels(const uint32_t* pixels, int width, int height) {
  if (!TheDevice || !pixels || width < 1 || height < 1) return nullptr;
  auto image = DrawBitmap::FromPixels(pixels, width, height);
  if (!image) return nullptr;
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->image = std::move(image);
  bitmap->generation = Generation;
  return bitmap;
}

std::shared_ptr<Bitmap> LoadLogoBitmap() {
  struct Entry {
    bool decoded = false;
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    std::shared_ptr<Bitmap> bitmap;
    int64_t generation = -1;
  };
  static Entry logo;
  if (!logo.decoded) {
    logo.decoded = true;
    const std::wstring path = FindAssetFile(L"logo.png");
    if (path.empty() || !ReadPngPixels(path, &logo.pixels, &logo.width, &logo.height)) logo.pixels.clear();
  }
  if (logo.pixels.empty()) return nullptr;
  if (logo.bitmap && logo.generation == static_cast<int64_t>(Generation)) return logo.bitmap;
  logo.bitmap = CreateBitmapFromPixels(logo.pixels.data(), logo.width, logo.height);
  logo.generation = Generation;
  return logo.bitmap;
}

void DrawImage(const std::shared_ptr<Bitmap>& bitmap, Rc r, float opacity, float radius) {
  if (!Target || !bitmap || !bitmap->image || OffClip(r)) return;
  Target->DrawBitmapIn(*bitmap->image, r.x, r.y, r.w, r.h, opacity, radius);
}
