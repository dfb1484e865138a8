#include "selftest/window_capture.h"

#include <map>
#include <set>
#include <utility>

#include "engine/control_input.h"
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

}  // namespace

bool CaptureWindowPng(const FrameWindow& window, const std::wstring& path, std::wstring* error) {
  if (window.pixelWidth < 1 || window.pixelHeight < 1) {
    if (error) *error = L"The window has no client area to capture.";
    return false;
  }
  const QuietInput quiet;
  return RenderFrameToPng(window.pixelWidth, window.pixelHeight, Frame, path, window.scale, error);
}
