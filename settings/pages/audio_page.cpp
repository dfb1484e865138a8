// The Audio page: the master, headphone and booth outputs with their channel pairs, the sound
// card's mode and what it actually opened with, the microphone, the recording format and folder,
// and the master limiter.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/ui_text.h"
#include "broadcast/mix_recording.h"
#include "control/midi_devices.h"
#include "engine/audio_input.h"
#include "engine/audio_routing.h"
#include "engine/engine.h"
#include "platform/audio_devices.h"
#include "platform/desktop_open.h"
#include "settings/pages/settings_pages.h"
#include "settings/settings_rows.h"
#include "settings/settings_screen.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/widgets.h"

namespace {

constexpr int32_t kMasterId = 60, kPhonesId = 62, kBoothId = 3010;
constexpr int32_t kMasterPairId = 3400, kPhonesPairId = 3401, kBoothPairId = 3402, kPlayThroughId = 3403;
constexpr int32_t kLatencyId = 3404, kBufferId = 3405, kMixerId = 3406;
constexpr int32_t kMicInputId = 900, kMicLevelId = 902, kTalkoverId = 906, kVoiceFxId = 3014;
constexpr int32_t kFormatId = 3018, kOpenFolderId = 81, kLimiterId = 3012;

constexpr int32_t kLatencyNormal = 0;
constexpr int kPairStepperChannels = 4;       // a pair stepper beside devices with this many or more
constexpr float kPairStepperRoomDip = 102.0f;  // the device stepper gives up this much for it
constexpr float kPhonesRowStepDip = 36.0f, kAfterPhonesHelpDip = 6.0f;
constexpr float kPlayThroughTextSize = 10.0f;
constexpr int kSuggestionChannels = 4;         // more than 3: a controller's own sound card
constexpr float kSavedToTextSize = 12.0f, kSavedToRoomDip = 140.0f;
constexpr float kOpenFolderWidthDip = 130.0f;
constexpr double kHz = 1000.0;

const std::vector<std::wstring> kLatencyLabels = {L"NORMAL", L"LOW", L"EXCLUSIVE"};
const std::vector<std::wstring> kBufferLabels = {L"3 ms", L"5 ms", L"10 ms", L"20 ms"};
constexpr int32_t kBufferMs[] = {3, 5, 10, 20};
constexpr int kDefaultBufferIndex = 2;  // 10 ms, also for a value edited by hand
const std::vector<std::wstring> kMicLevelLabels = {L"LOW", L"MEDIUM", L"HIGH", L"MAX"};
constexpr int kMicLevelPercent[] = {45, 65, 80, 95};
const std::vector<std::wstring> kVoiceFxLabels = {L"DRY", L"ECHO", L"REVERB", L"BOTH"};
const std::vector<std::wstring> kFormatLabels = {L"WAV", L"MP3 320", L"FLAC"};
const std::vector<std::wstring> kLimiterLabels = {L"OFF", L"ON (NO CLIPPING)"};
constexpr const wchar_t* kModeNames[] = {L"normal", L"low latency", L"exclusive"};

const AudioDevice* DeviceAt(const std::vector<AudioDevice>& devices, int index, int fixedEntries) {
  const int at = index - fixedEntries;
  return at >= 0 && at < static_cast<int>(devices.size()) ? &devices[at] : nullptr;
}

// The device stepper, narrowed for a pair stepper when any listed device has 4 or more channels:
// its ▸ keeps its place while it steps onto or past such a device. True when the index changed.
bool DeviceStepper(int id, std::wstring_view text, int* index, int count) {
  const bool pairs = std::any_of(SettingsOutputDevices.begin(), SettingsOutputDevices.end(),
                                 [](const AudioDevice& d) { return d.channels >= kPairStepperChannels; });
  const float width = Cursor.controlWidth - (pairs ? kPairStepperRoomDip : 0.0f);
  return DrawLabelledBox(id, Rc{Cursor.controlX, Cursor.y, width, kSettingsRowHeightDip}, text, index, count);
}

// The pair stepper at the row's right end for a shown device; true when *pair changed.
bool PairStepper(int id, const AudioDevice* device, int32_t* pair) {
  return device && device->channels >= kPairStepperChannels && ChannelPairRow(id, device->id, pair);
}

// The master's device as the engine compares it: an empty id follows the server's default.
std::wstring MasterDeviceId() {
  return Settings.Master.empty() ? DefaultAudioDeviceId(kRenderFlow) : Settings.Master;
}

bool PhonesOnMasterDevice() {
  return Settings.PhonesMode == kPhonesOwnOutput && !Settings.Phones.empty() && Settings.Phones == MasterDeviceId();
}

void MasterRow() {
  const std::vector<AudioDevice>& devices = SettingsOutputDevices;
  int index = DeviceChoiceIndex(devices, Settings.Master, 1);
  const AudioDevice* device = DeviceAt(devices, index, 1);
  RowLabel(L"Master output");
  const bool changed = DeviceStepper(kMasterId, device ? std::wstring_view(device->name) : L"System default", &index,
                                     static_cast<int>(devices.size()) + 1);
  const int32_t oldPair = Settings.MasterPair;
  if (!changed && PairStepper(kMasterPairId, device, &Settings.MasterPair)) {
    // The headphones on this device move to the pair the master left.
    if (Settings.PhonesPair == Settings.MasterPair && PhonesOnMasterDevice()) Settings.PhonesPair = oldPair;
    ResetAudioRouting();
  }
  Cursor.y += kSettingsRowStepDip;
  if (!changed) return;
  device = DeviceAt(devices, index, 1);
  Settings.Master = device ? device->id : L"";
  Settings.MasterPair = 0;
  if (Settings.PhonesPair == Settings.MasterPair && PhonesOnMasterDevice())
    Settings.PhonesPair = HeadphonePairBesideMaster(Settings.MasterPair);
  ResetAudioRouting();
}

void PhonesRow() {
  const std::vector<AudioDevice>& devices = SettingsOutputDevices;
  const int32_t mode = std::clamp<int32_t>(Settings.PhonesMode, kPhonesNone, kPhonesOwnOutput);
  int index = mode;
  if (mode == kPhonesOwnOutput) index = std::max<int>(DeviceChoiceIndex(devices, Settings.Phones, 2), kPhonesOwnOutput);
  const AudioDevice* device = nullptr;
  if (mode == kPhonesOwnOutput) {
    device = DeviceAt(devices, index, 2);
    if (device && device->id != Settings.Phones) device = nullptr;  // kept at 2 while unlisted
  }
  std::wstring_view text = mode == kPhonesNone    ? L"None"
                           : mode == kPhonesSplit ? L"Split: master left, cue right"
                           : device               ? std::wstring_view(device->name)
                                                  : L"(device unavailable)";
  RowLabel(L"Headphones (cue)");
  const bool changed =
      DeviceStepper(kPhonesId, text, &index, static_cast<int>(devices.size()) + 2);
  const int32_t oldPair = Settings.PhonesPair;
  if (!changed && PairStepper(kPhonesPairId, device, &Settings.PhonesPair)) {
    // Stepping onto the master's pair steps past it; with two pairs there is nowhere to go.
    if (Settings.PhonesPair == Settings.MasterPair && PhonesOnMasterDevice()) {
      const int pairs = device->channels / 2;
      const int step = (Settings.PhonesPair - oldPair + pairs) % pairs == 1 ? 1 : -1;
      Settings.PhonesPair = (Settings.PhonesPair + step + pairs) % pairs;
    }
    ResetAudioRouting();
  }
  Cursor.y += kPhonesRowStepDip;
  if (!changed) return;
  device = DeviceAt(devices, index, 2);
  Settings.PhonesMode = index < kPhonesOwnOutput ? index : kPhonesOwnOutput;
  Settings.Phones = device ? device->id : L"";
  Settings.PhonesPair = PhonesOnMasterDevice() ? HeadphonePairBesideMaster(Settings.MasterPair) : 0;
  ResetAudioRouting();
}

void BoothRow() {
  const std::vector<AudioDevice>& devices = SettingsOutputDevices;
  int index = DeviceChoiceIndex(devices, Settings.Booth, 1);
  const AudioDevice* device = DeviceAt(devices, index, 1);
  std::wstring_view text = device                  ? std::wstring_view(device->name)
                           : Settings.Booth.empty() ? L"Off"
                                                    : L"(device unavailable)";
  RowLabel(L"Booth monitor");
  const bool changed = DeviceStepper(kBoothId, text, &index, static_cast<int>(devices.size()) + 1);
  if (!changed && PairStepper(kBoothPairId, device, &Settings.BoothPair)) ResetAudioRouting();
  Cursor.y += kSettingsRowStepDip;
  if (!changed) return;
  device = DeviceAt(devices, index, 1);
  Settings.Booth = device ? device->id : L"";
  Settings.BoothPair = 0;
  ResetAudioRouting();
}

// The last open MIDI input whose name is inside the name of a 4-channel card that is not the
// master yet; empty when none is.
std::wstring SuggestedController() {
  std::wstring found;
  for (const std::wstring& input : MidiInputNames()) {
    const std::wstring key = NormaliseDeviceName(input);
    if (key.empty()) continue;
    for (const AudioDevice& device : SettingsOutputDevices)
      if (device.channels >= kSuggestionChannels && Settings.Master != device.id &&
          NormaliseDeviceName(device.name).find(key) != std::wstring::npos)
        found = input;
  }
  return found;
}

void OutputRows() {
  SectionHeader(L"OUTPUTS");
  MasterRow();
  PhonesRow();
  HelpLine(L"Press CUE on a channel to hear it in your headphones.");
  Cursor.y += kAfterPhonesHelpDip;
  BoothRow();
  const std::wstring controller = SuggestedController();
  if (!controller.empty()) {
    const std::wstring label = TranslateFormat(L"PLAY THROUGH THE {}  (MAIN 1-2, HEADPHONES 3-4)", controller);
    if (Button(kPlayThroughId, Rc{Cursor.columnX, Cursor.y, Cursor.columnWidth, kSettingsRowHeightDip}, label,
               ColorOf(Pal.Green), false, kPlayThroughTextSize))
      AutoPickOutput(controller, true);
    Cursor.y += kSettingsRowStepDip;
  }
}

void SoundCardRows() {
  SectionHeader(L"SOUND CARD");
  RowLabel(L"Latency");
  int latency = std::clamp<int>(Settings.Latency, 0, 2);
  if (IndexChoiceRow(kLatencyId, kLatencyLabels, &latency)) {
    Settings.Latency = latency;
    ResetAudioRouting();
  }
  if (Settings.Latency != kLatencyNormal) {
    RowLabel(L"Buffer");
    int buffer = BufferIndex(Settings.BufferMs);
    if (IndexChoiceRow(kBufferId, kBufferLabels, &buffer)) {
      Settings.BufferMs = kBufferMs[buffer];
      ResetAudioRouting();
    }
  }
  HelpLine(SoundCardStatus());
  // A line of its own: after the status it would be cut off at the column's edge.
  if (SoundCardRefusedMode()) HelpLine(L" \u2014 the card wouldn't take more");
  if (Engine.lastWriteFlag.load()) HelpLine(L"Some channels you picked aren't on this card \u2014 they're not playing.");
  RowLabel(L"Mixer");
  if (ToggleRow(kMixerId, L"VELDMIX MIXES", L"EXTERNAL MIXER", &Settings.ExternalMixer)) ResetAudioRouting();
  if (Settings.ExternalMixer) {
    HelpLine(Settings.FourDecks ? L"Deck A on channels 1-2, B on 3-4, C on 5-6, D on 7-8; sampler and mic next."
                                : L"Deck A on channels 1-2, B on 3-4; sampler and mic on 5-6.");
    HelpLine(L"Your mixer does gain, EQ, faders, cross-fader and headphone cue.");
  }
}

void MicrophoneRows() {
  SectionHeader(L"MICROPHONE");
  const std::vector<AudioDevice>& devices = SettingsInputDevices;
  int index = DeviceChoiceIndex(devices, Settings.MicDevice, 1);
  const AudioDevice* device = DeviceAt(devices, index, 1);
  RowLabel(L"Input");
  if (StepperRow(kMicInputId, device ? std::wstring_view(device->name) : L"System default", &index,
                 static_cast<int>(devices.size()) + 1)) {
    device = DeviceAt(devices, index, 1);
    Settings.MicDevice = device ? device->id : L"";
    SaveSettings();
    if (InputEnabled(Engine)) EnableInput(Engine, true, Settings.MicDevice);
  }
  RowLabel(L"Mic level");
  int level = MicLevelIndex(Settings.MicGain);
  if (IndexChoiceRow(kMicLevelId, kMicLevelLabels, &level)) {
    Settings.MicGain = static_cast<float>(kMicLevelPercent[level]) / 100.0f;
    SaveSettings();
  }
  RowLabel(L"Talkover");
  ToggleRow(kTalkoverId, L"OFF", L"DUCK MUSIC", &Settings.MicDuck);
  RowLabel(L"Voice effects");
  ChoiceRow(kVoiceFxId, kVoiceFxLabels, &Settings.MicFx);
}

void OpenRecordingsFolder() {
  const std::wstring folder = RecordingsDir();
  std::wstring error;
  if (!OpenWithDesktop(folder, &error)) ShowStatus(UiFormat(L"Couldn't open {}", folder));
}

void RecordingRows() {
  SectionHeader(L"RECORDING");
  RowLabel(L"Format");
  ChoiceRow(kFormatId, kFormatLabels, &Settings.RecordFormat);
  RowLabel(L"Saved to");
  // Made once: RecordingsDir creates the folder, which is not a thing to do every frame.
  static const std::wstring folder = ShownFolder(RecordingsDir());
  const float room = Cursor.controlWidth - kSavedToRoomDip;
  DrawTextAsIs(folder, Rc{Cursor.controlX, Cursor.y, room, kSettingsRowHeightDip}, FittingSize(folder, room, kSavedToTextSize),
               ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
  if (Button(kOpenFolderId,
             Rc{Cursor.columnRight - kOpenFolderWidthDip, Cursor.y, kOpenFolderWidthDip, kSettingsRowHeightDip},
             L"OPEN FOLDER", ColorOf(Pal.Text), false, kSettingsButtonTextSize))
    QueueDeferredAction(OpenRecordingsFolder);
  Cursor.y += kSettingsRowStepDip;
  HelpLine(L"Each recording also saves a timestamped tracklist next to it.");
}

}  // namespace

bool IndexChoiceRow(int id, const std::vector<std::wstring>& labels, int* index) {
  const bool changed =
      DrawTextRows(id, Rc{Cursor.controlX, Cursor.y, Cursor.controlWidth, kSettingsRowHeightDip}, labels, index);
  Cursor.y += kSettingsRowStepDip;
  return changed;
}

int DeviceChoiceIndex(const std::vector<AudioDevice>& devices, const std::wstring& id, int fixedEntries) {
  int index = 0;
  if (id.empty()) return index;
  for (size_t i = 0; i < devices.size(); ++i)
    if (devices[i].id == id) index = static_cast<int>(i) + fixedEntries;
  return index;
}

int32_t HeadphonePairBesideMaster(int32_t masterPair) { return masterPair == 0 ? 1 : 0; }

int BufferIndex(int32_t bufferMs) {
  for (int i = 0; i < 4; ++i)
    if (kBufferMs[i] == bufferMs) return i;
  return kDefaultBufferIndex;
}

int MicLevelIndex(float gain) {
  // In whole percent, as the file keeps it: a tie then really is one and goes to the lower level.
  const long percent = std::lround(gain * 100.0f);
  int best = 0;
  for (int i = 1; i < 4; ++i)
    if (std::labs(kMicLevelPercent[i] - percent) < std::labs(kMicLevelPercent[best] - percent)) best = i;
  return best;
}

std::wstring SoundCardStatus() {
  const int32_t rate = Engine.sampleRate.load();
  if (!Engine.outputRunning.load() || rate < 1) return Translate(L"No sound card open");
  const int32_t mode = std::clamp(Engine.shareMode.load(), 0, 2);
  return TranslateFilled(UiFormat(L"Now: {:.1f} kHz, {} channels, {:.1f} ms buffer ({}){}", rate / kHz,
                                  Engine.outputChannels.load(), Engine.bufferFrames.load() * kHz / rate,
                                  UiText(kModeNames[mode]), UiText(L"")));
}

bool SoundCardRefusedMode() {
  return Engine.outputRunning.load() && Engine.sampleRate.load() >= 1 &&
         std::clamp(Engine.shareMode.load(), 0, 2) != Settings.Latency;
}

void DrawAudioPage() {
  BeginColumn(0);
  OutputRows();
  SoundCardRows();

  BeginColumn(1);
  MicrophoneRows();
  RecordingRows();
  SectionHeader(L"MASTER");
  RowLabel(L"Limiter");
  int limiter = Settings.Limiter ? 1 : 0;
  if (IndexChoiceRow(kLimiterId, kLimiterLabels, &limiter)) {
    Settings.Limiter = limiter == 1;
    SaveSettings();
  }
}
