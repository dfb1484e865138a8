// How long threads other than the render hold the engine lock, while a render thread runs every
// 10 ms period as the output does and the UI thread plays a scripted minute of deck commands,
// track loads (real files, decoded by the real loader) and the frame's deck snapshots. The render
// waits for every such hold, so the longest one is the figure: goal at most 0.2 ms.
//   BM_EngineLockHolds: counters max_other_ms (the longest hold by any thread but the render),
//   max_other_cpu_ms (the same in the holder's CPU time: without the time a busy machine ran
//   something else), p50_other_ms, p999_other_ms, holds_over_0_2ms, max_render_ms; the stacks
//   of the longest other holds are printed.
// Slow: a minute (VELDMIX_LOCK_BENCH_SECONDS changes it); run it alone with
// --benchmark_filter=EngineLock. Needs sox to make the tracks.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <pthread.h>
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
#include "platform/text.h"
#include "platform/ui_post.h"

// ---- hold times: the lock calls of the watched mutex, timed on their way to the library --------

namespace {

using MutexCall = int (*)(pthread_mutex_t*);
// The library's own call, found on first use (dlsym takes no lock through these names).
MutexCall Library(const char* name, std::atomic<MutexCall>* slot) {
  MutexCall call = slot->load(std::memory_order_acquire);
  if (!call) {
    call = reinterpret_cast<MutexCall>(dlsym(RTLD_NEXT, name));
    slot->store(call, std::memory_order_release);
  }
  return call;
}
std::atomic<MutexCall> LibraryLock{nullptr}, LibraryTryLock{nullptr}, LibraryUnlock{nullptr};

constexpr int kStackDepth = 24;

std::atomic<pthread_mutex_t*> Watched{nullptr};
// Per thread: how deep in the recursive lock, since when it has held it, whether it is the render.
thread_local int Depth = 0;
thread_local int64_t HeldSinceNs = 0, HeldSinceCpuNs = 0;
thread_local bool IsRender = false;

// Hold times in nanoseconds, by role; the longest other hold, by the clock and by the holder's
// own CPU time (which leaves out the time the system ran something else on a busy machine), with
// its stack. Written only by the thread that releases the lock, so the lock orders these writes.
std::vector<int64_t> OtherHolds, RenderHolds;
struct Longest {
  int64_t ns = 0;
  void* stack[kStackDepth];
  int depth = 0;
};
Longest LongestWall, LongestCpu;

int64_t NowNs(clockid_t clock = CLOCK_MONOTONIC) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void Acquired(pthread_mutex_t* m) {
  if (m != Watched.load(std::memory_order_relaxed)) return;
  if (Depth++ == 0) HeldSinceNs = NowNs(), HeldSinceCpuNs = NowNs(CLOCK_THREAD_CPUTIME_ID);
}

// Still holding the lock: the bookkeeping is safe from the other threads.
void Releasing(pthread_mutex_t* m) {
  if (m != Watched.load(std::memory_order_relaxed) || Depth == 0) return;
  if (--Depth > 0) return;
  const int64_t held = NowNs() - HeldSinceNs, cpu = NowNs(CLOCK_THREAD_CPUTIME_ID) - HeldSinceCpuNs;
  std::vector<int64_t>& holds = IsRender ? RenderHolds : OtherHolds;
  if (holds.size() < holds.capacity()) holds.push_back(held);
  if (IsRender) return;
  for (auto [longest, value] : {std::pair{&LongestWall, held}, std::pair{&LongestCpu, cpu}}) {
    if (value <= longest->ns) continue;
    longest->ns = value;
    longest->depth = backtrace(longest->stack, kStackDepth);
  }
}

}  // namespace

extern "C" {
int pthread_mutex_lock(pthread_mutex_t* m) {
  const int result = Library("pthread_mutex_lock", &LibraryLock)(m);
  if (result == 0) Acquired(m);
  return result;
}
int pthread_mutex_trylock(pthread_mutex_t* m) {
  const int result = Library("pthread_mutex_trylock", &LibraryTryLock)(m);
  if (result == 0) Acquired(m);
  return result;
}
int pthread_mutex_unlock(pthread_mutex_t* m) {
  Releasing(m);
  return Library("pthread_mutex_unlock", &LibraryUnlock)(m);
}
}

namespace {

constexpr int kRate = 48000;
constexpr int kPeriodFrames = 480;
constexpr auto kPeriod = std::chrono::milliseconds(10);
constexpr auto kFrame = std::chrono::milliseconds(15);
constexpr int kCommandEveryFrames = 6;   // about 11 commands a second
constexpr int kLoadEveryFrames = 300;    // a load every 4.5 s
constexpr size_t kMostHolds = 4'000'000;

double Quantile(std::vector<int64_t> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return static_cast<double>(v[std::min(v.size() - 1, static_cast<size_t>(q * v.size()))]) / 1e6;
}

// Function, file and line of each return address, through addr2line (inlined calls included).
void PrintStack(void* const* stack, int depth) {
  for (int i = 1; i < depth; ++i) {  // frame 0 is the unlock wrapper
    Dl_info info{};
    if (!dladdr(stack[i], &info) || !info.dli_fname) continue;
    const auto offset = reinterpret_cast<uintptr_t>(stack[i]) - reinterpret_cast<uintptr_t>(info.dli_fbase) - 1;
    char command[1024];
    std::snprintf(command, sizeof command, "addr2line -f -C -i -e '%s' 0x%zx 2>/dev/null", info.dli_fname,
                  static_cast<size_t>(offset));
    if (FILE* out = popen(command, "r")) {
      char line[1024];
      while (std::fgets(line, sizeof line, out)) std::fprintf(stderr, "    %s", line);
      pclose(out);
    }
  }
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

void BM_EngineLockHolds(benchmark::State& state) {
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

  OtherHolds.reserve(kMostHolds);
  RenderHolds.reserve(kMostHolds);
  {
    std::lock_guard<std::recursive_mutex> lock(Engine.lock);
    PrepareRenderBuffers(Engine, kPeriodFrames, kRate);
  }
  std::atomic<bool> stop{false};
  std::thread render([&] {
    IsRender = true;
    std::vector<float> out(2 * kPeriodFrames);
    auto next = std::chrono::steady_clock::now();
    while (!stop.load()) {
      RenderMix(Engine, out.data(), kPeriodFrames, kRate);
      next += kPeriod;
      std::this_thread::sleep_until(next);
    }
  });

  for (auto _ : state) {
    Watched.store(Engine.lock.native_handle());
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
          std::lock_guard<std::recursive_mutex> lock(Engine.lock);
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
    Watched.store(nullptr);
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    state.counters["loads"] = loads;
  }
  stop.store(true);
  render.join();
  CloseUiPosts([](const UiPost& post) {
    if (post.message == kDeckLoadPost) FreeDeckLoadResult(static_cast<DeckLoadResult*>(post.lparam));
  });

  state.counters["max_other_ms"] = static_cast<double>(LongestWall.ns) / 1e6;
  state.counters["max_other_cpu_ms"] = static_cast<double>(LongestCpu.ns) / 1e6;
  state.counters["p50_other_ms"] = Quantile(OtherHolds, 0.5);
  state.counters["p999_other_ms"] = Quantile(OtherHolds, 0.999);
  state.counters["holds_over_0_2ms"] =
      static_cast<double>(std::count_if(OtherHolds.begin(), OtherHolds.end(), [](int64_t ns) { return ns > 200000; }));
  state.counters["other_holds"] = static_cast<double>(OtherHolds.size());
  state.counters["max_render_ms"] = Quantile(RenderHolds, 1.0);
  state.counters["render_lock_misses"] = Engine.renderLockMisses.load();
  for (auto [longest, what] : {std::pair{&LongestWall, "by the clock"}, std::pair{&LongestCpu, "in CPU time"}}) {
    std::fprintf(stderr, "The longest hold %s by a thread other than the render (%.3f ms) ended here:\n", what,
                 static_cast<double>(longest->ns) / 1e6);
    PrintStack(longest->stack, longest->depth);
  }
  std::filesystem::remove_all(home);
}

}  // namespace

BENCHMARK(BM_EngineLockHolds)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
