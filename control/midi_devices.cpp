#include "control/midi_devices.h"

#include <algorithm>

#include "base/log.h"
#include "base/status_message.h"
#include "control/controller_devices.h"
#include "control/controller_leds.h"
#include "control/controller_presets.h"
#include "control/dispatcher.h"
#include "control/hid_devices.h"
#include "control/mapping_table.h"
#include "control/midi_clock.h"
#include "platform/hid.h"
#include "platform/midi.h"
#include "platform/ui_post.h"
#include "platform/window.h"

namespace {

MidiPortNames Open;       // what opened
MidiPortNames LastScan;   // what was present at the last scan

void PostMidi(uint32_t packed) { PostToUi(kMidiMessagePost, packed & 0xFFFFFF, nullptr); }

const std::wstring* FirstMissing(const std::vector<std::wstring>& from, const std::vector<std::wstring>& in) {
  for (const std::wstring& name : from)
    if (std::find(in.begin(), in.end(), name) == in.end()) return &name;
  return nullptr;
}

}  // namespace

void OpenMidiDevices() {
  CloseMidiDevices();
  OpenMidiPorts(PostMidi);
  Open = OpenMidiPortNames();
  MidiInputDevices = Open.inputs;
}

void CloseMidiDevices() {
  StopMidiClockOutput();
  CloseMidiPorts();
  Open = {};
  MidiInputDevices.clear();
}

std::vector<std::wstring> MidiInputNames() { return Open.inputs; }
std::vector<std::wstring> MidiOutputNames() { return Open.outputs; }
size_t MidiOutputCount() { return Open.outputs.size(); }

void SendToMidiOutputs(uint32_t packed) {
  for (size_t i = 0; i < Open.outputs.size(); ++i) SendMidiShort(i, packed);
}

bool MidiDevicesChanged() { return !(ListMidiPorts() == LastScan); }

void ScanControllers(bool announce) {
  const std::vector<std::wstring> oldInputs = Open.inputs;
  ReleaseControllerState();
  LastScan = ListMidiPorts();
  OpenMidiDevices();
  OpenHidDevice();
  ClearControllerLedCache();
  Midi::ClockTo();
  if (!announce) {
    ApplyPresetForDevices(false);
    return;
  }
  AnnounceControllerChanges({.oldMidi = oldInputs,
                             .newMidi = Open.inputs,
                             .hidGone = GoneHidDeviceNames(),
                             .hidCame = NewHidDeviceNames()});
}

void AnnounceControllerChanges(const ControllerChanges& changes) {
  const std::wstring* midiCame = FirstMissing(changes.newMidi, changes.oldMidi);
  const std::wstring* midiGone = FirstMissing(changes.oldMidi, changes.newMidi);
  // Each status replaces the one before: a controller that came outlasts one that went.
  for (const std::wstring& name : changes.oldMidi)
    if (std::find(changes.newMidi.begin(), changes.newMidi.end(), name) == changes.newMidi.end())
      WriteLog(L"Controller disconnected: {}", name);
  for (const std::wstring& name : changes.hidGone) WriteLog(L"Controller disconnected: {}", name);
  const std::wstring* gone = midiGone ? midiGone : changes.hidGone.empty() ? nullptr : &changes.hidGone.front();
  if (gone) ShowStatus(UiFormat(L"Controller disconnected: {}", *gone), 4000);
  for (const std::wstring& name : changes.hidCame) WriteLog(L"HID controller connected: {}", name);
  if (!changes.hidCame.empty())
    ShowStatus(UiFormat(L"HID controller connected: {} \u2014 map it with MIDI learn", changes.hidCame.front()), 5000);
  if (!midiCame) return;
  WriteLog(L"MIDI connected: {}", *midiCame);
  if (!FindControllerPreset(*midiCame)) {
    if (MappingTable.empty())
      ShowStatus(UiFormat(L"Controller connected: {} \u2014 Settings \u25B8 CONTROLLERS \u25B8 AUTO-MAP sets it up",
                          *midiCame),
                 5000);
    else
      ShowStatus(UiFormat(L"Controller connected: {}", *midiCame), 5000);
  }
  ApplyPresetForDevices(true, changes.newMidi);
}

void StartControllers() {
  LoadMidiMap(MidiMapPath());
  ScanControllers(false);
  StartMidiPortWatch([] { PostWindowNotice(WindowNotice::DeviceChange); });
  StartHidWatch([] { PostWindowNotice(WindowNotice::DeviceChange); });
}

void StopControllers() {
  StopMidiPortWatch();
  StopHidWatch();
  StopHidDevices();
  CloseMidiDevices();
}
