// Sinks and sources of the sound server (PulseAudio protocol; PipeWire serves it too).
#include "platform/audio_devices.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "platform/clock.h"
#include "platform/pulse_link.h"
#include "platform/text.h"

namespace {

constexpr int kQueryTimeoutMs = 3000;  // a live server answers in a few ms

// Collects info-list callbacks of sinks or sources into one vector.
struct DeviceQuery {
  std::vector<PulseDevice>* devices = nullptr;
  bool failed = false;
};

template <typename Info>
void TakeDevice(const Info* info, int eol, void* user) {
  auto* query = static_cast<DeviceQuery*>(user);
  if (eol < 0) query->failed = true;
  if (eol != 0 || info == nullptr) return;
  PulseDevice device;
  device.name = info->name != nullptr ? info->name : "";
  device.description = info->description != nullptr ? info->description : "";
  device.sampleFormat = info->sample_spec.format;
  device.rate = info->sample_spec.rate;
  device.channels = info->sample_spec.channels;
  device.positions.assign(info->channel_map.map, info->channel_map.map + std::min<int>(info->channel_map.channels, PA_CHANNELS_MAX));
  const char* card = pa_proplist_gets(info->proplist, "alsa.card");
  const char* number = pa_proplist_gets(info->proplist, "alsa.device");
  if (card != nullptr) device.alsaCard = card;
  if (number != nullptr) device.alsaDevice = number;
  query->devices->push_back(std::move(device));
}

void TakeSink(pa_context*, const pa_sink_info* info, int eol, void* user) { TakeDevice(info, eol, user); }
void TakeSource(pa_context*, const pa_source_info* info, int eol, void* user) { TakeDevice(info, eol, user); }

struct ServerQuery {
  int flow = 0;
  std::string name;
};

void TakeServer(pa_context*, const pa_server_info* info, void* user) {
  auto* query = static_cast<ServerQuery*>(user);
  if (info == nullptr) return;
  const char* name = query->flow == 0 ? info->default_sink_name : info->default_source_name;
  if (name != nullptr) query->name = name;
}

}  // namespace

void PulseDeviceFormat(const PulseDevice& device, pa_sample_spec& spec, pa_channel_map& map) {
  spec.format = static_cast<pa_sample_format_t>(device.sampleFormat);
  spec.rate = device.rate;
  spec.channels = device.channels;
  pa_channel_map_init(&map);
  map.channels = static_cast<uint8_t>(device.positions.size());
  for (size_t i = 0; i < device.positions.size(); ++i) map.map[i] = static_cast<pa_channel_position_t>(device.positions[i]);
}

bool ConnectPulse(PulseLink& link, const char* clientName, int timeoutMs, std::string& error) {
  link.loop = pa_mainloop_new();
  if (link.loop == nullptr) {
    error = "the sound server's main loop could not be made";
    return false;
  }
  link.context = pa_context_new(pa_mainloop_get_api(link.loop), clientName);
  if (link.context == nullptr ||
      pa_context_connect(link.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    error = link.context != nullptr ? pa_strerror(pa_context_errno(link.context)) : "no sound-server context";
    DisconnectPulse(link);
    return false;
  }
  const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
  for (;;) {
    const pa_context_state_t state = pa_context_get_state(link.context);
    if (state == PA_CONTEXT_READY) return true;
    if (!PA_CONTEXT_IS_GOOD(state)) {
      error = pa_strerror(pa_context_errno(link.context));
      break;
    }
    const uint64_t now = MonotonicMs();
    if (now >= deadline) {
      error = "the sound server did not answer";
      break;
    }
    if (!IteratePulse(link, static_cast<int>(deadline - now))) {
      error = "the sound server's main loop failed";
      break;
    }
  }
  DisconnectPulse(link);
  return false;
}

void DisconnectPulse(PulseLink& link) {
  if (link.context != nullptr) {
    pa_context_disconnect(link.context);
    pa_context_unref(link.context);
    link.context = nullptr;
  }
  if (link.loop != nullptr) {
    pa_mainloop_free(link.loop);
    link.loop = nullptr;
  }
}

bool IteratePulse(PulseLink& link, int timeoutMs) {
  if (timeoutMs < 0) timeoutMs = 0;
  if (pa_mainloop_prepare(link.loop, static_cast<int>(timeoutMs) * 1000) < 0) return false;
  if (pa_mainloop_poll(link.loop) < 0) return false;
  return pa_mainloop_dispatch(link.loop) >= 0;
}

bool FinishPulseOperation(PulseLink& link, pa_operation* operation, int timeoutMs) {
  if (operation == nullptr) return false;
  const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
  bool done = false;
  for (;;) {
    if (pa_operation_get_state(operation) != PA_OPERATION_RUNNING) {
      done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
      break;
    }
    const uint64_t now = MonotonicMs();
    if (now >= deadline || !PA_CONTEXT_IS_GOOD(pa_context_get_state(link.context)) ||
        !IteratePulse(link, static_cast<int>(deadline - now)))
      break;
  }
  if (!done) pa_operation_cancel(operation);
  pa_operation_unref(operation);
  return done;
}

bool ListPulseDevices(PulseLink& link, int flow, std::vector<PulseDevice>& devices, int timeoutMs) {
  DeviceQuery query{&devices};
  pa_operation* operation = flow == 0 ? pa_context_get_sink_info_list(link.context, TakeSink, &query)
                                      : pa_context_get_source_info_list(link.context, TakeSource, &query);
  return FinishPulseOperation(link, operation, timeoutMs) && !query.failed;
}

bool FindPulseDevice(PulseLink& link, int flow, const std::string& name, PulseDevice& device, int timeoutMs) {
  std::vector<PulseDevice> found;
  DeviceQuery query{&found};
  const char* wanted = !name.empty() ? name.c_str() : (flow == 0 ? "@DEFAULT_SINK@" : "@DEFAULT_SOURCE@");
  pa_operation* operation = flow == 0 ? pa_context_get_sink_info_by_name(link.context, wanted, TakeSink, &query)
                                      : pa_context_get_source_info_by_name(link.context, wanted, TakeSource, &query);
  if (!FinishPulseOperation(link, operation, timeoutMs) || query.failed || found.empty()) return false;
  device = std::move(found.front());
  return true;
}

bool DefaultPulseDevice(PulseLink& link, int flow, std::string& name, int timeoutMs) {
  ServerQuery query{flow, {}};
  if (!FinishPulseOperation(link, pa_context_get_server_info(link.context, TakeServer, &query), timeoutMs))
    return false;
  name = std::move(query.name);
  return true;
}

namespace {

// What tells a device from another of the same description: its ALSA card and device, as ALSA
// addresses them ("hw:1,0"), else the server's name for it (two USB interfaces of one model both
// call themselves "USB Audio").
std::wstring DeviceMark(const PulseDevice& device) {
  if (device.alsaCard.empty()) return Utf8ToWide(device.name);
  return Utf8ToWide("hw:" + device.alsaCard + (device.alsaDevice.empty() ? "" : "," + device.alsaDevice));
}

void TellSameNamesApart(std::vector<AudioDevice>& result, const std::vector<PulseDevice>& devices) {
  std::vector<std::wstring> marks(result.size());
  for (size_t i = 0; i < result.size(); ++i) marks[i] = DeviceMark(devices[i]);
  std::vector<std::wstring> shown(result.size());
  for (size_t i = 0; i < result.size(); ++i) {
    size_t same = 0, sameMark = 0;
    for (size_t j = 0; j < result.size(); ++j) {
      if (result[j].name != result[i].name) continue;
      ++same;
      if (marks[j] == marks[i]) ++sameMark;
    }
    shown[i] = result[i].name;
    if (same > 1) shown[i] += L" (" + (sameMark > 1 ? result[i].id : marks[i]) + L")";
  }
  for (size_t i = 0; i < result.size(); ++i) result[i].name = std::move(shown[i]);
}

}  // namespace

std::vector<AudioDevice> ListAudioDevices(int flow) {
  std::vector<AudioDevice> result;
  PulseLink link;
  std::string error;
  if (!ConnectPulse(link, "Veldmix devices", kQueryTimeoutMs, error)) return result;
  std::vector<PulseDevice> devices;
  if (ListPulseDevices(link, flow, devices, kQueryTimeoutMs)) {
    for (size_t i = 0; i < devices.size(); ++i) {
      AudioDevice device;
      device.id = Utf8ToWide(devices[i].name);
      device.name = !devices[i].description.empty()
                        ? Utf8ToWide(devices[i].description)
                        : fmt::format(L"{}{}", flow == 0 ? L"Output " : L"Input ", i + 1);
      device.channels = devices[i].channels > 0 ? devices[i].channels : 2;
      result.push_back(std::move(device));
    }
    TellSameNamesApart(result, devices);
  }
  DisconnectPulse(link);
  return result;
}

std::wstring DefaultAudioDeviceId(int flow) {
  PulseLink link;
  std::string error, name;
  if (!ConnectPulse(link, "Veldmix devices", kQueryTimeoutMs, error)) return {};
  DefaultPulseDevice(link, flow, name, kQueryTimeoutMs);
  DisconnectPulse(link);
  return Utf8ToWide(name);
}
