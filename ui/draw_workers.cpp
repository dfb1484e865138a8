#include "ui/draw_workers.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/system_info.h"
#include "platform/thread_priority.h"

namespace {

// Worker threads besides the UI thread: the frame's other work (audio, decoding) keeps its cores.
constexpr int kMaxWorkers = 3;
// Bands per thread: a band that runs long is then only a small share of the call.
constexpr int kBandsPerThread = 2;
// Spins before the UI thread sleeps on bands still running: a band takes tens of microseconds.
constexpr int kDoneSpins = 2000;

// One call's state in one word, so that a band is claimed in the same step that reads which call
// it belongs to: the call's number (high 32 bits), its band count (next 8) and the next band to
// take (low 24). A late worker thus never takes a band of a call that has ended.
constexpr int kCallShift = 32, kBandsShift = 24;
constexpr uint64_t kNextMask = (uint64_t{1} << kBandsShift) - 1;

int BandsOf(uint64_t state) { return static_cast<int>((state >> kBandsShift) & 0xFF); }
int NextOf(uint64_t state) { return static_cast<int>(state & kNextMask); }

class DrawWorkers {
 public:
  ~DrawWorkers() {
    if (threads_.empty()) return;
    stop_.store(true);
    state_.fetch_add(uint64_t{1} << kCallShift);
    state_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  void KeepAlone(bool on) { alone_ = on; }

  int Threads() {
    Start();
    return static_cast<int>(threads_.size()) + 1;
  }

  void Run(int bands, void (*work)(void*, int), void* context) {
    bands = std::clamp(bands, 0, kMaxDrawBands);
    if (bands <= 1 || alone_ || Threads() == 1) {
      for (int band = 0; band < bands; ++band) work(context, band);
      return;
    }
    work_ = work;
    context_ = context;
    done_.store(0, std::memory_order_relaxed);
    const uint64_t call = (state_.load(std::memory_order_relaxed) >> kCallShift) + 1;
    state_.store(call << kCallShift | static_cast<uint64_t>(bands) << kBandsShift, std::memory_order_release);
    state_.notify_all();
    TakeBands();
    int spins = 0;
    for (int done = done_.load(std::memory_order_acquire); done < bands; done = done_.load(std::memory_order_acquire))
      if (++spins > kDoneSpins) done_.wait(done, std::memory_order_acquire);
  }

 private:
  void Start() {
    if (started_) return;
    started_ = true;
    // A process held to one core gains nothing from workers but the switching between them.
    const int cores = static_cast<int>(UsableProcessorCount());
    const int workers = std::clamp(cores - 1, 0, kMaxWorkers);
    threads_.reserve(workers);
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this] {
      NameThisThread("vm-draw");
      Serve();
    });
  }

  // Takes and runs bands of the current call until none is left.
  void TakeBands() {
    while (true) {
      uint64_t state = state_.load(std::memory_order_acquire);
      if (NextOf(state) >= BandsOf(state)) return;
      state = state_.fetch_add(1, std::memory_order_acq_rel);
      const int band = NextOf(state);
      if (band >= BandsOf(state)) return;
      work_(context_, band);
      if (done_.fetch_add(1, std::memory_order_acq_rel) + 1 == BandsOf(state)) done_.notify_one();
    }
  }

  void Serve() {
    while (!stop_.load(std::memory_order_acquire)) {
      const uint64_t seen = state_.load(std::memory_order_acquire);
      if (NextOf(seen) < BandsOf(seen)) {
        TakeBands();
        continue;
      }
      state_.wait(seen, std::memory_order_acquire);
    }
  }

  bool alone_ = false;  // KeepDrawBandsOnThisThread
  bool started_ = false;
  std::vector<std::thread> threads_;
  std::atomic<uint64_t> state_{0};
  std::atomic<int> done_{0};
  std::atomic<bool> stop_{false};
  // Written by the UI thread before a call's state is published, read by the threads that take
  // one of its bands; unchanged until every band is done.
  void (*work_)(void*, int) = nullptr;
  void* context_ = nullptr;
};

DrawWorkers& Workers() {
  static DrawWorkers workers;
  return workers;
}

}  // namespace

int DrawBands() { return std::min(kMaxDrawBands, Workers().Threads() * kBandsPerThread); }

void RunDrawBands(int bands, void (*work)(void* context, int band), void* context) {
  Workers().Run(bands, work, context);
}

void KeepDrawBandsOnThisThread(bool on) { Workers().KeepAlone(on); }
