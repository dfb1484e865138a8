#include "engine/spsc_ring.h"

#include <algorithm>

namespace {

constexpr double kFollowSettleSeconds = 1.0;
constexpr double kFollowSmoothSeconds = 1.0;

}  // namespace

void RingResize(SpscRing& ring, uint64_t frames) {
  if (frames < 1) frames = 1;
  ring.buffer.assign(frames * 2, 0.0f);
  ring.capacity = frames;
  ring.written.store(0, std::memory_order_relaxed);
  ring.read.store(0, std::memory_order_release);
}

uint64_t RingFill(const SpscRing& ring) {
  return ring.written.load(std::memory_order_acquire) - ring.read.load(std::memory_order_acquire);
}

uint64_t RingWrite(SpscRing& ring, const float* frames, uint64_t count) {
  const uint64_t w = ring.written.load(std::memory_order_relaxed);
  const uint64_t r = ring.read.load(std::memory_order_acquire);
  const uint64_t n = std::min(count, ring.capacity - (w - r));
  // Two straight copies around the wrap instead of a modulo per frame.
  const uint64_t start = w % ring.capacity;
  const uint64_t first = std::min(n, ring.capacity - start);
  std::copy(frames, frames + first * 2, ring.buffer.data() + start * 2);
  std::copy(frames + first * 2, frames + n * 2, ring.buffer.data());
  ring.written.store(w + n, std::memory_order_release);
  return n;
}

uint64_t RingRead(SpscRing& ring, float* out, uint64_t count) {
  const uint64_t r = ring.read.load(std::memory_order_relaxed);
  const uint64_t w = ring.written.load(std::memory_order_acquire);
  const uint64_t n = std::min(count, w - r);
  const uint64_t start = r % ring.capacity;
  const uint64_t first = std::min(n, ring.capacity - start);
  std::copy(ring.buffer.data() + start * 2, ring.buffer.data() + (start + first) * 2, out);
  std::copy(ring.buffer.data(), ring.buffer.data() + (n - first) * 2, out + first * 2);
  ring.read.store(r + n, std::memory_order_release);
  return n;
}

double FollowRing(RingFollower& follower, double fill, uint32_t frames, int32_t rate, double target, double maxDrift) {
  if (rate <= 0 || target <= 0.0) return 0.0;
  const double seconds = static_cast<double>(frames) / rate;
  if (follower.settledSeconds < kFollowSettleSeconds) {
    follower.settledSeconds += seconds;
    follower.fillSeconds += fill * seconds;
    if (follower.settledSeconds < kFollowSettleSeconds) return 0.0;
    const double mean = follower.fillSeconds / follower.settledSeconds;
    follower.aim = std::clamp(mean, 0.5 * target, 1.5 * target);
    follower.smoothed = mean;
    return 0.0;
  }
  follower.smoothed += (fill - follower.smoothed) * std::min(1.0, seconds / kFollowSmoothSeconds);
  return std::clamp((follower.smoothed - follower.aim) / target * maxDrift, -maxDrift, maxDrift);
}
