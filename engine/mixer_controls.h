#pragma once
// The mixer's controls as the UI thread holds them: the cross-fader and its glide, the master
// section's levels and the master-effect selection. The per-frame tick publishes them to the
// engine, so the widgets that draw them never take the engine lock. Every command here acts
// without any widget being drawn: keys, controllers, the remote, macros and the self-tests call
// them. UI thread.
#include <cstdint>

// --- Cross-fader ---
inline constexpr int32_t kCrossfaderControlId = 19;

// 0 = fully left, 1 = fully right.
extern float CrossfaderPosition;

struct CrossfaderGlide {
  bool active = false;
  float start = 0.0f;       // position when the glide began
  float target = 0.0f;      // 0 or 1
  double startTime = 0.0;   // seconds
};
extern CrossfaderGlide XfGlide;

// Moves the cross-fader by step, clamped to 0..1; a running glide stops (the hand wins).
void NudgeCrossfader(float step);
// Starts a glide from the cross-fader's position now towards target (0 or 1) at nowSeconds on
// the MonotonicSeconds clock; a glide already running is replaced.
void StartCrossfaderGlide(float target, double nowSeconds);
// True while a glide towards target runs.
bool GlidingTowards(float target);
// One step of the running glide at nowMs (MonotonicMs): smoothstep from its start to its target
// over [Options] MixLen seconds. Ends at once when the cross-fader is dragged or Automix runs.
void GlideCrossfader(uint64_t nowMs);

// --- Master section ---
// The levels 0..1; the per-frame tick publishes them to the engine.
struct MasterSectionValues {
  float masterLevel = 0.8f;     // "MASTER"; 0.8 = unity
  float headphoneMix = 0.0f;    // "CUE/MST": 0 cue only, 1 master only
  float headphoneLevel = 0.8f;  // "PHONES"
  float samplerLevel = 0.8f;    // "SAMPLER"
  float boothLevel = 0.8f;      // "BOOTH"
};
extern MasterSectionValues MasterSection;

// --- Master effect ---
// Published to the engine's master effect unit each tick; the sandbox saves and restores it as
// one block.
struct MasterFxSelection {
  int32_t effect = 0;   // 0..17, never 8 (BRAKE) or 9 (BACKSPIN)
  bool on = false;
  float amount = 0.5f;  // 0..1
  float beats = 0.5f;   // the effect's beat length
};
extern MasterFxSelection MasterFx;

// The effect's default beat length; 0 when it has none (and for an index outside 0..17).
float MasterFxDefaultBeats(int32_t effect);
// The next (direction +1) or previous (-1) effect, skipping BRAKE and BACKSPIN, wrapping.
int32_t StepMasterFxEffect(int32_t effect, int direction);
// Steps the selection's effect and sets beats to the new effect's default (0.5 when it has none).
void StepMasterFx(int direction);
// Steps the selection's beat length to the next entry of kBeatLengths, or the previous one when
// back; nothing for an effect without a beat length.
void StepMasterFxBeats(bool back);
// Turns the master effect on or off.
void ToggleMasterFx();
