#pragma once
// The audio stream's settings ([Broadcast] in settings.ini); the streamer works on a copy.
#include <cstdint>
#include <string>

struct StreamConfig {
  std::wstring Host = L"localhost";
  int32_t Port = 8000;
  std::wstring Mount = L"/live";
  std::wstring User = L"source";
  std::wstring Password;  // plain in memory, protected in the file
  int32_t Type = 0;       // 0 Icecast 2, any other value Shoutcast version 1
  int32_t Bitrate = 192;  // kbit/s
  std::wstring Name = L"Veldmix live mix";
};
