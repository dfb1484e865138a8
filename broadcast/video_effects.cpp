#include "broadcast/video_effects.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;
// Fixed-point scale of the colour-matrix tables.
constexpr int kMatrixShift = 12;
constexpr int kBoxPasses = 3;

inline uint32_t Channel(uint32_t p, int c) { return (p >> (16 - 8 * c)) & 0xFF; }  // c: 0 R, 1 G, 2 B
inline uint32_t Pack(uint32_t r, uint32_t g, uint32_t b) { return kOpaque | r << 16 | g << 8 | b; }

// One box pass along a line of `n` words `step` apart: each output is the mean of the inputs within
// `radius`, the line's end pixels repeated beyond its ends.
void BoxLine(const uint32_t* in, uint32_t* out, int n, int step, int radius) {
  const int width = 2 * radius + 1;
  uint32_t sum[3] = {};
  auto at = [&](int i) { return in[static_cast<ptrdiff_t>(std::clamp(i, 0, n - 1)) * step]; };
  for (int i = -radius; i <= radius; ++i) {
    const uint32_t p = at(i);
    for (int c = 0; c < 3; ++c) sum[c] += Channel(p, c);
  }
  for (int i = 0; i < n; ++i) {
    out[static_cast<ptrdiff_t>(i) * step] = Pack(sum[0] / width, sum[1] / width, sum[2] / width);
    const uint32_t add = at(i + radius + 1), drop = at(i - radius);
    for (int c = 0; c < 3; ++c) sum[c] += Channel(add, c) - Channel(drop, c);
  }
}

}  // namespace

void ApplyColorMatrix(const ColorMatrix& matrix, const PixelView& src, const PixelView& dst) {
  // One table per (input channel, output channel): 9 lookups a pixel instead of 9 multiplies.
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
  for (int y = 0; y < src.height; ++y) {
    const uint32_t* s = src.pixels + static_cast<ptrdiff_t>(y) * src.stride;
    uint32_t* d = dst.pixels + static_cast<ptrdiff_t>(y) * dst.stride;
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
  for (int j = 0; j < rows; ++j) {
    const int y0 = static_cast<int>(static_cast<int64_t>(j) * src.height / rows);
    const int y1 = std::max(y0 + 1, static_cast<int>(static_cast<int64_t>(j + 1) * src.height / rows));
    for (int i = 0; i < columns; ++i) {
      const int x0 = static_cast<int>(static_cast<int64_t>(i) * src.width / columns);
      const int x1 = std::max(x0 + 1, static_cast<int>(static_cast<int64_t>(i + 1) * src.width / columns));
      uint64_t sum[3] = {};
      for (int y = y0; y < y1; ++y) {
        const uint32_t* s = src.pixels + static_cast<ptrdiff_t>(y) * src.stride;
        for (int x = x0; x < x1; ++x)
          for (int c = 0; c < 3; ++c) sum[c] += Channel(s[x], c);
      }
      const uint64_t n = static_cast<uint64_t>(x1 - x0) * (y1 - y0);
      (*cells)[static_cast<size_t>(j) * columns + i] =
          Pack(static_cast<uint32_t>((sum[0] + n / 2) / n), static_cast<uint32_t>((sum[1] + n / 2) / n),
               static_cast<uint32_t>((sum[2] + n / 2) / n));
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
    for (int pass = 0; pass < kBoxPasses; ++pass) {
      for (int y = 0; y < sh; ++y)
        BoxLine(small->data() + static_cast<size_t>(y) * sw, scratch->data() + static_cast<size_t>(y) * sw, sw, 1,
                radius);
      for (int x = 0; x < sw; ++x) BoxLine(scratch->data() + x, small->data() + x, sh, sw, radius);
    }
  }
  *smallWidth = sw;
  *smallHeight = sh;
}
