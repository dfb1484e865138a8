#include "selftest/window_capture.h"

#include <map>
#include <memory>
#include <set>
#include <utility>

#include "app/main_window.h"
#include "engine/control_input.h"
#include "platform/draw_surface.h"
#include "platform/png_file.h"
#include "platform/second_window.h"
#include "platform/window.h"
#include "screens/main_screen.h"
#include "ui/offscreen.h"

namespace {

// The capture's frame must not act on this frame's clicks, keys or controller moves: the
// window's next frame does that once.
class QuietInput {
 public:
  QuietInput()
      : input_(Input),
        pressed_(std::move(pressedIds)),
        released_(std::move(releasedIds)),
        positions_(std::move(absolutePositions)) {
    ClearFrameInput(Input);
    pressedIds.clear();
    releasedIds.clear();
    absolutePositions.clear();
  }
  ~QuietInput() {
    Input = input_;
    pressedIds = std::move(pressed_);
    releasedIds = std::move(released_);
    absolutePositions = std::move(positions_);
  }
  QuietInput(const QuietInput&) = delete;
  QuietInput& operator=(const QuietInput&) = delete;

 private:
  UiInput input_;
  std::set<int32_t> pressed_, released_;
  std::map<int32_t, float> positions_;
};

bool NoClientArea(std::wstring* error) {
  if (error) *error = L"The window has no client area to capture.";
  return false;
}

bool CaptureMain(const FrameWindow& window, const std::wstring& path, std::wstring* error) {
  if (window.pixelWidth < 1 || window.pixelHeight < 1) return NoClientArea(error);
  const QuietInput quiet;
  return RenderFrameToPng(window.pixelWidth, window.pixelHeight, DrawMainScreen, path, window.scale, error);
}

bool CaptureSecond(SecondWindow* window, const std::wstring& path, std::wstring* error) {
  if (!SecondWindowOpen(window)) {
    if (error) *error = L"The window is not open.";
    return false;
  }
  int width = 0, height = 0;
  SecondWindowClientSize(window, &width, &height);
  if (width < 1 || height < 1) return NoClientArea(error);
  std::unique_ptr<DrawSurface> target = DrawSurface::Create(width, height, SecondWindowDpi(window) / kBaseDpi);
  if (!target) {
    if (error) *error = L"The image could not be made.";
    return false;
  }
  if (!PaintSecondWindowInto(window, *target)) {
    if (error) *error = L"The window did not draw itself.";
    return false;
  }
  const PixelView pixels = target->Pixels();
  return WritePngFile(pixels.pixels, pixels.width, pixels.height, pixels.stride, path, error);
}

}  // namespace

FrameWindow MainFrameWindow() {
  FrameWindow window{.minimised = WindowMinimised(), .scale = UiScale};
  WindowClientSize(&window.pixelWidth, &window.pixelHeight);
  return window;
}

bool CaptureWindowPng(const AnyWindow& window, const std::wstring& path, std::wstring* error) {
  if (const FrameWindow* main = std::get_if<FrameWindow>(&window)) return CaptureMain(*main, path, error);
  return CaptureSecond(std::get<SecondWindow*>(window), path, error);
}
