#include "engine/biquad.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Highest design frequency as a fraction of the rate: tan(pi f / rate) stays finite below 0.5.
constexpr double kMaxFrequencyOfRate = 0.49;
constexpr double kMinFrequencyHz = 1e-3;

struct Cookbook {
  double cosW = 1.0;
  double alpha = 0.0;
  double a0 = 1.0;
};

// Shared terms of the cookbook designs; false when the rate cannot carry a filter.
bool CookbookTerms(double frequencyHz, double q, int32_t rate, Cookbook& terms) {
  if (rate <= 0 || !std::isfinite(frequencyHz) || !(q > 0.0)) return false;
  const double hz = std::clamp(frequencyHz, kMinFrequencyHz, kMaxFrequencyOfRate * rate);
  const double w = 2.0 * std::numbers::pi * hz / rate;
  terms.cosW = std::cos(w);
  terms.alpha = std::sin(w) / (2.0 * q);
  terms.a0 = 1.0 + terms.alpha;
  return true;
}

void SetNormalised(Biquad& f, const Cookbook& t, double b0, double b1, double b2) {
  f.b0 = b0 / t.a0;
  f.b1 = b1 / t.a0;
  f.b2 = b2 / t.a0;
  f.a1 = -2.0 * t.cosW / t.a0;
  f.a2 = (1.0 - t.alpha) / t.a0;
}

void SetPassThrough(Biquad& f) {
  f.b0 = 1.0;
  f.b1 = f.b2 = f.a1 = f.a2 = 0.0;
}

}  // namespace

void DesignLowPass(Biquad& filter, double frequencyHz, double q, int32_t rate) {
  Cookbook t;
  if (!CookbookTerms(frequencyHz, q, rate, t)) return SetPassThrough(filter);
  const double side = (1.0 - t.cosW) / 2.0;
  SetNormalised(filter, t, side, 1.0 - t.cosW, side);
}

void DesignHighPass(Biquad& filter, double frequencyHz, double q, int32_t rate) {
  Cookbook t;
  if (!CookbookTerms(frequencyHz, q, rate, t)) return SetPassThrough(filter);
  const double side = (1.0 + t.cosW) / 2.0;
  SetNormalised(filter, t, side, -(1.0 + t.cosW), side);
}

void DesignAllPass(Biquad& filter, double frequencyHz, double q, int32_t rate) {
  Cookbook t;
  if (!CookbookTerms(frequencyHz, q, rate, t)) return SetPassThrough(filter);
  SetNormalised(filter, t, 0.0, 0.0, 0.0);
  filter.b0 = filter.a2;
  filter.b1 = filter.a1;
  filter.b2 = 1.0;
}

void DesignBandPass(Biquad& filter, double frequencyHz, double q, int32_t rate) {
  Cookbook t;
  if (!CookbookTerms(frequencyHz, q, rate, t)) return SetPassThrough(filter);
  SetNormalised(filter, t, t.alpha, 0.0, -t.alpha);
}
