#include "control/controller_devices.h"

std::vector<std::wstring> MidiInputDevices;
