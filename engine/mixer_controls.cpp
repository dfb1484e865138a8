#include "engine/mixer_controls.h"

#include <algorithm>

#include "base/settings.h"
#include "engine/automix.h"
#include "engine/control_input.h"
#include "engine/effects.h"

float CrossfaderPosition = 0.5f;
CrossfaderGlide XfGlide;
MasterSectionValues MasterSection;
MasterFxSelection MasterFx;

namespace {
constexpr double kMsPerSecond = 1000.0;
constexpr int32_t kMinMixSeconds = 1;  // guards the glide against a zero length
constexpr float kFallbackBeats = 0.5f;
static_assert(kEffectCount == 18, "the master effect steps through eighteen effects");
}  // namespace

// ---- cross-fader --------------------------------------------------------------------------------

void NudgeCrossfader(float step) {
  XfGlide.active = false;  // the hand on the fader wins over a glide
  CrossfaderPosition = std::clamp(CrossfaderPosition + step, 0.0f, 1.0f);
}

void StartCrossfaderGlide(float target, double nowSeconds) {
  XfGlide = CrossfaderGlide{.active = true, .start = CrossfaderPosition, .target = target, .startTime = nowSeconds};
}

bool GlidingTowards(float target) { return XfGlide.active && XfGlide.target == target; }

void GlideCrossfader(uint64_t nowMs) {
  if (!XfGlide.active) return;
  if (ActiveControlId == kCrossfaderControlId || Automix.on) {
    XfGlide.active = false;
    return;
  }
  const double length = std::max(Settings.MixLen, kMinMixSeconds);
  const double t = std::clamp((static_cast<double>(nowMs) / kMsPerSecond - XfGlide.startTime) / length, 0.0, 1.0);
  const double eased = t * t * (3.0 - 2.0 * t);
  CrossfaderPosition = static_cast<float>(XfGlide.start + (XfGlide.target - XfGlide.start) * eased);
  if (t >= 1.0) XfGlide.active = false;
}

// ---- master effect ------------------------------------------------------------------------------

float MasterFxDefaultBeats(int32_t effect) {
  if (effect < 0 || effect >= kEffectCount) return 0.0f;
  return kEffects[effect].defaultBeats;
}

int32_t StepMasterFxEffect(int32_t effect, int direction) {
  const int32_t step = direction < 0 ? kEffectCount - 1 : 1;
  int32_t next = ((effect % kEffectCount) + kEffectCount) % kEffectCount;
  do {
    next = (next + step) % kEffectCount;
  } while (next == kFxBrake || next == kFxBackspin);
  return next;
}

void StepMasterFx(int direction) {
  MasterFx.effect = StepMasterFxEffect(MasterFx.effect, direction);
  const float beats = MasterFxDefaultBeats(MasterFx.effect);
  MasterFx.beats = beats > 0 ? beats : kFallbackBeats;
}

void StepMasterFxBeats(bool back) {
  if (MasterFxDefaultBeats(MasterFx.effect) <= 0) return;
  MasterFx.beats = StepBeatLength(MasterFx.beats, back);
}

void ToggleMasterFx() { MasterFx.on = !MasterFx.on; }
