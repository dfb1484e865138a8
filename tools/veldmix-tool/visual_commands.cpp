// veldmix-tool cameras | camera | visualiser: the camera capture and the projector visualiser over
// the program's real code, without a window.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/text_parse.h"
#include "broadcast/camera.h"
#include "platform/clock.h"
#include "platform/png_file.h"
#include "platform/text.h"
#include "tools/veldmix-tool/commands.h"

namespace {

constexpr unsigned kTickMs = 15;  // the UI tick that keeps asking for the camera
constexpr double kMaxSeconds = 3600;

constexpr const char kCameraUsage[] =
    "usage: veldmix-tool camera DEVICE --seconds N [--out DIR]\n"
    "Captures DEVICE (a link from `cameras`, or test-pattern) on the real capture thread for N\n"
    "seconds, asking for it every 15 ms as the UI tick does (so a failed camera is retried every\n"
    "3 s). Prints each status change and format label, and the frame count each second; writes\n"
    "the last frame as DIR/last-frame.png. Ends with the time the stop took.\n";

int RunCameras(const std::vector<std::string>& args) {
  if (!args.empty()) {
    std::fputs("usage: veldmix-tool cameras\n", args[0] == "--help" ? stdout : stderr);
    return args[0] == "--help" ? 0 : 2;
  }
  const auto cameras = ListCameras();
  if (cameras.empty()) std::printf("No camera found \u2014 plug one in\n");
  for (const CameraEntry& c : cameras) std::printf("%s\t%s\n", WideToUtf8(c.name).c_str(), WideToUtf8(c.link).c_str());
  return 0;
}

int RunCamera(const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "--help") {
    std::fputs(kCameraUsage, stdout);
    return 0;
  }
  std::string device, out;
  double seconds = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--seconds" && i + 1 < args.size()) {
      if (!ParseNumber(args[++i], &seconds, 0, kMaxSeconds)) seconds = -1;
    } else if (args[i] == "--out" && i + 1 < args.size()) {
      out = args[++i];
    } else if (device.empty() && args[i].rfind("--", 0) != 0) {
      device = args[i];
    } else {
      device.clear();
      break;
    }
  }
  if (device.empty() || seconds < 0) {
    std::fputs(kCameraUsage, stderr);
    return 2;
  }
  const std::wstring wanted = Utf8ToWide(device);
  const double start = MonotonicSeconds();
  std::wstring status = L"(none)", label;
  bool firstStatus = true;
  int nextSecond = 1;
  while (MonotonicSeconds() - start < seconds) {
    StartCamera(wanted);
    const std::wstring nowStatus = CameraStatusText(), nowLabel = CameraFormatLabel();
    const double t = MonotonicSeconds() - start;
    if (firstStatus || nowStatus != status) {
      std::printf("%.2f status: %s\n", t, nowStatus.empty() ? "(ok)" : WideToUtf8(nowStatus).c_str());
      status = nowStatus;
      firstStatus = false;
    }
    if (nowLabel != label) {
      std::printf("%.2f format: %s\n", t, WideToUtf8(nowLabel).c_str());
      label = nowLabel;
    }
    if (t >= nextSecond) {
      std::printf("%.2f frames: %llu\n", t, static_cast<unsigned long long>(CameraFrameCount()));
      ++nextSecond;
    }
    std::fflush(stdout);
    SleepMs(kTickMs);
  }
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  uint64_t serial = 0;
  const bool haveFrame = TakeCameraFrame(&pixels, &width, &height, &serial);
  const double stopStart = MonotonicSeconds();
  StopCamera();
  std::printf("stopped in %.3f s\n", MonotonicSeconds() - stopStart);
  if (!out.empty()) {
    if (!haveFrame) {
      std::fprintf(stderr, "veldmix-tool camera: no frame arrived\n");
      return 1;
    }
    std::wstring error;
    std::error_code ec;
    std::filesystem::create_directories(out, ec);
    if (!WritePngFile(pixels.data(), width, height, width, Utf8ToWide(out) + L"/last-frame.png", &error)) {
      std::fprintf(stderr, "veldmix-tool camera: %s: %s\n", out.c_str(), WideToUtf8(error).c_str());
      return 1;
    }
    std::printf("last frame: %dx%d\n", width, height);
  }
  return 0;
}

}  // namespace

extern const ToolCommand kVisualCommands[] = {
    {"cameras", "", "list the cameras in the settings screen's order", RunCameras},
    {"camera", "DEVICE --seconds N [--out DIR]", "capture a camera (camera --help)", RunCamera},
};
extern const int kVisualCommandCount = 2;
