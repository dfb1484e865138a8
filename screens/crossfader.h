#pragma once
// The master section's cross-fader as the UI holds it (published to the engine each tick) and
// its glide, which the per-frame tick runs. UI thread.

// 0 = fully left, 1 = fully right.
extern float CrossfaderPosition;

struct CrossfaderGlide {
  bool active = false;
  float start = 0.0f;       // position when the glide began
  float target = 0.0f;      // 0 or 1
  double startTime = 0.0;   // seconds
};
extern CrossfaderGlide XfGlide;

// Starts a glide from the cross-fader's position now towards target (0 or 1) at nowSeconds on
// the MonotonicSeconds clock; a glide already running is replaced.
void StartCrossfaderGlide(float target, double nowSeconds);
// True while a glide towards target runs.
bool GlidingTowards(float target);
