#pragma once
// The MP4 written beside a mix recording: the video mix at 30 frames a second over the recorded
// sound. The encoder comes with video recording; until then nothing is recorded. UI thread.
#include <cstdint>
#include <string>

// Starts recording the video mix to `path`; `height` below 1080 gives 1280x720, else 1920x1080.
// False with the reason in `error` when the encoder can't start.
bool StartVideoRecording(const std::wstring& path, int32_t height, std::wstring* error);
// Stops and finishes the file; nothing when not recording.
void StopVideoRecording();
// Once per UI frame, from the video feed: renders and queues the frames the recorded sound needs.
void CaptureRecordFrame();
