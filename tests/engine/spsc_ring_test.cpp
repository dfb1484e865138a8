#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "engine/spsc_ring.h"

TEST(SpscRing, FullAndEmptyEdges) {
  SpscRing ring;
  RingResize(ring, 4);
  float in[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  float out[10] = {};
  EXPECT_EQ(RingRead(ring, out, 1), 0u);
  EXPECT_EQ(RingWrite(ring, in, 5), 4u);  // one frame dropped
  EXPECT_EQ(RingWrite(ring, in, 1), 0u);  // full
  EXPECT_EQ(RingRead(ring, out, 3), 3u);
  EXPECT_EQ(out[4], 5.0f);
  EXPECT_EQ(RingWrite(ring, in + 6, 2), 2u);  // wraps
  EXPECT_EQ(RingRead(ring, out, 10), 3u);
  EXPECT_EQ(std::vector<float>(out, out + 6), (std::vector<float>{7, 8, 7, 8, 9, 10}));
}

TEST(SpscRing, TwoThreadsPassEveryFrameInOrder) {
  SpscRing ring;
  RingResize(ring, 64);
  constexpr uint64_t kFrames = 200000;
  std::thread producer([&] {
    float f[2 * 7];
    uint64_t next = 0;
    while (next < kFrames) {
      uint64_t n = std::min<uint64_t>(7, kFrames - next);
      for (uint64_t i = 0; i < n; ++i) f[2 * i] = f[2 * i + 1] = static_cast<float>(next + i);
      next += RingWrite(ring, f, n);
    }
  });
  uint64_t expected = 0;
  bool ordered = true;
  float g[2 * 13];
  while (expected < kFrames) {
    uint64_t n = RingRead(ring, g, 13);
    for (uint64_t i = 0; i < n; ++i) ordered &= g[2 * i] == static_cast<float>(expected + i) && g[2 * i + 1] == g[2 * i];
    expected += n;
  }
  producer.join();
  EXPECT_TRUE(ordered);
  EXPECT_EQ(RingFill(ring), 0u);
}
