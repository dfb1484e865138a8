#pragma once
// Live video to an RTMP service, as the top bar and the Broadcast settings page ask for it: the
// service chosen in [LiveVideo] Service with its stream key, and the state the rest of the program
// reads. The streaming worker comes with live video; until then nothing goes on air and the state
// stays off. UI thread.
#include <cstdint>
#include <string>

inline constexpr int32_t kLiveVideoCustomService = 3;

// 0 off, 1 connecting, 2 on air, 3 failed (the audio stream's kStream* values).
int32_t LiveVideoState();
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
// Once per UI frame, from the video feed: renders and queues a frame when one is due on air.
void CaptureLiveFrame();
