#pragma once
// A corpus of synthetic songs with a known key that a key analyser finds hard: harmonic-rich
// timbres (detuned sawtooth and square pads, piano-like struck partials, organ drawbars, distorted
// bass), the progression families I-V-vi-IV, ii-V-I, i-VI-III-VII and i-iv-v plus modal songs,
// borrowed chords and late modulations, a melody, drums on most, 100-140 BPM, some tuned off
// A = 440 and at several levels. Every piece is a pure function of its spec. Tests and benchmarks
// only.
#include <cstdint>
#include <string>
#include <vector>

#include "base/track.h"

struct KeyPiece {
  std::string family;       // "pop", "jazz", "minor-pop", "minor-iv-v", "dorian", "mixolydian", ...
  std::string name;         // unique file stem
  int32_t key = 0;          // the truth: 0-11 major, 12-23 minor (C = 0); the key held longest
  double bpm = 120.0;
  double seconds = 30.0;
  double cents = 0.0;       // tuning off A = 440
  double gainDb = -1.0;     // peak level of the mix
  bool drums = true;
  bool borrowed = false;    // one chord of each cycle taken from the parallel mode
  bool modulates = false;   // the last third a whole step up
  bool heldOut = false;     // kept apart from the pieces the key step was tuned on
  uint32_t seed = 1;
};

// `count` pieces cycling through the families, keys, timbres, tempi, tunings and levels; every
// fourth piece is held out.
std::vector<KeyPiece> KeyPieces(int count = 120);

// The stereo samples of a piece at 44.1 kHz.
Track SynthesizeKeyPiece(const KeyPiece& piece);

// How a found key relates to the truth, for scoring.
enum class KeyRelation { kExact, kRelative, kFifthAbove, kFifthBelow, kParallel, kOther };
KeyRelation RelateKey(int32_t found, int32_t truth);
// The MIREX weight of a relation: exact 1, fifth 0.5, relative 0.3, parallel 0.2, else 0.
double MirexWeight(KeyRelation relation);
