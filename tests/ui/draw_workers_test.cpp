// The draw workers: every band of a call runs exactly once and the call returns only after all
// of them, call after call, whichever thread takes them, or the calling thread alone when asked.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "ui/draw_workers.h"

TEST(DrawWorkers, EveryBandRunsOnceBeforeTheCallReturns) {
  EXPECT_GE(DrawBands(), 1);
  EXPECT_LE(DrawBands(), kMaxDrawBands);
  std::array<std::atomic<int>, kMaxDrawBands> runs{};
  std::vector<int> finished(kMaxDrawBands);
  for (int call = 0; call < 2000; ++call) {
    const int bands = call % (kMaxDrawBands + 3);  // past the most a call takes: clamped
    const int expected = std::min(bands, kMaxDrawBands);
    auto work = [&](int band) {
      runs[band].fetch_add(1);
      finished[band] = call;  // each band owns its slot
    };
    RunDrawBands(bands, work);
    for (int band = 0; band < kMaxDrawBands; ++band) {
      ASSERT_EQ(runs[band].exchange(0), band < expected ? 1 : 0) << "call " << call << " band " << band;
      if (band < expected) {
        ASSERT_EQ(finished[band], call);
      }
    }
  }
}

TEST(DrawWorkers, BandsShareTheWorkAcrossThreadsWithoutLosingAny) {
  // Long enough bands that the workers, where there are any, take some of them.
  constexpr int kBands = kMaxDrawBands;
  std::array<std::thread::id, kBands> ran_on{};
  std::array<long, kBands> sums{};
  auto work = [&](int band) {
    ran_on[band] = std::this_thread::get_id();
    long sum = 0;
    for (int i = 0; i < 200000; ++i) sum += (i ^ band) & 7;
    sums[band] = sum;
  };
  bool shared = false;
  for (int attempt = 0; attempt < 50 && !shared; ++attempt) {
    sums.fill(-1);
    RunDrawBands(kBands, work);
    for (int band = 0; band < kBands; ++band) {
      long expected = 0;
      for (int i = 0; i < 200000; ++i) expected += (i ^ band) & 7;
      ASSERT_EQ(sums[band], expected) << band;
      shared |= ran_on[band] != std::this_thread::get_id();
    }
  }
  // The UI thread alone takes two bands a call (a process held to one core has no workers).
  if (DrawBands() > 2) {
    EXPECT_TRUE(shared) << "no band ever ran on a worker";
  }

  // Kept on this thread (a part of the frame): every band of every call runs here, all of them.
  KeepDrawBandsOnThisThread(true);
  for (int attempt = 0; attempt < 20; ++attempt) {
    sums.fill(-1);
    ran_on.fill(std::thread::id{});
    RunDrawBands(kBands, work);
    for (int band = 0; band < kBands; ++band) {
      ASSERT_EQ(ran_on[band], std::this_thread::get_id()) << "band " << band << " woke a worker";
      ASSERT_NE(sums[band], -1);
    }
  }
  KeepDrawBandsOnThisThread(false);
}
