#include "ui/frame_driver.h"

#include <cmath>

#include "engine/control_input.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "ui/draw.h"
#include "ui/glow.h"
#include "ui/modal.h"
#include "ui/status_line.h"

double FrameClock = 0.0;
void (*FrameTickHook)() = nullptr;

void FrameTick() {
  if (FrameTickHook) FrameTickHook();
}

namespace {

constexpr double kMsPerSecond = 1000.0;

// The targets follow the window: a new UI scale or a size the window events did not bring.
bool TargetsFitWindow(const FrameWindow& window) {
  if (std::fabs(CurrentDpi() - window.scale * kBaseDpi) > kDpiTolerance) return false;
  const PixelView image = FrameImage();
  return image.width == window.pixelWidth && image.height == window.pixelHeight;
}

void TickOnly() {
  FrameTick();
  RunDeferredActions();
}

}  // namespace

void DriveFrame(const FrameWindow& window) {
  if (window.minimised || window.pixelWidth < kMinDrawPixels || window.pixelHeight < kMinDrawPixels)
    return TickOnly();
  if (!HasDevice() && !CreateDevice(window.pixelWidth, window.pixelHeight, window.scale)) return TickOnly();
  if (!TargetsFitWindow(window)) ResizeTargets(window.pixelWidth, window.pixelHeight, window.scale);
  if (!HasDevice()) return TickOnly();  // the resize lost the device; it is made again next frame
  FrameClock = static_cast<double>(MonotonicMs()) / kMsPerSecond;
  ResetGlowLayer();
  BeginDraw();
  Frame();  // covers the whole frame: its backdrop is opaque
  EndFrame();
  EndFrameInput();
  RunDeferredActions();
}
