#pragma once
// HID devices over hidraw: enumeration (ids and strings through libudev, usage, report length and
// report ids from the sysfs report descriptor) and one reader thread per open device that hands
// every changed input report to a callback. Any thread may enumerate; open and close from one.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct HidDeviceInfo {
  std::string path;             // /dev/hidrawN
  std::wstring name;            // product, else manufacturer, else "HID controller"
  std::wstring manufacturer, product;
  uint16_t vendorId = 0, productId = 0;
  uint32_t usagePage = 0, usage = 0;   // of the first top-level collection
  uint32_t inputReportLength = 0;      // bytes, report id byte included
  bool numberedReports = false;        // the descriptor declares report ids
};

struct HidDescriptorFacts {
  uint32_t usagePage = 0, usage = 0;
  uint32_t inputReportLength = 0;  // largest input report in bytes, + 1 for the id byte
  bool numberedReports = false;
};
// Reads what a report descriptor declares; a malformed one yields what was read before the fault.
HidDescriptorFacts ParseHidReportDescriptor(const std::vector<uint8_t>& descriptor);

// Every hidraw device present now.
std::vector<HidDeviceInfo> ListHidDevices();

// Called on a reader thread with the device's index and one report (byte 0 the report id, 0 when
// the device does not number its reports). Reports identical to the previous are not passed on.
using HidReportSink = std::function<void(uint32_t device, std::vector<uint8_t> report)>;

// Opens each device read-write, else read-only (skipping those that open neither way), and starts
// a reader per opened device; the index passed to the sink is the position in the returned list.
// Stops any readers already running first.
std::vector<HidDeviceInfo> OpenHidReaders(const std::vector<HidDeviceInfo>& devices, HidReportSink sink);
// Wakes every reader, joins them and closes the devices.
void StopHidReaders();

// Watches for hidraw devices coming and going (checked once a second) and calls changed on the
// watch thread after each change. Stops any earlier watch.
void StartHidWatch(void (*changed)());
void StopHidWatch();
