#include "broadcast/video_effects.h"

#include "broadcast/bilinear.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;
// Fixed-point scale of the colour-matrix tables.
constexpr int kMatrixShift = 12;
constexpr int kBoxPasses = 3;
// Cells average at most this many samples each way: enough for a cell's colour, and a pixelated
// 1080p frame reads 16 pixels a cell instead of all of them.
constexpr int kCellSamples = 4;

inline uint32_t Channel(uint32_t p, int c) { return (p >> (16 - 8 * c)) & 0xFF; }  // c: 0 R, 1 G, 2 B
inline uint32_t Pack(uint32_t r, uint32_t g, uint32_t b) { return kOpaque | r << 16 | g << 8 | b; }

// One box pass along a line of `n` words `step` apart: each output is the mean of the inputs within
// `radius`, the line's end pixels repeated beyond its ends. `work` holds 3 x (n + 2 radius + 1) ints.
void BoxLine(const uint32_t* in, uint32_t* out, int n, int step, int radius, std::vector<int32_t>* work) {
  const int padded = n + 2 * radius;
  work->resize(static_cast<size_t>(padded) * 3);
  int32_t* c = work->data();
  for (int i = 0; i < padded; ++i) {
    const uint32_t p = in[static_cast<ptrdiff_t>(std::clamp(i - radius, 0, n - 1)) * step];
    c[3 * i] = static_cast<int32_t>(Channel(p, 0));
    c[3 * i + 1] = static_cast<int32_t>(Channel(p, 1));
    c[3 * i + 2] = static_cast<int32_t>(Channel(p, 2));
  }
  const int width = 2 * radius + 1;
  // Fixed-point reciprocal of the width: a multiply instead of three divisions a pixel.
  const int32_t inverse = (1 << 16) / width + 1;
  int32_t r = 0, g = 0, b = 0;
  for (int i = 0; i < width; ++i) r += c[3 * i], g += c[3 * i + 1], b += c[3 * i + 2];
  for (int i = 0; i < n; ++i) {
    out[static_cast<ptrdiff_t>(i) * step] = Pack(static_cast<uint32_t>(std::min(255, (r * inverse) >> 16)),
                                                 static_cast<uint32_t>(std::min(255, (g * inverse) >> 16)),
                                                 static_cast<uint32_t>(std::min(255, (b * inverse) >> 16)));
    if (i + 1 < n) {
      const int32_t* add = c + 3 * (i + width);
      const int32_t* drop = c + 3 * i;
      r += add[0] - drop[0], g += add[1] - drop[1], b += add[2] - drop[2];
    }
  }
}

}  // namespace

void ApplyColorMatrix(const ColorMatrix& matrix, const PixelView& src, const PixelView& dst) {
  if (std::memcmp(&matrix, &kInvertMatrix, sizeof matrix) == 0) {
    for (int y = 0; y < src.height; ++y) {
      const uint32_t* s = src.pixels + static_cast<ptrdiff_t>(y) * src.stride;
      uint32_t* d = dst.pixels + static_cast<ptrdiff_t>(y) * dst.stride;
      for (int x = 0; x < src.width; ++x) d[x] = (s[x] ^ 0x00FFFFFFu) | kOpaque;
    }
    return;
  }
  // One table per (input channel, output channel): lookups instead of multiplies.
  static thread_local int32_t table[3][3][256];
  static thread_local ColorMatrix built{};
  static thread_local bool haveTable = false;
  if (!haveTable || std::memcmp(&built, &matrix, sizeof matrix) != 0) {
    for (int in = 0; in < 3; ++in)
      for (int out = 0; out < 3; ++out)
        for (int v = 0; v < 256; ++v)
          table[in][out][v] = static_cast<int32_t>(std::lround(matrix.m[in][out] * v * (1 << kMatrixShift)));
    built = matrix;
    haveTable = true;
  }
  int32_t offset[3];
  for (int c = 0; c < 3; ++c)
    offset[c] = static_cast<int32_t>(std::lround(matrix.m[4][c] * 255 * (1 << kMatrixShift))) + (1 << (kMatrixShift - 1));
  // Every output channel the same weighted sum (a grey picture): three lookups a pixel.
  bool grey = offset[0] == offset[1] && offset[1] == offset[2];
  for (int in = 0; in < 3 && grey; ++in) grey = matrix.m[in][0] == matrix.m[in][1] && matrix.m[in][1] == matrix.m[in][2];
  for (int y = 0; y < src.height; ++y) {
    const uint32_t* s = src.pixels + static_cast<ptrdiff_t>(y) * src.stride;
    uint32_t* d = dst.pixels + static_cast<ptrdiff_t>(y) * dst.stride;
    if (grey) {
      int x = 0;
#if defined(__SSE2__)
      // The same sum with each weight rounded once instead of per value: within a step of the tables.
      const auto weight = [&](int in) {
        return static_cast<short>(std::lround(matrix.m[in][0] * (1 << kMatrixShift)));
      };
      const __m128i w = _mm_set_epi16(0, weight(0), weight(1), weight(2), 0, weight(0), weight(1), weight(2));
      const __m128i zero = _mm_setzero_si128(), off = _mm_set1_epi32(offset[0]);
      const __m128i opaque = _mm_set1_epi32(static_cast<int>(kOpaque));
      for (; x + 4 <= src.width; x += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
        // Per pixel two sums, blue and green, red and alpha (weight 0), then added.
        const __m128 lo = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpacklo_epi8(p, zero), w));
        const __m128 hi = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpackhi_epi8(p, zero), w));
        const __m128i sum = _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0))),
                                          _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1))));
        __m128i g = _mm_srai_epi32(_mm_add_epi32(sum, off), kMatrixShift);
        g = _mm_packs_epi32(g, g);
        g = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_packus_epi16(g, g), zero), zero);  // clamped to 0..255
        const __m128i grey = _mm_or_si128(_mm_or_si128(g, _mm_slli_epi32(g, 8)), _mm_slli_epi32(g, 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), _mm_or_si128(grey, opaque));
      }
#endif
      for (; x < src.width; ++x) {
        const uint32_t p = s[x];
        const int32_t v = (table[0][0][Channel(p, 0)] + table[1][0][Channel(p, 1)] + table[2][0][Channel(p, 2)] +
                           offset[0]) >> kMatrixShift;
        const uint32_t g = static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        d[x] = kOpaque | g * 0x010101u;
      }
      continue;
    }
    for (int x = 0; x < src.width; ++x) {
      const uint32_t p = s[x];
      const uint32_t r = Channel(p, 0), g = Channel(p, 1), b = Channel(p, 2);
      uint32_t o[3];
      for (int c = 0; c < 3; ++c) {
        const int32_t v = (table[0][c][r] + table[1][c][g] + table[2][c][b] + offset[c]) >> kMatrixShift;
        o[c] = static_cast<uint32_t>(std::clamp(v, 0, 255));
      }
      d[x] = Pack(o[0], o[1], o[2]);
    }
  }
}

void MirrorLeftHalf(const PixelView& src, const PixelView& dst) {
  const int w = src.width, half = (w + 1) / 2;
  for (int y = 0; y < src.height; ++y) {
    const uint32_t* s = src.pixels + static_cast<ptrdiff_t>(y) * src.stride;
    uint32_t* d = dst.pixels + static_cast<ptrdiff_t>(y) * dst.stride;
    std::memcpy(d, s, sizeof(uint32_t) * half);
    for (int x = half; x < w; ++x) d[x] = s[w - 1 - x];
  }
}

void SplitChannels(const PixelView& src, const PixelView& dst, int shift) {
  const int w = src.width;
  for (int y = 0; y < src.height; ++y) {
    const uint32_t* s = src.pixels + static_cast<ptrdiff_t>(y) * src.stride;
    uint32_t* d = dst.pixels + static_cast<ptrdiff_t>(y) * dst.stride;
    for (int x = 0; x < w; ++x) {
      const int xr = x + shift, xb = x - shift;
      const uint32_t r = xr >= 0 && xr < w ? Channel(s[xr], 0) : 0;
      const uint32_t b = xb >= 0 && xb < w ? Channel(s[xb], 2) : 0;
      d[x] = Pack(r, Channel(s[x], 1), b);
    }
  }
}

void AverageCells(const PixelView& src, int columns, int rows, std::vector<uint32_t>* cells) {
  cells->resize(static_cast<size_t>(columns) * rows);
  // The sample columns of every cell, worked out once: kCellSamples per cell, fewer for narrow ones.
  thread_local std::vector<int> xs, counts;
  xs.assign(static_cast<size_t>(columns) * kCellSamples, 0);
  counts.assign(static_cast<size_t>(columns), 0);
  for (int i = 0; i < columns; ++i) {
    const int x0 = static_cast<int>(static_cast<int64_t>(i) * src.width / columns);
    const int x1 = std::max(x0 + 1, static_cast<int>(static_cast<int64_t>(i + 1) * src.width / columns));
    const int nx = std::min(x1 - x0, kCellSamples);
    counts[i] = nx;
    // Samples spread evenly over the cell, each in the middle of its share.
    for (int k = 0; k < nx; ++k) xs[static_cast<size_t>(i) * kCellSamples + k] = x0 + ((2 * k + 1) * (x1 - x0)) / (2 * nx);
  }
  for (int j = 0; j < rows; ++j) {
    const int y0 = static_cast<int>(static_cast<int64_t>(j) * src.height / rows);
    const int y1 = std::max(y0 + 1, static_cast<int>(static_cast<int64_t>(j + 1) * src.height / rows));
    const int ny = std::min(y1 - y0, kCellSamples);
    const uint32_t* rowsOf[kCellSamples];
    for (int k = 0; k < ny; ++k)
      rowsOf[k] = src.pixels + static_cast<ptrdiff_t>(y0 + ((2 * k + 1) * (y1 - y0)) / (2 * ny)) * src.stride;
    for (int i = 0; i < columns; ++i) {
      const int nx = counts[i];
      const int* cx = &xs[static_cast<size_t>(i) * kCellSamples];
      uint32_t rb = 0, g = 0, r = 0;
      for (int k = 0; k < ny; ++k)
        for (int m = 0; m < nx; ++m) {
          const uint32_t p = rowsOf[k][cx[m]];
          r += (p >> 16) & 0xFF;
          g += (p >> 8) & 0xFF;
          rb += p & 0xFF;
        }
      const uint32_t n = static_cast<uint32_t>(nx * ny);
      (*cells)[static_cast<size_t>(j) * columns + i] = Pack((r + n / 2) / n, (g + n / 2) / n, (rb + n / 2) / n);
    }
  }
}

void BlurSmallCopy(const PixelView& src, int factor, float sigma, std::vector<uint32_t>* small,
                   std::vector<uint32_t>* scratch, int* smallWidth, int* smallHeight) {
  factor = std::max(1, factor);
  const int sw = (src.width + factor - 1) / factor, sh = (src.height + factor - 1) / factor;
  AverageCells(src, sw, sh, small);
  // Cells of AverageCells are W / sw wide, within a pixel of `factor`: close enough for a blur.
  scratch->resize(small->size());
  // Three passes of width w approximate a Gaussian when w = sqrt(12 sigma^2 / passes + 1).
  const float width = std::sqrt(12.0f * sigma * sigma / kBoxPasses + 1.0f);
  const int radius = std::max(0, static_cast<int>(std::lround((width - 1.0f) / 2.0f)));
  if (radius > 0) {
    thread_local std::vector<int32_t> work;
    for (int pass = 0; pass < kBoxPasses; ++pass) {
      for (int y = 0; y < sh; ++y)
        BoxLine(small->data() + static_cast<size_t>(y) * sw, scratch->data() + static_cast<size_t>(y) * sw, sw, 1,
                radius, &work);
      for (int x = 0; x < sw; ++x) BoxLine(scratch->data() + x, small->data() + x, sh, sw, radius, &work);
    }
  }
  *smallWidth = sw;
  *smallHeight = sh;
}

namespace {

// One source enlarged onto rows of a given width: each source row a dst row reads is widened
// once (the column taps and weights worked out once), and kept while the next dst rows read it;
// a dst row then mixes the two widened rows it lies between.
class Enlarger {
 public:
  // False when a scale is below 1 or not finite.
  bool Prepare(const PixelView& src, float scaleX, float scaleY, float dx, float dy, int width) {
    if (!(scaleX >= 1) || !(scaleY >= 1) || !std::isfinite(scaleX) || !std::isfinite(scaleY) ||
        !std::isfinite(dx) || !std::isfinite(dy) || src.width < 1 || src.height < 1 || width < 1)
      return false;
    src_ = src;
    scaleY_ = scaleY, dy_ = dy;
    width_ = width;
    columns_.resize(static_cast<size_t>(width));
    for (auto& w : widened_) w.resize(static_cast<size_t>(width));
    widenedRow_[0] = widenedRow_[1] = -1;
    // A dst pixel's centre maps back to source coordinates, whose pixel centres sit at i + 0.5.
    for (int x = 0; x < width; ++x) columns_[static_cast<size_t>(x)] = TapAt((x + 0.5f - dx) / scaleX - 0.5f, src.width);
#if defined(__SSE2__)
    // Per group of four pixels, each pixel's weight in its four 16-bit lanes: f0 x4 f1 x4, f2 x4 f3 x4.
    lanes_.resize(static_cast<size_t>(width / 4) * 2);
    for (int x = 0; x + 4 <= width; x += 4)
      for (int half = 0; half < 2; ++half) {
        const auto f0 = static_cast<short>(columns_[static_cast<size_t>(x + 2 * half)].f);
        const auto f1 = static_cast<short>(columns_[static_cast<size_t>(x + 2 * half + 1)].f);
        lanes_[static_cast<size_t>(x / 4 * 2 + half)].v = _mm_set_epi16(f1, f1, f1, f1, f0, f0, f0, f0);
      }
#endif
    return true;
  }

  // Row y: out = (sample x weight + under x keep) / 256 per colour channel, alpha 0xFF. under may
  // be out itself, or null when keep is 0.
  void Row(int y, uint32_t* out, uint32_t weight, const uint32_t* under, uint32_t keep) {
    const Tap row = TapAt((y + 0.5f - dy_) / scaleY_ - 0.5f, src_.height);
    const uint32_t* top = Widened(row.i0, row.i1);
    const uint32_t* bottom = row.f == 0 ? top : Widened(row.i1, row.i0);
    const uint32_t f = row.f;
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), fV = _mm_set1_epi16(static_cast<short>(f));
    const __m128i w = _mm_set1_epi16(static_cast<short>(weight)), k = _mm_set1_epi16(static_cast<short>(keep));
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(kOpaque));
    const bool mixes = keep != 0 || weight != 256;
    for (; x + 4 <= width_; x += 4) {
      __m128i lo, hi;
      MixUnpacked(_mm_loadu_si128(reinterpret_cast<const __m128i*>(top + x)),
                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + x)), fV, fV, &lo, &hi);
      if (mixes) {
        const __m128i d = keep != 0 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(under + x)) : zero;
        lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(lo, w), _mm_mullo_epi16(_mm_unpacklo_epi8(d, zero), k)), 8);
        hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(hi, w), _mm_mullo_epi16(_mm_unpackhi_epi8(d, zero), k)), 8);
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_or_si128(_mm_packus_epi16(lo, hi), opaque));
    }
#endif
    for (; x < width_; ++x) {
      const uint32_t p = MixPixels(top[x], bottom[x], f);
      const uint32_t d = keep != 0 ? under[x] : 0;
      out[x] = kOpaque | ((((p & 0xFF00FF) * weight + (d & 0xFF00FF) * keep) >> 8) & 0xFF00FF) |
               ((((p >> 8) & 0xFF00FF) * weight + ((d >> 8) & 0xFF00FF) * keep) & 0xFF00FF00);
    }
  }

 private:
  // Source row r widened to the dst width, made in the slot not holding row `keep`.
  const uint32_t* Widened(int r, int keep) {
    for (int i = 0; i < 2; ++i)
      if (widenedRow_[i] == r) return widened_[i].data();
    const int slot = widenedRow_[0] == keep ? 1 : 0;
    widenedRow_[slot] = r;
    uint32_t* out = widened_[slot].data();
    const uint32_t* m = src_.pixels + static_cast<ptrdiff_t>(r) * src_.stride;
    const Tap* cols = columns_.data();
    int x = 0;
#if defined(__SSE2__)
    const Lanes* lane = lanes_.data();
    for (; x + 4 <= width_; x += 4) {
      const Tap* t = cols + x;
      const __m128i a = _mm_set_epi32(static_cast<int>(m[t[3].i0]), static_cast<int>(m[t[2].i0]),
                                      static_cast<int>(m[t[1].i0]), static_cast<int>(m[t[0].i0]));
      const __m128i b = _mm_set_epi32(static_cast<int>(m[t[3].i1]), static_cast<int>(m[t[2].i1]),
                                      static_cast<int>(m[t[1].i1]), static_cast<int>(m[t[0].i1]));
      __m128i lo, hi;
      MixUnpacked(a, b, lane[x / 2].v, lane[x / 2 + 1].v, &lo, &hi);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; x < width_; ++x) out[x] = MixPixels(m[cols[x].i0], m[cols[x].i1], cols[x].f);
    return out;
  }

#if defined(__SSE2__)
  struct Lanes {
    __m128i v;
  };
  std::vector<Lanes> lanes_;
#endif
  PixelView src_;
  float scaleY_ = 1, dy_ = 0;
  int width_ = 0;
  std::vector<Tap> columns_;
  std::vector<uint32_t> widened_[2];  // two source rows widened to the dst width
  int widenedRow_[2] = {-1, -1};      // which
};

// Kept between calls: their memory is reused frame after frame.
thread_local Enlarger first, second;

}  // namespace

bool EnlargeInto(const PixelView& src, float scaleX, float scaleY, float dx, float dy, const PixelView& dst,
                 uint32_t weight, uint32_t keep) {
  if (weight + keep > 256 || !first.Prepare(src, scaleX, scaleY, dx, dy, dst.width)) return false;
  for (int y = 0; y < dst.height; ++y) {
    uint32_t* out = dst.pixels + static_cast<ptrdiff_t>(y) * dst.stride;
    first.Row(y, out, weight, out, keep);
  }
  return true;
}

bool EnlargeBothInto(const EnlargedPicture& a, const EnlargedPicture& b, const PixelView& dst) {
  if (a.weight + b.weight > 256 || !first.Prepare(a.src, a.scaleX, a.scaleY, a.dx, a.dy, dst.width) ||
      !second.Prepare(b.src, b.scaleX, b.scaleY, b.dx, b.dy, dst.width))
    return false;
  thread_local std::vector<uint32_t> row;
  row.resize(static_cast<size_t>(dst.width));
  for (int y = 0; y < dst.height; ++y) {
    second.Row(y, row.data(), 256, nullptr, 0);
    first.Row(y, dst.pixels + static_cast<ptrdiff_t>(y) * dst.stride, a.weight, row.data(), b.weight);
  }
  return true;
}
