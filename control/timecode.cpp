#include "control/timecode.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/settings.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "platform/audio_stream.h"
#include "platform/clock.h"

namespace {

constexpr int32_t kMinDecoderRate = 8000;
constexpr double kEnvelopeSeconds = 0.05;     // decay time constant
constexpr double kArmLevel = 0.1;             // a swing below -0.1 x envelope arms the next crossing
constexpr double kMinPeriodSamples = 1.5;
constexpr double kMaxPeriodCycles = 20.0;     // periods longer than 20 carrier cycles are noise
constexpr double kJumpDifference = 0.3;       // a speed change this large is followed fast
constexpr double kFastFollow = 0.9;
constexpr double kSlowFollow = 0.35;
constexpr double kSteadyChange = 0.01;        // a steady stretch's speeds lie within 1 % of its first
constexpr double kSteadySeconds = 0.1;
constexpr double kLostCycles = 1.5;           // no crossing for this many periods: slowing down
constexpr double kStoppedSeconds = 0.08;      // no crossing for this long: stopped
constexpr float kMovingSpeed = 0.05f;
constexpr float kInt16Scale = 1.0f / 32768.0f;
constexpr int32_t kPacketWaitMs = 100;
constexpr uint32_t kInitialStereoFrames = 4096;
constexpr int kSimulatedRate = 48000;
constexpr int kSimulatedBlockFrames = 4800;   // 100 ms
constexpr uint32_t kNoiseSeed = 12345;
constexpr double kSimulatedAmplitude = 0.5;
constexpr int kTimecodeDecks = 2;

struct TimecodeInput {
  TimecodeConfig config;
  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<bool> running{false};
  std::atomic<double> speed[kTimecodeDecks] = {0.0, 0.0};
  std::atomic<double> pitch[kTimecodeDecks] = {0.0, 0.0};
  std::atomic<bool> signal[kTimecodeDecks] = {false, false};
  std::atomic<int32_t> channels{0};
};
TimecodeInput Input;

void ClearPublished() {
  for (int d = 0; d < kTimecodeDecks; ++d) {
    Input.speed[d].store(0.0);
    Input.pitch[d].store(0.0);
    Input.signal[d].store(false);
  }
}

// Sleeps up to ms, waking early when the input is told to stop.
void RetryPause(int32_t ms) {
  for (int32_t waited = 0; waited < ms && !Input.stop.load(); waited += 10) SleepMs(10);
}

// Copies channels first, first + 1 of every frame into stereo (silence when data is null).
void CopyPair(const void* data, uint32_t frames, int32_t channels, int32_t sampleFormat, uint32_t first, float* stereo) {
  if (data == nullptr) {
    std::fill(stereo, stereo + static_cast<size_t>(frames) * 2, 0.0f);
    return;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  const size_t stride = static_cast<size_t>(channels);
  for (uint32_t i = 0; i < frames; ++i) {
    for (uint32_t c = 0; c < 2; ++c) {
      const size_t index = i * stride + first + c;
      float v = 0.0f;
      if (sampleFormat == kSampleInt16) {
        int16_t s;
        std::memcpy(&s, bytes + 2 * index, 2);
        v = static_cast<float>(s) * kInt16Scale;
      } else {
        std::memcpy(&v, bytes + 4 * index, 4);
        if (!std::isfinite(v)) v = 0.0f;
      }
      stereo[2 * i + c] = v;
    }
  }
}

// One device session: open (configured device, else the default), then read until stopped or the
// device fails. False when nothing could be opened; *reported keeps one log line per failing streak.
bool CaptureSession(const TimecodeConfig& config, bool* reported) {
  AudioStreamFormat format;
  std::wstring error;
  AudioStream* stream = nullptr;
  if (!config.deviceId.empty()) stream = OpenSharedInput(config.deviceId, kTimecodeBufferMs, format, error);
  if (stream == nullptr) stream = OpenSharedInput(L"", kTimecodeBufferMs, format, error);
  if (stream != nullptr && format.sampleFormat != kSampleFloat32 && format.sampleFormat != kSampleInt16) {
    CloseAudioStream(stream);
    stream = nullptr;
    error = L"the input's sample format is neither float nor 16-bit";
  }
  if (stream == nullptr) {
    if (!*reported) WriteLog(L"DVS: no input to read ({}); trying again every {} ms", error, kTimecodeRetryMs);
    *reported = true;
    return false;
  }
  *reported = false;
  Input.channels.store(format.channels);
  const uint32_t pairs[kTimecodeDecks] = {config.pairA, config.pairB};
  const bool flips[kTimecodeDecks] = {config.flipA, config.flipB};
  TimecodeDecoder decoders[kTimecodeDecks];
  for (int d = 0; d < kTimecodeDecks; ++d) decoders[d] = MakeTimecodeDecoder(format.rate, config.carrierHz, flips[d]);
  WriteLog(L"DVS: reading {} channels at {} Hz from {}", format.channels, format.rate, format.deviceId);
  std::vector<float> stereo(static_cast<size_t>(kInitialStereoFrames) * 2);
  while (!Input.stop.load()) {
    const void* data = nullptr;
    const int64_t frames = WaitInputPacket(stream, kPacketWaitMs, &data);
    if (frames < 0) {
      WriteLog(L"DVS: the input stopped; opening it again");
      break;
    }
    if (frames == 0) continue;
    const auto n = static_cast<uint32_t>(frames);
    if (stereo.size() < static_cast<size_t>(n) * 2) stereo.resize(static_cast<size_t>(n) * 2);  // only grows
    for (int d = 0; d < kTimecodeDecks; ++d) {
      if (2 * static_cast<int64_t>(pairs[d]) + 1 >= format.channels) continue;
      CopyPair(data, n, format.channels, format.sampleFormat, 2 * pairs[d], stereo.data());
      DecodeTimecode(decoders[d], stereo.data(), n);
      Input.speed[d].store(decoders[d].speed);
      Input.pitch[d].store(decoders[d].pitch);
      Input.signal[d].store(decoders[d].envelope > kTimecodeSignalLevel);
    }
    ReleaseInputPacket(stream);
  }
  CloseAudioStream(stream);
  ClearPublished();
  return true;
}

void TimecodeCaptureThread() {
  RegisterProAudioThread();
  const TimecodeConfig config = Input.config;
  bool reported = false;
  while (!Input.stop.load()) {
    if (!CaptureSession(config, &reported)) RetryPause(kTimecodeRetryMs);
  }
  ClearPublished();
}

}  // namespace

TimecodeDecoder MakeTimecodeDecoder(int32_t sampleRate, double carrierHz, bool flip) {
  TimecodeDecoder decoder;
  decoder.sampleRate = std::max(sampleRate, kMinDecoderRate);
  decoder.carrierHz = carrierHz > 0.0 && std::isfinite(carrierHz) ? carrierHz : kTimecodeCarrierHz;
  decoder.flip = flip;
  return decoder;
}

void DecodeTimecode(TimecodeDecoder& d, const float* stereo, uint32_t frames) {
  const double rate = d.sampleRate;
  const double cycle = rate / d.carrierHz;  // samples per carrier cycle
  const double decay = std::exp(-1.0 / (rate * kEnvelopeSeconds));
  for (uint32_t i = 0; i < frames; ++i) {
    const float x = stereo[2 * i];
    const float y = d.flip ? -stereo[2 * i + 1] : stereo[2 * i + 1];
    d.count += 1.0;
    d.envelope = std::max(d.envelope * decay, static_cast<double>(std::fabs(x)));
    if (x < -kArmLevel * d.envelope) d.armed = true;
    if (d.armed && d.previousX < 0.0f && x >= 0.0f && d.envelope > kTimecodeSignalLevel) {
      d.armed = false;
      const double f = static_cast<double>(d.previousX) / (static_cast<double>(d.previousX) - x);
      const double period = d.count - 1.0 + f;
      d.count = 1.0 - f;
      if (period > kMinPeriodSamples && period < kMaxPeriodCycles * cycle) {
        const double direction = y > 0.0f ? 1.0 : -1.0;
        const double target = direction * cycle / period;
        d.lastPeriod = period;
        const double change = target - d.speed;
        d.speed += (std::fabs(change) > kJumpDifference ? kFastFollow : kSlowFollow) * change;
        if (d.steadyFrom == 0.0 || std::fabs(d.speed - d.steadyFrom) > kSteadyChange * std::fabs(d.steadyFrom)) {
          d.steadyFrom = d.speed;
          d.steadyFor = 0.0;
        } else if ((d.steadyFor += period) >= kSteadySeconds * rate) {
          d.pitch = d.speed;
        }
      }
    }
    d.previousX = x;
    if (d.count > std::max(kLostCycles * cycle, kLostCycles * d.lastPeriod)) {
      d.steadyFor = 0.0;
      const double bound = cycle / d.count;
      if (std::fabs(d.speed) > bound) d.speed = std::copysign(bound, d.speed);
      if (d.count > kStoppedSeconds * rate) d.speed = 0.0;
    }
    if (d.envelope < kTimecodeSignalLevel) d.speed = 0.0;
  }
}

double SimulateTimecode(double carrierHz, double speed, double noise, double seconds) {
  TimecodeDecoder decoder = MakeTimecodeDecoder(kSimulatedRate, carrierHz, false);
  std::vector<float> block(static_cast<size_t>(kSimulatedBlockFrames) * 2, 0.0f);
  const int blocks = static_cast<int>(std::trunc(seconds * 10.0));
  const double step = 2.0 * std::numbers::pi * carrierHz * speed / kSimulatedRate;
  double phase = 0.0;
  uint32_t x = kNoiseSeed;
  for (int b = 0; b < blocks; ++b) {
    for (int i = 0; i < kSimulatedBlockFrames; ++i) {
      x = x * 1664525u + 1013904223u;
      const auto n = static_cast<float>(static_cast<double>(static_cast<int32_t>(x)) * 0x1p-31 * noise);
      block[2 * i] = static_cast<float>(kSimulatedAmplitude * std::sin(phase)) + n;
      block[2 * i + 1] = static_cast<float>(kSimulatedAmplitude * std::cos(phase)) - n;
      phase += step;
    }
    DecodeTimecode(decoder, block.data(), kSimulatedBlockFrames);
  }
  return blocks > 0 ? decoder.speed : 0.0;
}

void StartTimecodeInput() {
  StopTimecodeInput();
  if (!Settings.DvsOn) return;
  TimecodeConfig config;
  config.deviceId = Settings.DvsDevice;
  config.pairA = static_cast<uint32_t>(std::max(Settings.PairA, 0));
  config.pairB = static_cast<uint32_t>(std::max(Settings.PairB, 0));
  config.carrierHz = Settings.Traktor ? kTraktorCarrierHz : kTimecodeCarrierHz;
  config.flipA = Settings.FlipA;
  config.flipB = Settings.FlipB;
  Input.config = config;
  Input.stop.store(false);
  Input.running.store(true);
  Input.thread = std::thread(TimecodeCaptureThread);
}

void StopTimecodeInput() {
  if (!Input.running.load()) return;
  Input.stop.store(true);
  if (Input.thread.joinable() && Input.thread.get_id() != std::this_thread::get_id()) Input.thread.join();
  Input.running.store(false);
  ClearPublished();
  WriteLog(L"DVS: input stopped");
}

double TimecodeSpeed(int deck) { return Input.speed[deck & 1].load(); }
double TimecodePitch(int deck) { return Input.pitch[deck & 1].load(); }
bool TimecodeHasSignal(int deck) { return Input.signal[deck & 1].load(); }
int32_t TimecodeInputState() { return Input.channels.load(); }
bool TimecodeInputRunning() { return Input.running.load(); }

void ApplyTimecodeSpeed() {
  // Without the input nothing here has run: the engine's follow flags are left to their owners.
  static bool applied = false;
  if (!Settings.DvsOn && !Input.running.load() && !applied) return;
  applied = Settings.DvsOn || Input.running.load();
  for (int deck = 0; deck < kTimecodeDecks; ++deck) {
    const bool follow = Settings.DvsOn && Input.running.load() && TimecodeHasSignal(deck);
    const float s = follow ? static_cast<float>(TimecodeSpeed(deck)) : 0.0f;
    DeckView& view = LiveDeckViews[deck];
    // The fader shows the record's steady forward pitch: not the readings of a record starting,
    // stopping or lifted, which pass through every speed on the way, nor a backwards one.
    const float pitch = follow ? static_cast<float>(TimecodePitch(deck)) : 0.0f;
    if (follow && pitch > 0.5f && pitch < 1.5f)
      view.tempoFader = std::clamp(0.5f - (pitch - 1.0f) / (2.0f * view.pitchRange), 0.0f, 1.0f);
    const bool moving = std::fabs(s) > kMovingSpeed;
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckState& state = DeckStateOf(deck);
    if (follow) state.externalSpeed = s;
    if (follow != state.externalSpeedOn || (follow && moving != DeckSnapshots[deck].playing)) {
      state.externalSpeedOn = follow;
      if (follow && state.track) state.playing = moving;
    }
  }
}
