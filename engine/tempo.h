#pragma once
// Tempo and first beat of a decoded track: onsets from a spectral flux in four frequency bands,
// a periodicity measure over the whole track, candidates at the metrical relatives of the
// strongest period scored against each other, an octave choice by where the drums fall, and a
// comb refinement. Deterministic: doubles and fixed summation orders throughout.
#include <array>
#include <cstdint>
#include <vector>

#include "base/track.h"

// Onset strength per frame in four bands of the mono mix: kick (up to 150 Hz), body (150-500 Hz),
// snare (500-2500 Hz) and high (2500 Hz up to about 5.5 kHz). Frame i is centred at
// i / framesPerSecond seconds.
struct OnsetBands {
  static constexpr size_t kBands = 4;
  enum Band { kKick, kBody, kSnare, kHigh };
  double framesPerSecond = 0.0;
  std::array<std::vector<float>, kBands> band;  // each rectified above its local mean, mean 1
  std::vector<float> all;                       // the bands summed
  // Onsets a listener would hear: frames whose rise over every band together stands clear of
  // the noise floor and above the frames beside it. A held tone has one, its start, however
  // long or quiet it is; normalised bands would turn its rounding noise into "onsets".
  size_t heardOnsets = 0;
  // The linear power per frame of the kick and body bands together and of the high band: the log
  // bands weigh a quiet bass note's start like a kick's and an open hat like a snare, the power
  // does not.
  std::vector<float> lowPower, highPower;
  double powerWindowS = 0.0;  // the length of the spectra's window
  // The decimated mix itself, fine enough to place a beat to a fraction of a millisecond.
  double mixRate = 0.0;
  std::vector<float> mix;
};
OnsetBands SpectralOnsets(const Track& track);
struct DecimatedMix;
OnsetBands SpectralOnsets(const DecimatedMix& mix);

// The comb score of one tempo over an onset envelope of `framesPerSecond` frames a second: the
// largest sum of onsets at beat positions over all whole-frame phases, and the first phase (in
// frames) that reaches it. -1 for a tempo whose beat is under one frame.
struct CombScore {
  double score = -1.0;
  int32_t phase = 0;
};
CombScore ScoreTempo(const std::vector<float>& onset, double bpm, double framesPerSecond);

// Tempo folded into [78, 180), snapped to a whole BPM within 0.05, and the first beat (seconds,
// within the first beat period, where the kicks start: the eighth the hats name, on the beat the
// kick's power and the backbeat name, placed on the mix's own attacks to well under a
// millisecond). Under 4 s of frames or with no periodic onsets: 120 BPM from 0 s.
struct TempoEstimate {
  double bpm = 120.0;
  double firstBeat = 0.0;
  // How far the strongest beat period stands above the typical period's strength, in spreads of
  // those: several for music with a beat, under 2 for speech over a held tone.
  double periodicity = 0.0;
};
TempoEstimate EstimateTempo(const OnsetBands& onsets);
