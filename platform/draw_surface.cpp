#include "platform/draw_surface.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <unordered_map>

#include "platform/draw_internal.h"
#include "platform/folders.h"
#include "platform/png_file.h"
#include "platform/text.h"

namespace {

// Coordinates beyond this (in DIPs or pixels) overflow cairo's 24.8 fixed-point paths.
constexpr float kMaxCoordinate = 4.0e6f;
// Transforms that shrink below this area factor draw nothing visible; cairo would still try.
constexpr double kMinDeterminant = 1e-9;
constexpr int kMaxSurfaceSide = 16384;
constexpr float kMaxTextSizeDip = 2000.0f;
// Direct2D's stroke defaults: miter joins limited to 10 x the half width.
constexpr double kMiterLimit = 10.0;

// A layout unused for this many frames (about a second at 15 ms) is freed at the next sweep.
constexpr uint64_t kLayoutIdleFrames = 60;
constexpr uint64_t kLayoutSweepEveryFrames = 30;
// Measuring without frames (tools, tests) must not grow the cache without bound either.
constexpr size_t kMaxCachedLayouts = 8192;

cairo_t* Cr(void* p) { return static_cast<cairo_t*>(p); }
cairo_surface_t* Surf(void* p) { return static_cast<cairo_surface_t*>(p); }
cairo_pattern_t* Pat(void* p) { return static_cast<cairo_pattern_t*>(p); }

bool Usable(float v) { return std::isfinite(v) && std::fabs(v) <= kMaxCoordinate; }
template <typename... T>
bool Usable(float v, T... rest) {
  return Usable(v) && Usable(rest...);
}
bool UsableSize(float v) { return Usable(v) && v >= 0; }
float Unit(float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f; }

cairo_matrix_t ToCairo(const Affine& m) {
  cairo_matrix_t c;
  cairo_matrix_init(&c, m.m11, m.m12, m.m21, m.m22, m.dx, m.dy);
  return c;
}

// ---- fonts ----------------------------------------------------------------------------------

bool FontAliasesTried = false;
bool FontAliasesLoaded = false;
std::wstring FontAliasError;

PangoFontMap* FontMap() {
  static PangoFontMap* map = [] {
    LoadFontAliases();
    return pango_cairo_font_map_new();
  }();
  return map;
}

PangoContext* TextContext() { return static_cast<PangoContext*>(SharedTextContext()); }

// ---- layout cache ---------------------------------------------------------------------------

struct LayoutEntry {
  PangoLayout* layout = nullptr;
  TextExtent extent;
  uint64_t lastUsed = 0;
};

struct KeyHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

std::unordered_map<std::string, LayoutEntry, KeyHash, std::equal_to<>> Layouts;
uint64_t LayoutFrame = 1;
std::string KeyScratch;

void FreeLayouts(bool (*drop)(const LayoutEntry&)) {
  for (auto it = Layouts.begin(); it != Layouts.end();) {
    if (drop(it->second)) {
      g_object_unref(it->second.layout);
      it = Layouts.erase(it);
    } else {
      ++it;
    }
  }
}

// Pango refuses text with NUL bytes; they become U+FFFD.
std::string_view CleanText(std::string_view utf8, std::string* scratch) {
  if (utf8.find('\0') == std::string_view::npos) return utf8;
  scratch->clear();
  for (char c : utf8) {
    if (c == '\0')
      scratch->append("\xEF\xBF\xBD");
    else
      scratch->push_back(c);
  }
  return *scratch;
}

// The cached layout of the text in the format; cut with an ellipsis at cutWidth DIPs when
// cutWidth >= 0.
const LayoutEntry& GetLayout(const TextFormat& format, std::string_view utf8, float cutWidth) {
  const int32_t cut = cutWidth >= 0 ? static_cast<int32_t>(std::lround(cutWidth * PANGO_SCALE)) : -1;
  const uint32_t id = format.id();
  KeyScratch.assign(reinterpret_cast<const char*>(&id), sizeof id);
  KeyScratch.append(reinterpret_cast<const char*>(&cut), sizeof cut);
  KeyScratch.append(utf8);
  if (auto it = Layouts.find(std::string_view(KeyScratch)); it != Layouts.end()) {
    it->second.lastUsed = LayoutFrame;
    return it->second;
  }
  if (Layouts.size() >= kMaxCachedLayouts) {
    FreeLayouts([](const LayoutEntry& e) { return e.lastUsed < LayoutFrame; });
    if (Layouts.size() >= kMaxCachedLayouts) FreeLayouts([](const LayoutEntry&) { return true; });
  }
  LayoutEntry entry;
  entry.layout = pango_layout_new(TextContext());
  pango_layout_set_font_description(entry.layout, static_cast<PangoFontDescription*>(format.Description()));
  pango_layout_set_single_paragraph_mode(entry.layout, TRUE);
  std::string clean_scratch;
  std::string_view clean = CleanText(utf8, &clean_scratch);
  pango_layout_set_text(entry.layout, clean.data(), static_cast<int>(clean.size()));
  if (cut >= 0) {
    pango_layout_set_width(entry.layout, cut);
    pango_layout_set_ellipsize(entry.layout, PANGO_ELLIPSIZE_END);
  }
  PangoRectangle logical;
  pango_layout_get_extents(entry.layout, nullptr, &logical);
  entry.extent.width = static_cast<float>(logical.width) / PANGO_SCALE;
  entry.extent.height = static_cast<float>(logical.height) / PANGO_SCALE;
  entry.lastUsed = LayoutFrame;
  return Layouts.emplace(KeyScratch, entry).first->second;
}

uint32_t NextTextFormatId = 1;

constexpr size_t kMaxCutSamples = 32;
uint64_t CutTexts = 0;
std::vector<std::string> CutSamples;

void NoteCutText(std::string_view utf8) {
  ++CutTexts;
  if (CutSamples.size() < kMaxCutSamples) CutSamples.emplace_back(utf8);
}
uint32_t NextGradientBrushId = 1;

}  // namespace

uint64_t TextLinesCut() { return CutTexts; }
const std::vector<std::string>& CutTextSamples() { return CutSamples; }
void ResetTextLinesCut() {
  CutTexts = 0;
  CutSamples.clear();
}

void* SharedTextContext() {
  static PangoContext* context = [] {
    PangoContext* c = pango_font_map_create_context(FontMap());
    cairo_font_options_t* options = cairo_font_options_create();
    // Greyscale antialiasing, the same on every screen; metrics unhinted so that a layout measured
    // once stays right under any scale (the glow pass draws at half size).
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(c, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(c, FALSE);
    pango_context_set_language(c, pango_language_from_string("en-us"));
    return c;
  }();
  return context;
}

// ---- geometry -------------------------------------------------------------------------------

Affine Compose(const Affine& a, const Affine& b) {
  return Affine{a.m11 * b.m11 + a.m12 * b.m21,         a.m11 * b.m12 + a.m12 * b.m22,
                a.m21 * b.m11 + a.m22 * b.m21,         a.m21 * b.m12 + a.m22 * b.m22,
                a.dx * b.m11 + a.dy * b.m21 + b.dx,    a.dx * b.m12 + a.dy * b.m22 + b.dy};
}

void MapPoint(const Affine& m, float x, float y, float* outX, float* outY) {
  *outX = m.m11 * x + m.m21 * y + m.dx;
  *outY = m.m12 * x + m.m22 * y + m.dy;
}

// ---- fonts ----------------------------------------------------------------------------------

std::wstring FindAssetFile(std::wstring_view name) {
  constexpr int kFoldersUp = 3;
  std::wstring folder = ProgramFolder();
  for (int up = 0; up <= kFoldersUp && !folder.empty(); ++up) {
    std::wstring candidate = JoinPath(JoinPath(folder, L"assets"), std::wstring(name));
    if (FileExists(candidate)) return candidate;
    size_t slash = folder.find_last_of(L'/');
    if (slash == std::wstring::npos || slash == 0) break;
    folder.resize(slash);
  }
  return {};
}

bool LoadFontAliases(std::wstring* error) {
  if (!FontAliasesTried) {
    FontAliasesTried = true;
    std::wstring path = FindAssetFile(L"fonts.conf");
    if (path.empty()) {
      FontAliasError = L"The font aliases (assets/fonts.conf) were not found beside the program.";
    } else {
      FcConfig* config = FcInitLoadConfigAndFonts();
      if (config && FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(PathToBytes(path).c_str()), FcTrue)) {
        FcConfigSetCurrent(config);
        FontAliasesLoaded = true;
      } else {
        FontAliasError = L"The font aliases in " + path + L" could not be read.";
      }
      if (config) FcConfigDestroy(config);
    }
  }
  if (!FontAliasesLoaded && error) *error = FontAliasError;
  return FontAliasesLoaded;
}

TextFormat::TextFormat(std::string_view family, int weight, float size) {
  size_ = (std::isfinite(size) && size > 0) ? std::min(size, kMaxTextSizeDip) : 1.0f;
  PangoFontDescription* d = pango_font_description_new();
  std::string family_name(family);
  pango_font_description_set_family(d, family_name.c_str());
  pango_font_description_set_weight(d, static_cast<PangoWeight>(std::clamp(weight, 100, 1000)));
  pango_font_description_set_style(d, PANGO_STYLE_NORMAL);
  pango_font_description_set_stretch(d, PANGO_STRETCH_NORMAL);
  pango_font_description_set_absolute_size(d, static_cast<double>(size_) * PANGO_SCALE);
  description_ = d;
  id_ = NextTextFormatId++;
  FontMap();  // the aliases must be in place before the first layout
}

TextFormat::~TextFormat() { pango_font_description_free(static_cast<PangoFontDescription*>(description_)); }

TextExtent MeasureTextLine(const TextFormat& format, std::string_view utf8) {
  if (utf8.empty()) return {};
  return GetLayout(format, utf8, -1).extent;
}

std::string UsedFontFamily(const TextFormat& format, std::string_view utf8) {
  if (utf8.empty()) return {};
  PangoLayoutLine* line = pango_layout_get_line_readonly(GetLayout(format, utf8, -1).layout, 0);
  if (!line || !line->runs) return {};
  auto* run = static_cast<PangoGlyphItem*>(line->runs->data);
  if (!run || !run->item || !run->item->analysis.font) return {};
  PangoFontDescription* d = pango_font_describe(run->item->analysis.font);
  std::string family = pango_font_description_get_family(d) ? pango_font_description_get_family(d) : "";
  pango_font_description_free(d);
  return family;
}

bool FontHasGlyph(std::string_view family, char32_t codePoint) {
  TextFormat format(family, 400, 12);
  PangoFont* font = pango_font_map_load_font(FontMap(), TextContext(),
                                             static_cast<PangoFontDescription*>(format.Description()));
  if (!font) return false;
  bool has = pango_font_has_char(font, static_cast<gunichar>(codePoint));
  g_object_unref(font);
  return has;
}

int MissingGlyphCount(const TextFormat& format, std::string_view utf8) {
  if (utf8.empty()) return 0;
  return pango_layout_get_unknown_glyphs_count(GetLayout(format, utf8, -1).layout);
}

void EvictIdleTextLayouts() {
  ++LayoutFrame;
  if (LayoutFrame % kLayoutSweepEveryFrames == 0)
    FreeLayouts([](const LayoutEntry& e) { return LayoutFrame - e.lastUsed > kLayoutIdleFrames; });
}

size_t CachedTextLayoutCount() { return Layouts.size(); }

// ---- gradient brushes -----------------------------------------------------------------------

GradientBrush::GradientBrush(Kind kind, const GradientStop* stops, int count) : kind_(kind), id_(NextGradientBrushId++) {
  count_ = std::clamp(count, 1, 8);
  for (int i = 0; i < count_; ++i) {
    stops_[i] = stops ? stops[i] : GradientStop{};
    stops_[i].offset = Unit(stops_[i].offset);
  }
}

GradientBrush::~GradientBrush() {
  if (pattern_) cairo_pattern_destroy(Pat(pattern_));
}

void GradientBrush::SetLinearPoints(float x0, float y0, float x1, float y1) {
  geometry_[0] = x0, geometry_[1] = y0, geometry_[2] = x1, geometry_[3] = y1;
}

void GradientBrush::SetRadial(float cx, float cy, float originDx, float originDy, float rx, float ry) {
  geometry_[0] = cx, geometry_[1] = cy, geometry_[2] = originDx, geometry_[3] = originDy;
  geometry_[4] = rx, geometry_[5] = ry;
}

void GradientBrush::SetOpacity(float opacity) { opacity_ = Unit(opacity); }

void* GradientBrush::Pattern() {
  const float* g = geometry_;
  float focus_x = 0, focus_y = 0;
  cairo_matrix_t to_user;  // pattern space to user space
  if (kind_ == Kind::Linear) {
    if (!Usable(g[0], g[1], g[2], g[3])) return nullptr;
    const double dx = g[2] - g[0], dy = g[3] - g[1];
    if (dx * dx + dy * dy < 1e-12) return nullptr;
    cairo_matrix_init(&to_user, dx, dy, -dy, dx, g[0], g[1]);
  } else {
    if (!Usable(g[0], g[1], g[2], g[3], g[4], g[5]) || g[4] <= 1e-6f || g[5] <= 1e-6f) return nullptr;
    focus_x = g[2] / g[4];
    focus_y = g[3] / g[5];
    // cairo draws a cone for a focus outside the end circle; Direct2D keeps it just inside.
    constexpr float kMaxFocus = 0.999f;
    const float len = std::hypot(focus_x, focus_y);
    if (len > kMaxFocus) focus_x *= kMaxFocus / len, focus_y *= kMaxFocus / len;
    cairo_matrix_init(&to_user, g[4], 0, 0, g[5], g[0], g[1]);
  }
  const bool rebuild = !pattern_ || builtOpacity_ != opacity_ || builtFocusX_ != focus_x || builtFocusY_ != focus_y;
  if (rebuild) {
    if (pattern_) cairo_pattern_destroy(Pat(pattern_));
    cairo_pattern_t* p = kind_ == Kind::Linear ? cairo_pattern_create_linear(0, 0, 1, 0)
                                               : cairo_pattern_create_radial(focus_x, focus_y, 0, 0, 0, 1);
    for (int i = 0; i < count_; ++i) {
      const Rgba& c = stops_[i].color;
      cairo_pattern_add_color_stop_rgba(p, stops_[i].offset, Unit(c.r), Unit(c.g), Unit(c.b), Unit(c.a) * opacity_);
    }
    cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
    pattern_ = p;
    builtOpacity_ = opacity_, builtFocusX_ = focus_x, builtFocusY_ = focus_y;
  }
  if (cairo_matrix_invert(&to_user) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_pattern_set_matrix(Pat(pattern_), &to_user);
  return pattern_;
}

// ---- bitmaps --------------------------------------------------------------------------------

std::unique_ptr<DrawBitmap> DrawBitmap::FromPixels(const uint32_t* pixels, int width, int height) {
  if (!pixels || width < 1 || height < 1 || width > kMaxSurfaceSide || height > kMaxSurfaceSide) return nullptr;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  std::unique_ptr<DrawBitmap> bitmap(new DrawBitmap());
  bitmap->surface_ = s;
  bitmap->width_ = width;
  bitmap->height_ = height;
  bitmap->Replace(pixels, width, height);
  return bitmap;
}

bool DrawBitmap::Replace(const uint32_t* pixels, int width, int height) {
  if (!pixels || !surface_ || width != width_ || height != height_) return false;
  cairo_surface_t* s = Surf(surface_);
  cairo_surface_flush(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < height; ++y)
    std::memcpy(data + static_cast<size_t>(y) * stride, pixels + static_cast<size_t>(y) * width, width * 4u);
  cairo_surface_mark_dirty(s);
  return true;
}

DrawBitmap::~DrawBitmap() {
  if (surface_) cairo_surface_destroy(Surf(surface_));
}

bool ReadPngPixels(const std::wstring& path, std::vector<uint32_t>* pixels, int* width, int* height) {
  cairo_surface_t* png = cairo_image_surface_create_from_png(PathToBytes(path).c_str());
  bool ok = cairo_surface_status(png) == CAIRO_STATUS_SUCCESS;
  if (ok) {
    const int w = cairo_image_surface_get_width(png), h = cairo_image_surface_get_height(png);
    // Draw onto ARGB32 so that RGB24 and A8 files come out in the one pixel format.
    cairo_surface_t* argb = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(argb);
    cairo_set_source_surface(cr, png, 0, 0);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(argb);
    ok = cairo_surface_status(argb) == CAIRO_STATUS_SUCCESS && w > 0 && h > 0;
    if (ok) {
      pixels->resize(static_cast<size_t>(w) * h);
      const unsigned char* data = cairo_image_surface_get_data(argb);
      const int stride = cairo_image_surface_get_stride(argb);
      for (int y = 0; y < h; ++y)
        std::memcpy(pixels->data() + static_cast<size_t>(y) * w, data + static_cast<size_t>(y) * stride, w * 4u);
      *width = w;
      *height = h;
    }
    cairo_surface_destroy(argb);
  }
  cairo_surface_destroy(png);
  return ok;
}

// ---- surfaces -------------------------------------------------------------------------------

std::unique_ptr<DrawSurface> DrawSurface::Adopt(void* cairoSurface, int pixelWidth, int pixelHeight,
                                                float dipScale) {
  std::unique_ptr<DrawSurface> d(new DrawSurface());
  d->surface_ = cairoSurface;
  d->cr_ = cairo_create(Surf(cairoSurface));
  d->width_ = pixelWidth;
  d->height_ = pixelHeight;
  d->scale_ = dipScale;
  d->clips_.reserve(16);
  d->base_ = PixelBox{0, 0, pixelWidth, pixelHeight};
  cairo_set_miter_limit(Cr(d->cr_), kMiterLimit);
  d->SetTransform(Affine{});
  return d;
}

std::unique_ptr<DrawSurface> DrawSurface::Create(int pixelWidth, int pixelHeight, float dipScale) {
  if (pixelWidth < 1 || pixelHeight < 1 || pixelWidth > kMaxSurfaceSide || pixelHeight > kMaxSurfaceSide ||
      !std::isfinite(dipScale) || dipScale <= 0)
    return nullptr;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixelWidth, pixelHeight);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  return Adopt(s, pixelWidth, pixelHeight, dipScale);
}

std::unique_ptr<DrawSurface> DrawSurface::Wrap(uint32_t* pixels, int pixelWidth, int pixelHeight, int stride,
                                               float dipScale) {
  if (!pixels || pixelWidth < 1 || pixelHeight < 1 || pixelWidth > kMaxSurfaceSide || pixelHeight > kMaxSurfaceSide ||
      stride < pixelWidth || !std::isfinite(dipScale) || dipScale <= 0)
    return nullptr;
  cairo_surface_t* s = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels),
                                                           CAIRO_FORMAT_ARGB32, pixelWidth, pixelHeight, stride * 4);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  return Adopt(s, pixelWidth, pixelHeight, dipScale);
}

DrawSurface::~DrawSurface() {
  if (cr_) cairo_destroy(Cr(cr_));
  if (surface_) cairo_surface_destroy(Surf(surface_));
}

bool DrawSurface::Ok() const {
  return cairo_status(Cr(cr_)) == CAIRO_STATUS_SUCCESS && cairo_surface_status(Surf(surface_)) == CAIRO_STATUS_SUCCESS;
}

PixelView DrawSurface::Pixels() {
  cairo_surface_flush(Surf(surface_));
  PixelView v;
  v.pixels = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(Surf(surface_)));
  v.width = width_;
  v.height = height_;
  v.stride = cairo_image_surface_get_stride(Surf(surface_)) / 4;
  return v;
}

void DrawSurface::MarkDirty(int x, int y, int width, int height) {
  const int x0 = std::clamp(x, 0, width_), y0 = std::clamp(y, 0, height_);
  const int x1 = std::clamp(x + std::max(width, 0), 0, width_), y1 = std::clamp(y + std::max(height, 0), 0, height_);
  if (x1 > x0 && y1 > y0) cairo_surface_mark_dirty_rectangle(Surf(surface_), x0, y0, x1 - x0, y1 - y0);
}

void DrawSurface::SetTransform(const Affine& t) {
  transform_ = t;
  device_ = Compose(transform_, Affine{scale_, 0, 0, scale_, 0, 0});
  const Affine& d = device_;
  const double det = static_cast<double>(d.m11) * d.m22 - static_cast<double>(d.m12) * d.m21;
  transformUsable_ = Usable(t.m11, t.m12, t.m21, t.m22, t.dx, t.dy) && std::fabs(det) >= kMinDeterminant;
  if (!transformUsable_) return;
  cairo_matrix_t m = ToCairo(d);
  cairo_set_matrix(Cr(cr_), &m);
}

void DrawSurface::PushClip(float x, float y, float width, float height) {
  Box box{0, 0, 0, 0, {}};
  if (transformUsable_ && Usable(x, y) && UsableSize(width) && UsableSize(height)) {
    const Affine d = DeviceTransform();
    float xs[4], ys[4];
    MapPoint(d, x, y, &xs[0], &ys[0]);
    MapPoint(d, x + width, y, &xs[1], &ys[1]);
    MapPoint(d, x, y + height, &xs[2], &ys[2]);
    MapPoint(d, x + width, y + height, &xs[3], &ys[3]);
    // Aliased: a pixel belongs to the clip when its centre lies inside.
    auto first = [](float v) { return static_cast<int>(std::ceil(v - 0.5f)); };
    box.x0 = first(*std::min_element(xs, xs + 4));
    box.x1 = first(*std::max_element(xs, xs + 4));
    box.y0 = first(*std::min_element(ys, ys + 4));
    box.y1 = first(*std::max_element(ys, ys + 4));
  }
  const PixelBox under = PushedClip();
  box.pushed = PixelBox{std::clamp(box.x0, under.x0, under.x1), std::clamp(box.y0, under.y0, under.y1),
                        std::clamp(box.x1, under.x0, under.x1), std::clamp(box.y1, under.y0, under.y1)};
  int x0, y0, x1, y1;
  DeviceClip(&x0, &y0, &x1, &y1);
  box.x0 = std::clamp(box.x0, x0, x1), box.x1 = std::clamp(box.x1, x0, x1);
  box.y0 = std::clamp(box.y0, y0, y1), box.y1 = std::clamp(box.y1, y0, y1);
  clips_.push_back(box);
  ApplyClip();
}

void DrawSurface::PopClip() {
  if (clips_.empty()) return;
  clips_.pop_back();
  ApplyClip();
}

void DrawSurface::ResetClips() {
  clips_.clear();
  ApplyClip();
}

PixelBox DrawSurface::PushedClip() const {
  return clips_.empty() ? PixelBox{0, 0, width_, height_} : clips_.back().pushed;
}

void DrawSurface::SetBaseClip(const PixelBox& box) {
  base_ = PixelBox{std::clamp(box.x0, 0, width_), std::clamp(box.y0, 0, height_), std::clamp(box.x1, 0, width_),
                   std::clamp(box.y1, 0, height_)};
  base_.x1 = std::max(base_.x1, base_.x0), base_.y1 = std::max(base_.y1, base_.y0);
  ResetClips();
}

void DrawSurface::ClearBaseClip() { SetBaseClip(PixelBox{0, 0, width_, height_}); }

void DrawSurface::ApplyClip() {
  cairo_t* cr = Cr(cr_);
  cairo_reset_clip(cr);
  int x0, y0, x1, y1;
  DeviceClip(&x0, &y0, &x1, &y1);
  if (clips_.empty() && base_ == PixelBox{0, 0, width_, height_}) return;
  cairo_identity_matrix(cr);
  cairo_new_path(cr);
  cairo_rectangle(cr, x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0));
  cairo_clip(cr);
  SetTransform(transform_);
}

bool DrawSurface::Drawable() const {
  if (!transformUsable_) return false;
  int x0, y0, x1, y1;
  DeviceClip(&x0, &y0, &x1, &y1);
  return x1 > x0 && y1 > y0;
}

void DrawSurface::Clear(Rgba c) {
  cairo_t* cr = Cr(cr_);
  cairo_save(cr);
  cairo_reset_clip(cr);
  cairo_identity_matrix(cr);
  if (!(base_ == PixelBox{0, 0, width_, height_})) {
    cairo_rectangle(cr, base_.x0, base_.y0, base_.x1 - base_.x0, base_.y1 - base_.y0);
    cairo_clip(cr);
  }
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_rgba(cr, Unit(c.r), Unit(c.g), Unit(c.b), Unit(c.a));
  cairo_paint(cr);
  cairo_restore(cr);
}

void DrawSurface::ClearBox(int x, int y, int width, int height) {
  PixelView v = Pixels();
  const int x0 = std::clamp(x, 0, width_), x1 = std::clamp(x + std::max(width, 0), 0, width_);
  const int y0 = std::clamp(y, 0, height_), y1 = std::clamp(y + std::max(height, 0), 0, height_);
  if (x1 <= x0) return;
  for (int row = y0; row < y1; ++row) std::memset(v.pixels + static_cast<size_t>(row) * v.stride + x0, 0, (x1 - x0) * 4u);
  MarkDirty(x0, y0, x1 - x0, y1 - y0);
}

void DrawSurface::SetColor(Rgba c) {
  color_ = c;
  brush_ = nullptr;
}

void DrawSurface::SetBrush(GradientBrush* brush) { brush_ = brush; }

bool DrawSurface::ApplySource() {
  cairo_t* cr = Cr(cr_);
  if (brush_) {
    void* pattern = brush_->Pattern();
    if (!pattern) return false;
    cairo_set_source(cr, Pat(pattern));
  } else {
    if (Unit(color_.a) <= 0) return false;
    cairo_set_source_rgba(cr, Unit(color_.r), Unit(color_.g), Unit(color_.b), Unit(color_.a));
  }
  return true;
}

void DrawSurface::FillPath() {
  cairo_t* cr = Cr(cr_);
  if (ApplySource())
    cairo_fill(cr);
  else
    cairo_new_path(cr);
}

void DrawSurface::StrokePath(float strokeWidth, LineCap cap) {
  cairo_t* cr = Cr(cr_);
  if (!ApplySource()) {
    cairo_new_path(cr);
    return;
  }
  cairo_set_line_width(cr, strokeWidth);
  cairo_set_line_cap(cr, cap == LineCap::Round ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
  cairo_stroke(cr);
}

void DrawSurface::RoundedRectPath(float x, float y, float w, float h, float radius) {
  cairo_t* cr = Cr(cr_);
  cairo_new_path(cr);
  // Direct2D limits the corner radius to half the rectangle's side.
  const double r = std::clamp(static_cast<double>(radius), 0.0, std::min(w, h) / 2.0);
  if (r <= 0) {
    cairo_rectangle(cr, x, y, w, h);
    return;
  }
  constexpr double kQuarter = M_PI / 2;
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -kQuarter, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, kQuarter);
  cairo_arc(cr, x + r, y + h - r, r, kQuarter, 2 * kQuarter);
  cairo_arc(cr, x + r, y + r, r, 2 * kQuarter, 3 * kQuarter);
  cairo_close_path(cr);
}

void DrawSurface::FillRect(float x, float y, float w, float h) {
  if (!Drawable() || !Usable(x, y) || !UsableSize(w) || !UsableSize(h) || w == 0 || h == 0) return;
  cairo_new_path(Cr(cr_));
  cairo_rectangle(Cr(cr_), x, y, w, h);
  FillPath();
}

void DrawSurface::FillRoundedRect(float x, float y, float w, float h, float radius) {
  if (!Drawable() || !Usable(x, y, radius) || !UsableSize(w) || !UsableSize(h) || w == 0 || h == 0) return;
  RoundedRectPath(x, y, w, h, radius);
  FillPath();
}

void DrawSurface::StrokeRoundedRect(float x, float y, float w, float h, float radius, float strokeWidth) {
  if (!Drawable() || !Usable(x, y, radius) || !UsableSize(w) || !UsableSize(h) || !UsableSize(strokeWidth) ||
      strokeWidth == 0)
    return;
  RoundedRectPath(x, y, w, h, radius);
  StrokePath(strokeWidth, LineCap::Flat);
}

void DrawSurface::FillEllipse(float cx, float cy, float rx, float ry) {
  if (!Drawable() || !Usable(cx, cy) || !UsableSize(rx) || !UsableSize(ry) || rx == 0 || ry == 0) return;
  cairo_t* cr = Cr(cr_);
  cairo_new_path(cr);
  if (rx == ry) {
    cairo_arc(cr, cx, cy, rx, 0, 2 * M_PI);
  } else {
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_restore(cr);
  }
  cairo_close_path(cr);
  FillPath();
}

void DrawSurface::StrokeEllipse(float cx, float cy, float rx, float ry, float strokeWidth) {
  if (!Drawable() || !Usable(cx, cy) || !UsableSize(rx) || !UsableSize(ry) || !UsableSize(strokeWidth) ||
      strokeWidth == 0)
    return;
  cairo_t* cr = Cr(cr_);
  cairo_new_path(cr);
  if (rx == ry) {
    cairo_arc(cr, cx, cy, rx, 0, 2 * M_PI);
  } else if (rx > 0 && ry > 0) {
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_restore(cr);
  } else {
    cairo_rectangle(cr, cx - rx, cy - ry, 2 * rx, 2 * ry);  // a flat ellipse outlines as a line
  }
  cairo_close_path(cr);
  StrokePath(strokeWidth, LineCap::Flat);
}

void DrawSurface::StrokeLine(float x0, float y0, float x1, float y1, float strokeWidth, LineCap cap) {
  if (!Drawable() || !Usable(x0, y0, x1, y1) || !UsableSize(strokeWidth) || strokeWidth == 0) return;
  cairo_t* cr = Cr(cr_);
  cairo_new_path(cr);
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  StrokePath(strokeWidth, cap);
}

void DrawSurface::StrokeArc(float cx, float cy, float r, float startRad, float endRad, bool clockwise,
                            float strokeWidth, LineCap cap) {
  if (!Drawable() || !Usable(cx, cy, startRad, endRad) || !UsableSize(r) || !UsableSize(strokeWidth) ||
      strokeWidth == 0 || r == 0)
    return;
  cairo_t* cr = Cr(cr_);
  cairo_new_path(cr);
  if (clockwise)
    cairo_arc(cr, cx, cy, r, startRad, endRad);
  else
    cairo_arc_negative(cr, cx, cy, r, startRad, endRad);
  StrokePath(strokeWidth, cap);
}

void DrawSurface::FillPolygon(const float* xy, int points) {
  if (!Drawable() || !xy || points < 3) return;
  for (int i = 0; i < points * 2; ++i)
    if (!Usable(xy[i])) return;
  cairo_t* cr = Cr(cr_);
  cairo_new_path(cr);
  cairo_move_to(cr, xy[0], xy[1]);
  for (int i = 1; i < points; ++i) cairo_line_to(cr, xy[2 * i], xy[2 * i + 1]);
  cairo_close_path(cr);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  FillPath();
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
}

void DrawSurface::StrokePolyline(const float* xy, int points, bool closed, float strokeWidth) {
  if (!Drawable() || !xy || points < 2 || !UsableSize(strokeWidth) || strokeWidth == 0) return;
  for (int i = 0; i < points * 2; ++i)
    if (!Usable(xy[i])) return;
  cairo_t* cr = Cr(cr_);
  cairo_new_path(cr);
  cairo_move_to(cr, xy[0], xy[1]);
  for (int i = 1; i < points; ++i) cairo_line_to(cr, xy[2 * i], xy[2 * i + 1]);
  if (closed) cairo_close_path(cr);
  if (!ApplySource()) {
    cairo_new_path(cr);
    return;
  }
  cairo_set_line_width(cr, strokeWidth);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
  cairo_stroke(cr);
}

void DrawSurface::StrokeSegments(const float* xyxy, int count, float strokeWidth, LineCap cap) {
  if (!Drawable() || !xyxy || count < 1 || !UsableSize(strokeWidth) || strokeWidth == 0) return;
  cairo_t* cr = Cr(cr_);
  cairo_new_path(cr);
  for (int i = 0; i < count; ++i) {
    const float* s = xyxy + 4 * i;
    if (!Usable(s[0], s[1], s[2], s[3])) continue;
    cairo_move_to(cr, s[0], s[1]);
    cairo_line_to(cr, s[2], s[3]);
  }
  StrokePath(strokeWidth, cap);
}

void DrawSurface::FillEllipseWithBitmap(const DrawBitmap& bitmap, const Affine& m, float cx, float cy, float rx,
                                        float ry, float opacity) {
  if (!Drawable() || !Usable(cx, cy) || !UsableSize(rx) || !UsableSize(ry) || rx == 0 || ry == 0) return;
  const float alpha = Unit(opacity);
  if (alpha <= 0) return;
  cairo_matrix_t to_user;
  cairo_matrix_init(&to_user, m.m11, m.m12, m.m21, m.m22, m.dx, m.dy);
  if (cairo_matrix_invert(&to_user) != CAIRO_STATUS_SUCCESS) return;
  cairo_t* cr = Cr(cr_);
  cairo_pattern_t* p = cairo_pattern_create_for_surface(Surf(bitmap.Surface()));
  cairo_pattern_set_matrix(p, &to_user);
  cairo_pattern_set_filter(p, CAIRO_FILTER_BILINEAR);
  cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
  cairo_new_path(cr);
  cairo_save(cr);
  cairo_translate(cr, cx, cy);
  cairo_scale(cr, rx, ry);
  cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
  cairo_restore(cr);
  cairo_set_source(cr, p);
  if (alpha >= 1) {
    cairo_fill(cr);
  } else {
    cairo_save(cr);
    cairo_clip(cr);
    cairo_paint_with_alpha(cr, alpha);
    cairo_restore(cr);
  }
  cairo_pattern_destroy(p);
}

void DrawSurface::DrawTextLine(const TextFormat& format, std::string_view utf8, float x, float y, float w, float h,
                               TextAlign align) {
  if (utf8.empty() || !Drawable() || !Usable(x, y) || !UsableSize(w) || !UsableSize(h) || w == 0) return;
  const LayoutEntry* entry = &GetLayout(format, utf8, -1);
  // Within a hair of the box width counts as fitting: float widths from different sums.
  constexpr float kFitSlackDip = 0.01f;
  if (entry->extent.width > w + kFitSlackDip) {
    entry = &GetLayout(format, utf8, w);
    NoteCutText(utf8);
  }
  const TextExtent e = entry->extent;
  float left = x;
  if (align == TextAlign::Center)
    left = x + (w - e.width) / 2;
  else if (align == TextAlign::Trailing)
    left = x + w - e.width;
  const float top = y + (h - e.height) / 2;
  const bool clip = e.width > w + kFitSlackDip || e.height > h + kFitSlackDip;
  if (clip) PushClip(x, y, w, h);
  if (Drawable() && ApplySource()) {
    cairo_t* cr = Cr(cr_);
    cairo_new_path(cr);
    cairo_move_to(cr, left, top);
    pango_cairo_show_layout(cr, entry->layout);
  }
  if (clip) PopClip();
}

void DrawSurface::DrawBitmapIn(const DrawBitmap& bitmap, float x, float y, float w, float h, float opacity,
                               float radius) {
  PaintImageIn(bitmap.Surface(), bitmap.width(), bitmap.height(), x, y, w, h, opacity, radius, false);
}

void DrawSurface::DrawPixelsIn(const PixelView& source, bool opaque, float x, float y, float w, float h,
                               float opacity, float radius, bool nearest) {
  if (!source.pixels || source.width < 1 || source.height < 1 || source.width > kMaxSurfaceSide ||
      source.height > kMaxSurfaceSide || source.stride < source.width)
    return;
  // Wrapped, not copied: the caller's pixels are read during this call only.
  cairo_surface_t* s = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(source.pixels),
                                                           opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32,
                                                           source.width, source.height, source.stride * 4);
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS)
    PaintImageIn(s, source.width, source.height, x, y, w, h, opacity, radius, nearest);
  cairo_surface_destroy(s);
}

void DrawSurface::PaintImageIn(void* image, int imageWidth, int imageHeight, float x, float y, float w, float h,
                               float opacity, float radius, bool nearest) {
  if (!Drawable() || !Usable(x, y, radius) || !UsableSize(w) || !UsableSize(h) || w == 0 || h == 0) return;
  const float alpha = Unit(opacity);
  if (alpha <= 0) return;
  cairo_t* cr = Cr(cr_);
  cairo_pattern_t* p = cairo_pattern_create_for_surface(Surf(image));
  cairo_matrix_t to_user;
  cairo_matrix_init(&to_user, static_cast<double>(w) / imageWidth, 0, 0, static_cast<double>(h) / imageHeight, x, y);
  cairo_matrix_invert(&to_user);
  cairo_pattern_set_matrix(p, &to_user);
  cairo_pattern_set_filter(p, nearest ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_BILINEAR);
  cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
  RoundedRectPath(x, y, w, h, radius > 0 ? radius : 0);
  cairo_set_source(cr, p);
  if (alpha >= 1) {
    cairo_fill(cr);
  } else {
    cairo_save(cr);
    cairo_clip(cr);
    cairo_paint_with_alpha(cr, alpha);
    cairo_restore(cr);
  }
  cairo_pattern_destroy(p);
}

// cairo's own writer drops the alpha channel of an opaque surface.
bool DrawSurface::WritePng(const std::wstring& path, std::wstring* error) {
  const PixelView v = Pixels();
  return WritePngFile(v.pixels, v.width, v.height, v.stride, path, error);
}
