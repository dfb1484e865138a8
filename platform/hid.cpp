#include "platform/hid.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <condition_variable>
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

std::wstring Wide(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }

std::vector<uint8_t> ReadDescriptor(const std::string& devicePath) {
  const size_t slash = devicePath.rfind('/');
  const std::string node = slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
  std::ifstream in("/sys/class/hidraw/" + node + "/device/report_descriptor", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
  if (hid_init() != 0) return out;
  hid_device_info* all = hid_enumerate(0, 0);
  for (const hid_device_info* it = all; it; it = it->next) {
    if (!it->path) continue;
    HidDeviceInfo info;
    info.path = it->path;
    info.vendorId = it->vendor_id, info.productId = it->product_id;
    info.manufacturer = Wide(it->manufacturer_string);
    info.product = Wide(it->product_string);
    info.name = !info.product.empty() ? info.product : !info.manufacturer.empty() ? info.manufacturer : L"HID controller";
    const HidDescriptorFacts facts = ParseHidReportDescriptor(ReadDescriptor(info.path));
    info.usagePage = facts.usagePage ? facts.usagePage : it->usage_page;
    info.usage = facts.usagePage ? facts.usage : it->usage;
    info.inputReportLength = facts.inputReportLength;
    info.numberedReports = facts.numberedReports;
    out.push_back(std::move(info));
  }
  hid_free_enumeration(all);
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
