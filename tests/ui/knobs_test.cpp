#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/mixer_controls.h"
#include "tests/ui/widget_frames.h"
#include "ui/knobs.h"

namespace {

constexpr int kGain = 1013, kChannel = 1018;
const Color kOrange = ColorOf(0xFF5E2B);
constexpr Rc kFader{100, 100, 40, 202};  // the cap travels 180 DIPs
constexpr Rc kXFader{200, 320, 226, 40};  // the cap travels 200 DIPs
constexpr float kKnobX = 400, kKnobY = 150;

class KnobTest : public WidgetFrames {
 protected:
  void TearDown() override {
    CrossfaderPosition = 0.5f;
    WidgetFrames::TearDown();
  }
  static bool DrawFader(float* value, bool detent = false, Rc r = kFader) {
    bool changed = false;
    Frame([&] { changed = Fader(kChannel, r, value, 0.8f, kOrange, detent); });
    return changed;
  }
  static bool DrawKnob(float* value) {
    bool changed = false;
    Frame([&] { changed = Knob(kGain, kKnobX, kKnobY, 20, value, -1, 1, 0.25f, kOrange, L"GAIN", false); });
    return changed;
  }
  static bool DrawXFader(Rc r = kXFader) {
    bool changed = false;
    Frame([&] { changed = XFader(r, 0.5f); });
    return changed;
  }
};

TEST_F(KnobTest, FaderFollowsTheDistanceFromThePressAndShiftDragsFiveTimesFiner) {
  float value = 0.2f;
  Press(120, 200);
  EXPECT_FALSE(DrawFader(&value)) << "the press starts a drag without moving the value";
  MoveTo(120, 110);  // 90 up
  EXPECT_TRUE(DrawFader(&value));
  EXPECT_NEAR(value, 0.7f, 1e-5f);
  Input.shiftHeld = true;
  DrawFader(&value);
  EXPECT_NEAR(value, 0.3f, 1e-5f);
  MoveTo(500, 20);  // anywhere: 180 up
  DrawFader(&value);
  EXPECT_NEAR(value, 0.4f, 1e-5f);
  Input.shiftHeld = false;
  DrawFader(&value);
  EXPECT_FLOAT_EQ(value, 1.0f) << "letting Shift go jumps to the coarse position, clamped";
  EXPECT_EQ(controlKinds[kChannel], kControlKindAbsolute);
}

TEST_F(KnobTest, KnobCrossesItsWholeRangeIn180DipsAndCrossfaderMovesRight) {
  for (float start : {-1.0f, 0.6f}) {
    float value = start;
    Press(kKnobX, kKnobY);
    DrawKnob(&value);
    MoveTo(kKnobX + 30, kKnobY - 90);  // sideways does not count
    DrawKnob(&value);
    EXPECT_NEAR(value, std::min(start + 1, 1.0f), 1e-5f);
    MoveTo(kKnobX, kKnobY + 400);
    DrawKnob(&value);
    EXPECT_FLOAT_EQ(value, -1.0f);
    Release(), DrawKnob(&value);
  }
  Press(313, 340);
  DrawXFader();
  EXPECT_EQ(ActiveControlId, kCrossfaderControlId);
  MoveTo(253, 300);
  EXPECT_TRUE(DrawXFader());
  EXPECT_NEAR(CrossfaderPosition, 0.2f, 1e-5f);
}

TEST_F(KnobTest, DoubleClickResetsAfterAFirstClickThatMovesNothing) {
  float knob = 0.9f, fader = 0.1f;
  CrossfaderPosition = 0.0f;
  for (bool second : {false, true}) {
    Press(kKnobX, kKnobY, second);
    EXPECT_EQ(DrawKnob(&knob), second);
    Release(), DrawKnob(&knob), Press(120, 150, second);
    EXPECT_EQ(DrawFader(&fader), second);
    Release(), DrawFader(&fader), Press(300, 340, second);
    EXPECT_EQ(DrawXFader(), second);
    Release(), DrawXFader();
  }
  EXPECT_FLOAT_EQ(knob, 0.25f);
  EXPECT_FLOAT_EQ(fader, 0.8f);
  EXPECT_FLOAT_EQ(CrossfaderPosition, 0.5f);
}

TEST_F(KnobTest, OneWheelNotchStepsEachWidgetByItsOwnAmount) {
  float knob = 0, fader = std::numeric_limits<float>::quiet_NaN();
  MoveTo(kKnobX, kKnobY), Input.wheel = 1;
  EXPECT_TRUE(DrawKnob(&knob));
  EXPECT_NEAR(knob, 0.08f, 1e-6f) << "4 % of a range of 2";
  MoveTo(120, 150), Input.wheel = -2;
  DrawFader(&fader);
  EXPECT_NEAR(fader, 0.76f, 1e-6f) << "from the default when the value is not a number";
  MoveTo(300, 340), Input.wheel = 1;
  DrawXFader();
  EXPECT_NEAR(CrossfaderPosition, 0.47f, 1e-6f) << "away from the user moves left";
}

TEST_F(KnobTest, ControllerPositionWinsAndLearnModeNeverMovesTheValue) {
  float value = 0;
  Press(kKnobX, kKnobY);
  DrawKnob(&value);
  MoveTo(kKnobX, kKnobY - 90);
  absolutePositions[kGain] = 0.25f;
  DrawKnob(&value);
  EXPECT_FLOAT_EQ(value, -0.5f) << "over the mouse in the same frame";
  absolutePositions[kGain] = std::numeric_limits<float>::quiet_NaN();
  DrawKnob(&value);
  EXPECT_FLOAT_EQ(value, 1.0f) << "a position that is no number is ignored";
  Release(), DrawKnob(&value);

  midiLearnOn = true;
  Press(120, 200);
  DrawFader(&value);
  MoveTo(120, 100);
  EXPECT_FALSE(DrawFader(&value));
  EXPECT_EQ(midiLearnTarget, kChannel);
  EXPECT_FLOAT_EQ(value, 1.0f);
  EXPECT_GT(Channel(Pixel(99, 150), 16), 200) << "ringed in yellow";
}

// Mend: a fader or cross-fader squeezed below its cap's length cannot be dragged and never writes
// a value that is not a number.
TEST_F(KnobTest, FadersTooShortToDragKeepAFiniteValue) {
  for (float size : {22.0f, 10.0f, 0.5f}) {
    float value = 0.4f;
    CrossfaderPosition = 0.4f;
    Press(120, 100);
    DrawFader(&value, false, Rc{100, 100, 40, size});
    MoveTo(120, 50);
    EXPECT_FALSE(DrawFader(&value, false, Rc{100, 100, 40, size})) << size;
    Release(), DrawFader(&value, false, Rc{100, 100, 40, size}), Press(101, 320);
    DrawXFader(Rc{100, 300, size + 4, 40});
    MoveTo(300, 320);
    DrawXFader(Rc{100, 300, size + 4, 40});
    Release(), DrawXFader(Rc{100, 300, size + 4, 40});
    EXPECT_FLOAT_EQ(value, 0.4f) << size;
    EXPECT_FLOAT_EQ(CrossfaderPosition, 0.4f) << size;
  }
}

TEST_F(KnobTest, FaderAtTheCentreDetentDrawsNoFill) {
  float value = 0.5f;
  DrawFader(&value, true);
  EXPECT_LT(Brightness(Pixel(120, 250)), 20) << "the slot below the cap stays dark";
  DrawFader(&value, false);
  EXPECT_GT(Channel(Pixel(120, 250), 16), 180) << "without the detent the fill rises from the bottom";
}

TEST_F(KnobTest, MeterLightsSegmentsFromMinus42ToPlus3Dbfs) {
  EXPECT_EQ(LitMeterSegments(0), 0);
  EXPECT_EQ(LitMeterSegments(0.000001f), 0);
  EXPECT_EQ(LitMeterSegments(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(LitMeterSegments(std::pow(10.0f, -21.0f / 20)), 9) << "fill 0.467: up to segment 8";
  EXPECT_EQ(LitMeterSegments(1.0f), 19) << "0 dBFS, fill 0.933";
  EXPECT_EQ(LitMeterSegments(std::pow(10.0f, 3.0f / 20)), 20);
  // Segments of 10 with 2 between: segment i is centred at y 333 - 12 i.
  Frame([] { DrawLevelMeter(Rc{500, 100, 12, 238}, 1.0f); });
  const uint32_t red = Pixel(506, 333 - 12 * 18), top = Pixel(506, 333 - 12 * 19);
  EXPECT_GT(Channel(Pixel(506, 333), 8), 200);
  EXPECT_GT(Channel(red, 16), 200);
  EXPECT_LT(Channel(top, 16), Channel(red, 16) / 2) << "the top red segment stays dark";
}

}  // namespace
