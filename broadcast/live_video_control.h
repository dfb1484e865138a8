#pragma once
// Going live with video, as the top bar and the Broadcast settings page ask for it: the service
// chosen in [LiveVideo] Service with its stream key. The streaming worker comes with live video;
// until then nothing goes on air and the state (LiveVideoState, broadcast/live_video.h) stays off.
// UI thread.
#include <cstdint>
#include <string>

inline constexpr int32_t kLiveVideoCustomService = 3;

// The service's name as the status line says it: "YouTube", "Twitch", "Facebook", or the custom
// address ([LiveVideo] Url) for service 3. Indexes outside 0..3 are clamped.
std::wstring LiveVideoServiceName(int32_t service);
// Starts live video to the chosen service and says "Going live on <service>…".
void GoLiveVideo();
// Sets the stop flag, joins the worker and turns the state off; returns the state it had.
int32_t StopLiveVideo();
// Seconds on air (0 unless on air).
double LiveVideoSeconds();
// The last error, taken under the live video's own lock; empty while all is well.
std::wstring LiveVideoStatusText();
