#include "broadcast/visual_raster.h"

#include "broadcast/bilinear.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

constexpr float kMaxCoordinate = 1e6f;  // device pixels; anything farther is refused

bool Finite(float v) { return std::isfinite(v) && std::fabs(v) < kMaxCoordinate; }

// The share of the pixel [d - 0.5, d + 0.5] inside the band [-h, h]: a box-filtered edge that
// also gives lines thinner than a pixel their true weight.
inline float Band(float d, float h) { return std::clamp(std::min(d + 0.5f, h) - std::max(d - 0.5f, -h), 0.0f, 1.0f); }

inline uint8_t ToByte(float c) { return static_cast<uint8_t>(c * 255.0f + 0.5f); }

// An alpha as a weight 0..256, anything not a number as 0.
inline int Weight256(float alpha) {
  return static_cast<int>(std::lround(std::clamp(std::isfinite(alpha) ? alpha : 0.0f, 0.0f, 1.0f) * 256));
}

#if defined(__SSE2__)
// Band() and the byte store for four pixels at a time.
inline __m128 BandV(__m128 d, __m128 h) {
  const __m128 half = _mm_set1_ps(0.5f);
  const __m128 c = _mm_sub_ps(_mm_min_ps(_mm_add_ps(d, half), h), _mm_max_ps(_mm_sub_ps(d, half), _mm_sub_ps(_mm_setzero_ps(), h)));
  return _mm_min_ps(_mm_max_ps(c, _mm_setzero_ps()), _mm_set1_ps(1.0f));
}
inline __m128 Clamp01(__m128 c) { return _mm_min_ps(_mm_max_ps(c, _mm_setzero_ps()), _mm_set1_ps(1.0f)); }
inline void StoreMax4(uint8_t* row, __m128 c) {
  __m128i i = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(c, _mm_set1_ps(255.0f)), _mm_set1_ps(0.5f)));
  i = _mm_packs_epi32(i, i);
  i = _mm_packus_epi16(i, i);
  int32_t old;
  std::memcpy(&old, row, 4);
  const int32_t v = _mm_cvtsi128_si32(_mm_max_epu8(i, _mm_cvtsi32_si128(old)));
  std::memcpy(row, &v, 4);
}
// The centres of pixels x .. x + 3, less an offset.
inline __m128 Centres(int x, float offset) {
  return _mm_add_ps(_mm_set1_ps(static_cast<float>(x) + 0.5f - offset), _mm_set_ps(3, 2, 1, 0));
}
#endif

// Narrows [*lo, *hi] to the x where a x + b lies in [low, high], given inverse = 1 / a (0 when a
// is too small to divide by); false when nothing is left.
inline bool Narrow(float a, float inverse, float b, float low, float high, float* lo, float* hi) {
  if (inverse == 0) return std::fabs(a) < 1e-6f && b >= low && b <= high;
  float x0 = (low - b) * inverse, x1 = (high - b) * inverse;
  if (x0 > x1) std::swap(x0, x1);
  *lo = std::max(*lo, x0);
  *hi = std::min(*hi, x1);
  return *lo < *hi;
}

// Row y's span of a segment from (ax, ay) to (bx, by) (unit direction ux, uy) widened by reach:
// the band along it, s in [alongLo, alongHi], and the discs of its round ends.
void SegmentRowRange(int y, float ax, float ay, float bx, float by, float ux, float uy, float invUx, float invUy,
                     float alongLo, float alongHi, float reach, bool roundStart, bool roundEnd, float* lo, float* hi) {
  const float py = y + 0.5f - ay;
  *lo = -kMaxCoordinate, *hi = kMaxCoordinate;
  const bool any = Narrow(ux, invUx, -ux * ax + uy * py, alongLo, alongHi, lo, hi) &&
                   Narrow(-uy, -invUy, uy * ax + ux * py, -reach, reach, lo, hi);
  if (!any) *lo = kMaxCoordinate, *hi = -kMaxCoordinate;
  for (int end = 0; end < 2; ++end) {
    if (!(end == 0 ? roundStart : roundEnd)) continue;
    const float dy = y + 0.5f - (end == 0 ? ay : by);
    if (dy * dy >= reach * reach) continue;
    const float half = std::sqrt(reach * reach - dy * dy), cx = end == 0 ? ax : bx;
    *lo = std::min(*lo, cx - half);
    *hi = std::max(*hi, cx + half);
  }
}

}  // namespace

void BlendWeighted(uint32_t* out, const int32_t* weights, int n, uint32_t colour) {
  int i = 0;
#if defined(__SSE2__)
  const __m128i src = Unpacked(colour);
  for (; i + 4 <= n; i += 4)
    Blend4(out + i, _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + i)), src);
#endif
  const uint32_t srcRb = colour & 0xFF00FF, srcAg = 0xFF0000 | ((colour >> 8) & 0xFF);
  for (; i < n; ++i) {
    const uint32_t k = static_cast<uint32_t>(weights[i]), keep = 256 - k, p = out[i];
    const uint32_t rb = ((srcRb * k + (p & 0xFF00FF) * keep) >> 8) & 0xFF00FF;
    const uint32_t ag = (srcAg * k + ((p >> 8) & 0xFF00FF) * keep) & 0xFF00FF00;
    out[i] = rb | ag;
  }
}

bool VisualRaster::Begin(DrawSurface& target) {
  const Affine d = target.DeviceTransform();
  if (d.m12 != 0 || d.m21 != 0 || !(d.m11 > 0) || std::fabs(d.m11 - d.m22) > 1e-6f * d.m11 || !Finite(d.dx) ||
      !Finite(d.dy))
    return false;
  for (const Span& s : spans_)  // a set begun and never painted
    std::fill(coverage_.begin() + static_cast<ptrdiff_t>(s.y) * width_ + s.x0,
              coverage_.begin() + static_cast<ptrdiff_t>(s.y) * width_ + s.x1, 0);
  spans_.clear();
  target_ = &target;
  scale_ = d.m11, dx_ = d.dx, dy_ = d.dy;
  target.DeviceClip(&clipX0_, &clipY0_, &clipX1_, &clipY1_);
  const size_t need = static_cast<size_t>(target.pixelWidth()) * static_cast<size_t>(target.pixelHeight());
  width_ = target.pixelWidth();
  if (coverage_.size() < need) coverage_.resize(need, 0);
  boxX0_ = clipX1_, boxY0_ = clipY1_, boxX1_ = clipX0_, boxY1_ = clipY0_;
  direct_ = false;
  return true;
}

bool VisualRaster::BeginDirect(DrawSurface& target, uint32_t colour, float alpha) {
  if (!Begin(target)) return false;
  direct_ = true;
  full_ = Weight256(alpha);
  colour_ = colour & 0xFFFFFF;
  pixels_ = target.Pixels();
  if (full_ == 0) target_ = nullptr;  // nothing shows
  return true;
}

void VisualRaster::End() {
  if (!target_) return;
  if (boxX1_ > boxX0_ && boxY1_ > boxY0_) target_->MarkDirty(boxX0_, boxY0_, boxX1_ - boxX0_, boxY1_ - boxY0_);
  target_ = nullptr;
  direct_ = false;
}

inline VisualRaster::Row VisualRaster::RowAt(int y) {
  if (direct_) return {nullptr, pixels_.pixels + static_cast<ptrdiff_t>(y) * pixels_.stride};
  return {coverage_.data() + static_cast<ptrdiff_t>(y) * width_, nullptr};
}

namespace {

// A pixel blended by a coverage byte times the paint's weight 0..256, over 255 (x 257 / 65536):
// Paint's weights.
inline void BlendCover1(uint32_t* p, uint8_t value, int full, uint32_t colour) {
  const int32_t weight = (value * full * 257 + 32768) >> 16;
  BlendWeighted(p, &weight, 1, colour);
}

#if defined(__SSE2__)
// The same for four pixels of coverages 0..1 (made bytes as ToByte does).
inline void BlendCover4(uint32_t* p, __m128 c, int full, __m128i colour16) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bytes = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(c, _mm_set1_ps(255.0f)), _mm_set1_ps(0.5f)));
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(bytes, zero)) == 0xFFFF) return;
  const __m128i cw = _mm_mullo_epi16(_mm_packs_epi32(bytes, bytes), _mm_set1_epi16(static_cast<short>(full)));
  const __m128i c32 = _mm_unpacklo_epi16(cw, zero);
  const __m128i weights =
      _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(c32, 8), c32), _mm_set1_epi32(32768)), 16);
  Blend4(p, weights, colour16);
}
#endif

}  // namespace

inline void VisualRaster::Put1(const Row& row, int x, uint8_t value) const {
  if (direct_)
    BlendCover1(row.line + x, value, full_, colour_);
  else
    row.cover[x] = std::max(row.cover[x], value);
}

#if defined(__SSE2__)
inline void VisualRaster::Put4(const Row& row, int x, __m128 c) const {
  if (direct_)
    BlendCover4(row.line + x, c, full_, Unpacked(colour_));
  else
    StoreMax4(row.cover + x, c);
}
#endif

inline bool VisualRaster::RowSpan(int y, float left, float right, int* x0, int* x1, bool record) {
  if (!(left < right)) return false;
  // Pixel x's centre is x + 0.5.
  *x0 = std::max(clipX0_, static_cast<int>(std::ceil(std::max(left, -kMaxCoordinate) - 0.5f)));
  *x1 = std::min(clipX1_, static_cast<int>(std::floor(std::min(right, kMaxCoordinate) - 0.5f)) + 1);
  if (*x0 >= *x1) return false;
  // Whole groups of four where the clip allows: the pixels added get their true (tiny) coverage.
  const int padded = (*x1 - *x0 + 3) & ~3;
  if (*x0 + padded <= clipX1_)
    *x1 = *x0 + padded;
  else if (*x1 - padded >= clipX0_)
    *x0 = *x1 - padded;
  if (!record) return true;
  if (!direct_) spans_.push_back({y, *x0, *x1});
  boxX0_ = std::min(boxX0_, *x0), boxX1_ = std::max(boxX1_, *x1);
  boxY0_ = std::min(boxY0_, y), boxY1_ = std::max(boxY1_, y + 1);
  return true;
}

void VisualRaster::Segment(float x0, float y0, float x1, float y1, float width, bool roundCaps) {
  Segment(x0, y0, x1, y1, width, roundCaps, roundCaps);
}

void VisualRaster::Segment(float x0, float y0, float x1, float y1, float width, bool roundStart, bool roundEnd) {
  if (!target_) return;
  const float ax = x0 * scale_ + dx_, ay = y0 * scale_ + dy_, bx = x1 * scale_ + dx_, by = y1 * scale_ + dy_;
  const float h = 0.5f * width * scale_;
  if (!Finite(ax) || !Finite(ay) || !Finite(bx) || !Finite(by) || !(h >= 0) || !Finite(h)) return;
  const float length = std::hypot(bx - ax, by - ay);
  if (length < 1e-4f) {
    if (roundStart || roundEnd) Disc(x0, y0, 0.5f * width);
    return;
  }
  const float ux = (bx - ax) / length, uy = (by - ay) / length;
  const float reach = h + 0.5f;
  // Along the segment (s from a): a round end measures the distance to its end point, a flat end
  // cuts the band there, box-filtered like the sides.
  const float tLo = roundStart ? 0 : -kMaxCoordinate, tHi = roundEnd ? length : kMaxCoordinate;
  const float cutLo = roundStart ? -kMaxCoordinate : 0, cutHi = roundEnd ? kMaxCoordinate : length;
  const float alongLo = roundStart ? 0.0f : -0.5f, alongHi = length + (roundEnd ? 0.0f : 0.5f);
  const float invUx = std::fabs(ux) < 1e-6f ? 0.0f : 1 / ux, invUy = std::fabs(uy) < 1e-6f ? 0.0f : 1 / uy;
  const int rowA = std::max(clipY0_, static_cast<int>(std::floor(std::min(ay, by) - reach)));
  const int rowB = std::min(clipY1_, static_cast<int>(std::ceil(std::max(ay, by) + reach)));
  for (int y = rowA; y < rowB; ++y) {
    const float py = y + 0.5f - ay;
    // The band along the segment: s = ux (x - ax) + uy py in [start, length + end], and across
    // it: q = -uy (x - ax) + ux py in [-reach, reach]; round ends add their discs.
    float lo, hi;
    SegmentRowRange(y, ax, ay, bx, by, ux, uy, invUx, invUy, alongLo, alongHi, reach, roundStart, roundEnd, &lo, &hi);
    int xa, xb;
    if (!RowSpan(y, lo, hi, &xa, &xb)) continue;
    const Row row = RowAt(y);
    int x = xa;
#if defined(__SSE2__)
    const __m128 uxV = _mm_set1_ps(ux), uyV = _mm_set1_ps(uy), pyV = _mm_set1_ps(py), hV = _mm_set1_ps(h);
    const __m128 tLoV = _mm_set1_ps(tLo), tHiV = _mm_set1_ps(tHi), cutLoV = _mm_set1_ps(cutLo), cutHiV = _mm_set1_ps(cutHi);
    const __m128 half = _mm_set1_ps(0.5f);
    for (; x + 4 <= xb; x += 4) {
      const __m128 px = Centres(x, ax);
      const __m128 s = _mm_add_ps(_mm_mul_ps(px, uxV), _mm_mul_ps(pyV, uyV));
      const __m128 t = _mm_min_ps(_mm_max_ps(s, tLoV), tHiV);
      const __m128 ex = _mm_sub_ps(px, _mm_mul_ps(uxV, t)), ey = _mm_sub_ps(pyV, _mm_mul_ps(uyV, t));
      const __m128 across = BandV(_mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(ex, ex), _mm_mul_ps(ey, ey))), hV);
      const __m128 along = _mm_sub_ps(_mm_min_ps(_mm_add_ps(s, half), cutHiV), _mm_max_ps(_mm_sub_ps(s, half), cutLoV));
      Put4(row, x, _mm_mul_ps(across, Clamp01(along)));
    }
#endif
    for (; x < xb; ++x) {
      const float px = x + 0.5f - ax;
      const float s = px * ux + py * uy;
      const float t = std::clamp(s, tLo, tHi);
      const float ex = px - ux * t, ey = py - uy * t;
      const float along = std::clamp(std::min(s + 0.5f, cutHi) - std::max(s - 0.5f, cutLo), 0.0f, 1.0f);
      Put1(row, x, ToByte(Band(std::sqrt(ex * ex + ey * ey), h) * along));
    }
  }
}

void VisualRaster::LayeredSegment(float x0, float y0, float x1, float y1, const Stroke* strokes, int count) {
  constexpr int kMaxStrokes = 4;
  if (!direct_ || count < 1 || count > kMaxStrokes) return;
  const float ax = x0 * scale_ + dx_, ay = y0 * scale_ + dy_, bx = x1 * scale_ + dx_, by = y1 * scale_ + dy_;
  const float length = std::hypot(bx - ax, by - ay);
  float h[kMaxStrokes];
  int full[kMaxStrokes];
  for (int i = 0; i < count; ++i) {
    h[i] = 0.5f * strokes[i].width * scale_;
    full[i] = Weight256(strokes[i].alpha);
    if (!(h[i] >= 0) || !Finite(h[i]) || h[i] > h[0]) return;
  }
  if (!Finite(ax) || !Finite(ay) || !Finite(bx) || !Finite(by)) return;
  if (length < 1e-4f) {
    // A dot: each stroke is its disc.
    const int keepFull = full_;
    const uint32_t keepColour = colour_;
    for (int i = 0; i < count; ++i) {
      full_ = full[i], colour_ = strokes[i].colour & 0xFFFFFF;
      if (full_ > 0) Disc(x0, y0, 0.5f * strokes[i].width);
    }
    full_ = keepFull, colour_ = keepColour;
    return;
  }
  const float ux = (bx - ax) / length, uy = (by - ay) / length;
  const float reach = h[0] + 0.5f;  // the widest stroke's
  const float invUx = std::fabs(ux) < 1e-6f ? 0.0f : 1 / ux, invUy = std::fabs(uy) < 1e-6f ? 0.0f : 1 / uy;
  const int rowA = std::max(clipY0_, static_cast<int>(std::floor(std::min(ay, by) - reach)));
  const int rowB = std::min(clipY1_, static_cast<int>(std::ceil(std::max(ay, by) + reach)));
#if defined(__SSE2__)
  __m128i colour16[kMaxStrokes];
  __m128 hV[kMaxStrokes];
  for (int i = 0; i < count; ++i) colour16[i] = Unpacked(strokes[i].colour & 0xFFFFFF), hV[i] = _mm_set1_ps(h[i]);
#endif
  for (int y = rowA; y < rowB; ++y) {
    // As Segment with round ends: the band along the segment and the two end discs.
    const float py = y + 0.5f - ay;
    float lo, hi;
    SegmentRowRange(y, ax, ay, bx, by, ux, uy, invUx, invUy, 0.0f, length, reach, true, true, &lo, &hi);
    int xa, xb;
    if (!RowSpan(y, lo, hi, &xa, &xb)) continue;
    uint32_t* line = pixels_.pixels + static_cast<ptrdiff_t>(y) * pixels_.stride;
    int x = xa;
#if defined(__SSE2__)
    const __m128 uxV = _mm_set1_ps(ux), uyV = _mm_set1_ps(uy), pyV = _mm_set1_ps(py);
    const __m128 tLoV = _mm_setzero_ps(), tHiV = _mm_set1_ps(length), cutLoV = _mm_set1_ps(-kMaxCoordinate),
                 cutHiV = _mm_set1_ps(kMaxCoordinate), half = _mm_set1_ps(0.5f);
    for (; x + 4 <= xb; x += 4) {
      const __m128 px = Centres(x, ax);
      const __m128 s = _mm_add_ps(_mm_mul_ps(px, uxV), _mm_mul_ps(pyV, uyV));
      const __m128 t = _mm_min_ps(_mm_max_ps(s, tLoV), tHiV);
      const __m128 ex = _mm_sub_ps(px, _mm_mul_ps(uxV, t)), ey = _mm_sub_ps(pyV, _mm_mul_ps(uyV, t));
      const __m128 d = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(ex, ex), _mm_mul_ps(ey, ey)));
      const __m128 along =
          Clamp01(_mm_sub_ps(_mm_min_ps(_mm_add_ps(s, half), cutHiV), _mm_max_ps(_mm_sub_ps(s, half), cutLoV)));
      for (int i = 0; i < count; ++i) BlendCover4(line + x, _mm_mul_ps(BandV(d, hV[i]), along), full[i], colour16[i]);
    }
#endif
    for (; x < xb; ++x) {
      const float px = x + 0.5f - ax;
      const float s = px * ux + py * uy;
      const float t = std::clamp(s, 0.0f, length);
      const float ex = px - ux * t, ey = py - uy * t;
      const float d = std::sqrt(ex * ex + ey * ey);
      const float along =
          std::clamp(std::min(s + 0.5f, kMaxCoordinate) - std::max(s - 0.5f, -kMaxCoordinate), 0.0f, 1.0f);
      for (int i = 0; i < count; ++i)
        BlendCover1(line + x, ToByte(Band(d, h[i]) * along), full[i], strokes[i].colour & 0xFFFFFF);
    }
  }
}

void VisualRaster::Disc(float cx, float cy, float r) {
  if (!target_) return;
  const float px = cx * scale_ + dx_, py = cy * scale_ + dy_, pr = r * scale_;
  if (!Finite(px) || !Finite(py) || !(pr >= 0) || !Finite(pr)) return;
  const float reach = pr + 0.5f;
  const int rowA = std::max(clipY0_, static_cast<int>(std::floor(py - reach)));
  const int rowB = std::min(clipY1_, static_cast<int>(std::ceil(py + reach)));
  for (int y = rowA; y < rowB; ++y) {
    const float dy = y + 0.5f - py, dy2 = dy * dy;
    if (dy2 >= reach * reach) continue;
    const float half = std::sqrt(reach * reach - dy2);
    int xa, xb;
    if (!RowSpan(y, px - half, px + half, &xa, &xb)) continue;
    const Row row = RowAt(y);
    int x = xa;
#if defined(__SSE2__)
    const __m128 edge = _mm_set1_ps(pr + 0.5f), dy2V = _mm_set1_ps(dy2);
    for (; x + 4 <= xb; x += 4) {
      const __m128 dx = Centres(x, px);
      Put4(row, x, Clamp01(_mm_sub_ps(edge, _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(dx, dx), dy2V)))));
    }
#endif
    for (; x < xb; ++x) {
      const float dx = x + 0.5f - px;
      Put1(row, x, ToByte(std::clamp(pr + 0.5f - std::sqrt(dx * dx + dy2), 0.0f, 1.0f)));
    }
  }
}

void VisualRaster::Ring(float cx, float cy, float r, float width) {
  if (!target_) return;
  const float px = cx * scale_ + dx_, py = cy * scale_ + dy_, pr = r * scale_, h = 0.5f * width * scale_;
  if (!Finite(px) || !Finite(py) || !(pr >= 0) || !Finite(pr) || !(h >= 0) || !Finite(h)) return;
  const float outer = pr + h + 0.5f, inner = pr - h - 0.5f;
  const int rowA = std::max(clipY0_, static_cast<int>(std::floor(py - outer)));
  const int rowB = std::min(clipY1_, static_cast<int>(std::ceil(py + outer)));
  for (int y = rowA; y < rowB; ++y) {
    const float dy = y + 0.5f - py, dy2 = dy * dy;
    if (dy2 >= outer * outer) continue;
    const float half = std::sqrt(outer * outer - dy2);
    // Inside the inner rim the row has two spans, left and right of the hole.
    const float hole = inner > 0 && dy2 < inner * inner ? std::sqrt(inner * inner - dy2) : -1;
    const float pieces[2][2] = {{px - half, hole >= 0 ? px - hole : px + half}, {px + hole, px + half}};
    // Padded to fours, the two spans may meet: then they are one, so that no pixel is blended twice.
    int spans[2][2];
    int count = 0;
    for (int k = 0; k < (hole >= 0 ? 2 : 1); ++k) {
      int xa, xb;
      if (!RowSpan(y, pieces[k][0], pieces[k][1], &xa, &xb, false)) continue;
      if (count > 0 && xa <= spans[count - 1][1]) {
        spans[count - 1][1] = std::max(spans[count - 1][1], xb);
      } else {
        spans[count][0] = xa, spans[count][1] = xb;
        ++count;
      }
    }
    const Row row = count > 0 ? RowAt(y) : Row{};
    for (int k = 0; k < count; ++k) {
      const int xa = spans[k][0], xb = spans[k][1];
      if (!direct_) spans_.push_back({y, xa, xb});
      boxX0_ = std::min(boxX0_, xa), boxX1_ = std::max(boxX1_, xb);
      boxY0_ = std::min(boxY0_, y), boxY1_ = std::max(boxY1_, y + 1);
      int x = xa;
#if defined(__SSE2__)
      const __m128 prV = _mm_set1_ps(pr), hV = _mm_set1_ps(h), dy2V = _mm_set1_ps(dy2), sign = _mm_set1_ps(-0.0f);
      for (; x + 4 <= xb; x += 4) {
        const __m128 dx = Centres(x, px);
        const __m128 d = _mm_sub_ps(_mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(dx, dx), dy2V)), prV);
        Put4(row, x, BandV(_mm_andnot_ps(sign, d), hV));
      }
#endif
      for (; x < xb; ++x) {
        const float dx = x + 0.5f - px;
        Put1(row, x, ToByte(Band(std::fabs(std::sqrt(dx * dx + dy2) - pr), h)));
      }
    }
  }
}

void VisualRaster::Paint(uint32_t colour, float alpha) {
  if (direct_) {
    End();
    return;
  }
  if (!target_) return;
  DrawSurface& target = *target_;
  target_ = nullptr;
  const int full = Weight256(alpha);
  const PixelView v = target.Pixels();
  if (full == 0) {
    for (const Span& s : spans_)
      std::fill_n(coverage_.begin() + static_cast<ptrdiff_t>(s.y) * width_ + s.x0, s.x1 - s.x0, 0);
    spans_.clear();
    return;
  }
  const uint32_t rgb = colour & 0xFFFFFF;
  for (const Span& s : spans_) {
    uint8_t* cover = coverage_.data() + static_cast<ptrdiff_t>(s.y) * width_;
    uint32_t* line = v.pixels + static_cast<ptrdiff_t>(s.y) * v.stride;
    int x = s.x0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), fullV = _mm_set1_epi16(static_cast<short>(full));
    const __m128i round = _mm_set1_epi32(32768), src = Unpacked(rgb);
    for (; x + 4 <= s.x1; x += 4) {
      int32_t c4;
      std::memcpy(&c4, cover + x, 4);
      if (c4 == 0) continue;
      std::memset(cover + x, 0, 4);  // the coverage is spent once painted
      // Coverage 0..255 times the paint's 0..256, over 255 (x 257 / 65536).
      const __m128i cw = _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(c4), zero), fullV);
      const __m128i c32 = _mm_unpacklo_epi16(cw, zero);
      Blend4(line + x, _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(c32, 8), c32), round), 16), src);
    }
#endif
    int32_t weights[4];
    for (; x < s.x1; x += 4) {
      const int n = std::min(4, s.x1 - x);
      for (int i = 0; i < n; ++i) {
        weights[i] = (cover[x + i] * full * 257 + 32768) >> 16;
        cover[x + i] = 0;
      }
      BlendWeighted(line + x, weights, n, rgb);
    }
  }
  spans_.clear();
  if (boxX1_ > boxX0_ && boxY1_ > boxY0_) target.MarkDirty(boxX0_, boxY0_, boxX1_ - boxX0_, boxY1_ - boxY0_);
}

namespace {

// Channels scaled by k / 256 (k 0..256).
inline uint32_t Scale(uint32_t p, uint32_t k) {
  return ((((p & 0xFF00FF) * k) >> 8) & 0xFF00FF) | ((((p >> 8) & 0xFF00FF) * k) & 0xFF00FF00);
}

}  // namespace

bool FillDiscWithPicture(const uint32_t* picture, int width, int height, const Affine& place, float cx, float cy,
                         float r, const PixelView& sprite) {
  if (!picture || width < 1 || height < 1 || place.m12 != 0 || place.m21 != 0 || place.m11 == 0 || place.m22 == 0 ||
      !Finite(place.m11) || !Finite(place.m22) || !Finite(place.dx) || !Finite(place.dy) || !Finite(cx) ||
      !Finite(cy) || !(r >= 0) || !Finite(r))
    return false;
  thread_local std::vector<Tap> columns;
  thread_local std::vector<uint32_t> mixed;
  columns.resize(static_cast<size_t>(sprite.width));
  mixed.resize(static_cast<size_t>(width));
  // A sprite pixel's centre maps back to picture coordinates, whose pixel centres sit at i + 0.5.
  for (int x = 0; x < sprite.width; ++x)
    columns[static_cast<size_t>(x)] = TapAt((x + 0.5f - place.dx) / place.m11 - 0.5f, width);
  const float outer = r + 0.5f, inner = std::max(0.0f, r - 0.5f);
  for (int y = 0; y < sprite.height; ++y) {
    uint32_t* out = sprite.pixels + static_cast<ptrdiff_t>(y) * sprite.stride;
    std::fill_n(out, sprite.width, 0u);
    const float dy = y + 0.5f - cy, dy2 = dy * dy;
    if (dy2 >= outer * outer) continue;
    const float half = std::sqrt(outer * outer - dy2);
    const int x0 = std::max(0, static_cast<int>(std::floor(cx - half))), x1 = std::min(sprite.width, static_cast<int>(std::ceil(cx + half)) + 1);
    // Pixels whose centres lie within r - 0.5 are wholly inside.
    const float core = dy2 < inner * inner ? std::sqrt(inner * inner - dy2) : -1;
    const float coreL = cx - core, coreR = cx + core;
    if (x0 >= x1) continue;
    // The two picture rows mixed once over the columns this row reads, then each pixel mixes two
    // neighbours of that.
    const Tap row = TapAt((y + 0.5f - place.dy) / place.m22 - 0.5f, height);
    const uint32_t* top = picture + static_cast<ptrdiff_t>(row.i0) * width;
    const uint32_t* bottom = picture + static_cast<ptrdiff_t>(row.i1) * width;
    const Tap& first = columns[static_cast<size_t>(x0)];
    const Tap& last = columns[static_cast<size_t>(x1 - 1)];
    const int c0 = std::min(first.i0, last.i0), c1 = std::max(first.i1, last.i1) + 1;
    MixRows(top, bottom, row.f, mixed.data(), c0, c1);
    for (int x = x0; x < x1; ++x) {
      const float px = x + 0.5f;
      uint32_t k = 256;
      if (!(px >= coreL && px <= coreR)) {
        const float dx = px - cx;
        const float c = std::clamp(outer - std::sqrt(dx * dx + dy2), 0.0f, 1.0f);
        if (c <= 0) continue;
        k = static_cast<uint32_t>(c * 256 + 0.5f);
      }
      const Tap& t = columns[static_cast<size_t>(x)];
      const uint32_t p = MixPixels(mixed[static_cast<size_t>(t.i0)], mixed[static_cast<size_t>(t.i1)], t.f);
      out[x] = k == 256 ? (p | 0xFF000000u) : Scale(p | 0xFF000000u, k);
    }
  }
  return true;
}

void DarkenPixels(DrawSurface& target, int x0, int y0, int x1, int y1, float alpha, float hx, float hy, float hole) {
  const uint32_t keep = 256 - static_cast<uint32_t>(Weight256(alpha));
  int cx0, cy0, cx1, cy1;
  target.DeviceClip(&cx0, &cy0, &cx1, &cy1);
  x0 = std::max(x0, cx0), y0 = std::max(y0, cy0), x1 = std::min(x1, cx1), y1 = std::min(y1, cy1);
  if (keep == 256 || x0 >= x1 || y0 >= y1) return;
  const PixelView v = target.Pixels();
  // The colours scaled by keep; alpha goes towards opaque alike (its complement scaled).
  const auto run = [keep](uint32_t* p, int n) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), k = _mm_set1_epi16(static_cast<short>(keep));
    const __m128i flip = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    for (; i + 4 <= n; i += 4) {
      const __m128i q = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), flip);
      const __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(q, zero), k), 8);
      const __m128i hi = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(q, zero), k), 8);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_xor_si128(_mm_packus_epi16(lo, hi), flip));
    }
#endif
    for (; i < n; ++i) p[i] = Scale(p[i] ^ 0xFF000000u, keep) ^ 0xFF000000u;
  };
  for (int y = y0; y < y1; ++y) {
    uint32_t* line = v.pixels + static_cast<ptrdiff_t>(y) * v.stride;
    const float dy = y + 0.5f - hy;
    if (hole > 0 && dy * dy < hole * hole) {
      // Centres inside the hole: x + 0.5 within half of hx.
      const float half = std::sqrt(hole * hole - dy * dy);
      const int a = std::clamp(static_cast<int>(std::floor(hx - half + 0.5f)) + 1, x0, x1);
      const int b = std::clamp(static_cast<int>(std::ceil(hx + half - 0.5f)) - 1, a, x1);
      run(line + x0, a - x0);
      run(line + b, x1 - b);
    } else {
      run(line + x0, x1 - x0);
    }
  }
  target.MarkDirty(x0, y0, x1 - x0, y1 - y0);
}

void BlendSprite(DrawSurface& target, const PixelView& sprite, int x, int y, float opacity) {
  const uint32_t m = static_cast<uint32_t>(Weight256(opacity));
  int cx0, cy0, cx1, cy1;
  target.DeviceClip(&cx0, &cy0, &cx1, &cy1);
  const int x0 = std::max(x, cx0), y0 = std::max(y, cy0);
  const int x1 = std::min(x + sprite.width, cx1), y1 = std::min(y + sprite.height, cy1);
  if (m == 0 || x0 >= x1 || y0 >= y1) return;
  const PixelView v = target.Pixels();
  // Premultiplied over: out = s + d x (255 - alpha of s) / 255 (rounded, so that opaque stays
  // opaque), with s first scaled by the opacity.
  const auto over = [m](uint32_t s, uint32_t d) {
    if (m != 256) s = Scale(s, m);
    const uint32_t a = s >> 24;
    if (a == 0) return d;
    if (a == 255) return s;
    uint32_t rb = (d & 0xFF00FF) * (255 - a) + 0x800080, ag = ((d >> 8) & 0xFF00FF) * (255 - a) + 0x800080;
    rb = ((rb + ((rb >> 8) & 0xFF00FF)) >> 8) & 0xFF00FF;
    ag = (ag + ((ag >> 8) & 0xFF00FF)) & 0xFF00FF00;
    return s + (rb | ag);
  };
  for (int row = y0; row < y1; ++row) {
    uint32_t* out = v.pixels + static_cast<ptrdiff_t>(row) * v.stride;
    const uint32_t* in = sprite.pixels + static_cast<ptrdiff_t>(row - y) * sprite.stride - x;
    int a = x0, b = x1;
    if (m == 256) {
      // A disc: see-through ends around an opaque middle that is a plain copy.
      while (a < b && in[a] >> 24 != 255) out[a] = over(in[a], out[a]), ++a;
      while (b > a && in[b - 1] >> 24 != 255) --b, out[b] = over(in[b], out[b]);
      int c = a;
      while (c < b && in[c] >> 24 == 255) ++c;
      std::memcpy(out + a, in + a, sizeof(uint32_t) * static_cast<size_t>(c - a));
      a = c;
    }
    for (; a < b; ++a) out[a] = over(in[a], out[a]);
  }
  target.MarkDirty(x0, y0, x1 - x0, y1 - y0);
}

namespace {

// A vertical ramp placed on a target: what each device row of it takes.
struct Ramp {
  float X0, X1, Y0, Y1, G0, G1;  // the rectangle and the gradient's ends, in device pixels
  float p0[4], p1[4];            // premultiplied end colours
  int left, top, right, bottom;  // the device pixels it touches, within the clip

  // Row `row`'s straight colour (0xRRGGBB) and the share of it the row takes (alpha x cover);
  // false when the row takes none.
  bool Row(int row, uint32_t* colour, float* share) const {
    const float s = G1 != G0 ? std::clamp((row + 0.5f - G0) / (G1 - G0), 0.0f, 1.0f) : 0.0f;
    float p[4];
    for (int c = 0; c < 4; ++c) p[c] = p0[c] + (p1[c] - p0[c]) * s;
    if (p[3] <= 0) return false;
    *colour = static_cast<uint32_t>(std::lround(std::min(1.0f, p[0] / p[3]) * 255)) << 16 |
              static_cast<uint32_t>(std::lround(std::min(1.0f, p[1] / p[3]) * 255)) << 8 |
              static_cast<uint32_t>(std::lround(std::min(1.0f, p[2] / p[3]) * 255));
    *share = p[3] * Cover(static_cast<float>(row), row + 1.0f, Y0, Y1);
    return true;
  }
  static float Cover(float a, float b, float lo, float hi) { return std::clamp(std::min(b, hi) - std::max(a, lo), 0.0f, 1.0f); }
};

// False when the transform is not a plain uniform scale and shift or the numbers are not usable.
bool PlaceRamp(const DrawSurface& target, float x, float y, float w, float h, float y0, Rgba c0, float y1, Rgba c1,
               Ramp* r) {
  const Affine d = target.DeviceTransform();
  if (d.m12 != 0 || d.m21 != 0 || !(d.m11 > 0) || std::fabs(d.m11 - d.m22) > 1e-6f * d.m11) return false;
  const float k = d.m11;
  r->X0 = x * k + d.dx, r->X1 = (x + w) * k + d.dx, r->Y0 = y * k + d.dy, r->Y1 = (y + h) * k + d.dy;
  r->G0 = y0 * k + d.dy, r->G1 = y1 * k + d.dy;
  if (!Finite(r->X0) || !Finite(r->X1) || !Finite(r->Y0) || !Finite(r->Y1) || !Finite(r->G0) || !Finite(r->G1) ||
      !(w >= 0) || !(h >= 0))
    return false;
  int cx0, cy0, cx1, cy1;
  target.DeviceClip(&cx0, &cy0, &cx1, &cy1);
  r->left = std::max(cx0, static_cast<int>(std::floor(r->X0)));
  r->right = std::min(cx1, static_cast<int>(std::ceil(r->X1)));
  r->top = std::max(cy0, static_cast<int>(std::floor(r->Y0)));
  r->bottom = std::min(cy1, static_cast<int>(std::ceil(r->Y1)));
  auto unit = [](float v) { return std::clamp(std::isfinite(v) ? v : 0.0f, 0.0f, 1.0f); };
  // Premultiplied stops, mixed per row as the library mixes them.
  const float a0 = unit(c0.a), a1 = unit(c1.a);
  const float p0[4] = {unit(c0.r) * a0, unit(c0.g) * a0, unit(c0.b) * a0, a0};
  const float p1[4] = {unit(c1.r) * a1, unit(c1.g) * a1, unit(c1.b) * a1, a1};
  std::copy(p0, p0 + 4, r->p0);
  std::copy(p1, p1 + 4, r->p1);
  return true;
}

}  // namespace

bool FillVerticalRamp(DrawSurface& target, float x, float y, float w, float h, float y0, Rgba c0, float y1, Rgba c1) {
  Ramp r;
  if (!PlaceRamp(target, x, y, w, h, y0, c0, y1, c1, &r)) return false;
  const int left = r.left, right = r.right, top = r.top, bottom = r.bottom;
  if (left >= right || top >= bottom) return true;
  const PixelView v = target.Pixels();
  const float edgeL = Ramp::Cover(static_cast<float>(left), left + 1.0f, r.X0, r.X1);
  const float edgeR = Ramp::Cover(right - 1.0f, static_cast<float>(right), r.X0, r.X1);
  int32_t weights[4];
  for (int row = top; row < bottom; ++row) {
    uint32_t colour;
    float rowShare;
    if (!r.Row(row, &colour, &rowShare)) continue;
    uint32_t* line = v.pixels + static_cast<ptrdiff_t>(row) * v.stride;
    const auto full = static_cast<int32_t>(std::lround(rowShare * 256));
    auto blendOne = [&](int col, float share) {
      weights[0] = static_cast<int32_t>(std::lround(rowShare * share * 256));
      BlendWeighted(line + col, weights, 1, colour);
    };
    int a = left, b = right;
    if (edgeL < 1) blendOne(a++, edgeL);
    if (b > a && edgeR < 1) blendOne(--b, edgeR);
    if (full >= 256) {
      std::fill(line + a, line + b, 0xFF000000u | colour);
      continue;
    }
    std::fill_n(weights, 4, full);
    int col = a;
#if defined(__SSE2__)
    const __m128i src = Unpacked(colour), k4 = _mm_set1_epi32(full);
    for (; col + 4 <= b; col += 4) Blend4(line + col, k4, src);
#endif
    for (; col < b; col += 4) BlendWeighted(line + col, weights, std::min(4, b - col), colour);
  }
  target.MarkDirty(left, top, right - left, bottom - top);
  return true;
}

int VerticalRampRows(DrawSurface& target, float w, float h, float y0, Rgba c0, float y1, Rgba c1, uint32_t backdrop,
                     uint32_t* out, int rows) {
  Ramp r;
  const PixelView v = target.Pixels();
  int cx0, cy0, cx1, cy1;
  target.DeviceClip(&cx0, &cy0, &cx1, &cy1);
  if (cx0 != 0 || cy0 != 0 || cx1 != v.width || cy1 != v.height) return -1;
  if (!PlaceRamp(target, 0, 0, w, h, y0, c0, y1, c1, &r) || r.X0 > 0 || r.Y0 > 0 || r.X1 < v.width) return -1;
  const int count = std::min(r.bottom, rows);
  for (int row = 0; row < count; ++row) {
    uint32_t colour, pixel = 0xFF000000u | (backdrop & 0xFFFFFF);
    float share;
    if (r.Row(row, &colour, &share)) {
      const auto weight = static_cast<int32_t>(std::lround(share * 256));
      if (weight >= 256)
        pixel = 0xFF000000u | colour;
      else
        BlendWeighted(&pixel, &weight, 1, colour);
    }
    out[row] = pixel & 0xFFFFFF;
  }
  return count;
}
