#include "ui/draw_pixels.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "ui/draw_workers.h"

namespace {

// pixman's radial gradients cost several nanoseconds a pixel, and a soft glow over a deck panel
// covers half a million; a waveform lane drawn as thousands of rectangles costs more than writing
// its columns. These fills work on the pixels directly, SSE2 four at a time where it pays.

// Shapes larger than this many pixels across go through cairo: float pixel steps lose precision.
constexpr float kMaxSpanPx = 1e5f;
// cairo keeps a moved gradient origin just inside the ellipse (outside it would draw a cone).
constexpr float kMaxFocus = 0.999f;

bool Finite(float v) { return std::isfinite(v); }
template <typename... T>
bool Finite(float v, T... rest) {
  return std::isfinite(v) && Finite(rest...);
}

// ---- blending ------------------------------------------------------------------------------

// Premultiplied colour as 8-bit channels in one ARGB word, scaled by cover (0..256).
inline __attribute__((always_inline)) uint32_t ScalePixel(uint32_t p, uint32_t cover) {
  const uint32_t rb = ((p & 0x00FF00FFu) * cover >> 8) & 0x00FF00FFu;
  const uint32_t ag = (((p >> 8) & 0x00FF00FFu) * cover) & 0xFF00FF00u;
  return rb | ag;
}

// Source-over of a premultiplied source word onto a premultiplied destination word, exact to
// the rounding of x / 255.
inline __attribute__((always_inline)) uint32_t BlendOver(uint32_t dst, uint32_t src) {
  const uint32_t inv = 255 - (src >> 24);
  uint32_t rb = (dst & 0x00FF00FFu) * inv + 0x00800080u;
  rb = ((rb + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
  uint32_t ag = ((dst >> 8) & 0x00FF00FFu) * inv + 0x00800080u;
  ag = (ag + ((ag >> 8) & 0x00FF00FFu)) & 0xFF00FF00u;
  return (rb | ag) + src;
}

// A straight colour as a premultiplied word, each channel rounded.
uint32_t PackPremultiplied(float r, float g, float b, float a) {
  auto byte = [](float v) { return static_cast<uint32_t>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f); };
  const uint32_t alpha = byte(a);
  auto channel = [&](float v) { return std::min(alpha, byte(std::clamp(v, 0.0f, 1.0f) * a)); };
  return alpha << 24 | channel(r) << 16 | channel(g) << 8 | channel(b);
}

// One pixel over by src times cover (0..1); an opaque full cover replaces it.
void BlendCovered(uint32_t* dst, uint32_t src, float cover) {
  if (cover <= 0 || src == 0) return;
  if (cover < 1) src = ScalePixel(src, static_cast<uint32_t>(cover * 256.0f));
  *dst = (src >> 24) == 255 ? src : BlendOver(*dst, src);
}

#if defined(__SSE2__)
// Eight 16-bit lanes of bytes times bytes, each / 255 rounded.
inline __attribute__((always_inline)) __m128i MulDiv255(__m128i a, __m128i b) {
  const __m128i m = _mm_add_epi16(_mm_mullo_epi16(a, b), _mm_set1_epi16(128));
  return _mm_srli_epi16(_mm_add_epi16(m, _mm_srli_epi16(m, 8)), 8);
}

// Source-over of four premultiplied source words onto four destination words.
inline __attribute__((always_inline)) __m128i BlendOver4(__m128i d, __m128i s) {
  const __m128i zero = _mm_setzero_si128();
  __m128i inv = _mm_sub_epi32(_mm_set1_epi32(255), _mm_srli_epi32(s, 24));
  inv = _mm_or_si128(inv, _mm_slli_epi32(inv, 16));
  const __m128i lo = MulDiv255(_mm_unpacklo_epi8(d, zero), _mm_unpacklo_epi32(inv, inv));
  const __m128i hi = MulDiv255(_mm_unpackhi_epi8(d, zero), _mm_unpackhi_epi32(inv, inv));
  return _mm_add_epi8(_mm_packus_epi16(lo, hi), s);
}
#endif

// The image blends run eight pixels a register where the processor has AVX2: the very same
// arithmetic as the four-pixel SSE2 loops below, which finish what they leave.
bool WideBlends = true;
#if defined(__x86_64__) && defined(__GNUC__)
bool HasWideBlends() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}

#define WIDE __attribute__((target("avx2"), always_inline)) inline
WIDE __m256i MulDiv255x16(__m256i a, __m256i b) {
  const __m256i m = _mm256_add_epi16(_mm256_mullo_epi16(a, b), _mm256_set1_epi16(128));
  return _mm256_srli_epi16(_mm256_add_epi16(m, _mm256_srli_epi16(m, 8)), 8);
}

// BlendOver4 on eight words (the unpacks and the pack work within each half alike).
WIDE __m256i BlendOver8(__m256i d, __m256i s) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i inv = _mm256_sub_epi32(_mm256_set1_epi32(255), _mm256_srli_epi32(s, 24));
  inv = _mm256_or_si256(inv, _mm256_slli_epi32(inv, 16));
  const __m256i lo = MulDiv255x16(_mm256_unpacklo_epi8(d, zero), _mm256_unpacklo_epi32(inv, inv));
  const __m256i hi = MulDiv255x16(_mm256_unpackhi_epi8(d, zero), _mm256_unpackhi_epi32(inv, inv));
  return _mm256_add_epi8(_mm256_packus_epi16(lo, hi), s);
}
#undef WIDE

// The whole groups of eight of BlendSpan(dst, n, src) (m 255) or BlendSpanScaled; returns how
// many pixels were done.
__attribute__((target("avx2"))) int BlendSpanWide(uint32_t* dst, int n, const uint32_t* src, uint32_t m) {
  const __m256i zero = _mm256_setzero_si256(), m16 = _mm256_set1_epi16(static_cast<int16_t>(m));
  const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    if (_mm256_testz_si256(s, s)) continue;
    // Eight opaque pixels at full strength replace what lies under them (a face's inside).
    if (m == 255 && _mm256_testc_si256(s, alpha)) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), s);
      continue;
    }
    if (m != 255)
      s = _mm256_packus_epi16(MulDiv255x16(_mm256_unpacklo_epi8(s, zero), m16),
                              MulDiv255x16(_mm256_unpackhi_epi8(s, zero), m16));
    __m256i* p = reinterpret_cast<__m256i*>(dst + i);
    _mm256_storeu_si256(p, BlendOver8(_mm256_loadu_si256(p), s));
  }
  return i;
}

// The whole groups of eight of one row of waveform columns (see FillColumnsByRow): each pixel
// gets src scaled by the part of its column's span [lo, hi) inside the row [q, q + 1), the same
// arithmetic as the four-pixel loop; returns how many pixels were done.
__attribute__((target("avx2"))) int FillColumnRowWide(uint32_t* row, int n, const float* lo, const float* hi, float q,
                                                     uint32_t src) {
  const __m256i zero = _mm256_setzero_si256(), srcv = _mm256_set1_epi32(static_cast<int>(src));
  const __m256 q0 = _mm256_set1_ps(q), q1 = _mm256_set1_ps(q + 1), none = _mm256_setzero_ps(), all = _mm256_set1_ps(1.0f);
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256 cover = _mm256_min_ps(
        all, _mm256_max_ps(none, _mm256_sub_ps(_mm256_min_ps(q1, _mm256_loadu_ps(hi + k)),
                                               _mm256_max_ps(q0, _mm256_loadu_ps(lo + k)))));
    if (_mm256_movemask_ps(_mm256_cmp_ps(cover, none, _CMP_GT_OQ)) == 0) continue;
    __m256i s = srcv;
    if (_mm256_movemask_ps(_mm256_cmp_ps(cover, all, _CMP_GE_OQ)) != 0xFF) {
      __m256i c = _mm256_cvttps_epi32(_mm256_mul_ps(cover, _mm256_set1_ps(256.0f)));
      c = _mm256_or_si256(c, _mm256_slli_epi32(c, 16));
      const __m256i lo16 =
          _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(srcv, zero), _mm256_unpacklo_epi32(c, c)), 8);
      const __m256i hi16 =
          _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(srcv, zero), _mm256_unpackhi_epi32(c, c)), 8);
      s = _mm256_packus_epi16(lo16, hi16);
    }
    __m256i* d = reinterpret_cast<__m256i*>(row + k);
    _mm256_storeu_si256(d, BlendOver8(_mm256_loadu_si256(d), s));
  }
  return k;
}
#endif

int BlendSpanWideIfAble(uint32_t* dst, int n, const uint32_t* src, uint32_t m) {
#if defined(__x86_64__) && defined(__GNUC__)
  if (WideBlends && n >= 8 && HasWideBlends()) return BlendSpanWide(dst, n, src, m);
#endif
  (void)dst, (void)n, (void)src, (void)m;
  return 0;
}

// dst[i] over by the one colour src, n pixels.
void BlendSpan(uint32_t* dst, int n, uint32_t src) {
  if (n <= 0 || src == 0) return;
  int i = 0;
#if defined(__SSE2__)
  const __m128i s = _mm_set1_epi32(static_cast<int>(src));
  if ((src >> 24) == 255) {
    for (; i + 4 <= n; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), s);
    std::fill(dst + i, dst + n, src);
    return;
  }
  if (n >= 4) {
    // What lies under a tint is often one colour along the row: four pixels equal to the last
    // four take their result again.
    __m128i under = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst));
    __m128i over = BlendOver4(under, s);
    for (; i + 4 <= n; i += 4) {
      __m128i* p = reinterpret_cast<__m128i*>(dst + i);
      const __m128i d = _mm_loadu_si128(p);
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(d, under)) != 0xFFFF) under = d, over = BlendOver4(d, s);
      _mm_storeu_si128(p, over);
    }
  }
#endif
  if ((src >> 24) == 255) {
    std::fill(dst + i, dst + n, src);
    return;
  }
  for (; i < n; ++i) dst[i] = BlendOver(dst[i], src);
}

// dst[i] over by src[i], n pixels.
void BlendSpan(uint32_t* dst, int n, const uint32_t* src) {
  int i = BlendSpanWideIfAble(dst, n, src, 255);
#if defined(__SSE2__)
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (; i + 4 <= n; i += 4) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(s, _mm_setzero_si128())) == 0xFFFF) continue;
    __m128i* p = reinterpret_cast<__m128i*>(dst + i);
    const bool opaque = _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(s, alpha), alpha)) == 0xFFFF;
    _mm_storeu_si128(p, opaque ? s : BlendOver4(_mm_loadu_si128(p), s));
  }
#endif
  for (; i < n; ++i)
    if (src[i]) dst[i] = BlendOver(dst[i], src[i]);
}

// dst[i] over by src[i] times m / 255 (m 1..255), each scaled channel rounded, n pixels.
void BlendSpanScaled(uint32_t* dst, int n, const uint32_t* src, uint32_t m) {
  int i = BlendSpanWideIfAble(dst, n, src, m);
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), m16 = _mm_set1_epi16(static_cast<int16_t>(m));
  for (; i + 4 <= n; i += 4) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(s, zero)) == 0xFFFF) continue;
    const __m128i scaled =
        _mm_packus_epi16(MulDiv255(_mm_unpacklo_epi8(s, zero), m16), MulDiv255(_mm_unpackhi_epi8(s, zero), m16));
    __m128i* p = reinterpret_cast<__m128i*>(dst + i);
    _mm_storeu_si128(p, BlendOver4(_mm_loadu_si128(p), scaled));
  }
#endif
  for (; i < n; ++i) {
    if (!src[i]) continue;
    uint32_t scaled = 0;
    for (int c = 0; c < 32; c += 8) {
      const uint32_t t = ((src[i] >> c) & 255) * m + 128;
      scaled |= ((t + (t >> 8)) >> 8) << c;
    }
    dst[i] = BlendOver(dst[i], scaled);
  }
}

// ---- rows shared among the draw workers ----------------------------------------------------

// Below this many pixels a fill runs on the calling thread alone: handing out bands costs more.
constexpr int kBandedFillPixels = 64 * 1024;

// row(y) for y in [y0, y1); a large fill is cut into bands of rows for the draw workers, which is
// safe when each row writes only its own pixels and reads only what no other row writes.
template <typename Fn>
void RunRowBands(int y0, int y1, int width, Fn& row) {
  const int rows = y1 - y0;
  if (rows <= 0) return;
  if (static_cast<int64_t>(rows) * width < kBandedFillPixels) {
    for (int y = y0; y < y1; ++y) row(y);
    return;
  }
  const int bands = std::min(DrawBands(), rows);
  auto band = [&](int k) {
    for (int y = y0 + rows * k / bands; y < y0 + rows * (k + 1) / bands; ++y) row(y);
  };
  RunDrawBands(bands, band);
}

// ---- transforms and gradients ----------------------------------------------------------------

struct Rect {
  float x, y, w, h;
};

// device = s x user + o on each axis.
struct Straight {
  float sx, ox, sy, oy;
};

bool StraightTransform(const DrawSurface& target, Straight* m) {
  const Affine d = target.DeviceTransform();
  if (d.m12 != 0 || d.m21 != 0 || d.m11 == 0 || d.m22 == 0 || !Finite(d.m11, d.m22, d.dx, d.dy)) return false;
  *m = Straight{d.m11, d.dx, d.m22, d.dy};
  return true;
}

// The brush's colour at t (0..1), premultiplied, times its opacity.
uint32_t GradientColourAt(const GradientBrush& brush, float t) {
  const GradientStop* stops = brush.stops();
  const int count = brush.stopCount();
  Rgba c = stops[count - 1].color;
  if (t <= stops[0].offset) {
    c = stops[0].color;
  } else {
    for (int k = 1; k < count; ++k) {
      if (t > stops[k].offset) continue;
      const GradientStop &a = stops[k - 1], &b = stops[k];
      const float f = b.offset > a.offset ? (t - a.offset) / (b.offset - a.offset) : 1.0f;
      c = Rgba{a.color.r + (b.color.r - a.color.r) * f, a.color.g + (b.color.g - a.color.g) * f,
               a.color.b + (b.color.b - a.color.b) * f, a.color.a + (b.color.a - a.color.a) * f};
      break;
    }
  }
  return PackPremultiplied(c.r, c.g, c.b, c.a * brush.opacity());
}

// n colours of the brush at t = i / (n - 1), or at t = sqrt(i / (n - 1)) when bySquare. The last
// few tables are kept: the same glows are drawn every frame.
const std::vector<uint32_t>& GradientLut(const GradientBrush& brush, bool bySquare, int n) {
  struct Table {
    uint32_t brush = 0;
    float opacity = -1;
    bool bySquare = false;
    std::vector<uint32_t> colours;
  };
  constexpr size_t kTables = 16;
  static Table tables[kTables];
  static size_t next = 0;
  for (Table& t : tables)
    if (t.brush == brush.id() && t.opacity == brush.opacity() && t.bySquare == bySquare &&
        t.colours.size() == static_cast<size_t>(n))
      return t.colours;
  Table& t = tables[next++ % kTables];
  t.brush = brush.id(), t.opacity = brush.opacity(), t.bySquare = bySquare;
  t.colours.resize(n);
  for (int i = 0; i < n; ++i) {
    const float f = static_cast<float>(i) / (n - 1);
    t.colours[i] = GradientColourAt(brush, bySquare ? std::sqrt(f) : f);
  }
  return t.colours;
}

// ---- scratch ---------------------------------------------------------------------------------

std::vector<uint32_t> ColumnLut;    // colour per device row (or column) of a waveform lane
std::vector<uint32_t> SpanColours;  // colours of one row of a linear fill across

// One band's scratch of a radial fill: the colours of the row being drawn, and for large fills
// the inside colours of the row before with where that run lay.
struct RadialRows {
  std::vector<uint32_t> out, kept;
  int keptY = -1, keptBegin = 0, keptEnd = 0;
  int touchedX0 = 0, touchedX1 = 0;
};
RadialRows RadialBands[kMaxDrawBands];
std::vector<float> SpanLo, SpanHi;  // each column's span in a waveform lane

// Radial tables: steps of t squared, enough that the flat centre step stays about a pixel for
// small discs; at most this many.
constexpr int kMaxRadialSteps = 1024;
constexpr int kMinRadialSteps = 32;
constexpr int kFocalSteps = 256;  // steps of t when the origin is moved
// From this radius in pixels on, one row's colours serve the next row too: a pixel's step moves t
// by less than one table step of a colour change.
constexpr float kShareRowsRadiusPx = 128.0f;

// FillColumnPixels for upright lanes: row by row, four pixels at a time, each pixel covered by
// the part of its column's span that lies in its row. ColumnLut holds the colour of each row.
void FillColumnsByRow(DrawSurface& target, const PixelView& px, const float* half, int first, int last, float x0,
                      float centreY, float su, float ou, float sv, float ov, int p_begin, int p_end, int v_lo,
                      int v_hi) {
  const int n = p_end - p_begin;
  if (n <= 0) return;
  SpanLo.assign(n + 3, 0.0f);
  SpanHi.assign(n + 3, 0.0f);
  float top = static_cast<float>(v_hi), bottom = static_cast<float>(v_lo);
  for (int p = p_begin; p < p_end; ++p) {
    const int i = static_cast<int>(std::floor((p + 0.5f - ou) / su - x0));
    if (i < first || i > last) continue;
    const float h = half[i];
    if (!(h >= 0) || !std::isfinite(h)) continue;
    const float va = sv * (centreY - h) + ov, vb = sv * (centreY + h) + ov;
    SpanLo[p - p_begin] = std::max(static_cast<float>(v_lo), std::min(va, vb));
    SpanHi[p - p_begin] = std::min(static_cast<float>(v_hi), std::max(va, vb));
    if (SpanHi[p - p_begin] > SpanLo[p - p_begin])
      top = std::min(top, SpanLo[p - p_begin]), bottom = std::max(bottom, SpanHi[p - p_begin]);
  }
  const int q_begin = static_cast<int>(std::floor(top)), q_end = static_cast<int>(std::ceil(bottom));
#if defined(__x86_64__) && defined(__GNUC__)
  const bool wide = WideBlends && HasWideBlends();
#endif
  // Each row blends only its own pixels: a lane's rows are shared among the draw workers.
  auto fill_row = [&](int q) {
    const uint32_t src = ColumnLut[q - v_lo];
    if (!src) return;
    uint32_t* row = px.pixels + static_cast<size_t>(q) * px.stride + p_begin;
    const float qf = static_cast<float>(q);
    int k = 0;
#if defined(__x86_64__) && defined(__GNUC__)
    if (wide) k = FillColumnRowWide(row, n, SpanLo.data(), SpanHi.data(), qf, src);
#endif
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), srcv = _mm_set1_epi32(static_cast<int>(src));
    const __m128 q0 = _mm_set1_ps(qf), q1 = _mm_set1_ps(qf + 1), none = _mm_setzero_ps(), all = _mm_set1_ps(1.0f);
    for (; k + 4 <= n; k += 4) {
      const __m128 lo = _mm_loadu_ps(&SpanLo[k]), hi = _mm_loadu_ps(&SpanHi[k]);
      const __m128 cover = _mm_min_ps(all, _mm_max_ps(none, _mm_sub_ps(_mm_min_ps(q1, hi), _mm_max_ps(q0, lo))));
      const int full = _mm_movemask_ps(_mm_cmpge_ps(cover, all));
      if (_mm_movemask_ps(_mm_cmpgt_ps(cover, none)) == 0) continue;
      __m128i s = srcv;
      if (full != 0xF) {
        // Scale the colour by each pixel's cover (0..256) in 16-bit lanes.
        __m128i c = _mm_cvttps_epi32(_mm_mul_ps(cover, _mm_set1_ps(256.0f)));
        c = _mm_or_si128(c, _mm_slli_epi32(c, 16));
        const __m128i lo16 = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(srcv, zero), _mm_unpacklo_epi32(c, c)), 8);
        const __m128i hi16 = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(srcv, zero), _mm_unpackhi_epi32(c, c)), 8);
        s = _mm_packus_epi16(lo16, hi16);
      }
      __m128i* d = reinterpret_cast<__m128i*>(row + k);
      _mm_storeu_si128(d, BlendOver4(_mm_loadu_si128(d), s));
    }
#endif
    for (; k < n; ++k) {
      const float cover = std::min(qf + 1, SpanHi[k]) - std::max(qf, SpanLo[k]);
      if (cover <= 0) continue;
      row[k] = BlendOver(row[k], cover < 1 ? ScalePixel(src, static_cast<uint32_t>(cover * 256.0f)) : src);
    }
  };
  RunRowBands(q_begin, q_end, n, fill_row);
  if (q_end > q_begin) target.MarkDirty(p_begin, q_begin, n, q_end - q_begin);
}

}  // namespace

bool FillRadialPixels(DrawSurface& target, float cx, float cy, float rx, float ry, const GradientBrush& brush) {
  const float* g = brush.geometry();
  Straight m;
  if (brush.kind() != GradientBrush::Kind::Radial || g[0] != cx || g[1] != cy || g[4] != rx || g[5] != ry ||
      !Finite(cx, cy, rx, ry, g[2], g[3]) || !(rx > 0) || !(ry > 0) || !StraightTransform(target, &m))
    return false;
  const float dcx = m.sx * cx + m.ox, dcy = m.sy * cy + m.oy;
  const float drx = std::fabs(m.sx) * rx, dry = std::fabs(m.sy) * ry;
  if (drx > kMaxSpanPx || dry > kMaxSpanPx) return false;
  // The gradient origin in units of the radii, flipped with the axes, kept inside as cairo does.
  float fx = g[2] / rx * (m.sx < 0 ? -1 : 1), fy = g[3] / ry * (m.sy < 0 ? -1 : 1);
  const float flen = std::hypot(fx, fy);
  if (flen > kMaxFocus) fx *= kMaxFocus / flen, fy *= kMaxFocus / flen;
  const bool focal = fx != 0 || fy != 0;
  const int steps = focal ? kFocalSteps
                          : std::clamp(static_cast<int>(std::max(drx, dry) * 4), kMinRadialSteps, kMaxRadialSteps);
  const std::vector<uint32_t>& lut = GradientLut(brush, !focal, steps);
  int clip_x0, clip_y0, clip_x1, clip_y1;
  target.DeviceClip(&clip_x0, &clip_y0, &clip_x1, &clip_y1);
  const float rmin = std::max(0.5f, std::min(drx, dry));
  const float reach = 1 + 1 / rmin;  // the antialiased rim, in radii
  const int y_begin = std::max(clip_y0, static_cast<int>(std::floor(dcy - dry * reach)));
  const int y_end = std::min(clip_y1, static_cast<int>(std::ceil(dcy + dry * reach)));
  if (y_end <= y_begin) return true;
  PixelView px = target.Pixels();
  const float inner = std::max(0.0f, 1 - 0.5f / rmin), inner2 = inner * inner;
  const float one_minus_f2 = 1 - (fx * fx + fy * fy);
  const float step = 1 / drx;  // nx from one pixel to the next
  const bool share_rows = !focal && std::min(drx, dry) >= kShareRowsRadiusPx;
  auto fill_row = [&](int y, RadialRows& r) {
    const float ny = (y + 0.5f - dcy) / dry;
    if (ny * ny >= reach * reach) return;
    const float half = drx * std::sqrt(reach * reach - ny * ny);
    const int x_begin = std::max(clip_x0, static_cast<int>(std::floor(dcx - half)));
    const int x_end = std::min(clip_x1, static_cast<int>(std::ceil(dcx + half)));
    if (x_end <= x_begin) return;
    r.touchedX0 = std::min(r.touchedX0, x_begin), r.touchedX1 = std::max(r.touchedX1, x_end);
    r.out.resize(x_end - x_begin);
    uint32_t* out = r.out.data();
    const float ny2 = ny * ny;
    // The colour and rim cover of one pixel, the general way.
    auto pixel = [&](int x) {
      const float nx = (x + 0.5f - dcx) * step;
      const float t2 = nx * nx + ny2;
      uint32_t colour;
      if (!focal) {
        colour = lut[std::min(steps - 1, static_cast<int>(t2 * (steps - 1) + 0.5f))];
      } else {
        const float qx = nx - fx, qy = ny - fy, qf = qx * fx + qy * fy;
        const float t = (qf + std::sqrt(qf * qf + one_minus_f2 * (qx * qx + qy * qy))) / one_minus_f2;
        colour = lut[std::min(steps - 1, static_cast<int>(t * (steps - 1) + 0.5f))];
      }
      if (t2 >= inner2 && colour) {
        const float cover = std::clamp((1 - std::sqrt(t2)) * rmin + 0.5f, 0.0f, 1.0f);
        colour = cover < 1 ? ScalePixel(colour, static_cast<uint32_t>(cover * 256.0f)) : colour;
      }
      out[x - x_begin] = colour;
    };
    // Inside the rim every pixel is fully covered.
    int solid_begin = x_end, solid_end = x_end;
    if (ny2 < inner2) {
      const float inside = drx * std::sqrt(inner2 - ny2) - 1;
      solid_begin = std::clamp(static_cast<int>(std::ceil(dcx - inside)), x_begin, x_end);
      solid_end = std::clamp(static_cast<int>(std::floor(dcx + inside)), solid_begin, x_end);
    }
    uint32_t* row = px.pixels + static_cast<size_t>(y) * px.stride;
    if (share_rows && r.keptY == y - 1 && (y & 1)) {
      // The row before worked out the inside; only what lies outside its run is new.
      const int ob = std::clamp(r.keptBegin, solid_begin, solid_end), oe = std::clamp(r.keptEnd, ob, solid_end);
      for (int x = x_begin; x < ob; ++x) pixel(x);
      for (int x = oe; x < x_end; ++x) pixel(x);
      BlendSpan(row + x_begin, ob - x_begin, out);
      BlendSpan(row + ob, oe - ob, r.kept.data() + (ob - r.keptBegin));
      BlendSpan(row + oe, x_end - oe, out + (oe - x_begin));
      return;
    }
    for (int x = x_begin; x < solid_begin; ++x) pixel(x);
    for (int x = solid_end; x < x_end; ++x) pixel(x);
    BlendSpan(row + x_begin, solid_begin - x_begin, out);
    BlendSpan(row + solid_end, x_end - solid_end, out + (solid_end - x_begin));
    if (share_rows) {
      r.kept.resize(std::max(0, solid_end - solid_begin) + 4);
      r.keptY = y, r.keptBegin = solid_begin, r.keptEnd = solid_end;
    }
    uint32_t* kept = share_rows ? r.kept.data() - solid_begin : nullptr;
    int x = solid_begin;
    const float last = static_cast<float>(steps - 1);
#if defined(__SSE2__)
    // Four pixels a step: the table position in one register, the colours looked up, blended at
    // once. Without a moved origin the table is indexed by t squared; with one, by t.
    __m128 nxv = _mm_setr_ps(0.5f, 1.5f, 2.5f, 3.5f);
    nxv = _mm_mul_ps(_mm_add_ps(nxv, _mm_set1_ps(x - dcx)), _mm_set1_ps(step));
    const __m128 advance = _mm_set1_ps(4 * step), ny2v = _mm_set1_ps(ny2), scale = _mm_set1_ps(last);
    const __m128 lastv = _mm_set1_ps(last), half_step = _mm_set1_ps(0.5f);
    const __m128 fxv = _mm_set1_ps(fx), qyv = _mm_set1_ps(ny - fy), qyf = _mm_set1_ps((ny - fy) * fy);
    const __m128 kv = _mm_set1_ps(one_minus_f2), inv_k = _mm_set1_ps(1 / one_minus_f2);
    alignas(16) int index[4];
    for (; x + 4 <= solid_end; x += 4, nxv = _mm_add_ps(nxv, advance)) {
      __m128 at;
      if (!focal) {
        at = _mm_add_ps(_mm_mul_ps(nxv, nxv), ny2v);
      } else {
        const __m128 qx = _mm_sub_ps(nxv, fxv);
        const __m128 qf = _mm_add_ps(_mm_mul_ps(qx, fxv), qyf);
        const __m128 q2 = _mm_add_ps(_mm_mul_ps(qx, qx), _mm_mul_ps(qyv, qyv));
        at = _mm_mul_ps(_mm_add_ps(qf, _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(qf, qf), _mm_mul_ps(kv, q2)))), inv_k);
      }
      at = _mm_add_ps(_mm_mul_ps(at, scale), half_step);
      _mm_store_si128(reinterpret_cast<__m128i*>(index), _mm_cvttps_epi32(_mm_min_ps(at, lastv)));
      const __m128i src = _mm_setr_epi32(static_cast<int>(lut[index[0]]), static_cast<int>(lut[index[1]]),
                                         static_cast<int>(lut[index[2]]), static_cast<int>(lut[index[3]]));
      if (kept) _mm_storeu_si128(reinterpret_cast<__m128i*>(kept + x), src);
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(src, _mm_setzero_si128())) == 0xFFFF) continue;
      __m128i* p = reinterpret_cast<__m128i*>(row + x);
      _mm_storeu_si128(p, BlendOver4(_mm_loadu_si128(p), src));
    }
#endif
    for (; x < solid_end; ++x) {
      pixel(x);
      if (kept) kept[x] = out[x - x_begin];
      if (const uint32_t colour = out[x - x_begin]) row[x] = BlendOver(row[x], colour);
    }
  };
  // A large fill is shared among the draw workers in bands that start on even rows, so that an
  // odd row that reuses the row before finds it in its own band.
  const int rows = y_end - y_begin;
  const float columns = std::min(2 * drx * reach, static_cast<float>(clip_x1 - clip_x0));
  const bool banded = static_cast<float>(rows) * columns >= kBandedFillPixels;
  const int bands = banded ? std::min(DrawBands(), std::max(1, rows / 2)) : 1;
  auto band_start = [&](int k) { return k == 0 ? y_begin : k == bands ? y_end : (y_begin + rows * k / bands) & ~1; };
  auto band = [&](int k) {
    RadialRows& r = RadialBands[k];
    r.keptY = -1, r.touchedX0 = clip_x1, r.touchedX1 = clip_x0;
    for (int y = std::max(y_begin, band_start(k)), end = band_start(k + 1); y < end; ++y) fill_row(y, r);
  };
  if (bands > 1)
    RunDrawBands(bands, band);
  else
    band(0);
  int touched_x0 = clip_x1, touched_x1 = clip_x0;
  for (int k = 0; k < bands; ++k)
    touched_x0 = std::min(touched_x0, RadialBands[k].touchedX0), touched_x1 = std::max(touched_x1, RadialBands[k].touchedX1);
  if (touched_x1 > touched_x0) target.MarkDirty(touched_x0, y_begin, touched_x1 - touched_x0, y_end - y_begin);
  return true;
}

bool FillLinearBoxPixels(DrawSurface& target, float rx0, float ry0, float rw, float rh, float radius,
                         const GradientBrush& brush) {
  const Rect r{rx0, ry0, rw, rh};
  const float* g = brush.geometry();
  Straight m;
  const bool down = g[0] == g[2] && g[1] != g[3], across = g[1] == g[3] && g[0] != g[2];
  if (brush.kind() != GradientBrush::Kind::Linear || (!down && !across) || !Finite(r.x, r.y, r.w, r.h, radius) ||
      !Finite(g[0], g[1], g[2], g[3]) || r.w < 0 || r.h < 0 || !StraightTransform(target, &m))
    return false;
  const float ax = m.sx * r.x + m.ox, bx = m.sx * (r.x + r.w) + m.ox;
  const float ay = m.sy * r.y + m.oy, by = m.sy * (r.y + r.h) + m.oy;
  const float x0 = std::min(ax, bx), x1 = std::max(ax, bx), y0 = std::min(ay, by), y1 = std::max(ay, by);
  if (x1 - x0 > kMaxSpanPx || y1 - y0 > kMaxSpanPx) return false;
  // Corner radius in pixels, limited to half the shorter side as cairo's path is.
  const float rr = std::clamp(radius, 0.0f, std::min(r.w, r.h) / 2) * std::min(std::fabs(m.sx), std::fabs(m.sy));
  if (rr > 0 && std::fabs(m.sx) != std::fabs(m.sy)) return false;
  int clip_x0, clip_y0, clip_x1, clip_y1;
  target.DeviceClip(&clip_x0, &clip_y0, &clip_x1, &clip_y1);
  const int px0 = std::max(clip_x0, static_cast<int>(std::floor(x0)));
  const int px1 = std::min(clip_x1, static_cast<int>(std::ceil(x1)));
  const int py0 = std::max(clip_y0, static_cast<int>(std::floor(y0)));
  const int py1 = std::min(clip_y1, static_cast<int>(std::ceil(y1)));
  if (px1 <= px0 || py1 <= py0) return true;
  // The gradient's colour at a device pixel centre along its axis.
  const float g0 = down ? g[1] : g[0], g1 = down ? g[3] : g[2];
  const float s = down ? m.sy : m.sx, o = down ? m.oy : m.ox;
  auto colour_at = [&](int p) {
    return GradientColourAt(brush, std::clamp(((p + 0.5f - o) / s - g0) / (g1 - g0), 0.0f, 1.0f));
  };
  auto span_cover = [](int p, float lo, float hi) {
    return std::clamp(std::min(p + 1.0f, hi) - std::max(static_cast<float>(p), lo), 0.0f, 1.0f);
  };
  // Across: one row of colours serves every row.
  if (across) {
    SpanColours.resize(px1 - px0);
    for (int x = px0; x < px1; ++x) SpanColours[x - px0] = colour_at(x);
  }
  PixelView px = target.Pixels();
  auto fill_row = [&](int y) {
    uint32_t* row = px.pixels + static_cast<size_t>(y) * px.stride;
    const float cover_y = span_cover(y, y0, y1);
    const float cy = y + 0.5f;
    const uint32_t row_colour = down ? colour_at(y) : 0;
    auto colour_of = [&](int x) { return down ? row_colour : SpanColours[x - px0]; };
    // Pixels whose cover depends on x: the fractional ends, and on a corner row the corners.
    const bool corner_row = rr > 0 && (cy < y0 + rr || cy > y1 - rr);
    const float inset = corner_row ? rr : 0;
    const int in0 = std::clamp(static_cast<int>(std::ceil(x0 + inset)), px0, px1);
    const int in1 = std::clamp(static_cast<int>(std::floor(x1 - inset)), in0, px1);
    auto edge = [&](int x) {
      const float cx = x + 0.5f;
      float cover = cover_y * span_cover(x, x0, x1);
      if (corner_row && (cx < x0 + rr || cx > x1 - rr)) {
        const float ex = cx < x0 + rr ? x0 + rr : x1 - rr, ey = cy < y0 + rr ? y0 + rr : y1 - rr;
        // Distances of a few pixels: a plain square root (hypot guards against overflow, slowly).
        const float dx = cx - ex, dy = cy - ey;
        cover = std::min(cover, std::clamp(rr - std::sqrt(dx * dx + dy * dy) + 0.5f, 0.0f, 1.0f));
      }
      BlendCovered(row + x, colour_of(x), cover);
    };
    for (int x = px0; x < in0; ++x) edge(x);
    if (cover_y >= 1) {
      if (down)
        BlendSpan(row + in0, in1 - in0, row_colour);
      else
        BlendSpan(row + in0, in1 - in0, SpanColours.data() + (in0 - px0));
    } else {
      for (int x = in0; x < in1; ++x) BlendCovered(row + x, colour_of(x), cover_y);
    }
    for (int x = in1; x < px1; ++x) edge(x);
  };
  RunRowBands(py0, py1, px1 - px0, fill_row);
  target.MarkDirty(px0, py0, px1 - px0, py1 - py0);
  return true;
}

bool FillColumnPixels(DrawSurface& target, const float* half, int first, int last, float x0, float centreY,
                      float extent, Rgba outer, Rgba inner, float opacity) {
  const Affine d = target.DeviceTransform();
  if (!Finite(d.m11, d.m12, d.m21, d.m22, d.dx, d.dy)) return false;
  const bool straight = d.m12 == 0 && d.m21 == 0 && d.m11 != 0 && d.m22 != 0;
  const bool quarter_turn = d.m11 == 0 && d.m22 == 0 && d.m12 != 0 && d.m21 != 0;
  if (!straight && !quarter_turn) return false;
  // u: the device axis that user x runs along; v: the one user y runs along.
  const float su = straight ? d.m11 : d.m12, ou = straight ? d.dx : d.dy;
  const float sv = straight ? d.m22 : d.m21, ov = straight ? d.dy : d.dx;
  int clip_x0, clip_y0, clip_x1, clip_y1;
  target.DeviceClip(&clip_x0, &clip_y0, &clip_x1, &clip_y1);
  const int u_lo = straight ? clip_x0 : clip_y0, u_hi = straight ? clip_x1 : clip_y1;
  int v_lo = straight ? clip_y0 : clip_x0, v_hi = straight ? clip_y1 : clip_x1;
  // Only the rows the tallest column reaches get a colour: a lane is a strip of a tall clip.
  float tallest = -1;
  for (int i = first; i <= last; ++i)
    if (half[i] >= 0 && std::isfinite(half[i])) tallest = std::max(tallest, half[i]);
  if (tallest < 0) return true;
  const float reach_a = sv * (centreY - tallest) + ov, reach_b = sv * (centreY + tallest) + ov;
  constexpr float kFar = static_cast<float>(INT_MAX / 2);
  if (Finite(reach_a, reach_b)) {
    v_lo = std::max(v_lo, static_cast<int>(std::clamp(std::floor(std::min(reach_a, reach_b)), -kFar, kFar)));
    v_hi = std::min(v_hi, static_cast<int>(std::clamp(std::ceil(std::max(reach_a, reach_b)), -kFar, kFar)));
  }
  if (u_hi <= u_lo || v_hi <= v_lo) return true;

  // One premultiplied colour per device pixel along v, from the gradient at the pixel's centre.
  ColumnLut.resize(v_hi - v_lo);
  for (int v = v_lo; v < v_hi; ++v) {
    const float uy = (v + 0.5f - ov) / sv;
    const float t = std::min(1.0f, std::fabs(uy - centreY) / extent);
    ColumnLut[v - v_lo] = PackPremultiplied(inner.r + (outer.r - inner.r) * t, inner.g + (outer.g - inner.g) * t,
                                            inner.b + (outer.b - inner.b) * t,
                                            (inner.a + (outer.a - inner.a) * t) * opacity);
  }
  const float ua = su * (x0 + first) + ou, ub = su * (x0 + last + 1) + ou;
  const int p_begin = std::max(u_lo, static_cast<int>(std::floor(std::min(ua, ub))));
  const int p_end = std::min(u_hi, static_cast<int>(std::ceil(std::max(ua, ub))));
  PixelView px = target.Pixels();
  if (straight) {
    FillColumnsByRow(target, px, half, first, last, x0, centreY, su, ou, sv, ov, p_begin, p_end, v_lo, v_hi);
    return true;
  }
  // A quarter turn: each column is a run along a row of pixels.
  int touched_lo = v_hi, touched_hi = v_lo;
  for (int p = p_begin; p < p_end; ++p) {
    const int i = static_cast<int>(std::floor((p + 0.5f - ou) / su - x0));
    if (i < first || i > last) continue;
    const float h = half[i];
    if (!(h >= 0) || !std::isfinite(h)) continue;
    const float va = sv * (centreY - h) + ov, vb = sv * (centreY + h) + ov;
    const float lo = std::max(static_cast<float>(v_lo), std::min(va, vb));
    const float hi = std::min(static_cast<float>(v_hi), std::max(va, vb));
    if (hi <= lo) continue;
    const int q_begin = static_cast<int>(std::floor(lo)), q_end = static_cast<int>(std::ceil(hi));
    touched_lo = std::min(touched_lo, q_begin), touched_hi = std::max(touched_hi, q_end);
    uint32_t* base = px.pixels + static_cast<size_t>(p) * px.stride;
    for (int q = q_begin; q < q_end; ++q) {
      const float cover = std::min(q + 1.0f, hi) - std::max(static_cast<float>(q), lo);
      uint32_t src = ColumnLut[q - v_lo];
      if (cover < 1.0f) src = ScalePixel(src, static_cast<uint32_t>(cover * 256.0f));
      uint32_t& dst = base[q];
      dst = BlendOver(dst, src);
    }
  }
  if (touched_hi > touched_lo && p_end > p_begin)
    target.MarkDirty(touched_lo, p_begin, touched_hi - touched_lo, p_end - p_begin);
  return true;
}

namespace {

// A rounded box's outline band (width > 0) or, with width 0, the box filled; see
// StrokeRoundedBoxPixels. In a filled box the distance band runs from far inside to the edge,
// and the pixels wholly inside are filled as runs.
bool RoundedBoxPixels(DrawSurface& target, float cx, float cy, float hx, float hy, float radius, float width,
                      Rgba colour) {
  Straight m;
  if (!Finite(cx, cy, hx, hy, radius, width) || width < 0 || hx < 0 || hy < 0 || !StraightTransform(target, &m) ||
      std::fabs(m.sx) != std::fabs(m.sy))
    return false;
  const bool filled = width == 0;
  if (filled && (hx == 0 || hy == 0)) return true;
  const float s = std::fabs(m.sx);
  const float dcx = m.sx * cx + m.ox, dcy = m.sy * cy + m.oy;
  const float dhx = s * hx, dhy = s * hy, half = s * width / 2;
  // The band of signed distances from the edge that is painted.
  const float lo = filled ? -kMaxSpanPx : -half, hi = half;
  if (std::fabs(dcx) + dhx + half > kMaxSpanPx || std::fabs(dcy) + dhy + half > kMaxSpanPx) return false;
  const float rr = std::clamp(s * radius, 0.0f, std::min(dhx, dhy));
  const uint32_t src = PackPremultiplied(colour.r, colour.g, colour.b, colour.a);
  if (src == 0) return true;
  int clip_x0, clip_y0, clip_x1, clip_y1;
  target.DeviceClip(&clip_x0, &clip_y0, &clip_x1, &clip_y1);
  // Pixels whose centre lies this far outside the edge, or inside it, are not covered.
  const float out = hi + 0.5f, in = filled ? 0.5f : half + 0.5f;
  const int y_begin = std::max(clip_y0, static_cast<int>(std::floor(dcy - dhy - out)));
  const int y_end = std::min(clip_y1, static_cast<int>(std::ceil(dcy + dhy + out)));
  if (y_end <= y_begin || clip_x1 <= clip_x0) return true;
  PixelView px = target.Pixels();
  if (!px.pixels) return false;
  // The hollow inside the band (or a filled box's wholly covered inside): the box shrunk by `in`,
  // its corners sharp once the radius is used up.
  const float bx = dhx - in, by = dhy - in, ri = std::max(rr - in, 0.0f);
  int touched_x0 = clip_x1, touched_x1 = clip_x0;
  for (int y = y_begin; y < y_end; ++y) {
    const float dy = std::fabs(y + 0.5f - dcy);
    const float ay = dy - (dhy - rr);
    float outer;
    if (ay <= 0)
      outer = dhx + out;
    else if (ay < rr + out)
      outer = dhx - rr + std::sqrt((rr + out) * (rr + out) - ay * ay);
    else
      continue;
    float hollow = -1;
    if (bx > 0 && by > 0) {
      const float ayi = dy - (by - ri);
      if (ayi <= 0)
        hollow = bx;
      else if (ayi < ri)
        hollow = bx - ri + std::sqrt(ri * ri - ayi * ayi);
    }
    const int x_begin = std::max(clip_x0, static_cast<int>(std::floor(dcx - outer)));
    const int x_end = std::min(clip_x1, static_cast<int>(std::ceil(dcx + outer)));
    if (x_end <= x_begin) continue;
    touched_x0 = std::min(touched_x0, x_begin), touched_x1 = std::max(touched_x1, x_end);
    // Pixels whose centres lie inside the hollow (with a little to spare) are skipped.
    int skip_begin = x_end, skip_end = x_end;
    if (hollow > 0) {
      skip_begin = std::max(x_begin, static_cast<int>(std::ceil(dcx - hollow + 1e-3f - 0.5f)));
      skip_end = std::max(skip_begin, std::min(x_end, static_cast<int>(std::floor(dcx + hollow - 1e-3f - 0.5f)) + 1));
    }
    // Above and below the straight part of the sides every pixel lies the same distance from the
    // edge: those runs take one cover.
    int flat_begin = x_end, flat_end = x_end;
    uint32_t flat_src = 0;
    if (ay > 0) {
      const float cover = std::min(ay - rr + 0.5f, hi) - std::max(ay - rr - 0.5f, lo);
      flat_begin = std::max(x_begin, static_cast<int>(std::ceil(dcx - (dhx - rr) - 0.5f)));
      flat_end = std::max(flat_begin, std::min(x_end, static_cast<int>(std::floor(dcx + (dhx - rr) - 0.5f)) + 1));
      flat_src = cover <= 0 ? 0 : cover < 1 ? ScalePixel(src, static_cast<uint32_t>(cover * 256.0f)) : src;
    }
    uint32_t* row = px.pixels + static_cast<size_t>(y) * px.stride;
    if (filled) BlendSpan(row + skip_begin, skip_end - skip_begin, src);
    for (int x = x_begin; x < x_end; ++x) {
      if (x >= skip_begin && x < skip_end) {
        x = skip_end - 1;
        continue;
      }
      if (x >= flat_begin && x < flat_end) {
        const int end = skip_end > skip_begin && skip_begin > x && skip_begin < flat_end ? skip_begin : flat_end;
        BlendSpan(row + x, end - x, flat_src);
        x = end - 1;
        continue;
      }
      const float ax = std::fabs(x + 0.5f - dcx) - (dhx - rr);
      const float dist = (ax > 0 && ay > 0 ? std::sqrt(ax * ax + ay * ay) : std::max(ax, ay)) - rr;
      const float cover = std::min(dist + 0.5f, hi) - std::max(dist - 0.5f, lo);
      if (cover > 0) BlendCovered(row + x, src, std::min(cover, 1.0f));
    }
  }
  if (touched_x1 > touched_x0) target.MarkDirty(touched_x0, y_begin, touched_x1 - touched_x0, y_end - y_begin);
  return true;
}

}  // namespace

bool StrokeRoundedBoxPixels(DrawSurface& target, float cx, float cy, float hx, float hy, float radius, float width,
                            Rgba colour) {
  return width > 0 && RoundedBoxPixels(target, cx, cy, hx, hy, radius, width, colour);
}

bool FillRoundedBoxPixels(DrawSurface& target, float cx, float cy, float hx, float hy, float radius, Rgba colour) {
  return RoundedBoxPixels(target, cx, cy, hx, hy, radius, 0, colour);
}

bool StrokeArcPixels(DrawSurface& target, float cx, float cy, float r, float startRad, float endRad, bool clockwise,
                     float width, Rgba colour) {
  Straight m;
  if (!Finite(cx, cy, r, startRad, endRad, width) || !(width > 0) || !(r > 0) || !StraightTransform(target, &m) ||
      m.sx <= 0 || m.sx != m.sy)
    return false;
  const float dcx = m.sx * cx + m.ox, dcy = m.sy * cy + m.oy, dr = m.sx * r, half = m.sx * width / 2;
  if (std::fabs(dcx) + dr + half > kMaxSpanPx || std::fabs(dcy) + dr + half > kMaxSpanPx) return false;
  // Drawn from a to b with the angle growing (clockwise on screen, y running down).
  const float a = clockwise ? startRad : endRad, b = clockwise ? endRad : startRad;
  float sweep = std::fmod(b - a, 2 * static_cast<float>(M_PI));
  if (sweep < 0) sweep += 2 * static_cast<float>(M_PI);
  const float ux = std::cos(a), uy = std::sin(a), vx = std::cos(b), vy = std::sin(b);
  const float e0x = dcx + dr * ux, e0y = dcy + dr * uy, e1x = dcx + dr * vx, e1y = dcy + dr * vy;
  const bool wide = sweep > static_cast<float>(M_PI);
  const uint32_t src = PackPremultiplied(colour.r, colour.g, colour.b, colour.a);
  if (src == 0) return true;
  int clip_x0, clip_y0, clip_x1, clip_y1;
  target.DeviceClip(&clip_x0, &clip_y0, &clip_x1, &clip_y1);
  // Only pixels near the arc itself can be covered: the box of its ends and of the circle's
  // extreme points within the sweep, grown by the band and a pixel. A short arc (a trail, a knob's
  // value) so skips the rest of the ring.
  float bx0 = std::min(e0x, e1x), bx1 = std::max(e0x, e1x), by0 = std::min(e0y, e1y), by1 = std::max(e0y, e1y);
  for (int quarter = 0; quarter < 4; ++quarter) {
    const float at = quarter * static_cast<float>(M_PI) / 2;
    float from_a = std::fmod(at - a, 2 * static_cast<float>(M_PI));
    if (from_a < 0) from_a += 2 * static_cast<float>(M_PI);
    if (from_a > sweep) continue;
    const float qx = dcx + (quarter == 0 ? dr : quarter == 2 ? -dr : 0);
    const float qy = dcy + (quarter == 1 ? dr : quarter == 3 ? -dr : 0);
    bx0 = std::min(bx0, qx), bx1 = std::max(bx1, qx), by0 = std::min(by0, qy), by1 = std::max(by1, qy);
  }
  const float grow = half + 1.5f;
  clip_x0 = std::max(clip_x0, static_cast<int>(std::floor(bx0 - grow)));
  clip_x1 = std::min(clip_x1, static_cast<int>(std::ceil(bx1 + grow)));
  clip_y0 = std::max(clip_y0, static_cast<int>(std::floor(by0 - grow)));
  clip_y1 = std::min(clip_y1, static_cast<int>(std::ceil(by1 + grow)));
  const float outer = dr + half + 0.5f, inner = dr - half - 0.5f;
  const int y_begin = std::max(clip_y0, static_cast<int>(std::floor(dcy - outer)));
  const int y_end = std::min(clip_y1, static_cast<int>(std::ceil(dcy + outer)));
  if (y_end <= y_begin || clip_x1 <= clip_x0) return true;
  PixelView px = target.Pixels();
  if (!px.pixels) return false;
  int touched_x0 = clip_x1, touched_x1 = clip_x0;
  for (int y = y_begin; y < y_end; ++y) {
    const float dy = y + 0.5f - dcy;
    if (std::fabs(dy) >= outer) continue;
    const float reach = std::sqrt(outer * outer - dy * dy);
    const float hollow = std::fabs(dy) < inner ? std::sqrt(inner * inner - dy * dy) - 1e-3f : -1;
    const int x_begin = std::max(clip_x0, static_cast<int>(std::floor(dcx - reach)));
    const int x_end = std::min(clip_x1, static_cast<int>(std::ceil(dcx + reach)));
    if (x_end <= x_begin) continue;
    touched_x0 = std::min(touched_x0, x_begin), touched_x1 = std::max(touched_x1, x_end);
    uint32_t* row = px.pixels + static_cast<size_t>(y) * px.stride;
    for (int x = x_begin; x < x_end; ++x) {
      const float dx = x + 0.5f - dcx;
      if (std::fabs(dx) < hollow) {
        x = static_cast<int>(std::floor(dcx + hollow - 0.5f));  // past the hollow; covered pixels stay
        continue;
      }
      // Within the sweep the band runs round the circle; beyond it, round caps on the ends.
      const bool after_a = ux * dy - uy * dx >= 0, before_b = dx * vy - dy * vx >= 0;
      const bool inside = wide ? (after_a || before_b) : (after_a && before_b);
      float dist;
      if (inside) {
        dist = std::fabs(std::sqrt(dx * dx + dy * dy) - dr);
      } else {
        const float px0 = x + 0.5f - e0x, py0 = y + 0.5f - e0y, px1 = x + 0.5f - e1x, py1 = y + 0.5f - e1y;
        dist = std::sqrt(std::min(px0 * px0 + py0 * py0, px1 * px1 + py1 * py1));
      }
      const float cover = std::min(dist + 0.5f, half) - std::max(dist - 0.5f, -half);
      if (cover > 0) BlendCovered(row + x, src, std::min(cover, 1.0f));
    }
  }
  if (touched_x1 > touched_x0) target.MarkDirty(touched_x0, y_begin, touched_x1 - touched_x0, y_end - y_begin);
  return true;
}

bool UseWideBlends(bool wide) {
  WideBlends = wide;
#if defined(__x86_64__) && defined(__GNUC__)
  return wide && HasWideBlends();
#else
  return false;
#endif
}

bool DrawPixelImages(DrawSurface& target, const PixelImage* images, const float* opacity, int count) {
  constexpr int kMaxImages = 8;
  constexpr float kWholePx = 1e-3f;  // how near a whole pixel an image's corner must land
  Straight m;
  if (count < 0 || count > kMaxImages || !StraightTransform(target, &m) || m.sx != m.sy || m.sx <= 0) return false;
  struct Placed {
    int x0, y0, x1, y1;  // device box, clipped
    int left, top;       // the image's corner
    uint32_t alpha;      // opacity as 0..255
  } placed[kMaxImages];
  int clip_x0, clip_y0, clip_x1, clip_y1;
  target.DeviceClip(&clip_x0, &clip_y0, &clip_x1, &clip_y1);
  int y_begin = clip_y1, y_end = clip_y0, x_begin = clip_x1, x_end = clip_x0;
  for (int k = 0; k < count; ++k) {
    const PixelImage& im = images[k];
    const float fx = m.sx * im.x + m.ox, fy = m.sy * im.y + m.oy;
    if (!Finite(fx, fy, opacity[k]) || std::fabs(fx) > kMaxSpanPx || std::fabs(fy) > kMaxSpanPx ||
        std::fabs(fx - std::round(fx)) > kWholePx || std::fabs(fy - std::round(fy)) > kWholePx)
      return false;
    Placed& p = placed[k];
    p.left = static_cast<int>(std::round(fx)), p.top = static_cast<int>(std::round(fy));
    p.alpha = static_cast<uint32_t>(std::clamp(opacity[k], 0.0f, 1.0f) * 255.0f + 0.5f);
    if (im.lit && im.lit->rowStart.size() != static_cast<size_t>(std::max(im.height, 0)) + 1) return false;
    const bool empty = !im.pixels || im.width <= 0 || im.height <= 0 || p.alpha == 0;
    p.x0 = std::max(clip_x0, p.left), p.x1 = empty ? p.x0 : std::min(clip_x1, p.left + im.width);
    p.y0 = std::max(clip_y0, p.top), p.y1 = empty ? p.y0 : std::min(clip_y1, p.top + im.height);
    if (p.x1 <= p.x0 || p.y1 <= p.y0) {
      p.y1 = p.y0;
      continue;
    }
    y_begin = std::min(y_begin, p.y0), y_end = std::max(y_end, p.y1);
    x_begin = std::min(x_begin, p.x0), x_end = std::max(x_end, p.x1);
  }
  if (y_end <= y_begin) return true;
  PixelView px = target.Pixels();
  if (!px.pixels) return false;
  // Large images are bound by memory speed, which several threads share better than one; a small
  // box (a part of the frame) is done sooner than the workers wake.
  const int rows = y_end - y_begin;
  const int bands = static_cast<int64_t>(rows) * (x_end - x_begin) < kBandedFillPixels ? 1 : DrawBands();
  auto band = [&](int k) {
    for (int y = y_begin + rows * k / bands; y < y_begin + rows * (k + 1) / bands; ++y) {
      uint32_t* row = px.pixels + static_cast<size_t>(y) * px.stride;
      for (int i = 0; i < count; ++i) {
        const Placed& p = placed[i];
        if (y < p.y0 || y >= p.y1) continue;
        const uint32_t* src = images[i].pixels + static_cast<size_t>(y - p.top) * images[i].width + (p.x0 - p.left);
        if (const PixelRuns* lit = images[i].lit) {
          const size_t iy = static_cast<size_t>(y - p.top);
          for (uint32_t r = lit->rowStart[iy]; r < lit->rowStart[iy + 1]; ++r) {
            const int x0 = std::max(p.x0, p.left + lit->spans[r].first), x1 = std::min(p.x1, p.left + lit->spans[r].second);
            if (x1 <= x0) continue;
            if (p.alpha == 255) BlendSpan(row + x0, x1 - x0, src + (x0 - p.x0));
            else BlendSpanScaled(row + x0, x1 - x0, src + (x0 - p.x0), p.alpha);
          }
        } else if (p.alpha == 255 && images[i].opaque)
          std::copy_n(src, p.x1 - p.x0, row + p.x0);
        else if (p.alpha == 255)
          BlendSpan(row + p.x0, p.x1 - p.x0, src);
        else
          BlendSpanScaled(row + p.x0, p.x1 - p.x0, src, p.alpha);
      }
    }
  };
  RunDrawBands(bands, band);
  target.MarkDirty(x_begin, y_begin, x_end - x_begin, y_end - y_begin);
  return true;
}

void FindLitRuns(const uint32_t* pixels, int width, int height, PixelRuns* runs) {
  runs->rowStart.assign(1, 0);
  runs->spans.clear();
  for (int y = 0; y < height; ++y) {
    const uint32_t* row = pixels + static_cast<size_t>(y) * width;
    for (int x = 0; x < width;) {
      if (!row[x]) {
        ++x;
        continue;
      }
      const int start = x;
      while (x < width && row[x]) ++x;
      runs->spans.emplace_back(start, x);
    }
    runs->rowStart.push_back(static_cast<uint32_t>(runs->spans.size()));
  }
}

void BlendImagePixels(DrawSurface& target, const uint32_t* pixels, int width, int height, int left, int top) {
  if (!pixels || width <= 0 || height <= 0) return;
  int clip_x0, clip_y0, clip_x1, clip_y1;
  target.DeviceClip(&clip_x0, &clip_y0, &clip_x1, &clip_y1);
  const int64_t x0 = std::max<int64_t>(clip_x0, left), x1 = std::min<int64_t>(clip_x1, int64_t{left} + width);
  const int64_t y0 = std::max<int64_t>(clip_y0, top), y1 = std::min<int64_t>(clip_y1, int64_t{top} + height);
  if (x1 <= x0 || y1 <= y0) return;
  PixelView px = target.Pixels();
  if (!px.pixels) return;
  for (int64_t y = y0; y < y1; ++y)
    BlendSpan(px.pixels + y * px.stride + x0, static_cast<int>(x1 - x0),
              pixels + (y - top) * static_cast<int64_t>(width) + (x0 - left));
  target.MarkDirty(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0), static_cast<int>(y1 - y0));
}
