#pragma once
// The KICK / HI-HAT split of the drums part: Linkwitz-Riley crossovers (two Butterworth stages on
// each side) at 110 Hz and 7 kHz. A causal split's bands add up to the input only through
// all-passes, so the sound that is not cut goes through the same all-passes (SplitPhase): with a
// band at 0, everything else keeps its level and its phase against the rest of the deck.
// Coefficients only change in the designs; processing is real-time safe.
#include <cstdint>

#include "engine/biquad.h"

inline constexpr double kKickSplitHz = 110.0;
inline constexpr double kHatSplitHz = 7000.0;

struct DrumBands {
  double low = 0.0, mid = 0.0, high = 0.0;
};

// One channel of the split.
struct DrumSplit {
  Biquad kickLow[2], kickHigh[2];  // the KICK crossover
  Biquad hatLow[2], hatHigh[2];    // the HI-HAT crossover, on what lies above the kick
  Biquad lowPhase;                 // the low band takes the HI-HAT crossover's phase
};

// The all-passes that the split's bands add up to, for a signal that is not split.
struct SplitPhase {
  Biquad kick, hat;
};

void DesignDrumSplit(DrumSplit& split, int32_t rate);
void DesignSplitPhase(SplitPhase& phase, int32_t rate);
void ResetDrumSplit(DrumSplit& split);
void ResetSplitPhase(SplitPhase& phase);

// One sample into its three bands; low + mid + high equals ShiftLikeSplit of the same input.
DrumBands SplitDrums(DrumSplit& split, double x);
// One sample through the split's all-passes.
inline double ShiftLikeSplit(SplitPhase& phase, double x) {
  return ProcessBiquad(phase.hat, ProcessBiquad(phase.kick, x));
}
