#include "broadcast/camera.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cwctype>
#include <mutex>
#include <thread>

#include <fmt/xchar.h>

#include "platform/clock.h"
#include "platform/text.h"
#include "platform/thread_priority.h"

namespace {

constexpr uint64_t kRetryAfterMs = 3000;     // a failed camera is tried again this often
constexpr unsigned kTestPatternFrameMs = 33;
constexpr uint64_t kTestPatternCatchUpMs = 500;
constexpr int kMaxFormatWidth = 1920;
constexpr double kBestFpsCounted = 30.0;
constexpr double kNoScoreYet = -1e9;
constexpr uint32_t kOpaque = 0xFF000000u;

const wchar_t* const kNoCamera = L"No camera found \u2014 plug one in";
const wchar_t* const kBlocked = L"The system is blocking the camera: this account needs access to it (the video group)";
const wchar_t* const kWontStart = L"The camera wouldn't start \u2014 is another app using it?";
const wchar_t* const kUnsupported = L"This camera's picture format isn't supported";
const wchar_t* const kStoppedText = L"The camera stopped (unplugged, or taken by another app)";
const wchar_t* const kStarting = L"Starting the camera\u2026";

struct CameraState {
  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<bool> capturing{false};
  std::mutex stopLock;  // with wake: the test pattern's frame wait ends at once on a stop
  std::condition_variable wake;
  std::wstring device;  // UI thread
  uint64_t lastStartMs = 0;
  std::atomic<uint64_t> frames{0};
  // Guarded by lock:
  std::mutex lock;
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  uint64_t serial = 0;
  std::wstring status;
  std::wstring label;
  // A capture left running at exit is stopped, never abandoned to std::terminate.
  ~CameraState() {
    stop.store(true);
    wake.notify_all();
    if (thread.joinable()) thread.join();
  }
};
CameraState Camera;

void SetStatus(const std::wstring& text) {
  std::lock_guard<std::mutex> guard(Camera.lock);
  Camera.status = text;
}

void SetLabel(const std::wstring& text) {
  std::lock_guard<std::mutex> guard(Camera.lock);
  Camera.label = text;
}

// Swaps a finished frame in; the caller's vector gets the old buffer back for the next frame.
void PublishFrame(std::vector<uint32_t>* pixels, int width, int height) {
  {
    std::lock_guard<std::mutex> guard(Camera.lock);
    Camera.pixels.swap(*pixels);
    Camera.width = width;
    Camera.height = height;
    ++Camera.serial;
  }
  Camera.frames.fetch_add(1);
}

void RunTestPattern() {
  SetStatus(L"");
  SetLabel(L"test pattern");
  std::vector<uint32_t> pixels;
  auto next = MonotonicMs();
  for (uint64_t n = 0; !Camera.stop.load(); ++n) {
    DrawCameraTestPattern(&pixels, n);
    PublishFrame(&pixels, kTestPatternWidth, kTestPatternHeight);
    next += kTestPatternFrameMs;
    const uint64_t now = MonotonicMs();
    // A frame a busy machine made late is made up by the next ones, as a camera's own clock would;
    // after a stall of more than kTestPatternCatchUpMs the pattern starts afresh rather than burst.
    if (next + kTestPatternCatchUpMs < now) next = now;
    if (next < now) continue;
    std::unique_lock<std::mutex> guard(Camera.stopLock);
    Camera.wake.wait_for(guard, std::chrono::milliseconds(next - now), [] { return Camera.stop.load(); });
  }
}

const wchar_t* FaultText(CameraFault fault) {
  switch (fault) {
    case CameraFault::NoAccess: return kBlocked;
    case CameraFault::WontStart: return kWontStart;
    case CameraFault::Unsupported: return kUnsupported;
    case CameraFault::Ended: return kStoppedText;
    case CameraFault::None:
    case CameraFault::Stopped: break;
  }
  return nullptr;
}

void OpenCamera(const std::wstring& device) {
  std::vector<CameraSource> cameras = ListCameraSources();
  OrderCameras(&cameras);
  if (cameras.empty()) {
    SetStatus(kNoCamera);
    return;
  }
  const CameraSource* chosen = &cameras.front();
  for (const CameraSource& c : cameras)
    if (c.link == device) chosen = &c;  // the last of several with the same link
  std::wstring formatLabel;
  const int format = ChooseCameraFormat(chosen->formats, &formatLabel);
  CameraFault fault = CameraFault::None;
  auto capture = CameraCapture::Open(*chosen, format, &Camera.stop, &fault);
  if (!capture) {
    if (const wchar_t* text = FaultText(fault)) SetStatus(text);
    return;
  }
  SetStatus(L"");
  SetLabel(formatLabel.empty() ? chosen->name : chosen->name + L" \u00b7 " + formatLabel);
  std::vector<uint32_t> pixels;
  while (true) {
    int width = 0, height = 0;
    bool skipped = false;
    fault = capture->Next(&pixels, &width, &height, &skipped);
    if (fault != CameraFault::None) break;
    if (!skipped) PublishFrame(&pixels, width, height);
  }
  if (fault == CameraFault::NoAccess) SetStatus(kBlocked);
  else if (fault != CameraFault::Stopped) SetStatus(kStoppedText);
}

void CameraThread(std::wstring device) {
  NameThisThread("vm-camera");
  if (device == kTestPatternDevice) RunTestPattern();
  else OpenCamera(device);
  Camera.capturing.store(false);
}

}  // namespace

// ---- running ------------------------------------------------------------------------------------

bool CameraCaptureAllowed = true;

void StartCamera(const std::wstring& device) {
  if (!CameraCaptureAllowed) return;
  if (Camera.thread.joinable() && Camera.device == device) {
    if (Camera.capturing.load() || MonotonicMs() - Camera.lastStartMs < kRetryAfterMs) return;
  }
  const std::wstring remembered = CameraStatusText();
  StopCamera();
  Camera.stop.store(false);
  Camera.device = device;
  Camera.frames.store(0);
  Camera.lastStartMs = MonotonicMs();
  SetStatus(remembered.empty() ? std::wstring(kStarting) : remembered);
  Camera.capturing.store(true);
  Camera.thread = std::thread(CameraThread, device);
}

void StopCamera() {
  if (Camera.thread.joinable()) {
    {
      std::lock_guard<std::mutex> guard(Camera.stopLock);
      Camera.stop.store(true);
    }
    Camera.wake.notify_all();
    Camera.thread.join();
  }
  Camera.device.clear();
  std::lock_guard<std::mutex> guard(Camera.lock);
  Camera.pixels = {};
  Camera.width = Camera.height = 0;
  Camera.status.clear();
  Camera.label.clear();
}

bool CameraRunning() { return Camera.thread.joinable(); }

bool CameraCapturing() { return Camera.capturing.load(); }

// ---- what it delivers ---------------------------------------------------------------------------

bool TakeCameraFrame(std::vector<uint32_t>* pixels, int* width, int* height, uint64_t* serial) {
  std::lock_guard<std::mutex> guard(Camera.lock);
  if (Camera.serial == *serial || Camera.pixels.empty()) return false;
  pixels->assign(Camera.pixels.begin(), Camera.pixels.end());
  *width = Camera.width;
  *height = Camera.height;
  *serial = Camera.serial;
  return true;
}

std::wstring CameraStatusText() {
  std::lock_guard<std::mutex> guard(Camera.lock);
  return Camera.status;
}

std::wstring CameraFormatLabel() {
  std::lock_guard<std::mutex> guard(Camera.lock);
  return Camera.label;
}

uint64_t CameraFrameCount() { return Camera.frames.load(); }

std::vector<CameraEntry> ListCameras() {
  std::vector<CameraSource> cameras = ListCameraSources();
  OrderCameras(&cameras);
  std::vector<CameraEntry> entries;
  for (const CameraSource& c : cameras) entries.push_back({c.name, c.link});
  return entries;
}

// ---- pieces -------------------------------------------------------------------------------------

bool IsInfraredCamera(const std::wstring& name) {
  std::wstring upper = name;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  const std::wstring_view u = upper;
  return u.find(L" IR ") != u.npos || u.find(L"INFRARED") != u.npos || u.find(L"IR CAMERA") != u.npos ||
         u.ends_with(L" IR");
}

void OrderCameras(std::vector<CameraSource>* cameras) {
  std::stable_partition(cameras->begin(), cameras->end(),
                        [](const CameraSource& c) { return !IsInfraredCamera(c.name); });
}

int ChooseCameraFormat(const std::vector<CameraFormat>& formats, std::wstring* label) {
  int best = -1;
  double bestScore = kNoScoreYet;
  label->clear();
  for (size_t i = 0; i < formats.size(); ++i) {
    const CameraFormat& f = formats[i];
    if (f.width <= 0 || f.height <= 0 || f.width > kMaxFormatWidth) continue;
    const double fps = std::isfinite(f.fps) && f.fps > 0 ? f.fps : 0.0;
    const bool bonus = f.subtype == CameraSubtype::Nv12 || f.subtype == CameraSubtype::Yuy2;
    const double score = -std::abs(f.height - 720) - 0.5 * std::abs(f.width - 1280) +
                         8.0 * std::min(fps, kBestFpsCounted) + (bonus ? 20.0 : 0.0);
    if (score > bestScore) {
      bestScore = score;
      best = static_cast<int>(i);
      *label = fmt::format(L"{}x{} {} {:.0f} fps", f.width, f.height, CameraSubtypeName(f.subtype), fps);
    }
  }
  return best;
}

void DrawCameraTestPattern(std::vector<uint32_t>* pixels, uint64_t n) {
  constexpr int w = kTestPatternWidth, h = kTestPatternHeight;
  constexpr int kBarRows = 288, kBlockWidth = 160, kBlockTop = 541, kRampStep = 32;
  constexpr uint32_t kBars[7] = {0xC0C0C0, 0xC0C000, 0x00C0C0, 0x00C000, 0xC000C0, 0xC00000, 0x0000C0};
  constexpr uint32_t kBackground = 0x101828, kRed = 0xFF2020, kWhite = 0xFFFFFF;
  constexpr int kDiscRadiusSquared = 3600;
  pixels->resize(static_cast<size_t>(w) * h);
  const double t = static_cast<double>(n);
  const int cx = static_cast<int>(std::floor(std::sin(0.05 * t) * 384.0 + 640.0));
  const int cy = static_cast<int>(std::floor(std::cos(0.07 * t) * 129.6 + 446.4));
  uint32_t* p = pixels->data();
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x, ++p) {
      uint32_t c;
      const bool block = y >= kBarRows && x < kBlockWidth && y >= kBlockTop;
      if (y < kBarRows) c = kBars[7 * x / w];
      else if (block) c = kRed;
      else c = kBackground + static_cast<uint32_t>(x / kRampStep);
      const int dx = x - cx, dy = y - cy;
      if (!block && dx * dx + dy * dy < kDiscRadiusSquared) c = kWhite;
      *p = c | kOpaque;
    }
  }
}
