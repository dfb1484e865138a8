#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "platform/draw_surface.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "ui/draw.h"
#include "ui/glow.h"
#include "ui/kept_images.h"
#include "ui/offscreen.h"

namespace {

struct Shot {
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  uint32_t at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
  int channel(int x, int y, int c) const { return (at(x, y) >> (8 * c)) & 255; }
  int lum(int x, int y) const { return std::max({channel(x, y, 0), channel(x, y, 1), channel(x, y, 2)}); }
};

Shot Copy(const PixelView& v) {
  Shot shot;
  shot.w = v.width, shot.h = v.height;
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) shot.px.push_back(v.pixels[static_cast<size_t>(y) * v.stride + x]);
  return shot;
}

// One frame on a fresh device: drawn on `background`, then ended with or without its glows.
Shot Frame(int w, int h, const std::function<void()>& draw, bool glows = true, Color background = {0, 0, 0, 1}) {
  EXPECT_TRUE(CreateDevice(w, h, 1));
  ResetGlowLayer();
  BeginDraw();
  Clear(background);
  draw();
  if (!glows) GlowList.clear();
  EndFrame();
  Shot shot = Copy(FrameImage());
  ReleaseDevice();
  return shot;
}

// Pixels where the glow frame is darker than the plain frame in any channel.
int DarkerPixels(const Shot& glow, const Shot& plain) {
  int n = 0;
  for (size_t i = 0; i < glow.px.size(); ++i)
    for (int c = 0; c < 4; ++c) n += ((glow.px[i] >> (8 * c)) & 255) < ((plain.px[i] >> (8 * c)) & 255);
  return n;
}

// A DJ-like patch: a lit button, a knob arc, a meter, a playhead and glowing text.
void Patch() {
  DrawPanel(Rc{10, 10, 280, 180}, 8);
  FillRoundedRect(Rc{30, 30, 70, 28}, 6, ColorOf(0x2BF59A, 0.9f));
  GlowRoundedRect(Rc{30, 30, 70, 28}, 6, ColorOf(0x2BF59A, 0.5f));
  DrawArc(200, 80, 30, -135, 60, ColorOf(0x1FA8FF), 4);
  GlowArc(200, 80, 30, -135, 60, ColorOf(0x1FA8FF, 0.8f), 4);
  DrawLine(150, 20, 150, 180, ColorOf(0xFFFFFF), 2);
  GlowLine(150, 20, 150, 180, ColorOf(0xFF5E2B, 0.7f), 8);
  GlowCircle(60, 140, 6, ColorOf(0xFF3B5C, 0.9f));
  GlowRing(240, 150, 20, ColorOf(0xB57BFF, 0.8f), 3);
  DrawText(L"SYNC", Rc{30, 100, 80, 20}, 14, ColorOf(0xFFC83D), kAlignLeft, true, kFontBahnschrift);
  GlowText(L"SYNC", Rc{30, 100, 80, 20}, 14, ColorOf(0xFFC83D, 0.6f), kAlignLeft, true);
}

// The glow worked out the plain way: shapes on a half-size target, both Gaussian blurs over the
// whole image at half size, doubled with linear interpolation and added, wide then tight.
Shot ReferenceGlow(int w, int h, const std::function<void()>& draw) {
  Shot base = Frame(w, h, draw, false);
  EXPECT_TRUE(CreateDevice(w, h, 1));
  ResetGlowLayer();
  BeginDraw();
  draw();
  std::unique_ptr<DrawSurface> half = DrawSurface::Create(w / 2, h / 2, 0.5f);
  SetDrawTarget(half.get());
  for (const GlowShape& s : GlowList) {
    half->SetTransform(s.transform);
    DrawGlowShape(s);
  }
  SetDrawTarget(FrameTarget());
  Shot shapes = Copy(half->Pixels());
  ResetGlowLayer();
  ReleaseDevice();

  const int hw = w / 2, hh = h / 2;
  auto blur = [&](double sigma) {
    const int taps = static_cast<int>(std::ceil(sigma * 4));
    std::vector<double> k(2 * taps + 1);
    double sum = 0;
    for (int i = -taps; i <= taps; ++i) sum += k[i + taps] = std::exp(-i * i / (2 * sigma * sigma));
    for (double& v : k) v /= sum;
    std::vector<double> tmp(static_cast<size_t>(hw) * hh * 4), out(tmp.size());
    for (int y = 0; y < hh; ++y)
      for (int x = 0; x < hw; ++x)
        for (int c = 0; c < 4; ++c) {
          double acc = 0;
          for (int t = -taps; t <= taps; ++t)
            if (x + t >= 0 && x + t < hw) acc += k[t + taps] * shapes.channel(x + t, y, c);
          tmp[(static_cast<size_t>(y) * hw + x) * 4 + c] = acc;
        }
    for (int y = 0; y < hh; ++y)
      for (int x = 0; x < hw; ++x)
        for (int c = 0; c < 4; ++c) {
          double acc = 0;
          for (int t = -taps; t <= taps; ++t)
            if (y + t >= 0 && y + t < hh) acc += k[t + taps] * tmp[(static_cast<size_t>(y + t) * hw + x) * 4 + c];
          out[(static_cast<size_t>(y) * hw + x) * 4 + c] = acc;
        }
    return out;
  };
  std::vector<double> tight = blur(1.4), wide = blur(5.5);
  auto sample = [&](const std::vector<double>& img, double fx, double fy, int c) {
    fx = std::clamp(fx, 0.0, hw - 1.0), fy = std::clamp(fy, 0.0, hh - 1.0);
    const int x0 = static_cast<int>(fx), y0 = static_cast<int>(fy);
    const int x1 = std::min(x0 + 1, hw - 1), y1 = std::min(y0 + 1, hh - 1);
    const double ax = fx - x0, ay = fy - y0;
    auto v = [&](int x, int y) { return img[(static_cast<size_t>(y) * hw + x) * 4 + c]; };
    return (v(x0, y0) * (1 - ax) + v(x1, y0) * ax) * (1 - ay) + (v(x0, y1) * (1 - ax) + v(x1, y1) * ax) * ay;
  };
  Shot out = base;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t p = 0;
      for (int c = 0; c < 4; ++c) {
        const double fx = (x + 0.5) / 2 - 0.5, fy = (y + 0.5) / 2 - 0.5;
        const double v = base.channel(x, y, c) + sample(wide, fx, fy, c) + sample(tight, fx, fy, c);
        p |= static_cast<uint32_t>(std::min(255.0, std::round(v))) << (8 * c);
      }
      out.px[static_cast<size_t>(y) * w + x] = p;
    }
  return out;
}

}  // namespace

TEST(GlowPass, OnlyBrightensAndOnlyNearItsShapes) {
  Shot plain = Frame(300, 200, Patch, false);
  Shot lit = Frame(300, 200, Patch, true);
  EXPECT_EQ(DarkerPixels(lit, plain), 0);
  // Around the green button and on the halo beside the playhead it is brighter...
  EXPECT_GT(lit.channel(65, 25, 1), plain.channel(65, 25, 1) + 20);
  EXPECT_GT(lit.channel(160, 100, 2), plain.channel(160, 100, 2) + 10);
  // ...but far from every glow nothing changes.
  EXPECT_EQ(lit.at(295, 5), plain.at(295, 5));
  Shot dot = Frame(300, 200, [] { GlowCircle(50, 50, 4, Color{1, 1, 1, 1}); });
  EXPECT_GT(dot.lum(50, 70), 0);
  EXPECT_EQ(dot.lum(50, 110), 0);
  EXPECT_EQ(dot.lum(250, 50), 0);
}

TEST(GlowPass, MatchesTheFullFrameBlurs) {
  // Odd sizes leave a last row and column past the half-size glow target. A glow in the corner
  // reaches the ends of the rows, where a quarter-size width of 75 leaves a pixel without a
  // partner in rows worked two pixels at a time. (Odd half-size widths are left out: there the
  // quarter-size image averages its last column with transparent black, which the reference
  // does not.)
  struct Case {
    int w, h;
    bool corner;
  };
  for (const Case& k : {Case{300, 200, false}, Case{301, 201, false}, Case{300, 200, true}}) {
    const int w = k.w, h = k.h;
    auto draw = [k] {
      Patch();
      if (k.corner) GlowRoundedRect(Rc{k.w - 30.0f, k.h - 24.0f, 26, 20}, 4, ColorOf(0x2BF59A, 0.9f));
    };
    Shot ours = Frame(w, h, draw, true);
    Shot reference = ReferenceGlow(w, h, draw);
    int worst = 0;
    double total = 0;
    // The outermost quarter-size pixel is left out: beyond the frame the pass reads transparent
    // black where the reference repeats the edge.
    constexpr int kEdge = 4;
    for (int y = kEdge; y < h - kEdge; ++y)
      for (int x = kEdge; x < w - kEdge; ++x)
        for (int c = 0; c < 3; ++c) {
          const int d = std::abs(ours.channel(x, y, c) - reference.channel(x, y, c));
          worst = std::max(worst, d);
          total += d;
        }
    // Quarter-size wide blur, tiles and the cut-off reach stay within a few levels.
    EXPECT_LE(worst, 4) << w << " x " << h;
    EXPECT_LT(total / (w * h * 3), 0.15) << w << " x " << h;
  }
}

// The pass runs four pixels a register where the processor can, two otherwise: the same pixels
// at every size (odd ones leave short groups at the ends of the rows, and a last row and column
// past the half-size target), with glows reaching every edge.
TEST(GlowPass, FourPixelsARegisterDrawWhatTwoDraw) {
  if (!UseWideGlowLanes(true)) GTEST_SKIP() << "this processor has no AVX2";
  for (const auto [w, h] : {std::pair{300, 200}, std::pair{301, 201}, std::pair{303, 199}, std::pair{297, 203}}) {
    auto draw = [w = w, h = h] {
      Patch();
      GlowRoundedRect(Rc{w - 30.0f, h - 24.0f, 26, 20}, 4, ColorOf(0x2BF59A, 0.9f));
      GlowLine(1, 1, 1, h - 2.0f, ColorOf(0xFF5E2B, 0.8f), 3);
      GlowText(L"124.00", Rc{w - 90.0f, 2, 85, 24}, 20, ColorOf(0x1FA8FF, 0.7f), kAlignRight, true);
      const float half[] = {3, 9, -1, 14, 6, 11, 2, 8, 12, 5, 7};
      GlowColumns(half, 11, w / 2.0f - 5.5f, h / 2.0f, ColorOf(0xFFC83D, 0.9f));
    };
    // Both frames draw their text afresh: text drawn from its kept image may be a level apart.
    ForgetKeptImages();
    const Shot wide = Frame(w, h, draw);
    UseWideGlowLanes(false);
    ForgetKeptImages();
    const Shot narrow = Frame(w, h, draw);
    UseWideGlowLanes(true);
    const Shot plain = Frame(w, h, draw, false);
    size_t differing = 0, lit = 0;
    for (size_t i = 0; i < wide.px.size(); ++i) differing += wide.px[i] != narrow.px[i], lit += wide.px[i] != plain.px[i];
    EXPECT_EQ(differing, 0u) << w << " x " << h;
    EXPECT_GT(lit, wide.px.size() / 4) << w << " x " << h;
  }
}

// The pass is shared among threads by bands of rows cut where the glowing tiles add up; a glow
// must come out the same wherever the cuts fall, so other glows far above and below (which move
// the cuts) leave it exactly as it is alone.
TEST(GlowPass, AGlowIsTheSameWhereverTheBandsAreCut) {
  constexpr int kW = 320, kH = 640;
  auto centre = [] {
    GlowRoundedRect(Rc{60, 290, 200, 40}, 8, ColorOf(0x2BF59A, 0.8f));
    GlowRing(160, 310, 50, ColorOf(0x1FA8FF, 0.9f), 3);
  };
  Shot alone = Frame(kW, kH, centre);
  Shot crowded = Frame(kW, kH, [&] {
    for (int i = 0; i < 12; ++i) GlowLine(10, 8 + 9 * i, 310, 8 + 9 * i, ColorOf(0xFF5E2B, 0.7f), 2);
    GlowRoundedRect(Rc{20, 560, 280, 60}, 6, ColorOf(0xB57BFF, 0.9f));
    centre();
  });
  // Rows 200 .. 420 are beyond the reach of the others' halos (36 pixels at most).
  int lit = 0;
  for (int y = 200; y < 420; ++y)
    for (int x = 0; x < kW; ++x) {
      ASSERT_EQ(crowded.at(x, y), alone.at(x, y)) << x << ", " << y;
      lit += alone.lum(x, y) > 0;
    }
  EXPECT_GT(lit, 5000);
}

TEST(GlowPass, FollowsTheTransformItWasQueuedUnder) {
  Shot moved = Frame(300, 100, [] {
    SetTransform(Affine{1, 0, 0, 1, 200, 0});
    GlowCircle(50, 50, 6, Color{1, 1, 1, 1});
    SetTransform(Affine{});
  });
  EXPECT_GT(moved.lum(250, 50), 100);
  EXPECT_EQ(moved.lum(50, 50), 0);
  // A quarter turn, as the upright deck strips: (x, y) lands on (y, 100 - x).
  Shot turned = Frame(300, 100, [] {
    SetTransform(Affine{0, -1, 1, 0, 0, 100});
    GlowLine(10, 20, 60, 20, Color{1, 1, 1, 1}, 4);
    SetTransform(Affine{});
  });
  EXPECT_GT(turned.lum(20, 65), 100);
  EXPECT_GT(turned.lum(20, 45), 100);
  EXPECT_EQ(turned.lum(80, 65), 0);
  EXPECT_EQ(turned.lum(20, 5), 0);
}

TEST(GlowPass, ShapesBeforeTheStartIndexAreHidden) {
  Shot s = Frame(300, 100, [] {
    GlowCircle(50, 50, 8, Color{1, 1, 1, 1});
    GlowStartIndex = GlowList.size();  // a form's backdrop
    GlowCircle(220, 50, 8, Color{1, 1, 1, 1});
  });
  EXPECT_EQ(s.lum(50, 50), 0);
  EXPECT_GT(s.lum(220, 50), 100);
}

TEST(GlowPass, OutlinesGlowOnTheirEdgesOnly) {
  Shot s = Frame(400, 300, [] {
    GlowShape outline;
    outline.kind = kGlowOutlinedRoundedRect;
    outline.g1 = 20, outline.g2 = 20, outline.g3 = 380, outline.g4 = 280, outline.g5 = 6, outline.g6 = 2;
    outline.color = Color{1, 1, 1, 1};
    QueueGlow(std::move(outline));
  });
  EXPECT_GT(s.lum(200, 20), 60);
  EXPECT_GT(s.lum(20, 150), 60);
  EXPECT_GT(s.lum(200, 30), 0);
  EXPECT_EQ(s.lum(200, 150), 0);
}

TEST(GlowPass, NothingLingersIntoTheNextFrame) {
  auto draw_frame = [](float x, float r) {
    ResetGlowLayer();
    BeginDraw();
    Clear(Color{0, 0, 0, 1});
    GlowCircle(x, 50, r, Color{1, 1, 1, 1});
    GlowLine(x - 40, 90, x + 40, 90, Color{1, 0.5f, 0, 0.8f}, 3);
    EndFrame();
  };
  // The second frame's glow overlaps where the first one was: it must come out as on a fresh device.
  ASSERT_TRUE(CreateDevice(300, 120, 1));
  draw_frame(110, 6);
  const Shot fresh = Copy(FrameImage());
  ASSERT_TRUE(CreateDevice(300, 120, 1));
  draw_frame(60, 25);
  draw_frame(110, 6);
  const Shot after = Copy(FrameImage());
  int differing = 0;
  for (size_t i = 0; i < fresh.px.size(); ++i) differing += fresh.px[i] != after.px[i];
  EXPECT_EQ(differing, 0);
  // A frame whose glows are all hidden is untouched.
  ResetGlowLayer();
  BeginDraw();
  Clear(Color{0, 0, 0, 1});
  GlowCircle(150, 50, 10, Color{1, 1, 1, 1});
  GlowStartIndex = GlowList.size();
  EndFrame();
  Shot hidden = Copy(FrameImage());
  for (uint32_t p : hidden.px) ASSERT_EQ(p, 0xFF000000u);
  ReleaseDevice();
}

// The blurred glow is kept while a frame queues the same shapes as the frame before: every frame
// must still come out as on a fresh device, whatever lies under the glow or changes in a shape.
TEST(GlowPass, ARepeatedGlowIsReusedOnlyWhileItsShapesStayTheSame) {
  auto draw_frame = [](Color background, Color ring, const wchar_t* text) {
    ResetGlowLayer();
    BeginDraw();
    Clear(background);
    FillRect(Rc{20, 20, 60, 30}, Color{0.2f, 0.3f, 0.9f, 1});
    GlowRing(150, 60, 30, ring, 4);
    GlowText(text, Rc{200, 20, 90, 30}, 16, Color{1, 0.8f, 0.2f, 1}, 0, true);
    EndFrame();
    return Copy(FrameImage());
  };
  auto fresh = [&](Color background, Color ring, const wchar_t* text) {
    EXPECT_TRUE(CreateDevice(300, 120, 1));
    return draw_frame(background, ring, text);
  };
  auto differing = [](const Shot& a, const Shot& b) {
    int n = 0;
    for (size_t i = 0; i < a.px.size(); ++i) n += a.px[i] != b.px[i];
    return n;
  };
  const Color black{0, 0, 0, 1}, grey{0.3f, 0.3f, 0.3f, 1}, white{1, 1, 1, 1}, red{1, 0, 0, 1};
  const Shot plain = fresh(black, white, L"GLOW");
  const Shot on_grey = fresh(grey, white, L"GLOW");
  const Shot red_ring = fresh(black, red, L"GLOW");
  const Shot other_text = fresh(black, white, L"OTHER");
  ASSERT_GT(differing(plain, red_ring), 0);
  ASSERT_GT(differing(plain, other_text), 0);

  ASSERT_TRUE(CreateDevice(300, 120, 1));
  draw_frame(black, white, L"GLOW");
  EXPECT_EQ(differing(draw_frame(black, white, L"GLOW"), plain), 0);
  EXPECT_EQ(differing(draw_frame(grey, white, L"GLOW"), on_grey), 0);
  EXPECT_EQ(differing(draw_frame(black, red, L"GLOW"), red_ring), 0);
  EXPECT_EQ(differing(draw_frame(black, red, L"GLOW"), red_ring), 0);
  EXPECT_EQ(differing(draw_frame(black, white, L"OTHER"), other_text), 0);
  EXPECT_EQ(differing(draw_frame(black, white, L"GLOW"), plain), 0);
  ReleaseDevice();
}

TEST(GlowPass, TextGlowIsBahnschriftAndDrawn) {
  ASSERT_TRUE(CreateDevice(100, 40, 1));
  ResetGlowLayer();
  GlowText(L"BPM", Rc{0, 0, 100, 40}, 16, Color{1, 1, 1, 1}, kAlignCenter, true);
  ASSERT_EQ(GlowList.size(), 1u);
  EXPECT_EQ(GlowList[0].kind, kGlowText);
  EXPECT_EQ(GlowList[0].font, kFontBahnschrift);
  EXPECT_EQ(GlowList[0].text, L"BPM");
  EXPECT_FLOAT_EQ(GlowList[0].g5, 16);
  ResetGlowLayer();
  ReleaseDevice();
  Shot s = Frame(100, 40, [] { GlowText(L"BPM", Rc{0, 0, 100, 40}, 16, Color{1, 1, 1, 1}, kAlignCenter, true); });
  EXPECT_GT(s.lum(50, 20), 60);
  EXPECT_EQ(s.lum(2, 2), 0);
}

TEST(GlowPass, ColumnGlowLooksLikeItsColumnsDrawnOneByOne) {
  // A waveform-like run of 3-column steps with gaps, under a moved transform.
  static std::vector<float> half(240, -1.0f);
  for (int c = 20; c + 3 <= 220; c += 3)
    if (c % 27 != 2) std::fill_n(half.begin() + c, 3, 4.0f + 30.0f * std::fabs(std::sin(c * 0.07f)));
  const Color blue = ColorOf(0x2E9BFF, 0.3f);
  auto columns = [&] {
    SetTransform(Affine{1, 0, 0, 1, 10, 0});
    GlowColumns(half.data(), static_cast<int>(half.size()), 20, 60, blue);
    SetTransform(Affine{});
  };
  auto rectangles = [&] {
    SetTransform(Affine{1, 0, 0, 1, 10, 0});
    for (int c = 0; c < static_cast<int>(half.size()); c += 3)
      if (half[c] >= 0) GlowRoundedRect(Rc{20.0f + c, 60 - half[c], 3, 2 * half[c]}, 0, blue);
    SetTransform(Affine{});
  };
  Shot one = Frame(300, 120, columns);
  Shot many = Frame(300, 120, rectangles);
  int worst = 0;
  double light_one = 0, light_many = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 300; ++x)
      for (int c = 0; c < 3; ++c) {
        worst = std::max(worst, std::abs(one.channel(x, y, c) - many.channel(x, y, c)));
        light_one += one.channel(x, y, c), light_many += many.channel(x, y, c);
      }
  // Columns are sampled at the half-size glow target's pixel centres, so a step's edge may move by
  // half a glow pixel; the light as a whole stays the same.
  EXPECT_LE(worst, 30);
  EXPECT_NEAR(light_one, light_many, 0.02 * light_many);
  EXPECT_GT(one.channel(150, 60, 0), 20);  // the glow is there...
  EXPECT_EQ(one.lum(5, 60), 0);            // ...and not left of the shifted run
  EXPECT_EQ(one.lum(290, 60), 0);
}

TEST(GlowPass, ColumnGlowsKeepOnlyTheColumnsThatGlow) {
  ASSERT_TRUE(CreateDevice(100, 40, 1));
  ResetGlowLayer();
  const float gaps[] = {-1, -1, -1};
  GlowColumns(gaps, 3, 0, 20, Color{1, 1, 1, 1});
  GlowColumns(nullptr, 3, 0, 20, Color{1, 1, 1, 1});
  EXPECT_TRUE(GlowList.empty());
  const float some[] = {-1, -1, 2, 5, -1, 3, -1};
  GlowColumns(some, 7, 10, 20, Color{1, 1, 1, 1});
  ASSERT_EQ(GlowList.size(), 1u);
  EXPECT_EQ(GlowList[0].kind, kGlowColumns);
  EXPECT_FLOAT_EQ(GlowList[0].g1, 12);
  EXPECT_EQ(GlowList[0].columns, (std::vector<float>{2, 5, -1, 3}));
  ResetGlowLayer();
  ReleaseDevice();
}

TEST(GlowFrameEnd, OverlaysLieAboveGlowsAndAreDestroyed) {
  int calls = 0;
  Shot s = Frame(200, 100, [&] {
    GlowCircle(100, 50, 20, Color{1, 1, 1, 1});
    SetTransform(Affine{1, 0, 0, 1, 500, 500});  // overlays draw untransformed
    QueueOverlay([&calls] {
      ++calls;
      FillRect(Rc{90, 40, 20, 20}, Color{1, 0, 0, 1});
      QueueOverlay([&calls] { ++calls; });
    });
  });
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(s.at(100, 50), 0xFFFF0000u);  // opaque red, not brightened
  EXPECT_GT(s.lum(80, 50), 100);
  EXPECT_TRUE(OverlayList.empty());
}

TEST(GlowFrameEnd, PresentsOnceAndAFailedPresentReleasesTheDevice) {
  int presented = 0;
  PixelView shown;
  SetFramePresenter([&](const PixelView& v, const PixelBox&) {
    ++presented;
    shown = v;
    return true;
  });
  ASSERT_TRUE(CreateDevice(64, 32, 1));
  BeginDraw();
  Clear(Color{0, 0, 1, 1});
  EndFrame();
  EXPECT_EQ(presented, 1);
  EXPECT_EQ(shown.width, 64);
  EXPECT_EQ(shown.pixels[0], 0xFF0000FFu);
  EXPECT_TRUE(HasDevice());

  const uint32_t generation = DeviceGeneration();
  SetFramePresenter([](const PixelView&, const PixelBox&) { return false; });
  ResetGlowLayer();
  BeginDraw();
  QueueOverlay([] {});
  EndFrame();
  EXPECT_FALSE(HasDevice());
  EXPECT_TRUE(OverlayList.empty());
  ASSERT_TRUE(CreateDevice(64, 32, 1));
  EXPECT_GT(DeviceGeneration(), generation);
  SetFramePresenter(nullptr);
  ReleaseDevice();
}

TEST(PngFrames, OffscreenFrameIsWrittenAndTheWindowKeepsItsDevice) {
  TempHome home;
  const std::wstring path = Utf8ToWide(home.path() + "/frame.png");
  int presented = 0;
  SetFramePresenter([&](const PixelView&, const PixelBox&) { return ++presented > 0; });
  ASSERT_TRUE(CreateDevice(50, 40, 1));
  BeginDraw();
  Clear(Color{0, 1, 0, 1});
  GlowCircle(10, 10, 3, Color{1, 1, 1, 1});
  const size_t window_glows = GlowList.size();

  std::wstring error;
  ASSERT_TRUE(RenderFrameToPng(120, 80, [] {
    FillRect(Rc{0, 0, 60, 80}, Color{1, 0, 0, 1});
    GlowCircle(90, 40, 5, Color{1, 1, 1, 1});
  }, path, 1.0f, &error)) << WideToUtf8(error);
  EXPECT_EQ(presented, 0);

  std::vector<uint32_t> pixels;
  int w = 0, h = 0;
  ASSERT_TRUE(ReadPngPixels(path, &pixels, &w, &h));
  EXPECT_EQ(w, 120);
  EXPECT_EQ(h, 80);
  EXPECT_EQ(pixels[40 * 120 + 10], 0xFFFF0000u);
  EXPECT_GT(pixels[40 * 120 + 90] & 0xFF, 100u);
  EXPECT_TRUE(WriteTemps(home.path()).empty());

  // The window's frame, glows and drawing target are as they were.
  EXPECT_EQ(FrameImage().width, 50);
  EXPECT_EQ(FrameImage().pixels[0], 0xFF00FF00u);
  EXPECT_EQ(GlowList.size(), window_glows);
  EXPECT_EQ(DrawTarget(), FrameTarget());
  EXPECT_FALSE(RenderFrameToPng(0, 80, [] {}, path, 1.0f, &error));
  EXPECT_FALSE(RenderFrameToPng(10, 10, [] {}, Utf8ToWide(home.path() + "/no/such/folder/x.png"), 1.0f, &error));
  EXPECT_FALSE(error.empty());
  ResetGlowLayer();
  SetFramePresenter(nullptr);
  ReleaseDevice();
}
