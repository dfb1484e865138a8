// Live-video encoding cost on one core: H.264 at 1280 x 720, 30 frames per second, 3500 kbit/s,
// and the BGRA to NV12 conversion in front of it. "realtime_fraction" is the share of one core's
// time that a second of live video needs (below 1 keeps up).
#include <benchmark/benchmark.h>

#include <vector>

#include "broadcast/video_encoders.h"
#include "platform/video_encode.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kKbps = 3500;
constexpr int kDistinctFrames = 30;  // one second of motion, looped

std::vector<uint32_t> MovingPicture(int index) {
  std::vector<uint32_t> bgra(static_cast<size_t>(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const uint32_t r = (x + index * 8) & 255, g = (y + index * 3) & 255,
                     b = ((x ^ y) + index * 5) & 255;
      bgra[static_cast<size_t>(y) * kWidth + x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
  return bgra;
}

void RealTimeCounters(benchmark::State& state) {
  state.counters["realtime_fraction"] = benchmark::Counter(
      static_cast<double>(state.iterations()) / kLiveVideoFps,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_H264Encode720p30OneCore(benchmark::State& state) {
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < kDistinctFrames; ++i) {
    const auto bgra = MovingPicture(i);
    frames.emplace_back(Nv12Size(kWidth, kHeight));
    ConvertToNv12(bgra.data(), kWidth, kHeight, frames.back().data());
  }
  H264TransformSettings settings;
  settings.width = kWidth;
  settings.height = kHeight;
  settings.kbps = kKbps;
  settings.threads = 1;
  TransformOpenFailure failure;
  int code = 0;
  EncoderTransformPtr transform = OpenH264Transform(settings, &failure, &code);
  if (!transform) {
    state.SkipWithError("libx264 is not available");
    return;
  }
  int64_t index = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    const auto& frame = frames[static_cast<size_t>(index % kDistinctFrames)];
    TransformProcessInput(*transform, frame.data(), frame.size(), index * kVideoFrameTicks, kVideoFrameTicks);
    EncodedSample sample;
    while (TransformProcessOutput(*transform, &sample) == TransformOutput::kSample) bytes += sample.data.size();
    ++index;
  }
  RealTimeCounters(state);
  state.counters["kbit_per_s"] = benchmark::Counter(
      static_cast<double>(bytes) * 8 / 1000 / (static_cast<double>(index) / kLiveVideoFps));
}
BENCHMARK(BM_H264Encode720p30OneCore)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_ConvertToNv12_720p(benchmark::State& state) {
  const auto bgra = MovingPicture(0);
  std::vector<uint8_t> nv12(Nv12Size(kWidth, kHeight));
  for (auto _ : state) {
    ConvertToNv12(bgra.data(), kWidth, kHeight, nv12.data());
    benchmark::DoNotOptimize(nv12.data());
  }
  RealTimeCounters(state);
}
BENCHMARK(BM_ConvertToNv12_720p)->Unit(benchmark::kMillisecond);

}  // namespace
