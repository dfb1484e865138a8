// RenderMix cost per 10 ms period at 48 kHz. The "x_realtime" counter is seconds of audio
// rendered per second of CPU: how many times faster than the device consumes it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "engine/engine.h"
#include "engine/render.h"
#include "engine/stems.h"

namespace {

constexpr int kRate = 48000;
constexpr int kPeriodFrames = 480;
constexpr int kTrackRate = 44100;  // the common file rate, so every read interpolates
constexpr double kTrackSeconds = 60.0;

// A minute of something with a kick, a tone and hiss, shared by every deck.
TrackPtr BenchTrack() {
  static TrackPtr track = [] {
    auto t = std::make_shared<Track>();
    t->sampleRate = kTrackRate;
    t->frames = static_cast<uint64_t>(kTrackSeconds * kTrackRate);
    t->samples.resize(t->frames * 2);
    uint32_t noise = 1;
    for (uint64_t i = 0; i < t->frames; ++i) {
      const double s = static_cast<double>(i) / kTrackRate;
      noise = noise * 1664525u + 1013904223u;
      const float hiss = static_cast<float>(noise >> 8) / 16777216.0f - 0.5f;
      const float v = 0.4f * static_cast<float>(std::sin(2 * M_PI * 55 * s) * std::exp(-10 * std::fmod(s, 0.5))) +
                      0.1f * static_cast<float>(std::sin(2 * M_PI * 440 * s)) + 0.04f * hiss;
      t->samples[2 * i] = v;
      t->samples[2 * i + 1] = 0.8f * v;
    }
    return TrackPtr(t);
  }();
  return track;
}

// Stems of the bench track: parts of the mix, as 16-bit values.
StemDataPtr BenchStems() {
  static StemDataPtr stems = [] {
    const TrackPtr track = BenchTrack();
    auto s = std::make_shared<StemData>();
    s->track = track.get();
    s->frames = track->frames;
    for (auto* stem : {&s->vocals, &s->drums, &s->bass}) stem->resize(track->frames * 2);
    for (size_t i = 0; i < track->frames * 2; ++i) {
      const float v = track->samples[i] * 32767.0f;
      s->vocals[i] = static_cast<int16_t>(0.3f * v);
      s->drums[i] = static_cast<int16_t>(0.4f * v);
      s->bass[i] = static_cast<int16_t>(0.2f * v);
    }
    return StemDataPtr(s);
  }();
  return stems;
}

enum class StemUse { None, VocalsOut, EffectsOnDrumsKickOut };

void RunMix(benchmark::State& state, int decks, bool heavy, StemUse stems = StemUse::None) {
  auto engine = std::make_unique<AudioEngine>();
  PrepareRenderBuffers(*engine, kPeriodFrames, kRate);
  for (int d = 0; d < decks; ++d) {
    DeckState& deck = engine->decks[d];
    deck.track = BenchTrack();
    deck.playing = true;
    deck.position = 20000.0 * d;
    deck.xfAssign = d % 2 == 0 ? 0 : 2;
    if (heavy) {
      deck.tempo = 0.06f;
      deck.keyLock = true;
      deck.fxMask = EffectBit(kFxEcho) | EffectBit(kFxReverb);
    }
    if (stems != StemUse::None) {
      deck.stems = BenchStems();
      deck.stemGain[0].store(0.0f);
      deck.stemGainNow[0] = 0.0f;
    }
    if (stems == StemUse::EffectsOnDrumsKickOut) {
      deck.stemFxTarget = 1;
      deck.kickTarget = 0.0f;
    }
  }
  std::vector<float> out(2 * kPeriodFrames);
  for (auto _ : state) {
    RenderMix(*engine, out.data(), kPeriodFrames, kRate);
    benchmark::DoNotOptimize(out.data());
    // A long run must not stop at the end of the track.
    for (int d = 0; d < decks; ++d)
      if (engine->decks[d].position > kTrackRate * (kTrackSeconds - 2)) engine->decks[d].position = 0.0;
  }
  state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(kPeriodFrames) / kRate,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}

void BM_RenderMixFourDecksKeyLockTwoEffects(benchmark::State& state) { RunMix(state, 4, true); }
// Stems on every deck: the vocals removed (every read takes the mix and three stems).
void BM_RenderMixFourDecksStemsKeyLockTwoEffects(benchmark::State& state) {
  RunMix(state, 4, true, StemUse::VocalsOut);
}
// The heaviest stem path: a second read for the effects on the drums and a third for KICK.
void BM_RenderMixFourDecksStemsEffectsOnDrumsKickOut(benchmark::State& state) {
  RunMix(state, 4, true, StemUse::EffectsOnDrumsKickOut);
}
void BM_RenderMixOneDeckPlain(benchmark::State& state) { RunMix(state, 1, false); }
void BM_RenderMixFourDecksPlain(benchmark::State& state) { RunMix(state, 4, false); }

BENCHMARK(BM_RenderMixFourDecksKeyLockTwoEffects);
BENCHMARK(BM_RenderMixFourDecksStemsKeyLockTwoEffects);
BENCHMARK(BM_RenderMixFourDecksStemsEffectsOnDrumsKickOut);
BENCHMARK(BM_RenderMixOneDeckPlain);
BENCHMARK(BM_RenderMixFourDecksPlain);

}  // namespace
