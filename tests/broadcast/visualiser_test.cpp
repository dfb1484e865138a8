#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/settings.h"
#include "app/test_mode.h"
#include "broadcast/visualiser.h"
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
  feed_.decks[0] = {.audible = false, .level = 0.9f, .colour = 0x111111};
  feed_.decks[1] = {.audible = true, .level = 0.5f, .colour = 0x222222};
  feed_.decks[2] = {.audible = true, .level = 0.5f, .colour = 0x333333};
  Frame();
  EXPECT_EQ(VisualiserShownDeck(), 1);
  feed_.decks[3] = {.audible = true, .level = 0.6f, .colour = 0x444444};
  Frame();
  EXPECT_EQ(VisualiserShownDeck(), 3);
  for (auto& d : feed_.decks) d.audible = false;
  Frame();
  EXPECT_EQ(VisualiserShownDeck(), -1);
}

// Runs `seconds` of frames with deck A audible and its pulse rising to 1 on every beat of
// `bpm` (0: no deck), and returns the visual after each change.
std::vector<int> Changes(Visualiser* t, VisualiserFeed* feed, double seconds, double bpm) {
  std::vector<int> shown;
  int last = VisualIndex();
  feed->fullScreen = true;  // no hint, no overlay: only the visual's own drawing on a tiny frame
  Settings.VisualiserTrack = false;
  static auto surface = DrawSurface::Create(16, 16, 1.0f);
  const int frames = static_cast<int>(seconds * 60);
  for (int i = 0; i < frames; ++i) {
    feed->decks[0].audible = bpm > 0;
    if (bpm > 0) {
      const double beats = i * kFrame * bpm / 60;
      feed->decks[0].pulse = static_cast<float>(std::exp(-5 * (beats - std::floor(beats))));
    }
    DrawVisualiserFrame(*surface, 16, 16, kFrame, *feed);
    if (VisualIndex() != last) {
      last = VisualIndex();
      shown.push_back(last);
      shown.push_back(i);
    }
  }
  (void)t;
  return shown;
}

TEST_F(Visualiser, AutoChangesEvery64BeatsOrEvery30SecondsWithoutADeckNeverToTheSame) {
  Settings.VisualiserAuto = true;
  SetVisualIndex(4);
  // 120 BPM: 64 beats take 32 s; the first beat is frame 0 (pulse 1 after 0).
  const auto beats = Changes(this, &feed_, 66, 120);
  ASSERT_EQ(beats.size(), 4u);
  EXPECT_NE(beats[0], 4);
  EXPECT_NEAR(beats[1] / 60.0, 31.5, 0.05) << "the 64th beat";
  EXPECT_NE(beats[2], beats[0]);
  EXPECT_NEAR((beats[3] - beats[1]) / 60.0, 32.0, 0.05);

  SetVisualIndex(1);
  const auto idle = Changes(this, &feed_, 61, 0);
  ASSERT_EQ(idle.size(), 4u);
  EXPECT_NEAR(idle[1] / 60.0, 30.0, 0.05);
  EXPECT_NEAR(idle[3] / 60.0, 60.0, 0.05);
  int previous = 1;
  for (int i = 0; i < 12; ++i) {
    SetVisualIndex(previous);
    const auto one = Changes(this, &feed_, 30.05, 0);
    ASSERT_EQ(one.size(), 2u);
    EXPECT_NE(one[0], previous) << "never to the visual already shown";
    previous = one[0];
  }
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

}  // namespace
