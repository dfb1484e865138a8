// Device streams: PulseAudio-protocol streams for the shared modes, ALSA hw devices for the
// exclusive one. Each stream has its own connection and main loop, run only inside the calls
// of the thread that owns the stream, so no library thread stands between us and the device.
#include "platform/audio_stream.h"

#include <alsa/asoundlib.h>
#include <pthread.h>
#include <pulse/pulseaudio.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "platform/clock.h"
#include "platform/pulse_link.h"
#include "platform/realtime_kit.h"
#include "platform/text.h"

namespace {

constexpr int kOpenTimeoutMs = 3000;
constexpr int32_t kSharedPeriodMs = 10;
constexpr int32_t kMinPeriodMs = 2;
constexpr int32_t kMaxPeriodMs = 50;
constexpr uint32_t kPlaybackPeriods = 2;   // low latency and exclusive: the buffer holds two periods
// The plain shared mode asks for eight periods (80 ms in all; the server keeps 50 ms queued for
// the stream). Every block passes through the sound server's main thread, which runs without
// real-time priority: under memory and disk load it now and then waits for a core longer than a
// short queue lasts. Five periods (30 ms kept) ran dry there about every three minutes; with
// three, an idle machine here ran dry about once a minute.
constexpr uint32_t kSharedPlaybackPeriods = 8;
constexpr int kProAudioPriority = 4;       // SCHED_FIFO, just under the sound server's default 5
constexpr int32_t kExclusiveRates[] = {0, 48000, 44100, 96000};  // 0 = the sink's own rate

struct ExclusiveFormat {
  snd_pcm_format_t alsa;
  int32_t sampleFormat;
};
// The order exclusive mode tries: float, 32-bit container, packed 24-bit, 16-bit.
constexpr ExclusiveFormat kExclusiveFormats[] = {
    {SND_PCM_FORMAT_FLOAT_LE, kSampleFloat32},
    {SND_PCM_FORMAT_S32_LE, kSampleInt32},
    {SND_PCM_FORMAT_S24_3LE, kSampleInt24Packed},
    {SND_PCM_FORMAT_S16_LE, kSampleInt16},
};

int32_t BytesPerSample(int32_t sampleFormat) {
  switch (sampleFormat) {
    case kSampleInt16: return 2;
    case kSampleInt24Packed: return 3;
    default: return 4;
  }
}

// The device's own sample format when we convert it ourselves (capture takes float and 16-bit
// only), else float, which the server converts.
void ChooseFormat(const pa_sample_spec& device, bool capture, pa_sample_spec& spec, int32_t& sampleFormat) {
  spec = device;
  switch (capture && device.format != PA_SAMPLE_S16LE ? PA_SAMPLE_FLOAT32LE : device.format) {
    case PA_SAMPLE_S16LE: sampleFormat = kSampleInt16; break;
    case PA_SAMPLE_S24LE: sampleFormat = kSampleInt24Packed; break;
    case PA_SAMPLE_S32LE: sampleFormat = kSampleInt32; break;
    default:
      spec.format = PA_SAMPLE_FLOAT32LE;
      sampleFormat = kSampleFloat32;
      break;
  }
}

}  // namespace

struct AudioStream {
  bool capture = false;
  // Sound-server stream.
  PulseLink link;
  pa_stream* stream = nullptr;
  std::string deviceName;
  size_t frameBytes = 4;
  size_t periodBytes = 0;
  uint32_t bufferFrames = 0;
  bool defaultMoved = false;
  bool peeked = false;
  uint32_t underruns = 0;  // the server or the card played past what was written
  // ALSA stream.
  snd_pcm_t* pcm = nullptr;
  uint32_t periodFrames = 0;
};

namespace {

void OnServerInfo(pa_context*, const pa_server_info* info, void* user) {
  auto* s = static_cast<AudioStream*>(user);
  if (info == nullptr) return;
  const char* current = s->capture ? info->default_source_name : info->default_sink_name;
  if (current != nullptr && s->deviceName != current) s->defaultMoved = true;
}

// A server change may be a new default device: ask for the server's facts, answered later
// within the stream's own waits.
void OnServerEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t, void* user) {
  if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SERVER) return;
  pa_operation* operation = pa_context_get_server_info(context, OnServerInfo, user);
  if (operation != nullptr) pa_operation_unref(operation);
}

void OnUnderflow(pa_stream*, void* user) { ++static_cast<AudioStream*>(user)->underruns; }

bool StreamGood(const AudioStream& s) {
  return pa_context_get_state(s.link.context) == PA_CONTEXT_READY && pa_stream_get_state(s.stream) == PA_STREAM_READY;
}

// Connects, finds the device, opens and starts the stream; fills format. Null with error.
AudioStream* OpenPulseStream(bool capture, const std::wstring& id, int32_t periodMs, int32_t shareMode,
                             AudioStreamFormat& format, std::wstring& error) {
  auto* s = new AudioStream;
  s->capture = capture;
  std::string reason;
  const int flow = capture ? 1 : 0;
  PulseDevice device;
  if (!ConnectPulse(s->link, capture ? "Veldmix input" : "Veldmix output", kOpenTimeoutMs, reason)) {
    error = L"no sound server: " + Utf8ToWide(reason);
    CloseAudioStream(s);
    return nullptr;
  }
  if (!FindPulseDevice(s->link, flow, WideToUtf8(id), device, kOpenTimeoutMs)) {
    error = id.empty() ? std::wstring(L"the sound server has no default device") : L"no device named " + id;
    CloseAudioStream(s);
    return nullptr;
  }
  pa_sample_spec deviceSpec;
  pa_channel_map map;
  PulseDeviceFormat(device, deviceSpec, map);
  pa_sample_spec spec;
  int32_t sampleFormat = kSampleFloat32;
  ChooseFormat(deviceSpec, capture, spec, sampleFormat);
  if (!pa_sample_spec_valid(&spec) || !pa_channel_map_valid(&map) || map.channels != spec.channels) {
    error = L"the device " + Utf8ToWide(device.name) + L" reports no usable format";
    CloseAudioStream(s);
    return nullptr;
  }
  s->deviceName = device.name;
  s->frameBytes = pa_frame_size(&spec);
  s->periodBytes = static_cast<size_t>(spec.rate) * static_cast<size_t>(periodMs) / 1000 * s->frameBytes;

  s->stream = pa_stream_new(s->link.context, capture ? "Veldmix input" : "Veldmix output", &spec, &map);
  if (s->stream == nullptr) {
    error = Utf8ToWide(pa_strerror(pa_context_errno(s->link.context)));
    CloseAudioStream(s);
    return nullptr;
  }
  pa_buffer_attr attr;
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.prebuf = static_cast<uint32_t>(-1);
  attr.fragsize = static_cast<uint32_t>(-1);
  attr.tlength = static_cast<uint32_t>(-1);
  attr.minreq = static_cast<uint32_t>(-1);
  // The stream keeps to its device: a removed sink ends the stream instead of moving it elsewhere.
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
  int connected;
  if (capture) {
    attr.fragsize = static_cast<uint32_t>(s->periodBytes);
    connected = pa_stream_connect_record(s->stream, device.name.c_str(), &attr, flags);
  } else {
    const uint32_t periods = shareMode == kShareShared ? kSharedPlaybackPeriods : kPlaybackPeriods;
    attr.tlength = static_cast<uint32_t>(s->periodBytes * periods);
    attr.minreq = static_cast<uint32_t>(s->periodBytes);
    connected = pa_stream_connect_playback(s->stream, device.name.c_str(), &attr, flags, nullptr, nullptr);
  }
  const uint64_t deadline = MonotonicMs() + kOpenTimeoutMs;
  while (connected >= 0 && pa_stream_get_state(s->stream) != PA_STREAM_READY) {
    const uint64_t now = MonotonicMs();
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s->stream)) || now >= deadline ||
        !IteratePulse(s->link, static_cast<int>(deadline - now))) {
      connected = -1;
      break;
    }
  }
  if (connected < 0) {
    error = L"the device " + Utf8ToWide(device.name) + L" refused the stream: " +
            Utf8ToWide(pa_strerror(pa_context_errno(s->link.context)));
    CloseAudioStream(s);
    return nullptr;
  }
  if (!capture) pa_stream_set_underflow_callback(s->stream, OnUnderflow, s);
  pa_context_set_subscribe_callback(s->link.context, OnServerEvent, s);
  pa_operation* subscribed = pa_context_subscribe(s->link.context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr);
  if (subscribed != nullptr) pa_operation_unref(subscribed);

  const pa_buffer_attr* granted = pa_stream_get_buffer_attr(s->stream);
  const size_t bufferBytes = capture ? granted->fragsize : granted->tlength;
  const size_t periodBytes = capture ? granted->fragsize : granted->minreq;
  s->bufferFrames = static_cast<uint32_t>(bufferBytes / s->frameBytes);
  s->periodFrames = static_cast<uint32_t>(std::max<size_t>(periodBytes / s->frameBytes, 1));
  s->periodBytes = s->periodFrames * s->frameBytes;
  format.deviceId = Utf8ToWide(device.name);
  format.rate = static_cast<int32_t>(spec.rate);
  format.channels = spec.channels;
  format.sampleFormat = sampleFormat;
  format.shareMode = shareMode;
  format.bufferFrames = s->bufferFrames;
  format.periodFrames = s->periodFrames;
  return s;
}

// The ALSA name of the hardware behind a sink, or the id itself when it already names one.
bool FindHardware(const std::wstring& id, std::string& hw, int32_t& rate, int32_t& channels, std::wstring& error) {
  const std::string name = WideToUtf8(id);
  if (name.rfind("hw:", 0) == 0) {
    hw = name;
    return true;
  }
  PulseLink link;
  std::string reason;
  PulseDevice device;
  if (!ConnectPulse(link, "Veldmix exclusive", kOpenTimeoutMs, reason)) {
    error = L"no sound server to find the device: " + Utf8ToWide(reason);
    return false;
  }
  const bool found = FindPulseDevice(link, 0, name, device, kOpenTimeoutMs);
  DisconnectPulse(link);
  if (!found) {
    error = id.empty() ? std::wstring(L"the sound server has no default device") : L"no device named " + id;
    return false;
  }
  if (device.alsaCard.empty()) {
    error = L"the device " + Utf8ToWide(device.name) + L" has no sound card of its own";
    return false;
  }
  hw = fmt::format("hw:{},{}", device.alsaCard, device.alsaDevice.empty() ? "0" : device.alsaDevice);
  rate = static_cast<int32_t>(device.rate);
  channels = device.channels;
  return true;
}

// alsa-lib prints its own errors to stderr; the caller reports a failure in its own words.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
struct QuietAlsaGuard {
  QuietAlsaGuard() { snd_lib_error_set_handler(QuietAlsa); }
  ~QuietAlsaGuard() { snd_lib_error_set_handler(nullptr); }
};

// Tries one rate and sample format on an open device; true when the device took it.
bool ConfigureHardware(snd_pcm_t* pcm, snd_pcm_format_t sampleFormat, int32_t channels, int32_t rate,
                       int32_t bufferMs, uint32_t& periodFrames) {
  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  if (snd_pcm_hw_params_any(pcm, hw) < 0 || snd_pcm_hw_params_set_rate_resample(pcm, hw, 0) < 0 ||
      snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
      snd_pcm_hw_params_set_format(pcm, hw, sampleFormat) < 0 ||
      snd_pcm_hw_params_set_channels(pcm, hw, static_cast<unsigned>(channels)) < 0 ||
      snd_pcm_hw_params_set_rate(pcm, hw, static_cast<unsigned>(rate), 0) < 0)
    return false;
  snd_pcm_uframes_t minimum = 0;
  int dir = 0;
  snd_pcm_hw_params_get_period_size_min(hw, &minimum, &dir);
  snd_pcm_uframes_t period = std::max<snd_pcm_uframes_t>(static_cast<snd_pcm_uframes_t>(bufferMs) * rate / 1000, minimum);
  snd_pcm_uframes_t buffer = period * kPlaybackPeriods;
  if (snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir) < 0 ||
      snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer) < 0 || snd_pcm_hw_params(pcm, hw) < 0)
    return false;
  snd_pcm_sw_params_t* sw;
  snd_pcm_sw_params_alloca(&sw);
  if (snd_pcm_sw_params_current(pcm, sw) < 0 || snd_pcm_sw_params_set_avail_min(pcm, sw, period) < 0 ||
      snd_pcm_sw_params_set_start_threshold(pcm, sw, period) < 0 || snd_pcm_sw_params(pcm, sw) < 0)
    return false;
  periodFrames = static_cast<uint32_t>(period);
  return true;
}

}  // namespace

AudioStream* OpenSharedOutput(const std::wstring& id, bool lowLatency, int32_t bufferMs, AudioStreamFormat& format,
                              std::wstring& error) {
  const int32_t periodMs = lowLatency ? std::clamp(bufferMs, kMinPeriodMs, kMaxPeriodMs) : kSharedPeriodMs;
  return OpenPulseStream(false, id, periodMs, lowLatency ? kShareLowLatency : kShareShared, format, error);
}

AudioStream* OpenSharedInput(const std::wstring& id, int32_t bufferMs, AudioStreamFormat& format, std::wstring& error) {
  return OpenPulseStream(true, id, std::clamp(bufferMs, kMinPeriodMs, kMaxPeriodMs), kShareShared, format, error);
}

AudioStream* OpenExclusiveOutput(const std::wstring& id, int32_t bufferMs, AudioStreamFormat& format,
                                 std::wstring& error) {
  std::string hw;
  int32_t deviceRate = 48000, channels = 2;
  if (!FindHardware(id, hw, deviceRate, channels, error)) return nullptr;
  const QuietAlsaGuard quiet;
  snd_pcm_t* pcm = nullptr;
  const int opened = snd_pcm_open(&pcm, hw.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
  if (opened < 0) {
    error = fmt::format(L"the sound card {} could not be opened exclusively ({})", Utf8ToWide(hw),
                        Utf8ToWide(snd_strerror(opened)));
    return nullptr;
  }
  const int32_t periodMs = std::clamp(bufferMs, kMinPeriodMs, kMaxPeriodMs);
  for (int32_t rate : kExclusiveRates) {
    if (rate == 0) rate = deviceRate;
    for (const ExclusiveFormat& candidate : kExclusiveFormats) {
      uint32_t periodFrames = 0;
      if (!ConfigureHardware(pcm, candidate.alsa, channels, rate, periodMs, periodFrames)) continue;
      auto* s = new AudioStream;
      s->pcm = pcm;
      s->deviceName = hw;
      s->frameBytes = static_cast<size_t>(BytesPerSample(candidate.sampleFormat)) * channels;
      s->periodFrames = periodFrames;
      s->bufferFrames = periodFrames;
      format.deviceId = id;
      format.rate = rate;
      format.channels = channels;
      format.sampleFormat = candidate.sampleFormat;
      format.shareMode = kShareExclusive;
      format.bufferFrames = periodFrames;
      format.periodFrames = periodFrames;
      return s;
    }
  }
  snd_pcm_close(pcm);
  error = L"the sound card " + Utf8ToWide(hw) + L" takes none of the exclusive formats";
  return nullptr;
}

void CloseAudioStream(AudioStream* s) {
  if (s == nullptr) return;
  if (s->pcm != nullptr) {
    snd_pcm_drop(s->pcm);
    snd_pcm_close(s->pcm);
  }
  if (s->stream != nullptr) {
    pa_stream_set_underflow_callback(s->stream, nullptr, nullptr);
    if (s->peeked) pa_stream_drop(s->stream);
    pa_stream_disconnect(s->stream);
    pa_stream_unref(s->stream);
  }
  if (s->link.context != nullptr) pa_context_set_subscribe_callback(s->link.context, nullptr, nullptr);
  DisconnectPulse(s->link);
  delete s;
}

int64_t WaitOutputRoom(AudioStream* s, int32_t timeoutMs) {
  const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(std::max(timeoutMs, 0));
  if (s->pcm != nullptr) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      snd_pcm_sframes_t room = snd_pcm_avail_update(s->pcm);
      if (room == -EPIPE) ++s->underruns;
      if (room < 0) {
        if (snd_pcm_recover(s->pcm, static_cast<int>(room), 1) < 0) return -1;
        continue;
      }
      if (static_cast<uint64_t>(room) >= s->periodFrames) return s->periodFrames;
      const uint64_t now = MonotonicMs();
      if (now >= deadline) return 0;
      const int woke = snd_pcm_wait(s->pcm, static_cast<int>(deadline - now));
      if (woke == 0) return 0;
      if (woke == -EPIPE) ++s->underruns;
      if (woke < 0 && snd_pcm_recover(s->pcm, woke, 1) < 0) return -1;
    }
    return 0;
  }
  for (;;) {
    if (!StreamGood(*s)) return -1;
    const size_t room = pa_stream_writable_size(s->stream);
    if (room == static_cast<size_t>(-1)) return -1;
    if (room >= s->periodBytes) return std::min<int64_t>(room / s->frameBytes, s->bufferFrames);
    const uint64_t now = MonotonicMs();
    if (now >= deadline) return 0;
    if (!IteratePulse(s->link, static_cast<int>(deadline - now))) return -1;
  }
}

bool WriteOutput(AudioStream* s, const void* bytes, uint32_t frames) {
  if (frames == 0) return true;
  if (s->pcm != nullptr) {
    const auto* at = static_cast<const uint8_t*>(bytes);
    uint32_t left = frames;
    while (left > 0) {
      snd_pcm_sframes_t done = snd_pcm_writei(s->pcm, at, left);
      if (done < 0) {
        if (done == -EPIPE) ++s->underruns;
        if (snd_pcm_recover(s->pcm, static_cast<int>(done), 1) < 0) return false;
        continue;
      }
      left -= static_cast<uint32_t>(done);
      at += static_cast<size_t>(done) * s->frameBytes;
    }
    return true;
  }
  if (!StreamGood(*s)) return false;
  return pa_stream_write(s->stream, bytes, frames * s->frameBytes, nullptr, 0, PA_SEEK_RELATIVE) >= 0;
}

int64_t WaitInputPacket(AudioStream* s, int32_t timeoutMs, const void** data) {
  *data = nullptr;
  if (s->stream == nullptr) return -1;
  const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(std::max(timeoutMs, 0));
  for (;;) {
    if (!StreamGood(*s)) return -1;
    if (s->peeked) ReleaseInputPacket(s);
    if (pa_stream_readable_size(s->stream) > 0) {
      const void* bytes = nullptr;
      size_t size = 0;
      if (pa_stream_peek(s->stream, &bytes, &size) < 0) return -1;
      if (size > 0) {
        s->peeked = true;
        const int64_t frames = static_cast<int64_t>(size / s->frameBytes);
        if (frames > 0) {
          *data = bytes;  // null: a hole in the stream, heard as silence
          return frames;
        }
        continue;
      }
    }
    const uint64_t now = MonotonicMs();
    if (now >= deadline) return 0;
    if (!IteratePulse(s->link, static_cast<int>(deadline - now))) return -1;
  }
}

void ReleaseInputPacket(AudioStream* s) {
  if (s == nullptr || !s->peeked) return;
  pa_stream_drop(s->stream);
  s->peeked = false;
}

bool DefaultDeviceMoved(const AudioStream* s) { return s != nullptr && s->defaultMoved; }

uint32_t OutputUnderruns(const AudioStream* s) { return s != nullptr ? s->underruns : 0; }

RealtimeGrant RegisterProAudioThread(std::string* reason) {
  sched_param param{};
  param.sched_priority = kProAudioPriority;
  const int refused = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  if (refused == 0) return RealtimeGrant::kScheduler;
  std::string kitReason;
  if (AskRealtimeKit(kProAudioPriority, kitReason)) return RealtimeGrant::kRealtimeKit;
  if (reason != nullptr) *reason = std::string(std::strerror(refused)) + "; the real-time service: " + kitReason;
  return RealtimeGrant::kRefused;
}
