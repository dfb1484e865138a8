#include "broadcast/video_window.h"

#include <algorithm>
#include <cmath>

#include "broadcast/video_compositor.h"
#include "broadcast/video_feed.h"
#include "platform/clock.h"
#include "platform/keymap.h"
#include "platform/screen_placement.h"
#include "platform/second_window.h"
#include "platform/window.h"

namespace {

struct VideoWindowState {
  SecondWindow* window = nullptr;
  bool fullScreen = false;
  WindowPlacement saved;
  VideoRenderer renderer;
};
VideoWindowState Video;
VideoRenderer previewRenderer;

double NowSeconds() { return static_cast<double>(MonotonicMs()) / 1000.0; }

void SetVideoFullScreen(bool on) {
  if (!Video.window) return;
  Video.fullScreen = on;
  SetFullScreen(SecondTopWindow(Video.window), on, &Video.saved);
  SetSecondWindowCursorHidden(Video.window, on);
  InvalidateSecondWindow(Video.window);
}

void Paint(void*, DrawSurface& target) {
  const int w = target.pixelWidth(), h = target.pixelHeight();
  if (w < 1 || h < 1) return;
  ComposeVideoFrame(&Video.renderer, &target, w, h, NowSeconds());
}

void OnEvent(void*, SecondWindow*, const SecondWindowEvent& e) {
  switch (e.kind) {
    case SecondWindowEventKind::Close:
      CloseVideoWindow();
      break;
    case SecondWindowEventKind::KeyDown:
      if (e.repeat) break;
      if (e.key == KeyCode::Escape && Video.fullScreen) SetVideoFullScreen(false);
      else if (e.key == KeyCode::Escape || e.key == KeyCode::F8) CloseVideoWindow();
      break;
    case SecondWindowEventKind::LeftDown:
      if (e.doubleClick) SetVideoFullScreen(!Video.fullScreen);
      break;
    default:
      break;
  }
}

void OnClosed(void*) {
  Video.window = nullptr;
  Video.fullScreen = false;
  Video.saved = WindowPlacement{};
  ReleaseVideoRenderer(&Video.renderer);
}

}  // namespace

void ToggleVideoWindow() {
  if (Video.window) {
    CloseVideoWindow();
    return;
  }
  PixelRect area;
  const bool other = SecondMonitorRect(MainTopWindow(), &area);
  const PixelRect rect{area.x + (area.w - kVideoWindowWidth) / 2, area.y + (area.h - kVideoWindowHeight) / 2,
                       kVideoWindowWidth, kVideoWindowHeight};
  SecondWindowClient client;
  client.draw = Paint;
  client.event = OnEvent;
  client.closed = OnClosed;
  Video.window = OpenSecondWindow(kVideoWindowTitle, rect, kVideoFrameMs, client);
  if (!Video.window) return;
  if (other) SetVideoFullScreen(true);
  // Going full screen may have handed the window the keyboard: the DJ keeps it.
  ReturnFocusFromSecondWindow(Video.window);
}

bool IsVideoWindowOpen() { return Video.window != nullptr; }

SecondWindow* VideoScreenWindow() { return Video.window; }

bool VideoWindowFullScreen() { return Video.fullScreen; }

void CloseVideoWindow() {
  if (Video.window) CloseSecondWindow(Video.window);
}

void DrawVideoPreview(DrawSurface* surface, float x, float y, float width, float height) {
  if (!surface || !std::isfinite(width) || !std::isfinite(height) || width <= 0 || height <= 0) return;
  const float scale = surface->dipScale();
  const int pw = std::clamp(static_cast<int>(width * scale), 2, 16384);
  const int ph = std::clamp(static_cast<int>(height * scale), 2, 16384);
  if (!previewRenderer.output || previewRenderer.output->pixelWidth() != pw ||
      previewRenderer.output->pixelHeight() != ph)
    previewRenderer.output = DrawSurface::Create(pw, ph, 1.0f);
  if (!previewRenderer.output) return;
  ComposeVideoFrame(&previewRenderer, previewRenderer.output.get(), pw, ph, NowSeconds());
  surface->DrawPixelsIn(previewRenderer.output->Pixels(), true, x, y, width, height, 1, 0, false);
}

bool DrawDeckVideo(DrawSurface* surface, int side, float cx, float cy, float r, float opacity) {
  const VideoDeck& deck = VideoDecks[((side % 2) + 2) % 2];
  if (!surface || !deck.hasVideo || deck.frame.empty() || deck.frameWidth == 0 || deck.frameHeight == 0 ||
      deck.frame.size() != static_cast<size_t>(deck.frameWidth) * deck.frameHeight || !(r > 0))
    return false;
  // Cover-fitting into a square is the frame's centred square: that crop drawn into the circle.
  const int w = static_cast<int>(deck.frameWidth), h = static_cast<int>(deck.frameHeight);
  const int sideLength = std::min(w, h);
  PixelView crop{const_cast<uint32_t*>(deck.frame.data()) + static_cast<size_t>((h - sideLength) / 2) * w +
                     (w - sideLength) / 2,
                 sideLength, sideLength, w};
  surface->DrawPixelsIn(crop, true, cx - r, cy - r, 2 * r, 2 * r, opacity, r, false);
  return true;
}
