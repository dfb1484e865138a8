#include <benchmark/benchmark.h>

#include <cmath>

#include "base/beat_grid.h"

namespace {

constexpr int kMarkers = 200;

// A bent grid of 200 markers, one every 8 beats around 124 BPM with a slow wobble.
Track BentTrack() {
  Track track;
  track.bpm = 124.0;
  track.firstBeat = 0.31;
  double seconds = track.firstBeat;
  for (int i = 1; i <= kMarkers; ++i) {
    seconds += 8 * (60.0 / 124.0) * (1.0 + 0.01 * std::sin(i * 0.3));
    track.tempoMarkers.push_back({8.0 * i, seconds});
  }
  return track;
}

void BM_BeatAtTime200Markers(benchmark::State& state) {
  const Track track = BentTrack();
  double t = 0.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(BeatAtTime(track, t));
    t += 0.0137;  // walks the whole grid and past its end
    if (t > 800.0) t = -2.0;
  }
}
BENCHMARK(BM_BeatAtTime200Markers);

void BM_TimeAtBeat200Markers(benchmark::State& state) {
  const Track track = BentTrack();
  double b = 0.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TimeAtBeat(track, b));
    b += 0.029;
    if (b > 1700.0) b = -4.0;
  }
}
BENCHMARK(BM_TimeAtBeat200Markers);

}  // namespace
