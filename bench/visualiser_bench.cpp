// Speed of the projector visualiser and of the camera conversion, on one core. Times are the
// drawing thread's CPU time, so that other work on a shared machine does not count.
//   BM_VisualiserFrame/visual/width/camera: DrawVisualiserFrame whole, deck A playing at 120 BPM
//   with a busy spectrum; camera 1 puts the test pattern in the circle. Median and p95.
//   BM_CameraYuyv720p, BM_CameraMjpeg1080p: one camera frame converted to 32-bit pixels.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "base/settings.h"
#include "base/test_mode.h"
#include "broadcast/camera.h"
#include "broadcast/visualiser.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

constexpr int kFrames = 240;  // four seconds of the visualiser's clock
constexpr double kFrameSeconds = 1.0 / 60;

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void ReportSpread(benchmark::State& state, std::vector<double> ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
}

// Deck A audible at 120 BPM; every band moving, the lows loudest on the beat.
void FeedAt(VisualiserFeed* feed, int frame) {
  const double beats = frame * kFrameSeconds * 2;
  const float pulse = static_cast<float>(std::exp(-5 * (beats - std::floor(beats))));
  feed->decks[0] = {.audible = true, .level = 0.7f, .pulse = pulse, .colour = 0x1FA8FF, .hasTrack = true,
                    .title = L"Night Drive", .artist = L"Veldmix Demo", .bpm = 120};
  feed->decks[1].colour = 0xFF6A3D;
  for (int b = 0; b < kVisualBands; ++b)
    feed->bands[static_cast<size_t>(b)] = (b < 4 ? 0.6f * pulse + 0.05f : 0.2f) * (1.0f - b / 20.0f);
}

void BM_VisualiserFrame(benchmark::State& state) {
  const int visual = static_cast<int>(state.range(0));
  const int width = static_cast<int>(state.range(1)), height = width * 9 / 16;
  const bool camera = state.range(2) != 0;
  TestMode = true;
  VisualiserWindowOpen = true;
  Settings.VisualiserStyle = visual;
  Settings.VisualiserTrack = true;
  Settings.CameraOn = camera;
  Settings.CameraShow = 1;
  if (camera) {
    StartCamera(kTestPatternDevice);
    while (CameraFrameCount() == 0) SleepMs(2);
  }
  auto surface = DrawSurface::Create(width, height, 1.0f);
  VisualiserFeed feed;
  feed.fullScreen = true;
  // Past the fade-in and the banner, with the camera fully in: the steady frame.
  int frame = 0;
  for (; frame < 200; ++frame) {
    FeedAt(&feed, frame);
    DrawVisualiserFrame(*surface, static_cast<float>(width), static_cast<float>(height), kFrameSeconds, feed);
  }
  std::vector<double> ms;
  for (auto _ : state) {
    FeedAt(&feed, frame++);
    const double start = ThreadSeconds();
    DrawVisualiserFrame(*surface, static_cast<float>(width), static_cast<float>(height), kFrameSeconds, feed);
    const double seconds = ThreadSeconds() - start;
    state.SetIterationTime(seconds);
    ms.push_back(seconds * 1e3);
  }
  StopCamera();
  ReportSpread(state, std::move(ms));
}

// One frame made by ffmpeg: testsrc2 as raw YUYV or as MJPEG.
std::string MakeFrame(const std::string& size, const std::string& format) {
  const std::string path = "/tmp/veldmix-bench-camera-" + size + "." + format;
  const std::string args = format == "yuyv" ? "-pix_fmt yuyv422 -f rawvideo" : "-q:v 3 -f mjpeg";
  const std::string command = "ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=" + size + " -frames:v 1 " + args +
                              " '" + path + "'";
  std::string bytes;
  if (std::system(command.c_str()) != 0 ||
      ReadBytes(std::wstring(path.begin(), path.end()), &bytes, 64u << 20) != ReadStatus::Ok)
    return {};
  std::remove(path.c_str());
  return bytes;
}

void ConvertLoop(benchmark::State& state, CameraSubtype subtype, int width, int height, const std::string& frame) {
  auto converter = CameraConverter::Make(subtype, width, height);
  if (!converter || frame.empty()) {
    state.SkipWithError("no converter or no frame (is ffmpeg installed?)");
    return;
  }
  std::vector<uint32_t> pixels;
  int w = 0, h = 0;
  std::vector<double> ms;
  for (auto _ : state) {
    const double start = ThreadSeconds();
    const bool ok = converter->Convert(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(), &pixels, &w, &h);
    const double seconds = ThreadSeconds() - start;
    if (!ok) {
      state.SkipWithError("the frame did not convert");
      return;
    }
    state.SetIterationTime(seconds);
    ms.push_back(seconds * 1e3);
  }
  ReportSpread(state, std::move(ms));
}

void BM_CameraYuyv720p(benchmark::State& state) {
  ConvertLoop(state, CameraSubtype::Yuy2, 1280, 720, MakeFrame("1280x720", "yuyv"));
}

void BM_CameraMjpeg1080p(benchmark::State& state) {
  ConvertLoop(state, CameraSubtype::Mjpeg, 1920, 1080, MakeFrame("1920x1080", "mjpeg"));
}

}  // namespace

BENCHMARK(BM_VisualiserFrame)
    ->ArgsProduct({benchmark::CreateDenseRange(0, kVisualCount - 1, 1), {1920, 960}, {0, 1}})
    ->ArgNames({"visual", "width", "camera"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kFrames);
BENCHMARK(BM_CameraYuyv720p)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_CameraMjpeg1080p)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(100);
