#include "ui/frame_driver.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/control_input.h"
#include "platform/window.h"
#include "ui/draw.h"
#include "ui/draw_workers.h"
#include "ui/glow.h"

double FrameClock = 0.0;
uint64_t FrameClockMs = 0;

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr float kFar = 1.0e6f;  // pixels: a box clamped this far out still covers the frame
constexpr uint64_t kNoRedraw = std::numeric_limits<uint64_t>::max();
uint64_t RedrawDue = kNoRedraw;  // of the whole frame
// What the parts asked for: the earliest, their boxes (frame pixels, grown by the glow's reach)
// and the earliest time one of them stops holding.
uint64_t PartDue = kNoRedraw, PartUntil = kNoRedraw;
PartBoxes PartsAsked;
bool PartAsked = false;
// Where the parts that change alone were drawn: this frame's, and the last drawn frame's.
struct DrawnParts {
  PartBoxes boxes[kMaxScreenParts];
  bool drawn[kMaxScreenParts] = {};
};
DrawnParts PartsNow, PartsShown;
// The still area (frame pixels): this frame's, and the last drawn frame's.
struct StillArea {
  PixelBox box;
  bool noted = false;
};
StillArea StillNow, StillShown;
uint64_t RedrawRequests = 0;
bool SmallParts = false;  // DrawingSmallParts

// The device pixels of r under the frame's transform, grown by reach; false when r cannot be
// placed (not on the frame, or not finite).
bool DeviceBoxOf(Rc r, PixelBox* box, int reach = kGlowReachPx) {
  DrawSurface* frame = FrameTarget();
  if (!frame || DrawTarget() != frame || !std::isfinite(r.x) || !std::isfinite(r.y) || !std::isfinite(r.w) ||
      !std::isfinite(r.h) || r.w < 0 || r.h < 0)
    return false;
  const Affine d = frame->DeviceTransform();
  float xs[4], ys[4];
  MapPoint(d, r.x, r.y, &xs[0], &ys[0]);
  MapPoint(d, r.Right(), r.y, &xs[1], &ys[1]);
  MapPoint(d, r.x, r.Bottom(), &xs[2], &ys[2]);
  MapPoint(d, r.Right(), r.Bottom(), &xs[3], &ys[3]);
  auto lo = [](const float* v) { return std::clamp(*std::min_element(v, v + 4), -kFar, kFar); };
  auto hi = [](const float* v) { return std::clamp(*std::max_element(v, v + 4), -kFar, kFar); };
  *box = PixelBox{static_cast<int>(std::floor(lo(xs))) - reach, static_cast<int>(std::floor(lo(ys))) - reach,
                  static_cast<int>(std::ceil(hi(xs))) + reach, static_cast<int>(std::ceil(hi(ys))) + reach};
  return true;
}

// The targets follow the window: a new UI scale or a size the window events did not bring.
bool TargetsFitWindow(const FrameWindow& window) {
  if (std::fabs(CurrentDpi() - window.scale * kBaseDpi) > kDpiTolerance) return false;
  const PixelView image = FrameImage();
  return image.width == window.pixelWidth && image.height == window.pixelHeight;
}

}  // namespace

bool WindowDrawable(const FrameWindow& window) {
  return !window.minimised && window.pixelWidth >= kMinDrawPixels && window.pixelHeight >= kMinDrawPixels;
}

namespace {

// One drawn frame: the whole of it (parts null), or each of the count parts in a pass of its own;
// ageKept as EndFrame's.
bool DrawFrame(const FrameWindow& window, void (*draw)(), const PixelBox* parts, int count, bool ageKept) {
  if (!WindowDrawable(window)) return false;
  if (!HasDevice() && !CreateDevice(window.pixelWidth, window.pixelHeight, window.scale)) return false;
  if (!TargetsFitWindow(window)) {
    if (parts) return false;  // what the window shows is not this frame's to patch
    ResizeTargets(window.pixelWidth, window.pixelHeight, window.scale);
  }
  if (!HasDevice()) return false;  // the resize lost the device; it is made again next frame
  FrameClockMs = FrameNowHook();
  FrameClock = static_cast<double>(FrameClockMs) / kMsPerSecond;
  SmallParts = parts && !ageKept;
  for (int pass = 0; pass < (parts ? count : 1); ++pass) {
    const PixelBox* part = parts ? &parts[pass] : nullptr;
    RedrawDue = PartDue = PartUntil = kNoRedraw;
    PartsAsked = PartBoxes{};
    PartAsked = false;
    PartsNow = DrawnParts{};
    StillNow = StillArea{};
    ResetGlowLayer();
    BeginDraw();
    const PixelView image = FrameImage();
    const PixelBox tiles = part ? OnGlowTiles(*part, image.width, image.height) : PixelBox{};
    if (part) FrameTarget()->SetBaseClip(tiles);
    KeepDrawBandsOnThisThread(part != nullptr);
    draw();
    EndFrame(part ? &tiles : nullptr, ageKept);
    KeepDrawBandsOnThisThread(false);
    if (part && FrameTarget()) FrameTarget()->ClearBaseClip();
    if (!HasDevice()) break;  // the end of the frame lost the device
  }
  SmallParts = false;
  PartsShown = PartsNow;
  StillShown = StillNow;
  EndFrameInput();
  return true;
}

}  // namespace

bool DrawingSmallParts() { return SmallParts; }

bool DrawWindowFrame(const FrameWindow& window, void (*draw)(), const PixelBox* part) {
  return DrawFrame(window, draw, part, 1, true);
}

bool DrawWindowFrame(const FrameWindow& window, void (*draw)(), const PartBoxes& parts) {
  const PixelBox none{};  // parts asked for that cover no pixels: the requests are renewed
  return parts.count > 0 ? DrawFrame(window, draw, parts.box, parts.count, false)
                         : DrawFrame(window, draw, &none, 1, false);
}

namespace {
int64_t AreaOf(const PixelBox& b) { return b.Empty() ? 0 : static_cast<int64_t>(b.x1 - b.x0) * (b.y1 - b.y0); }
}  // namespace

void PartBoxes::Add(const PixelBox& added) {
  if (added.Empty()) return;
  // A pass of its own costs about as much as redrawing this many more pixels in a shared one.
  constexpr int64_t kPassCostPx = 64 * 1024;
  auto worth_joining = [](const PixelBox& a, const PixelBox& b) {
    return AreaOf(UnionBox(a, b)) <= AreaOf(a) + AreaOf(b) + kPassCostPx;
  };
  PixelBox b = added;
  // Joining may bring the joined box near another: joined until none is.
  for (int i = 0; i < count;) {
    if (!worth_joining(box[i], b)) {
      ++i;
      continue;
    }
    b = UnionBox(box[i], b);
    box[i] = box[--count];
    i = 0;
  }
  if (count == kMaxPartBoxes) {
    int best = 0;
    int64_t cheapest = std::numeric_limits<int64_t>::max();
    for (int i = 0; i < count; ++i) {
      const int64_t cost = AreaOf(UnionBox(box[i], b)) - AreaOf(box[i]);
      if (cost < cheapest) cheapest = cost, best = i;
    }
    b = UnionBox(box[best], b);
    box[best] = box[--count];
  }
  box[count++] = b;
}

void NotePartDrawn(int part, Rc r, int reachPx) {
  PixelBox box;
  if (part < 0 || part >= kMaxScreenParts || !DeviceBoxOf(r, &box, std::clamp(reachPx, 0, kGlowReachPx))) return;
  PartsNow.boxes[part].Add(box);
  PartsNow.drawn[part] = true;
}

bool PartDrawnBoxes(int part, PartBoxes* boxes) {
  if (part < 0 || part >= kMaxScreenParts || !PartsShown.drawn[part]) return false;
  for (int i = 0; i < PartsShown.boxes[part].count; ++i) boxes->Add(PartsShown.boxes[part].box[i]);
  return true;
}

void NoteStillArea(Rc r) {
  PixelBox box;
  if (!DeviceBoxOf(r, &box)) return;
  // DeviceBoxOf grew the box by the glow's reach each way: its top now lies that far above the
  // area, and what is drawn above the area reaches at most that far into it.
  box.y0 += 2 * kGlowReachPx;
  StillNow.box = box;
  StillNow.noted = box.y0 < box.y1;
}

bool StillAreaBox(PixelBox* box) {
  if (!StillShown.noted) return false;
  *box = StillShown.box;
  return true;
}

uint64_t RedrawRequestCount() { return RedrawRequests; }

PixelBox OnGlowTiles(const PixelBox& box, int width, int height) {
  auto down = [](int v, int limit) { return std::min(limit, std::max(0, v) / kGlowTilePx * kGlowTilePx); };
  auto up = [](int v, int limit) {
    return std::min(limit, (std::max(0, v) + kGlowTilePx - 1) / kGlowTilePx * kGlowTilePx);
  };
  return PixelBox{down(box.x0, width), down(box.y0, height), up(box.x1, width), up(box.y1, height)};
}

PixelBox UnionBox(const PixelBox& a, const PixelBox& b) {
  return PixelBox{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

void RedrawAt(uint64_t monotonicMs) {
  ++RedrawRequests;
  RedrawDue = std::min(RedrawDue, monotonicMs);
}

void RedrawNextFrame() {
  ++RedrawRequests;
  RedrawDue = 0;
}

void RedrawPartAt(uint64_t monotonicMs, Rc r, uint64_t untilMs, int reachPx) {
  ++RedrawRequests;
  PixelBox box;
  if (!DeviceBoxOf(r, &box, std::clamp(reachPx, 0, kGlowReachPx))) {
    RedrawAt(monotonicMs);
    return;
  }
  PartsAsked.Add(box);
  PartAsked = true;
  PartDue = std::min(PartDue, monotonicMs);
  PartUntil = std::min(PartUntil, untilMs);
}

bool BlinkLit(uint64_t nowMs, uint64_t periodMs) {
  if (periodMs == 0) return true;
  RedrawAt((nowMs / periodMs + 1) * periodMs);
  return (nowMs / periodMs) % 2 == 0;
}

bool BlinkLit(uint64_t nowMs, uint64_t periodMs, Rc r) {
  if (periodMs == 0) return true;
  RedrawPartAt((nowMs / periodMs + 1) * periodMs, r, kNoRedraw);
  return (nowMs / periodMs) % 2 == 0;
}

uint64_t RedrawDueMs() { return RedrawDue; }

uint64_t PartRedrawDueMs() { return PartDue; }

bool RedrawPartDue(uint64_t nowMs, PartBoxes* parts) {
  if (nowMs >= RedrawDue || !PartAsked || nowMs < PartDue || nowMs > PartUntil) return false;
  for (int i = 0; i < PartsAsked.count; ++i) parts->Add(PartsAsked.box[i]);
  return true;
}
