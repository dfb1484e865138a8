#pragma once
// Second-order IIR sections for the engine's fixed filters, analyser bands and effects.
// Coefficients are normalised (a0 = 1) and states are f64, processed in transposed direct form II.
// Designs follow the usual audio-EQ cookbook shapes; they set the coefficients only and keep the
// states, so a filter re-tuned between blocks does not restart from silence.
#include <cstdint>

// Q of a maximally flat (Butterworth) second-order section.
inline constexpr double kButterworthQ = 0.7071;

// A pass-through section until designed.
struct Biquad {
  double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
  double z1 = 0.0, z2 = 0.0;
};

// --- Design (f64 coefficients; states untouched) ---
// Each clamps frequencyHz into (0, 0.49 x rate) so a low device rate never yields an unstable
// section; a rate of 0 or less leaves the section passing its input unchanged.
void DesignLowPass(Biquad& filter, double frequencyHz, double q, int32_t rate);
void DesignHighPass(Biquad& filter, double frequencyHz, double q, int32_t rate);
// Unity-gain all-pass with the phase of the low-pass/high-pass pair at the same frequency and Q
// (b0 = a2, b1 = a1, b2 = 1): keeps the three-band crossover's bands in phase.
void DesignAllPass(Biquad& filter, double frequencyHz, double q, int32_t rate);
// Band-pass with 0 dB at its centre (alpha = sin(w) / (2 q)).
void DesignBandPass(Biquad& filter, double frequencyHz, double q, int32_t rate);

// Clears the two states (coefficients kept).
inline void ResetBiquad(Biquad& filter) {
  filter.z1 = 0.0;
  filter.z2 = 0.0;
}

// One sample through the section (transposed direct form II). Real-time safe.
inline double ProcessBiquad(Biquad& filter, double x) {
  const double y = filter.b0 * x + filter.z1;
  filter.z1 = filter.b1 * x - filter.a1 * y + filter.z2;
  filter.z2 = filter.b2 * x - filter.a2 * y;
  return y;
}
