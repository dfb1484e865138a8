// The microphone and line input thread.
#include "engine/audio_input.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "base/log.h"
#include "engine/audio_output.h"
#include "engine/output_loss.h"
#include "engine/render_helpers.h"
#include "platform/audio_stream.h"
#include "platform/clock.h"
#include "platform/thread_priority.h"

namespace {

constexpr int32_t kPacketWaitMs = 200;
constexpr uint32_t kMinChunkFrames = 4096;   // packets are converted in chunks of this size or more
constexpr float kInt16Divisor = 32768.0f;
constexpr uint64_t kInputDefaultCheckMs = 1501;  // how often an input that follows the default looks

// The one "couldn't be opened" line until the input opens again.
std::atomic<bool> gInputOpenFailureLogged{false};

float SampleAt(const uint8_t* bytes, size_t index, int32_t sampleFormat) {
  if (sampleFormat == kSampleInt16) {
    int16_t v;
    std::memcpy(&v, bytes + 2 * index, 2);
    return static_cast<float>(v) / kInt16Divisor;
  }
  float v;
  std::memcpy(&v, bytes + 4 * index, 4);
  return std::isfinite(v) ? v : 0.0f;
}

}  // namespace

void EnableInput(AudioEngine& engine, bool on, const std::wstring& deviceId) {
  AssertNotAudioThread();
  engine.inputOn.store(false);
  engine.inputStop.store(true);
  if (engine.inputThread.joinable()) engine.inputThread.join();
  engine.inputCapturing.store(false);
  ForgetLostOutput(OutputKind::kMicrophone);
  if (const uint64_t dropped = engine.inputDropped.exchange(0); dropped > 0)
    WriteLog(L"Input: {} frames dropped while the output was not reading them", dropped);
  if (!on) return;
  // The render may be reading the old ring: build the new one outside, swap it in under the lock,
  // free the old one after.
  std::vector<float> ring(static_cast<size_t>(kInputRingFrames) * 2, 0.0f);
  {
    std::lock_guard<RealtimeMutex> guard(engine.lock);
    engine.inputDeviceId = deviceId;
    engine.inputRing.swap(ring);
    engine.inputCapacity = kInputRingFrames;
    engine.inputWritten.store(0);
    engine.inputReadPos = 0.0;
    engine.inputReadFrame.store(0);
  }
  engine.inputResync.store(true);
  engine.inputStop.store(false);
  engine.inputOn.store(true);
  engine.inputThread = std::thread(InputThread, &engine);
}

void InputThread(AudioEngine* engine) {
  NameThisThread("vm-input");
  RegisterProAudioThread();
  // As the outputs: a device that went away (the sound server restarted, a USB interface
  // replugged) is opened again until the input is switched off.
  while (!engine->inputStop.load()) {
    RunInputSession(*engine);
    WaitBeforeReopen(engine->inputStop);
  }
}

void RunInputSession(AudioEngine& engine) {
  std::wstring id;
  {
    std::lock_guard<RealtimeMutex> guard(engine.lock);
    id = engine.inputDeviceId;
  }
  AudioStreamFormat format;
  std::wstring error;
  AudioStream* stream = !id.empty() ? OpenSharedInput(id, kInputBufferMs, format, error) : nullptr;
  // Without a device of its own, or when it is missing, the input takes the default and follows it.
  const bool followDefault = stream == nullptr;
  if (stream == nullptr) stream = OpenSharedInput(L"", kInputBufferMs, format, error);
  if (stream == nullptr) {
    if (!gInputOpenFailureLogged.exchange(true))
      WriteLog(L"Audio: the microphone input couldn't be opened ({}); retrying", error);
    return;
  }
  gInputOpenFailureLogged.store(false);
  const uint32_t chunk = std::max(format.bufferFrames * 2, kMinChunkFrames);
  std::vector<float> stereo(static_cast<size_t>(chunk) * 2);
  const size_t frameBytes = static_cast<size_t>(format.channels) * (format.sampleFormat == kSampleInt16 ? 2 : 4);
  engine.inputRate.store(format.rate);
  // A reopened device may run at another rate and its first frames follow a gap: the render
  // starts reading them afresh.
  engine.inputResync.store(true);
  engine.inputCapturing.store(true);
  WriteLog(L"Audio: microphone input started ({} Hz, {} channels)", format.rate, format.channels);
  MarkOutputPlaying(OutputKind::kMicrophone, format.deviceId);
  MarkAudioThread(true);
  uint64_t lastDefaultCheck = MonotonicMs();
  bool failed = false;
  while (!engine.inputStop.load()) {
    if (followDefault && MonotonicMs() - lastDefaultCheck >= kInputDefaultCheckMs) {
      lastDefaultCheck = MonotonicMs();
      if (DefaultDeviceMoved(stream)) break;
    }
    const void* data = nullptr;
    const int64_t frames = WaitInputPacket(stream, kPacketWaitMs, &data);
    if (frames < 0) {
      failed = true;
      break;
    }
    float peak = 0.0f;
    for (int64_t done = 0; done < frames;) {
      const auto n = static_cast<uint32_t>(std::min<int64_t>(frames - done, chunk));
      const void* part = data != nullptr ? static_cast<const uint8_t*>(data) + done * frameBytes : nullptr;
      peak = std::max(peak, CaptureToStereo(part, n, format.channels, format.sampleFormat, stereo.data()));
      WriteInputRing(engine, stereo.data(), n);
      done += n;
    }
    if (frames > 0) ReleaseInputPacket(stream);
    RaiseAtomic(engine.inputPeak, peak);
  }
  MarkAudioThread(false);
  engine.inputCapturing.store(false);
  if (failed) {
    WriteLog(L"Audio: microphone input stopped (device removed, changed or failed); reopening");
    MarkOutputLost(OutputKind::kMicrophone);
  } else if (!engine.inputStop.load()) {
    WriteLog(L"Audio: microphone input moves to the new default device");
  }
  CloseAudioStream(stream);
}

float CaptureToStereo(const void* data, uint32_t frames, int32_t channels, int32_t sampleFormat, float* stereo) {
  if (data == nullptr || channels < 1) {
    std::fill(stereo, stereo + static_cast<size_t>(frames) * 2, 0.0f);
    return 0.0f;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  const size_t stride = static_cast<size_t>(channels);
  float peak = 0.0f;
  for (uint32_t i = 0; i < frames; ++i) {
    const float first = SampleAt(bytes, i * stride, sampleFormat);
    const float second = channels >= 2 ? SampleAt(bytes, i * stride + 1, sampleFormat) : first;
    const float v = std::abs(second) > std::abs(first) ? second : first;
    stereo[2 * i] = v;
    stereo[2 * i + 1] = v;
    peak = std::max(peak, std::abs(v));
  }
  return peak;
}

uint64_t WriteInputRing(AudioEngine& engine, const float* stereo, uint64_t frames) {
  const uint64_t capacity = engine.inputCapacity;
  if (capacity == 0 || engine.inputRing.size() < 2 * capacity || frames == 0) return 0;
  const uint64_t written = engine.inputWritten.load(std::memory_order_relaxed);
  // Acquire: the render's reads of the frames it has passed are done before they are overwritten.
  const uint64_t read = std::min(engine.inputReadFrame.load(std::memory_order_acquire), written);
  const uint64_t room = capacity - std::min(written - read, capacity);
  const uint64_t n = std::min(frames, room);
  if (n < frames) engine.inputDropped.fetch_add(frames - n, std::memory_order_relaxed);
  if (n == 0) return 0;
  const uint64_t start = written % capacity;
  const uint64_t first = std::min(n, capacity - start);
  float* ring = engine.inputRing.data();
  std::copy(stereo, stereo + first * 2, ring + start * 2);
  std::copy(stereo + first * 2, stereo + n * 2, ring);
  engine.inputWritten.store(written + n, std::memory_order_release);
  return n;
}
