// The library layout's slim decks and slim mixer, driven by scripted mouse frames: the control row
// split, the side-slot decks the knobs drive, the shared control ids, the glide buttons, and the
// drop-target outline; off-screen PNGs of the whole slim row.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "app/publish_controls.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/side_slots.h"
#include "platform/clock.h"
#include "screens/layout.h"
#include "screens/main_screen.h"
#include "screens/mixer.h"
#include "screens/slim_layout.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"
#include "tests/ui/widget_frames.h"
#include "ui/offscreen.h"

namespace {

constexpr Rc kMixer{170, 10, 300, 124};
constexpr float kRowY = 42;  // y + 32
constexpr float kLeftVolX = 204, kMasterX = 320, kRightFilterX = 384;
constexpr float kGlideBX = 444, kGlideY = 106;
constexpr float kXFaderLeft = 214 + 13, kXFaderTravel = 212 - 26, kXFaderY = 106;

std::wstring SamplePath(const char* name) {
  const char* dir = std::getenv("VELDMIX_SAMPLE_DIR");
  const std::string path = (dir && *dir ? std::string(dir) + "/" : ::testing::TempDir()) + name;
  return std::wstring(path.begin(), path.end());
}

class SlimLayout : public WidgetFrames {
 protected:
  void SetUp() override {
    WidgetFrames::SetUp();
    ResetSlim();
  }
  void TearDown() override {
    ResetSlim();
    WidgetFrames::TearDown();
  }
  static void ResetSlim() {
    ResetDecksForTest();
    MasterSection = MasterSectionValues{};
    CrossfaderPosition = 0.5f;
    XfGlide = CrossfaderGlide{};
    SideSlots[kLeftSide] = 0, SideSlots[kRightSide] = 1;
    RowDrag = LibraryRowDrag{};
    Screen = ScreenLayout{};
  }
  static void DrawMixerFrame() { Frame([] { DrawSlimMixer(kMixer); }); }
  static void Drag(float x0, float y0, float x1, float y1) {
    Press(x0, y0);
    DrawMixerFrame();
    MoveTo(x1, y1);
    DrawMixerFrame();
    Release();
    DrawMixerFrame();
  }
  static void Click(float x, float y) {
    Press(x, y);
    DrawMixerFrame();
    Release();
    DrawMixerFrame();
  }
  TempHome home_;
};

TEST_F(SlimLayout, ControlRowPutsTheTransportAtTheOuterEdge) {
  const Rc deck{8, 204, 300, 124};
  const SlimControlRow left = SlimControlRowOf(2, deck);  // C sits on the left like A
  EXPECT_FLOAT_EQ(left.transport.w, 150);
  EXPECT_FLOAT_EQ(left.loops.w, 120);
  EXPECT_FLOAT_EQ(left.loops.x, 178);
  EXPECT_FLOAT_EQ(left.transport.h, 34);
  const SlimControlRow right = SlimControlRowOf(3, deck);  // D sits on the right like B
  EXPECT_FLOAT_EQ(right.loops.x, 18);
  EXPECT_FLOAT_EQ(right.transport.Right(), deck.Right() - 10);
  EXPECT_FLOAT_EQ(SlimControlRowOf(2, Rc{0, 0, 800, 124}).transport.w, 260) << "it stops growing at 260";
}

TEST_F(SlimLayout, KnobsDriveTheSideSlotDecksWithTheFullStripsIds) {
  SideSlots[kLeftSide] = 2, SideSlots[kRightSide] = 3;
  Drag(kLeftVolX, kRowY, kLeftVolX, kRowY + 36);
  EXPECT_NEAR(LiveDeckViews[2].fader, 0.6f, 1e-4f) << "the left VOL is deck C's";
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.8f);
  Drag(kRightFilterX, kRowY, kRightFilterX, kRowY + 45);
  EXPECT_NEAR(LiveDeckViews[3].filter, -0.5f, 1e-4f) << "the filter spans -1..1";
  Drag(kMasterX, kRowY, kMasterX, kRowY + 18);
  EXPECT_NEAR(MasterSection.masterLevel, 0.7f, 1e-4f);
  // A controller's right channel fader and left colour-effect knob reach decks D and C.
  absolutePositions[StripControlId(kRightSide, kStripFader)] = 0.25f;
  absolutePositions[StripControlId(kLeftSide, kStripColorFx)] = 1.0f;
  DrawMixerFrame();
  EXPECT_FLOAT_EQ(LiveDeckViews[3].fader, 0.25f);
  EXPECT_FLOAT_EQ(LiveDeckViews[2].filter, 1.0f);
  // The glide buttons keep their ids and targets whichever decks the slots hold.
  Click(kGlideBX, kGlideY);
  EXPECT_FLOAT_EQ(XfGlide.target, 1.0f);
  EXPECT_TRUE(controlLights[kGlideToBId]);
}

TEST_F(SlimLayout, SlimVolumeAndFullChannelFaderAreOneValue) {
  Drag(kLeftVolX, kRowY, kLeftVolX, kRowY + 99);  // 0.8 - 0.55
  EXPECT_NEAR(LiveDeckViews[0].fader, 0.25f, 1e-4f);
  // The full mixer's fader starts from it: a drag up 22 DIPs of a 220-DIP travel.
  const Rc full{140, 14, 360, 372};
  const float capY = 57 + (1 - 0.25f) * 220;
  Press(239, capY);
  Frame([&] { DrawMixer(full); });
  MoveTo(239, capY - 22);
  Frame([&] { DrawMixer(full); });
  Release();
  Frame([&] { DrawMixer(full); });
  EXPECT_NEAR(LiveDeckViews[0].fader, 0.35f, 1e-4f);
  const float capX = kXFaderLeft + kXFaderTravel * 0.5f;
  Drag(capX, kXFaderY, capX + kXFaderTravel / 5, kXFaderY);
  DemoTickAt(MonotonicMs());
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  EXPECT_NEAR(Engine.decks[0].fader, 0.35f, 1e-4f);
  EXPECT_NEAR(Engine.xfPosition, 0.7f, 1e-4f);
}

TEST_F(SlimLayout, DeckOutlinesItselfAsTheDropTarget) {
  const Rc deck{8, 10, 300, 124};
  Screen.leftPanel = deck;
  Screen.width = kWidth;
  Screen.browser = Rc{8, 200, 600, 190};
  MoveTo(150, 60);
  Frame([&] { DrawSlimDeck(0, deck); });
  const int edgeX = 10, edgeY = 70;  // on the 2-wide outline, inset 1 from the left edge
  const uint32_t plain = Pixel(edgeX, edgeY);
  RowDrag.dragging = true;
  Frame([&] { DrawSlimDeck(0, deck); });
  const uint32_t outlined = Pixel(edgeX, edgeY);
  EXPECT_GT(Channel(outlined, 0), 200) << "deck A's blue";
  EXPECT_GT(Channel(outlined, 0), Channel(plain, 0) + 100);
  Frame([&] { DrawSlimDeck(1, Rc{320, 10, 300, 124}); });
  EXPECT_LT(Channel(Pixel(322, 70), 16), 150) << "deck B (orange) is not the target";
}

TEST_F(SlimLayout, DrawsTheSlimRow) {
  SideSlots[kLeftSide] = 2, SideSlots[kRightSide] = 3;
  LiveDeckViews[2].fader = 0.6f, LiveDeckViews[3].filter = -0.4f;
  CrossfaderPosition = 0.35f;
  XfGlide = CrossfaderGlide{.active = true, .start = 0.5f, .target = 1.0f, .startTime = MonotonicSeconds()};
  const auto row = [] {
    DrawSlimDeck(SideSlots[kLeftSide], Rc{8, 8, 396, 124});
    DrawSlimMixer(Rc{420, 8, 300, 124});
    DrawSlimDeck(SideSlots[kRightSide], Rc{736, 8, 396, 124});
  };
  ASSERT_TRUE(RenderFrameToPng(1140, 140, row, SamplePath("slim_row.png")));
  ASSERT_TRUE(RenderFrameToPng(2280, 280, row, SamplePath("slim_row_2x.png"), 2.0f));
}

}  // namespace
