#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/ui_post.h"

namespace {
std::atomic<int> g_wakes{0};
void CountWake() { ++g_wakes; }
}  // namespace

TEST(UiPosts, DeliversInOrderFromManyThreadsAndRefusesAfterClose) {
  g_wakes = 0;
  OpenUiPosts(CountWake);
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t)
    workers.emplace_back([t] {
      for (int i = 0; i < kEach; ++i) EXPECT_TRUE(PostToUi(t + 1, static_cast<uintptr_t>(i), new int(i)));
    });
  std::vector<int> next(kThreads, 0);
  int received = 0;
  auto handle = [&](const UiPost& p) {
    int* value = static_cast<int*>(p.lparam);
    EXPECT_EQ(static_cast<int>(p.wparam), next[p.message - 1]);  // per-thread order kept
    EXPECT_EQ(*value, next[p.message - 1]);
    ++next[p.message - 1];
    ++received;
    delete value;
  };
  for (auto& w : workers) w.join();
  DrainUiPosts(handle);
  EXPECT_EQ(received, kThreads * kEach);
  EXPECT_EQ(g_wakes.load(), kThreads * kEach);

  ASSERT_TRUE(PostToUi(9, 1, new int(7)));
  int leftovers = 0;
  CloseUiPosts([&](const UiPost& p) { ++leftovers; delete static_cast<int*>(p.lparam); });
  EXPECT_EQ(leftovers, 1);
  int* orphan = new int(3);
  EXPECT_FALSE(PostToUi(1, 0, orphan));  // the worker keeps ownership
  delete orphan;
}
