#include "control/controller_devices.h"

std::vector<std::wstring> MidiInputDevices;

// No HID reader is opened until the controller scan exists.
std::vector<std::wstring> HidDeviceNames() { return {}; }
