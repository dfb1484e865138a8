#include "broadcast/video_window.h"

#include <algorithm>
#include <cmath>

#include "broadcast/video_compositor.h"
#include "broadcast/video_feed.h"
#include "platform/clock.h"

namespace {

VideoRenderer previewRenderer;

}  // namespace

void ToggleVideoWindow() {}

bool IsVideoWindowOpen() { return false; }

void CloseVideoWindow() {}

void DrawVideoPreview(DrawSurface* surface, float x, float y, float width, float height) {
  if (!surface || !std::isfinite(width) || !std::isfinite(height) || width <= 0 || height <= 0) return;
  const float scale = surface->dipScale();
  const int pw = std::clamp(static_cast<int>(width * scale), 2, 16384);
  const int ph = std::clamp(static_cast<int>(height * scale), 2, 16384);
  if (!previewRenderer.output || previewRenderer.output->pixelWidth() != pw ||
      previewRenderer.output->pixelHeight() != ph)
    previewRenderer.output = DrawSurface::Create(pw, ph, 1.0f);
  if (!previewRenderer.output) return;
  ComposeVideoFrame(&previewRenderer, previewRenderer.output.get(), pw, ph, static_cast<double>(MonotonicMs()) / 1000.0);
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
