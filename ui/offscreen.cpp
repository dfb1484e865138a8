#include "ui/offscreen.h"

#include <utility>
#include <vector>

#include "base/palette.h"
#include "ui/draw.h"
#include "ui/glow.h"

bool RenderFrameToPng(int width, int height, const std::function<void()>& draw, const std::wstring& path, float scale,
                      std::wstring* error) {
  DeviceStash window_device = StashDevice();
  std::vector<GlowShape> window_glows = std::move(GlowList);
  const size_t window_glow_start = GlowStartIndex;
  std::vector<std::function<void()>> window_overlays = std::move(OverlayList);
  FramePresenter window_presenter = SetFramePresenter(nullptr);

  bool ok = CreateDevice(width, height, scale);
  if (!ok) {
    if (error) *error = L"The off-screen image could not be made.";
  } else {
    ResetGlowLayer();
    BeginDraw();
    Clear(ColorOf(Pal.Background));
    if (draw) draw();
    EndFrame();
    ok = WriteFramePng(path, error);
  }

  ResetGlowLayer();
  SetFramePresenter(std::move(window_presenter));
  OverlayList = std::move(window_overlays);
  GlowStartIndex = window_glow_start;
  GlowList = std::move(window_glows);
  RestoreDevice(std::move(window_device));
  return ok;
}
