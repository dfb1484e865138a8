#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>

#include "engine/analysis.h"
#include "engine/phrases.h"

namespace {

constexpr int32_t kRate = 44100;
constexpr double kBpm = 124.0;
constexpr int kSecondsPerMinute = 60;

// One minute of a music-like signal: an A minor chord, a decaying kick on every beat and
// hashed noise hats between them; deterministic so every run times the same work.
Track OneMinuteOfMusic() {
  Track track;
  track.sampleRate = kRate;
  track.frames = static_cast<uint64_t>(kRate) * kSecondsPerMinute;
  track.samples.resize(2 * track.frames);
  const double beat_s = 60.0 / kBpm;
  uint32_t hash = 1;
  for (uint64_t f = 0; f < track.frames; ++f) {
    const double t = static_cast<double>(f) / kRate;
    const double in_beat = std::fmod(t, beat_s);
    hash = hash * 1664525u + 1013904223u;
    const double noise = (static_cast<double>(hash >> 8) / (1u << 24) - 0.5);
    double v = 0.1 * (std::sin(2 * std::numbers::pi * 220.0 * t) + std::sin(2 * std::numbers::pi * 261.63 * t) +
                      std::sin(2 * std::numbers::pi * 329.63 * t));
    v += 0.6 * std::exp(-in_beat * 30.0) * std::sin(2 * std::numbers::pi * 55.0 * in_beat);
    if (std::fabs(in_beat - beat_s / 2) < 0.02) v += 0.2 * noise;
    track.samples[2 * f] = static_cast<float>(v);
    track.samples[2 * f + 1] = static_cast<float>(v);
  }
  return track;
}

// The whole analysis a track gets on load, plus its phrases: one iteration = one minute of audio.
void BM_FullAnalysisPerMinute(benchmark::State& state) {
  Track track = OneMinuteOfMusic();
  for (auto _ : state) {
    AnalyzeTrack(track);
    benchmark::DoNotOptimize(AnalyzePhrases(track));
  }
}
BENCHMARK(BM_FullAnalysisPerMinute)->Unit(benchmark::kMillisecond);

void BM_BandSplitPerMinute(benchmark::State& state) {
  const Track track = OneMinuteOfMusic();
  for (auto _ : state) benchmark::DoNotOptimize(SplitBands(track));
}
BENCHMARK(BM_BandSplitPerMinute)->Unit(benchmark::kMillisecond);

// What the whole analysis runs: the band split and the decimated mix from one read of the samples.
void BM_BandSplitAndMixPerMinute(benchmark::State& state) {
  const Track track = OneMinuteOfMusic();
  for (auto _ : state) {
    DecimatedMix mix;
    benchmark::DoNotOptimize(SplitBands(track, &mix));
    benchmark::DoNotOptimize(mix);
  }
}
BENCHMARK(BM_BandSplitAndMixPerMinute)->Unit(benchmark::kMillisecond);

// The key and onset steps below each include this; a whole analysis decimates once for both.
void BM_DecimatePerMinute(benchmark::State& state) {
  const Track track = OneMinuteOfMusic();
  for (auto _ : state) benchmark::DoNotOptimize(DecimateMix(track));
}
BENCHMARK(BM_DecimatePerMinute)->Unit(benchmark::kMillisecond);

void BM_KeyPerMinute(benchmark::State& state) {
  const Track track = OneMinuteOfMusic();
  for (auto _ : state) benchmark::DoNotOptimize(DetectKey(track));
}
BENCHMARK(BM_KeyPerMinute)->Unit(benchmark::kMillisecond);

void BM_OnsetsPerMinute(benchmark::State& state) {
  const Track track = OneMinuteOfMusic();
  for (auto _ : state) benchmark::DoNotOptimize(SpectralOnsets(track));
}
BENCHMARK(BM_OnsetsPerMinute)->Unit(benchmark::kMillisecond);

void BM_TempoPerMinute(benchmark::State& state) {
  const Track track = OneMinuteOfMusic();
  const OnsetBands onsets = SpectralOnsets(track);
  for (auto _ : state) benchmark::DoNotOptimize(EstimateTempo(onsets));
}
BENCHMARK(BM_TempoPerMinute)->Unit(benchmark::kMillisecond);

}  // namespace
