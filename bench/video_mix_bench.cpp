// The video mix's costs on one core: one off-screen frame of RenderVideoFrame (two 1080p video
// sides mid-fade) at 960x540, 1280x720 and 1920x1080, plain and with each effect and transition,
// with unchanged frames and with new frames on both sides every time; and the player's
// decoding with conversion, as a multiple of real time ("realtime_x", above 1 keeps up), for a
// 1080p30 H.264 file and a 2160p one halved to 1080p.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "broadcast/video_compositor.h"
#include "broadcast/video_feed.h"
#include "platform/text.h"
#include "platform/video_reader.h"

namespace {

constexpr int kSourceWidth = 1920, kSourceHeight = 1080;

std::vector<uint32_t> Picture(int seed) {
  std::vector<uint32_t> p(static_cast<size_t>(kSourceWidth) * kSourceHeight);
  for (int y = 0; y < kSourceHeight; ++y)
    for (int x = 0; x < kSourceWidth; ++x) {
      const uint32_t r = (x + seed * 8) & 255, g = (y + seed * 3) & 255, b = ((x ^ y) + seed * 5) & 255;
      p[static_cast<size_t>(y) * kSourceWidth + x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
  return p;
}

// Both sides hold a 1080p frame and are equally loud: every transition is mid-way.
void SetUpMix(int transition, int effect) {
  for (int side = 0; side < 2; ++side) {
    VideoFeedEntry& e = PublishedVideoFeed.entries[side];
    e.path = side == 0 ? L"/bench/left.mp4" : L"/bench/right.mp4";
    e.title = L"Bench track";
    e.artist = L"Bench artist";
    e.level = 1.0f;
    VideoDeck& d = VideoDecks[side];
    d.hasVideo = true;
    d.frame = Picture(side);
    d.frameWidth = kSourceWidth;
    d.frameHeight = kSourceHeight;
    ++d.frameVersion;
  }
  PublishedVideoFeed.transition = transition;
  PublishedVideoFeed.effect = effect;
  PublishedVideoFeed.overlay = true;
  PublishedVideoFeed.beat = 10.1;
}

// Args: width, height, transition, effect.
void BM_RenderVideoFrame(benchmark::State& state) {
  SetUpMix(static_cast<int>(state.range(2)), static_cast<int>(state.range(3)));
  VideoRenderer renderer;
  std::vector<uint32_t> out;
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  for (auto _ : state) {
    if (!RenderVideoFrameAt(&renderer, w, h, 1.0, &out)) state.SkipWithError("no frame");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(std::string("T=") + WideToUtf8(kVideoTransitionNames[state.range(2)]) +
                 " E=" + WideToUtf8(kVideoEffectNames[state.range(3)]));
}
void MixArgs(benchmark::internal::Benchmark* b) {
  for (auto [w, h] : {std::pair{960, 540}, {1280, 720}, {1920, 1080}}) {
    for (int effect = 0; effect <= kEffectPixelate; ++effect) b->Args({w, h, kTransitionFade, effect});
    for (int transition = kTransitionWipe; transition <= kTransitionCut; ++transition)
      b->Args({w, h, transition, kEffectNone});
  }
}
BENCHMARK(BM_RenderVideoFrame)->Apply(MixArgs)->Unit(benchmark::kMillisecond);

// The same with a new frame on both sides before every render, as when 30 fps video is recorded
// at 30 fps: each side is scaled to the output again. Args: width, height.
void BM_RenderVideoFrameNewFrames(benchmark::State& state) {
  SetUpMix(kTransitionFade, kEffectNone);
  VideoRenderer renderer;
  std::vector<uint32_t> out;
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  for (auto _ : state) {
    ++VideoDecks[0].frameVersion;
    ++VideoDecks[1].frameVersion;
    if (!RenderVideoFrameAt(&renderer, w, h, 1.0, &out)) state.SkipWithError("no frame");
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_RenderVideoFrameNewFrames)->Args({960, 540})->Args({1280, 720})->Args({1920, 1080})
    ->Unit(benchmark::kMillisecond);

// A clip made once by ffmpeg in a temporary folder; empty when ffmpeg fails.
std::string MakeClip(const std::string& name, const std::string& size, int seconds) {
  static const std::string folder = [] {
    char templ[] = "/tmp/veldmix-bench-video-XXXXXX";
    return std::string(mkdtemp(templ) ? templ : "/tmp");
  }();
  const std::string path = folder + "/" + name;
  if (std::filesystem::exists(path)) return path;
  const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + size +
                              ":rate=30:duration=" + std::to_string(seconds) +
                              " -c:v libx264 -preset veryfast -g 60 -pix_fmt yuv420p " + path;
  return std::system(command.c_str()) == 0 ? path : std::string();
}

// Args: 0 for 1080p, 1 for 2160p. Decodes the whole clip from its start per iteration.
void BM_PlayerDecodeConvert(benchmark::State& state) {
  const bool uhd = state.range(0) == 1;
  const std::string clip = uhd ? MakeClip("uhd.mp4", "3840x2160", 2) : MakeClip("hd.mp4", "1920x1080", 4);
  VideoReaderInfo info;
  VideoReaderPtr reader = clip.empty() ? nullptr : OpenVideoReader(Utf8ToWide(clip), &info);
  if (!reader) {
    state.SkipWithError("ffmpeg could not make the clip");
    return;
  }
  std::vector<uint32_t> pixels;
  int w = 0, h = 0;
  int64_t pictures = 0;
  for (auto _ : state) {
    SeekVideoReader(reader.get(), 0.0);
    double t = 0;
    while (ReadVideoPicture(reader.get(), &t) == VideoReadResult::kPicture) {
      ConvertVideoPicture(reader.get(), &pixels, &w, &h);
      ++pictures;
    }
  }
  state.counters["realtime_x"] = benchmark::Counter(static_cast<double>(pictures) / 30.0, benchmark::Counter::kIsRate);
  state.SetLabel(std::to_string(w) + "x" + std::to_string(h));
}
BENCHMARK(BM_PlayerDecodeConvert)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
