#pragma once
// One open device ("a device run"): a playback or capture stream on a sound-server sink or
// source (the two shared modes) or on an ALSA hardware device (exclusive mode), written or read
// one period at a time by the caller's own thread. Opening and closing allocate and block; the
// wait, write and read calls allocate nothing of ours and block only on the device.
#include <cstdint>
#include <string>

// Sample formats as the device takes or gives them.
inline constexpr int32_t kSampleFloat32 = 0;
inline constexpr int32_t kSampleInt16 = 1;
inline constexpr int32_t kSampleInt24Packed = 2;  // three bytes, little-endian
inline constexpr int32_t kSampleInt32 = 3;        // 32-bit container, value in the high bits

inline constexpr int32_t kShareShared = 0;
inline constexpr int32_t kShareLowLatency = 1;
inline constexpr int32_t kShareExclusive = 2;

struct AudioStreamFormat {
  std::wstring deviceId;       // the device actually opened (the default resolved to its id)
  int32_t rate = 48000;
  int32_t channels = 2;        // the device's own channels, in its own order
  int32_t sampleFormat = kSampleFloat32;
  int32_t shareMode = kShareShared;
  uint32_t bufferFrames = 0;   // playback: frames the device buffer holds; capture: one period
  uint32_t periodFrames = 0;   // frames the device takes or gives per wake-up (the render's block)
};

struct AudioStream;

// --- Opening ---
// Shared playback on a sink (empty id: the default sink) in the sink's own rate, channels and
// sample format (float when the sink's format is none of ours). The period is 10 ms, or with
// lowLatency bufferMs (2..50). Null with a reason in error when it cannot be opened.
AudioStream* OpenSharedOutput(const std::wstring& id, bool lowLatency, int32_t bufferMs,
                              AudioStreamFormat& format, std::wstring& error);
// Exclusive playback on the ALSA hardware device behind a sink (or an id naming "hw:..."),
// trying the rates and sample formats in the usual order; period max(bufferMs, the device's
// minimum). Null with a reason when there is no such hardware or it is busy.
AudioStream* OpenExclusiveOutput(const std::wstring& id, int32_t bufferMs, AudioStreamFormat& format,
                                 std::wstring& error);
// Shared capture from a source (empty id: the default source) with a bufferMs period.
AudioStream* OpenSharedInput(const std::wstring& id, int32_t bufferMs, AudioStreamFormat& format,
                             std::wstring& error);
// Stops and closes; null is allowed.
void CloseAudioStream(AudioStream* stream);

// --- Playback ---
// Waits at most timeoutMs until a period's room is free. Returns the frames that fit now (at
// most bufferFrames), 0 when the time ran out, -1 when the device failed or went away.
int64_t WaitOutputRoom(AudioStream* stream, int32_t timeoutMs);
// Writes frames in the device's sample format and channel order; false when the device failed.
bool WriteOutput(AudioStream* stream, const void* bytes, uint32_t frames);

// --- Capture ---
// Waits at most timeoutMs for the next packet. Returns its frames (0 when the time ran out, -1
// when the device failed); *data is null for a packet the device marks silent. Every packet
// with frames must be given back with ReleaseInputPacket before the next wait.
int64_t WaitInputPacket(AudioStream* stream, int32_t timeoutMs, const void** data);
void ReleaseInputPacket(AudioStream* stream);

// --- State ---
// True once the server's default device of the stream's flow is another device than the one
// this stream opened. Cheap: a flag kept by the stream's own event handling.
bool DefaultDeviceMoved(const AudioStream* stream);
// Server underruns (or card underruns in exclusive mode) of a playback stream since it opened:
// the device played past what had been written. Owning thread.
uint32_t OutputUnderruns(const AudioStream* stream);

// How an audio thread came to run in the real-time class, or that it did not.
enum class RealtimeGrant { kScheduler, kRealtimeKit, kRefused };
// Puts the calling thread in the real-time class: directly when the system allows it, else by
// asking the desktop's real-time service. When refused, reason (when given) says why; the thread
// keeps its priority. Blocks up to a second on the service; call before the period loop.
RealtimeGrant RegisterProAudioThread(std::string* reason = nullptr);
