#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "broadcast/video_compositor.h"
#include "broadcast/video_effects.h"
#include "broadcast/video_feed.h"

namespace {

int Channel(uint32_t p, int c) { return static_cast<int>((p >> (8 * c)) & 0xFF); }

// Enlarging into the pixels directly gives what the surface's own bilinear draw gives, blended
// through an opacity or written outright, from a source whose rows are padded.
TEST(VideoEffects, EnlargeMatchesTheSurfacesBilinearDraw) {
  constexpr int sw = 64, sh = 36, stride = 70, dw = 150, dh = 90;
  std::vector<uint32_t> source(static_cast<size_t>(stride) * sh, 0xFFFF00FFu);  // padding: magenta
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < sw; ++x)  // sharp bars over a smooth ramp
      source[static_cast<size_t>(y) * stride + x] =
          0xFF000000u | static_cast<uint32_t>(x / 8 % 2 ? 230 : 20) << 16 | static_cast<uint32_t>(y * 7) << 8 |
          static_cast<uint32_t>(x * 4);
  const PixelView src{source.data(), sw, sh, stride};
  struct Case {
    float scaleX, scaleY, dx, dy;
    uint32_t weight, keep;
  };
  for (const Case& c : {Case{2.5f, 2.6f, -3.3f, -1.7f, 256, 0}, Case{2.4f, 2.7f, -5.0f, -2.0f, 100, 156},
                        Case{1.0f, 1.0f, 0, 0, 256, 0}}) {
    SCOPED_TRACE(c.scaleX);
    auto ours = DrawSurface::Create(dw, dh, 1), cairo = DrawSurface::Create(dw, dh, 1);
    for (DrawSurface* s : {ours.get(), cairo.get()}) {
      s->Clear({0.2f, 0.5f, 0.9f, 1});
      s->SetColor({1, 1, 1, 1});
      s->FillRect(30, 20, 60, 40);
    }
    const PixelView out = ours->Pixels();
    ASSERT_TRUE(EnlargeInto(src, c.scaleX, c.scaleY, c.dx, c.dy, out, c.weight, c.keep));
    ours->MarkDirty(0, 0, dw, dh);
    // The surface draws the enlarged source only over its box: cases whose box covers the target
    // compare whole, the plain copy only where it lies.
    cairo->DrawPixelsIn(src, true, c.dx, c.dy, sw * c.scaleX, sh * c.scaleY, c.weight / 256.0f, 0, false);
    const PixelView a = ours->Pixels(), b = cairo->Pixels();
    const int w = std::min<int>(dw, static_cast<int>(sw * c.scaleX + c.dx)), h = std::min<int>(dh, static_cast<int>(sh * c.scaleY + c.dy));
    int largest = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int ch = 0; ch < 4; ++ch)
          largest = std::max(largest, std::abs(Channel(a.pixels[y * a.stride + x], ch) - Channel(b.pixels[y * b.stride + x], ch)));
    EXPECT_LE(largest, 3);
  }
  // A shrink is refused and leaves the target alone.
  std::vector<uint32_t> target(16, 7);
  EXPECT_FALSE(EnlargeInto(src, 0.5f, 0.5f, 0, 0, PixelView{target.data(), 4, 4, 4}, 256, 0));
  EXPECT_EQ(target, std::vector<uint32_t>(16, 7));
}

// ZOOM mid-way: the left side enlarged and darkened by half the progress, the right one enlarged
// less over it at the progress's opacity, whatever the sides' own sizes (smaller, equal or larger
// than the output, which take different paths).
TEST(VideoEffects, ZoomBlendsTheEnlargedSidesAsTheLevelsSay) {
  constexpr int kW = 320, kH = 180;
  const uint32_t left = 0xFF3C8CC8u, right = 0xFFF0501Eu;  // (60, 140, 200) and (240, 80, 30)
  for (const auto& [rightW, rightH] : {std::pair{640, 360}, {kW, kH}, {160, 90}}) {
    SCOPED_TRACE(rightW);
    for (int side = 0; side < 2; ++side) {
      VideoFeedEntry& e = PublishedVideoFeed.entries[side];
      e.path = side == 0 ? L"/zoom/left.mp4" : L"/zoom/right.mp4";
      e.level = side == 0 ? 0.6f : 0.4f;
      VideoDeck& d = VideoDecks[side];
      d.hasVideo = true;
      d.frameWidth = side == 0 ? kW : rightW;
      d.frameHeight = side == 0 ? kH : rightH;
      d.frame.assign(static_cast<size_t>(d.frameWidth) * d.frameHeight, side == 0 ? left : right);
      ++d.frameVersion;
    }
    PublishedVideoFeed.transition = kTransitionZoom;
    PublishedVideoFeed.effect = kEffectNone;
    PublishedVideoFeed.overlay = false;
    VideoRenderer renderer;
    std::vector<uint32_t> out;
    ASSERT_TRUE(RenderVideoFrameAt(&renderer, kW, kH, 1.0, &out));
    const float t = 0.4f;
    for (const uint32_t p : {out[static_cast<size_t>(kH / 2) * kW + kW / 2], out[5 * kW + 7]})
      for (int c = 0; c < 4; ++c) {
        const float expected = c == 3 ? 255 : Channel(left, c) * (1 - 0.5f * t) * (1 - t) + Channel(right, c) * t;
        EXPECT_NEAR(Channel(p, c), expected, 3) << "channel " << c;
      }
  }
  PublishedVideoFeed = VideoFeed{};
  for (VideoDeck& d : VideoDecks) {
    d.hasVideo = false;
    d.frame.clear();
  }
}

}  // namespace
