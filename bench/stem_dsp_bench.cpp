// The stem path's own signal processing per minute of stereo audio: resampling to and from the
// models' 44.1 kHz, and each model's chunked STFT and inverse with the model left out (a model run
// that does nothing). One iteration is one minute of audio.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <vector>

#include "engine/stem_dsp.h"
#include "engine/stems.h"
#include "engine/wav_file.h"

namespace {

constexpr int32_t kModelRate = kStemModelRateHz;
constexpr int32_t kOtherRate = 48000;
constexpr int kSeconds = 60;

std::vector<float> Minute(int32_t rate) {
  const uint64_t frames = uint64_t(kSeconds) * rate;
  std::vector<float> v(2 * frames);
  for (uint64_t i = 0; i < frames; ++i) {
    const double t = double(i) / rate;
    v[2 * i] = static_cast<float>(0.4 * std::sin(2 * std::numbers::pi * 220 * t));
    v[2 * i + 1] = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 330 * t));
  }
  return v;
}

bool NoModel(const float*, float*) { return true; }

void BM_DemixWithoutModel(benchmark::State& state) {
  const StemModel& model = kStemModels[state.range(0)];
  const std::vector<float> input = Minute(kModelRate);
  const uint64_t frames = input.size() / 2;
  std::atomic<bool> cancel{false};
  std::vector<float> out;
  for (auto _ : state) {
    StemDsp::Demix(model.geometry, input.data(), frames, NoModel, cancel, {}, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(std::string(model.file, model.file + std::wcslen(model.file)) + ", per minute");
}

void BM_Resample(benchmark::State& state) {
  const int32_t from = static_cast<int32_t>(state.range(0)), to = static_cast<int32_t>(state.range(1));
  const std::vector<float> input = Minute(from);
  const uint64_t frames = input.size() / 2;
  const uint64_t outFrames = uint64_t(kSeconds) * to;
  for (auto _ : state) {
    std::vector<float> out = StemDsp::Resample(input.data(), frames, from, to, outFrames);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel("per minute");
}

// Everything SeparateStems does around the three model runs for a 48 kHz track.
void BM_WholeStemPathWithoutModels48k(benchmark::State& state) {
  const std::vector<float> track = Minute(kOtherRate);
  const uint64_t frames = track.size() / 2;
  const uint64_t frames44 = uint64_t(kSeconds) * kModelRate;
  std::atomic<bool> cancel{false};
  std::vector<float> separated;
  std::vector<int16_t> stem(2 * frames);
  for (auto _ : state) {
    const std::vector<float> input = StemDsp::Resample(track.data(), frames, kOtherRate, kModelRate, frames44);
    for (const StemModel& model : kStemModels) {
      StemDsp::Demix(model.geometry, input.data(), frames44, NoModel, cancel, {}, separated);
      const std::vector<float> back = StemDsp::Resample(separated.data(), frames44, kModelRate, kOtherRate, frames);
      for (uint64_t k = 0; k < 2 * frames; ++k) stem[k] = WavSampleFromFloat(back[k]);
      benchmark::DoNotOptimize(stem.data());
    }
  }
  state.SetLabel("per minute, 3 models");
}

void BM_ComplexFft(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<float> re(n), im(n);
  for (size_t k = 0; k < n; ++k) re[k] = static_cast<float>(std::sin(0.01 * k));
  for (auto _ : state) {
    StemDsp::ComplexFft(re, im, false);
    StemDsp::ComplexFft(re, im, true);
    for (size_t k = 0; k < n; ++k) {
      re[k] /= n;
      im[k] /= n;
    }
    benchmark::DoNotOptimize(re.data());
  }
  state.SetItemsProcessed(state.iterations() * 2);
}

}  // namespace

BENCHMARK(BM_DemixWithoutModel)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Resample)->Args({kOtherRate, kModelRate})->Args({kModelRate, kOtherRate})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WholeStemPathWithoutModels48k)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ComplexFft)->Arg(4096)->Arg(6144)->Arg(16384)->Unit(benchmark::kMicrosecond);
