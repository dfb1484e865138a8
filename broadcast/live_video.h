#pragma once
// Live video to an RTMP service: the master mix from the engine's live-video tap as AAC and the
// video mix as H.264, in FLV payloads through the RTMP publisher. One worker connects, publishes,
// encodes and sends until stopped and retries every 5 seconds, unless the service refused the
// key. The sound is the clock: the audio frames taken from the tap decide which of the 30 video
// frames a second is due; a frame the UI's capture did not deliver in time repeats the last
// picture, so the stream keeps 30 a second however fast the UI draws. UI thread unless noted.
#include <atomic>
#include <cstdint>
#include <string>

inline constexpr int32_t kLiveVideoCustomService = 3;
inline constexpr int kLiveVideoKbps720 = 3500;
inline constexpr int kLiveVideoKbps1080 = 6000;
inline constexpr size_t kMaxQueuedLiveFrames = 8;
inline constexpr uint64_t kLiveFillAfterMs = 500;  // no frame this long: the loop repeats the last
inline constexpr int64_t kLiveLateFrames = 2;      // the UI this many frames behind: the same

// What a start asks for.
struct LiveVideoConfig {
  std::wstring address;  // rtmp:// or rtmps:// URL
  std::wstring key;      // blanks around it are trimmed
  int32_t height = 720;  // 1080 or more gives 1920x1080, else 1280x720
};

// 0 off, 1 connecting, 2 on air, 3 failed (the audio stream's kStream* values). Any thread.
int32_t LiveVideoState();
// The service's name as the status line says it: "YouTube", "Twitch", "Facebook", or the custom
// address ([LiveVideo] Url) for service 3. Indexes outside 0..3 are clamped.
std::wstring LiveVideoServiceName(int32_t service);
// The ingest address of a service: the built-in ones, or [LiveVideo] Url for service 3.
std::wstring LiveVideoServiceAddress(int32_t service);
// GO LIVE VIDEO: starts live video to the service in [LiveVideo] with its key and Height and
// says "Going live on <service>…"; on a refusal shows why and returns false (the caller opens
// the Broadcast settings).
bool GoLiveVideo();
// Stops any live video, checks the address and the key, and starts the worker. False with the
// user's message in *error (nothing was sent).
bool StartLiveVideo(const LiveVideoConfig& config, std::wstring* error);
// Sets the stop flag, cuts the connection short, joins the worker and turns the state off;
// returns the state it had.
int32_t StopLiveVideo();
// Seconds on air (0 unless on air).
double LiveVideoSeconds();
// The last error, taken under the live video's own lock; empty while all is well.
std::wstring LiveVideoStatusText();
// Every byte handed to the socket since the start; and the frames the stream loop repeated on its
// own because no picture came for kLiveFillAfterMs or the UI was kLiveLateFrames behind. Any thread.
uint64_t LiveVideoBytesSent();
uint64_t LiveVideoFillFrames();
// Once per UI frame, from the video feed: renders and queues a frame when one is due on air.
void CaptureLiveFrame();
