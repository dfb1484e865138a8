#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/track_info.h"
#include "library/database.h"

namespace {

constexpr int kTracks = 50000;

// A private data folder for the run, removed at exit.
struct BenchHome {
  std::filesystem::path root;
  BenchHome() {
    char pattern[] = "/tmp/veldmix-bench-XXXXXX";
    root = mkdtemp(pattern);
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
  }
  ~BenchHome() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
};

// A library that looks like a well-used one: every track analysed, three named hot cues, two
// memory cues, a tag on every fifth track and a bent grid on every tenth.
void FillLibrary() {
  TrackLibrary.clear();
  for (int i = 0; i < kTracks; ++i) {
    TrackInfo& t = TrackInfoFor(fmt::format(L"/home/dj/Music/Artist {:04}/Album {:02}/{:02} - Title {:05}.mp3",
                                            i / 40, (i / 10) % 4, i % 10, i));
    t.bpm = 90.0 + (i % 700) * 0.1;
    t.firstBeat = 0.01 * (i % 97);
    t.key = i % 24;
    t.loudness = -6.0f - static_cast<float>(i % 12);
    t.analyzed = true;
    t.cue = t.firstBeat;
    for (int h = 0; h < 3; ++h) {
      t.hotCueStart[h] = 16.0 * (h + 1) + t.firstBeat;
      t.hotCueName[h] = h == 0 ? L"Intro" : h == 1 ? L"Drop" : L"Break";
      t.hotCueColor[h] = h;
    }
    t.rating = i % 6;
    t.playCount = i % 13;
    t.lastPlayed = 1700000000 + i;
    t.memoryCues = {32.5, 96.25};
    if (i % 5 == 0) t.myTags = L"warm up, deep";
    if (i % 10 == 0)
      for (int m = 0; m < 8; ++m) t.tempoMarkers.push_back({32.0 * m, t.firstBeat + 15.0 * m});
  }
}

void BM_SaveDatabase50k(benchmark::State& state) {
  BenchHome home;
  FillLibrary();
  LibraryNoSave = false;
  for (auto _ : state) {
    TrackLibrary.begin()->second.rating ^= 1;
    if (!SaveDatabase()) state.SkipWithError("save failed");
  }
  state.counters["records"] = static_cast<double>(TrackLibrary.size());
  state.counters["MiB"] = static_cast<double>(std::filesystem::file_size(home.root / "data/Veldmix/database.tsv")) / (1 << 20);
}
BENCHMARK(BM_SaveDatabase50k)->Unit(benchmark::kMillisecond);

void BM_LoadDatabase50k(benchmark::State& state) {
  BenchHome home;
  FillLibrary();
  LibraryNoSave = false;
  if (!SaveDatabase()) state.SkipWithError("save failed");
  for (auto _ : state) {
    LoadDatabase();
    if (LibraryNoSave || TrackLibrary.size() != kTracks) state.SkipWithError("load lost records");
  }
  state.counters["records"] = static_cast<double>(TrackLibrary.size());
}
BENCHMARK(BM_LoadDatabase50k)->Unit(benchmark::kMillisecond);

}  // namespace
