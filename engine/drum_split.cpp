#include "engine/drum_split.h"

#include <numbers>

namespace {

// Exactly 1/sqrt(2): only then do the squared low- and high-pass add up to the all-pass.
constexpr double kLinkwitzRileyQ = std::numbers::sqrt2 / 2.0;

double TwoStages(Biquad (&stages)[2], double x) { return ProcessBiquad(stages[1], ProcessBiquad(stages[0], x)); }

}  // namespace

void DesignDrumSplit(DrumSplit& split, int32_t rate) {
  for (int s = 0; s < 2; ++s) {
    DesignLowPass(split.kickLow[s], kKickSplitHz, kLinkwitzRileyQ, rate);
    DesignHighPass(split.kickHigh[s], kKickSplitHz, kLinkwitzRileyQ, rate);
    DesignLowPass(split.hatLow[s], kHatSplitHz, kLinkwitzRileyQ, rate);
    DesignHighPass(split.hatHigh[s], kHatSplitHz, kLinkwitzRileyQ, rate);
  }
  DesignAllPass(split.lowPhase, kHatSplitHz, kLinkwitzRileyQ, rate);
}

void DesignSplitPhase(SplitPhase& phase, int32_t rate) {
  DesignAllPass(phase.kick, kKickSplitHz, kLinkwitzRileyQ, rate);
  DesignAllPass(phase.hat, kHatSplitHz, kLinkwitzRileyQ, rate);
}

void ResetDrumSplit(DrumSplit& split) {
  for (int s = 0; s < 2; ++s) {
    ResetBiquad(split.kickLow[s]);
    ResetBiquad(split.kickHigh[s]);
    ResetBiquad(split.hatLow[s]);
    ResetBiquad(split.hatHigh[s]);
  }
  ResetBiquad(split.lowPhase);
}

void ResetSplitPhase(SplitPhase& phase) {
  ResetBiquad(phase.kick);
  ResetBiquad(phase.hat);
}

DrumBands SplitDrums(DrumSplit& split, double x) {
  DrumBands bands;
  bands.low = ProcessBiquad(split.lowPhase, TwoStages(split.kickLow, x));
  const double rest = TwoStages(split.kickHigh, x);
  bands.mid = TwoStages(split.hatLow, rest);
  bands.high = TwoStages(split.hatHigh, rest);
  return bands;
}
