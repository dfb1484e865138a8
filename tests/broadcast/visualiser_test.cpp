#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/settings.h"
#include "base/test_mode.h"
#include "broadcast/camera.h"
#include "broadcast/visualiser.h"
#include "platform/clock.h"
#include "platform/keymap.h"

namespace {

constexpr double kFrame = 1.0 / 60;

class Visualiser : public ::testing::Test {
 protected:
  void SetUp() override {
    TestMode = true;
    Settings = SettingsRecord();
    VisualiserWindowOpen = true;
    surface_ = DrawSurface::Create(160, 90, 1.0f);
    ASSERT_TRUE(surface_);
    SetVisualIndex(0);
    Frame();
  }
  void TearDown() override { VisualiserWindowOpen = false; }
  void Deck(int d, bool audible, float level, uint32_t colour) {
    feed_.decks[static_cast<size_t>(d)].audible = audible;
    feed_.decks[static_cast<size_t>(d)].level = level;
    feed_.decks[static_cast<size_t>(d)].colour = colour;
  }
  void Frame(double dt = kFrame) { DrawVisualiserFrame(*surface_, 160, 90, dt, feed_); }
  std::unique_ptr<DrawSurface> surface_;
  VisualiserFeed feed_;
};

TEST_F(Visualiser, KeysChooseVisualsAndTheStyleSettingFollows) {
  EXPECT_EQ(VisualiserKey(KeyCode::Left, false, false), VisualiserAction::None);
  EXPECT_EQ(VisualIndex(), 9) << "Left on RING shows COVER";
  EXPECT_EQ(Settings.VisualiserStyle, 9);
  VisualiserKey(KeyCode::Right, false, false);
  EXPECT_EQ(VisualIndex(), 0) << "Right on COVER shows RING";
  VisualiserKey('0', false, false);
  EXPECT_EQ(VisualIndex(), 9);
  VisualiserKey('4', false, false);
  EXPECT_EQ(VisualIndex(), 3);
  VisualiserKey(KeyCode::Space, false, false);
  VisualiserRightClick();
  EXPECT_EQ(VisualIndex(), 5);
  EXPECT_EQ(VisualiserKey(KeyCode::F10, true, false), VisualiserAction::None);
  EXPECT_EQ(Settings.VisualiserStyle, 6) << "Shift+F10: next visual";
  EXPECT_EQ(VisualiserKey(KeyCode::F10, false, false), VisualiserAction::Close);
  EXPECT_EQ(VisualiserKey(KeyCode::Escape, false, true), VisualiserAction::LeaveFullScreen);
  EXPECT_EQ(VisualiserKey(KeyCode::Escape, false, false), VisualiserAction::Close);
  EXPECT_EQ(VisualiserKey(KeyCode::F11, false, false), VisualiserAction::ToggleFullScreen);
  const bool autoBefore = Settings.VisualiserAuto, trackBefore = Settings.VisualiserTrack;
  VisualiserKey('A', false, false);
  VisualiserKey('T', false, false);
  EXPECT_NE(Settings.VisualiserAuto, autoBefore);
  EXPECT_NE(Settings.VisualiserTrack, trackBefore);
  EXPECT_EQ(VisualiserKey('Q', false, false), VisualiserAction::None);
  EXPECT_EQ(VisualIndex(), 6);

  // Changed from outside (the settings screen, Shift+F10 in the main window): the next frame shows it.
  Settings.VisualiserStyle = 2;
  EXPECT_EQ(VisualIndex(), 6);
  Frame();
  EXPECT_EQ(VisualIndex(), 2);
  VisualiserWindowOpen = false;
  Settings.VisualiserStyle = 7;
  EXPECT_EQ(VisualIndex(), 7) << "closed: the setting";
}

TEST_F(Visualiser, TheLoudestAudibleDeckIsShownTheLowerOnEqualMeters) {
  Deck(0, false, 0.9f, 0x111111);
  Deck(1, true, 0.5f, 0x222222);
  Deck(2, true, 0.5f, 0x333333);
  Frame();
  EXPECT_EQ(VisualiserShownDeck(), 1);
  Deck(3, true, 0.6f, 0x444444);
  Frame();
  EXPECT_EQ(VisualiserShownDeck(), 3);
  for (auto& d : feed_.decks) d.audible = false;
  Frame();
  EXPECT_EQ(VisualiserShownDeck(), -1);
}

// In a window (not full screen) of 540 DIPs the track overlay's three lines sit above the key hint,
// each whole: no bright title or subtitle pixel reaches the hint's rows, and all three are drawn.
TEST(VisualiserOverlay, TheTrackLinesSitAboveTheKeyHintAndInsideTheWindow) {
  TestMode = true;
  Settings = SettingsRecord();
  Settings.VisualiserTrack = true;
  VisualiserWindowOpen = true;
  constexpr int kW = 960, kH = 540;
  auto surface = DrawSurface::Create(kW, kH, 1.0f);
  ASSERT_TRUE(surface);
  SetVisualIndex(0);
  VisualiserFeed feed;  // silence: the ring stays dark
  VisualiserDeck& deck = feed.decks[0];
  deck.audible = deck.hasTrack = true;
  deck.level = 0.5f;
  deck.colour = 0x101010;
  deck.title = L"Title Line", deck.artist = L"Artist Line", deck.bpm = 128;
  for (int i = 0; i < 40; ++i) DrawVisualiserFrame(*surface, kW, kH, 0.1, feed);  // past the banner
  // Rows holding pixels as bright as the white title or the 0xB8C0D0 lines (the hint is dimmer).
  const PixelView v = surface->Pixels();
  std::vector<int> bright;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const uint32_t p = v.pixels[static_cast<size_t>(y) * v.stride + x];
      if (((p >> 16) & 0xFF) >= 175 && ((p >> 8) & 0xFF) >= 180) {
        bright.push_back(y);
        break;
      }
    }
  ASSERT_FALSE(bright.empty());
  EXPECT_LT(bright.back(), kH - 34) << "a track line reaches the key hint";
  int lines = 1;
  for (size_t i = 1; i < bright.size(); ++i)
    if (bright[i] > bright[i - 1] + 1) ++lines;
  EXPECT_EQ(lines, 3) << "title, artist and tempo, each whole";
  VisualiserWindowOpen = false;
}

TEST(VisualPrimitives, BandLevelAndMixColor) {
  float bands[kVisualBands] = {};
  for (float& b : bands) b = 1e-6f;
  bands[0] = 1.0f;
  bands[15] = 0.1f;
  EXPECT_FLOAT_EQ(BandLevel(bands, 0), 1.0f);
  EXPECT_FLOAT_EQ(BandLevel(bands, -3), 1.0f);
  EXPECT_NEAR(BandLevel(bands, 1), (-20 + 48) / 46.0, 1e-5);
  EXPECT_NEAR(BandLevel(bands, 0.5f / 15), LevelOfMeter(0.5f), 1e-5) << "halfway between bands 0 and 1";
  EXPECT_FLOAT_EQ(BandLevel(bands, 0.5f), 0.0f);
  EXPECT_EQ(MixColor(0x000000, 0xFFFFFF, 0.5f), 0x808080u);
  EXPECT_EQ(MixColor(0x102030, 0xFFFFFF, -1), 0x102030u);
  EXPECT_EQ(MixColor(0x102030, 0x405060, 2), 0x405060u);
}

TEST(VisualRing, SparksOnlyOnABeatWithBassAndTheyDieOut) {
  auto surface = DrawSurface::Create(200, 120, 1.0f);
  float bands[kVisualBands] = {};
  VisualFrame f{.target = surface.get(), .w = 200, .h = 120, .cx = 100, .cy = 50, .R = 22, .dt = 1 / 60.0f};
  f.bands = bands;
  Visuals.sparks.clear();
  Visuals.bassEnvelope = 0.4f;
  f.beat = true;
  DrawRingVisual(f);
  EXPECT_TRUE(Visuals.sparks.empty()) << "a beat without bass";
  Visuals.bassEnvelope = 0.6f;
  DrawRingVisual(f);
  ASSERT_EQ(Visuals.sparks.size(), 14u);
  for (const Spark& s : Visuals.sparks) {
    const float r = std::hypot(s.x - 100, s.y - 50);
    EXPECT_GT(r, 22 * 1.05f);
    EXPECT_LT(r, 22 * 1.05f + 540 / 60.0f + 0.01f);
  }
  f.beat = false;
  for (int i = 0; i < 49; ++i) DrawRingVisual(f);
  EXPECT_EQ(Visuals.sparks.size(), 14u) << "life 1 falls by 1.2 a second: 50 frames";
  DrawRingVisual(f);
  EXPECT_TRUE(Visuals.sparks.empty());
}

// Shapes inside the disc the camera's picture covers are left out, and nothing outside it
// changes: every visual, drawn from the same state with and without the covered disc, is the same
// beyond the disc and its pixel of antialiasing, at two pixel densities.
TEST(VisualCover, ShapesUnderThePictureAreSkippedAndNothingElseChanges) {
  float bands[kVisualBands];
  for (int b = 0; b < kVisualBands; ++b) bands[b] = 0.05f + 0.06f * static_cast<float>(b % 5);
  int skippedSomewhere = 0;
  for (const float scale : {1.0f, 1.5f}) {
    const int pw = static_cast<int>(320 * scale), ph = static_cast<int>(180 * scale);
    auto with = DrawSurface::Create(pw, ph, scale), without = DrawSurface::Create(pw, ph, scale);
    ASSERT_TRUE(with && without);
    VisualFrame f{.w = 320, .h = 180, .cx = 160, .cy = 180 * 0.42f, .R = 180 * 0.19f, .dt = 1 / 60.0f};
    f.pulse = 0.8f;
    f.bass = 0.7f;
    f.mid = f.high = 0.5f;
    f.colourA = 0x2FA0FF;
    f.colourB = 0xFF6030;
    f.beat = true;
    f.bands = bands;
    f.backdrop = 0x020308;
    const float covered = std::min(320 * 0.26f, 180 * 0.29f) - 4 / scale;
    for (int visual = 0; visual < kVisualCount; ++visual) {
      Visuals = VisualState{};
      f.target = with.get();
      for (int i = 0; i < 20; ++i) DrawVisual(visual, f);  // sparks, rings and particles in flight
      const VisualState state = Visuals;
      with->Clear({0.5f, 0.5f, 0.5f, 1});
      without->Clear({0.5f, 0.5f, 0.5f, 1});
      SetCoveredDisc(f.cx, f.cy, covered);
      DrawVisual(visual, f);
      SetCoveredDisc(0, 0, 0);
      Visuals = state;
      f.target = without.get();
      DrawVisual(visual, f);
      const PixelView a = with->Pixels(), b = without->Pixels();
      int outside = 0, inside = 0;
      for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) {
          const bool same = a.pixels[y * a.stride + x] == b.pixels[y * b.stride + x];
          const float d = std::hypot(x + 0.5f - f.cx * scale, y + 0.5f - f.cy * scale);
          (d > covered * scale + 2.5f ? outside : inside) += !same;
        }
      EXPECT_EQ(outside, 0) << VisualName(visual) << " at scale " << scale << ": pixels outside the covered disc changed";
      skippedSomewhere += inside > 0;
    }
  }
  EXPECT_GT(skippedSomewhere, 10) << "most visuals draw something under the picture";
}

}  // namespace

// The test pattern in the circle at a DIP scale of 2: placed so the green bar lies above the
// centre, and redrawn as new camera frames arrive (the moving disc changes the circle).
TEST(VisualiserCamera, TheCircleShowsEachNewFrameInPlace) {
  constexpr uint64_t kCameraFramesWaitMs = 60000;
  TestMode = true;
  Settings = SettingsRecord();
  VisualiserWindowOpen = true;
  Settings.CameraOn = true;
  Settings.CameraShow = 1;
  Settings.VisualiserTrack = false;  // at this height the track lines' shade would reach the circle
  StartCamera(kTestPatternDevice);
  // A loaded machine delivers the test pattern's frames late: wait for them, not for a time.
  const auto waitFrames = [](uint64_t wanted) {
    const uint64_t end = MonotonicMs() + kCameraFramesWaitMs;
    while (CameraFrameCount() < wanted && MonotonicMs() < end) SleepMs(10);
    return CameraFrameCount();
  };
  ASSERT_GT(waitFrames(1), 0u) << "no camera frame in " << kCameraFramesWaitMs << " ms";
  auto surface = DrawSurface::Create(640, 360, 2.0f);
  ASSERT_TRUE(surface);
  VisualiserFeed feed;
  feed.fullScreen = true;
  // Past the camera's fade-in and the banner, at the longest frame step.
  for (int i = 0; i < 40; ++i) DrawVisualiserFrame(*surface, 320, 180, 0.1, feed);
  EXPECT_FLOAT_EQ(VisualiserCameraAlpha(), 1.0f);
  const float cx = 160, cy = 180 * 0.42f, r = std::min(320 * 0.26f, 180 * 0.29f);
  auto circle = [&] {
    std::vector<uint32_t> inside;
    const PixelView v = surface->Pixels();
    for (int y = static_cast<int>(2 * (cy - r * 0.9f)); y < 2 * (cy + r * 0.9f); ++y)
      for (int x = static_cast<int>(2 * (cx - r * 0.5f)); x < 2 * (cx + r * 0.5f); ++x)
        inside.push_back(v.pixels[static_cast<size_t>(y) * v.stride + x]);
    return inside;
  };
  const PixelView v = surface->Pixels();
  const uint32_t bar = v.pixels[static_cast<size_t>(2 * (cy - 0.6f * r)) * v.stride + static_cast<int>(2 * cx)];
  EXPECT_EQ(bar & 0xFFFFFF, 0x00C000u) << std::hex << bar;
  const std::vector<uint32_t> before = circle();
  const uint64_t frames = CameraFrameCount();
  uint64_t seen = waitFrames(frames + 4);
  ASSERT_GE(seen, frames + 4) << "only " << seen - frames << " new camera frames in " << kCameraFramesWaitMs << " ms";
  DrawVisualiserFrame(*surface, 320, 180, 0.1, feed);
  // The disc swings out of the circle's middle for up to two seconds at a time, and a late start
  // can catch it there: each further frame is drawn until the disc shows in a new place.
  const uint64_t giveUp = MonotonicMs() + kCameraFramesWaitMs;
  while (circle() == before && MonotonicMs() < giveUp) {
    seen = waitFrames(seen + 1);
    DrawVisualiserFrame(*surface, 320, 180, 0.1, feed);
  }
  EXPECT_NE(circle(), before) << "the circle kept an old camera frame through " << seen - frames << " new ones";
  StopCamera();
  ForgetVisualiserWindow();
  VisualiserWindowOpen = false;
}
