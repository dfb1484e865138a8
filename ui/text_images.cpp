#include "ui/text_images.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ui/draw_pixels.h"

namespace {

constexpr uint64_t kIdleFrames = 60;  // about a second of frames
constexpr uint64_t kSweepEveryFrames = 64;
// A screen full of changing text (a list scrolling) cannot grow the cache past this.
constexpr size_t kMaxLines = 2048;
// Lines whose box is larger than this many device pixels across are drawn directly.
constexpr float kMaxImageSide = 4096.0f;

// Everything that decides a line's pixels, apart from the whole device pixel its box starts on.
struct LineKey {
  uint32_t format = 0;
  Rgba colour;
  float width = 0, height = 0, scale = 0, fracX = 0, fracY = 0;
  TextAlign align = TextAlign::Leading;
  bool operator==(const LineKey& o) const {
    return format == o.format && colour.r == o.colour.r && colour.g == o.colour.g && colour.b == o.colour.b &&
           colour.a == o.colour.a && width == o.width && height == o.height && scale == o.scale &&
           fracX == o.fracX && fracY == o.fracY && align == o.align;
  }
};

struct KeptLine {
  LineKey key;
  std::string text;
  bool made = false;              // the image exists (from the second time the line is drawn)
  std::vector<uint32_t> pixels;   // premultiplied, width x height; empty when the line shows nothing
  int width = 0, height = 0;
  int left = 0, top = 0;          // the image's corner from the box's whole device pixel
  uint64_t lastUsed = 0;
};

std::unordered_map<uint64_t, KeptLine> Lines;
uint64_t FrameCount = 1;

// FNV-1a over the text and the key's bytes.
uint64_t HashOf(std::string_view text, const LineKey& key) {
  uint64_t h = 14695981039346656037ull;
  auto add = [&h](const void* data, size_t n) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
  };
  add(text.data(), text.size());
  const float numbers[] = {key.colour.r, key.colour.g, key.colour.b, key.colour.a, key.width,
                           key.height,   key.scale,    key.fracX,    key.fracY};
  add(numbers, sizeof numbers);
  add(&key.format, sizeof key.format);
  const int align = static_cast<int>(key.align);
  add(&align, sizeof align);
  return h;
}

void Sweep(uint64_t idleFrames) {
  for (auto it = Lines.begin(); it != Lines.end();) {
    if (FrameCount - it->second.lastUsed > idleFrames)
      it = Lines.erase(it);
    else
      ++it;
  }
}

// Rasterises the line with its box at (pad + fracX, pad + fracY) of a transparent surface and
// keeps the part that holds something.
void MakeImage(KeptLine* line, const TextFormat& format, std::string_view utf8, float x, float y) {
  line->made = true;
  line->pixels.clear();
  const LineKey& k = line->key;
  // Glyphs may reach beyond the box they are centred in (accents, descenders) unless clipped.
  const int pad = static_cast<int>(std::ceil(k.scale * format.size())) + 2;
  const int w = static_cast<int>(std::ceil(k.scale * k.width + k.fracX)) + 2 * pad;
  const int h = static_cast<int>(std::ceil(k.scale * k.height + k.fracY)) + 2 * pad;
  std::unique_ptr<DrawSurface> surface = DrawSurface::Create(w, h, k.scale);
  if (!surface) return;
  surface->SetTransform(Affine{1, 0, 0, 1, (pad + k.fracX) / k.scale - x, (pad + k.fracY) / k.scale - y});
  surface->SetColor(k.colour);
  surface->DrawTextLine(format, utf8, x, y, k.width, k.height, k.align);
  const PixelView v = surface->Pixels();
  if (!surface->Ok() || !v.pixels) return;
  int x0 = v.width, x1 = 0, y0 = v.height, y1 = 0;
  for (int row = 0; row < v.height; ++row) {
    const uint32_t* p = v.pixels + static_cast<size_t>(row) * v.stride;
    for (int col = 0; col < v.width; ++col) {
      if (!p[col]) continue;
      x0 = std::min(x0, col), x1 = std::max(x1, col + 1);
      y0 = std::min(y0, row), y1 = row + 1;
    }
  }
  if (x1 <= x0) return;
  line->width = x1 - x0, line->height = y1 - y0;
  line->left = x0 - pad, line->top = y0 - pad;
  line->pixels.resize(static_cast<size_t>(line->width) * line->height);
  for (int row = y0; row < y1; ++row)
    std::memcpy(&line->pixels[static_cast<size_t>(row - y0) * line->width],
                v.pixels + static_cast<size_t>(row) * v.stride + x0, sizeof(uint32_t) * line->width);
}

}  // namespace

bool DrawKeptTextLine(DrawSurface& target, const TextFormat& format, std::string_view utf8, Rgba colour, float x,
                      float y, float width, float height, TextAlign align) {
  const Affine d = target.DeviceTransform();
  if (d.m12 != 0 || d.m21 != 0 || d.m11 != d.m22 || !(d.m11 > 0)) return false;
  const float bx = d.m11 * x + d.dx, by = d.m22 * y + d.dy;
  const float s = d.m11;
  if (!std::isfinite(bx) || !std::isfinite(by) || !std::isfinite(s * width) || !std::isfinite(s * height) ||
      std::fabs(bx) > 1e6f || std::fabs(by) > 1e6f || !(width > 0) || !(height > 0) || s * width > kMaxImageSide ||
      s * height > kMaxImageSide || utf8.empty())
    return false;
  const float ix = std::floor(bx), iy = std::floor(by);
  LineKey key;
  key.format = format.id();
  key.colour = colour;
  key.width = width, key.height = height, key.scale = s;
  key.fracX = bx - ix, key.fracY = by - iy;
  key.align = align;
  const uint64_t hash = HashOf(utf8, key);
  auto it = Lines.find(hash);
  if (it == Lines.end() || !(it->second.key == key) || it->second.text != utf8) {
    // Seen for the first time (or a rare hash clash): drawn directly, kept when it comes again.
    if (Lines.size() >= kMaxLines) {
      Sweep(0);
      if (Lines.size() >= kMaxLines) Lines.clear();
    }
    KeptLine& line = Lines[hash];
    line = KeptLine{};
    line.key = key;
    line.text.assign(utf8);
    line.lastUsed = FrameCount;
    return false;
  }
  KeptLine& line = it->second;
  line.lastUsed = FrameCount;
  if (!line.made) MakeImage(&line, format, utf8, x, y);
  if (!line.pixels.empty())
    BlendImagePixels(target, line.pixels.data(), line.width, line.height, static_cast<int>(ix) + line.left,
                     static_cast<int>(iy) + line.top);
  return true;
}

void EvictIdleTextImages() {
  ++FrameCount;
  if (FrameCount % kSweepEveryFrames == 0) Sweep(kIdleFrames);
}

size_t KeptTextLineCount() { return Lines.size(); }
