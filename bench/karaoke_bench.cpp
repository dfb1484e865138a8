// Speed of a karaoke night of 200 singers with 50 songs each, four decks loaded:
//   BM_KaraokeTick: the per-frame KaraokeTick with BuildKaraokeScreenInfo (the screen's record);
//   target 0.2 ms.
//   BM_KaraokePanel: the karaoke panel drawn into its 420-pixel column of a 1920 x 1080 frame, a
//   singer on stage; target 1 ms.
//   BM_LoadKaraokeQueue: karaoke.tsv read back into the rotation; target 20 ms.
//   BM_SaveKaraokeQueue: karaoke.tsv written whole with its flushes, as after every change on the
//   UI thread; target 15 ms.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "base/palette.h"
#include "base/test_mode.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "karaoke/karaoke_panel.h"
#include "karaoke/karaoke_rotation.h"
#include "karaoke/karaoke_tick.h"
#include "screens/karaoke_panel.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"

namespace {

constexpr int kSingers = 200, kSongs = 50;
constexpr int kWidth = 1920, kHeight = 1080;
constexpr int32_t kRate = 44100;
constexpr uint64_t kTrackFrames = 180 * kRate;

struct BenchHome {
  std::filesystem::path root;
  BenchHome() {
    char pattern[] = "/tmp/veldmix-bench-karaoke-XXXXXX";
    root = mkdtemp(pattern);
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
  }
  ~BenchHome() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
};

BenchHome& Home() {
  static BenchHome home;
  return home;
}

// The night: every singer with 50 songs, half of them sung; deck A holds singer 7's song on stage.
void SetUpNight() {
  Home();
  TestMode = false;
  Rotation = KaraokeRotation{};
  for (int s = 0; s < kSingers; ++s) {
    KaraokeSinger singer{L"Singer number " + std::to_wstring(s), {}};
    for (int k = 0; k < kSongs; ++k)
      singer.songs.push_back(KaraokeSong{.path = L"/music/karaoke/artist " + std::to_wstring(k) + L"/song " +
                                                 std::to_wstring(s * kSongs + k) + L".mp3",
                                         .title = L"A fairly long song title " + std::to_wstring(k),
                                         .artist = L"Some Artist",
                                         .keyShift = k % 5 - 2,
                                         .sung = k < kSongs / 2});
    Rotation.singers.push_back(std::move(singer));
  }
  Rotation.onstage = 7;
  for (int d = 0; d < kEngineDecks; ++d) {
    auto track = std::make_shared<Track>();
    track->path = L"/music/deck" + std::to_wstring(d) + L".mp3";
    track->title = L"Deck track";
    track->frames = kTrackFrames;
    track->bpm = 124.0;
    DeckSnapshots[d].track = track;
    {
      std::lock_guard<RealtimeMutex> lock(Engine.lock);
      Engine.decks[d].track = track;
      Engine.decks[d].position = 30.0 * kRate;
      Engine.decks[d].playing = true;
    }
    DeckSnapshots[d].position = 30.0 * kRate;
    DeckSnapshots[d].playing = true;
  }
  Rotation.singers[7].songs[kSongs / 2].path = DeckSnapshots[0].track->path;
  Stage = KaraokeStage{.stageDeck = 0, .stageSongPath = DeckSnapshots[0].track->path, .currentSinger = 7,
                       .currentSong = kSongs / 2, .singing = true, .appliedVocals = 2};
}

void BM_KaraokeTick(benchmark::State& state) {
  SetUpNight();
  for (auto _ : state) {
    KaraokeTick();
    benchmark::DoNotOptimize(BuildKaraokeScreenInfo());
  }
}

void BM_KaraokePanel(benchmark::State& state) {
  SetUpNight();
  SetFramePresenter(nullptr);
  CreateDevice(kWidth, kHeight, 1.0f);
  const Rc column{kWidth - 430.0f, 560.0f, 420.0f, 510.0f};
  for (int warm = 0; warm < 3; ++warm) {
    BeginDraw();
    DrawKaraokePanel(column);
    ResetGlowLayer();
  }
  for (auto _ : state) {
    ResetGlowLayer();
    BeginDraw();
    DrawKaraokePanel(column);
  }
  ReleaseDevice();
}

void BM_FormatKaraokeQueue(benchmark::State& state) {
  SetUpNight();
  for (auto _ : state) benchmark::DoNotOptimize(FormatKaraokeQueue(Rotation));
}

void BM_SaveKaraokeQueue(benchmark::State& state) {
  SetUpNight();
  for (auto _ : state) benchmark::DoNotOptimize(SaveKaraokeQueue());
}

void BM_LoadKaraokeQueue(benchmark::State& state) {
  SetUpNight();
  SaveKaraokeQueue();
  for (auto _ : state) LoadKaraokeQueue();
  state.counters["singers"] = static_cast<double>(Rotation.singers.size());
}

}  // namespace

BENCHMARK(BM_KaraokeTick)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KaraokePanel)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadKaraokeQueue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FormatKaraokeQueue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveKaraokeQueue)->Unit(benchmark::kMillisecond);
