#include "ui/kept_images.h"

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
constexpr size_t kMaxImages = 2048;
// Boxes larger than this many device pixels across are drawn directly.
constexpr float kMaxImageSide = 4096.0f;
constexpr int kMaxPad = 256;

// Everything that decides an image's pixels, apart from the whole device pixel its box starts on:
// the caller's key and the box's size, scale and place within a device pixel.
struct Geometry {
  float width = 0, height = 0, scale = 0, fracX = 0, fracY = 0;
  bool operator==(const Geometry& o) const {
    return width == o.width && height == o.height && scale == o.scale && fracX == o.fracX && fracY == o.fracY;
  }
};

struct KeptImage {
  Geometry geometry;
  std::string key;
  bool made = false;              // the image exists (from the second time it is drawn)
  std::vector<uint32_t> pixels;   // premultiplied, width x height; empty when it shows nothing
  int width = 0, height = 0;
  int left = 0, top = 0;          // the image's corner from the box's whole device pixel
  uint64_t lastUsed = 0;
};

std::unordered_map<uint64_t, KeptImage> Images;
uint64_t FrameCount = 1;
// While an image is made, what it draws is drawn directly: the cache is not touched under it.
bool Making = false;

// FNV-1a over the key and the geometry's bytes.
uint64_t HashOf(std::string_view key, const Geometry& g) {
  uint64_t h = 14695981039346656037ull;
  auto add = [&h](const void* data, size_t n) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
  };
  add(key.data(), key.size());
  const float numbers[] = {g.width, g.height, g.scale, g.fracX, g.fracY};
  add(numbers, sizeof numbers);
  return h;
}

void Sweep(uint64_t idleFrames) {
  for (auto it = Images.begin(); it != Images.end();) {
    if (FrameCount - it->second.lastUsed > idleFrames)
      it = Images.erase(it);
    else
      ++it;
  }
}

// Runs draw with the box at (pad + fracX, pad + fracY) of a transparent surface and keeps the
// part that holds something.
void MakeImage(KeptImage* image, float x, float y, int pad, KeptDraw draw, const void* context) {
  image->made = true;
  image->pixels.clear();
  const Geometry& g = image->geometry;
  const int w = static_cast<int>(std::ceil(g.scale * g.width + g.fracX)) + 2 * pad;
  const int h = static_cast<int>(std::ceil(g.scale * g.height + g.fracY)) + 2 * pad;
  std::unique_ptr<DrawSurface> surface = DrawSurface::Create(w, h, g.scale);
  if (!surface) return;
  surface->SetTransform(Affine{1, 0, 0, 1, (pad + g.fracX) / g.scale - x, (pad + g.fracY) / g.scale - y});
  Making = true;
  draw(*surface, context);
  Making = false;
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
  image->width = x1 - x0, image->height = y1 - y0;
  image->left = x0 - pad, image->top = y0 - pad;
  image->pixels.resize(static_cast<size_t>(image->width) * image->height);
  for (int row = y0; row < y1; ++row)
    std::memcpy(&image->pixels[static_cast<size_t>(row - y0) * image->width],
                v.pixels + static_cast<size_t>(row) * v.stride + x0, sizeof(uint32_t) * image->width);
}

std::string TextKey;  // scratch: a text line's key

}  // namespace

bool DrawKeptImage(DrawSurface& target, std::string_view key, float x, float y, float width, float height, int pad,
                   KeptDraw draw, const void* context) {
  const Affine d = target.DeviceTransform();
  if (Making || d.m12 != 0 || d.m21 != 0 || d.m11 != d.m22 || !(d.m11 > 0)) return false;
  const float bx = d.m11 * x + d.dx, by = d.m22 * y + d.dy;
  const float s = d.m11;
  if (!std::isfinite(bx) || !std::isfinite(by) || !std::isfinite(s * width) || !std::isfinite(s * height) ||
      std::fabs(bx) > 1e6f || std::fabs(by) > 1e6f || !(width > 0) || !(height > 0) || s * width > kMaxImageSide ||
      s * height > kMaxImageSide || pad < 0 || pad > kMaxPad)
    return false;
  const float ix = std::floor(bx), iy = std::floor(by);
  Geometry g;
  g.width = width, g.height = height, g.scale = s;
  g.fracX = bx - ix, g.fracY = by - iy;
  const uint64_t hash = HashOf(key, g);
  auto it = Images.find(hash);
  if (it == Images.end() || !(it->second.geometry == g) || it->second.key != key) {
    // Seen for the first time (or a rare hash clash): drawn directly, kept when it comes again.
    if (Images.size() >= kMaxImages) {
      Sweep(0);
      if (Images.size() >= kMaxImages) Images.clear();
    }
    KeptImage& image = Images[hash];
    image = KeptImage{};
    image.geometry = g;
    image.key.assign(key);
    image.lastUsed = FrameCount;
    return false;
  }
  KeptImage& image = it->second;
  image.lastUsed = FrameCount;
  if (!image.made) MakeImage(&image, x, y, pad, draw, context);
  if (!image.pixels.empty())
    BlendImagePixels(target, image.pixels.data(), image.width, image.height, static_cast<int>(ix) + image.left,
                     static_cast<int>(iy) + image.top);
  return true;
}

bool DrawKeptTextLine(DrawSurface& target, const TextFormat& format, std::string_view utf8, Rgba colour, float x,
                      float y, float width, float height, TextAlign align) {
  if (utf8.empty()) return false;
  struct Line {
    const TextFormat* format;
    std::string_view text;
    Rgba colour;
    float x, y, w, h;
    TextAlign align;
  } line{&format, utf8, colour, x, y, width, height, align};
  const uint32_t id = format.id();
  const int code = static_cast<int>(align);
  TextKey.assign(1, 'T');  // apart from other callers' keys
  TextKey.append(reinterpret_cast<const char*>(&id), sizeof id);
  TextKey.append(reinterpret_cast<const char*>(&colour), sizeof colour);
  TextKey.append(reinterpret_cast<const char*>(&code), sizeof code);
  TextKey.append(utf8);
  // Glyphs may reach beyond the box they are centred in (accents, descenders) unless clipped.
  const float scale = target.DeviceTransform().m11;
  const int pad = std::isfinite(scale * format.size()) && scale > 0
                      ? std::min(kMaxPad, static_cast<int>(std::ceil(scale * format.size())) + 2)
                      : 0;
  return DrawKeptImage(target, TextKey, x, y, width, height, pad, [](DrawSurface& onto, const void* context) {
    const Line& l = *static_cast<const Line*>(context);
    onto.SetColor(l.colour);
    onto.DrawTextLine(*l.format, l.text, l.x, l.y, l.w, l.h, l.align);
  }, &line);
}

void EvictIdleKeptImages() {
  ++FrameCount;
  if (FrameCount % kSweepEveryFrames == 0) Sweep(kIdleFrames);
}

void ForgetKeptImages() { Images.clear(); }

size_t KeptImageCount() { return Images.size(); }
