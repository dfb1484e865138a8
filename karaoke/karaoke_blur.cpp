#include "karaoke/karaoke_blur.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kDeviationStep = 0.5f;  // pixels: deviations are cached to this step
// The copy is scaled down until the deviation left for it is about this many of its pixels.
constexpr float kDeviationPerCopyPixel = 1.5f;
constexpr int kBoxPasses = 3;

// Box widths (odd) whose three passes together come closest to the Gaussian's deviation.
void BoxRadii(float deviation, int radii[kBoxPasses]) {
  const double ideal = std::sqrt(12.0 * deviation * deviation / kBoxPasses + 1.0);
  int lower = static_cast<int>(std::floor(ideal));
  if (lower % 2 == 0) --lower;
  const int upper = lower + 2;
  const double m = (12.0 * deviation * deviation - kBoxPasses * lower * lower - 4.0 * kBoxPasses * lower -
                    3.0 * kBoxPasses) /
                   (-4.0 * lower - 4.0);
  const int smaller = static_cast<int>(std::lround(m));
  for (int i = 0; i < kBoxPasses; ++i) radii[i] = ((i < smaller ? lower : upper) - 1) / 2;
}

// One box pass along a line of `count` pixels `step` apart, from src into dst.
void BoxLine(const uint32_t* src, uint32_t* dst, int count, int step, int radius) {
  const int width = 2 * radius + 1;
  uint32_t sum[4] = {0, 0, 0, 0};
  const auto at = [&](int i) { return src[static_cast<ptrdiff_t>(std::clamp(i, 0, count - 1)) * step]; };
  for (int i = -radius; i <= radius; ++i) {
    const uint32_t p = at(i);
    for (int c = 0; c < 4; ++c) sum[c] += (p >> (8 * c)) & 0xFF;
  }
  for (int i = 0; i < count; ++i) {
    uint32_t out = 0;
    for (int c = 0; c < 4; ++c) out |= ((sum[c] + width / 2) / width) << (8 * c);
    dst[static_cast<ptrdiff_t>(i) * step] = out;
    const uint32_t in = at(i + radius + 1), gone = at(i - radius);
    for (int c = 0; c < 4; ++c) sum[c] += ((in >> (8 * c)) & 0xFF) - ((gone >> (8 * c)) & 0xFF);
  }
}

}  // namespace

void BoxBlurPixels(std::vector<uint32_t>* pixels, int width, int height, float deviation) {
  if (!(deviation >= 0.5f) || width < 1 || height < 1) return;
  int radii[kBoxPasses];
  BoxRadii(deviation, radii);
  std::vector<uint32_t> scratch(pixels->size());
  for (int pass = 0; pass < kBoxPasses; ++pass) {
    if (radii[pass] < 1) continue;
    for (int y = 0; y < height; ++y)
      BoxLine(pixels->data() + static_cast<size_t>(y) * width, scratch.data() + static_cast<size_t>(y) * width, width,
              1, radii[pass]);
    for (int x = 0; x < width; ++x) BoxLine(scratch.data() + x, pixels->data() + x, height, width, radii[pass]);
  }
}

const DrawBitmap* BlurredPicture(KaraokeDrawState& state, const PixelView& pixels, int64_t source, float deviation) {
  if (!pixels.pixels || pixels.width < 1 || pixels.height < 1 || !std::isfinite(deviation) || deviation <= 0)
    return nullptr;
  const int32_t step = static_cast<int32_t>(std::lround(deviation / kDeviationStep));
  if (state.blurred && state.blurredSource == source && state.blurredStep == step)
    return state.blurred.get();
  const float sigma = static_cast<float>(step) * kDeviationStep;
  const int factor = std::max(1, static_cast<int>(sigma / kDeviationPerCopyPixel));
  const int w = std::max(1, pixels.width / factor), h = std::max(1, pixels.height / factor);
  // The copy: each of its pixels the average of a factor x factor block (premultiplied, so the
  // average of colours is right).
  std::vector<uint32_t> copy(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint32_t sum[4] = {0, 0, 0, 0};
      int n = 0;
      for (int dy = 0; dy < factor; ++dy) {
        const int sy = std::min(y * factor + dy, pixels.height - 1);
        const uint32_t* row = pixels.pixels + static_cast<size_t>(sy) * pixels.stride;
        for (int dx = 0; dx < factor; ++dx) {
          const uint32_t p = row[std::min(x * factor + dx, pixels.width - 1)];
          for (int c = 0; c < 4; ++c) sum[c] += (p >> (8 * c)) & 0xFF;
          ++n;
        }
      }
      uint32_t out = 0;
      for (int c = 0; c < 4; ++c) out |= ((sum[c] + n / 2) / n) << (8 * c);
      copy[static_cast<size_t>(y) * w + x] = out;
    }
  }
  BoxBlurPixels(&copy, w, h, sigma / static_cast<float>(factor));
  state.blurred = DrawBitmap::FromPixels(copy.data(), w, h);
  state.blurredSource = source;
  state.blurredStep = step;
  return state.blurred.get();
}
