#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/text_parse.h"
#include "base/track_info.h"
#include "library/ai_set.h"
#include "library/mix_order.h"
#include "library/track_view.h"

namespace {

constexpr int kRows = 50000;

// A view of 50,000 rows, every other one analysed.
void FillView() {
  TrackLibrary.clear();
  ViewItems.clear();
  ViewOrder.clear();
  for (int i = 0; i < kRows; ++i) {
    LibraryFile f;
    f.path = fmt::format(L"/home/dj/Music/Artist {:04}/{:05} - Title.flac", i / 40, i);
    f.title = fmt::format(L"Title {:05} “Déjà”", i);
    f.artist = fmt::format(L"Artist {:04}", i / 40);
    f.genre = i % 3 == 0 ? L"Deep House" : L"Techno";
    f.titleKey = LowerText(f.title), f.artistKey = LowerText(f.artist);
    f.duration = 180.0 + i % 300;
    f.index = static_cast<uint32_t>(i);
    if (i % 2 == 0) {
      TrackInfo& t = TrackInfoFor(f.path);
      t.analyzed = true, t.bpm = 118.0 + i % 20, t.key = i % 24, t.loudness = -8.0f;
    }
    ViewItems.push_back(std::move(f));
    ViewOrder.push_back(i);
  }
}

// The UI thread's copy of the view when a job starts.
void BM_CollectViewTracks50k(benchmark::State& state) {
  FillView();
  for (auto _ : state) {
    const MixTrackSet view = CollectViewTracks();
    benchmark::DoNotOptimize(view.tracks().data());
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_CollectViewTracks50k)->Unit(benchmark::kMillisecond);

void BM_SelectAiCandidates50k(benchmark::State& state) {
  FillView();
  const MixTrackSet view = CollectViewTracks();
  const std::vector<MixTrack>& tracks = view.tracks();
  for (auto _ : state) benchmark::DoNotOptimize(SelectAiCandidates(L"deep house warm-up rising to peak time", tracks));
}
BENCHMARK(BM_SelectAiCandidates50k)->Unit(benchmark::kMillisecond);

// The catalogue of 250 candidates and the escaped request body.
void BM_ChatBody250(benchmark::State& state) {
  FillView();
  const MixTrackSet view = CollectViewTracks();
  const std::vector<MixTrack>& tracks = view.tracks();
  const std::vector<int32_t> candidates = SelectAiCandidates(L"deep", tracks);
  for (auto _ : state)
    benchmark::DoNotOptimize(AiChatBody(L"llama3.2", L"deep \"warm\" set", 60, AiCatalogue(candidates, tracks)).data());
}
BENCHMARK(BM_ChatBody250)->Unit(benchmark::kMicrosecond);

// A 1 MiB answer: its "tracks" array of ids, read against 250 candidates.
void BM_ReadAnswer1MiB(benchmark::State& state) {
  std::wstring answer = L"{\"name\":\"Big set\",\"tracks\":[";
  for (int i = 0; answer.size() < (1u << 20); ++i) answer += std::to_wstring(1 + i % 250) + L",";
  answer.back() = L']';
  answer += L'}';
  const std::vector<MixTrack> tracks(250);
  std::vector<int32_t> candidates(250);
  for (int i = 0; i < 250; ++i) candidates[static_cast<size_t>(i)] = i;
  for (auto _ : state) {
    AiSetResult r;
    ReadAiAnswer(answer, candidates, tracks, 600, &r);
    benchmark::DoNotOptimize(r.picks.data());
  }
}
BENCHMARK(BM_ReadAnswer1MiB)->Unit(benchmark::kMillisecond);

}  // namespace
