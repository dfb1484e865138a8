// Listing the cameras: V4L2 capture nodes through sysfs and the driver's own queries, or the
// stand-ins of a VELDMIX_CAMERAS file.
#include "platform/camera_source.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/text.h"

namespace {

constexpr size_t kMaxStandInLineBytes = 4096;
constexpr int kMaxStandIns = 64;
constexpr int kMaxEnumerated = 256;  // formats, sizes or intervals asked of one node

int Ioctl(int fd, unsigned long request, void* arg) {
  int r;
  do r = ioctl(fd, request, arg);
  while (r < 0 && errno == EINTR);
  return r;
}

CameraSubtype SubtypeOfFourcc(uint32_t fourcc) {
  switch (fourcc) {
    case V4L2_PIX_FMT_MJPEG: return CameraSubtype::Mjpeg;
    case V4L2_PIX_FMT_NV12: return CameraSubtype::Nv12;
    case V4L2_PIX_FMT_YUYV: return CameraSubtype::Yuy2;
    default: return CameraSubtype::Other;
  }
}

// The highest frame rate the node offers at one size; 0 when it does not say.
double BestFps(int fd, uint32_t fourcc, int width, int height) {
  double best = 0;
  for (int i = 0; i < kMaxEnumerated; ++i) {
    v4l2_frmivalenum ival{};
    ival.index = static_cast<uint32_t>(i);
    ival.pixel_format = fourcc;
    ival.width = static_cast<uint32_t>(width);
    ival.height = static_cast<uint32_t>(height);
    if (Ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &ival) < 0) break;
    // Stepwise and continuous ranges answer once, with their shortest interval first.
    const v4l2_fract f = ival.type == V4L2_FRMIVAL_TYPE_DISCRETE ? ival.discrete : ival.stepwise.min;
    if (f.numerator > 0) best = std::max(best, static_cast<double>(f.denominator) / f.numerator);
    if (ival.type != V4L2_FRMIVAL_TYPE_DISCRETE) break;
  }
  return best;
}

void AddFormats(int fd, std::vector<CameraFormat>* formats) {
  for (int i = 0; i < kMaxEnumerated; ++i) {
    v4l2_fmtdesc desc{};
    desc.index = static_cast<uint32_t>(i);
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(fd, VIDIOC_ENUM_FMT, &desc) < 0) break;
    for (int s = 0; s < kMaxEnumerated; ++s) {
      v4l2_frmsizeenum size{};
      size.index = static_cast<uint32_t>(s);
      size.pixel_format = desc.pixelformat;
      if (Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) < 0) break;
      auto add = [&](uint32_t w, uint32_t h) {
        CameraFormat f;
        f.width = static_cast<int>(w);
        f.height = static_cast<int>(h);
        f.fps = BestFps(fd, desc.pixelformat, f.width, f.height);
        f.subtype = SubtypeOfFourcc(desc.pixelformat);
        f.fourcc = desc.pixelformat;
        formats->push_back(f);
      };
      if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
        add(size.discrete.width, size.discrete.height);
        continue;
      }
      // A range: its largest size, and 1280 x 720 when the range holds it.
      const auto& r = size.stepwise;
      if (r.min_width <= 1280 && r.max_width >= 1280 && r.min_height <= 720 && r.max_height >= 720) add(1280, 720);
      add(r.max_width, r.max_height);
      break;
    }
  }
}

// The /dev/v4l/by-id link that leads to the node, else the node itself.
std::string ByIdLink(const std::string& node) {
  std::error_code ec;
  const std::filesystem::path folder("/dev/v4l/by-id");
  std::vector<std::string> links;
  for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
       it.increment(ec)) {
    std::error_code e2;
    if (std::filesystem::canonical(it->path(), e2) == std::filesystem::path(node) && !e2)
      links.push_back(it->path().string());
  }
  if (links.empty()) return node;
  std::sort(links.begin(), links.end());
  return links.front();
}

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::vector<CameraSource> ListV4l2Nodes() {
  std::vector<std::pair<int, std::string>> nodes;  // (number, name)
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/sys/class/video4linux", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("video", 0) != 0) continue;
    char* end = nullptr;
    const long number = std::strtol(name.c_str() + 5, &end, 10);
    if (!end || *end || number < 0) continue;
    nodes.emplace_back(static_cast<int>(number), name);
  }
  std::sort(nodes.begin(), nodes.end());
  std::vector<CameraSource> cameras;
  for (const auto& [number, name] : nodes) {
    const std::string node = "/dev/" + name;
    CameraSource camera;
    camera.path = node;
    camera.demuxer = "v4l2";
    camera.link = Utf8ToWide(ByIdLink(node));
    const int fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      // Listed anyway: opening it is what tells the user why it cannot be used.
      camera.name = Utf8ToWide(ReadLine("/sys/class/video4linux/" + name + "/name"));
      cameras.push_back(std::move(camera));
      continue;
    }
    v4l2_capability cap{};
    if (Ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
      const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
      // Metadata and output nodes of the same camera are not cameras of their own.
      if (caps & V4L2_CAP_VIDEO_CAPTURE) {
        camera.name = Utf8ToWide(std::string(reinterpret_cast<const char*>(cap.card),
                                             strnlen(reinterpret_cast<const char*>(cap.card), sizeof cap.card)));
        AddFormats(fd, &camera.formats);
        cameras.push_back(std::move(camera));
      }
    }
    close(fd);
  }
  return cameras;
}

// The value of key=value among blank-separated options; empty when absent.
std::string OptionValue(const std::string& options, const std::string& key) {
  size_t at = 0;
  while (at < options.size()) {
    const size_t end = std::min(options.find(' ', at), options.size());
    const std::string item = options.substr(at, end - at);
    if (item.size() > key.size() && item.compare(0, key.size(), key) == 0 && item[key.size()] == '=')
      return item.substr(key.size() + 1);
    at = end + 1;
  }
  return {};
}

CameraFormat StandInFormat(const std::string& demuxer, const std::string& options) {
  CameraFormat f;
  const std::string size = OptionValue(options, "video_size");
  if (const size_t x = size.find('x'); x != std::string::npos) {
    f.width = std::clamp(std::atoi(size.substr(0, x).c_str()), 0, 16384);
    f.height = std::clamp(std::atoi(size.substr(x + 1).c_str()), 0, 16384);
  }
  const double fps = std::atof(OptionValue(options, "framerate").c_str());
  f.fps = fps > 0 && fps < 1000 ? fps : 0;
  if (demuxer == "mjpeg") {
    f.subtype = CameraSubtype::Mjpeg;
  } else if (demuxer == "rawvideo") {
    const std::string pixels = OptionValue(options, "pixel_format");
    f.subtype = pixels == "yuyv422" ? CameraSubtype::Yuy2 : pixels == "nv12" ? CameraSubtype::Nv12 : CameraSubtype::Other;
  }
  return f;
}

}  // namespace

const wchar_t* CameraSubtypeName(CameraSubtype subtype) {
  switch (subtype) {
    case CameraSubtype::Mjpeg: return L"MJPEG";
    case CameraSubtype::Nv12: return L"NV12";
    case CameraSubtype::Yuy2: return L"YUY2";
    case CameraSubtype::Other: break;
  }
  return L"other";
}

std::vector<CameraSource> ReadStandInCameras(const std::string& file) {
  std::vector<CameraSource> cameras;
  std::ifstream in(file);
  std::string line;
  while (static_cast<int>(cameras.size()) < kMaxStandIns && std::getline(in, line)) {
    if (line.size() > kMaxStandInLineBytes) continue;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    size_t at = 0;
    while (true) {
      const size_t tab = line.find('\t', at);
      fields.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
      if (tab == std::string::npos) break;
      at = tab + 1;
    }
    if (fields.size() < 4 || fields[2].empty() || fields[3].empty()) continue;
    CameraSource camera;
    camera.name = Utf8ToWide(fields[0]);
    camera.link = Utf8ToWide(fields[1]);
    camera.path = fields[2];
    camera.demuxer = fields[3];
    if (fields.size() > 4) camera.options = fields[4];
    camera.formats.push_back(StandInFormat(camera.demuxer, camera.options));
    cameras.push_back(std::move(camera));
  }
  return cameras;
}

std::vector<CameraSource> ListCameraSources() {
  const char* standIns = std::getenv("VELDMIX_CAMERAS");
  if (standIns && *standIns) return ReadStandInCameras(standIns);
  return ListV4l2Nodes();
}
