#include "screens/kept_lanes.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/deck_view.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"

namespace {

constexpr int kCorners = 4;

struct KeptLane {
  LaneKey key;
  PixelBox box;  // the lane's device pixels
  int corner = 0;  // side of the corners' squares, device pixels
  std::vector<uint32_t> pixels;  // box, row after row
  std::vector<uint32_t> under;  // what lay under each corner's square before the body
  std::vector<GlowShape> glows;
  bool valid = false;
};
KeptLane KeptLanes[kEngineDecks];

// The device pixels of r when r lies on whole pixels of the frame under an unturned transform.
bool WholePixelBox(const DrawSurface& frame, Rc r, PixelBox* box) {
  constexpr float kOnPixel = 1e-3f;
  const Affine& d = frame.DeviceTransform();
  if (d.m12 != 0 || d.m21 != 0 || !(d.m11 > 0) || !(d.m22 > 0)) return false;
  const float v[4] = {d.m11 * r.x + d.dx, d.m22 * r.y + d.dy, d.m11 * r.Right() + d.dx, d.m22 * r.Bottom() + d.dy};
  for (float e : v)
    if (!std::isfinite(e) || std::fabs(e - std::round(e)) > kOnPixel) return false;
  *box = PixelBox{static_cast<int>(std::lround(v[0])), static_cast<int>(std::lround(v[1])),
                  static_cast<int>(std::lround(v[2])), static_cast<int>(std::lround(v[3]))};
  return box->x0 >= 0 && box->y0 >= 0 && box->x1 <= frame.pixelWidth() && box->y1 <= frame.pixelHeight() &&
         !box->Empty();
}

PixelBox CornerBox(const KeptLane& k, int i) {
  const int x0 = (i & 1) ? k.box.x1 - k.corner : k.box.x0, y0 = (i & 2) ? k.box.y1 - k.corner : k.box.y0;
  return PixelBox{x0, y0, x0 + k.corner, y0 + k.corner};
}

PixelBox Within(const PixelBox& a, const PixelBox& b) {
  return PixelBox{std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

PixelBox CurrentClip(const DrawSurface& frame) {
  PixelBox c;
  frame.DeviceClip(&c.x0, &c.y0, &c.x1, &c.y1);
  return c;
}

// Word i of corner `corner`'s square in KeptLane::under.
uint32_t* Under(KeptLane& k, int corner, int x, int y) {
  const PixelBox b = CornerBox(k, corner);
  return &k.under[static_cast<size_t>(corner) * k.corner * k.corner + static_cast<size_t>(y - b.y0) * k.corner +
                  (x - b.x0)];
}

// Whether what lies under the corner's square inside `clip` is what lay there when it was kept.
bool UnderHolds(KeptLane& k, int corner, const PixelView& view, const PixelBox& clip) {
  const PixelBox b = Within(CornerBox(k, corner), clip);
  for (int y = b.y0; y < b.y1; ++y)
    if (!std::equal(view.pixels + static_cast<size_t>(y) * view.stride + b.x0,
                    view.pixels + static_cast<size_t>(y) * view.stride + b.x1, Under(k, corner, b.x0, y)))
      return false;
  return true;
}

// The kept body inside the clip, but for the corners whose underlay changed, which are drawn
// afresh (their glows are the body's, queued once).
void RestoreLane(KeptLane& k, DrawSurface& frame, void (*draw)(const void*), const void* context) {
  const PixelBox clip = Within(CurrentClip(frame), k.box);
  bool afresh[kCorners] = {};
  if (clip.Empty()) {
    GlowList.insert(GlowList.end(), k.glows.begin(), k.glows.end());
    return;
  }
  const PixelView view = frame.Pixels();
  for (int i = 0; i < kCorners; ++i) afresh[i] = !Within(CornerBox(k, i), clip).Empty() && !UnderHolds(k, i, view, clip);
  const int width = k.box.x1 - k.box.x0;
  for (int y = clip.y0; y < clip.y1; ++y) {
    int x0 = clip.x0, x1 = clip.x1;
    for (int i = 0; i < kCorners; ++i) {
      const PixelBox b = CornerBox(k, i);
      if (!afresh[i] || y < b.y0 || y >= b.y1) continue;
      if (i & 1) x1 = std::min(x1, b.x0);
      else x0 = std::max(x0, b.x1);
    }
    if (x0 < x1)
      std::copy_n(&k.pixels[static_cast<size_t>(y - k.box.y0) * width + (x0 - k.box.x0)], x1 - x0,
                  view.pixels + static_cast<size_t>(y) * view.stride + x0);
  }
  frame.MarkDirty(clip.x0, clip.y0, clip.x1 - clip.x0, clip.y1 - clip.y0);
  const Affine& d = frame.DeviceTransform();
  bool queued = false;
  for (int i = 0; i < kCorners; ++i) {
    if (!afresh[i]) continue;
    const PixelBox b = CornerBox(k, i);
    const size_t glows = GlowList.size();
    PushClip(Rc{(b.x0 - d.dx) / d.m11, (b.y0 - d.dy) / d.m22, k.corner / d.m11, k.corner / d.m22});
    draw(context);
    PopClip();
    if (queued) GlowList.resize(glows);
    queued = true;
  }
  if (!queued) GlowList.insert(GlowList.end(), k.glows.begin(), k.glows.end());
}

}  // namespace

void DrawLaneBodyKept(int deck, const LaneKey& key, float radius, bool keep, void (*draw)(const void*),
                      const void* context) {
  DrawSurface* frame = FrameTarget();
  if (deck < 0 || deck >= kEngineDecks || !frame || DrawTarget() != frame) {
    draw(context);
    return;
  }
  KeptLane& k = KeptLanes[deck];
  if (DrawingSmallParts() && k.valid && k.key == key) {
    RestoreLane(k, *frame, draw, context);
    return;
  }
  // Kept from a whole frame only: a frame in small parts may follow a change it does not show.
  k.valid = false;
  const int corner = static_cast<int>(std::ceil(radius * frame->DeviceTransform().m11)) + 1;
  const PixelBox clip = CurrentClip(*frame);
  keep = keep && !DrawingSmallParts() && WholePixelBox(*frame, Rc{key.x, key.y, key.w, key.h}, &k.box) &&
         Within(k.box, clip) == k.box && 2 * corner <= std::min(k.box.x1 - k.box.x0, k.box.y1 - k.box.y0);
  if (keep) {
    k.corner = corner;
    k.under.resize(static_cast<size_t>(kCorners) * corner * corner);
    const PixelView view = frame->Pixels();
    for (int i = 0; i < kCorners; ++i) {
      const PixelBox b = CornerBox(k, i);
      for (int y = b.y0; y < b.y1; ++y)
        std::copy_n(view.pixels + static_cast<size_t>(y) * view.stride + b.x0, corner, Under(k, i, b.x0, y));
    }
  }
  const size_t firstGlow = GlowList.size();
  const uint64_t requests = RedrawRequestCount();
  draw(context);
  // A body that asked for a redraw moves with the clock: not kept.
  if (!keep || RedrawRequestCount() != requests) return;
  const PixelView view = frame->Pixels();
  const int width = k.box.x1 - k.box.x0;
  k.pixels.resize(static_cast<size_t>(width) * (k.box.y1 - k.box.y0));
  for (int y = k.box.y0; y < k.box.y1; ++y)
    std::copy_n(view.pixels + static_cast<size_t>(y) * view.stride + k.box.x0, width,
                &k.pixels[static_cast<size_t>(y - k.box.y0) * width]);
  k.glows.assign(GlowList.begin() + static_cast<ptrdiff_t>(firstGlow), GlowList.end());
  k.key = key;
  k.valid = true;
}
