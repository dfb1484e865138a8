#pragma once
// The HID controllers the program reads: the DJ controllers among the HID devices, opened by every
// controller scan, each report posted to the UI thread as completion 16. UI thread.
#include <string>
#include <vector>

inline constexpr int kHidReportPost = 16;

// Stops the readers, then opens every HID DJ controller present and starts its reader.
void OpenHidDevice();
// Names of the controllers that were new at the last OpenHidDevice (for the scan's announcement).
std::vector<std::wstring> NewHidDeviceNames();
// Names of the controllers the last OpenHidDevice no longer found.
std::vector<std::wstring> GoneHidDeviceNames();
// True when the controllers present differ from the open ones (paths compare exactly).
bool HidDevicesChanged();
// Stops every reader (shutdown).
void StopHidDevices();
