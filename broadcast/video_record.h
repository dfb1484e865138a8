#pragma once
// The MP4 written beside a mix recording: the video mix at 30 frames a second over the recorded
// sound, H.264 and AAC. Frames are rendered on the UI thread, each put where the recorded sound
// reached what it shows, and queued; one encoder thread encodes them with the sound from the
// engine's video-recording tap and finishes the file. Stopping returns at once: the encoder thread
// drains, writes the index and moves it in front on its own; a new start and the exit wait for it.
// UI thread unless noted.
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "base/ui_text.h"

inline constexpr int kRecordFps = 30;
inline constexpr int kRecordKbps720 = 6000;
inline constexpr int kRecordKbps1080 = 12000;
inline constexpr int kRecordAudioKbps = 192;
inline constexpr size_t kMaxQueuedRecordFrames = 91;  // three seconds of distinct pictures

// Where both video captures (this and live video) take the video mix from: width x height BGRA
// pixels (premultiplied, top row first) into `pixels`, resized by the source. False: no picture
// this time (the caller repeats its last one). Null (the default): the compositor's
// RenderVideoFrame, each capture with a renderer of its own. Tools put their own picture here.
using VideoMixSource = bool (*)(int width, int height, std::vector<uint32_t>& pixels);
void SetVideoMixSource(VideoMixSource source);
struct VideoRenderer;
// One picture of the video mix from the current source; `renderer` is the caller's own.
bool RenderMixFrame(VideoRenderer* renderer, int width, int height, std::vector<uint32_t>& pixels);

// Frame buffers handed between the UI thread and an encoder thread without copying. A slot is
// marked in use when it is handed out; the last holder to let go (any thread) clears the mark
// with release order, after its last read of the pixels, and the UI thread takes it again only
// once an acquire load sees it clear.
struct VideoFrameSlot {
  std::vector<uint32_t> pixels;
  std::atomic<bool> inUse{false};
};
struct VideoFramePool {
  std::vector<std::shared_ptr<VideoFrameSlot>> slots;
};
// A pooled buffer nobody holds (still with its last pixels), a new pooled one while the pool has
// fewer than four, else a buffer of its own. UI thread.
std::shared_ptr<std::vector<uint32_t>> TakePoolFrame(VideoFramePool& pool);

// Starts recording the video mix to `path`; `height` below 1080 gives 1280x720, else 1920x1080.
// True at once while recording. Waits for a previous recording's file to be finished first. False
// with "The video encoder wouldn't start (0x%08X)" in `error` when the encoders or the file can't
// start (a text to translate, then fill).
bool StartVideoRecording(const std::wstring& path, int32_t height, UiText* error);
// Before the WAV of a mix recording starts: waits for a previous recording's file, then switches
// the tap on beside the WAV, so that the MP4 StartVideoRecording makes next holds exactly the
// WAV's sound. EnableVideoRecordTap(false) takes it back when the WAV does not start.
void ArmVideoRecordingBesideWav();
// Stops capturing and hands the rest to the encoder thread, which finishes the file; returns at
// once. Nothing when not recording.
void StopVideoRecording();
// Waits until a stopped recording's file is finished (the exit's last look). Any thread but the
// encoder's.
void WaitForVideoRecording();
// True from a successful start until StopVideoRecording.
bool VideoRecordingRunning();
// True once the encoder thread stopped on an error; the recording stays running, making nothing,
// until it is stopped. Any thread.
bool VideoRecordingFailed();
// Seconds of sound recorded so far (the master rate's frames taken from the tap).
double VideoRecordingSeconds();
// The recording's time of the master's next frame: seconds of sound that reached the tap, with
// the block being mixed (the decks already stand past it). Any thread; under the engine lock no
// block is being mixed, so it matches the decks' places exactly.
double VideoRecordingClock();
// Passed for a picture of the mix as it is now, with no time of its own.
inline constexpr double kShownNow = std::numeric_limits<double>::quiet_NaN();
// Once per UI frame, from the video feed: renders the video mix when it may show a frame that
// holds no picture yet, and puts it in the frame that starts nearest `shownAt` (VideoRecordingClock
// seconds at which what it shows began to show). A later picture for the same frame replaces it, a
// picture for a frame a later one holds is dropped, and frames no picture reached repeat the one
// before (queued once with a count), so how late the UI got here moves nothing.
void CaptureRecordFrame(double shownAt = kShownNow);
