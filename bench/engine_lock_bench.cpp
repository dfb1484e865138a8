// Whether the render loses a block to the other holders of the engine lock: a render thread
// (real-time when the system allows) runs every 10 ms period as the output does, the UI thread
// plays a scripted minute of deck commands, track loads (real files, decoded by the real loader)
// and the frame's deck snapshots, and a second UI-like thread takes snapshots back to back.
//   BM_EngineLockLostBlocks: counters lost_blocks (blocks the render repeated because the lock
//   stayed held past its patience: goal 0), renders, max_render_ms (the longest render, its wait
//   for the lock included), p999_render_ms, late_renders (renders longer than the period),
//   priority_inheritance (1 when the engine lock lends the render's priority to its holder),
//   realtime_render (1 when the render thread runs in the real-time class).
// Slow: a minute (VELDMIX_LOCK_BENCH_SECONDS changes it); run it alone with
// --benchmark_filter=EngineLock. Needs sox to make the tracks.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/test_mode.h"
#include "engine/deck_commands.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/jog_loops.h"
#include "engine/render.h"
#include "engine/sync.h"
#include "engine/transport.h"
#include "platform/audio_stream.h"
#include "platform/text.h"
#include "platform/ui_post.h"

namespace {

constexpr int kRate = 48000;
constexpr int kPeriodFrames = 480;
constexpr auto kPeriod = std::chrono::milliseconds(10);
constexpr auto kFrame = std::chrono::milliseconds(15);
constexpr int kCommandEveryFrames = 6;   // about 11 commands a second
constexpr int kLoadEveryFrames = 300;    // a load every 4.5 s
constexpr size_t kMostRenders = 1'000'000;

double Quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(q * v.size()))];
}

// One deck command of a fixed rotation, on deck 0 or 1.
void DeckCommand(int step) {
  const int deck = step % 2;
  switch ((step / 2) % 12) {
    case 0: PlayPause(deck); break;
    case 1: PressHotCue(deck, step % 8); break;
    case 2: ToggleAutoLoop(deck); break;
    case 3: ChangeLoopSize(deck, step % 3 == 0 ? -1 : 1); break;
    case 4: BeatJump(deck, step % 4 == 0 ? -4.0 : 4.0); break;
    case 5: SyncDeck(deck); break;
    case 6: JogTouch(deck); JogScratch(deck, 0.05); JogRelease(deck); break;
    case 7: ToggleSlip(deck); break;
    case 8: CuePress(deck); CueRelease(deck); break;
    case 9: SeekToFraction(deck, (step % 10) / 10.0); break;
    case 10: ToggleAutoLoop(deck); break;
    default: PlayPause(deck); break;
  }
}

void BM_EngineLockLostBlocks(benchmark::State& state) {
  const char* seconds_text = std::getenv("VELDMIX_LOCK_BENCH_SECONDS");
  const double seconds = seconds_text ? std::max(1.0, std::atof(seconds_text)) : 60.0;
  // A home of its own: nothing of the user's library or settings is read or written.
  const std::filesystem::path home = std::filesystem::temp_directory_path() / ("veldmix-lock-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(home);
  setenv("HOME", home.c_str(), 1);
  unsetenv("XDG_DATA_HOME"), unsetenv("XDG_STATE_HOME"), unsetenv("XDG_CONFIG_HOME");
  TestMode = true;
  std::vector<std::wstring> tracks;
  for (int i = 0; i < 2; ++i) {
    const std::string path = (home / ("track" + std::to_string(i) + ".wav")).string();
    const std::string make = "sox -n -r 44100 -c 2 '" + path + "' synth 240 sine " + std::to_string(220 * (i + 1)) +
                             " tremolo 2 90 2>/dev/null";
    if (std::system(make.c_str()) != 0) {
      state.SkipWithError("sox could not make the tracks");
      return;
    }
    tracks.push_back(Utf8ToWide(path));
  }
  OpenUiPosts(nullptr);
  auto drain = [] {
    DrainUiPosts([](const UiPost& post) {
      if (post.message == kDeckLoadPost) FinishDeckLoad(post.wparam, static_cast<DeckLoadResult*>(post.lparam));
    });
  };
  for (int d = 0; d < 2; ++d) LoadTrack(d, tracks[d]);
  while (LiveDeckViews[0].loading || LiveDeckViews[1].loading) {
    drain();
    std::this_thread::sleep_for(kFrame);
  }

  std::vector<double> renderMs;
  renderMs.reserve(kMostRenders);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    PrepareRenderBuffers(Engine, kPeriodFrames, kRate);
  }
  const uint32_t lostBefore = Engine.renderLockMisses.load();
  std::atomic<bool> stop{false}, realtime{false};
  std::thread render([&] {
    realtime.store(RegisterProAudioThread() != RealtimeGrant::kRefused);
    std::vector<float> out(2 * kPeriodFrames);
    auto next = std::chrono::steady_clock::now();
    while (!stop.load()) {
      const auto start = std::chrono::steady_clock::now();
      RenderMix(Engine, out.data(), kPeriodFrames, kRate);
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
      if (renderMs.size() < renderMs.capacity()) renderMs.push_back(ms);
      next += kPeriod;
      std::this_thread::sleep_until(next);
    }
  });
  // A second UI-like thread: snapshots of the engine, one after another.
  std::thread hammer([&] {
    while (!stop.load()) {
      {
        std::lock_guard<RealtimeMutex> lock(Engine.lock);
        for (const DeckState& deck : Engine.decks) benchmark::DoNotOptimize(deck.position);
      }
      std::this_thread::yield();
    }
  });

  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    int step = 0, loads = 0;
    for (int frame = 0; std::chrono::steady_clock::now() - start < std::chrono::duration<double>(seconds); ++frame) {
      SnapshotDecks();
      drain();
      if (frame % kCommandEveryFrames == 0) DeckCommand(step++);
      if (frame % kLoadEveryFrames == kLoadEveryFrames / 2) {
        // A load goes onto a stopped deck: the one just paused.
        const int deck = loads % 2;
        bool playing = false;
        {
          std::lock_guard<RealtimeMutex> lock(Engine.lock);
          playing = Engine.decks[deck].playing;
        }
        if (playing) PlayPause(deck);
        LoadTrack(deck, tracks[++loads % 2]);
      }
      std::this_thread::sleep_for(kFrame);
    }
    while (LiveDeckViews[0].loading || LiveDeckViews[1].loading) {
      drain();
      std::this_thread::sleep_for(kFrame);
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    state.counters["loads"] = loads;
  }
  stop.store(true);
  render.join();
  hammer.join();
  CloseUiPosts([](const UiPost& post) {
    if (post.message == kDeckLoadPost) FreeDeckLoadResult(static_cast<DeckLoadResult*>(post.lparam));
  });

  const double periodMs = std::chrono::duration<double, std::milli>(kPeriod).count();
  state.counters["lost_blocks"] = Engine.renderLockMisses.load() - lostBefore;
  state.counters["renders"] = static_cast<double>(renderMs.size());
  state.counters["max_render_ms"] = Quantile(renderMs, 1.0);
  state.counters["p999_render_ms"] = Quantile(renderMs, 0.999);
  state.counters["late_renders"] =
      static_cast<double>(std::count_if(renderMs.begin(), renderMs.end(), [&](double ms) { return ms > periodMs; }));
  state.counters["priority_inheritance"] = Engine.lock.InheritsPriority() ? 1 : 0;
  state.counters["realtime_render"] = realtime.load() ? 1 : 0;
  std::filesystem::remove_all(home);
}

}  // namespace

BENCHMARK(BM_EngineLockLostBlocks)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
