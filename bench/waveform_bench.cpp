// Speed of the scrolling waveform lanes at 1920 wide: two lanes 66 high, then four lanes 32 high
// (the four-deck layout), each 1904 wide, decks playing on an analysed synthetic dance track
// (kick, hats, a chord, louder and quieter 32-beat blocks) with hot cues, memory cues, a loop and
// phrases. Times are the drawing thread's CPU time per frame.
//   BM_WaveformLanes/n: the lanes drawn (draw_ms) and the glow pass that ends the frame (end_ms);
//   the manual time is the two together, with median and p95 of the frames. /0 is the empty
//   frame (clear and frame end) to subtract.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>
#include <vector>

#include "base/palette.h"
#include "engine/analysis.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/phrases.h"
#include "screens/main_screen.h"
#include "screens/waveform.h"
#include "ui/draw.h"
#include "ui/glow.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kRate = 44100;
constexpr double kTrackSeconds = 90.0;
constexpr double kBpm = 124.0;
constexpr double kFrameSeconds = 0.015;
constexpr int kFrames = 400;
constexpr float kLaneX = 8, kLaneW = 1904;

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A kick on every beat, a noise hat on every off-beat and a quiet chord, with 32-beat blocks
// alternating loud and quiet; then the real analysis (waveform summary, tempo, key).
TrackPtr AnalysedDanceTrack() {
  auto track = std::make_shared<Track>();
  track->sampleRate = kRate;
  track->frames = static_cast<uint64_t>(kTrackSeconds * kRate);
  track->samples.resize(track->frames * 2);
  const double beat = 60.0 / kBpm;
  uint32_t noise = 12345;
  for (uint64_t i = 0; i < track->frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double inBeat = std::fmod(t, beat), inHalf = std::fmod(t + beat / 2, beat);
    const double block = std::fmod(std::floor(t / beat / 32), 2) == 0 ? 0.45 : 1.0;
    noise = noise * 1664525u + 1013904223u;
    const double white = static_cast<double>(noise >> 8) / (1 << 24) * 2 - 1;
    const double kick = std::sin(2 * M_PI * (45 + 60 * std::exp(-inBeat * 30)) * inBeat) * std::exp(-inBeat * 9);
    const double hat = white * std::exp(-inHalf * 60) * 0.35;
    const double chord = 0.08 * (std::sin(2 * M_PI * 220 * t) + std::sin(2 * M_PI * 277.2 * t) +
                                 std::sin(2 * M_PI * 329.6 * t));
    const float v = static_cast<float>(block * (0.7 * kick + hat + chord));
    track->samples[2 * i] = track->samples[2 * i + 1] = v;
  }
  AnalyzeTrack(*track);
  track->samples.clear();  // the lanes read only the summary
  return track;
}

void SetUpDecks(int decks) {
  static const TrackPtr track = AnalysedDanceTrack();
  for (int d = 0; d < decks; ++d) {
    DeckSnapshot& shot = DeckSnapshots[d];
    shot = DeckSnapshot{};
    shot.track = track;
    shot.playing = true;
    shot.position = (20.0 + 7.3 * d) * kRate;
    shot.cuePoint = 16.0 * kRate;
    for (int c = 0; c < 5; ++c) shot.hotCueStart[static_cast<size_t>(c)] = (18.0 + 2.5 * c + d) * kRate;
    shot.loopIn = 24.0 * kRate, shot.loopOut = 26.0 * kRate, shot.loopOn = d == 0;
    DeckView& view = LiveDeckViews[d];
    view.phrases = AnalyzePhrases(*track);
    view.memoryCues = {19.0, 23.0, 28.0};
    view.hotCueName[0] = L"Intro";
    view.hotCueName[2] = L"Vocal";
    BeatPulse[d] = 0.5f;
  }
}

void ReportSpread(benchmark::State& state, std::vector<double> ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
}

void BM_WaveformLanes(benchmark::State& state) {
  const int decks = static_cast<int>(state.range(0));
  const float laneH = decks == 4 ? 32.0f : 66.0f;
  SetUpDecks(decks);
  SetFramePresenter(nullptr);
  CreateDevice(kWidth, kHeight, 1.0f);
  const auto drawLanes = [&] {
    for (int d = 0; d < decks; ++d) DrawWaveform(d, Rc{kLaneX, 46 + (laneH + 2) * d, kLaneW, laneH});
  };
  double draw = 0, end = 0;
  std::vector<double> ms;
  for (auto _ : state) {
    for (int d = 0; d < decks; ++d) DeckSnapshots[d].position += kFrameSeconds * kRate;
    const double t0 = ThreadSeconds();
    ResetGlowLayer();
    BeginDraw();
    Clear(ColorOf(Pal.Background));
    drawLanes();
    const double t1 = ThreadSeconds();
    EndFrame();
    const double t2 = ThreadSeconds();
    draw += t1 - t0, end += t2 - t1;
    state.SetIterationTime(t2 - t0);
    ms.push_back((t2 - t0) * 1e3);
  }
  const double frames = static_cast<double>(std::max<int64_t>(state.iterations(), 1));
  state.counters["draw_ms"] = draw / frames * 1e3;
  state.counters["end_ms"] = end / frames * 1e3;
  ReportSpread(state, std::move(ms));
  ReleaseDevice();
  for (DeckSnapshot& shot : DeckSnapshots) shot = DeckSnapshot{};
  for (DeckView& view : LiveDeckViews) view = DeckView{};
}

}  // namespace

BENCHMARK(BM_WaveformLanes)->Arg(0)->Arg(2)->Arg(4)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(kFrames);
