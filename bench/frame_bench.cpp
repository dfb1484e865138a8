// Speed of the frame driver on the main screen at 1920 x 1080 off-screen, two decks playing, the
// glow pass on (the status line glows), no presenter. The "main screen" is what Frame draws today:
// the backdrop, the overlays and the status line; the panels join it as they are built, and these
// figures grow with them. Times are the drawing thread's CPU time, so that other work on a shared
// machine does not count.
//   BM_MainScreenFrame: DriveFrame whole; median and p95 of the frames.
//   BM_MainScreenSplit: the same work in its parts: the tick, the drawing (without the tick) and
//   the end of the frame (glow pass, overlays).
//   BM_PointerMoves: what a pointer moving over a resting screen costs per move.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

#include "app/frame_tick.h"
#include "base/palette.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "engine/control_input.h"
#include "engine/engine.h"
#include "screens/main_screen.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/status_line.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kRate = 44100;
constexpr double kTrackSeconds = 240.0;
constexpr int kWavePointsPerSecond = 150;
constexpr double kFrameSeconds = 0.015;
constexpr int kStatusMs = 60 * 60 * 1000;  // stays up for the whole run
constexpr int kFrames = 300;

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

TrackPtr SyntheticTrack(double bpm) {
  auto track = std::make_shared<Track>();
  track->sampleRate = kRate;
  track->frames = static_cast<uint64_t>(kTrackSeconds * kRate);
  track->bpm = bpm;
  track->waveform.resize(static_cast<size_t>(kTrackSeconds * kWavePointsPerSecond) + 1);
  for (size_t i = 0; i < track->waveform.size(); ++i)
    track->waveform[i] = WavePoint{static_cast<uint8_t>(i * 7), static_cast<uint8_t>(i * 3), static_cast<uint8_t>(i)};
  return track;
}

// Two decks playing, a status message up; nothing the tick does is saved.
void SetUpScreen() {
  TestMode = true;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].track = SyntheticTrack(124.0);
    Engine.decks[1].track = SyntheticTrack(126.0);
    Engine.decks[0].playing = Engine.decks[1].playing = true;
  }
  ShowStatus(L"Deck A is playing \u2014 pause it before loading", kStatusMs);
  SetFramePresenter(nullptr);
}

// What the output thread does between frames: the decks move on, the meters see peaks.
void AdvanceDecks() {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  for (int d = 0; d < 2; ++d) {
    Engine.decks[d].position += kFrameSeconds * kRate;
    Engine.decks[d].peak.store(0.6f);
  }
  Engine.masterPeakL.store(0.7f);
  Engine.masterPeakR.store(0.7f);
}

void ReportSpread(benchmark::State& state, std::vector<double> ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
}

void BM_MainScreenFrame(benchmark::State& state) {
  SetUpScreen();
  const FrameWindow window{kWidth, kHeight, false, 1.0f};
  DriveFrame(window);  // the device and the caches are made outside the timing
  std::vector<double> ms;
  for (auto _ : state) {
    AdvanceDecks();
    const double start = ThreadSeconds();
    DriveFrame(window);
    const double seconds = ThreadSeconds() - start;
    state.SetIterationTime(seconds);
    ms.push_back(seconds * 1e3);
  }
  ReportSpread(state, std::move(ms));
}

void BM_MainScreenSplit(benchmark::State& state) {
  SetUpScreen();
  DriveFrame(FrameWindow{kWidth, kHeight, false, 1.0f});
  double tick = 0, draw = 0, end = 0;
  std::vector<double> ms;
  for (auto _ : state) {
    AdvanceDecks();
    const double t0 = ThreadSeconds();
    AppTick();
    const double t1 = ThreadSeconds();
    ResetGlowLayer();
    BeginDraw();
    Clear(ColorOf(Pal.Background));
    DrawMainScreen();
    const double t2 = ThreadSeconds();
    EndFrame();
    const double t3 = ThreadSeconds();
    tick += t1 - t0;
    draw += t2 - t1;
    end += t3 - t2;
    state.SetIterationTime(t3 - t0);
    ms.push_back((t3 - t0) * 1e3);
  }
  const double frames = static_cast<double>(std::max<int64_t>(state.iterations(), 1));
  state.counters["tick_ms"] = tick / frames * 1e3;
  state.counters["draw_ms"] = std::max(draw, 0.0) / frames * 1e3;
  state.counters["end_ms"] = end / frames * 1e3;
  ReportSpread(state, std::move(ms));
}

// A pointer moved across a resting screen (both decks loaded and paused, nothing animating), ten
// moves a second as the message loop hands them over, each followed by the frames of its 100 ms.
// Counters: the frames drawn per move and the drawing thread's CPU ms per move.
void BM_PointerMoves(benchmark::State& state) {
  SetUpScreen();
  Status = StatusLine{};
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].playing = Engine.decks[1].playing = false;
  }
  const FrameWindow window{kWidth, kHeight, false, 1.0f};
  constexpr int kFramesPerMove = 7;
  for (int i = 0; i < 200; ++i) DriveFrame(window, FrameAsk::Timer);  // the pulses settle
  const uint64_t drawnBefore = DrawnFrameCount();
  int move = 0;
  for (auto _ : state) {
    const double start = ThreadSeconds();
    NoteWindowEvent(WindowEventKind::MouseMove);
    Input.x = 40.0f + static_cast<float>(move++ % 2) * 3.0f, Input.y = kHeight * 0.5f;
    for (int f = 0; f < kFramesPerMove; ++f) DriveFrame(window, FrameAsk::Timer);
    state.SetIterationTime(ThreadSeconds() - start);
  }
  const double moves = static_cast<double>(std::max<int64_t>(state.iterations(), 1));
  state.counters["frames_per_move"] = static_cast<double>(DrawnFrameCount() - drawnBefore) / moves;
}

}  // namespace

BENCHMARK(BM_PointerMoves)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(60);
BENCHMARK(BM_MainScreenFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(kFrames);
BENCHMARK(BM_MainScreenSplit)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(kFrames);
