#include "ui/glow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <span>

#include "ui/draw_pixels.h"
#include "ui/draw_workers.h"
#include "ui/glow_lanes.h"
#include "ui/kept_images.h"

std::vector<GlowShape> GlowList;
size_t GlowStartIndex = 0;
std::vector<std::function<void()>> OverlayList;

namespace {

using namespace glow_lanes;

// The pass works on 8 x 8-pixel tiles of the frame that lie near a glowing shape; the rest of
// the frame is never touched.
constexpr int kTile = kGlowTilePx;
constexpr int kTileHalf = kTile / 2;
constexpr int kTileQuarter = kTile / 4;
// Blur deviations in glow-target pixels (half the frame's resolution).
constexpr float kTightSigma = 1.4f;
constexpr float kWideSigma = 5.5f;
// Taps on each side: about three deviations. The wide blur runs at quarter resolution, where its
// deviation is half as many pixels.
constexpr int kTightTaps = 4;
constexpr int kWideTaps = 8;
// Zero borders around the work images, so that every tap and every resampling neighbour can be
// read without a bounds test (and reads as transparent black beyond the frame).
constexpr int kHalfMargin = kTightTaps + 1;
constexpr int kQuarterMargin = kWideTaps + 1;
// How far beyond a shape, in frame pixels, its glow is worked out. The wide halo reaches at most
// the wide blur's taps (8 quarter pixels) plus the resampling on the way down and up; a faint or
// thin shape's halo falls under kInvisible sooner (see Reach). The tight blur reaches 4 half
// pixels plus resampling.
constexpr float kMaxReachPx = 36.0f;
constexpr float kTightReachPx = 11.0f;
// The wide deviation in frame pixels.
constexpr float kWideSigmaPx = 2 * kWideSigma;
// Shapes are antialiased a pixel beyond their geometry.
constexpr float kEdgePx = 2.0f;
// A glow whose alpha is under half a level changes no pixel (premultiplied: no channel exceeds it).
constexpr float kInvisible = 0.5f;
static_assert(kGlowReachPx >= kMaxReachPx + kEdgePx, "a glow changes pixels up to its reach");
// A part of the frame redrawn works the glow out this far around it (whole tiles). Its changes
// lie a glow's reach inside it, so the planes beyond it still hold what they would hold if worked
// out afresh, and the blurs may read them. What cannot be read is which columns of a row beyond
// the tiles worked on hold something of the tight blur (B.litLo, noted anew each pass): the part's
// pixels read the combined glow a half pixel around them, and that reads the tight blur's taps.
constexpr int kPartMarginPx = ((1 + kTightTaps) * 2 + kTile - 1) / kTile * kTile;
// Fewer tiles than this are worked on by the calling thread alone.
constexpr size_t kFewTiles = 1024;
// Columns (DIPs) of a column glow marked as one box.
constexpr int kColumnStretch = 16;

// A Gaussian's weights in 1/65536ths: the centre's, then one per distance (the kernel is
// symmetric). The rounding is given to the centre, so the weights add up to exactly one.
template <int Taps>
struct Kernel {
  uint16_t w[Taps + 1];
  explicit Kernel(double sigma) {
    double f[Taps + 1], sum = 0;
    for (int t = 0; t <= Taps; ++t) sum += (t ? 2 : 1) * (f[t] = std::exp(-(t * t) / (2 * sigma * sigma)));
    int rest = 65536;
    for (int t = 1; t <= Taps; ++t) rest -= 2 * (w[t] = static_cast<uint16_t>(std::lround(f[t] / sum * 65536)));
    w[0] = static_cast<uint16_t>(rest);
  }
};
const Kernel<kTightTaps> kTight(kTightSigma);
const Kernel<kWideTaps> kWide(kWideSigma / 2);

// A work image of four-lane pixels with a zero margin on every side.
struct Plane {
  int w = 0, h = 0, margin = 0, stride = 0;  // stride in pixels
  std::vector<uint16_t> v;
  void Reset(int width, int height, int m) {
    w = width, h = height, margin = m, stride = width + 2 * m;
    v.assign(static_cast<size_t>(stride) * (height + 2 * m) * 4, 0);
  }
  // Row y (-margin .. h + margin - 1); pixel x (from -margin) is at 4 * x.
  uint16_t* Row(int y) { return &v[(static_cast<size_t>(y + margin) * stride + margin) * 4]; }
};

struct Span {
  int ty, tx0, tx1;  // tiles [tx0, tx1) of tile row ty
};

// Scratch of the glow pass, sized to the frame. Outside the tiles being worked on every plane
// (and the glow target's pixels) holds zeros, so blurs may read across tile edges freely.
struct GlowBuffers {
  const DrawSurface* glow = nullptr;  // the glow target the zeros are kept for
  int w = 0, h = 0, hw = 0, hh = 0, qw = 0, qh = 0, tw = 0, th = 0;
  std::vector<uint8_t> marked, tight, wasMarked, wasTight, mask;
  // Tiles this pass may mark (all, or those near a part of the frame redrawn), and the tiles that
  // may still hold something (wasMarked, wasTight): the scans of the masks need not go beyond either.
  int markX0 = 0, markY0 = 0, markX1 = 0, markY1 = 0;
  int wasX0 = 0, wasY0 = 0, wasX1 = 0, wasY1 = 0;
  std::vector<Span> spans, tightSpans;
  std::vector<Span> partSpans;  // a part of the frame redrawn: the spans composited
  std::vector<Span> staleGlow, staleWide, staleTight;  // what ClearStale clears
  Plane quarter, quarterH, quarterBlur;  // quarter resolution
  Plane halfH, combined;                 // glow-target resolution
  // One row per band (kMaxDrawBands of them, rowStride apart), indexed from -kHalfMargin.
  int rowStride = 0;
  std::vector<uint16_t> row;
  // Per glow-target row: the columns [litLo, litHi) where the tight blur's first half left
  // something, so that its second half can skip the rest.
  std::vector<int> litLo, litHi;
  // The shapes the planes were last worked out for, and the scale they were drawn at. While the
  // next frame queues the same shapes, its glow is the same: only the compositing is redone.
  std::vector<GlowShape> lastShapes;
  float lastScale = 0;
  bool reusable = false;
};
GlowBuffers B;
FramePresenter Presenter;

void ZeroAll(DrawSurface* glow) {
  for (Plane* p : {&B.quarter, &B.quarterH, &B.quarterBlur, &B.halfH, &B.combined})
    std::fill(p->v.begin(), p->v.end(), 0);
  glow->Clear(Rgba{0, 0, 0, 0});
  std::fill(B.wasMarked.begin(), B.wasMarked.end(), 0);
  std::fill(B.wasTight.begin(), B.wasTight.end(), 0);
}

void Prepare(const DrawSurface* frame, DrawSurface* glow) {
  const int w = frame->pixelWidth(), h = frame->pixelHeight();
  if (B.glow == glow && B.w == w && B.h == h) return;
  B.glow = glow;
  B.w = w, B.h = h;
  B.hw = glow->pixelWidth(), B.hh = glow->pixelHeight();
  B.qw = (B.hw + 1) / 2, B.qh = (B.hh + 1) / 2;
  B.tw = (w + kTile - 1) / kTile, B.th = (h + kTile - 1) / kTile;
  B.marked.assign(static_cast<size_t>(B.tw) * B.th, 0);
  B.wasMarked.assign(B.marked.size(), 0);
  B.tight.assign(B.marked.size(), 0);
  B.wasTight.assign(B.marked.size(), 0);
  B.quarter.Reset(B.qw, B.qh, kQuarterMargin);
  B.quarterH.Reset(B.qw, B.qh, kQuarterMargin);
  B.quarterBlur.Reset(B.qw, B.qh, kQuarterMargin);
  B.halfH.Reset(B.hw, B.hh, kHalfMargin);
  B.combined.Reset(B.hw, B.hh, kHalfMargin);
  B.rowStride = B.hw + 2 * kHalfMargin + 2;
  B.row.assign(static_cast<size_t>(B.rowStride) * kMaxDrawBands * 4, 0);
  B.litLo.assign(B.hh + 2 * kHalfMargin, 0);
  B.litHi.assign(B.hh + 2 * kHalfMargin, 0);
  B.reusable = false;
  B.markX0 = B.markY0 = 0, B.markX1 = B.tw, B.markY1 = B.th;
  B.wasX0 = B.wasY0 = 0, B.wasX1 = B.tw, B.wasY1 = B.th;
  ZeroAll(glow);
}

bool SameShape(const GlowShape& a, const GlowShape& b) {
  auto same_colour = [](const Color& x, const Color& y) { return x.r == y.r && x.g == y.g && x.b == y.b && x.a == y.a; };
  return a.kind == b.kind && a.g1 == b.g1 && a.g2 == b.g2 && a.g3 == b.g3 && a.g4 == b.g4 && a.g5 == b.g5 &&
         a.g6 == b.g6 && same_colour(a.color, b.color) && a.align == b.align && a.bold == b.bold && a.font == b.font &&
         a.transform == b.transform && a.text == b.text && a.columns == b.columns;
}

// True when the glow planes already hold the glow of GlowList from GlowStartIndex at this scale.
bool SameGlowsAsLast(float scale) {
  if (!B.reusable || B.lastScale != scale || GlowStartIndex > GlowList.size() ||
      GlowList.size() - GlowStartIndex != B.lastShapes.size())
    return false;
  for (size_t i = 0; i < B.lastShapes.size(); ++i)
    if (!SameShape(GlowList[GlowStartIndex + i], B.lastShapes[i])) return false;
  return true;
}

uint16_t* RowScratch(int band) { return B.row.data() + (static_cast<size_t>(band) * B.rowStride + kHalfMargin) * 4; }

struct Box {
  float x0, y0, x1, y1;
};

// The user-space boxes that hold a shape's pixels: one, or four edge bands for an outline, whose
// inside never glows.
int ShapeBoxes(const GlowShape& s, Box out[4]) {
  for (float v : {s.g1, s.g2, s.g3, s.g4, s.g5, s.g6})
    if (!std::isfinite(v)) return 0;
  switch (s.kind) {
    case kGlowFilledRoundedRect:
    case kGlowText: {
      const float x1 = s.kind == kGlowText ? s.g1 + s.g3 : s.g3, y1 = s.kind == kGlowText ? s.g2 + s.g4 : s.g4;
      out[0] = Box{std::min(s.g1, x1), std::min(s.g2, y1), std::max(s.g1, x1), std::max(s.g2, y1)};
      return 1;
    }
    case kGlowOutlinedRoundedRect: {
      const float l = std::min(s.g1, s.g3), r = std::max(s.g1, s.g3);
      const float t = std::min(s.g2, s.g4), b = std::max(s.g2, s.g4);
      const float out_by = std::fabs(s.g6) / 2, in_by = std::fabs(s.g5) + std::fabs(s.g6) / 2;
      out[0] = Box{l - out_by, t - out_by, r + out_by, t + in_by};
      out[1] = Box{l - out_by, b - in_by, r + out_by, b + out_by};
      out[2] = Box{l - out_by, t - out_by, l + in_by, b + out_by};
      out[3] = Box{r - in_by, t - out_by, r + out_by, b + out_by};
      return 4;
    }
    case kGlowFilledCircle:
    case kGlowRing:
    case kGlowArc: {
      const float r = std::fabs(s.g3) + (s.kind == kGlowFilledCircle ? 0 : std::fabs(s.g6) / 2);
      out[0] = Box{s.g1 - r, s.g2 - r, s.g1 + r, s.g2 + r};
      return 1;
    }
    case kGlowLine: {
      const float half = std::fabs(s.g6) / 2;
      out[0] = Box{std::min(s.g1, s.g3) - half, std::min(s.g2, s.g4) - half, std::max(s.g1, s.g3) + half,
                   std::max(s.g2, s.g4) + half};
      return 1;
    }
    default:
      return 0;
  }
}

// How far from its edge, in frame pixels, a shape's wide halo stays visible: a Gaussian of the
// wide deviation over a band `thickness` pixels across, at the shape's alpha, falls under
// kInvisible at that distance.
float Reach(float alpha, float thicknessPx) {
  const float band = std::min(1.0f, thicknessPx / (kWideSigmaPx * 2.5066f));  // sqrt(2 pi)
  const float peak = 255.0f * std::clamp(alpha, 0.0f, 1.0f) * band;
  if (peak <= kInvisible) return kTightReachPx;
  return std::clamp(kWideSigmaPx * std::sqrt(2 * std::log(peak / kInvisible)), kTightReachPx, kMaxReachPx);
}

void MarkTiles(std::vector<uint8_t>* mask, float x0, float y0, float x1, float y1, float reach) {
  constexpr float kFar = 1.0e6f;  // clamp before converting: a huge box marks the whole frame
  x0 = std::clamp(x0 - reach, -kFar, kFar), x1 = std::clamp(x1 + reach, -kFar, kFar);
  y0 = std::clamp(y0 - reach, -kFar, kFar), y1 = std::clamp(y1 + reach, -kFar, kFar);
  if (x1 < 0 || y1 < 0 || x0 >= B.w || y0 >= B.h) return;
  const int tx0 = std::max(B.markX0, static_cast<int>(std::floor(x0 / kTile)));
  const int tx1 = std::min(B.markX1 - 1, static_cast<int>(std::floor(x1 / kTile)));
  const int ty0 = std::max(B.markY0, static_cast<int>(std::floor(y0 / kTile)));
  const int ty1 = std::min(B.markY1 - 1, static_cast<int>(std::floor(y1 / kTile)));
  if (tx1 < tx0) return;
  for (int ty = ty0; ty <= ty1; ++ty) std::memset(&(*mask)[static_cast<size_t>(ty) * B.tw + tx0], 1, tx1 - tx0 + 1);
}

// Marks the tiles that a user-space box's glow reaches under d: all of it in B.marked, its tight
// part in B.tight. A stroke's thickness is given in frame pixels; a filled box's is its narrower
// side.
void MarkBox(const Affine& d, const Box& b, float alpha, float strokePx, bool stroked) {
  float xs[4], ys[4];
  MapPoint(d, b.x0, b.y0, &xs[0], &ys[0]);
  MapPoint(d, b.x1, b.y0, &xs[1], &ys[1]);
  MapPoint(d, b.x0, b.y1, &xs[2], &ys[2]);
  MapPoint(d, b.x1, b.y1, &xs[3], &ys[3]);
  const float x0 = *std::min_element(xs, xs + 4), x1 = *std::max_element(xs, xs + 4);
  const float y0 = *std::min_element(ys, ys + 4), y1 = *std::max_element(ys, ys + 4);
  const float thickness = stroked ? strokePx : std::min(x1 - x0, y1 - y0);
  MarkTiles(&B.marked, x0, y0, x1, y1, Reach(alpha, thickness) + kEdgePx);
  MarkTiles(&B.tight, x0, y0, x1, y1, kTightReachPx + kEdgePx);
}

// Columns are marked a stretch at a time, each box as tall as its tallest column, so the quiet
// parts of a waveform do not pull in the tiles above them. The halo is reckoned from the whole
// figure: neighbouring stretches add up to one wide glow.
void MarkColumns(const GlowShape& s, const Affine& d, float linearScale) {
  if (!std::isfinite(s.g1) || !std::isfinite(s.g2)) return;
  const int n = static_cast<int>(s.columns.size());
  float tallest = -1;
  for (float h : s.columns)
    if (std::isfinite(h)) tallest = std::max(tallest, h);
  if (tallest < 0) return;
  const float thickness = std::min(static_cast<float>(n), 2 * tallest) * linearScale;
  for (int i = 0; i < n; i += kColumnStretch) {
    const int end = std::min(n, i + kColumnStretch);
    float h = -1;
    for (int k = i; k < end; ++k)
      if (std::isfinite(s.columns[k])) h = std::max(h, s.columns[k]);
    if (h >= 0) MarkBox(d, Box{s.g1 + i, s.g2 - h, s.g1 + end, s.g2 + h}, s.color.a, thickness, true);
  }
}

// Marks the tiles that the shape's glow reaches.
void MarkShape(const GlowShape& s, float scale) {
  const Affine d = Compose(s.transform, Affine{scale, 0, 0, scale, 0, 0});
  for (float v : {d.m11, d.m12, d.m21, d.m22, d.dx, d.dy})
    if (!std::isfinite(v)) return;
  const float linear_scale = std::sqrt(std::fabs(d.m11 * d.m22 - d.m12 * d.m21));
  if (s.kind == kGlowColumns) {
    MarkColumns(s, d, linear_scale);
    return;
  }
  Box boxes[4];
  const int count = ShapeBoxes(s, boxes);
  const bool stroked = s.kind == kGlowOutlinedRoundedRect || s.kind == kGlowRing || s.kind == kGlowLine ||
                       s.kind == kGlowArc;
  for (int i = 0; i < count; ++i) MarkBox(d, boxes[i], s.color.a, std::fabs(s.g6) * linear_scale, stroked);
}

// A box of tiles [x0, x1) x [y0, y1).
struct Area {
  int x0, y0, x1, y1;
  bool Empty() const { return x1 <= x0 || y1 <= y0; }
  // f(first, count) for each row's stretch of mask indexes.
  template <typename F>
  void ForRows(F&& f) const {
    if (x1 > x0)
      for (int ty = y0; ty < y1; ++ty) f(static_cast<size_t>(ty) * B.tw + x0, static_cast<size_t>(x1 - x0));
  }
};
// The tiles this pass may mark.
Area MarkArea() { return Area{B.markX0, B.markY0, B.markX1, B.markY1}; }
// The tiles either this pass may mark or an earlier pass left something in: outside them every
// mask is 0.
Area AreaInUse() {
  const Area was{B.wasX0, B.wasY0, B.wasX1, B.wasY1}, mark = MarkArea();
  if (was.Empty()) return mark;
  if (mark.Empty()) return was;
  return Area{std::min(was.x0, mark.x0), std::min(was.y0, mark.y0), std::max(was.x1, mark.x1),
              std::max(was.y1, mark.y1)};
}

// Runs of tiles in `mask`, row by row, within `area`.
void CollectSpans(const std::vector<uint8_t>& mask, std::vector<Span>* spans, const Area& area) {
  spans->clear();
  for (int ty = area.y0; ty < area.y1; ++ty) {
    const uint8_t* row = &mask[static_cast<size_t>(ty) * B.tw];
    for (int tx = area.x0; tx < area.x1;) {
      if (!row[tx]) {
        ++tx;
        continue;
      }
      int end = tx;
      while (end < area.x1 && row[end]) ++end;
      spans->push_back(Span{ty, tx, end});
      tx = end;
    }
  }
}

// Pixel ranges of a span at a resolution with `tile` pixels per tile, clipped to w x h.
struct Range {
  int x0, x1, y0, y1;
};
Range RangeOf(const Span& s, int tile, int w, int h) {
  return Range{std::min(s.tx0 * tile, w), std::min(s.tx1 * tile, w), std::min(s.ty * tile, h),
               std::min((s.ty + 1) * tile, h)};
}

// Zeros over the spans in the given quarter and half planes, and in the glow target's pixels when
// given, plus the half planes' row and column just past the image that the odd-size replication
// may have written.
void ClearSpans(std::span<const Span> spans, std::initializer_list<Plane*> quarter, std::initializer_list<Plane*> half,
                const PixelView* glow) {
  for (const Span& s : spans) {
    const Range q = RangeOf(s, kTileQuarter, B.qw, B.qh);
    for (int y = q.y0; y < q.y1; ++y)
      for (Plane* p : quarter) std::fill(p->Row(y) + 4 * q.x0, p->Row(y) + 4 * q.x1, 0);
    const Range h = RangeOf(s, kTileHalf, B.hw, B.hh);
    const int x1 = h.x1 == B.hw ? B.hw + 1 : h.x1, y1 = h.y1 == B.hh ? B.hh + 1 : h.y1;
    for (int y = h.y0; y < y1; ++y) {
      for (Plane* p : half) std::fill(p->Row(y) + 4 * h.x0, p->Row(y) + 4 * x1, 0);
      if (glow && y < B.hh && h.x1 > h.x0)
        std::memset(glow->pixels + static_cast<size_t>(y) * glow->stride + h.x0, 0, (h.x1 - h.x0) * sizeof(uint32_t));
    }
  }
}

// Keeps the zeros where this pass works: each image is cleared, within the tiles this pass may
// mark, only where it may hold something from an earlier pass that this pass does not overwrite.
// Elsewhere what earlier passes left stays (and stays noted): a part of the frame redrawn depends
// only on the glow near it, so two parts redrawn in turn do not clear each other's tiles. Shapes
// were drawn inside last pass's tight tiles; the wide blur's planes are rewritten over all tiles
// in use, the downsampled and the tight blur's first half only over the tight ones, so only tiles
// that leave the tight ones hold theirs. The three clears touch different images: they share one
// round of the draw workers, by bands of tile rows (the spans run row by row).
void ClearStale(const PixelView& glow) {
  const Area area = MarkArea();
  B.mask.resize(B.marked.size());
  area.ForRows([](size_t i0, size_t n) { std::copy_n(&B.wasTight[i0], n, &B.mask[i0]); });
  CollectSpans(B.mask, &B.staleGlow, area);
  area.ForRows([](size_t i0, size_t n) {
    for (size_t i = i0; i < i0 + n; ++i) B.mask[i] = B.wasMarked[i] & !B.marked[i];
  });
  CollectSpans(B.mask, &B.staleWide, area);
  area.ForRows([](size_t i0, size_t n) {
    for (size_t i = i0; i < i0 + n; ++i) B.mask[i] = B.wasTight[i] & !B.tight[i];
  });
  CollectSpans(B.mask, &B.staleTight, area);
  size_t tiles = 0;
  for (const std::vector<Span>* spans : {&B.staleGlow, &B.staleWide, &B.staleTight})
    for (const Span& s : *spans) tiles += s.tx1 - s.tx0;
  const int bands = tiles < kFewTiles ? 1 : DrawBands();
  auto band = [&](int k) {
    auto rows = [&](const std::vector<Span>& spans) {
      auto row_start = [&](int ty) {
        return std::lower_bound(spans.begin(), spans.end(), ty, [](const Span& s, int row) { return s.ty < row; });
      };
      return std::span<const Span>(row_start(B.th * k / bands), row_start(B.th * (k + 1) / bands));
    };
    ClearSpans(rows(B.staleGlow), {}, {}, &glow);
    ClearSpans(rows(B.staleWide), {&B.quarterH, &B.quarterBlur}, {&B.combined}, nullptr);
    ClearSpans(rows(B.staleTight), {&B.quarter}, {&B.halfH}, nullptr);
  };
  RunDrawBands(bands, band);
}

// The glow target's pixels averaged 2 x 2 into the quarter image.
void Downsample(std::span<const Span> spans, const PixelView& glow) {
  constexpr uint32_t kEven = 0x00FF00FFu;
  constexpr int kAverage = kShift - 2;  // a sum of four, as steps of the average
  for (const Span& s : spans) {
    const Range q = RangeOf(s, kTileQuarter, B.qw, B.qh);
    for (int y = q.y0; y < q.y1; ++y) {
      const uint32_t* r0 = glow.pixels + static_cast<size_t>(2 * y) * glow.stride;
      const uint32_t* r1 = 2 * y + 1 < B.hh ? r0 + glow.stride : nullptr;
      uint16_t* out = B.quarter.Row(y);
      for (int x = q.x0; x < q.x1; ++x) {
        const bool pair = 2 * x + 1 < B.hw;
        // Two 16-bit sums per word: blue and red, green and alpha.
        uint32_t br = r0[2 * x] & kEven, ga = (r0[2 * x] >> 8) & kEven;
        if (pair) br += r0[2 * x + 1] & kEven, ga += (r0[2 * x + 1] >> 8) & kEven;
        if (r1) {
          br += r1[2 * x] & kEven, ga += (r1[2 * x] >> 8) & kEven;
          if (pair) br += r1[2 * x + 1] & kEven, ga += (r1[2 * x + 1] >> 8) & kEven;
        }
        uint16_t* o = out + 4 * x;
        o[0] = static_cast<uint16_t>((br & 0xFFFF) << kAverage), o[1] = static_cast<uint16_t>((ga & 0xFFFF) << kAverage);
        o[2] = static_cast<uint16_t>((br >> 16) << kAverage), o[3] = static_cast<uint16_t>((ga >> 16) << kAverage);
      }
    }
  }
}

// The blurs and the compositing in SIMD lanes: once for any x86-64 (or none), once for AVX2.
struct GlowKernels {
  void (*wideBlur)(Plane& src, Plane* dst, bool alongX, std::span<const Span> spans);
  void (*tightAlongX)(std::span<const Span> spans, const PixelView& glow, int band);
  void (*wideUpAndTightAlongY)(std::span<const Span> spans, int band);
  void (*composite)(std::span<const Span> spans, const PixelView& frame, int band);
};
#define GLOW_KERNELS_NAMESPACE glow_any
#define GLOW_LANES glow_lanes::Pairs
#include "ui/glow_kernels.inc"
#undef GLOW_KERNELS_NAMESPACE
#undef GLOW_LANES
#if defined(__x86_64__) && defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx2")
#define GLOW_KERNELS_NAMESPACE glow_avx2
#define GLOW_LANES glow_lanes::Quads
#include "ui/glow_kernels.inc"
#undef GLOW_KERNELS_NAMESPACE
#undef GLOW_LANES
#pragma GCC pop_options
#endif

bool WideLanes = true;  // four pixels a register where the processor has AVX2

bool HasWideLanes() {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
#else
  return false;
#endif
}

// The kernels this processor runs best (unless a test asked for the narrow ones).
const GlowKernels& Kernels() {
#if defined(__x86_64__) && defined(__GNUC__)
  if (WideLanes && HasWideLanes()) return glow_avx2::kKernels;
#endif
  return glow_any::kKernels;
}

// ---- bands -------------------------------------------------------------------------------------
// The blurs and the compositing are shared among the draw workers by bands of tile rows. Each step
// reads rows that the step before wrote in neighbouring bands, so every step waits for the one
// before to finish (one RunDrawBands each); within a step the bands write disjoint rows.

struct Bands {
  int count = 0;
  // Band k covers spans [span[k], span[k + 1]) and tight spans [tight[k], tight[k + 1]).
  size_t span[kMaxDrawBands + 1] = {}, tight[kMaxDrawBands + 1] = {};
  std::span<const Span> Spans(int k) const { return std::span(B.spans).subspan(span[k], span[k + 1] - span[k]); }
  std::span<const Span> Tight(int k) const {
    return std::span(B.tightSpans).subspan(tight[k], tight[k + 1] - tight[k]);
  }
};

// Cuts the tile rows into about `wanted` bands holding similar numbers of tiles.
Bands CutBands(int wanted) {
  Bands b;
  size_t tiles = 0;
  for (const Span& s : B.spans) tiles += s.tx1 - s.tx0;
  wanted = std::clamp(wanted, 1, kMaxDrawBands);
  size_t taken = 0, tight = 0;
  for (size_t i = 0; i < B.spans.size();) {
    // This band runs to the end of the tile row in which its share of the tiles is reached.
    const size_t share = tiles * (b.count + 1) / wanted;
    auto take = [&] { taken += B.spans[i].tx1 - B.spans[i].tx0, ++i; };
    do take();
    while (i < B.spans.size() && (taken < share || b.count + 1 == wanted));
    while (i < B.spans.size() && B.spans[i].ty == B.spans[i - 1].ty) take();
    const int end_row = i < B.spans.size() ? B.spans[i].ty : B.th;
    while (tight < B.tightSpans.size() && B.tightSpans[tight].ty < end_row) ++tight;
    ++b.count;
    b.span[b.count] = i, b.tight[b.count] = tight;
  }
  // Tight spans lie inside the marked ones, so the last band holds the rest of them too.
  b.tight[b.count] = B.tightSpans.size();
  return b;
}

// Blurs the glow target into B.combined (unless `blur` is false: B.combined already holds this
// glow) and adds it onto the frame: over every span, or over B.partSpans alone when `part`.
void BlurAndComposite(const PixelView& glow, const PixelView& frame, bool blur, bool part) {
  // A few tiles (a part of the frame) are done sooner than the workers wake.
  size_t tiles = 0;
  for (const Span& s : B.spans) tiles += s.tx1 - s.tx0;
  const Bands bands = CutBands(tiles < kFewTiles ? 1 : DrawBands());
  const GlowKernels& kernels = Kernels();
  auto last = [&](int k) { kernels.composite(bands.Spans(k), frame, k); };
  auto composite = [&] {
    if (part) kernels.composite(B.partSpans, frame, 0);
    else RunDrawBands(bands.count, last);
  };
  if (!blur) {
    composite();
    return;
  }
  std::fill(B.litLo.begin(), B.litLo.end(), B.hw);
  std::fill(B.litHi.begin(), B.litHi.end(), 0);
  // Shapes lie inside the tight tiles, so only those need reading; the wide halo spreads over all.
  auto first = [&](int k) {
    Downsample(bands.Tight(k), glow);
    kernels.wideBlur(B.quarter, &B.quarterH, true, bands.Spans(k));
    kernels.tightAlongX(bands.Tight(k), glow, k);
  };
  auto second = [&](int k) { kernels.wideBlur(B.quarterH, &B.quarterBlur, false, bands.Spans(k)); };
  auto third = [&](int k) { kernels.wideUpAndTightAlongY(bands.Spans(k), k); };
  RunDrawBands(bands.count, first);
  RunDrawBands(bands.count, second);
  RunDrawBands(bands.count, third);
  composite();
}

// Tiles of a device-pixel box (on whole tiles) as [tx0, tx1) x [ty0, ty1), inside the frame.
struct TileBox {
  int tx0, ty0, tx1, ty1;
};
TileBox TilesOf(const PixelBox& box, int grow) {
  return TileBox{std::clamp((box.x0 - grow) / kTile, 0, B.tw), std::clamp((box.y0 - grow) / kTile, 0, B.th),
                 std::clamp((box.x1 + grow + kTile - 1) / kTile, 0, B.tw),
                 std::clamp((box.y1 + grow + kTile - 1) / kTile, 0, B.th)};
}

// A part of the frame redrawn: the glow is worked out only near it (see kPartMarginPx) and added
// only inside it.
void CollectPartSpans(const PixelBox& part) {
  const TileBox inside = TilesOf(part, 0);
  B.partSpans.clear();
  for (const Span& s : B.spans) {
    if (s.ty < inside.ty0 || s.ty >= inside.ty1) continue;
    const int tx0 = std::max(s.tx0, inside.tx0), tx1 = std::min(s.tx1, inside.tx1);
    if (tx0 < tx1) B.partSpans.push_back(Span{s.ty, tx0, tx1});
  }
}

// A box of tiles holding every tile an earlier pass left something in, as B.was*: the smallest
// after a whole frame; after a part, the last box and the part's tiles, which needs no scan of
// the whole frame's masks.
void NoteTilesLeft(bool part) {
  const Area area = AreaInUse();
  if (part) {
    B.wasX0 = area.x0, B.wasY0 = area.y0, B.wasX1 = area.x1, B.wasY1 = area.y1;
    return;
  }
  int x0 = area.x1, y0 = area.y1, x1 = area.x0, y1 = area.y0;
  for (int ty = area.y0; ty < area.y1; ++ty) {
    const size_t row = static_cast<size_t>(ty) * B.tw;
    for (int tx = area.x0; tx < area.x1; ++tx)
      if (B.wasMarked[row + tx] | B.wasTight[row + tx]) {
        x0 = std::min(x0, tx), x1 = std::max(x1, tx + 1);
        y0 = std::min(y0, ty), y1 = ty + 1;
      }
  }
  if (x1 <= x0) x0 = y0 = x1 = y1 = 0;
  B.wasX0 = x0, B.wasY0 = y0, B.wasX1 = x1, B.wasY1 = y1;
}

// Draws GlowList from GlowStartIndex on the glow target, blurs it and adds it onto the frame, or
// onto the part of it given (whole tiles), whose pixels were drawn afresh. False when a target is
// broken.
bool RunGlowPass(DrawSurface* frame, const PixelBox* part) {
  DrawSurface* glow = GlowTarget();
  if (!glow) return false;
  Prepare(frame, glow);
  const float scale = frame->dipScale();
  if (!part && SameGlowsAsLast(scale)) {
    if (!B.spans.empty()) {
      BlurAndComposite(glow->Pixels(), frame->Pixels(), false, false);
      frame->MarkDirty(0, 0, frame->pixelWidth(), frame->pixelHeight());
    }
    return frame->Ok();
  }
  B.reusable = false;
  // The masks still hold the last pass's marks, which lie in the tiles left something.
  Area{B.wasX0, B.wasY0, B.wasX1, B.wasY1}.ForRows([](size_t i0, size_t n) {
    std::fill_n(&B.marked[i0], n, 0);
    std::fill_n(&B.tight[i0], n, 0);
  });
  const TileBox limit = part ? TilesOf(*part, kPartMarginPx) : TileBox{0, 0, B.tw, B.th};
  B.markX0 = limit.tx0, B.markY0 = limit.ty0, B.markX1 = limit.tx1, B.markY1 = limit.ty1;
  for (size_t i = GlowStartIndex; i < GlowList.size(); ++i) MarkShape(GlowList[i], scale);

  ClearStale(glow->Pixels());
  glow->MarkDirty(0, 0, glow->pixelWidth(), glow->pixelHeight());
  // Within the tiles this pass may mark, what is left is what it marks; beyond them, what was.
  MarkArea().ForRows([](size_t i0, size_t n) {
    std::copy_n(&B.marked[i0], n, &B.wasMarked[i0]);
    std::copy_n(&B.tight[i0], n, &B.wasTight[i0]);
  });
  NoteTilesLeft(part != nullptr);
  CollectSpans(B.marked, &B.spans, MarkArea());
  CollectSpans(B.tight, &B.tightSpans, MarkArea());
  if (part) CollectPartSpans(*part);
  // Only a whole frame's glow is reused (B.reusable), so only a whole frame's shapes are kept.
  if (!part) B.lastShapes.assign(GlowList.begin() + static_cast<ptrdiff_t>(GlowStartIndex), GlowList.end());
  B.lastScale = scale;
  if (B.spans.empty()) {
    B.reusable = !part;
    return true;
  }

  SetDrawTarget(glow);
  // Shapes land only in the tiles kept: the zeros elsewhere hold.
  if (part) {
    const TileBox near = TilesOf(*part, kPartMarginPx);
    glow->SetBaseClip(PixelBox{near.tx0 * kTileHalf, near.ty0 * kTileHalf, near.tx1 * kTileHalf, near.ty1 * kTileHalf});
  }
  for (size_t i = GlowStartIndex; i < GlowList.size(); ++i) {
    glow->SetTransform(GlowList[i].transform);
    DrawGlowShape(GlowList[i]);
  }
  glow->SetTransform(Affine{});
  if (part) glow->ClearBaseClip();
  SetDrawTarget(frame);
  if (!glow->Ok()) return false;

  const PixelView g = glow->Pixels();
  BlurAndComposite(g, frame->Pixels(), true, part != nullptr);
  // The planes hold the glow near the part only.
  B.reusable = !part;
  frame->MarkDirty(0, 0, frame->pixelWidth(), frame->pixelHeight());
  return frame->Ok();
}

}  // namespace

bool UseWideGlowLanes(bool wide) {
  WideLanes = wide;
  return wide && HasWideLanes();
}

void ResetGlowLayer() {
  GlowList.clear();
  GlowStartIndex = 0;
  OverlayList.clear();
}

void QueueGlow(GlowShape&& shape) {
  shape.transform = GetTransform();
  GlowList.push_back(std::move(shape));
}

namespace {
GlowShape Shape(uint8_t kind, float g1, float g2, float g3, float g4, float g5, float g6, Color c) {
  GlowShape s;
  s.kind = kind;
  s.g1 = g1, s.g2 = g2, s.g3 = g3, s.g4 = g4, s.g5 = g5, s.g6 = g6;
  s.color = c;
  return s;
}
}  // namespace

void GlowRoundedRect(Rc r, float radius, Color c) {
  QueueGlow(Shape(kGlowFilledRoundedRect, r.x, r.y, r.x + r.w, r.y + r.h, radius, 0, c));
}

void GlowCircle(float cx, float cy, float r, Color c) { QueueGlow(Shape(kGlowFilledCircle, cx, cy, r, 0, 0, 0, c)); }

void GlowRing(float cx, float cy, float r, Color c, float width) {
  QueueGlow(Shape(kGlowRing, cx, cy, r, 0, 0, width, c));
}

void GlowLine(float x0, float y0, float x1, float y1, Color c, float width) {
  QueueGlow(Shape(kGlowLine, x0, y0, x1, y1, 0, width, c));
}

void GlowArc(float cx, float cy, float r, float startDeg, float endDeg, Color c, float width) {
  QueueGlow(Shape(kGlowArc, cx, cy, r, startDeg, endDeg, width, c));
}

void GlowText(std::wstring_view text, Rc r, float size, Color c, int align, bool bold) {
  ShownText shown = TranslateToFit(text, r.w, size, bold, kFontBahnschrift);
  GlowShape s = Shape(kGlowText, r.x, r.y, r.w, r.h, shown.size, 0, c);
  s.text = std::move(shown.text);
  s.align = static_cast<uint8_t>(align);
  s.bold = bold;
  s.font = kFontBahnschrift;
  QueueGlow(std::move(s));
}

void GlowColumns(const float* half, int count, float x0, float centreY, Color c) {
  if (!half || count <= 0) return;
  int first = 0, last = count - 1;
  while (first <= last && !(half[first] >= 0)) ++first;
  while (last >= first && !(half[last] >= 0)) --last;
  if (first > last) return;
  GlowShape s = Shape(kGlowColumns, x0 + first, centreY, 0, 0, 0, 0, c);
  s.columns.assign(half + first, half + last + 1);
  QueueGlow(std::move(s));
}

void QueueOverlay(std::function<void()>&& fn) { OverlayList.push_back(std::move(fn)); }

void DrawGlowShape(const GlowShape& s) {
  switch (s.kind) {
    case kGlowFilledRoundedRect:
      FillRoundedRect(Rc{s.g1, s.g2, s.g3 - s.g1, s.g4 - s.g2}, s.g5, s.color);
      break;
    case kGlowOutlinedRoundedRect:
      // Centred on the rectangle's edge, unlike StrokeRoundedRect, which keeps inside it.
      if (DrawSurface* t = DrawTarget()) {
        if (s.g3 >= s.g1 && s.g4 >= s.g2 &&
            StrokeRoundedBoxPixels(*t, (s.g1 + s.g3) / 2, (s.g2 + s.g4) / 2, (s.g3 - s.g1) / 2, (s.g4 - s.g2) / 2, s.g5,
                                   s.g6, Rgba{s.color.r, s.color.g, s.color.b, s.color.a}))
          break;
        t->SetColor(Rgba{s.color.r, s.color.g, s.color.b, s.color.a});
        t->StrokeRoundedRect(s.g1, s.g2, s.g3 - s.g1, s.g4 - s.g2, s.g5, s.g6);
      }
      break;
    case kGlowFilledCircle:
      FillCircle(s.g1, s.g2, s.g3, s.color);
      break;
    case kGlowRing:
      StrokeCircle(s.g1, s.g2, s.g3, s.color, s.g6);
      break;
    case kGlowLine:
      DrawLine(s.g1, s.g2, s.g3, s.g4, s.color, s.g6);
      break;
    case kGlowArc:
      DrawArc(s.g1, s.g2, s.g3, s.g4, s.g5, s.color, s.g6);
      break;
    case kGlowText:
      // Translated and fitted when queued.
      DrawTextAsIs(s.text, Rc{s.g1, s.g2, s.g3, s.g4}, s.g5, s.color, s.align, s.bold, s.font);
      break;
    case kGlowColumns:
      // One colour: the gradient's two ends are the same.
      if (!s.columns.empty())
        FillWaveColumns(s.columns.data(), 0, static_cast<int>(s.columns.size()) - 1, s.g1, s.g2, 1.0f, s.color,
                        s.color, 1.0f);
      break;
    default:
      break;
  }
}

FramePresenter SetFramePresenter(FramePresenter present) {
  FramePresenter old = std::move(Presenter);
  Presenter = std::move(present);
  return old;
}

void EndFrame(const PixelBox* part, bool ageKept) {
  DrawSurface* frame = FrameTarget();
  bool ok = frame != nullptr;
  if (ok) {
    SetDrawTarget(frame);
    frame->ResetClips();
    ok = frame->Ok();
  }
  if (ok && !GlowList.empty()) ok = RunGlowPass(frame, part);
  if (ok && !OverlayList.empty()) {
    frame->SetTransform(Affine{});
    // By index, and each callable moved out first: an overlay may queue another.
    for (size_t i = 0; i < OverlayList.size(); ++i) {
      std::function<void()> fn = std::move(OverlayList[i]);
      fn();
    }
    frame->ResetClips();
    ok = frame->Ok();
  }
  OverlayList.clear();
  if (ageKept) {
    EvictIdleTextLayouts();
    EvictIdleKeptImages();
  }
  if (!frame) return;
  if (!ok) {
    ReleaseDevice();
    return;
  }
  const PixelView image = FrameImage();
  const PixelBox changed = part ? *part : PixelBox{0, 0, image.width, image.height};
  if (Presenter && !Presenter(image, changed)) ReleaseDevice();
}
