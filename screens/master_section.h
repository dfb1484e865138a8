#pragma once
// The mixer's master-section levels as the UI holds them (0..1); the per-frame tick publishes
// them to the engine, so the mixer never takes the engine lock. UI thread.

struct MasterSectionValues {
  float masterLevel = 0.8f;     // "MASTER"; 0.8 = unity
  float headphoneMix = 0.0f;    // "CUE/MST": 0 cue only, 1 master only
  float headphoneLevel = 0.8f;  // "PHONES"
  float samplerLevel = 0.8f;    // "SAMPLER"
  float boothLevel = 0.8f;      // "BOOTH"
};
extern MasterSectionValues MasterSection;
