// The audio routing from the settings.
#include "engine/audio_routing.h"

#include <algorithm>
#include <cwctype>
#include <mutex>
#include <thread>

#include "base/log.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "engine/audio_output.h"
#include "engine/output_loss.h"
#include "engine/side_slots.h"

namespace {

constexpr int32_t kControllerChannels = 4;
constexpr int32_t kMainPair = 0;    // outputs 1-2
constexpr int32_t kPhonesPair = 1;  // outputs 3-4

// The master output's own device, channels and buffer as the engine runs them: any change to
// these restarts it.
bool MasterRoutingChanged(const AudioEngine& engine, const OutputConfig& config) {
  return engine.masterDevice != config.masterDevice || engine.masterPair != std::max(config.masterPair, 0) ||
         engine.routeShareMode != config.shareMode || engine.bufferMs != config.bufferMs ||
         engine.externalMixer != config.externalMixer || engine.deckCount != config.deckCount;
}

// Restarts the one secondary output whose device or pair changed, or starts or stops it; one that
// keeps both plays on. UI thread, with the master running.
void RouteSecondary(AudioEngine& engine, SecondaryOutput& output, OutputKind kind, bool wanted,
                    const std::wstring& deviceId, int32_t pair) {
  const bool running = output.thread.joinable();
  if (running && wanted && output.deviceId == deviceId && output.pair == pair) return;
  if (running) {
    output.wanted.store(false);
    output.thread.join();
    ForgetLostOutput(kind);
  }
  output.deviceId = deviceId;
  output.pair = pair;
  output.wanted.store(wanted);
  if (wanted) output.thread = std::thread(SecondaryOutputThread, &engine, &output);
}

// Takes the new headphone and booth routing while the master plays on: the mixes on the master's
// device change with the next block, the outputs on other devices restart alone.
void RerouteSecondaries(AudioEngine& engine, const OutputConfig& config) {
  const SecondaryPlacement place = PlaceSecondaries(config);
  {
    std::lock_guard<RealtimeMutex> guard(engine.lock);
    TakeSecondaryRouting(engine, config, place);
  }
  RouteSecondary(engine, engine.phones, OutputKind::kPhones, place.phonesOwnDevice, config.phonesDevice,
                 config.phonesPair);
  RouteSecondary(engine, engine.booth, OutputKind::kBooth, place.boothOwnDevice, config.boothDevice,
                 config.boothPair);
}

}  // namespace

OutputConfig CurrentOutputConfig() {
  OutputConfig config;
  config.masterDevice = Settings.Master;
  config.masterPair = Settings.MasterPair;
  config.phonesMode = static_cast<PhonesMode>(std::clamp<int32_t>(Settings.PhonesMode, kPhonesNone, kPhonesOwnOutput));
  config.phonesDevice = Settings.Phones;
  config.phonesPair = Settings.PhonesPair;
  config.boothDevice = Settings.Booth;
  config.boothPair = Settings.BoothPair;
  config.shareMode = Settings.Latency;
  config.bufferMs = Settings.BufferMs;
  config.externalMixer = Settings.ExternalMixer;
  config.deckCount = DecksInUse();
  return config;
}

void ResetAudioRouting() {
  const OutputConfig config = CurrentOutputConfig();
  // A DJ changes the headphones during a set: the master plays on unless its own device,
  // channels or buffer changed.
  if (Engine.masterThread.joinable() && !MasterRoutingChanged(Engine, config)) RerouteSecondaries(Engine, config);
  else StartOutput(Engine, config);
  SaveSettings();
}

std::wstring NormaliseDeviceName(const std::wstring& name) {
  std::wstring result;
  for (wchar_t c : name) {
    if (c < 0x80) {
      if (c >= L'A' && c <= L'Z') result += static_cast<wchar_t>(c - L'A' + L'a');
      else if ((c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9')) result += c;
    } else if (std::iswalnum(static_cast<wint_t>(c))) {
      result += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
  }
  return result;
}

bool AutoPickOutput(const std::wstring& name, bool announce) {
  const std::wstring key = NormaliseDeviceName(name);
  for (const AudioDevice& device : ListOutputDevices()) {
    if (device.channels < kControllerChannels || NormaliseDeviceName(device.name).find(key) == std::wstring::npos)
      continue;
    Settings.Master = device.id;
    Settings.MasterPair = kMainPair;
    Settings.PhonesMode = kPhonesOwnOutput;
    Settings.Phones = device.id;
    Settings.PhonesPair = kPhonesPair;
    Settings.ExternalMixer = false;
    StartOutput(Engine, CurrentOutputConfig());
    SaveSettings();
    if (announce) ShowStatus(UiFormat(L"Sound: {} \u2014 main on 1-2, headphones on 3-4", name), kAutoPickStatusMs);
    WriteLog(L"Audio: using {} (main 1-2, headphones 3-4)", device.name);
    return true;
  }
  return false;
}
