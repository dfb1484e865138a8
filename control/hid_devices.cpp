#include "control/hid_devices.h"

#include <algorithm>

#include "control/controller_devices.h"
#include "control/hid_reports.h"
#include "platform/hid.h"
#include "platform/ui_post.h"

namespace {

std::vector<HidDeviceInfo> OpenReaders;
std::vector<std::wstring> NewNames, GoneNames;

std::vector<HidDeviceInfo> EnumerateHidDevices() {
  std::vector<HidDeviceInfo> found;
  for (HidDeviceInfo& info : ListHidDevices())
    if (IsHidControllerCandidate(info.vendorId, info.usagePage, info.usage, info.inputReportLength,
                                 info.manufacturer, info.product))
      found.push_back(std::move(info));
  return found;
}

void PostReport(uint32_t device, std::vector<uint8_t> bytes) {
  auto* report = new HidReport{device, std::move(bytes)};
  if (!PostToUi(kHidReportPost, 0, report)) delete report;
}

std::vector<std::string> Paths(const std::vector<HidDeviceInfo>& devices) {
  std::vector<std::string> paths;
  for (const HidDeviceInfo& info : devices) paths.push_back(info.path);
  std::sort(paths.begin(), paths.end());
  return paths;
}

}  // namespace

void OpenHidDevice() {
  const std::vector<HidDeviceInfo> before = OpenReaders;
  OpenReaders = OpenHidReaders(EnumerateHidDevices(), PostReport);
  const std::vector<std::string> oldPaths = Paths(before), newPaths = Paths(OpenReaders);
  NewNames.clear(), GoneNames.clear();
  for (const HidDeviceInfo& info : OpenReaders)
    if (!std::binary_search(oldPaths.begin(), oldPaths.end(), info.path)) NewNames.push_back(info.name);
  for (const HidDeviceInfo& info : before)
    if (!std::binary_search(newPaths.begin(), newPaths.end(), info.path)) GoneNames.push_back(info.name);
  ClearHidHistory();
}

std::vector<std::wstring> NewHidDeviceNames() { return NewNames; }
std::vector<std::wstring> GoneHidDeviceNames() { return GoneNames; }

bool HidDevicesChanged() { return Paths(EnumerateHidDevices()) != Paths(OpenReaders); }

void StopHidDevices() {
  StopHidReaders();
  OpenReaders.clear();
}

std::vector<std::wstring> HidDeviceNames() {
  std::vector<std::wstring> names;
  for (const HidDeviceInfo& info : OpenReaders) names.push_back(info.name);
  return names;
}
