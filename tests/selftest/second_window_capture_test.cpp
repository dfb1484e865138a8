// Captures of a second-screen window (SDL's headless driver): the PNG has the window's client
// size and the pixels its own drawing makes, alpha kept; its shown frame is not drawn for it; a
// closed window gives false and no file. A redraw-now draws and shows it at once.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/draw_surface.h"
#include "platform/second_window.h"
#include "platform/text.h"
#include "platform/window.h"
#include "selftest/window_capture.h"
#include "support/temp_home.h"

namespace {

constexpr int kWidth = 320, kHeight = 200;
constexpr uint32_t kLeft = 0xFF2080C0u, kRight = 0x80400000u;  // premultiplied ARGB, the right half see-through

struct Painted {
  int draws = 0;
};

// Left half one colour, right half another, written straight into the target's pixels.
void DrawHalves(void* user, DrawSurface& target) {
  static_cast<Painted*>(user)->draws++;
  const PixelView view = target.Pixels();
  for (int y = 0; y < view.height; ++y)
    for (int x = 0; x < view.width; ++x)
      view.pixels[static_cast<size_t>(y) * view.stride + x] = x < view.width / 2 ? kLeft : kRight;
  target.MarkDirty(0, 0, view.width, view.height);
}

TEST(SecondWindowCapture, ThePngIsTheWindowsOwnDrawingAtItsClientSize) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  std::wstring error;
  ASSERT_TRUE(StartWindowing(&error) && OpenMainWindow(L"main", 800, 600)) << WideToUtf8(error);
  TempHome home;
  Painted painted;
  SecondWindowClient client;
  client.user = &painted;
  client.draw = DrawHalves;
  SecondWindow* window = OpenSecondWindow(L"capture", PixelRect{0, 0, kWidth, kHeight}, 0, client);
  ASSERT_NE(window, nullptr);

  const std::string png = home.path() + "/second.png";
  ASSERT_TRUE(CaptureWindowPng(window, Utf8ToWide(png), &error)) << WideToUtf8(error);
  EXPECT_EQ(painted.draws, 1) << "one drawing, made for the capture";
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  ASSERT_TRUE(ReadPngPixels(Utf8ToWide(png), &pixels, &width, &height));
  ASSERT_EQ(width, kWidth);
  ASSERT_EQ(height, kHeight);
  EXPECT_EQ(pixels[0], kLeft);
  EXPECT_EQ(pixels[static_cast<size_t>(kHeight - 1) * kWidth + kWidth - 1], kRight) << "alpha kept";
  size_t wrong = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      wrong += pixels[static_cast<size_t>(y) * kWidth + x] != (x < kWidth / 2 ? kLeft : kRight);
  EXPECT_EQ(wrong, 0u);

  // Redrawn and shown at once, without waiting for a pump.
  EXPECT_TRUE(RedrawSecondWindowNow(window));
  EXPECT_EQ(painted.draws, 2);

  CloseSecondWindow(window);
  EXPECT_FALSE(RedrawSecondWindowNow(window));
  const std::string gone = home.path() + "/gone.png";
  EXPECT_FALSE(CaptureWindowPng(window, Utf8ToWide(gone), &error));
  EXPECT_EQ(error, L"The window is not open.");
  EXPECT_FALSE(std::filesystem::exists(gone));
  StopWindowing();
}

}  // namespace
