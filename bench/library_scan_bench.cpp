// The folder scan's rate over 3,000 tagged MP3s (warm cache), and the moved-files search's index
// over a tree of 50,000 audio files.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "base/tags.h"
#include "library/folder_scan.h"
#include "library/relocate.h"
#include "library/track_view.h"
#include "platform/text.h"
#include "platform/ui_post.h"

namespace fs = std::filesystem;

namespace {

constexpr int kScanFiles = 3000;
constexpr int kTreeFiles = 50000;
constexpr int kTreeFolders = 500;
constexpr int kMissing = 1000;

struct BenchFolder {
  fs::path root;
  BenchFolder() {
    char pattern[] = "/tmp/veldmix-bench-scan-XXXXXX";
    root = mkdtemp(pattern);
  }
  ~BenchFolder() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

// 3,000 copies of a short MP3 made by ffmpeg, each retagged through the program's tag writer.
const fs::path& TaggedMp3s() {
  static BenchFolder folder;
  static bool made = false;
  if (!made) {
    made = true;
    const fs::path base = folder.root / "base.mp3";
    const std::string make = "ffmpeg -v error -f lavfi -i sine=d=2 '" + base.string() + "'";
    if (std::system(make.c_str()) != 0) return folder.root;
    for (int i = 0; i < kScanFiles; ++i) {
      const fs::path copy = folder.root / fmt::format("t{:04}.mp3", i);
      fs::copy_file(base, copy);
      TrackTags tags;
      tags.title = Utf8ToWide(fmt::format("Title {}", i));
      tags.artist = L"Artist";
      tags.genre = L"House";
      UiText error;
      WriteTags(Utf8ToWide(copy.string()), tags, &error);
    }
    fs::remove(base);
  }
  return folder.root;
}

void DropPosts() {
  DrainUiPosts([](const UiPost& post) {
    if (post.message == kScanBatchPost) delete static_cast<std::vector<LibraryFile>*>(post.lparam);
  });
}

void BM_FolderScan3000TaggedMp3s(benchmark::State& state) {
  const fs::path& root = TaggedMp3s();
  OpenUiPosts(nullptr);
  for (auto _ : state) {
    auto job = std::make_unique<ScanJob>();
    job->folders = {Utf8ToWide(root.string())};
    job->generation = ++ScanGeneration;
    FolderScanWorker(job.release());  // on this thread: the worker's own cost
    DropPosts();
  }
  state.SetItemsProcessed(state.iterations() * kScanFiles);  // files a second
}
BENCHMARK(BM_FolderScan3000TaggedMp3s)->Unit(benchmark::kMillisecond)->UseRealTime();

// 50,000 empty ".mp3" files in 500 folders; 1,000 missing paths to find in it.
void BM_RelocateIndex50000(benchmark::State& state) {
  static BenchFolder folder;
  static bool made = false;
  if (!made) {
    made = true;
    for (int d = 0; d < kTreeFolders; ++d) {
      const fs::path dir = folder.root / fmt::format("Artist {:03}", d);
      fs::create_directories(dir);
      for (int f = 0; f < kTreeFiles / kTreeFolders; ++f) std::ofstream(dir / fmt::format("track {:05}.mp3", d * 100 + f));
    }
  }
  RelocateJob job;
  job.folder = Utf8ToWide(folder.root.string());
  for (int i = 0; i < kMissing; ++i)
    job.paths.push_back(Utf8ToWide(fmt::format("/gone/Artist {:03}/track {:05}.mp3", i % kTreeFolders, i * 37 % kTreeFiles)));
  size_t found = 0;
  for (auto _ : state) {
    const RelocateResult result = FindRelocations(job);
    found = result.found.size();
    benchmark::DoNotOptimize(found);
  }
  state.counters["found"] = static_cast<double>(found);
  state.SetItemsProcessed(state.iterations() * kTreeFiles);
}
BENCHMARK(BM_RelocateIndex50000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
