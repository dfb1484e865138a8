#pragma once
// Single-producer single-consumer ring of interleaved stereo frames. Sized before either side
// runs; RingWrite and RingRead never allocate, block or lock.
#include <atomic>
#include <cstdint>
#include <vector>

struct SpscRing {
  std::vector<float> buffer;  // 2 floats per frame
  uint64_t capacity = 1;      // frames
  std::atomic<uint64_t> written{0};
  std::atomic<uint64_t> read{0};
};

// Sizes the ring and empties it. Neither side may run while this is called.
void RingResize(SpscRing& ring, uint64_t frames);
// Frames waiting to be read.
uint64_t RingFill(const SpscRing& ring);
// Writes min(count, free) frames; the rest is dropped. Producer thread only.
uint64_t RingWrite(SpscRing& ring, const float* frames, uint64_t count);
// Reads min(count, fill) frames. Consumer thread only.
uint64_t RingRead(SpscRing& ring, float* out, uint64_t count);

// Steers a reader that follows a ring's writer across two clocks. The fill it sees jumps with the
// writer's blocks, so the steering follows the fill smoothed, and it holds the mean fill found
// over the first second rather than the fill it started at: that mean lies up to half a block
// away, and steering back from there would play a few cents flat or sharp for seconds and
// warble with every block.
struct RingFollower {
  double settledSeconds = 0.0;  // read so far, up to the settling time
  double fillSeconds = 0.0;     // fill x seconds while settling
  double smoothed = 0.0;
  double aim = 0.0;
};

// The nudge to the read step for a period of frames at rate with fill frames waiting: 0 while
// settling, then (smoothed fill - aim) / target x maxDrift within +-maxDrift; the aim stays within
// 0.5 .. 1.5 x target. A reader that jumps starts again with a fresh RingFollower.
double FollowRing(RingFollower& follower, double fill, uint32_t frames, int32_t rate, double target, double maxDrift);
