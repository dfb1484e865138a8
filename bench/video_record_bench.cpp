// The MP4 recorder's and the live-video worker's costs:
// - a second of MP4 (30 frames converted to NV12 and encoded as H.264, a second of AAC, all muxed
//   into a file) at 720 lines / 6 Mbit/s and 1080 lines / 12 Mbit/s, with the encoder's own
//   threads (wall time) and on one core; "realtime_fraction" below 1 keeps up;
// - the index written in front of the media at the end, per GB of media;
// - how long StopVideoRecording holds the UI thread (the encoder thread finishes the file);
// - the live worker's own work for a second on air, encoders and publisher aside (those are in
//   video_encode_bench and rtmp_bench): the tap read, resampling and 16-bit conversion, and the
//   NV12 conversion of 30 frames.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "broadcast/tap_audio.h"
#include "broadcast/video_encoders.h"
#include "broadcast/video_record.h"
#include "engine/engine.h"
#include "engine/spsc_ring.h"
#include "platform/clock.h"
#include "platform/mp4_file.h"
#include "platform/text.h"

namespace {

constexpr int kFps = 30;
constexpr int kAudioRate = 48000;
constexpr int kDistinctFrames = 30;

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string(name) + "-" + std::to_string(::getpid()) + ".mp4"))
      .string();
}

std::vector<uint32_t> MovingPicture(int width, int height, int index) {
  std::vector<uint32_t> bgra(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint32_t r = (x + index * 8) & 255, g = (y + index * 3) & 255, b = ((x ^ y) + index * 5) & 255;
      bgra[static_cast<size_t>(y) * width + x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
  return bgra;
}

// One iteration: one second of MP4. Arguments: height, encoder threads (0: its own).
void BM_Mp4SecondOfVideo(benchmark::State& state) {
  const int height = static_cast<int>(state.range(0));
  const int width = height >= 1080 ? 1920 : 1280;
  std::vector<std::vector<uint32_t>> pictures;
  for (int i = 0; i < kDistinctFrames; ++i) pictures.push_back(MovingPicture(width, height, i));
  H264TransformSettings settings;
  settings.width = width;
  settings.height = height;
  settings.kbps = height >= 1080 ? kRecordKbps1080 : kRecordKbps720;
  settings.threads = static_cast<int>(state.range(1));
  settings.globalHeader = true;
  settings.lowLatency = state.range(2) != 0;
  TransformOpenFailure failure;
  int code = 0;
  Encoder video, audio;
  video.transform = OpenH264Transform(settings, &failure, &code);
  audio.transform = OpenAacTransform(kAudioRate, kRecordAudioKbps, &failure, &code);
  if (!video.transform || !audio.transform) {
    state.SkipWithError("the encoders are not available");
    return;
  }
  Mp4FileFormat format;
  format.width = width;
  format.height = height;
  format.videoKbps = settings.kbps;
  format.videoConfig = TransformCodecConfig(*video.transform);
  format.audioConfig = TransformCodecConfig(*audio.transform);
  format.audioPriming = TransformPrimingSamples(*audio.transform);
  const std::string path = TempPath("veldmix-bench-mp4");
  std::wstring detail;
  Mp4FilePtr file = OpenMp4File(Utf8ToWide(path), format, &code, &detail);
  if (!file) {
    state.SkipWithError("cannot create the file");
    return;
  }
  const SampleCallback toVideo = [&](const EncodedSample& s) { return Mp4WriteVideo(*file, s); };
  const SampleCallback toAudio = [&](const EncodedSample& s) { return Mp4WriteAudio(*file, s); };
  std::vector<uint8_t> nv12(Nv12Size(width, height));
  std::vector<int16_t> pcm(static_cast<size_t>(kAudioRate) / kFps * 2);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(8000 * std::sin(i * 0.05));
  int64_t frame = 0;
  for (auto _ : state) {
    for (int f = 0; f < kFps; ++f, ++frame) {
      ConvertToNv12(pictures[static_cast<size_t>(frame % kDistinctFrames)].data(), width, height, nv12.data());
      EncodeInput(video, nv12.data(), nv12.size(), frame * kTicksPerSecond / kFps, kTicksPerSecond / kFps, toVideo);
      EncodeInput(audio, reinterpret_cast<const uint8_t*>(pcm.data()), pcm.size() * 2, frame * kTicksPerSecond / kFps,
                  kTicksPerSecond / kFps, toAudio);
    }
  }
  state.counters["realtime_fraction"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  file.reset();  // unfinished: the temporary file goes
}
BENCHMARK(BM_Mp4SecondOfVideo)->ArgNames({"height", "threads", "lowlatency"})
    ->Args({720, 0, 1})->Args({1080, 0, 1})->Args({720, 0, 0})->Args({1080, 0, 0})->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_Mp4SecondOfVideo)->ArgNames({"height", "threads", "lowlatency"})
    ->Args({720, 1, 0})->Args({1080, 1, 0})->Unit(benchmark::kMillisecond)->MinTime(3.0);

// One iteration: finishing a file of about 256 MB of media (the index moved in front of it, the
// flush and the rename). "ms_per_gb" scales it.
void BM_Mp4FinishPerGB(benchmark::State& state) {
  constexpr size_t kPacketBytes = 1 << 20;
  constexpr int kPackets = 256;
  std::vector<uint8_t> packet(kPacketBytes, 0xAA);
  packet[0] = packet[1] = packet[2] = 0;
  packet[3] = 1;
  packet[4] = 0x65;
  Mp4FileFormat format;
  // A minimal SPS and PPS in Annex B form: the muxer only copies them into the index.
  format.videoConfig = {0, 0, 0, 1, 0x67, 0x4D, 0x40, 0x1F, 0xAA, 0, 0, 0, 1, 0x68, 0xEE, 0x3C, 0x80};
  format.audioConfig = {0x11, 0x90};
  const std::string path = TempPath("veldmix-bench-faststart");
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    int code = 0;
    std::wstring detail;
    Mp4FilePtr file = OpenMp4File(Utf8ToWide(path), format, &code, &detail);
    for (int i = 0; file && i < kPackets; ++i) {
      EncodedSample s;
      s.data = packet;
      s.time = s.decodeTime = i * kTicksPerSecond / kFps;
      s.duration = kTicksPerSecond / kFps;
      s.keyFrame = true;
      Mp4WriteVideo(*file, s);
    }
    state.ResumeTiming();
    const double start = MonotonicSeconds();
    if (!file || !FinishMp4File(*file, &detail)) state.SkipWithError("the file could not be finished");
    seconds += MonotonicSeconds() - start;
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
  }
  state.counters["ms_per_gb"] = 1000.0 * seconds / static_cast<double>(state.iterations()) *
                                (1024.0 * 1024 * 1024 / (kPackets * static_cast<double>(kPacketBytes)));
}
BENCHMARK(BM_Mp4FinishPerGB)->Unit(benchmark::kMillisecond)->Iterations(3);

bool BenchPicture(int width, int height, std::vector<uint32_t>& pixels) {
  pixels.assign(static_cast<size_t>(width) * height, 0xFF406080);
  return true;
}

// One iteration: StopVideoRecording on a recording holding a second of sound and video that the
// encoder thread has not written yet; only the call is timed.
void BM_StopVideoRecordingWait(benchmark::State& state) {
  PublishOutputStarted(Engine, kAudioRate);
  SetVideoMixSource(BenchPicture);
  const std::string path = TempPath("veldmix-bench-stop");
  std::vector<float> second(static_cast<size_t>(kAudioRate) * 2, 0.1f);
  for (auto _ : state) {
    state.PauseTiming();
    UiText error;
    if (!StartVideoRecording(Utf8ToWide(path), 720, &error)) {
      state.SkipWithError("the recording would not start");
      break;
    }
    RingWrite(Engine.videoRecordRing, second.data(), kAudioRate / 2);
    CaptureRecordFrame();
    state.ResumeTiming();
    StopVideoRecording();
    state.PauseTiming();
    WaitForVideoRecording();
    state.ResumeTiming();
  }
  SetVideoMixSource(nullptr);
  PublishOutputStopped(Engine);
  std::filesystem::remove(path);
}
BENCHMARK(BM_StopVideoRecordingWait)->Unit(benchmark::kMicrosecond)->Iterations(5);

// One iteration: the live worker's own work for one second on air at a master rate (argument).
void BM_LiveWorkerSecondAsideFromEncoders(benchmark::State& state) {
  const auto masterRate = static_cast<int32_t>(state.range(0));
  const int32_t outRate = LiveAudioRate(masterRate);
  constexpr int kWidth = 1280, kHeight = 720, kBlock = 1024;
  SpscRing ring;
  RingResize(ring, static_cast<uint64_t>(masterRate) * 2);
  std::vector<float> second(static_cast<size_t>(masterRate) * 2);
  for (size_t i = 0; i < second.size(); ++i) second[i] = 0.3f * static_cast<float>(std::sin(i * 0.01));
  TapResampler resampler;
  ResetTapResampler(resampler, masterRate, outRate);
  std::vector<float> block(kBlock * 2);
  std::vector<int16_t> pcm(TapResampleCapacity(resampler, kBlock) * 2);
  const auto picture = MovingPicture(kWidth, kHeight, 0);
  std::vector<uint8_t> nv12(Nv12Size(kWidth, kHeight));
  for (auto _ : state) {
    state.PauseTiming();
    RingWrite(ring, second.data(), static_cast<uint64_t>(masterRate));
    state.ResumeTiming();
    while (const uint64_t n = RingRead(ring, block.data(), kBlock)) {
      benchmark::DoNotOptimize(TapBlockToPcm(resampler, block.data(), n, pcm.data()));
    }
    for (int f = 0; f < kFps; ++f) ConvertToNv12(picture.data(), kWidth, kHeight, nv12.data());
    benchmark::DoNotOptimize(nv12.data());
  }
}
BENCHMARK(BM_LiveWorkerSecondAsideFromEncoders)->ArgName("rate")->Arg(48000)->Arg(96000)->Unit(benchmark::kMillisecond);

}  // namespace
