// The visualiser's shared drawing primitives and the table of visuals.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "broadcast/visual_draw.h"
#include "broadcast/visual_raster.h"

VisualState Visuals;

namespace {

constexpr float kUnitScale = 1.0f / 16777216.0f;  // 2^-24
constexpr float kLevelFloor = 1e-5f;
constexpr float kLevelDb = 48.0f, kLevelRangeDb = 46.0f;
constexpr uint32_t kWhite = 0xFFFFFF;

struct VisualEntry {
  const wchar_t* name;
  void (*draw)(const VisualFrame&);
  bool paintsBackdrop;  // fills the whole frame with the backdrop itself
};
const VisualEntry kVisuals[kVisualCount] = {
    {L"RING", DrawRingVisual, false},         {L"BARS", DrawBarsVisual, false},
    {L"TUNNEL", DrawTunnelVisual, false},     {L"WARP", DrawWarpVisual, true},
    {L"WAVES", DrawWavesVisual, false},       {L"KALEIDOSCOPE", DrawKaleidoscopeVisual, false},
    {L"LASERS", DrawLasersVisual, false},     {L"SYNTHWAVE", DrawSynthwaveVisual, true},
    {L"SWARM", DrawSwarmVisual, false},       {L"COVER", DrawCoverVisual, false},
};

}  // namespace

Rgba VisualRgba(uint32_t colour, float alpha) {
  return {((colour >> 16) & 0xFF) / 255.0f, ((colour >> 8) & 0xFF) / 255.0f, (colour & 0xFF) / 255.0f,
          std::clamp(alpha, 0.0f, 1.0f)};
}

float RandomUnit() { return static_cast<float>(Visuals.random() >> 8) * kUnitScale; }

float LevelOfMeter(float meter) {
  const float db = 20.0f * std::log10(std::max(meter, kLevelFloor));
  return std::clamp((db + kLevelDb) / kLevelRangeDb, 0.0f, 1.0f);
}

float BandLevel(const float* bands, float t) {
  const float x = std::clamp(t, 0.0f, 1.0f) * (kVisualBands - 1);
  const int i = std::min(static_cast<int>(x), kVisualBands - 1);
  const int j = std::min(i + 1, kVisualBands - 1);
  const float frac = x - static_cast<float>(i);
  return LevelOfMeter(bands[i] * (1 - frac) + bands[j] * frac);
}

uint32_t MixColor(uint32_t a, uint32_t b, float t) {
  t = std::clamp(t, 0.0f, 1.0f);
  uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const float ca = static_cast<float>((a >> shift) & 0xFF), cb = static_cast<float>((b >> shift) & 0xFF);
    out |= static_cast<uint32_t>(std::lround(ca * (1 - t) + cb * t)) << shift;
  }
  return out;
}

void SetVisualBrush(DrawSurface& target, uint32_t colour, float alpha) { target.SetColor(VisualRgba(colour, alpha)); }

namespace {

// What a glow lands on when it paints its backdrop itself: rows [0, rows) of the surface are each
// filled whole with their opaque colour (0xRRGGBB) first; the rows below are left alone, glow and all.
struct GlowBackdrop {
  const uint32_t* colours;  // one per row, or one for every row when step is 0
  int step;
  int rows;
  uint32_t At(int row) const { return colours[static_cast<ptrdiff_t>(row) * step]; }
};

// The glow written straight into the pixels; with a backdrop, each row is filled first, so the
// glow lands on it while the row is still in the cache. False when the transform is not a plain
// uniform scale and shift.
bool WriteGlowPixels(DrawSurface& target, float x, float y, float radius, uint32_t colour, float alpha,
                     const GlowBackdrop* backdrop = nullptr) {
  const Affine d = target.DeviceTransform();
  if (d.m12 != 0 || d.m21 != 0 || d.m11 <= 0 || std::fabs(d.m11 - d.m22) > 1e-6f * d.m11) return false;
  const float px = d.m11 * x + d.dx, py = d.m22 * y + d.dy, pr = radius * d.m11;
  if (!std::isfinite(px) || !std::isfinite(py) || !std::isfinite(pr) || pr > 1e5f) return false;
  int cx0, cy0, cx1, cy1;
  target.DeviceClip(&cx0, &cy0, &cx1, &cy1);
  const int y0 = std::max(cy0, static_cast<int>(std::floor(py - pr))), y1 = std::min(cy1, static_cast<int>(std::ceil(py + pr)));
  const int x0 = std::max(cx0, static_cast<int>(std::floor(px - pr))), x1 = std::min(cx1, static_cast<int>(std::ceil(px + pr)));
  if ((x0 >= x1 || y0 >= y1) && !backdrop) return true;
  const PixelView v = target.Pixels();
  // Weights 0..256 of the glow's colour; two channels per multiply below.
  const float full = std::clamp(alpha, 0.0f, 1.0f) * 256.0f, r2 = pr * pr, invR = pr > 0 ? 1.0f / pr : 0.0f;
  const float slope = full * invR;
  const int rows = backdrop ? std::clamp(backdrop->rows, 0, v.height) : y1;
  for (int row = backdrop ? 0 : y0; row < rows; ++row) {
    uint32_t* line = v.pixels + static_cast<ptrdiff_t>(row) * v.stride;
    const uint32_t under = backdrop ? backdrop->At(row) & 0xFFFFFF : 0u, fill = 0xFF000000u | under;
    const float dy = row + 0.5f - py, dy2 = dy * dy;
    if (row < y0 || row >= y1 || x0 >= x1 || full <= 0 || dy2 >= r2) {
      if (backdrop) std::fill_n(line, v.width, fill);
      continue;
    }
    if (backdrop) {
      // Written whole, a row as far below the centre as one above it is a copy of that one.
      const float across = 2 * py - 1 - static_cast<float>(row);
      const int mirror = static_cast<int>(across);
      const float mirrorDy = static_cast<float>(mirror) + 0.5f - py;
      if (static_cast<float>(mirror) == across && mirror >= y0 && mirror < row && mirrorDy * mirrorDy == dy2 &&
          backdrop->At(mirror) == backdrop->At(row)) {
        std::memcpy(line, v.pixels + static_cast<ptrdiff_t>(mirror) * v.stride, sizeof(uint32_t) * v.width);
        continue;
      }
    }
    const float half = std::sqrt(r2 - dy2);
    const int a = std::max(x0, static_cast<int>(px - half)), b = std::min(x1, static_cast<int>(px + half) + 1);
    if (backdrop) {
      std::fill(line, line + std::clamp(a, 0, v.width), fill);
      std::fill(line + std::clamp(std::max(a, b), 0, v.width), line + v.width, fill);
    }
    // Each pixel of [from, to) takes full x (1 - d / r) of the colour, d its centre's distance
    // from the glow's.
    const auto run = [&](int from, int to) {
      int x = from;
#if defined(__SSE2__)
      const __m128 fullV = _mm_set1_ps(full), slopeV = _mm_set1_ps(slope), dy2V = _mm_set1_ps(dy2);
      const __m128 zero = _mm_setzero_ps();
      const __m128i src = Unpacked(colour & 0xFFFFFF);
      if (backdrop) {
        // Over the backdrop the pixels underneath are known: nothing to read back.
        const __m128i below = Unpacked(under);
        for (; x + 4 <= to; x += 4) {
          const __m128 dx = _mm_add_ps(_mm_set1_ps(x + 0.5f - px), _mm_set_ps(3, 2, 1, 0));
          const __m128 d = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(dx, dx), dy2V));
          const __m128i k = _mm_cvttps_epi32(_mm_max_ps(zero, _mm_sub_ps(fullV, _mm_mul_ps(slopeV, d))));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(line + x), Mix4(below, below, k, src));
        }
      }
      for (; x + 4 <= to; x += 4) {
        const __m128 dx = _mm_add_ps(_mm_set1_ps(x + 0.5f - px), _mm_set_ps(3, 2, 1, 0));
        const __m128 d = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(dx, dx), dy2V));
        Blend4(line + x, _mm_cvttps_epi32(_mm_max_ps(zero, _mm_sub_ps(fullV, _mm_mul_ps(slopeV, d)))), src);
      }
#endif
      if (backdrop) std::fill(line + x, line + std::max(x, to), fill);
      for (int32_t weights[4]; x < to; x += 4) {
        const int n = std::min(4, to - x);
        for (int i = 0; i < n; ++i) {
          const float dx = x + i + 0.5f - px;
          weights[i] = static_cast<int32_t>(std::max(0.0f, full - slope * std::sqrt(dx * dx + dy2)));
        }
        BlendWeighted(line + x, weights, n, colour & 0xFFFFFF);
      }
    };
    // Over a backdrop row, with the centre on a pixel edge or centre, pixel x and pixel c - x are
    // equally far from it (the distances are then exact in floats): the right half of the pairs
    // is a mirrored copy of the left.
    const float across = 2 * px - 1;
    const int c = static_cast<int>(across);
    const int lo = std::max(a, c - b + 1), pairsEnd = (c + 1) / 2;
    if (backdrop && c >= 0 && static_cast<float>(c) == across && c < (1 << 22) && lo < pairsEnd) {
      run(a, lo);
      run(lo, pairsEnd);
      int x = lo;
#if defined(__SSE2__)
      for (; x + 4 <= pairsEnd; x += 4) {
        const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line + c - x - 3), _mm_shuffle_epi32(four, 0x1B));
      }
#endif
      for (; x < pairsEnd; ++x) line[c - x] = line[x];
      run(pairsEnd, c - pairsEnd + 1);  // the pixel that is its own mirror, when there is one
      run(c - lo + 1, b);
    } else {
      run(a, b);
    }
  }
  if (backdrop)
    target.MarkDirty(0, 0, v.width, rows);
  else
    target.MarkDirty(x0, y0, x1 - x0, y1 - y0);
  return true;
}

}  // namespace

void FillWithGlow(DrawSurface& target, uint32_t backdrop, float x, float y, float radius, uint32_t colour,
                  float alpha) {
  backdrop &= 0xFFFFFF;
  const GlowBackdrop fill{&backdrop, 0, 1 << 30};
  if (radius > 0 && WriteGlowPixels(target, x, y, radius, colour, alpha, &fill)) return;
  target.Clear(VisualRgba(backdrop, 1));
  DrawGlow(target, x, y, radius, colour, alpha);
}

namespace {

struct CoveredDisc {
  bool on = false;
  float cx = 0, cy = 0, r2 = 0;
} covered;

// Whether the box (user space, antialiasing included) lies wholly inside the covered disc.
bool Covered(float x0, float y0, float x1, float y1) {
  if (!covered.on) return false;
  const float dx = std::max(std::fabs(x0 - covered.cx), std::fabs(x1 - covered.cx));
  const float dy = std::max(std::fabs(y0 - covered.cy), std::fabs(y1 - covered.cy));
  return dx * dx + dy * dy <= covered.r2;  // false for anything not a number
}
bool CoveredSegment(float x0, float y0, float x1, float y1, float reach) {
  return covered.on && Covered(std::min(x0, x1) - reach, std::min(y0, y1) - reach, std::max(x0, x1) + reach,
                               std::max(y0, y1) + reach);
}
bool CoveredPoints(const float* xy, int count, float reach) {
  if (!covered.on) return false;
  for (int i = 0; i < count; ++i)
    if (!Covered(xy[2 * i] - reach, xy[2 * i + 1] - reach, xy[2 * i] + reach, xy[2 * i + 1] + reach)) return false;
  return true;
}

}  // namespace

void SetCoveredDisc(float cx, float cy, float radius) {
  covered.on = radius > 0;
  covered.cx = cx;
  covered.cy = cy;
  covered.r2 = covered.on ? radius * radius : 0;
}

bool FillSkyWithGlow(DrawSurface& target, float w, float h, uint32_t backdrop, float skyBottom, uint32_t top,
                     uint32_t bottom, float x, float y, float radius, uint32_t colour, float alpha) {
  static std::vector<uint32_t> rows;  // UI thread; grows to the tallest surface once
  const PixelView v = target.Pixels();
  const Affine d = target.DeviceTransform();
  if (!(h * d.m22 + d.dy >= static_cast<float>(v.height))) return false;
  if (rows.size() < static_cast<size_t>(v.height)) rows.resize(static_cast<size_t>(v.height));
  const int count = VerticalRampRows(target, w, skyBottom, 0, VisualRgba(top, 1), skyBottom, VisualRgba(bottom, 1), backdrop,
                                     rows.data(), v.height);
  if (count < 0) return false;
  const GlowBackdrop sky{rows.data(), 1, count};
  return WriteGlowPixels(target, x, y, std::max(radius, 0.0f), colour, std::isfinite(alpha) ? alpha : 0.0f, &sky);
}

void DrawGlow(DrawSurface& target, float x, float y, float radius, uint32_t colour, float alpha) {
  if (!(radius > 0) || !(alpha > 0) || Covered(x - radius, y - radius, x + radius, y + radius)) return;
  if (WriteGlowPixels(target, x, y, radius, colour, alpha)) return;
  const GradientStop stops[2] = {{0.0f, VisualRgba(colour, alpha)}, {1.0f, VisualRgba(colour, 0.0f)}};
  GradientBrush brush(GradientBrush::Kind::Radial, stops, 2);
  brush.SetRadial(x, y, 0, 0, radius, radius);
  target.SetBrush(&brush);
  target.FillEllipse(x, y, radius, radius);
  target.SetBrush(nullptr);
}

namespace {
VisualRaster raster;  // the shapes below, when the target allows
}  // namespace


// One shape alone needs no union: it is blended as its coverage is worked out.
void VisualLine(DrawSurface& target, float x0, float y0, float x1, float y1, float width, LineCap cap,
                uint32_t colour, float alpha) {
  if (CoveredSegment(x0, y0, x1, y1, width * 0.5f)) return;
  if (!raster.BeginDirect(target, colour, alpha)) {
    SetVisualBrush(target, colour, alpha);
    target.StrokeLine(x0, y0, x1, y1, width, cap);
    return;
  }
  raster.Segment(x0, y0, x1, y1, width, cap == LineCap::Round);
  raster.End();
}

void VisualLines(DrawSurface& target, const float* xyxy, int count, float width, LineCap cap, uint32_t colour,
                 float alpha) {
  if (CoveredPoints(xyxy, 2 * count, width * 0.5f)) return;
  if (!raster.Begin(target)) {
    SetVisualBrush(target, colour, alpha);
    if (count == 1)
      target.StrokeLine(xyxy[0], xyxy[1], xyxy[2], xyxy[3], width, cap);
    else
      target.StrokeSegments(xyxy, count, width, cap);
    return;
  }
  for (int i = 0; i < count; ++i, xyxy += 4) raster.Segment(xyxy[0], xyxy[1], xyxy[2], xyxy[3], width, cap == LineCap::Round);
  raster.Paint(colour, alpha);
}

void VisualPolyline(DrawSurface& target, const float* xy, int points, bool closed, float width, uint32_t colour,
                    float alpha) {
  if (points < 2 || CoveredPoints(xy, points, width * 0.5f)) return;
  if (!raster.Begin(target)) {
    SetVisualBrush(target, colour, alpha);
    target.StrokePolyline(xy, points, closed, width);
    return;
  }
  // Round joins where the surface would mitre: the same within a pixel at these gentle bends. An
  // open line's own two ends stay flat.
  for (int i = 0; i + 1 < points; ++i)
    raster.Segment(xy[2 * i], xy[2 * i + 1], xy[2 * i + 2], xy[2 * i + 3], width, closed || i > 0,
                   closed || i + 2 < points);
  if (closed) raster.Segment(xy[2 * points - 2], xy[2 * points - 1], xy[0], xy[1], width, true);
  raster.Paint(colour, alpha);
}

void VisualDisc(DrawSurface& target, float cx, float cy, float r, uint32_t colour, float alpha) {
  if (Covered(cx - r, cy - r, cx + r, cy + r)) return;
  if (!raster.BeginDirect(target, colour, alpha)) {
    SetVisualBrush(target, colour, alpha);
    target.FillEllipse(cx, cy, r, r);
    return;
  }
  raster.Disc(cx, cy, r);
  raster.End();
}

void VisualCircle(DrawSurface& target, float cx, float cy, float r, float width, uint32_t colour, float alpha) {
  const float reach = r + width * 0.5f;
  if (Covered(cx - reach, cy - reach, cx + reach, cy + reach)) return;
  if (!raster.BeginDirect(target, colour, alpha)) {
    SetVisualBrush(target, colour, alpha);
    target.StrokeEllipse(cx, cy, r, r, width);
    return;
  }
  raster.Ring(cx, cy, r, width);
  raster.End();
}

void DrawNeonLine(DrawSurface& target, float x0, float y0, float x1, float y1, uint32_t colour, float alpha,
                  float width) {
  if (CoveredSegment(x0, y0, x1, y1, width * 2.5f)) return;
  const VisualRaster::Stroke strokes[3] = {{width * 5.0f, colour, alpha * 0.12f},
                                           {width * 2.2f, colour, alpha * 0.3f},
                                           {width, MixColor(colour, kWhite, 0.45f), alpha}};
  if (raster.BeginDirect(target, colour, 1)) {
    raster.LayeredSegment(x0, y0, x1, y1, strokes, 3);
    raster.End();
    return;
  }
  VisualLine(target, x0, y0, x1, y1, width * 5.0f, LineCap::Round, colour, alpha * 0.12f);
  VisualLine(target, x0, y0, x1, y1, width * 2.2f, LineCap::Round, colour, alpha * 0.3f);
  VisualLine(target, x0, y0, x1, y1, width, LineCap::Round, MixColor(colour, kWhite, 0.45f), alpha);
}

void FillVerticalGradient(DrawSurface& target, float x, float y, float w, float h, float y0, uint32_t colour0,
                          float y1, uint32_t colour1) {
  if (Covered(x, y, x + w, y + h)) return;
  if (FillVerticalRamp(target, x, y, w, h, y0, VisualRgba(colour0, 1), y1, VisualRgba(colour1, 1))) return;
  const GradientStop stops[2] = {{0.0f, VisualRgba(colour0, 1)}, {1.0f, VisualRgba(colour1, 1)}};
  GradientBrush brush(GradientBrush::Kind::Linear, stops, 2);
  brush.SetLinearPoints(0, y0, 0, y1);
  target.SetBrush(&brush);
  target.FillRect(x, y, w, h);
  target.SetBrush(nullptr);
}

void DrawVisual(int index, const VisualFrame& f) {
  kVisuals[index >= 0 && index < kVisualCount ? index : 0].draw(f);
}

bool VisualPaintsBackdrop(int index) { return kVisuals[index >= 0 && index < kVisualCount ? index : 0].paintsBackdrop; }

const wchar_t* VisualName(int index) { return kVisuals[index >= 0 && index < kVisualCount ? index : 0].name; }
