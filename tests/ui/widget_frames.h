#pragma once
// Scripted frames for widget tests: set the input record, draw into an off-screen frame, end the
// frame (glows included) and clear the one-frame input, as the frame driver does.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "ui/draw.h"
#include "ui/glow.h"
#include "ui/widgets.h"

class WidgetFrames : public ::testing::Test {
 protected:
  static constexpr int kWidth = 640, kHeight = 400;

  void SetUp() override {
    Reset();
    ASSERT_TRUE(CreateDevice(kWidth, kHeight, 1.0f));
  }
  void TearDown() override {
    ReleaseDevice();
    Reset();
  }
  static void Reset() {
    Input = UiInput{};
    ActiveControlId = kNoActiveControl;
    pressedIds.clear(), releasedIds.clear(), heldIds.clear(), absolutePositions.clear();
    midiLearnOn = false, midiLearnTarget = 0;
    mappedControlIds.clear(), controlKinds.clear(), controlLights.clear();
  }
  static void Frame(const std::function<void()>& draw) {
    ResetGlowLayer();
    BeginDraw();
    Clear(ColorOf(Pal.Background));
    draw();
    EndFrame();
    EndFrameInput();
  }
  static void MoveTo(float x, float y) { Input.x = x, Input.y = y; }
  static void Press(float x, float y, bool doubleClick = false) {
    MoveTo(x, y);
    Input.held = Input.pressed = true;
    Input.doubleClicked = doubleClick;
  }
  static void Release() {
    Input.held = false;
    Input.released = true;
  }
  // The last frame's pixel as 0xRRGGBB, and one of its channels (16 red, 8 green, 0 blue).
  static uint32_t Pixel(int x, int y) {
    const PixelView v = FrameImage();
    return v.pixels[static_cast<size_t>(y) * v.stride + x] & 0xFFFFFF;
  }
  static int Channel(uint32_t rgb, int shift) { return static_cast<int>((rgb >> shift) & 0xFF); }
  static int Brightness(uint32_t rgb) { return std::max({Channel(rgb, 16), Channel(rgb, 8), Channel(rgb, 0)}); }
};
