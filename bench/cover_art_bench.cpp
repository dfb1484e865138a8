#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "library/cover_art.h"
#include "platform/text.h"
#include "screens/cover_art.h"

namespace {

// An MP3 whose cover is a 1000 x 1000 JPEG of a photo-like gradient with noise, made once by
// ImageMagick and ffmpeg in a private folder removed at exit.
class CoveredMp3 {
 public:
  CoveredMp3() {
    char folder[] = "/tmp/veldmix-bench-art-XXXXXX";
    if (::mkdtemp(folder) == nullptr) return;
    folder_ = folder;
    const std::string cover = folder_ + "/cover.jpg", path = folder_ + "/covered.mp3";
    const std::string command =
        "convert -size 1000x1000 gradient:'rgb(240,140,20)-rgb(20,60,200)' -attenuate 0.3 +noise Gaussian -quality 90 " +
        cover + " && ffmpeg -v error -f lavfi -i sine=d=1 -i " + cover +
        " -map 0 -map 1 -c:a libmp3lame -id3v2_version 3 -c:v copy -disposition:v attached_pic " + path;
    if (std::system(command.c_str()) == 0) path_ = Utf8ToWide(path);
  }
  ~CoveredMp3() {
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
  }
  const std::wstring& path() const { return path_; }

 private:
  std::string folder_;
  std::wstring path_;
};

const CoveredMp3& Covered() {
  static const CoveredMp3 file;
  return file;
}

// The loader's work for one file: open, decode the 1000 x 1000 JPEG, scale to 128 x 128.
void BM_LoadArt1000Jpeg(benchmark::State& state) {
  if (Covered().path().empty()) return state.SkipWithError("ImageMagick or ffmpeg could not make the file");
  for (auto _ : state) {
    ArtResult art = LoadArt(Covered().path());
    if (art.pixels.size() != 128u * 128u) return state.SkipWithError("no 128 x 128 cover came out");
    benchmark::DoNotOptimize(art.pixels.data());
  }
}
BENCHMARK(BM_LoadArt1000Jpeg)->Unit(benchmark::kMillisecond);

// Entries with 128 x 128 covers, loaded; no file behind them.
void FillCache(int entries) {
  ArtCache.clear();
  for (int i = 0; i < entries; ++i) {
    ArtEntry& entry = ArtCache[L"/music/cover-" + std::to_wstring(i) + L".mp3"];
    entry.pixels.assign(128u * 128u, 0xFF8040C0u);
    entry.width = entry.height = 128;
    entry.loaded = true;
    entry.state = kArtNoBitmap;
  }
}

// The UI thread's cost of one entry's bitmap (made once per entry and device).
void BM_ArtBitmapPerEntry(benchmark::State& state) {
  if (!CreateDevice(256, 256, 1)) return state.SkipWithError("no drawing device");
  FillCache(1);
  const std::wstring path = L"/music/cover-0.mp3";
  ArtEntry& entry = ArtCache[path];
  for (auto _ : state) {
    entry.state = kArtNoBitmap;
    benchmark::DoNotOptimize(RequestArt(path).get());
  }
  ArtCache.clear();
  ReleaseDevice();
}
BENCHMARK(BM_ArtBitmapPerEntry);

// The heap taken by a full cache: 600 entries of 128 x 128 with their bitmaps.
void BM_ArtMemory600(benchmark::State& state) {
  if (!CreateDevice(256, 256, 1)) return state.SkipWithError("no drawing device");
  size_t bytes = 0;
  for (auto _ : state) {
    ArtCache.clear();
    const size_t before = mallinfo2().uordblks;
    FillCache(static_cast<int>(kArtCacheLimit));
    for (auto& [path, entry] : ArtCache) benchmark::DoNotOptimize(RequestArt(path).get());
    bytes = mallinfo2().uordblks - before;
  }
  state.counters["MiB"] = static_cast<double>(bytes) / (1 << 20);
  state.counters["KiB_per_entry"] = static_cast<double>(bytes) / 1024 / kArtCacheLimit;
  ArtCache.clear();
  ReleaseDevice();
}
BENCHMARK(BM_ArtMemory600)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
