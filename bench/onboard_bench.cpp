// The onboarding overlays and the demo-track job.
//   BM_OverlayFrame/0: DriveFrame at 1920 x 1080 with the tour open on step 4 (spotlight on the
//   waveforms); /1: with the help screen open. Targets: median <= 8 ms, p95 <= 12 ms; allocs is
//   the heap allocations per steady frame (every malloc of the process).
//   BM_DemoTrackJob: one song made as the job makes it (render, WAV, MP3, tags) on this thread;
//   target <= 5 s per song. peak_rss_mb is the process's peak resident size (run this benchmark
//   alone for a figure of the job by itself; target <= 300 MB).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/frame_tick.h"
#include "base/settings.h"
#include "base/test_mode.h"
#include "bench/alloc_count.h"
#include "platform/text.h"
#include "settings/demo_tracks.h"
#include "settings/help_screen.h"
#include "settings/tour.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"

namespace {

using Clock = std::chrono::steady_clock;

void ReportSpread(benchmark::State& state, std::vector<double> ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
}

void BM_OverlayFrame(benchmark::State& state) {
  TestMode = true;
  SetFramePresenter(nullptr);
  TourOpen = state.range(0) == 0;
  TourStep = 4;
  HelpOpen = state.range(0) == 1;
  const FrameWindow window{1920, 1080, false, 1.0f};
  DriveFrame(window);  // device, caches and layouts are made outside the timing
  DriveFrame(window);
  std::vector<double> ms;
  const int64_t allocations_start = Allocations.load();
  for (auto _ : state) {
    const auto start = Clock::now();
    DriveFrame(window);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    ms.push_back(seconds * 1e3);
  }
  state.counters["allocs"] =
      static_cast<double>(Allocations.load() - allocations_start) / std::max<double>(1, state.iterations());
  ReportSpread(state, std::move(ms));
  TourOpen = HelpOpen = false;
}

void BM_DemoTrackJob(benchmark::State& state) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "veldmix-demo-bench";
  std::filesystem::create_directories(folder);
  const int32_t song = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    std::wstring out, error;
    if (!MakeDemoTrack(song, Utf8ToWide(folder.string()), &out, &error)) {
      state.SkipWithError(WideToUtf8(error).c_str());
      break;
    }
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_mb"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  std::filesystem::remove_all(folder);
}

}  // namespace

BENCHMARK(BM_OverlayFrame)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(300);
BENCHMARK(BM_DemoTrackJob)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);
