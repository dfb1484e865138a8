#include "platform/hid.h"
#include "platform/thread_priority.h"

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace {

struct Reader {
  int fd = -1;
  std::thread thread;
};

std::vector<std::unique_ptr<Reader>> Readers;
int StopFd = -1;

std::thread Watcher;
std::mutex WatchLock;
std::condition_variable WatchWake;
bool WatchStop = false;
constexpr auto kWatchInterval = std::chrono::seconds(1);

std::set<std::string> PresentPaths() {
  std::set<std::string> paths;
  for (const HidDeviceInfo& info : ListHidDevices()) paths.insert(info.path);
  return paths;
}

std::wstring Wide(const char* text) {
  std::wstring out;
  if (!text) return out;
  // Sysfs strings are UTF-8; controllers' names are ASCII in practice, the rest passes byte-wise.
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c; ++c) out.push_back(*c);
  return out;
}

std::vector<uint8_t> ReadBinaryFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  uint8_t chunk[4096];
  for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;) bytes.insert(bytes.end(), chunk, chunk + got);
  close(fd);
  return bytes;
}

// HID_ID is "bus:vendor:product" in hex.
void ParseHidId(const char* id, uint16_t& vendor, uint16_t& product) {
  unsigned bus = 0, v = 0, p = 0;
  if (id && sscanf(id, "%x:%x:%x", &bus, &v, &p) == 3) vendor = static_cast<uint16_t>(v), product = static_cast<uint16_t>(p);
}

void ReadLoop(int fd, int stopFd, uint32_t device, uint32_t length, bool numbered, HidReportSink sink) {
  const uint32_t size = std::max<uint32_t>(length, 2) + 64;  // room for a report longer than declared
  std::vector<uint8_t> buffer(size), previous;
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (fds[0].revents & POLLIN) == 0) return;
    const uint32_t at = numbered ? 0 : 1;
    const ssize_t got = read(fd, buffer.data() + at, buffer.size() - at);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;  // unplugged or failed: this device is done until the next rescan
    }
    if (got == 0) continue;
    buffer[0] = numbered ? buffer[0] : 0;
    std::vector<uint8_t> report(buffer.begin(), buffer.begin() + at + got);
    if (report == previous) continue;
    previous = report;
    sink(device, std::move(report));
  }
}

}  // namespace

HidDescriptorFacts ParseHidReportDescriptor(const std::vector<uint8_t>& d) {
  HidDescriptorFacts facts;
  std::map<uint32_t, uint32_t> inputBits;  // per report id
  uint32_t reportSize = 0, reportCount = 0, reportId = 0, usagePage = 0, usage = 0;
  int depth = 0;
  for (size_t i = 0; i < d.size();) {
    const uint8_t prefix = d[i];
    if (prefix == 0xFE) {  // long item: skip it
      if (i + 2 >= d.size()) break;
      i += 3 + d[i + 1];
      continue;
    }
    const uint32_t sizes[4] = {0, 1, 2, 4};
    const uint32_t n = sizes[prefix & 3];
    if (i + 1 + n > d.size()) break;
    uint32_t data = 0;
    for (uint32_t b = 0; b < n; ++b) data |= static_cast<uint32_t>(d[i + 1 + b]) << (8 * b);
    switch (prefix & 0xFC) {
      case 0x04: usagePage = data; break;                  // Usage Page
      case 0x08: usage = data & 0xFFFF; break;             // Usage (local)
      case 0x74: reportSize = data; break;                 // Report Size
      case 0x94: reportCount = data; break;                // Report Count
      case 0x84: reportId = data, facts.numberedReports = true; break;  // Report ID
      case 0x80: inputBits[reportId] += reportSize * reportCount; break;  // Input
      case 0xA0:                                           // Collection
        if (depth == 0 && facts.usagePage == 0) facts.usagePage = usagePage, facts.usage = usage;
        ++depth;
        break;
      case 0xC0: depth = std::max(0, depth - 1); break;    // End Collection
      default: break;
    }
    if ((prefix & 0x0C) == 0x00) usage = 0;  // local items end with each main item
    i += 1 + n;
  }
  uint32_t largest = 0;
  for (const auto& [id, bits] : inputBits) largest = std::max(largest, (bits + 7) / 8);
  facts.inputReportLength = largest == 0 ? 0 : largest + 1;
  return facts;
}

std::vector<HidDeviceInfo> ListHidDevices() {
  std::vector<HidDeviceInfo> out;
  udev* context = udev_new();
  if (!context) return out;
  udev_enumerate* list = udev_enumerate_new(context);
  udev_enumerate_add_match_subsystem(list, "hidraw");
  udev_enumerate_scan_devices(list);
  for (udev_list_entry* e = udev_enumerate_get_list_entry(list); e; e = udev_list_entry_get_next(e)) {
    udev_device* raw = udev_device_new_from_syspath(context, udev_list_entry_get_name(e));
    if (!raw) continue;
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(raw, "hid", nullptr);
    const char* node = udev_device_get_devnode(raw);
    if (hid && node) {
      HidDeviceInfo info;
      info.path = node;
      ParseHidId(udev_device_get_property_value(hid, "HID_ID"), info.vendorId, info.productId);
      if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(raw, "usb", "usb_device")) {
        info.manufacturer = Wide(udev_device_get_sysattr_value(usb, "manufacturer"));
        info.product = Wide(udev_device_get_sysattr_value(usb, "product"));
      }
      if (info.product.empty() && info.manufacturer.empty()) info.product = Wide(udev_device_get_property_value(hid, "HID_NAME"));
      info.name = !info.product.empty() ? info.product : !info.manufacturer.empty() ? info.manufacturer : L"HID controller";
      const HidDescriptorFacts facts =
          ParseHidReportDescriptor(ReadBinaryFile(std::string(udev_device_get_syspath(hid)) + "/report_descriptor"));
      info.usagePage = facts.usagePage, info.usage = facts.usage;
      info.inputReportLength = facts.inputReportLength;
      info.numberedReports = facts.numberedReports;
      out.push_back(std::move(info));
    }
    udev_device_unref(raw);
  }
  udev_enumerate_unref(list);
  udev_unref(context);
  return out;
}

std::vector<HidDeviceInfo> OpenHidReaders(const std::vector<HidDeviceInfo>& devices, HidReportSink sink) {
  StopHidReaders();
  std::vector<HidDeviceInfo> opened;
  StopFd = eventfd(0, EFD_CLOEXEC);
  if (StopFd < 0) return opened;
  for (const HidDeviceInfo& info : devices) {
    int fd = open(info.path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) fd = open(info.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    auto reader = std::make_unique<Reader>();
    reader->fd = fd;
    reader->thread = std::thread(ReadLoop, fd, StopFd, static_cast<uint32_t>(opened.size()),
                                 info.inputReportLength, info.numberedReports, sink);
    Readers.push_back(std::move(reader));
    opened.push_back(info);
  }
  return opened;
}

void StopHidReaders() {
  if (StopFd >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t w = write(StopFd, &one, sizeof one);
  }
  for (auto& reader : Readers) {
    if (reader->thread.joinable()) reader->thread.join();
    close(reader->fd);
  }
  Readers.clear();
  if (StopFd >= 0) close(StopFd);
  StopFd = -1;
}

void StartHidWatch(void (*changed)()) {
  StopHidWatch();
  {
    std::lock_guard<std::mutex> lock(WatchLock);
    WatchStop = false;
  }
  Watcher = std::thread([changed] {
    NameThisThread("vm-hid-watch");
    std::set<std::string> last = PresentPaths();
    std::unique_lock<std::mutex> lock(WatchLock);
    while (!WatchWake.wait_for(lock, kWatchInterval, [] { return WatchStop; })) {
      lock.unlock();
      std::set<std::string> now = PresentPaths();
      if (now != last) {
        last = std::move(now);
        changed();
      }
      lock.lock();
    }
  });
}

void StopHidWatch() {
  {
    std::lock_guard<std::mutex> lock(WatchLock);
    WatchStop = true;
  }
  WatchWake.notify_all();
  if (Watcher.joinable()) Watcher.join();
}
