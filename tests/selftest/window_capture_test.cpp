// Window captures: the PNG holds the frame the window is shown (same routine, same size, same
// scale), read back by ImageMagick and cairo; the window's own frame and input survive it; a
// capture that cannot be made writes nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/frame_tick.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "engine/control_input.h"
#include "platform/draw_surface.h"
#include "platform/text.h"
#include "selftest/window_capture.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSettleFrames = 120;
constexpr double kSettled = 0.999;

// Slow time-driven shading (a gradient drifting by a level between two frames) is not a
// different drawing.
constexpr int kChannelTolerance = 3;

bool Alike(uint32_t a, uint32_t b) {
  for (int shift = 0; shift < 32; shift += 8) {
    const int d = static_cast<int>((a >> shift) & 255) - static_cast<int>((b >> shift) & 255);
    if (d > kChannelTolerance || d < -kChannelTolerance) return false;
  }
  return true;
}

// The share of pixels two images hold alike; 0 when their sizes differ.
double SameShare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0.0;
  size_t same = 0;
  for (size_t i = 0; i < a.size(); ++i) same += Alike(a[i], b[i]);
  return static_cast<double>(same) / static_cast<double>(a.size());
}

struct Shown {
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
};

class WindowCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Settings;
    TestMode = true;
    ResetDecksForTest();
    Status = StatusLine{};
    Input = UiInput{};
    SetFramePresenter([this](const PixelView& v, const PixelBox&) {
      shown_.width = v.width;
      shown_.height = v.height;
      shown_.pixels.clear();
      for (int y = 0; y < v.height; ++y)
        shown_.pixels.insert(shown_.pixels.end(), v.pixels + static_cast<size_t>(y) * v.stride,
                             v.pixels + static_cast<size_t>(y) * v.stride + v.width);
      return true;
    });
  }
  void TearDown() override {
    SetFramePresenter(nullptr);
    ReleaseDevice();
    Input = UiInput{};
    pressedIds.clear();
    Status = StatusLine{};
    ResetDecksForTest();
    Settings = saved_;
    TestMode = false;
  }
  std::string Path(const std::string& name) const { return home_.path() + "/" + name; }

  // Shows window frames until what moves has settled (pulses and glides left by other tests
  // decay over frames), captures the same window, and compares the two pixel by pixel.
  void ExpectCaptureOfShownFrame(const FrameWindow& window, const std::string& name) {
    std::vector<uint32_t> before;
    for (int frame = 0; frame < kSettleFrames; ++frame) {
      before = shown_.pixels;
      DriveFrame(window);
      if (SameShare(before, shown_.pixels) > kSettled) break;
    }
    ASSERT_EQ(shown_.width, window.pixelWidth);
    const std::string png = Path(name);
    std::wstring error;
    ASSERT_TRUE(CaptureWindowPng(window, Utf8ToWide(png), &error)) << WideToUtf8(error);

    const std::string described = RunCommand("identify -format '%w %h %[channels]' " + ShellQuote(png));
    EXPECT_EQ(described, std::to_string(window.pixelWidth) + " " + std::to_string(window.pixelHeight) + " srgba")
        << "exactly the client area, with its alpha channel";

    std::vector<uint32_t> read;
    int width = 0, height = 0;
    ASSERT_TRUE(ReadPngPixels(Utf8ToWide(png), &read, &width, &height));
    ASSERT_EQ(read.size(), shown_.pixels.size());
    // Only what moves with the clock (the top bar's time) may differ.
    EXPECT_GT(SameShare(read, shown_.pixels), 0.995) << name;

    EXPECT_EQ(FrameImage().width, window.pixelWidth) << "the window's frame is back";
    EXPECT_EQ(CurrentDpi(), window.scale * 96.0f);
    EXPECT_TRUE(WriteTemps(std::filesystem::path(png).parent_path().native()).empty());
  }

  TempHome home_;
  Shown shown_;
  SettingsRecord saved_;
};

TEST_F(WindowCapture, ThePngIsTheFrameTheWindowShows) {
  ExpectCaptureOfShownFrame(FrameWindow{1400, 900, false, 1.0f}, "window.png");
}

TEST_F(WindowCapture, TheUiScaleDrawsLargerIntoTheSamePixelSize) {
  ExpectCaptureOfShownFrame(FrameWindow{2100, 1350, false, 1.5f}, "window_1_5.png");
  // At 1.5 the frame is laid out for 1400 x 900 DIPs: the same layout as above, scaled.
  EXPECT_FLOAT_EQ(TargetWidth(), 1400.0f);
}

TEST_F(WindowCapture, ClicksOfTheFrameAreLeftForTheWindow) {
  DriveFrame(FrameWindow{1400, 900, false, 1.0f});
  Input.x = 700;
  Input.y = 450;
  Input.pressed = Input.held = true;
  pressedIds.insert(5);
  ASSERT_TRUE(CaptureWindowPng(FrameWindow{1400, 900, false, 1.0f}, Utf8ToWide(Path("click.png"))));
  EXPECT_TRUE(Input.pressed) << "the window's next frame still gets the click";
  EXPECT_TRUE(Input.held);
  EXPECT_EQ(Input.x, 700.0f);
  EXPECT_EQ(pressedIds.count(5), 1u);
}

TEST_F(WindowCapture, NothingIsWrittenWhenNoImageCanBeMade) {
  std::wstring error;
  for (const FrameWindow& window : {FrameWindow{0, 900, false, 1.0f}, FrameWindow{1400, 0, false, 1.0f}}) {
    error.clear();
    EXPECT_FALSE(CaptureWindowPng(window, Utf8ToWide(Path("none.png")), &error));
    EXPECT_FALSE(error.empty());
  }
  EXPECT_FALSE(fs::exists(Path("none.png")));

  const std::string unwritable = Path("no/such/folder/shot.png");
  EXPECT_FALSE(CaptureWindowPng(FrameWindow{640, 480, false, 1.0f}, Utf8ToWide(unwritable), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(Path("no"))) << "not even a .tmp or a folder";
}

}  // namespace
