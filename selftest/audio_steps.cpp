// The feature run's audio output set-ups: the default output in both shared modes, then, on a
// card with four or more channels, its headphone routes, exclusive mode and the external mixer.
#include <fmt/xchar.h>

#include <algorithm>

#include "engine/audio_output.h"
#include "platform/text.h"
#include "selftest/feature_run.h"

namespace FeatureTest {
namespace {

// The first output device with four or more channels, found once per process.
std::wstring FourChannelCard;

bool Running() { return Engine.outputRunning.load(); }

OutputConfig OnCard(PhonesMode phonesMode, int32_t phonesPair) {
  OutputConfig config = PlainOutputConfig();
  config.masterDevice = FourChannelCard;
  config.phonesMode = phonesMode;
  if (phonesMode == kPhonesOwnOutput) config.phonesDevice = FourChannelCard;
  config.phonesPair = phonesPair;
  return config;
}

// Split headphones ride on the master; an own output either shares the master device or runs.
bool HeadphoneRouteWorks() {
  if (Engine.phonesMode == kPhonesSplit) return true;
  if (Engine.phonesMode != kPhonesOwnOutput) return false;
  return Engine.phonesOnMaster || Engine.phones.running.load();
}

}  // namespace

OutputConfig PlainOutputConfig() { return OutputConfig{}; }

std::wstring AudioCheckName(const std::wstring& stepName) {
  static constexpr const wchar_t* kModes[] = {L"normal", L"low latency", L"exclusive"};
  const int32_t mode = std::clamp(Engine.shareMode.load(), 0, 2);
  const int32_t rate = std::max(Engine.sampleRate.load(), 1);
  return fmt::format(L"audio: {} ({}, {} ch, {:.1f} ms)", stepName, kModes[mode], Engine.outputChannels.load(),
                     Engine.bufferFrames.load() * 1000.0 / rate);
}

std::vector<AudioStep> AudioSteps() {
  std::vector<AudioStep> steps;
  steps.push_back({L"normal latency on the default output", [] { return PlainOutputConfig(); },
                   [] { return Running() && Engine.shareMode.load() == 0; }});
  steps.push_back({L"low latency (shared, smallest period)",
                   [] {
                     OutputConfig config = PlainOutputConfig();
                     config.shareMode = 1;
                     config.bufferMs = 3;
                     return config;
                   },
                   Running});
  if (FourChannelCard.empty()) {
    for (const AudioDevice& device : ListOutputDevices()) {
      if (device.channels < 4) continue;
      FourChannelCard = device.id;
      break;
    }
  }
  if (FourChannelCard.empty()) return steps;
  steps.push_back({L"4-channel card: main 1-2, headphones 3-4 on the same card", [] { return OnCard(kPhonesOwnOutput, 1); },
                   [] {
                     return Running() && Engine.outputChannels.load() >= 4 && !Engine.externalMixer &&
                            HeadphoneRouteWorks() && !Engine.lastWriteFlag.load();
                   }});
  steps.push_back({L"headphones on channels the card hasn't got are reported", [] { return OnCard(kPhonesOwnOutput, 5); },
                   [] { return Running() && Engine.lastWriteFlag.load(); }});
  steps.push_back({L"exclusive mode, 5 ms",
                   [] {
                     OutputConfig config = OnCard(kPhonesOwnOutput, 1);
                     config.shareMode = 2;
                     config.bufferMs = 5;
                     return config;
                   },
                   Running});
  steps.push_back({L"external mixer: deck A on 1-2, deck B on 3-4",
                   [] {
                     OutputConfig config = PlainOutputConfig();
                     config.masterDevice = FourChannelCard;
                     config.externalMixer = true;
                     config.deckCount = 2;
                     return config;
                   },
                   [] { return Running() && Engine.externalMixer; }});
  return steps;
}

}  // namespace FeatureTest
