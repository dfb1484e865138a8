#pragma once
// 2D drawing and text over cairo and Pango: what the drawing layer expects of a Direct2D device
// context (image targets, solid and gradient brushes, shapes, transforms, aliased clips, bitmaps)
// and of DirectWrite (text formats, one-line layouts, measuring). Font family names are the
// program's own ("Segoe UI", "Bahnschrift", ...); assets/fonts.conf maps them to installed fonts.
// Every entry point refuses non-finite or negative geometry, so one bad value drops one shape and
// never puts the cairo context into its error state (which would blank the rest of the frame).
// UI thread only.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A 2 x 3 matrix in the Direct2D layout: x' = m11 x + m21 y + dx, y' = m12 x + m22 y + dy.
struct Affine {
  float m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;
  bool operator==(const Affine&) const = default;
};
// The transform that applies `first`, then `second`.
Affine Compose(const Affine& first, const Affine& second);
// Maps a point through the matrix.
void MapPoint(const Affine& m, float x, float y, float* outX, float* outY);

// A straight (not premultiplied) colour, each channel 0..1.
struct Rgba {
  float r = 0, g = 0, b = 0, a = 1;
};

// The pixels of a surface: rows of 32-bit premultiplied ARGB words (0xAARRGGBB in native byte
// order; cairo's ARGB32, SDL's ARGB8888). stride counts words per row.
struct PixelView {
  uint32_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
};

// A box of device pixels, [x0, x1) x [y0, y1).
struct PixelBox {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool Empty() const { return x1 <= x0 || y1 <= y0; }
  bool operator==(const PixelBox&) const = default;
};

struct GradientStop {
  float offset = 0;
  Rgba color;
};

// A gradient brush: its stops are fixed at creation; its geometry and opacity are set before each
// use, in the coordinates of the transform it is drawn under. Colours interpolate in sRGB (the
// Direct2D "gamma 2.2" mode) and the end colours extend past the ends (clamp).
class GradientBrush {
 public:
  enum class Kind { Linear, Radial };
  // count is clamped to 1..8 stops; offsets outside 0..1 are clamped.
  GradientBrush(Kind kind, const GradientStop* stops, int count);
  ~GradientBrush();
  GradientBrush(const GradientBrush&) = delete;
  GradientBrush& operator=(const GradientBrush&) = delete;

  Kind kind() const { return kind_; }
  // Unique per brush for the life of the process (an address may be reused).
  uint32_t id() const { return id_; }
  // Linear: the gradient runs from (x0, y0) at offset 0 to (x1, y1) at offset 1.
  void SetLinearPoints(float x0, float y0, float x1, float y1);
  // Radial: an ellipse of radii rx, ry around (cx, cy); offset 0 sits at the gradient origin,
  // (cx + originDx, cy + originDy), offset 1 on the ellipse.
  void SetRadial(float cx, float cy, float originDx, float originDy, float rx, float ry);
  // Multiplies every stop's alpha.
  void SetOpacity(float opacity);

  // The cairo pattern for the current geometry and opacity, or null when the geometry is unusable.
  void* Pattern();

  // What the brush holds: stops, the geometry as set (linear: x0, y0, x1, y1; radial: cx, cy,
  // origin dx, dy, rx, ry) and the opacity.
  const GradientStop* stops() const { return stops_; }
  int stopCount() const { return count_; }
  const float* geometry() const { return geometry_; }
  float opacity() const { return opacity_; }

 private:
  Kind kind_;
  uint32_t id_ = 0;
  GradientStop stops_[8];
  int count_ = 0;
  float geometry_[6] = {0, 0, 0, 0, 1, 1};
  float opacity_ = 1;
  float builtFocusX_ = 0, builtFocusY_ = 0, builtOpacity_ = -1;
  void* pattern_ = nullptr;
};

// A bitmap that can be drawn onto any surface: premultiplied ARGB pixels at 96 DPI.
class DrawBitmap {
 public:
  // Copies width x height premultiplied pixels (row pitch width x 4 bytes); null when a size is
  // below 1 or above 16384, or pixels is null.
  static std::unique_ptr<DrawBitmap> FromPixels(const uint32_t* pixels, int width, int height);
  // Copies new pixels of the same size into the bitmap, reusing its memory (a picture that changes
  // every frame); false and unchanged when the size differs or pixels is null.
  bool Replace(const uint32_t* pixels, int width, int height);
  ~DrawBitmap();
  DrawBitmap(const DrawBitmap&) = delete;
  DrawBitmap& operator=(const DrawBitmap&) = delete;
  int width() const { return width_; }
  int height() const { return height_; }
  void* Surface() const { return surface_; }

 private:
  DrawBitmap() = default;
  void* surface_ = nullptr;
  int width_ = 0, height_ = 0;
};

// Reads a PNG file into premultiplied ARGB pixels; false (and nothing written) when the file is
// missing or is not a PNG cairo can decode.
bool ReadPngPixels(const std::wstring& path, std::vector<uint32_t>* pixels, int* width, int* height);

// A text format: family, weight and size, like a DirectWrite text format without alignment.
class TextFormat {
 public:
  // size in DIPs; a non-finite or non-positive size becomes 1.
  TextFormat(std::string_view family, int weight, float size);
  ~TextFormat();
  TextFormat(const TextFormat&) = delete;
  TextFormat& operator=(const TextFormat&) = delete;
  float size() const { return size_; }
  uint32_t id() const { return id_; }
  void* Description() const { return description_; }

 private:
  void* description_ = nullptr;
  float size_ = 1;
  uint32_t id_ = 0;
};

struct TextExtent {
  float width = 0;   // logical width, trailing spaces included
  float height = 0;  // line height
};
// Lays the text out on one line (no wrapping) and measures it; {0, 0} for an empty text.
TextExtent MeasureTextLine(const TextFormat& format, std::string_view utf8);
// The family of the font that shows the first character of the text in this format, after the
// font aliases; empty when no font could be loaded.
std::string UsedFontFamily(const TextFormat& format, std::string_view utf8);
// True when the installed font that the family resolves to has a glyph for the code point.
bool FontHasGlyph(std::string_view family, char32_t codePoint);
// How many characters of the text no installed font could show, after the aliases and the
// fallback fonts: each is drawn as an empty box.
int MissingGlyphCount(const TextFormat& format, std::string_view utf8);

// Text layouts are cached by (format, text, cut width) and reused across frames. Called once per
// frame: layouts unused for about a second are freed, so texts that change every frame (clocks)
// cannot grow the cache.
void EvictIdleTextLayouts();
// How many layouts the cache holds now.
size_t CachedTextLayoutCount();

// Text lines drawn cut with an ellipsis (DrawTextLine) since the start or the last reset, and the
// first few of them (UTF-8), so that tests can tell which label did not fit.
uint64_t TextLinesCut();
const std::vector<std::string>& CutTextSamples();
void ResetTextLinesCut();

// Loads assets/fonts.conf into fontconfig before the first font is used. Called at start; the
// first text format calls it too. False with *error when the file is missing or invalid (text then
// falls back to the system's fonts).
bool LoadFontAliases(std::wstring* error = nullptr);
// The path of a file in the program's assets folder, found beside the program or up to three
// folders above it (a build folder inside the source tree); empty when there is none.
std::wstring FindAssetFile(std::wstring_view name);

enum class LineCap { Flat, Round };
enum class TextAlign { Leading, Center, Trailing };

// One image surface and its drawing context, like a Direct2D device context bound to a bitmap
// target. Coordinates are DIPs: the surface maps them to pixels with its DIP scale, after the
// current transform.
class DrawSurface {
 public:
  // A cleared (transparent) surface of pixelWidth x pixelHeight pixels; null when a size is below 1
  // or above 16384, the scale is not positive and finite, or cairo cannot make it.
  static std::unique_ptr<DrawSurface> Create(int pixelWidth, int pixelHeight, float dipScale);
  // The same over the caller's pixels (premultiplied ARGB words, `stride` words a row), which must
  // outlive the surface; drawing writes them directly, without a copy. Null as for Create, or when
  // pixels is null or the stride is shorter than a row.
  static std::unique_ptr<DrawSurface> Wrap(uint32_t* pixels, int pixelWidth, int pixelHeight, int stride,
                                           float dipScale);
  ~DrawSurface();
  DrawSurface(const DrawSurface&) = delete;
  DrawSurface& operator=(const DrawSurface&) = delete;

  int pixelWidth() const { return width_; }
  int pixelHeight() const { return height_; }
  float dipScale() const { return scale_; }
  // False once cairo reports an error for this context (it then draws nothing more).
  bool Ok() const;

  // Direct pixel access: Pixels() finishes pending drawing; after writing, MarkDirty tells cairo
  // which pixels changed.
  PixelView Pixels();
  void MarkDirty(int x, int y, int width, int height);

  // The current transform (DIP space). A non-finite or singular transform is kept but suppresses
  // all drawing until a usable one is set, as nothing drawn under it could be seen.
  void SetTransform(const Affine& transform);
  const Affine& transform() const { return transform_; }
  // The current transform followed by the DIP scale: user space to device pixels.
  const Affine& DeviceTransform() const { return device_; }

  // Aliased clip to the device-pixel bounds of a rectangle under the current transform, intersected
  // with the clip below it. Every push needs its pop; ResetClips drops them all.
  void PushClip(float x, float y, float width, float height);
  void PopClip();
  void ResetClips();
  int clipDepth() const { return static_cast<int>(clips_.size()); }
  // The current clip in device pixels, [x0, x1) x [y0, y1); the base clip when none is pushed.
  void DeviceClip(int* x0, int* y0, int* x1, int* y1) const {
    if (clips_.empty()) {
      *x0 = base_.x0, *y0 = base_.y0, *x1 = base_.x1, *y1 = base_.y1;
    } else {
      const Box& b = clips_.back();
      *x0 = b.x0, *y0 = b.y0, *x1 = b.x1, *y1 = b.y1;
    }
  }
  // The clip of the pushed rectangles alone, as if there were no base clip.
  PixelBox PushedClip() const;
  // A box that every later drawing call and Clear stay inside, whatever is pushed, until the next
  // SetBaseClip or ClearBaseClip: a part of a picture redrawn over what it held. Drops pushed clips.
  void SetBaseClip(const PixelBox& box);
  void ClearBaseClip();

  // Fills the surface inside the base clip (or a device-pixel box) with the colour, ignoring
  // transform and pushed clips.
  void Clear(Rgba color);
  void ClearBox(int x, int y, int width, int height);

  // The paint of the following shapes: a solid colour or a gradient brush (which must outlive it).
  void SetColor(Rgba color);
  void SetBrush(GradientBrush* brush);

  void FillRect(float x, float y, float width, float height);
  void FillRoundedRect(float x, float y, float width, float height, float radius);
  void StrokeRoundedRect(float x, float y, float width, float height, float radius, float strokeWidth);
  void FillEllipse(float cx, float cy, float rx, float ry);
  void StrokeEllipse(float cx, float cy, float rx, float ry, float strokeWidth);
  void StrokeLine(float x0, float y0, float x1, float y1, float strokeWidth, LineCap cap);
  // Angles in radians, cairo's convention (0 along +x, growing toward +y).
  void StrokeArc(float cx, float cy, float r, float startRad, float endRad, bool clockwise, float strokeWidth,
                 LineCap cap);
  // A closed polygon of `points` (x, y) pairs.
  void FillPolygon(const float* xy, int points);
  // A line through `points` (x, y) pairs (at least two), closed back to the first when asked;
  // mitred joins (cairo's limit of 10 bevels the sharp ones).
  void StrokePolyline(const float* xy, int points, bool closed, float strokeWidth);
  // `count` separate segments (x0, y0, x1, y1 each) stroked as one path: many short lines of one
  // paint cost one stroke. Where segments overlap, the paint is applied once.
  void StrokeSegments(const float* xyxy, int count, float strokeWidth, LineCap cap);

  // One line of text, vertically centred in the box, aligned horizontally, cut with an ellipsis
  // when wider than the box and clipped to it; drawn in the current colour.
  void DrawTextLine(const TextFormat& format, std::string_view utf8, float x, float y, float width, float height,
                    TextAlign align);

  // The bitmap stretched into the box with linear interpolation; with radius > 0 only inside the
  // rounded rectangle.
  void DrawBitmapIn(const DrawBitmap& bitmap, float x, float y, float width, float height, float opacity,
                    float radius);
  // The same for pixels the caller holds (premultiplied ARGB words, `stride` words per row), read
  // during the call and not copied. opaque: the alpha bytes are ignored (faster, every pixel counts
  // as opaque). nearest: nearest-neighbour sampling instead of linear.
  void DrawPixelsIn(const PixelView& source, bool opaque, float x, float y, float width, float height,
                    float opacity, float radius, bool nearest);

  // Fills the ellipse with the bitmap placed by `bitmapToUser` (bitmap pixels to user space: any
  // scale, mirror or turn), linear interpolation, the bitmap's edge pixels extended.
  void FillEllipseWithBitmap(const DrawBitmap& bitmap, const Affine& bitmapToUser, float cx, float cy, float rx,
                             float ry, float opacity);

  // Writes the surface as an RGBA PNG (WritePngFile: alpha kept, whole). False with *error on failure.
  bool WritePng(const std::wstring& path, std::wstring* error = nullptr);

 private:
  friend class TextBlock;  // draws its wrapped layouts with this surface's context and colour
  DrawSurface() = default;
  // Takes ownership of a created cairo image surface and readies its context.
  static std::unique_ptr<DrawSurface> Adopt(void* cairoSurface, int pixelWidth, int pixelHeight, float dipScale);
  bool Drawable() const;
  bool ApplySource();
  void ApplyClip();
  void FillPath();
  void StrokePath(float strokeWidth, LineCap cap);
  void RoundedRectPath(float x, float y, float width, float height, float radius);
  void PaintImageIn(void* image, int imageWidth, int imageHeight, float x, float y, float width, float height,
                    float opacity, float radius, bool nearest);

  void* surface_ = nullptr;
  void* cr_ = nullptr;
  int width_ = 0, height_ = 0;
  float scale_ = 1;
  Affine transform_;
  Affine device_;  // transform_ then the DIP scale, kept with it: every culled call reads it
  bool transformUsable_ = true;
  struct Box {
    int x0, y0, x1, y1;
    PixelBox pushed;  // the same without the base clip
  };
  std::vector<Box> clips_;
  PixelBox base_;  // the whole surface when no base clip is set
  Rgba color_;
  GradientBrush* brush_ = nullptr;
};
