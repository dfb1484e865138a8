#include "control/midi_devices.h"

#include <algorithm>

#include "app/log.h"
#include "app/status_message.h"
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
  if (announce) {
    for (const std::wstring& name : GoneHidDeviceNames()) {
      WriteLog(L"Controller disconnected: {}", name);
      ShowStatus(UiFormat(L"Controller disconnected: {}", name), 4000);
    }
    for (const std::wstring& name : NewHidDeviceNames()) {
      WriteLog(L"HID controller connected: {}", name);
      ShowStatus(UiFormat(L"HID controller connected: {} \u2014 map it with MIDI learn", name), 5000);
    }
  }
  if (!announce) {
    ApplyPresetForDevices(false);
    return;
  }
  const std::wstring* came = FirstMissing(Open.inputs, oldInputs);
  const std::wstring* gone = FirstMissing(oldInputs, Open.inputs);
  if (gone) {
    WriteLog(L"Controller disconnected: {}", *gone);
    ShowStatus(UiFormat(L"Controller disconnected: {}", *gone), 4000);
  }
  if (!came) return;
  WriteLog(L"MIDI connected: {}", *came);
  if (!FindControllerPreset(*came)) {
    if (MappingTable.empty())
      ShowStatus(UiFormat(L"Controller connected: {} \u2014 Settings \u25B8 CONTROLLERS \u25B8 AUTO-MAP sets it up", *came),
                 5000);
    else
      ShowStatus(UiFormat(L"Controller connected: {}", *came), 5000);
  }
  ApplyPresetForDevices(true);
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
