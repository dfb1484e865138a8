// Drawing kept as pixels: text lines held against the same lines rasterised directly through
// Pango and cairo, and what makes two drawings the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/draw_surface.h"
#include "ui/kept_images.h"

namespace {

constexpr int kW = 320, kH = 90;
constexpr Rgba kPaper{0.08f, 0.09f, 0.12f, 1};

struct Line {
  std::string text;
  float x, y, w, h;
  TextAlign align;
  Rgba colour;
};

// The largest channel difference between two images, and how many pixels the line changed.
struct Compared {
  int worst = 0;
  int inked = 0;
};
Compared Compare(const PixelView& a, const PixelView& b, const PixelView& paper) {
  Compared c;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      const uint32_t pa = a.pixels[static_cast<size_t>(y) * a.stride + x];
      const uint32_t pb = b.pixels[static_cast<size_t>(y) * b.stride + x];
      const uint32_t pp = paper.pixels[static_cast<size_t>(y) * paper.stride + x];
      for (int shift = 0; shift < 32; shift += 8)
        c.worst = std::max(c.worst, std::abs(static_cast<int>((pa >> shift) & 255) - static_cast<int>((pb >> shift) & 255)));
      c.inked += pa != pp;
    }
  return c;
}

// At places off the pixel grid, at a scale that is not whole, cut with an ellipsis, clipped by a
// box too low for it and by the target's clip, a kept line shows what the direct one shows.
TEST(KeptImages, AKeptLineLooksAsTheLineDrawnDirectly) {
  const TextFormat format("Bahnschrift", 600, 13);
  const std::vector<Line> lines = {
      {"KEY LOCK kept 1", 10.3f, 8.6f, 120, 20, TextAlign::Center, Rgba{0.6f, 0.8f, 1, 1}},
      {"A title far too long for its box, kept 2", 150.45f, 5.2f, 90, 18, TextAlign::Leading, Rgba{1, 1, 1, 0.8f}},
      {"Clipped low box kept 3", 20.7f, 40.1f, 140, 7, TextAlign::Trailing, Rgba{1, 0.5f, 0.3f, 1}},
      {"Under the target's clip kept 4", 170.2f, 45.9f, 130, 22, TextAlign::Leading, Rgba{0.4f, 1, 0.6f, 1}},
  };
  for (const float scale : {1.0f, 1.25f}) {
    const int w = static_cast<int>(kW * scale), h = static_cast<int>(kH * scale);
    auto direct = DrawSurface::Create(w, h, scale), kept = DrawSurface::Create(w, h, scale);
    auto paper = DrawSurface::Create(w, h, scale);
    ASSERT_TRUE(direct && kept && paper);
    for (DrawSurface* s : {direct.get(), kept.get(), paper.get()}) {
      s->Clear(kPaper);
      s->SetTransform(Affine{1, 0, 0, 1, 0.37f, 0.21f});
    }
    for (int pass = 0; pass < 2; ++pass) {  // the first pass draws directly; the second from the images
      kept->Clear(kPaper);
      for (const Line& l : lines) {
        const bool clipped = l.text.ends_with("4");
        if (clipped) kept->PushClip(l.x, l.y, l.w / 2, l.h);
        const bool from_image = DrawKeptTextLine(*kept, format, l.text, l.colour, l.x, l.y, l.w, l.h, l.align);
        EXPECT_EQ(from_image, pass == 1) << l.text;
        if (!from_image) {
          kept->SetColor(l.colour);
          kept->DrawTextLine(format, l.text, l.x, l.y, l.w, l.h, l.align);
        }
        if (clipped) kept->PopClip();
      }
    }
    for (const Line& l : lines) {
      const bool clipped = l.text.ends_with("4");
      if (clipped) direct->PushClip(l.x, l.y, l.w / 2, l.h);
      direct->SetColor(l.colour);
      direct->DrawTextLine(format, l.text, l.x, l.y, l.w, l.h, l.align);
      if (clipped) direct->PopClip();
    }
    const Compared c = Compare(direct->Pixels(), kept->Pixels(), paper->Pixels());
    EXPECT_LE(c.worst, 2) << "scale " << scale;
    EXPECT_GT(c.inked, 400) << "scale " << scale;
  }
}

// Another colour or another place within a pixel is another line; a whole pixel further is the
// same; lines no longer drawn are dropped; a moved or skewed target draws directly.
TEST(KeptImages, WhatMakesALineTheSameAndIdleLinesAreDropped) {
  const TextFormat format("Segoe UI", 400, 12);
  auto target = DrawSurface::Create(200, 60, 1.0f);
  ASSERT_TRUE(target);
  const Rgba white{1, 1, 1, 1}, red{1, 0, 0, 1};
  auto draw = [&](Rgba c, float x) {
    return DrawKeptTextLine(*target, format, "same line", c, x, 10, 100, 20, TextAlign::Leading);
  };
  EXPECT_FALSE(draw(white, 5));
  EXPECT_TRUE(draw(white, 5));
  EXPECT_TRUE(draw(white, 6)) << "a whole pixel further";
  EXPECT_FALSE(draw(red, 5)) << "another colour";
  EXPECT_FALSE(draw(white, 5.5f)) << "half a pixel further";
  target->SetTransform(Affine{0.9f, 0.1f, 0, 1, 0, 0});
  EXPECT_FALSE(draw(white, 5)) << "skewed";
  EXPECT_GT(KeptImageCount(), 0u);
  for (int frame = 0; frame < 200; ++frame) EvictIdleKeptImages();
  EXPECT_EQ(KeptImageCount(), 0u);
}

}  // namespace
