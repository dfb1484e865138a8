// veldmix-tool cameras | camera | visualiser: the camera capture and the projector visualiser over
// the program's real code, without a window.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/publish_controls.h"
#include "base/settings.h"
#include "base/test_mode.h"
#include "base/text_parse.h"
#include "broadcast/camera.h"
#include "broadcast/visualiser.h"
#include "engine/deck_snapshot.h"
#include "engine/engine.h"
#include "engine/render.h"
#include "engine/transport.h"
#include "library/cover_art.h"
#include "platform/clock.h"
#include "platform/draw_surface.h"
#include "platform/png_file.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "screens/main_screen.h"
#include "screens/visualiser_toggle.h"
#include "tools/veldmix-tool/commands.h"
#include "ui/draw.h"

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

constexpr int kFramesPerSecond = 60;       // the visualiser's clock
constexpr int kRate = 48000;
constexpr int kPeriod = kRate / kFramesPerSecond;  // audio frames rendered per visualiser frame
constexpr int kMinSide = 64, kMaxSide = 7680;
constexpr double kMaxVisualiserSeconds = 600;
constexpr unsigned kCameraWaitMs = 5000;

constexpr const char kVisualiserUsage[] =
    "usage: veldmix-tool visualiser OUT.png --audio WAV --seconds S [--visual N] [--auto]\n"
    "                                [--size WxH] [--camera DEVICE [--no-mirror]]\n"
    "Plays WAV on deck A through the real mixer and meters and draws the visualiser's whole frame\n"
    "off-screen 60 times a second of the mix's clock for S seconds; writes the last frame as\n"
    "OUT.png. Prints each change of visual with its time, then the visuals' state.\n"
    "  --audio WAV      any audio file a deck plays; without it no deck plays (silence)\n"
    "  --visual N       the visual to start with, 0-9 (default 0, RING)\n"
    "  --auto           the automatic change of visual on\n"
    "  --size WxH       frame size in pixels (default 960x540)\n"
    "  --camera DEVICE  [Camera] On=1, Show=1, Device=DEVICE; waits for its first frame\n"
    "  --no-mirror      [Camera] Mirror=0: the picture as the camera sees it\n"
    "Nothing of the user's settings is read or written.\n";

struct VisualiserArgs {
  std::string out, audio, camera;
  double seconds = -1;
  int visual = 0;
  bool autoChange = false;
  bool mirror = true;
  int width = 960, height = 540;
};

bool ParseVisualiserArgs(const std::vector<std::string>& args, VisualiserArgs* a) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool more = i + 1 < args.size();
    int64_t n = 0;
    if (arg == "--audio" && more) {
      a->audio = args[++i];
    } else if (arg == "--seconds" && more) {
      if (!ParseNumber(args[++i], &a->seconds, 0, kMaxVisualiserSeconds)) return false;
    } else if (arg == "--visual" && more) {
      if (!ParseInteger(args[++i], &n, 0, kVisualCount - 1)) return false;
      a->visual = static_cast<int>(n);
    } else if (arg == "--no-mirror") {
      a->mirror = false;
    } else if (arg == "--auto") {
      a->autoChange = true;
    } else if (arg == "--size" && more) {
      const std::string& size = args[++i];
      const size_t x = size.find('x');
      int64_t w = 0, h = 0;
      if (x == std::string::npos || !ParseInteger(size.substr(0, x), &w, kMinSide, kMaxSide) ||
          !ParseInteger(size.substr(x + 1), &h, kMinSide, kMaxSide))
        return false;
      a->width = static_cast<int>(w);
      a->height = static_cast<int>(h);
    } else if (arg == "--camera" && more) {
      a->camera = args[++i];
    } else if (a->out.empty() && arg.rfind("--", 0) != 0) {
      a->out = arg;
    } else {
      return false;
    }
  }
  return !a->out.empty() && a->seconds >= 0;
}

// One visualiser frame's worth of the mix through the real render, then the UI tick's meters,
// snapshots and beat pulses, as the window's frame would find them.
void AdvanceMix(std::vector<float>* block, uint64_t frame) {
  RenderMix(Engine, block->data(), kPeriod, kRate);
  // Covers the loader has read are applied here, as the program's loop applies them.
  DrainUiPosts([](const UiPost& post) {
    if (post.message == kArtLoadedPost) OnArtLoaded(static_cast<ArtResult*>(post.lparam));
  });
  DemoTickAt(frame * 1000 / kFramesPerSecond);
  SnapshotDecks();
  UpdateBeatPulses();
}

int RunVisualiserCommand(const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "--help") {
    std::fputs(kVisualiserUsage, stdout);
    return 0;
  }
  VisualiserArgs a;
  if (!ParseVisualiserArgs(args, &a)) {
    std::fputs(kVisualiserUsage, stderr);
    return 2;
  }
  TestMode = true;  // the settings the keys and the frame touch are never saved
  Settings.StemsAuto = false;
  Settings.VisualiserStyle = a.visual;
  Settings.VisualiserAuto = a.autoChange;
  VisualiserWindowOpen = true;
  if (!a.audio.empty()) {
    if (!LoadDecks({a.audio})) return 1;
    PlayPause(0);
  }
  OpenUiPosts(nullptr);
  if (!a.camera.empty()) {
    Settings.CameraOn = true;
    Settings.CameraShow = 1;
    Settings.CameraMirror = a.mirror;
    Settings.CameraDevice = Utf8ToWide(a.camera);
    StartCamera(Settings.CameraDevice);
    const uint64_t deadline = MonotonicMs() + kCameraWaitMs;
    while (CameraFrameCount() == 0 && MonotonicMs() < deadline) SleepMs(5);
    if (CameraFrameCount() == 0)
      std::printf("camera: no frame (%s)\n", WideToUtf8(CameraStatusText()).c_str());
  }
  Engine.sampleRate.store(kRate);
  PrepareRenderBuffers(Engine, kPeriod, kRate);
  auto surface = DrawSurface::Create(a.width, a.height, 1.0f);
  // Cover bitmaps are made on the drawing device, which the program's main window holds.
  if (!surface || (!HasDevice() && !CreateDevice(kMinSide, kMinSide, 1.0f))) {
    std::fprintf(stderr, "veldmix-tool visualiser: cannot make a %dx%d frame\n", a.width, a.height);
    return 1;
  }
  std::vector<float> block(static_cast<size_t>(kPeriod) * 2);
  const uint64_t frames = static_cast<uint64_t>(a.seconds * kFramesPerSecond + 0.5);
  int shown = -1;
  for (uint64_t i = 0; i < frames; ++i) {
    AdvanceMix(&block, i);
    DrawVisualiserFrame(*surface, static_cast<float>(a.width), static_cast<float>(a.height),
                        1.0 / kFramesPerSecond, GatherVisualiserFeed());
    if (VisualIndex() != shown) {
      shown = VisualIndex();
      std::printf("%.3f visual %d %s\n", static_cast<double>(i) / kFramesPerSecond, shown,
                  WideToUtf8(VisualName(shown)).c_str());
    }
  }
  const VisualState& s = Visuals;
  std::printf("state: deck %d, bass %.3f, sparks %zu, rings %zu, ring serial %d, scroll %.3f, flash %.3f, "
              "camera %.3f\n",
              VisualiserShownDeck(), s.bassEnvelope, s.sparks.size(), s.rings.size(), s.ringCounter, s.scroll, s.flash,
              VisualiserCameraAlpha());
  StopCamera();
  StopArtLoader();
  CloseUiPosts([](const UiPost& post) {
    if (post.message == kArtLoadedPost) delete static_cast<ArtResult*>(post.lparam);
  });
  std::wstring error;
  if (!surface->WritePng(Utf8ToWide(a.out), &error)) {
    std::fprintf(stderr, "veldmix-tool visualiser: %s: %s\n", a.out.c_str(), WideToUtf8(error).c_str());
    return 1;
  }
  return 0;
}

}  // namespace

extern const ToolCommand kVisualCommands[] = {
    {"cameras", "", "list the cameras in the settings screen's order", RunCameras},
    {"camera", "DEVICE --seconds N [--out DIR]", "capture a camera (camera --help)", RunCamera},
    {"visualiser", "OUT.png --audio WAV --seconds S ...", "draw the visualiser off-screen (visualiser --help)",
     RunVisualiserCommand},
};
extern const int kVisualCommandCount = 3;
