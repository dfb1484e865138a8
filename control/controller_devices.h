#pragma once
// The controllers that are open, as the top bar's MIDI button asks about them. The controller
// scan fills the MIDI inputs and opens the HID readers (control/hid_devices). UI thread.
#include <string>
#include <vector>

// Names of the open MIDI input devices.
extern std::vector<std::wstring> MidiInputDevices;
// Names of the open HID controllers.
std::vector<std::wstring> HidDeviceNames();
