#pragma once
// Small helpers of the real-time render, shared by the deck, mixer and effect code and by the
// outputs' meters. None allocates once the work buffers are sized.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

inline constexpr double kTwoPi = 2.0 * std::numbers::pi;

// A control value from the UI, a controller or a script, clamped to lo..hi; fallback when it is
// not finite.
inline float ClampFiniteOr(float value, float fallback, float lo, float hi) {
  return std::isfinite(value) ? std::clamp(value, lo, hi) : fallback;
}

// Grows a work buffer to at least size; in the render this allocates only before
// PrepareRenderBuffers sized the buffer for the period.
template <typename T>
void GrowTo(std::vector<T>& v, size_t size) {
  if (v.size() < size) v.resize(size);
}

// Raises a meter to value when it is higher (an atomic maximum); the meter's reader resets it.
inline void RaiseAtomic(std::atomic<float>& meter, float value) {
  float seen = meter.load(std::memory_order_relaxed);
  while (value > seen && !meter.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
  }
}
