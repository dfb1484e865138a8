#pragma once
// The two encoders that feed the live-video stream: H.264 (fed NV12 frames, gives Annex B
// access units) and AAC LC stereo (fed 16-bit interleaved PCM, gives raw AAC frames without
// ADTS headers). Each input is pushed with its times and every output is handed to a callback.
// Times are in 100-nanosecond units throughout.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/video_encode.h"

// --- Constants ------------------------------------------------------------------------------
inline constexpr int kLiveVideoFps = 30;
inline constexpr int kLiveVideoGopFrames = 60;      // one key frame every 2 s
inline constexpr int kLiveAudioKbps = 160;          // 20000 average bytes per second
inline constexpr int kAacFrameSamples = 1024;       // stereo frames in one AAC LC frame
inline constexpr int kMaxOutputsPerDrain = 64;      // the rest waits for the next call
inline constexpr int kMaxFinishDrains = 32;         // an ended stream holds at most its look-ahead
inline constexpr int64_t kTicksPerSecond = 10000000;  // 100-ns units
inline constexpr int64_t kVideoFrameTicks = 333333;   // one frame at 30 per second

// The callback gets each EncodedSample (platform/video_encode.h), valid only during the call:
// for H.264 one access unit in Annex B form (SPS and PPS ride in front of each key frame), for
// AAC one raw AAC frame; decodeTime is the presentation time when the encoder gives none.
// Returns false to stop draining; the input that caused the output then fails.
using SampleCallback = std::function<bool(const EncodedSample&)>;

// One open encoder. Opening over an open one releases the old transform first.
struct Encoder {
  EncoderTransformPtr transform;
};

// --- Opening --------------------------------------------------------------------------------
// H.264 Main profile, constant bitrate of kbps, 30 frames per second, progressive, square
// pixels, no B-frames, low latency, a key frame every kLiveVideoGopFrames. width and height even.
// On failure error gets "The H.264 video encoder isn't available" (no encoder) or
// "The H.264 encoder wouldn't take %dx%d (0x%08lX)" and the encoder is left closed.
bool OpenH264Encoder(Encoder& encoder, int width, int height, int kbps, std::wstring& error);
// AAC LC, stereo, sampleRate, kLiveAudioKbps. Failure: "The AAC audio encoder isn't
// available" or "The AAC encoder wouldn't start".
bool OpenAacEncoder(Encoder& encoder, int sampleRate, std::wstring& error);

// --- Encoding -------------------------------------------------------------------------------
// Pushes one input: an NV12 frame of width x height x 3 / 2 bytes, or interleaved 16-bit stereo
// PCM of any whole number of frames. When the encoder refuses it until drained, drains and tries
// once more. Then drains every output into callback. False when the input was not taken, the
// encoder failed or the callback returned false. The calling (live-video) thread only.
bool EncodeInput(Encoder& encoder, const uint8_t* data, size_t size, int64_t sampleTime,
                 int64_t sampleDuration, const SampleCallback& callback);
// Hands at most kMaxOutputsPerDrain pending outputs to callback. True when the encoder wants
// more input or the limit was reached (emptied, when given, tells which); false on an encoder
// failure or a false from callback.
bool DrainOutputs(Encoder& encoder, const SampleCallback& callback, bool* emptied = nullptr);
// Ends the stream and hands every output the encoder still holds to callback, in at most
// kMaxFinishDrains drains. False when the encoder failed, the callback returned false or the
// encoder still gave outputs after the last drain (the rest is lost).
bool FinishEncoding(Encoder& encoder, const SampleCallback& callback);

// --- Colour conversion ----------------------------------------------------------------------
// BGRA pixels (blue in the low byte) to NV12, BT.709 limited range in integer arithmetic:
// nv12 receives width x height bytes of Y, then interleaved U, V at half resolution both ways
// (width x height / 2 bytes). width and height even.
void ConvertToNv12(const uint32_t* bgra, int width, int height, uint8_t* nv12);
// The NV12 size in bytes of one width x height frame.
inline size_t Nv12Size(int width, int height) {
  return static_cast<size_t>(width) * static_cast<size_t>(height) * 3 / 2;
}
