#include "screens/kept_lanes.h"

#include <gtest/gtest.h>

#include <vector>

#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"

namespace {

constexpr int kWidth = 400, kHeight = 200;
constexpr Rc kLane{40, 60, 300, 66};
constexpr float kRadius = 6.0f;

// What the test frame shows: an underlay, then a lane body that a shift moves and that glows.
struct Scene {
  Color under{0.1f, 0.1f, 0.2f, 1};
  double position = 0;
  int bodies = 0;  // times the body was drawn
} S;

void DrawBody(const void*) {
  ++S.bodies;
  FillGradientRoundedRect(kLane, kRadius, ColorOf(0x0C0F17), ColorOf(0x05060A));
  PushClip(kLane);
  for (int i = 0; i < 30; ++i) {
    const float x = kLane.x + static_cast<float>(i * 10 + static_cast<int>(S.position) % 10);
    FillRect(Rc{x, kLane.y + 10 + i % 5 * 4, 4, 30}, ColorOf(0x5CD0FF, 0.8f));
  }
  GlowRoundedRect(Rc{kLane.x + 100, kLane.y + 20, 40, 20}, 3, ColorOf(0xFF7A1A, 0.6f));
  PopClip();
}

void DrawScene() {
  Clear(S.under);
  const LaneKey key{.position = S.position, .x = kLane.x, .y = kLane.y, .w = kLane.w, .h = kLane.h};
  DrawLaneBodyKept(0, key, kRadius, true, DrawBody, nullptr);
}

const FrameWindow kWindow{kWidth, kHeight, false, 1.0f};

std::vector<uint32_t> Pixels(const PixelBox& box) {
  const PixelView v = FrameImage();
  std::vector<uint32_t> out;
  for (int y = box.y0; y < box.y1; ++y)
    for (int x = box.x0; x < box.x1; ++x) out.push_back(v.pixels[static_cast<size_t>(y) * v.stride + x]);
  return out;
}

// A frame drawn in the part: what it shows there, and how many of those pixels a whole frame of
// the same scene, drawn next, shows otherwise.
std::vector<uint32_t> DrawPart(const PixelBox& part, int* unlikeWhole) {
  PartBoxes parts;
  parts.Add(part);
  EXPECT_TRUE(DrawWindowFrame(kWindow, DrawScene, parts));
  const PixelBox shown = OnGlowTiles(part, kWidth, kHeight);
  std::vector<uint32_t> drawn = Pixels(shown);
  EXPECT_TRUE(DrawWindowFrame(kWindow, DrawScene));
  const std::vector<uint32_t> whole = Pixels(shown);
  *unlikeWhole = 0;
  for (size_t i = 0; i < drawn.size(); ++i) *unlikeWhole += drawn[i] != whole[i];
  return drawn;
}

}  // namespace

// A still lane drawn in parts comes from the pixels the whole frame kept, its glows with it; a
// corner whose underlay changed, and a lane that moved, are drawn afresh: every part shows what a
// whole frame shows.
TEST(KeptLanes, PartsShowWhatAWholeFrameShowsAndDrawOnlyWhatChanged) {
  ASSERT_TRUE(CreateDevice(kWidth, kHeight, 1.0f));
  S = Scene{};
  ASSERT_TRUE(DrawWindowFrame(kWindow, DrawScene));
  ASSERT_EQ(S.bodies, 1);
  // The lane's left end with its glow's reach: the lane is copied back.
  const PixelBox left{0, 20, 200, 180};
  int unlike = 0;
  DrawPart(left, &unlike);
  EXPECT_EQ(unlike, 0);
  EXPECT_EQ(S.bodies, 2) << "the part drew the still lane again";

  // A new underlay shows through the lane's two left corners: drawn afresh inside their squares.
  S.under = Color{0.3f, 0.05f, 0.1f, 1};
  const std::vector<uint32_t> corners = DrawPart(left, &unlike);
  EXPECT_EQ(unlike, 0);
  EXPECT_EQ(S.bodies, 5) << "the two corners (and the whole frame after them)";

  // A moved lane is drawn afresh.
  S.position = 7;
  EXPECT_NE(DrawPart(left, &unlike), corners);
  EXPECT_EQ(unlike, 0);
  EXPECT_EQ(S.bodies, 7);
  ReleaseDevice();
}
