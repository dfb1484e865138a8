#pragma once
// The karaoke screen's look ([Karaoke] in settings.ini).
#include <cstdint>
#include <string>

struct KaraokeSettings {
  int32_t Background = 0;
  std::wstring BackgroundFile;
  int32_t Dim = 45;  // percent
  bool Blur = true;
  int32_t Palette = 0;
  int32_t TextSize = 1;
  bool Countdown = true;
  bool ShowNext = true;
  std::wstring Message = L"Want to sing? Ask the DJ!";
};
