#pragma once
// The top bar's master-effect selection, published to the engine's master effect unit each tick.
// The sandbox saves and restores it as one block. UI thread.
#include <cstdint>

struct MasterFxSelection {
  int32_t effect = 0;   // 0..17, never 8 (BRAKE) or 9 (BACKSPIN)
  bool on = false;
  float amount = 0.5f;  // 0..1
  float beats = 0.5f;   // the effect's beat length
};
extern MasterFxSelection MasterFx;
