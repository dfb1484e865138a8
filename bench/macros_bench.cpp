// Speed of the macro runner, the timecode decoder and a frame with the macros panel open.
//   BM_DecodeTimecode: one deck's decoder over 3 ms packets of a +4 % record at 48 kHz; ns per
//   stereo frame (items per second = frames per second; two decks at 48 kHz are 96000 of them).
//   BM_TickMacros: eight macros waiting and sixteen glides running; µs per tick.
//   BM_MacrosPanelFrame: DriveFrame at 1920 x 1080 off-screen with the panel open, two decks
//   playing; median and p95 of the frames (the drawing thread's CPU time), and the panel's own
//   drawing alone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>
#include <mutex>
#include <numbers>
#include <vector>

#include "app/frame_tick.h"
#include "base/palette.h"
#include "base/settings.h"
#include "base/test_mode.h"
#include "control/macros.h"
#include "control/macros_panel.h"
#include "control/pad_macros.h"
#include "control/timecode.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "platform/clock.h"
#include "screens/macros_panel_view.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"

namespace {

constexpr int kRate = 48000;
constexpr uint32_t kPacketFrames = 144;  // 3 ms
constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kFrames = 300;

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_DecodeTimecode(benchmark::State& state) {
  // One second of record, fed round and round in packets.
  std::vector<float> record(static_cast<size_t>(kRate) * 2);
  for (int i = 0; i < kRate; ++i) {
    const double phase = 2.0 * std::numbers::pi * 1000.0 * 1.04 * i / kRate;
    record[2 * i] = static_cast<float>(0.5 * std::sin(phase));
    record[2 * i + 1] = static_cast<float>(0.5 * std::cos(phase));
  }
  TimecodeDecoder decoder = MakeTimecodeDecoder(kRate, 1000.0, false);
  size_t at = 0;
  for (auto _ : state) {
    DecodeTimecode(decoder, record.data() + at * 2, kPacketFrames);
    at = (at + kPacketFrames) % (kRate - kPacketFrames);
    benchmark::DoNotOptimize(decoder.speed);
  }
  state.SetItemsProcessed(state.iterations() * kPacketFrames);
  state.counters["ns_per_frame"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kPacketFrames), benchmark::Counter::kIsRate |
                                                                                     benchmark::Counter::kInvert);
}

double BenchNow = 0.0;
double BenchClock() { return BenchNow; }

void BM_TickMacros(benchmark::State& state) {
  MacroClockHook = BenchClock;
  for (int i = 0; i < kMacroSlots; ++i)
    Settings.MacroScript[i] = L"wait 1000 s & volume 10";  // eight macros that stay running
  for (auto _ : state) {
    state.PauseTiming();
    ClearMacros();
    BenchNow = 0.0;
    for (int i = 0; i < kMacroSlots; ++i) RunPadMacro(i);
    TickMacros();
    // Sixteen glides: every deck's four strip values, which never end within the run.
    RunningMacro scratch;
    for (int d = 0; d < 4; ++d) {
      scratch.deck = d;
      for (const wchar_t* step : {L"volume 20 over 1000 s", L"gain 20 over 1000 s", L"filter 20 over 1000 s",
                                  L"eq low 20 over 1000 s"})
        RunMacroCommand(scratch, ParseMacro(step)[0]);
    }
    state.ResumeTiming();
    for (int n = 0; n < 100; ++n) {
      BenchNow += 0.016;
      TickMacros();
    }
  }
  state.counters["us_per_tick"] = benchmark::Counter(static_cast<double>(state.iterations() * 100),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
                                                     benchmark::Counter::kIs1000);
  state.counters["glides"] = static_cast<double>(ValueGlides.size());
  state.counters["macros"] = static_cast<double>(RunningMacros.size());
  ClearMacros();
  MacroClockHook = MonotonicSeconds;
}

void BM_MacrosPanelFrame(benchmark::State& state) {
  TestMode = true;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    for (int d = 0; d < 2; ++d) {
      auto track = std::make_shared<Track>();
      track->frames = 240ull * 44100;
      track->waveform.resize(240 * 150 + 1);
      Engine.decks[d].track = track;
      Engine.decks[d].playing = true;
    }
  }
  SetFramePresenter(nullptr);
  MacrosPanelOpen = true;
  const FrameWindow window{kWidth, kHeight, false, 1.0f};
  DriveFrame(window);
  std::vector<double> ms;
  for (auto _ : state) {
    const double start = ThreadSeconds();
    DriveFrame(window);
    const double seconds = ThreadSeconds() - start;
    state.SetIterationTime(seconds);
    ms.push_back(seconds * 1e3);
  }
  // The panel's own part: the overlay drawn alone on a cleared frame.
  double panel = 0.0;
  for (int i = 0; i < kFrames; ++i) {
    BeginDraw();
    Clear(ColorOf(Pal.Background));
    const double start = ThreadSeconds();
    DrawMacros();
    panel += ThreadSeconds() - start;
    EndFrame();
  }
  state.counters["panel_alone_ms"] = panel / kFrames * 1e3;
  MacrosPanelOpen = false;
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
}

}  // namespace

BENCHMARK(BM_DecodeTimecode);
BENCHMARK(BM_TickMacros)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MacrosPanelFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(kFrames);
