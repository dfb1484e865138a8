#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <vector>

#include "broadcast/visual_draw.h"
#include "broadcast/visual_raster.h"

namespace {

constexpr int kW = 200, kH = 120;
constexpr Rgba kBackdrop{0.1f, 0.2f, 0.3f, 1};

int Channel(uint32_t p, int c) { return static_cast<int>((p >> (8 * c)) & 0xFF); }

struct Difference {
  int largest = 0;       // the largest channel difference of any pixel
  int far = 0;           // pixels differing by more than 48 in a channel: a shape moved or missing
  double inkRatio = 1;   // how much the first differs from the backdrop, over the second's
};

Difference Compare(DrawSurface& a, DrawSurface& b) {
  const PixelView pa = a.Pixels(), pb = b.Pixels();
  const uint32_t back = pa.pixels[0];  // a corner both leave alone
  Difference d;
  double inkA = 0, inkB = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const uint32_t u = pa.pixels[y * pa.stride + x], v = pb.pixels[y * pb.stride + x];
      int worst = 0;
      for (int c = 0; c < 4; ++c) {
        worst = std::max(worst, std::abs(Channel(u, c) - Channel(v, c)));
        inkA += std::abs(Channel(u, c) - Channel(back, c));
        inkB += std::abs(Channel(v, c) - Channel(back, c));
      }
      d.largest = std::max(d.largest, worst);
      if (worst > 48) ++d.far;
    }
  d.inkRatio = inkB > 0 ? inkA / inkB : 1;
  return d;
}

// Draws with ours on one surface and with the surface's own strokes on another, both cleared to the
// backdrop, and compares them.
Difference Versus(const std::function<void(DrawSurface&)>& ours, const std::function<void(DrawSurface&)>& cairo,
                  float scale = 1) {
  auto a = DrawSurface::Create(kW, kH, scale), b = DrawSurface::Create(kW, kH, scale);
  a->Clear(kBackdrop);
  b->Clear(kBackdrop);
  ours(*a);
  cairo(*b);
  return Compare(*a, *b);
}

void ExpectAlike(const Difference& d, const char* what) {
  EXPECT_EQ(d.far, 0) << what << ": largest difference " << d.largest;
  EXPECT_NEAR(d.inkRatio, 1.0, 0.04) << what;
}

TEST(VisualRaster, ShapesMatchTheSurfacesOwnWithinAntialiasing) {
  const uint32_t orange = 0xFF6A3D;
  const Rgba paint{1, 0x6A / 255.0f, 0x3D / 255.0f, 0.6f};
  struct Line {
    float x0, y0, x1, y1, width;
    LineCap cap;
  };
  // Thick and thin, steep and shallow, round and flat, one running off the surface.
  for (const Line& l : {Line{20, 30, 170, 95, 9, LineCap::Round}, Line{40, 10, 60, 110, 4, LineCap::Flat},
                        Line{10, 60, 190, 62, 0.6f, LineCap::Round}, Line{-50, -20, 120, 200, 14, LineCap::Round}}) {
    SCOPED_TRACE(l.width);
    ExpectAlike(Versus([&](DrawSurface& s) { VisualLine(s, l.x0, l.y0, l.x1, l.y1, l.width, l.cap, orange, 0.6f); },
                       [&](DrawSurface& s) {
                         s.SetColor(paint);
                         s.StrokeLine(l.x0, l.y0, l.x1, l.y1, l.width, l.cap);
                       }),
              "line");
  }
  ExpectAlike(Versus([&](DrawSurface& s) { VisualDisc(s, 100, 60, 37.3f, orange, 0.6f); },
                     [&](DrawSurface& s) {
                       s.SetColor(paint);
                       s.FillEllipse(100, 60, 37.3f, 37.3f);
                     }),
              "disc");
  ExpectAlike(Versus([&](DrawSurface& s) { VisualCircle(s, 100, 60, 45, 3, orange, 0.6f); },
                     [&](DrawSurface& s) {
                       s.SetColor(paint);
                       s.StrokeEllipse(100, 60, 45, 45, 3);
                     }),
              "circle");
  // A gentle polyline: round joins where the surface mitres, the same within antialiasing.
  std::vector<float> xy;
  for (int i = 0; i <= 20; ++i) xy.insert(xy.end(), {i * 10.0f, 60 + 30 * std::sin(i * 0.5f)});
  ExpectAlike(Versus([&](DrawSurface& s) { VisualPolyline(s, xy.data(), 21, false, 8, orange, 0.6f); },
                     [&](DrawSurface& s) {
                       s.SetColor(paint);
                       s.StrokePolyline(xy.data(), 21, false, 8);
                     }),
              "polyline");
  // Crossing segments of one call are painted once where they cross, as the surface does.
  const float cross[8] = {20, 20, 180, 100, 20, 100, 180, 20};
  ExpectAlike(Versus([&](DrawSurface& s) { VisualLines(s, cross, 2, 10, LineCap::Flat, orange, 0.6f); },
                     [&](DrawSurface& s) {
                       s.SetColor(paint);
                       s.StrokeSegments(cross, 2, 10, LineCap::Flat);
                     }),
              "crossing segments");
  // On a surface of two pixels per DIP.
  ExpectAlike(Versus([&](DrawSurface& s) { VisualLine(s, 10, 10, 90, 50, 3, LineCap::Round, orange, 0.6f); },
                     [&](DrawSurface& s) {
                       s.SetColor(paint);
                       s.StrokeLine(10, 10, 90, 50, 3, LineCap::Round);
                     },
                     2),
              "scaled line");
}

TEST(VisualRaster, KeepsToTheClipAndLeavesTurnedTargetsToTheSurface) {
  auto s = DrawSurface::Create(kW, kH, 1);
  s->Clear(kBackdrop);
  const uint32_t back = s->Pixels().pixels[0];
  s->PushClip(50, 20, 100, 80);
  VisualDisc(*s, 100, 60, 200, 0xFFFFFF, 1);
  s->PopClip();
  const PixelView v = s->Pixels();
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const bool inside = x >= 50 && x < 150 && y >= 20 && y < 100;
      ASSERT_EQ(v.pixels[y * v.stride + x] == back, !inside) << x << "," << y;
    }
  // A turned transform is not ours to rasterise: the result is the surface's own, pixel for pixel.
  const Affine turned{0.8f, 0.6f, -0.6f, 0.8f, 100, 10};
  const Difference d = Versus(
      [&](DrawSurface& t) {
        t.SetTransform(turned);
        VisualLine(t, 0, 0, 80, 40, 6, LineCap::Round, 0x33CC99, 0.7f);
      },
      [&](DrawSurface& t) {
        t.SetTransform(turned);
        t.SetColor({0.2f, 0.8f, 0.6f, 0.7f});
        t.StrokeLine(0, 0, 80, 40, 6, LineCap::Round);
      });
  EXPECT_EQ(d.largest, 0);
}

TEST(VisualRaster, OneShapeBlendedDirectlyIsTheSetOfThatShapePainted) {
  // Over a busy picture, inside a clip: thin and thick, off the surface, a ring whose hole is
  // narrower than the four-pixel groups (its two spans meet) and one clipped through its hole.
  struct Shape {
    int kind;  // 0 round segment, 1 flat segment, 2 disc, 3 ring
    float a, b, c, d, width;
  } const shapes[] = {{0, 20, 30, 170, 95, 9},   {1, 40, 10, 60, 110, 4},   {0, 10, 60, 190, 62, 0.6f},
                      {0, -50, -20, 120, 200, 14}, {0, 80, 80, 80, 80, 5},  {2, 100, 60, 37.3f, 0, 0},
                      {2, 195, 5, 20, 0, 0},       {3, 100.5f, 60.5f, 1.5f, 0, 1},    {3, 61.3f, 50.2f, 9, 0, 2.5f},
                      {3, 100, 60, 45, 0, 3},      {3, 30, 60, 70, 0, 1}};
  for (const Shape& sh : shapes) {
    SCOPED_TRACE(sh.kind * 1000 + sh.a);
    auto sets = DrawSurface::Create(kW, kH, 1), direct = DrawSurface::Create(kW, kH, 1);
    for (DrawSurface* s : {sets.get(), direct.get()}) {
      const PixelView v = s->Pixels();
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
          v.pixels[y * v.stride + x] = 0xFF000000u | (x * 5 % 256) << 16 | (y * 7 % 256) << 8 | 0x40;
      s->MarkDirty(0, 0, kW, kH);
      s->PushClip(5, 3, 183, 110);
    }
    VisualRaster set;
    ASSERT_TRUE(set.Begin(*sets));
    switch (sh.kind) {
      case 0: case 1: set.Segment(sh.a, sh.b, sh.c, sh.d, sh.width, sh.kind == 0); break;
      case 2: set.Disc(sh.a, sh.b, sh.c); break;
      default: set.Ring(sh.a, sh.b, sh.c, sh.width); break;
    }
    set.Paint(0xFF6A3D, 0.6f);
    switch (sh.kind) {
      case 0: case 1:
        VisualLine(*direct, sh.a, sh.b, sh.c, sh.d, sh.width, sh.kind == 0 ? LineCap::Round : LineCap::Flat, 0xFF6A3D,
                   0.6f);
        break;
      case 2: VisualDisc(*direct, sh.a, sh.b, sh.c, 0xFF6A3D, 0.6f); break;
      default: VisualCircle(*direct, sh.a, sh.b, sh.c, sh.width, 0xFF6A3D, 0.6f); break;
    }
    const PixelView a = sets->Pixels(), b = direct->Pixels();
    int differing = 0, painted = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        differing += a.pixels[y * a.stride + x] != b.pixels[y * b.stride + x];
        painted += (a.pixels[y * a.stride + x] >> 16 & 0xFF) != static_cast<uint32_t>(x * 5 % 256);
      }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(painted, 0);
  }
}

TEST(VisualRaster, NeonLineIsItsThreeStrokesDrawnOneAfterAnother) {
  struct Line {
    float x0, y0, x1, y1, width;
  } const lines[] = {{20, 30, 170, 95, 1.6f}, {-40, 130, 260, -10, 2}, {100, 60, 100, 60, 3}, {10, 60, 190, 61, 0.4f}};
  for (const Line& l : lines) {
    SCOPED_TRACE(l.x0);
    auto fused = DrawSurface::Create(kW, kH, 1), apart = DrawSurface::Create(kW, kH, 1);
    for (DrawSurface* s : {fused.get(), apart.get()}) {
      s->Clear(kBackdrop);
      s->PushClip(3, 5, 190, 100);
    }
    DrawNeonLine(*fused, l.x0, l.y0, l.x1, l.y1, 0x1FA8FF, 0.8f, l.width);
    VisualLine(*apart, l.x0, l.y0, l.x1, l.y1, l.width * 5, LineCap::Round, 0x1FA8FF, 0.8f * 0.12f);
    VisualLine(*apart, l.x0, l.y0, l.x1, l.y1, l.width * 2.2f, LineCap::Round, 0x1FA8FF, 0.8f * 0.3f);
    VisualLine(*apart, l.x0, l.y0, l.x1, l.y1, l.width, LineCap::Round, MixColor(0x1FA8FF, 0xFFFFFF, 0.45f), 0.8f);
    const Difference d = Compare(*fused, *apart);
    EXPECT_EQ(d.largest, 0);
    EXPECT_NE(fused->Pixels().pixels[60 * fused->Pixels().stride + 100], apart->Pixels().pixels[0]) << "drawn";
  }
}

TEST(VisualRaster, DarkeningAndSpriteBlendsMatchTheSurfacesOwn) {
  // A busy opaque picture under a clip; a sprite of a disc (opaque middle, see-through rim and
  // corners) blended at full and at part opacity, partly off the surface.
  const auto paint = [](DrawSurface& s) {
    const PixelView v = s.Pixels();
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        v.pixels[y * v.stride + x] = 0xFF000000u | (x * 5 % 256) << 16 | (y * 7 % 256) << 8 | (x * y % 256);
    s.MarkDirty(0, 0, kW, kH);
    s.PushClip(4, 2, 190, 110);
  };
  auto sprite = DrawSurface::Create(70, 70, 1);
  sprite->Clear({0, 0, 0, 0});
  sprite->SetColor({0.2f, 0.9f, 0.5f, 1});
  sprite->FillEllipse(35, 35, 34, 34);
  sprite->SetColor({0.9f, 0.1f, 0.1f, 0.5f});
  sprite->FillRect(0, 0, 70, 6);
  const PixelView sp = sprite->Pixels();
  for (float opacity : {1.0f, 0.6f}) {
    SCOPED_TRACE(opacity);
    auto ours = DrawSurface::Create(kW, kH, 1), cairo = DrawSurface::Create(kW, kH, 1);
    paint(*ours);
    paint(*cairo);
    DarkenPixels(*ours, 0, 0, kW, kH, 0.35f, 60, 50, opacity == 1 ? 25 : 0);
    BlendSprite(*ours, sp, 25, 15, opacity);
    BlendSprite(*ours, sp, 160, -30, opacity);
    cairo->SetColor({0, 0, 0, 0.35f});
    cairo->FillRect(0, 0, kW, kH);
    cairo->DrawPixelsIn(sp, false, 25, 15, 70, 70, opacity, 0, true);
    cairo->DrawPixelsIn(sp, false, 160, -30, 70, 70, opacity, 0, true);
    const PixelView a = ours->Pixels(), b = cairo->Pixels();
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        // Within the hole, under the sprite's opaque middle at full opacity, nothing is darkened.
        if (opacity == 1 && std::hypot(x + 0.5f - 60, y + 0.5f - 50) < 23) continue;
        for (int c = 0; c < 4; ++c)
          ASSERT_NEAR(Channel(a.pixels[y * a.stride + x], c), Channel(b.pixels[y * b.stride + x], c), 2)
              << x << "," << y << " channel " << c;
      }
  }
}

TEST(VisualRaster, PictureDiscMatchesTheSurfacesBitmapFill) {
  // Vertical bars and a ramp: sharp edges and smooth shading, placed mirrored and shrunk.
  constexpr int pw = 128, ph = 72;
  std::vector<uint32_t> picture(pw * ph);
  for (int y = 0; y < ph; ++y)
    for (int x = 0; x < pw; ++x)
      picture[y * pw + x] = 0xFF000000u | (x / 16 % 2 ? 0xE02020u : 0x2040E0u) | static_cast<uint32_t>(y * 3) << 8;
  auto bitmap = DrawBitmap::FromPixels(picture.data(), pw, ph);
  const float scale = 100.0f / ph;
  const Affine place{-scale, 0, 0, scale, 100 + scale * pw / 2, 60 - scale * ph / 2};
  auto ours = DrawSurface::Create(kW, kH, 1), cairo = DrawSurface::Create(kW, kH, 1);
  cairo->Clear({0, 0, 0, 0});
  cairo->FillEllipseWithBitmap(*bitmap, place, 100, 60, 50, 50, 1);
  ASSERT_TRUE(FillDiscWithPicture(picture.data(), pw, ph, place, 100, 60, 50, ours->Pixels()));
  ours->MarkDirty(0, 0, kW, kH);
  const Difference d = Compare(*ours, *cairo);
  EXPECT_LE(d.largest, 100);  // rim pixels only: the inside is checked below
  EXPECT_NEAR(d.inkRatio, 1.0, 0.02);
  const PixelView a = ours->Pixels(), b = cairo->Pixels();
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      if (std::hypot(x + 0.5f - 100, y + 0.5f - 60) > 48) continue;
      for (int c = 0; c < 4; ++c)
        ASSERT_NEAR(Channel(a.pixels[y * a.stride + x], c), Channel(b.pixels[y * b.stride + x], c), 3)
            << x << "," << y;
    }
  // A turned placement is refused, the sprite untouched.
  EXPECT_FALSE(FillDiscWithPicture(picture.data(), pw, ph, Affine{0, 1, 1, 0, 0, 0}, 100, 60, 50, ours->Pixels()));
}

}  // namespace

TEST(VisualGlow, OverTheBackdropItIsTheGlowDrawnOnTheFilledFrame) {
  // Centres on a pixel edge and on a pixel centre (the rows' halves mirror), off both, and near
  // or past the frame's edges, where only some pixels have a partner inside the glow.
  struct Case {
    int w;
    float cx, cy, r;
  } const cases[] = {{kW, 100, 60, 150},   {kW, 100.5f, 47, 90},  {kW - 1, 99.5f, 60, 70}, {kW, 37.3f, 80.6f, 60},
                     {kW, 190, 60, 50},    {kW, 5, 60, 80},       {kW, 100, 60, 2.5f},    {kW, 250, 60, 70}};
  constexpr uint32_t kBack = 0x1A334D, kColour = 0xFF8020;
  for (const Case& c : cases) {
    auto filled = DrawSurface::Create(c.w, kH, 1), drawn = DrawSurface::Create(c.w, kH, 1);
    filled->Clear({0.5f, 0.5f, 0.5f, 1});
    FillWithGlow(*filled, kBack, c.cx, c.cy, c.r, kColour, 0.7f);
    drawn->Clear({0x1A / 255.0f, 0x33 / 255.0f, 0x4D / 255.0f, 1});
    DrawGlow(*drawn, c.cx, c.cy, c.r, kColour, 0.7f);
    const PixelView a = filled->Pixels(), b = drawn->Pixels();
    int differing = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < c.w; ++x) differing += a.pixels[y * a.stride + x] != b.pixels[y * b.stride + x];
    EXPECT_EQ(differing, 0) << "glow at " << c.cx << "," << c.cy << " r " << c.r << " on width " << c.w;
    EXPECT_NE(a.pixels[static_cast<int>(c.cy) * a.stride + std::clamp(static_cast<int>(c.cx), 0, c.w - 1)],
              0xFF000000u | kBack)
        << "the glow shows";
  }
}

TEST(VisualGlow, TheSkyIsTheClearedFrameWithItsGradientAndGlow) {
  // The sky's foot inside a row and on a row edge, at two scales; glows centred on a pixel edge
  // (its row halves mirror), off it, reaching below the sky, and none at all.
  struct Case {
    float scale, skyBottom, cx, cy, r, alpha;
  } const cases[] = {{1, 70.4f, 100, 40, 60, 0.5f},   {1, 70, 100, 50, 90, 0.7f},     {1.5f, 70.4f, 100, 40, 60, 0.5f},
                     {1, 70.4f, 37.3f, 66.6f, 40, 1}, {1.25f, 119.9f, 150, 10, 300, 0.3f}, {1, 30, 100, 40, 0, 0.5f}};
  constexpr uint32_t kBack = 0x020308, kTop = 0x05020F, kFoot = 0x3A0C4A, kColour = 0xFF3CAC;
  constexpr uint32_t kMarker = 0xFF123456;
  for (const Case& c : cases) {
    const int w = static_cast<int>(kW * c.scale), h = static_cast<int>(kH * c.scale);
    auto sky = DrawSurface::Create(w, h, c.scale), drawn = DrawSurface::Create(w, h, c.scale);
    {
      const PixelView v = sky->Pixels();
      for (int y = 0; y < h; ++y) std::fill_n(v.pixels + y * v.stride, w, kMarker);
    }
    ASSERT_TRUE(FillSkyWithGlow(*sky, kW, kH, kBack, c.skyBottom, kTop, kFoot, c.cx, c.cy, c.r, kColour, c.alpha));
    drawn->Clear(VisualRgba(kBack, 1));
    FillVerticalGradient(*drawn, 0, 0, kW, c.skyBottom, 0, kTop, c.skyBottom, kFoot);
    DrawGlow(*drawn, c.cx, c.cy, c.r, kColour, c.alpha);
    const PixelView a = sky->Pixels(), b = drawn->Pixels();
    const int skyRows = static_cast<int>(std::ceil(c.skyBottom * c.scale));
    int differing = 0, touchedBelow = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (y < skyRows)
          differing += a.pixels[y * a.stride + x] != b.pixels[y * b.stride + x];
        else
          touchedBelow += a.pixels[y * a.stride + x] != kMarker;
      }
    EXPECT_EQ(differing, 0) << "sky to " << c.skyBottom << " at scale " << c.scale << ", glow at " << c.cx << "," << c.cy;
    EXPECT_EQ(touchedBelow, 0) << "rows below the sky are the caller's";
  }
  // A frame that leaves part of the surface uncovered is refused, nothing drawn.
  auto wide = DrawSurface::Create(kW, kH, 1);
  wide->Clear({0, 0, 0, 0});
  EXPECT_FALSE(FillSkyWithGlow(*wide, kW - 1, kH, kBack, 50, kTop, kFoot, 100, 40, 60, kColour, 0.5f));
  EXPECT_FALSE(FillSkyWithGlow(*wide, kW, kH - 1, kBack, 50, kTop, kFoot, 100, 40, 60, kColour, 0.5f));
  EXPECT_EQ(wide->Pixels().pixels[0], 0u);
}
