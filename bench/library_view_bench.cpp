#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/text_parse.h"
#include "library/duplicates.h"
#include "library/mix_order.h"
#include "base/track_info.h"
#include "library/track_view.h"

namespace {

constexpr int kViewFiles = 50000;
constexpr int kWords = 40;  // distinct words in titles and artists

// A view's worth of files as a scan of a large collection reads them; every other file has an
// analysed record, every fifth own tags.
std::vector<LibraryFile> MakeFiles(int count) {
  TrackLibrary.clear();
  std::vector<LibraryFile> files;
  files.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    LibraryFile f;
    f.path = fmt::format(L"/home/dj/Music/Artist {:04}/Album {:02}/{:02} - Title {:05}.mp3", i / 40, (i / 10) % 4,
                         i % 10, i);
    f.title = fmt::format(L"Word{} Word{} Title {:05}", i % kWords, (i * 7) % kWords, i);
    f.artist = fmt::format(L"Artist Word{}", (i * 3) % kWords);
    f.genre = i % 3 == 0 ? L"House" : L"Techno";
    f.titleKey = LowerText(f.title);
    f.artistKey = LowerText(f.artist);
    f.searchText = f.titleKey + L' ' + f.artistKey + L" album " + LowerText(f.genre) + L"  " +
                   LowerText(f.path.substr(f.path.rfind(L'/') + 1));
    f.duration = 180.0 + i % 300;
    f.modified = 130000000000000000LL + i;
    f.index = static_cast<uint32_t>(i);
    if (i % 2 == 0) {
      TrackInfo& t = TrackInfoFor(f.path);
      t.analyzed = true, t.bpm = 110.0 + i % 300 * 0.1, t.key = i % 24, t.loudness = -6.0f - static_cast<float>(i % 12);
      if (i % 5 == 0) t.myTags = L"warm up, deep";
    }
    files.push_back(std::move(f));
  }
  return files;
}

void UseViewSettings() {
  SearchText = L"word3 artist";  // two words, about one file in six
  CrateSearch.clear();
  SortColumn = kSortTitle, SortAscending = true, MatchDeck = false;
}

// One rebuild of a full view: filter by a two-word search, then sort by title.
void BM_RebuildView50k(benchmark::State& state) {
  ViewItems = MakeFiles(kViewFiles);
  UseViewSettings();
  for (auto _ : state) {
    RebuildView();
    benchmark::DoNotOptimize(ViewOrder.data());
  }
  state.counters["shown"] = static_cast<double>(ViewOrder.size());
  ViewItems.clear(), ViewOrder.clear(), TrackLibrary.clear();
}
BENCHMARK(BM_RebuildView50k)->Unit(benchmark::kMillisecond);

// A rebuild right after the files changed (a scan ended, tags edited): the text sort ranks every
// file again first.
void BM_RebuildView50kNewFiles(benchmark::State& state) {
  ViewItems = MakeFiles(kViewFiles);
  UseViewSettings();
  for (auto _ : state) {
    state.PauseTiming();
    for (LibraryFile& file : ViewItems) file.sortRankStamp = 0;
    state.ResumeTiming();
    RebuildView();
    benchmark::DoNotOptimize(ViewOrder.data());
  }
  ViewItems.clear(), ViewOrder.clear(), TrackLibrary.clear();
}
BENCHMARK(BM_RebuildView50kNewFiles)->Unit(benchmark::kMillisecond);

// The filter alone (the scan order kept): what the rebuild costs before sorting.
void BM_FilterOnly50k(benchmark::State& state) {
  ViewItems = MakeFiles(kViewFiles);
  UseViewSettings();
  SortColumn = kSortSourceOrder;
  for (auto _ : state) RebuildView();
  ViewItems.clear(), ViewOrder.clear(), TrackLibrary.clear();
}
BENCHMARK(BM_FilterOnly50k)->Unit(benchmark::kMillisecond);

// One keystroke in the search box of a 100,000-file collection: the search grows by a letter and
// the view (sorted by title) is rebuilt, as the frame that takes the key does. The search before
// it is set up untimed. BM_SearchBackspace100k: the letter taken back, which searches in full.
void BM_SearchKeystroke100k(benchmark::State& state) {
  ViewItems = MakeFiles(2 * kViewFiles);
  UseViewSettings();
  RebuildView();
  for (auto _ : state) {
    state.PauseTiming();
    SearchText = L"word3 artis";
    RebuildView();
    state.ResumeTiming();
    SearchText = L"word3 artist";
    RebuildView();
    benchmark::DoNotOptimize(ViewOrder.data());
  }
  state.counters["shown"] = static_cast<double>(ViewOrder.size());
  ViewItems.clear(), ViewOrder.clear(), TrackLibrary.clear();
}
BENCHMARK(BM_SearchKeystroke100k)->Unit(benchmark::kMillisecond);

void BM_SearchBackspace100k(benchmark::State& state) {
  ViewItems = MakeFiles(2 * kViewFiles);
  UseViewSettings();
  for (auto _ : state) {
    state.PauseTiming();
    SearchText = L"word3 artist";
    RebuildView();
    state.ResumeTiming();
    SearchText = L"word3 artis";
    RebuildView();
    benchmark::DoNotOptimize(ViewOrder.data());
  }
  state.counters["shown"] = static_cast<double>(ViewOrder.size());
  ViewItems.clear(), ViewOrder.clear(), TrackLibrary.clear();
}
BENCHMARK(BM_SearchBackspace100k)->Unit(benchmark::kMillisecond);

// Every rebuild of a 50,000-file scan: one per batch of 100 as the batches arrive.
void BM_ScanRebuilds50k(benchmark::State& state) {
  const std::vector<LibraryFile> files = MakeFiles(kViewFiles);
  UseViewSettings();
  for (auto _ : state) {
    ViewItems.clear();
    for (size_t start = 0; start < files.size(); start += kScanBatchFiles) {
      auto* batch = new std::vector<LibraryFile>(
          files.begin() + static_cast<long>(start),
          files.begin() + static_cast<long>(std::min(files.size(), start + kScanBatchFiles)));
      ApplyScanBatch(ScanGeneration.load(), batch);
    }
  }
  state.counters["shown"] = static_cast<double>(ViewOrder.size());
  ViewItems.clear(), ViewOrder.clear(), TrackLibrary.clear();
}
BENCHMARK(BM_ScanRebuilds50k)->Unit(benchmark::kMillisecond)->Iterations(3);

MixTrackSet MixTracks(int count) {
  MixTrackSet set;
  std::vector<MixTrack>& tracks = set.tracks();
  for (int i = 0; i < count; ++i)
    tracks.push_back(MixTrack{.path = set.Keep(fmt::format(L"/m/{}.mp3", i)),
                              .bpm = i % 10 == 9 ? 0.0 : 100.0 + (i * 37) % 400 * 0.1,
                              .key = (i * 5) % 25 - 1,
                              .energy = (i * 3) % 11});
  return set;
}

void BM_MixOrder(benchmark::State& state) {
  const MixTrackSet set = MixTracks(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(MixOrder(set.tracks()));
}
BENCHMARK(BM_MixOrder)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_GroupDuplicates50k(benchmark::State& state) {
  std::vector<MixTrack> tracks;
  const std::vector<LibraryFile> files = MakeFiles(kViewFiles);
  for (const LibraryFile& f : files)
    tracks.push_back(
        MixTrack{.path = f.path, .artist = f.artist, .title = f.index % 50 == 0 ? L"Same  Song" : f.title});
  TrackLibrary.clear();
  for (auto _ : state) benchmark::DoNotOptimize(GroupDuplicates(tracks));
}
BENCHMARK(BM_GroupDuplicates50k)->Unit(benchmark::kMillisecond);

}  // namespace
