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
