#include "platform/system_info.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <thread>

// A thread held to one processor counts one usable processor, though more are online.
TEST(SystemInfo, UsableProcessorsFollowTheThreadsAffinity) {
  EXPECT_GE(UsableProcessorCount(), 1u);
  EXPECT_LE(UsableProcessorCount(), LogicalProcessorCount());
  unsigned held = 0;
  std::thread([&] {
    cpu_set_t set;
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    int first = 0;
    while (!CPU_ISSET(first, &set)) ++first;
    CPU_ZERO(&set);
    CPU_SET(first, &set);
    ASSERT_EQ(sched_setaffinity(0, sizeof set, &set), 0);
    held = UsableProcessorCount();
  }).join();
  EXPECT_EQ(held, 1u);
}
