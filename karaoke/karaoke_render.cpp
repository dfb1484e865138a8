// The karaoke screen off-screen: one 1280 x 720 frame written as a PNG (screenshots, self-tests,
// the tool), and the background picture's loading.
#include <memory>

#include "karaoke/karaoke_draw.h"
#include "platform/picture_file.h"

namespace {

constexpr int kOffscreenWidth = 1280, kOffscreenHeight = 720;

}  // namespace

bool LoadPicturePixels(const std::wstring& path, std::vector<uint32_t>* pixels, int* width, int* height) {
  return DecodePictureFile(path, kKaraokePictureMaxSide, pixels, width, height, nullptr);
}

bool RenderKaraokeScreenToBitmap(const std::wstring& path, const KaraokeScreenInfo& info,
                                 const KaraokeSettings& settings, double clock, std::wstring* error) {
  std::unique_ptr<DrawSurface> target = DrawSurface::Create(kOffscreenWidth, kOffscreenHeight, 1.0f);
  if (!target) {
    if (error) *error = L"no 1280 x 720 drawing surface could be made";
    return false;
  }
  // A fresh drawing state each time, as each render has its own target; the content (CD+G state,
  // the loaded picture) carries over from render to render.
  KaraokeDrawState state;
  DrawKaraokeScreen(state, KaraokeOffscreenContent(), *target, kOffscreenWidth, kOffscreenHeight, info, settings,
                    clock);
  // A video frame would be waited for here (once, up to 1.5 s) before drawing again; without a
  // video player there is none to wait for.
  if (!target->Ok()) {
    if (error) *error = L"drawing the karaoke screen failed";
    return false;
  }
  return target->WritePng(path, error);
}
