#include "selftest/karaoke_shots.h"

#include <fmt/xchar.h>

#include <cstdint>
#include <vector>

#include "engine/deck_snapshot.h"
#include "karaoke/karaoke_draw.h"
#include "karaoke/karaoke_tick.h"
#include "platform/folders.h"
#include "platform/png_file.h"
#include "selftest/selftest_state.h"
#include "ui/frame_driver.h"

namespace {

std::wstring ShotFolder;

// The gradient's two ends, 0xRRGGBB: deep amber to pale gold.
constexpr uint32_t kGoldDark = 0x5A3300, kGoldLight = 0xF2C14E;
constexpr uint32_t kOpaque = 0xFF000000u;

uint32_t Channel(uint32_t rgb, int shift) { return (rgb >> shift) & 0xFFu; }

uint32_t Blend(double t) {
  uint32_t out = kOpaque;
  for (int shift = 0; shift <= 16; shift += 8) {
    const double a = Channel(kGoldDark, shift), b = Channel(kGoldLight, shift);
    out |= static_cast<uint32_t>(a + (b - a) * t + 0.5) << shift;
  }
  return out;
}

}  // namespace

void SetKaraokeShotFolder(const std::wstring& folder) { ShotFolder = folder; }

void DrawInfoShot(const wchar_t* name, const KaraokeScreenInfo& info, const KaraokeSettings& settings) {
  const std::wstring path = JoinPath(ShotFolder, name);
  std::wstring error;
  const bool ok = RenderKaraokeScreenToBitmap(path, info, settings, FrameClock, &error);
  SelfTestCheck(ok, fmt::format(L"drew {}", name), fmt::format(L"{}: {}", path, error));
}

void DrawShot(const wchar_t* name, const KaraokeSettings& settings) {
  SnapshotDecks();
  DrawInfoShot(name, BuildKaraokeScreenInfo(), settings);
}

bool WriteGoldPicture(const std::wstring& path, std::wstring* error) {
  std::vector<uint32_t> pixels(static_cast<size_t>(kGoldPictureWidth) * kGoldPictureHeight);
  const double span = kGoldPictureWidth + kGoldPictureHeight - 2;
  for (int y = 0; y < kGoldPictureHeight; ++y)
    for (int x = 0; x < kGoldPictureWidth; ++x)
      pixels[static_cast<size_t>(y) * kGoldPictureWidth + x] = Blend((x + y) / span);
  return WritePngFile(pixels.data(), kGoldPictureWidth, kGoldPictureHeight, kGoldPictureWidth, path, error);
}
