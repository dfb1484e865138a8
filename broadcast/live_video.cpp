#include "broadcast/live_video.h"

#include <algorithm>

#include "app/settings.h"
#include "app/status_message.h"
#include "broadcast/audio_stream.h"

namespace {

constexpr const wchar_t* kServiceNames[kLiveVideoCustomService] = {L"YouTube", L"Twitch", L"Facebook"};

}  // namespace

int32_t LiveVideoState() { return kStreamOff; }

std::wstring LiveVideoServiceName(int32_t service) {
  const int32_t index = std::clamp<int32_t>(service, 0, kLiveVideoCustomService);
  return index == kLiveVideoCustomService ? Settings.LiveVideoUrl : kServiceNames[index];
}

void GoLiveVideo() { ShowStatus(L"Going live on " + LiveVideoServiceName(Settings.Service) + L"\u2026"); }

int32_t StopLiveVideo() { return LiveVideoState(); }

double LiveVideoSeconds() { return 0.0; }

std::wstring LiveVideoStatusText() { return {}; }

void CaptureLiveFrame() {}
