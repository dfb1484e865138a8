#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "engine/deck_view.h"
#include "platform/draw_surface.h"
#include "ui/draw.h"
#include "ui/glow.h"
#include "ui/icons.h"
#include "ui/language.h"

// A stand-in for the translation table with one of its rows, so that the fitting of translations
// is tested before the table exists; the table's own Translate replaces it when linked in.
__attribute__((weak)) std::wstring Translate(std::wstring_view text) {
  if (UiLanguage() == 2 && text == L"SKIP") return L"ÜBERSPRINGEN";
  return std::wstring(text);
}

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// One frame's pixels, copied out after the frame ended.
struct Shot {
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  uint32_t at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
  int r(int x, int y) const { return (at(x, y) >> 16) & 255; }
  int g(int x, int y) const { return (at(x, y) >> 8) & 255; }
  int b(int x, int y) const { return at(x, y) & 255; }
  int lum(int x, int y) const { return std::max({r(x, y), g(x, y), b(x, y)}); }
};

// Draws one frame of w x h pixels on opaque black, ends it (glows and overlays included) and
// returns its pixels. The device is released afterwards.
Shot Render(int w, int h, const std::function<void()>& draw, float scale = 1.0f) {
  Shot shot;
  EXPECT_TRUE(CreateDevice(w, h, scale));
  ResetGlowLayer();
  BeginDraw();
  Clear(Color{0, 0, 0, 1});
  draw();
  EndFrame();
  PixelView v = FrameImage();
  shot.w = v.width, shot.h = v.height;
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) shot.px.push_back(v.pixels[static_cast<size_t>(y) * v.stride + x]);
  ReleaseDevice();
  return shot;
}

// Bounds of the pixels brighter than `threshold`: [x0, x1] x [y0, y1]; x0 = -1 when none.
struct Ink {
  int x0 = -1, y0 = -1, x1 = -1, y1 = -1;
};
Ink InkOf(const Shot& s, int threshold = 40) {
  Ink ink;
  for (int y = 0; y < s.h; ++y)
    for (int x = 0; x < s.w; ++x) {
      if (s.lum(x, y) <= threshold) continue;
      if (ink.x0 < 0 || x < ink.x0) ink.x0 = x;
      if (x > ink.x1) ink.x1 = x;
      if (ink.y0 < 0) ink.y0 = y;
      ink.y1 = y;
    }
  return ink;
}

int LitPixels(const Shot& s) {
  int n = 0;
  for (uint32_t p : s.px) n += (p & 0xFFFFFF) != 0;
  return n;
}

const Color kWhite{1, 1, 1, 1};

}  // namespace

// ---- shapes ---------------------------------------------------------------------------------

TEST(DrawShapes, RectanglesCoverTheirPixelsAndNoMore) {
  Shot s = Render(80, 60, [] {
    FillRect(Rc{10, 10, 20, 5}, kWhite);
    FillRoundedRect(Rc{40, 10, 30, 30}, 10, kWhite);
  });
  EXPECT_EQ(s.lum(10, 10), 255);
  EXPECT_EQ(s.lum(29, 14), 255);
  EXPECT_EQ(s.lum(9, 10), 0);
  EXPECT_EQ(s.lum(30, 10), 0);
  EXPECT_EQ(s.lum(10, 15), 0);
  // Rounded corners are cut; the middle of each side is filled.
  EXPECT_EQ(s.lum(40, 10), 0);
  EXPECT_EQ(s.lum(69, 39), 0);
  EXPECT_EQ(s.lum(55, 10), 255);
  EXPECT_EQ(s.lum(40, 25), 255);
}

TEST(DrawShapes, RoundedOutlineStaysInsideItsRectangle) {
  Shot s = Render(80, 80, [] { StrokeRoundedRect(Rc{10, 10, 50, 50}, 6, kWhite, 4); });
  for (int x = 10; x < 14; ++x) EXPECT_EQ(s.lum(x, 35), 255) << x;
  EXPECT_EQ(s.lum(9, 35), 0);
  EXPECT_EQ(s.lum(14, 35), 0);
  EXPECT_EQ(s.lum(59, 35), 255);
  EXPECT_EQ(s.lum(60, 35), 0);
  EXPECT_EQ(s.lum(35, 35), 0);
}

TEST(DrawShapes, LinesHaveRoundCapsAndCirclesOutlinesAreHollow) {
  Shot s = Render(120, 60, [] {
    DrawLine(10, 20, 50, 20, kWhite, 6);
    FillCircle(80, 20, 10, kWhite);
    StrokeCircle(80, 45, 10, kWhite, 2);
    FillTriangle(PointF{10, 40}, PointF{40, 40}, PointF{10, 58}, kWhite);
  });
  EXPECT_GT(s.lum(8, 20), 200);   // the cap reaches half the width past the end
  EXPECT_EQ(s.lum(5, 20), 0);
  EXPECT_LT(s.lum(7, 17), s.lum(8, 20));  // rounded, not square
  EXPECT_EQ(s.lum(80, 20), 255);
  EXPECT_EQ(s.lum(80, 45), 0);
  EXPECT_GT(s.lum(80, 35), 200);
  EXPECT_EQ(s.lum(15, 43), 255);
  EXPECT_EQ(s.lum(38, 56), 0);
}

TEST(DrawShapes, PanelHasGradientOutlineAndHighlight) {
  Shot s = Render(120, 120, [] { DrawPanel(Rc{10, 10, 100, 100}, 8); });
  // Outline #242935, fill from #171A22 at the top to #0F1117 at the bottom.
  EXPECT_EQ(s.at(60, 110 - 1) & 0xFFFFFF, 0x242935u);
  EXPECT_NEAR(s.b(60, 20), 0x22, 2);
  EXPECT_NEAR(s.b(60, 100), 0x17, 2);
  EXPECT_GT(s.lum(60, 10), s.lum(60, 12));  // the outline and its faint highlight on top
}

// ---- arcs -----------------------------------------------------------------------------------

TEST(DrawArcs, AnglesRunClockwiseFromTwelveOClock) {
  constexpr float cx = 50, cy = 50, r = 30;
  auto lit = [&](const Shot& s, float deg) {
    const double t = deg * M_PI / 180;
    return s.lum(static_cast<int>(cx + r * std::sin(t)), static_cast<int>(cy - r * std::cos(t))) > 128;
  };
  Shot knob = Render(100, 100, [] { DrawArc(cx, cy, r, -135, 135, kWhite, 4); });
  EXPECT_TRUE(lit(knob, 0));
  EXPECT_TRUE(lit(knob, -90));
  EXPECT_TRUE(lit(knob, 90));
  EXPECT_FALSE(lit(knob, 180));

  Shot back = Render(100, 100, [] { DrawArc(cx, cy, r, 0, -90, kWhite, 4); });
  EXPECT_TRUE(lit(back, -45));
  EXPECT_FALSE(lit(back, 45));
  EXPECT_FALSE(lit(back, 180));

  Shot large = Render(100, 100, [] { DrawArc(cx, cy, r, 0, 270, kWhite, 4); });
  EXPECT_TRUE(lit(large, 180));
  EXPECT_TRUE(lit(large, 135));
  EXPECT_FALSE(lit(large, -45));
}

TEST(DrawArcs, TinySweepsDrawNothingAndNearlyFullOnesACircle) {
  EXPECT_EQ(LitPixels(Render(100, 100, [] { DrawArc(50, 50, 30, 40, 40, kWhite, 4); })), 0);
  EXPECT_EQ(LitPixels(Render(100, 100, [] { DrawArc(50, 50, 30, 40, 40.49f, kWhite, 4); })), 0);
  EXPECT_GT(LitPixels(Render(100, 100, [] { DrawArc(50, 50, 30, 40, 40.5f, kWhite, 4); })), 0);
  for (float end : {359.5f, 360.0f, 400.0f}) {
    Shot s = Render(100, 100, [end] { DrawArc(50, 50, 30, 0, end, kWhite, 4); });
    // A whole circle has no caps: the top is covered evenly on both sides of twelve o'clock.
    EXPECT_EQ(s.lum(50, 20), 255) << end;
    EXPECT_EQ(s.lum(48, 20), 255) << end;
    EXPECT_EQ(s.lum(52, 20), 255) << end;
    EXPECT_EQ(s.lum(50, 80), 255) << end;
  }
}

// ---- gradients ------------------------------------------------------------------------------

TEST(DrawGradients, LinearMidpointsAndMirroring) {
  Shot s = Render(100, 101, [] {
    FillGradientRoundedRect(Rc{0, 0, 40, 101}, 0, Color{0, 0, 0, 1}, kWhite);
    FillRect(Rc{50, 0, 50, 101}, LinearGradientBrush(Color{0, 0, 0, 1}, kWhite, {0, 0}, {0, 101}, true));
  });
  EXPECT_LT(s.lum(20, 0), 6);
  EXPECT_NEAR(s.lum(20, 50), 128, 3);
  EXPECT_GT(s.lum(20, 100), 249);
  // Mirrored: a, b, a.
  EXPECT_LT(s.lum(75, 0), 6);
  EXPECT_GT(s.lum(75, 50), 249);
  EXPECT_NEAR(s.lum(75, 25), 128, 6);
  EXPECT_LT(s.lum(75, 100), 6);
}

TEST(DrawGradients, RadialCentreOffsetAndSoftGlow) {
  Shot s = Render(200, 100, [] {
    FillRadialEllipse(50, 50, 40, kWhite, Color{0, 0, 0, 1}, 0, 0);
    FillRadialEllipse(150, 50, 40, kWhite, Color{0, 0, 0, 1}, 0.5f, 0);
  });
  EXPECT_GE(s.lum(50, 50), 248);
  EXPECT_NEAR(s.lum(70, 50), 128, 6);
  EXPECT_LT(s.lum(89, 50), 12);
  EXPECT_EQ(s.lum(50, 5), 0);  // outside the circle nothing is painted
  EXPECT_GT(s.lum(170, 50), 245);  // the origin moved right by half the radius
  EXPECT_GT(s.lum(160, 50), s.lum(140, 50) + 40);

  Shot glow = Render(200, 100, [] {
    SoftGlow(100, 50, 80, 40, Color{1, 1, 1, 1});
    SoftGlow(100, 50, 80, 40, Color{1, 0, 0, 0.002f});
  });
  EXPECT_GE(glow.lum(100, 50), 248);
  EXPECT_NEAR(glow.lum(128, 50), 115, 6);  // 0.45 at 35 % of the radius
  EXPECT_LT(glow.lum(179, 50), 6);
  EXPECT_EQ(glow.r(100, 50), glow.g(100, 50));  // the faint red glow drew nothing
}

TEST(DrawGradients, CacheKeysKeepEveryColourPairApart) {
  ASSERT_TRUE(CreateDevice(40, 10, 1));
  // The red channel's top bits sit where a single key would put the flags.
  const Color black{0, 0, 0, 1}, red64{64 / 255.0f, 0, 0, 1}, red192{192 / 255.0f, 0, 0, 1};
  GradientBrush* mirrored = LinearGradientBrush(black, kWhite, {0, 0}, {1, 0}, true);
  GradientBrush* plain = LinearGradientBrush(red64, kWhite, {0, 0}, {1, 0}, false);
  EXPECT_NE(mirrored, plain);
  EXPECT_EQ(mirrored, LinearGradientBrush(black, kWhite, {0, 0}, {1, 0}, true));
  GradientBrush* three = RadialGradientBrush(Color{64 / 255.0f, 0, 0, 1}, kWhite, true);
  GradientBrush* two = RadialGradientBrush(red192, kWhite, false);
  EXPECT_NE(three, two);
  ReleaseDevice();

  // And each draws its own colours.
  Shot s = Render(100, 10, [&] {
    FillRect(Rc{0, 0, 100, 5}, LinearGradientBrush(red64, kWhite, {0, 0}, {100, 0}, false));
    FillRect(Rc{0, 5, 100, 5}, LinearGradientBrush(black, kWhite, {0, 0}, {100, 0}, true));
  });
  EXPECT_NEAR(s.r(0, 2), 64, 2);
  EXPECT_LT(s.r(0, 7), 4);
  EXPECT_GT(s.lum(50, 7), 245);
}

// Gradient fills are written straight into the pixels under a transform that only scales and
// moves; any other transform goes through cairo. Both ways must paint the same.
TEST(DrawGradients, PixelFillsMatchCairo) {
  const Affine kCairoPath{1, 0, 1e-7f, 1, 0, 0};  // a shear too small to see, too big to skip
  struct Case {
    const char* name;
    std::function<void()> draw;
  };
  const Case cases[] = {
      {"rounded vertical", [] {
         FillGradientRoundedRect(Rc{10.3f, 7.6f, 120.5f, 60.2f}, 9, ColorOf(0xFF5E2B, 0.8f), ColorOf(0x1FA8FF, 0.3f));
       }},
      {"horizontal fade", [] {
         FillRect(Rc{5, 70, 150, 40},
                  LinearGradientBrush(ColorOf(0x080A10, 0.95f), ColorOf(0x080A10, 0), {5, 0}, {85, 0}, false));
       }},
      {"mirrored", [] {
         FillRoundedRect(Rc{140, 10, 50, 100}, 4,
                         LinearGradientBrush(ColorOf(0x2BF59A), ColorOf(0xB57BFF, 0.5f), {0, 10}, {0, 110}, true));
       }},
      {"soft glow", [] { SoftGlow(100, 60, 90, 45, ColorOf(0x1FA8FF, 0.6f)); }},
      {"large soft glow", [] { SoftGlow(110, 90, 300, 140, ColorOf(0xFF4FD8, 0.9f)); }},
      {"radial with origin", [] {
         FillRadialEllipse(60, 60, 40, ColorOf(0x3A4050), ColorOf(0x0E1015), -0.3f, -0.4f);
       }},
  };
  for (const Case& c : cases) {
    for (const Affine& place : {Affine{}, Affine{1.5f, 0, 0, 1.5f, 3, -2}, Affine{-1, 0, 0, 1, 200, 0}}) {
      auto draw = [&](bool via_cairo) {
        return Render(220, 180, [&] {
          FillRect(Rc{0, 0, 220, 180}, Color{0.2f, 0.1f, 0.05f, 1});
          PushClip(Rc{0, 0, 170, 150});
          SetTransform(via_cairo ? Compose(kCairoPath, place) : place);
          c.draw();
          SetTransform(Affine{});
          PopClip();
        });
      };
      const Shot pixels = draw(false), cairo = draw(true);
      int worst = 0, off = 0, painted = 0;
      for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 220; ++x) {
          const int d = std::max({std::abs(pixels.r(x, y) - cairo.r(x, y)), std::abs(pixels.g(x, y) - cairo.g(x, y)),
                                  std::abs(pixels.b(x, y) - cairo.b(x, y))});
          worst = std::max(worst, d);
          off += d > 3;
          painted += cairo.at(x, y) != 0xFF331A0Du;
        }
      // Inside, the same colours; on the antialiased rim, a close cover.
      EXPECT_GT(painted, 500) << c.name;
      EXPECT_LT(off, painted / 50 + 8) << c.name << " at scale " << place.m11;
      EXPECT_LE(worst, 48) << c.name << " at scale " << place.m11;
      EXPECT_EQ(pixels.at(200, 170), cairo.at(200, 170)) << c.name;  // the clip holds
    }
  }
}

// ---- bad input ------------------------------------------------------------------------------

TEST(DrawSanity, BadNumbersDropOneShapeNotTheFrame) {
  Shot s = Render(60, 40, [] {
    FillRect(Rc{kNaN, 0, 10, 10}, kWhite);
    FillRect(Rc{0, 0, -10, 10}, kWhite);
    FillRoundedRect(Rc{0, 0, 10, 10}, kNaN, kWhite);
    StrokeRoundedRect(Rc{0, 0, 10, 10}, 2, kWhite, -3);
    DrawLine(0, 0, std::numeric_limits<float>::infinity(), 5, kWhite, 2);
    DrawLine(0, 0, 10, 5, kWhite, -2);
    FillCircle(5, 5, -4, kWhite);
    StrokeCircle(5, 5, 1e30f, kWhite, 1);
    DrawArc(5, 5, kNaN, 0, 90, kWhite, 2);
    DrawArc(5, 5, 4, kNaN, 90, kWhite, 2);
    FillTriangle(PointF{0, 0}, PointF{kNaN, 1}, PointF{1, 1}, kWhite);
    FillGradientRoundedRect(Rc{0, 0, 10, 0}, 2, kWhite, kWhite);
    FillRadialEllipse(5, 5, kNaN, kWhite, kWhite, 0, 0);
    SoftGlow(5, 5, -3, 3, kWhite);
    DrawText(L"x", Rc{0, 0, 20, 20}, kNaN, kWhite, 0, false, 0);
    DrawText(L"x", Rc{0, 0, 20, kNaN}, 12, kWhite, 0, false, 0);
    FillWaveColumns(nullptr, 0, 5, 0, 5, 5, kWhite, kWhite, 1);
    PushClip(Rc{kNaN, 0, 5, 5});
    FillRect(Rc{0, 0, 5, 5}, kWhite);  // clipped away entirely
    PopClip();
    SetTransform(Affine{kNaN, 0, 0, 1, 0, 0});
    FillRect(Rc{0, 0, 5, 5}, kWhite);
    SetTransform(Affine{0, 0, 0, 0, 0, 0});  // singular
    FillRect(Rc{0, 0, 5, 5}, kWhite);
    SetTransform(Affine{});
    FillRect(Rc{40, 20, 10, 10}, kWhite);
    EXPECT_TRUE(DrawTarget()->Ok());
  });
  EXPECT_EQ(s.lum(45, 25), 255);
  EXPECT_EQ(LitPixels(s), 100);
}

// ---- text -----------------------------------------------------------------------------------

TEST(DrawTextLayout, AlignmentAndVerticalCentring) {
  const Rc box{20, 10, 260, 40};
  for (int align : {kAlignLeft, kAlignCenter, kAlignRight}) {
    Shot s = Render(300, 60, [&] { DrawTextAsIs(L"HHHH", box, 20, kWhite, align, false, kFontSegoeUi); });
    Ink ink = InkOf(s);
    ASSERT_GE(ink.x0, 0) << align;
    // The ink's left edge, centre or right edge where the alignment puts it.
    const double at = align == kAlignLeft ? ink.x0 : align == kAlignCenter ? (ink.x0 + ink.x1 + 1) / 2.0 : ink.x1 + 1;
    const double want = align == kAlignLeft ? box.x : align == kAlignCenter ? box.CenterX() : box.Right();
    EXPECT_NEAR(at, want, align == kAlignCenter ? 2 : 4) << align;
    EXPECT_NEAR((ink.y0 + ink.y1 + 1) / 2.0, box.CenterY(), 3) << align;
  }
}

TEST(DrawTextLayout, LongTextIsCutInsideItsBoxAndEmptyDrawsNothing) {
  const Rc box{10, 10, 80, 30};
  Shot s = Render(200, 50, [&] {
    DrawTextAsIs(L"A very long track title that cannot fit", box, 14, kWhite, kAlignLeft, false, 0);
  });
  Ink ink = InkOf(s);
  EXPECT_GE(ink.x0, 10);
  EXPECT_LE(ink.x1, 89);
  EXPECT_GT(ink.x1, 70);  // cut with an ellipsis near the box's end, not dropped
  EXPECT_EQ(LitPixels(Render(100, 40, [] {
              DrawText(L"", Rc{0, 0, 100, 40}, 14, kWhite, 0, false, 0);
              DrawText(L"Hidden", Rc{0, 0, 0, 40}, 14, kWhite, 0, false, 0);
              DrawTextAsIs(L"Hidden", Rc{0, 0, -5, 40}, 14, kWhite, 0, false, 0);
            })),
            0);
}

TEST(DrawTextLayout, TooLowBoxesClipTheText) {
  Shot s = Render(100, 60, [] { DrawTextAsIs(L"Tall", Rc{10, 20, 80, 6}, 30, kWhite, 0, false, 0); });
  Ink ink = InkOf(s, 0);
  EXPECT_GE(ink.y0, 20);
  EXPECT_LE(ink.y1, 25);
}

TEST(DrawTextLayout, TranslationsShrinkToNoLessThanSeventyPercent) {
  const int saved = UiLanguage();
  SetUiLanguage(2);  // German: "SKIP" is "ÜBERSPRINGEN"
  const float full = TextWidth(L"ÜBERSPRINGEN", 20, true, kFontBahnschrift);
  ASSERT_GT(full, 60);
  auto ink_in = [&](float box_width, bool translate) {
    return InkOf(Render(400, 60, [&] {
      const Rc box{10, 5, box_width, 50};
      if (translate)
        DrawText(L"SKIP", box, 20, kWhite, kAlignLeft, true, kFontBahnschrift);
      else
        DrawTextAsIs(L"ÜBERSPRINGEN", box, 20, kWhite, kAlignLeft, true, kFontBahnschrift);
    }));
  };
  auto width = [](const Ink& i) { return i.x1 - i.x0 + 1; };
  auto height = [](const Ink& i) { return i.y1 - i.y0 + 1; };
  const Ink natural = ink_in(380, false);
  // Room for 80 % of it: drawn at 80 %, whole.
  EXPECT_NEAR(width(ink_in(full * 0.8f + 2, true)), width(natural) * 0.8, 3);
  // Room for 30 %: drawn at 70 % and cut, so its letters are 70 % high.
  const Ink squeezed = ink_in(full * 0.3f + 2, true);
  EXPECT_NEAR(height(squeezed), height(natural) * 0.7, 1.5);
  EXPECT_LE(width(squeezed), full * 0.3f + 2);
  // English is never shrunk: cut at full height.
  SetUiLanguage(0);
  const Ink english = ink_in(full * 0.3f + 2, false);
  EXPECT_EQ(height(english), height(natural));
  SetUiLanguage(saved);
}

TEST(DrawTextMeasure, WidthsCacheByEighthsFormatsByQuarters) {
  const std::wstring text = L"Frequencies of the low band";
  EXPECT_GT(TextWidth(text, 11.25f, false, 0), TextWidth(text, 11.0f, false, 0));
  EXPECT_EQ(TextWidth(text, 11.1f, false, 0), TextWidth(text, 11.0f, false, 0));  // one format
  EXPECT_GT(TextWidth(L"ab  ", 12, false, 0), TextWidth(L"ab", 12, false, 0) + 3);
  EXPECT_GT(TextWidth(text, 12, true, 0), TextWidth(text, 12, false, 0));
  EXPECT_EQ(TextWidth(L"", 12, false, 0), 0);
  EXPECT_EQ(GetTextFormat(11.1f, false, 0), GetTextFormat(11.2f, false, 0));
  EXPECT_NE(GetTextFormat(11.2f, false, 0), GetTextFormat(11.25f, false, 0));
  // Font indexes other than 1 and 2 are "Segoe UI", and never share a bold format.
  EXPECT_EQ(GetTextFormat(12, false, 5), GetTextFormat(12, false, 0));
  EXPECT_NE(GetTextFormat(12, false, 4), GetTextFormat(12, true, 0));
  EXPECT_EQ(GetTextFormat(0.1f, false, 0), nullptr);
}

TEST(DrawTextMeasure, FamiliesResolveThroughTheAliases) {
  EXPECT_EQ(UsedFontFamily(*GetTextFormat(12, false, kFontSegoeUi), "Deck"), "Inter");
  EXPECT_EQ(UsedFontFamily(*GetTextFormat(12, true, kFontSegoeUi), "Deck"), "Inter");
  EXPECT_EQ(UsedFontFamily(*GetTextFormat(12, true, kFontBahnschrift), "128.00"), "Roboto Condensed");
  EXPECT_EQ(UsedFontFamily(*GetTextFormat(12, false, kFontIcons), "\xEE\x80\xB7"), "Material Icons");
  TextFormat symbol("Segoe UI Symbol", 600, 13);
  EXPECT_EQ(UsedFontFamily(symbol, "\xE2\x9C\x93"), "Noto Sans Symbols2");  // ✓
}

// Titles in other scripts find a font through the aliases' fallbacks, in the body and the numbers
// font, plain and bold: no character is drawn as an empty box.
TEST(DrawTextMeasure, TitlesInOtherScriptsFindAFont) {
  const char* const titles[] = {"\xE6\x9D\xB1\xE4\xBA\xAC\xE3\x81\xAE\xE5\xA4\x9C",  // 東京の夜
                                "\xE5\x8C\x97\xE4\xBA\xAC\xE6\xAC\xA2\xE8\xBF\x8E\xE4\xBD\xA0",  // 北京欢迎你
                                "\xEC\x84\x9C\xEC\x9A\xB8\xEC\x9D\x98 \xEB\xB0\xA4",  // 서울의 밤
                                "\xD9\x84\xD9\x8A\xD9\x84\xD8\xA9 \xD9\x81\xD9\x8A \xD8\xA7\xD9\x84\xD9\x82\xD8\xA7\xD9\x87\xD8\xB1\xD8\xA9",  // ليلة في القاهرة
                                "Fire \xF0\x9F\x94\xA5 \xF0\x9F\x8E\xA7 Mix"};  // 🔥 🎧
  for (const char* title : titles)
    for (int font : {kFontSegoeUi, kFontBahnschrift})
      for (bool bold : {false, true})
        EXPECT_EQ(MissingGlyphCount(*GetTextFormat(13, bold, font), title), 0) << title << " font " << font << " bold " << bold;
  // A character that no font has is counted, so the check above can fail.
  EXPECT_EQ(MissingGlyphCount(*GetTextFormat(13, false, kFontSegoeUi), "a\xF3\xB0\x80\x80"), 1);  // U+F0000
}

TEST(DrawTextMeasure, LayoutCacheForgetsTextsThatStopBeingDrawn) {
  ASSERT_TRUE(CreateDevice(200, 40, 1));
  // Empty frames first, so texts of earlier tests have aged out before counting.
  for (int frame = 0; frame < 200; ++frame) {
    BeginDraw();
    EndFrame();
  }
  const size_t before = CachedTextLayoutCount();
  for (int frame = 0; frame < 200; ++frame) {
    BeginDraw();
    DrawTextAsIs(FormatTime(frame / 10.0, true), Rc{0, 0, 100, 40}, 14, kWhite, 0, false, 0);
    DrawTextAsIs(L"MASTER", Rc{100, 0, 100, 40}, 14, kWhite, 0, false, 0);
    EndFrame();
  }
  // A clock text per frame, yet only about a second of them stays, and the steady label with them.
  EXPECT_LT(CachedTextLayoutCount(), before + 100);
  EXPECT_GT(CachedTextLayoutCount(), before);
  ReleaseDevice();
}

TEST(DrawTextMeasure, FormatTime) {
  EXPECT_EQ(FormatTime(-3, false), L"0:00");
  EXPECT_EQ(FormatTime(59.99, true), L"0:59.9");
  EXPECT_EQ(FormatTime(75.38, true), L"1:15.3");
  EXPECT_EQ(FormatTime(75.9, false), L"1:15");
  EXPECT_EQ(FormatTime(5.05, true), L"0:05.0");
  EXPECT_EQ(FormatTime(3600, false), L"60:00");
  EXPECT_EQ(FormatTime(std::numeric_limits<double>::quiet_NaN(), true), L"0:00.0");
}

// ---- icons ----------------------------------------------------------------------------------

TEST(DrawIcons, TableIsSortedUniqueAndEveryGlyphExists) {
  auto table = IconTable();
  ASSERT_FALSE(table.empty());
  for (size_t i = 0; i < table.size(); ++i) {
    if (i > 0) {
      EXPECT_LT(table[i - 1].mdl2, table[i].mdl2) << table[i].name;
    }
    EXPECT_TRUE(FontHasGlyph("Material Icons", table[i].material)) << table[i].name;
    EXPECT_EQ(MaterialIconFor(table[i].mdl2), table[i].material);
  }
  // The code points the screens name.
  for (char32_t used : {0xE714, 0xE720, 0xE73E, 0xE767, 0xE771, 0xE7BA, 0xE7FC, 0xE896, 0xE8F1, 0xE93E, 0xE946,
                        0xE9E9})
    EXPECT_NE(MaterialIconFor(used), 0u) << std::hex << static_cast<uint32_t>(used);
  EXPECT_EQ(IconText(L"\xE768 1\xE000"), L"\xE037 1");
}

TEST(DrawIcons, IconsDrawAsGlyphs) {
  Shot s = Render(60, 60, [] { DrawTextAsIs(L"\xE768", Rc{0, 0, 60, 60}, 40, kWhite, kAlignCenter, false, 2); });
  Ink ink = InkOf(s);
  // The play triangle: about 40 % of the em wide, centred, its right tip narrower than its back.
  ASSERT_GE(ink.x0, 0);
  EXPECT_GT(ink.x1 - ink.x0, 10);
  EXPECT_NEAR((ink.x0 + ink.x1) / 2.0, 30, 4);
  EXPECT_GT(s.lum(ink.x0 + 2, ink.y0 + 3), s.lum(ink.x1 - 1, ink.y0 + 3));
}

// ---- waveform columns -----------------------------------------------------------------------

TEST(DrawColumns, ColumnsFollowTheBandGradientAndTheClip) {
  std::vector<float> half(100);
  for (int i = 0; i < 100; ++i) half[i] = i < 10 ? -1 : 20;
  const Color outer{0, 0, 1, 1}, inner{1, 1, 1, 1};
  Shot s = Render(120, 60, [&] {
    PushClip(Rc{0, 0, 80, 60});
    FillWaveColumns(half.data(), 0, 99, 10, 30, 20, outer, inner, 1);
    PopClip();
  });
  EXPECT_EQ(s.lum(15, 30), 0);         // column 5 has no data
  EXPECT_GE(s.r(40, 30), 248);  // next to the centre line: the inner colour
  EXPECT_EQ(s.b(40, 30), 255);
  EXPECT_LT(s.r(40, 11), 40);          // near the extent, the outer colour
  EXPECT_GT(s.b(40, 11), 240);
  EXPECT_NEAR(s.r(40, 20), 128, 8);    // half way
  EXPECT_EQ(s.lum(40, 9), 0);
  EXPECT_EQ(s.lum(85, 30), 0);         // clipped
  EXPECT_EQ(s.lum(79, 30), 255);
}

TEST(DrawColumns, QuarterTurnMatchesTheUprightLane) {
  std::vector<float> half(40);
  for (int i = 0; i < 40; ++i) half[i] = 3.0f + (i * 7) % 13 + 0.5f;
  const Color outer{0.1f, 0.3f, 0.9f, 0.85f}, inner{1, 0.7f, 0.3f, 0.9f};
  Shot upright = Render(64, 64, [&] { FillWaveColumns(half.data(), 0, 39, 8, 30, 20, outer, inner, 0.38f); });
  // Rotated a quarter turn about the origin and moved back on screen: x' = y, y' = 64 - x.
  Shot turned = Render(64, 64, [&] {
    SetTransform(Affine{0, -1, 1, 0, 0, 64});
    FillWaveColumns(half.data(), 0, 39, 8, 30, 20, outer, inner, 0.38f);
  });
  int differing = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) differing += std::abs(upright.lum(x, y) - turned.lum(y, 63 - x)) > 2;
  EXPECT_EQ(differing, 0);
  EXPECT_GT(LitPixels(upright), 500);
  // Any other transform fills shapes instead: same place, same colours.
  Shot sheared = Render(64, 64, [&] {
    SetTransform(Affine{1, 0, 0.0001f, 1, 0, 0});
    FillWaveColumns(half.data(), 0, 39, 8, 30, 20, outer, inner, 0.38f);
  });
  EXPECT_NEAR(sheared.lum(20, 30), upright.lum(20, 30), 3);
  EXPECT_NEAR(sheared.lum(30, 25), upright.lum(30, 25), 3);
}

// ---- bitmaps and targets --------------------------------------------------------------------

TEST(DrawBitmaps, StretchedWithRoundedCorners) {
  EXPECT_EQ(CreateBitmapFromPixels(nullptr, 2, 2), nullptr);
  const uint32_t pixels[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
  EXPECT_EQ(CreateBitmapFromPixels(pixels, 2, 2), nullptr);  // no device
  Shot s = Render(100, 60, [&] {
    EXPECT_EQ(CreateBitmapFromPixels(pixels, 0, 2), nullptr);
    auto bitmap = CreateBitmapFromPixels(pixels, 2, 2);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->generation, DeviceGeneration());
    DrawImage(bitmap, Rc{0, 0, 40, 40}, 1, 0);
    DrawImage(bitmap, Rc{50, 0, 40, 40}, 1, 12);
    DrawImage(bitmap, Rc{0, 45, 40, 10}, 0.5f, 0);
    DrawImage(nullptr, Rc{0, 0, 100, 60}, 1, 0);
  });
  EXPECT_EQ(s.at(2, 2) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(s.at(37, 2) & 0xFFFFFF, 0x00FF00u);
  EXPECT_EQ(s.at(2, 37) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(s.lum(50, 0), 0);  // the rounded corner is cut
  EXPECT_GT(s.r(56, 14), 150);
  EXPECT_LT(s.b(56, 14), 100);
  EXPECT_NEAR(s.r(2, 47), 128, 2);
}

// The logo shipped in assets/ is found beside the program, decoded and drawn: deck A's blue on
// the left, deck B's orange on the right, the lit lens between, the tile's corners cut.
TEST(DrawBitmaps, TheShippedLogoIsFoundAndDrawn) {
  Shot s = Render(120, 120, [] {
    const std::shared_ptr<Bitmap> logo = LoadLogoBitmap();
    ASSERT_NE(logo, nullptr) << "assets/logo.png was not found or not decoded";
    EXPECT_EQ(logo, LoadLogoBitmap()) << "made once per device";
    DrawImage(logo, Rc{24, 24, 72, 72}, 1, 12);
  });
  // Logo pixels (256 wide) map to 72 DIPs: the left disc's own part, the lens, the right disc's.
  auto at = [](float logoX) { return static_cast<int>(24 + logoX * 72 / 256); };
  const int mid = at(128);
  EXPECT_GT(s.b(at(60), mid), s.r(at(60), mid) + 80) << "deck A's blue";
  EXPECT_GT(s.r(at(195), mid), s.b(at(195), mid) + 80) << "deck B's orange";
  EXPECT_GT(std::min({s.r(mid, mid), s.g(mid, mid), s.b(mid, mid)}), 200) << "the lit lens";
  EXPECT_LT(s.lum(at(20), at(128)), 60) << "the dark tile";
  EXPECT_LT(s.lum(25, 25), 30) << "the tile's rounded corner";
  EXPECT_EQ(s.lum(10, 10), 0) << "nothing outside the rectangle";
}

TEST(DrawDevice, TargetsFollowTheScaleAndGenerationsRise) {
  ASSERT_TRUE(CreateDevice(301, 1, 1.5f));
  EXPECT_FLOAT_EQ(CurrentDpi(), 144);
  EXPECT_FLOAT_EQ(TargetWidth(), 301 / 1.5f);
  EXPECT_EQ(GlowTarget()->pixelWidth(), 150);
  EXPECT_EQ(GlowTarget()->pixelHeight(), 1);  // never 0 high
  const uint32_t generation = DeviceGeneration();
  ResizeTargets(200, 100, 2);
  EXPECT_FLOAT_EQ(TargetHeight(), 50);
  EXPECT_EQ(DeviceGeneration(), generation);
  ResizeTargets(0, 100, 2);  // cannot be made: the device goes
  EXPECT_FALSE(HasDevice());
  EXPECT_EQ(FrameImage().pixels, nullptr);
  ASSERT_TRUE(CreateDevice(10, 10, 1));
  EXPECT_GT(DeviceGeneration(), generation);
  EXPECT_FALSE(CreateDevice(0, 10, 1));
  EXPECT_FALSE(HasDevice());
  // At scale 2 a DIP is two pixels.
  Shot s = Render(40, 40, [] { FillRect(Rc{5, 5, 5, 5}, kWhite); }, 2.0f);
  EXPECT_EQ(s.lum(10, 10), 255);
  EXPECT_EQ(s.lum(19, 19), 255);
  EXPECT_EQ(s.lum(20, 20), 0);
}

TEST(DrawDevice, ClipsNestAndTransformsApply) {
  Shot s = Render(100, 100, [] {
    PushClip(Rc{10, 10, 50, 50});
    PushClip(Rc{30, 30, 50, 50});
    FillRect(Rc{0, 0, 100, 100}, kWhite);
    PopClip();
    PopClip();
    SetTransform(Affine{1, 0, 0, 1, 70, 70});
    FillRect(Rc{0, 0, 10, 10}, Color{1, 0, 0, 1});
    PushClip(Rc{0, 0, 5, 5});  // left open: dropped at the frame's end
  });
  EXPECT_EQ(s.lum(29, 40), 0);
  EXPECT_EQ(s.lum(30, 30), 255);
  EXPECT_EQ(s.lum(59, 59), 255);
  EXPECT_EQ(s.lum(60, 59), 0);
  EXPECT_EQ(s.at(75, 75) & 0xFFFFFF, 0xFF0000u);
}

// Calls whose pixels miss the clip return at once: every shape drawn under a small clip, moved
// across the whole frame and over each shape's antialiased rim, shows inside that clip exactly
// the pixels the unclipped frame shows, under a scale with a fraction and under a quarter turn.
TEST(DrawCulling, EveryShapeShowsInsideAClipWhatTheWholeFrameShows) {
  constexpr int kW = 120, kH = 90, kBoxW = 7, kBoxH = 5;
  const Color red{1, 0.2f, 0.1f, 0.9f}, blue{0.1f, 0.4f, 1, 0.7f};
  for (const Affine& turn : {Affine{1, 0, 0, 1, 3.3f, 2.6f}, Affine{0, 1, -1, 0, 78.4f, 4.2f}}) {
    auto scene = [&] {
      SetTransform(turn);
      FillRect(Rc{4.3f, 3.7f, 9, 6}, red);
      FillRoundedRect(Rc{16.2f, 3.1f, 12, 8}, 3, blue);
      FillGradientRoundedRect(Rc{30.5f, 2.5f, 10, 14}, 4, red, blue);
      StrokeRoundedRect(Rc{44.1f, 3.3f, 11, 9}, 2.5f, blue, 1.5f);
      // (Diagonal lines and triangles go through cairo even unturned: see the tolerance.)
      DrawLine(10.5f, 20.2f, 10.5f, 31.9f, red, 3);
      DrawLine(24.0f, 22.5f, 40.0f, 22.5f, blue, 2);
      StrokeCircle(50.2f, 26.1f, 6.3f, red, 2);
      FillCircle(8.4f, 42.6f, 4.7f, blue);
      DrawArc(24.6f, 42.2f, 7, 30, 250, red, 2.5f);
      SoftGlow(56.3f, 44.1f, 9, 5, red);
      FillRadialEllipse(8.2f, 56.8f, 6, blue, red, 0.2f, -0.3f);
      DrawButtonFace(Rc{18.6f, 51.2f, 16, 9},
                     ButtonFace{.radius = 3, .top = blue, .bottom = red, .edge = kWhite, .highlight = kWhite});
      DrawPanel(Rc{38.4f, 50.3f, 14, 10}, 3);
      DrawText(L"Cull", Rc{4.1f, 62.2f, 30, 10}, 9, kWhite, kAlignLeft, true, kFontSegoeUi);
    };
    const Shot whole = Render(kW, kH, scene, 1.25f);
    // Turned, every shape goes through cairo, whose edges shift by a level or two under a clip; a
    // shape left out would be off by far more.
    const int tolerance = turn.m11 == 0 ? 3 : 0;
    int compared = 0;
    for (int y0 = 0; y0 < kH; y0 += kBoxH)
      for (int x0 = 0; x0 < kW; x0 += kBoxW) {
        ASSERT_TRUE(CreateDevice(kW, kH, 1.25f));
        ResetGlowLayer();
        BeginDraw();
        Clear(Color{0, 0, 0, 1});
        FrameTarget()->SetBaseClip(PixelBox{x0, y0, std::min(kW, x0 + kBoxW), std::min(kH, y0 + kBoxH)});
        scene();
        EndFrame();
        const PixelView v = FrameImage();
        for (int y = y0; y < std::min(kH, y0 + kBoxH); ++y)
          for (int x = x0; x < std::min(kW, x0 + kBoxW); ++x) {
            const uint32_t got = v.pixels[static_cast<size_t>(y) * v.stride + x], want = whole.at(x, y);
            int worst = 0;
            for (int shift : {0, 8, 16})
              worst = std::max(worst, std::abs(static_cast<int>((got >> shift) & 255) - static_cast<int>((want >> shift) & 255)));
            ASSERT_LE(worst, tolerance) << "pixel " << x << "," << y << " under a clip at " << x0 << "," << y0;
            compared += whole.lum(x, y) > 0;
          }
        ReleaseDevice();
      }
    EXPECT_GT(compared, 1500);  // the shapes were on the frame
  }
}
