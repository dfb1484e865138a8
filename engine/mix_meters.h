#pragma once
// The mix meters the per-frame tick fills and the screens draw. UI thread.
#include <array>
#include <cstdint>

#include "engine/engine.h"

// The meters as the top bar and the mixer draw them; the deck meters live in the DeckViews.
struct MixMeters {
  float masterLeft = 0.0f;
  float masterRight = 0.0f;
  float microphone = 0.0f;
  float limiterDb = 0.0f;           // the limiter's gain reduction (LIMIT bar)
  std::array<float, kSpectrumBands> spectrum = {};
  uint64_t clipUntilMs = 0;         // MonotonicMs(); the clip light is on until then
  float load = 0.0f;                // shown audio load, fraction of a period
  float loadHighest = 0.0f;         // the highest load seen since start
  uint32_t dropouts = 0;            // the engine's three dropout counts, summed at the last tick
  uint64_t dropoutRiseMs = 0;       // when that count last rose (the top bar's warning)
  bool dropoutLogged = false;       // a dropout line was written
  uint32_t dropoutsLogged = 0;      // the count that line reported
  uint64_t dropoutLogMs = 0;        // when it was written
};
extern MixMeters Meters;
