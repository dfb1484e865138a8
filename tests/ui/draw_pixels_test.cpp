// Outlines, lines, arcs and solid fills written straight into the frame's pixels, held against
// the same shapes drawn by cairo on a surface of their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "platform/draw_surface.h"
#include "ui/draw.h"
#include "ui/draw_pixels.h"

namespace {

constexpr int kW = 160, kH = 120;
constexpr Rgba kInk{1, 1, 1, 1};

// The alpha of every pixel.
std::vector<int> Alphas(const PixelView& v) {
  std::vector<int> a;
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) a.push_back(static_cast<int>(v.pixels[static_cast<size_t>(y) * v.stride + x] >> 24));
  return a;
}

// The shape through the drawing layer on a transparent frame (the pixel writers).
std::vector<int> Written(const std::function<void()>& draw) {
  EXPECT_TRUE(CreateDevice(kW, kH, 1));
  BeginDraw();
  Clear(Color{0, 0, 0, 0});
  draw();
  std::vector<int> a = Alphas(FrameImage());
  ReleaseDevice();
  return a;
}

// The same shape by cairo.
std::vector<int> Cairo(const std::function<void(DrawSurface&)>& draw) {
  std::unique_ptr<DrawSurface> s = DrawSurface::Create(kW, kH, 1);
  EXPECT_TRUE(s);
  s->Clear(Rgba{0, 0, 0, 0});
  s->SetColor(kInk);
  draw(*s);
  return Alphas(s->Pixels());
}

// Same ink in all (area within 2 %), and no pixel off by more than `worst` levels.
void ExpectAlike(const std::vector<int>& ours, const std::vector<int>& cairo, int worst, const char* what) {
  ASSERT_EQ(ours.size(), cairo.size());
  double area_ours = 0, area_cairo = 0;
  int largest = 0;
  for (size_t i = 0; i < ours.size(); ++i) {
    area_ours += ours[i], area_cairo += cairo[i];
    largest = std::max(largest, std::abs(ours[i] - cairo[i]));
  }
  EXPECT_GT(area_cairo, 255.0) << what;
  EXPECT_NEAR(area_ours, area_cairo, 0.02 * area_cairo) << what;
  EXPECT_LE(largest, worst) << what;
}

}  // namespace

TEST(PixelShapes, OutlinesMatchCairo) {
  // Inside r, as StrokeRoundedRect keeps it: on whole pixels, between them, thick and thin.
  ExpectAlike(Written([] { StrokeRoundedRect(Rc{10, 10, 120, 40}, 6, Color{1, 1, 1, 1}, 1); }),
              Cairo([](DrawSurface& s) { s.StrokeRoundedRect(10.5f, 10.5f, 119, 39, 6, 1); }), 40, "1 px outline");
  ExpectAlike(Written([] { StrokeRoundedRect(Rc{20.3f, 30.6f, 90, 50}, 12, Color{1, 1, 1, 1}, 2.5f); }),
              Cairo([](DrawSurface& s) { s.StrokeRoundedRect(21.55f, 31.85f, 87.5f, 47.5f, 12, 2.5f); }), 40,
              "2.5 px outline");
  // A radius beyond the shorter half side is kept to it.
  ExpectAlike(Written([] { StrokeRoundedRect(Rc{30, 40, 80, 20}, 50, Color{1, 1, 1, 1}, 2); }),
              Cairo([](DrawSurface& s) { s.StrokeRoundedRect(31, 41, 78, 18, 50, 2); }), 40, "pill");
  ExpectAlike(Written([] { StrokeCircle(80, 60, 40.5f, Color{1, 1, 1, 1}, 4); }),
              Cairo([](DrawSurface& s) { s.StrokeEllipse(80, 60, 40.5f, 40.5f, 4); }), 40, "ring");
}

TEST(PixelShapes, LinesAndArcsKeepTheirRoundCaps) {
  ExpectAlike(Written([] { DrawLine(10, 20.5f, 150, 20.5f, Color{1, 1, 1, 1}, 1); }),
              Cairo([](DrawSurface& s) { s.StrokeLine(10, 20.5f, 150, 20.5f, 1, LineCap::Round); }), 40, "level line");
  ExpectAlike(Written([] { DrawLine(40.25f, 100, 40.25f, 10, Color{1, 1, 1, 1}, 3); }),
              Cairo([](DrawSurface& s) { s.StrokeLine(40.25f, 100, 40.25f, 10, 3, LineCap::Round); }), 40,
              "upright line");
  // 0 degrees at twelve o'clock, clockwise: -135 .. 60 runs over the top from the lower left.
  auto radians = [](float deg) { return static_cast<float>((deg - 90.0) * M_PI / 180.0); };
  ExpectAlike(Written([] { DrawArc(80, 60, 30, -135, 60, Color{1, 1, 1, 1}, 4); }),
              Cairo([&](DrawSurface& s) { s.StrokeArc(80, 60, 30, radians(-135), radians(60), true, 4, LineCap::Round); }),
              40, "clockwise arc");
  ExpectAlike(Written([] { DrawArc(80, 60, 30, 90, -120, Color{1, 1, 1, 1}, 3); }),
              Cairo([&](DrawSurface& s) { s.StrokeArc(80, 60, 30, radians(90), radians(-120), false, 3, LineCap::Round); }),
              40, "anticlockwise arc past half a turn");
  // Short arcs (a jog's trail, a knob's value) across twelve, three and six o'clock, and within a
  // quarter: only the box about the arc is worked, so its caps and bulge must still be whole.
  for (const float start : {-10.0f, 80.0f, 170.0f, 200.0f}) {
    ExpectAlike(Written([&] { DrawArc(80.4f, 60.3f, 30, start, start + 20, Color{1, 1, 1, 1}, 5); }),
                Cairo([&](DrawSurface& s) {
                  s.StrokeArc(80.4f, 60.3f, 30, radians(start), radians(start + 20), true, 5, LineCap::Round);
                }),
                40, "short arc");
  }
  // Nothing at the top of the circle that the short clockwise arc leaves out.
  const std::vector<int> lower = Written([] { DrawArc(80, 60, 30, 100, 260, Color{1, 1, 1, 1}, 4); });
  EXPECT_EQ(lower[static_cast<size_t>(30) * kW + 80], 0);
  EXPECT_EQ(lower[static_cast<size_t>(90) * kW + 80], 255);
}

TEST(PixelShapes, SolidFillsAndClips) {
  ExpectAlike(Written([] { FillRoundedRect(Rc{12.5f, 14, 100, 60.5f}, 9, Color{1, 1, 1, 1}); }),
              Cairo([](DrawSurface& s) { s.FillRoundedRect(12.5f, 14, 100, 60.5f, 9); }), 40, "rounded box");
  ExpectAlike(Written([] { FillCircle(70.3f, 50.8f, 25, Color{1, 1, 1, 1}); }),
              Cairo([](DrawSurface& s) { s.FillEllipse(70.3f, 50.8f, 25, 25); }), 40, "disc");
  // Half-transparent ink blends once, and nothing lands outside the clip or for an empty box.
  const std::vector<int> clipped = Written([] {
    PushClip(Rc{0, 0, 60, kH});
    FillRoundedRect(Rc{20, 20, 100, 40}, 4, Color{1, 1, 1, 0.5f});
    StrokeRoundedRect(Rc{20, 70, 100, 40}, 4, Color{1, 1, 1, 1}, 2);
    FillRoundedRect(Rc{10, 90, 0, 20}, 4, Color{1, 1, 1, 1});
    PopClip();
  });
  EXPECT_EQ(clipped[static_cast<size_t>(40) * kW + 40], 128);
  EXPECT_EQ(clipped[static_cast<size_t>(100) * kW + 10], 0);
  EXPECT_EQ(clipped[static_cast<size_t>(100) * kW + 9], 0);
  for (int y = 0; y < kH; ++y)
    for (int x = 60; x < kW; ++x) ASSERT_EQ(clipped[static_cast<size_t>(y) * kW + x], 0) << x << ", " << y;
}

// Images laid 1:1 over the pixels: an opaque one is copied, a lighter one blends at its opacity,
// both inside the clip, and a corner between pixels is left to the caller.
TEST(PixelImages, CopyBlendAndClip) {
  constexpr int kSide = 8;
  const std::vector<uint32_t> opaque(kSide * kSide, 0xFF204060u);
  std::vector<uint32_t> light(kSide * kSide, 0x80800000u);  // half-covering red, premultiplied
  light[0] = 0;
  ASSERT_TRUE(CreateDevice(kW, kH, 2));  // DIPs are half pixels
  BeginDraw();
  Clear(Color{0, 0, 0, 0});
  DrawSurface* target = DrawTarget();
  ASSERT_TRUE(target);
  const PixelImage images[2] = {{opaque.data(), kSide, kSide, 5.0f, 5.0f, true},
                                {light.data(), kSide, kSide, 7.0f, 5.0f, false}};
  const float opacity[2] = {1.0f, 0.5f};
  PushClip(Rc{0, 0, 40, 40});  // device pixels 0 .. 79
  ASSERT_TRUE(DrawPixelImages(*target, images, opacity, 2));
  PopClip();
  const PixelView v = FrameImage();
  auto at = [&](int x, int y) { return v.pixels[static_cast<size_t>(y) * v.stride + x]; };
  EXPECT_EQ(at(10, 10), 0xFF204060u);  // the copy's corner: DIP 5 is pixel 10
  EXPECT_EQ(at(13, 17), 0xFF204060u);  // left of the light
  EXPECT_EQ(at(14, 10), 0xFF204060u);  // under the light's empty first pixel
  // 0x80800000 at half strength is 0x40400000; over the opaque pixel: 0x40 + 0x20 x 0xBF / 255 ...
  auto over = [](int d, int s, int sa) { return s + (d * (255 - sa) + 127) / 255; };
  const uint32_t blended = static_cast<uint32_t>(over(0xFF, 0x40, 0x40)) << 24 |
                           static_cast<uint32_t>(over(0x20, 0x40, 0x40)) << 16 |
                           static_cast<uint32_t>(over(0x40, 0, 0x40)) << 8 | static_cast<uint32_t>(over(0x60, 0, 0x40));
  EXPECT_EQ(at(15, 10), blended);
  EXPECT_EQ(at(21, 17), 0x40400000u);  // beyond the copy only the light
  EXPECT_EQ(at(22, 10), 0u);
  EXPECT_EQ(at(9, 9), 0u);
  // A corner half a pixel off is not drawn at all.
  const PixelImage between{opaque.data(), kSide, kSide, 30.25f, 30.0f, true};
  const float full = 1.0f;
  EXPECT_FALSE(DrawPixelImages(*target, &between, &full, 1));
  EXPECT_EQ(at(61, 61), 0u);
  ReleaseDevice();
}

// An image reaching past the clip is cut at it, rows and columns alike; one wholly outside and
// one at opacity 0 change nothing.
TEST(PixelImages, ClippedAndInvisibleImages) {
  const std::vector<uint32_t> opaque(30 * 30, 0xFFFFFFFFu);
  ASSERT_TRUE(CreateDevice(kW, kH, 1));
  BeginDraw();
  Clear(Color{0, 0, 0, 0});
  PushClip(Rc{10, 10, 20, 20});
  const PixelImage images[3] = {{opaque.data(), 30, 30, 0, 0, true},
                                {opaque.data(), 30, 30, 100, 60, true},
                                {opaque.data(), 30, 30, 35, 0, true}};
  const float opacity[3] = {1.0f, 0.0f, 1.0f};
  ASSERT_TRUE(DrawPixelImages(*DrawTarget(), images, opacity, 3));
  PopClip();
  const std::vector<int> a = Alphas(FrameImage());
  int lit = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const bool inside = x >= 10 && x < 30 && y >= 10 && y < 30;
      ASSERT_EQ(a[static_cast<size_t>(y) * kW + x], inside ? 255 : 0) << x << ", " << y;
      lit += inside;
    }
  EXPECT_EQ(lit, 400);
  ReleaseDevice();
}

// Eight pixels a register blend exactly what four do: random premultiplied images (some groups
// wholly empty) at full and partial opacity, and waveform columns of random heights, over a
// random frame, with row lengths that leave short groups at the ends.
TEST(PixelImages, EightPixelsARegisterBlendWhatFourBlend) {
  if (!UseWideBlends(true)) GTEST_SKIP() << "this processor has no AVX2";
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  auto premultiplied = [&] {
    const uint32_t a = next() >> 24;
    uint32_t p = a << 24;
    for (int c = 0; c < 24; c += 8) p |= (next() >> 24) * a / 255 << c;
    return p;
  };
  std::vector<uint32_t> under(kW * kH), light(61 * 47);
  for (uint32_t& p : under) p = premultiplied();
  for (size_t i = 0; i < light.size(); ++i) light[i] = i % 61 < 16 ? 0 : premultiplied();
  std::vector<float> heights(150);
  for (float& h : heights) h = next() % 7 == 0 ? -1.0f : static_cast<float>(next() % 4800) / 100.0f;
  auto blend = [&](bool wide) {
    UseWideBlends(wide);
    EXPECT_TRUE(CreateDevice(kW, kH, 1));
    BeginDraw();
    DrawSurface* target = DrawTarget();
    PixelView v = FrameImage();
    for (int y = 0; y < kH; ++y) std::copy_n(&under[static_cast<size_t>(y) * kW], kW, v.pixels + static_cast<size_t>(y) * v.stride);
    target->MarkDirty(0, 0, kW, kH);
    const PixelImage images[2] = {{light.data(), 61, 47, 3, 5, false}, {light.data(), 61, 47, 70, 40, false}};
    const float opacity[2] = {1.0f, 0.37f};
    EXPECT_TRUE(DrawPixelImages(*target, images, opacity, 2));
    // Waveform columns on a centre between pixels, so most rows cover their pixels in part; 150
    // columns leave a short group at the end of each row.
    FillWaveColumns(heights.data(), 0, static_cast<int>(heights.size()) - 1, 3.0f, 60.3f, 50.0f,
                    Color{0.1f, 0.3f, 0.9f, 1.0f}, Color{0.4f, 0.8f, 1.0f, 0.9f}, 0.83f);
    std::vector<uint32_t> out;
    v = FrameImage();
    for (int y = 0; y < kH; ++y) out.insert(out.end(), v.pixels + static_cast<size_t>(y) * v.stride, v.pixels + static_cast<size_t>(y) * v.stride + kW);
    ReleaseDevice();
    return out;
  };
  const std::vector<uint32_t> wide = blend(true), narrow = blend(false);
  UseWideBlends(true);
  size_t differing = 0, changed = 0;
  for (size_t i = 0; i < wide.size(); ++i) differing += wide[i] != narrow[i], changed += wide[i] != under[i];
  EXPECT_EQ(differing, 0u);
  EXPECT_GT(changed, 2000u) << "both images blended";
  size_t columns_changed = 0;
  for (int y = 0; y < 55; ++y)
    for (int x = 134; x < 153; ++x) columns_changed += wide[static_cast<size_t>(y) * kW + x] != under[static_cast<size_t>(y) * kW + x];
  EXPECT_GT(columns_changed, 100u) << "the columns drawn past the images";
}
