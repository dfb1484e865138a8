// Speed of the Library-layout main screen at 1920 x 1080 off-screen with a big browser view: two
// decks playing, N files in view sorted by title and filtered by a search that keeps them all,
// every shown row's cover in the art cache, the scroll row in the middle. Targets: median under
// 8 ms and p95 under 12 ms whatever N, the 5,000 and 50,000 figures within 5 % of each other.
//   BM_BrowserScreenFrame/N: DriveFrame whole (tick, Frame, glow pass), median_ms and p95_ms; and
//   browser_ms, DrawBrowser alone on the same frame (its median), with browser_share, its part of
//   the frame's median; ui_cpu_ms and browser_cpu_ms, the same as the UI thread's own CPU time
//   (medians), which a busy machine's other work adds less to.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "app/frame_tick.h"
#include "base/palette.h"
#include "base/settings.h"
#include "base/test_mode.h"
#include "base/track_info.h"
#include "engine/engine.h"
#include "library/cover_art.h"
#include "library/track_view.h"
#include "platform/paths.h"
#include "screens/browser_screen.h"
#include "screens/layout.h"
#include "screens/main_screen.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kRate = 44100;
constexpr double kTrackSeconds = 300.0;
constexpr double kFrameSeconds = 0.015;
constexpr int kFrames = 300;
constexpr int kCoverSide = 128;
constexpr size_t kCachedCovers = 600;  // the art cache's size: around the shown rows

TrackPtr BenchTrack(double bpm, const wchar_t* title) {
  auto track = std::make_shared<Track>();
  track->sampleRate = kRate;
  track->frames = static_cast<uint64_t>(kTrackSeconds * kRate);
  track->bpm = bpm;
  track->title = title;
  track->waveform.resize(static_cast<size_t>(kTrackSeconds * 150) + 1);
  for (size_t i = 0; i < track->waveform.size(); ++i)
    track->waveform[i] = WavePoint{static_cast<uint8_t>((i * 37) % 255), static_cast<uint8_t>((i * 11) % 200),
                                   static_cast<uint8_t>((i * 5) % 120)};
  return track;
}

// n files of a folder view, analysed and rated, a quarter with a colour; the covers of the rows
// around the middle (where the view is scrolled to) cached as the loader leaves them.
void SetUpView(int n) {
  TestMode = true;
  Settings.Layout = kLayoutLibrary;
  Settings.FourDecks = Settings.Vertical = false;
  Settings.Art = true;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].track = BenchTrack(124.0, L"First Bench Track (Extended Mix)");
    Engine.decks[1].track = BenchTrack(126.0, L"Second Bench Track");
    Engine.decks[0].playing = Engine.decks[1].playing = true;
  }
  ViewItems.clear();
  TrackLibrary.clear();
  ArtCache.clear();
  ViewItems.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    LibraryFile f;
    // Titles in a scrambled order, so the title sort has work to do.
    const int shuffled = static_cast<int>((static_cast<int64_t>(i) * 7919) % n);
    f.path = L"/music/bench/" + std::to_wstring(i) + L".mp3";
    f.title = L"Track " + std::to_wstring(shuffled) + L" (Original Mix)";
    f.artist = L"Artist " + std::to_wstring(i % 977);
    f.titleKey = f.title, f.artistKey = f.artist;
    f.searchText = L"track " + std::to_wstring(shuffled) + L" original mix artist " + std::to_wstring(i % 977);
    f.duration = 180 + i % 240;
    f.index = static_cast<uint32_t>(i);
    ViewItems.push_back(std::move(f));
    TrackInfo& record = TrackInfoFor(ViewItems.back().path);
    record.analyzed = true;
    record.bpm = 118 + i % 12;
    record.key = i % 24;
    record.loudness = -14.0f - static_cast<float>(i % 10);
    record.rating = i % 6;
    record.color = i % 4 == 0 ? 1 + i % 8 : 0;
  }
  SortColumn = kSortTitle;
  SortAscending = true;
  SearchText = L"mix";
  RebuildView();
  ScrollRow = static_cast<int>(ViewOrder.size()) / 2;
  const std::vector<uint32_t> cover(kCoverSide * kCoverSide, 0xFF3050C0);
  for (size_t i = 0; i < kCachedCovers && ScrollRow + i < ViewOrder.size(); ++i) {
    ArtEntry& entry = ArtCache[PathKey(ViewItems[static_cast<size_t>(ViewOrder[ScrollRow + i])].path)];
    entry.pixels = cover;
    entry.width = entry.height = kCoverSide;
    entry.loaded = true;
  }
  SetFramePresenter(nullptr);
}

void AdvanceDecks() {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  for (int d = 0; d < 2; ++d) Engine.decks[d].position += kFrameSeconds * kRate;
}

double Median(std::vector<double> ms) {
  if (ms.empty()) return 0;
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

double P95(std::vector<double> ms) {
  if (ms.empty()) return 0;
  std::sort(ms.begin(), ms.end());
  return ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
}

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// CPU seconds of the calling thread: what the UI thread spends, whatever else runs on a busy
// machine.
double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void BM_BrowserScreenFrame(benchmark::State& state) {
  SetUpView(static_cast<int>(state.range(0)));
  const FrameWindow window{kWidth, kHeight, false, 1.0f};
  DriveFrame(window);  // device, caches, layouts and cover bitmaps are made outside the timing
  const int scroll = ScrollRow;
  std::vector<double> frame, browser, frameCpu, browserCpu;
  for (auto _ : state) {
    AdvanceDecks();
    auto start = Clock::now();
    double cpu = ThreadCpuSeconds();
    DriveFrame(window);
    const double seconds = Since(start);
    frameCpu.push_back((ThreadCpuSeconds() - cpu) * 1e3);
    state.SetIterationTime(seconds);
    frame.push_back(seconds * 1e3);
    // The browser alone, on a frame of its own, with the same view.
    ResetGlowLayer();
    BeginDraw();
    start = Clock::now();
    cpu = ThreadCpuSeconds();
    DrawBrowser(Screen.browser);
    browserCpu.push_back((ThreadCpuSeconds() - cpu) * 1e3);
    browser.push_back(Since(start) * 1e3);
    EndFrame();
    ScrollRow = scroll;
  }
  state.counters["rows"] = static_cast<double>(ViewOrder.size());
  state.counters["median_ms"] = Median(frame);
  state.counters["p95_ms"] = P95(frame);
  state.counters["browser_ms"] = Median(browser);
  state.counters["browser_share"] = Median(browser) / std::max(1e-9, Median(frame));
  state.counters["ui_cpu_ms"] = Median(frameCpu);
  state.counters["browser_cpu_ms"] = Median(browserCpu);
}

}  // namespace

BENCHMARK(BM_BrowserScreenFrame)
    ->Arg(5000)
    ->Arg(50000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kFrames);
