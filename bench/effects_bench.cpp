// Per-period cost of the DSP blocks at 48 kHz with 480-frame (10 ms) periods.
#include <benchmark/benchmark.h>

#include <algorithm>

#include <cmath>
#include <numbers>
#include <vector>

#include "engine/effects.h"
#include "engine/key_lock.h"

namespace {

constexpr int kRate = 48000;
constexpr int kPeriodFrames = 480;

void RunEffectUnit(benchmark::State& state, uint32_t mask) {
  EffectUnit unit;
  PrepareEffectUnit(unit, kRate);
  float amounts[kEffectCount], params[kEffectCount];
  for (int i = 0; i < kEffectCount; ++i) {
    amounts[i] = 0.5f;
    params[i] = kEffects[i].defaultBeats;
  }
  std::vector<float> block(2 * kPeriodFrames);
  double beat = 0.0;
  int64_t frame = 0;
  for (auto _ : state) {
    for (int i = 0; i < kPeriodFrames; ++i, ++frame) {
      block[2 * i] = block[2 * i + 1] = 0.5f * static_cast<float>(std::sin(frame * 0.0576));
    }
    UpdateEffectUnit(unit, mask, amounts, params, 0.5, kRate);
    for (int i = 0; i < kPeriodFrames; ++i) {
      ProcessEffectUnit(unit, block[2 * i], block[2 * i + 1], beat);
      beat += 1.0 / (kRate * 0.5);
    }
    benchmark::DoNotOptimize(block.data());
  }
  state.SetItemsProcessed(state.iterations() * kPeriodFrames);
}

void BM_EffectUnitIdle(benchmark::State& state) { RunEffectUnit(state, 0); }
void BM_EffectUnitEchoAndReverb(benchmark::State& state) {
  RunEffectUnit(state, EffectBit(kFxEcho) | EffectBit(kFxReverb));
}
void BM_EffectUnitFlangerAndPhaser(benchmark::State& state) {
  RunEffectUnit(state, EffectBit(kFxFlanger) | EffectBit(kFxPhaser));
}

void BM_StretchBlockKeyLock(benchmark::State& state) {
  Track track;
  track.sampleRate = kRate;
  track.frames = 60 * kRate;
  track.samples.resize(2 * track.frames);
  for (uint64_t i = 0; i < track.frames; ++i) {
    const double phase = 2.0 * std::numbers::pi * 440.0 * static_cast<double>(i) / kRate;
    track.samples[2 * i] = track.samples[2 * i + 1] = 0.5f * static_cast<float>(std::sin(phase));
  }
  ReadSources sources;
  sources.mix = track.samples.data();
  sources.frames = static_cast<int64_t>(track.frames);
  StretchState stretch;
  double position = 0.0;
  float out[kPeriodFrames][2];
  for (auto _ : state) {
    for (int i = 0; i < kPeriodFrames;) {
      const int count = std::min(StretchRunLength(stretch), kPeriodFrames - i);
      StretchBlock(stretch, track, sources, position, 1.0, 1.08, count, out[i]);
      position += 1.08 * count;
      if (position > track.frames - kRate) position = 0.0;
      i += count;
    }
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations() * kPeriodFrames);
}

}  // namespace

BENCHMARK(BM_EffectUnitIdle);
BENCHMARK(BM_EffectUnitEchoAndReverb);
BENCHMARK(BM_EffectUnitFlangerAndPhaser);
BENCHMARK(BM_StretchBlockKeyLock);
