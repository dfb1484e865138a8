// The karaoke screen off-screen: one 1280 x 720 frame written as a PNG (screenshots, self-tests,
// the tool), and the background picture's loading.
#include <memory>

#include "karaoke/karaoke_draw.h"
#include "platform/picture_file.h"

namespace {

constexpr int kOffscreenWidth = 1280, kOffscreenHeight = 720;
constexpr int kVideoWaitMs = 1500;

}  // namespace

bool LoadPicturePixels(const std::wstring& path, std::vector<uint32_t>* pixels, int* width, int* height) {
  return DecodePictureFile(path, kKaraokePictureMaxSide, pixels, width, height, nullptr);
}

bool RenderKaraokeScreenPng(const std::wstring& path, int width, int height, const KaraokeScreenInfo& info,
                            const KaraokeSettings& settings, double clock, std::wstring* error) {
  std::unique_ptr<DrawSurface> target = DrawSurface::Create(width, height, 1.0f);
  if (!target) {
    if (error) *error = L"no drawing surface of that size could be made";
    return false;
  }
  // A fresh drawing state each time, as each render has its own target; the content (CD+G state,
  // the loaded picture, the video players) carries over from render to render.
  KaraokeDrawState state;
  KaraokeScreen& content = KaraokeOffscreenContent();
  const float w = static_cast<float>(width), h = static_cast<float>(height);
  DrawKaraokeScreen(state, content, *target, w, h, info, settings, clock);
  // A video shows its frame only once its player has decoded it: wait for that (at most 1.5 s),
  // then draw once more.
  const bool ownVideo = info.mode != 0 && info.lyrics && info.lyrics->kind == LyricsKind::KaraokeVideo;
  if (ownVideo || settings.Background == 2) {
    (ownVideo ? content.karaokeVideo : content.backgroundVideo).WaitUntilIdle(kVideoWaitMs);
    DrawKaraokeScreen(state, content, *target, w, h, info, settings, clock);
  }
  if (!target->Ok()) {
    if (error) *error = L"drawing the karaoke screen failed";
    return false;
  }
  return target->WritePng(path, error);
}

bool RenderKaraokeScreenToBitmap(const std::wstring& path, const KaraokeScreenInfo& info,
                                 const KaraokeSettings& settings, double clock, std::wstring* error) {
  return RenderKaraokeScreenPng(path, kOffscreenWidth, kOffscreenHeight, info, settings, clock, error);
}
