#include "ui/frame_driver.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/control_input.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "ui/draw.h"
#include "ui/glow.h"

double FrameClock = 0.0;

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr uint64_t kNoRedraw = std::numeric_limits<uint64_t>::max();
uint64_t RedrawDue = kNoRedraw;

// The targets follow the window: a new UI scale or a size the window events did not bring.
bool TargetsFitWindow(const FrameWindow& window) {
  if (std::fabs(CurrentDpi() - window.scale * kBaseDpi) > kDpiTolerance) return false;
  const PixelView image = FrameImage();
  return image.width == window.pixelWidth && image.height == window.pixelHeight;
}

}  // namespace

bool WindowDrawable(const FrameWindow& window) {
  return !window.minimised && window.pixelWidth >= kMinDrawPixels && window.pixelHeight >= kMinDrawPixels;
}

bool DrawWindowFrame(const FrameWindow& window, void (*draw)()) {
  if (!WindowDrawable(window)) return false;
  if (!HasDevice() && !CreateDevice(window.pixelWidth, window.pixelHeight, window.scale)) return false;
  if (!TargetsFitWindow(window)) ResizeTargets(window.pixelWidth, window.pixelHeight, window.scale);
  if (!HasDevice()) return false;  // the resize lost the device; it is made again next frame
  const uint64_t nowMs = MonotonicMs();
  FrameClock = static_cast<double>(nowMs) / kMsPerSecond;
  RedrawDue = kNoRedraw;
  ResetGlowLayer();
  BeginDraw();
  draw();
  EndFrame();
  EndFrameInput();
  return true;
}

void RedrawAt(uint64_t monotonicMs) { RedrawDue = std::min(RedrawDue, monotonicMs); }

void RedrawNextFrame() { RedrawDue = 0; }

bool BlinkLit(uint64_t nowMs, uint64_t periodMs) {
  if (periodMs == 0) return true;
  RedrawAt((nowMs / periodMs + 1) * periodMs);
  return (nowMs / periodMs) % 2 == 0;
}

uint64_t RedrawDueMs() { return RedrawDue; }
