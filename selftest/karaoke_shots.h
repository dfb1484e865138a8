#pragma once
// The karaoke self-test's drawn screenshots: the karaoke screen rendered off-screen at 1280 x 720
// into the output folder, each reported as a "drew <name>" check, and the picture the GOLD shot
// uses as its background. UI thread.
#include <string>

#include "base/karaoke_settings.h"
#include "karaoke/karaoke_screen_info.h"

inline constexpr int kGoldPictureWidth = 1280, kGoldPictureHeight = 720;

// Sets the folder the shots go to.
void SetKaraokeShotFolder(const std::wstring& folder);
// The record as things stand now (deck snapshots refreshed first), drawn with `settings`.
void DrawShot(const wchar_t* name, const KaraokeSettings& settings);
// The given record drawn with `settings`.
void DrawInfoShot(const wchar_t* name, const KaraokeScreenInfo& info, const KaraokeSettings& settings);
// Writes a warm diagonal gradient of kGoldPictureWidth x kGoldPictureHeight as a PNG; false with
// *error when it cannot be written.
bool WriteGoldPicture(const std::wstring& path, std::wstring* error);
