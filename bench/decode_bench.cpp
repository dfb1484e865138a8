#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/audio_file.h"
#include "platform/text.h"

namespace {

constexpr int kMp3Seconds = 300;  // a five-minute track
constexpr const char* kMp3BitRate = "320k";

// A five-minute 320 kbit/s MP3 of a tone over pink noise, made once by ffmpeg in a private folder
// that is removed when the benchmark exits.
class BenchMp3 {
 public:
  BenchMp3() {
    char folder[] = "/tmp/veldmix-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) return;
    folder_ = folder;
    const std::string path = folder_ + "/five-minutes.mp3";
    const std::string seconds = std::to_string(kMp3Seconds);
    const std::string command =
        "ffmpeg -v error -f lavfi -i sine=f=220:d=" + seconds + ":sample_rate=44100 -f lavfi -i anoisesrc=c=pink:d=" +
        seconds + ":a=0.2:r=44100 -filter_complex amix=inputs=2,aformat=channel_layouts=stereo -c:a libmp3lame -b:a " +
        kMp3BitRate + " " + path;
    if (std::system(command.c_str()) == 0) path_ = path;
  }
  ~BenchMp3() {
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string folder_;
  std::string path_;
};

const BenchMp3& Mp3() {
  static const BenchMp3 file;
  return file;
}

void BM_DecodeFiveMinuteMp3(benchmark::State& state) {
  if (Mp3().path().empty()) {
    state.SkipWithError("ffmpeg could not make the MP3");
    return;
  }
  const std::wstring path = Utf8ToWide(Mp3().path());
  uint64_t frames = 0;
  for (auto _ : state) {
    std::atomic<float> progress{0.0f};
    std::wstring error;
    const TrackPtr track = DecodeFile(path, &progress, &error, false);
    if (!track) {
      state.SkipWithError("decoding failed");
      return;
    }
    frames = track->frames;
    benchmark::DoNotOptimize(track->samples.data());
  }
  state.counters["frames"] = static_cast<double>(frames);
}
BENCHMARK(BM_DecodeFiveMinuteMp3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
