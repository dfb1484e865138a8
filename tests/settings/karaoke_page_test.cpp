// The Karaoke page's camera preview drawn off-screen from the real capture thread (the test
// pattern): the picture lands in the circle the right way round, and mirrored when asked.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "base/settings.h"
#include "base/test_mode.h"
#include "broadcast/camera.h"
#include "settings/settings_rows.h"
#include "settings/settings_screen.h"
#include "settings/skins.h"
#include "support/temp_home.h"
#include "ui/glow.h"
#include "ui/widgets.h"

namespace {

constexpr int kWidth = 1500, kHeight = 980;
constexpr int kScreenButtonId = 3172;

struct Rgb {
  int r, g, b;
};

class KaraokePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestMode = true;
    Settings = SettingsRecord{};
    LoadSkin();
    SettingsOpen = true;
    SettingsPage = kSettingsPageKaraoke;
    ForgetSectionHeights();
  }
  void TearDown() override {
    StopCamera();
    ReleaseDevice();
    SettingsOpen = false;
    SettingsPage = 0;
    Settings = SettingsRecord{};
    LoadSkin();
  }
  // One frame; returns where the OPEN KARAOKE SCREEN button was drawn.
  Rc Draw() {
    if (!HasDevice()) {
      EXPECT_TRUE(CreateDevice(kWidth, kHeight, 1.0f));
    }
    std::vector<std::pair<int, Rc>> drawn;
    WidgetRectLog = &drawn;
    ResetGlowLayer();
    BeginDraw();
    Clear(ColorOf(Pal.Background));
    DrawSettings();
    EndFrame();
    WidgetRectLog = nullptr;
    for (const auto& [id, r] : drawn)
      if (id == kScreenButtonId) return r;
    ADD_FAILURE() << "no OPEN KARAOKE SCREEN button";
    return Rc{};
  }
  static Rgb Pixel(float x, float y) {
    const PixelView v = FrameImage();
    const uint32_t p = v.pixels[static_cast<size_t>(y) * v.stride + static_cast<size_t>(x)];
    return Rgb{static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF), static_cast<int>(p & 0xFF)};
  }
  TempHome home_;
};

bool Cyan(Rgb c) { return c.r < 0x40 && c.g > 0xA0 && c.b > 0xA0; }
bool Magenta(Rgb c) { return c.r > 0xA0 && c.g < 0x40 && c.b > 0xA0; }

TEST_F(KaraokePageTest, ThePreviewShowsTheCameraInItsCircleAndMirrorsItWhenAsked) {
  Settings.CameraOn = true;
  Settings.CameraDevice = kTestPatternDevice;
  Settings.CameraMirror = false;
  StartCamera(kTestPatternDevice);
  // The preview box sits under the button, its help line and its card's title: 300 x 168.75 at
  // the column's left; its circle (radius 80) shows the middle 720 x 720 of the 1280 x 720 pattern,
  // whose colour bars run from grey at the left to blue at the right.
  Rc button;
  for (int i = 0; i < 3; ++i) button = Draw();  // the cards learn their heights
  const float cx = button.x + 150, cy = button.y + 48 + 20 + 54 + 84.375f;
  const float left = cx - 48, right = cx + 48, up = cy - 40;  // pattern columns 424 and 856, row 180
  bool shown = false;
  for (int i = 0; i < 200 && !shown; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Draw();
    shown = Cyan(Pixel(left, up)) && Magenta(Pixel(right, up));
  }
  EXPECT_TRUE(shown) << "left " << Pixel(left, up).r << "," << Pixel(left, up).g << "," << Pixel(left, up).b;

  Settings.CameraMirror = true;
  Draw();
  EXPECT_TRUE(Magenta(Pixel(left, up)) && Cyan(Pixel(right, up))) << "mirrored, the left shows the pattern's right";
}

}  // namespace
