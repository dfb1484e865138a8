#pragma once
// Song structure in blocks of 32 beats, found from a track's waveform summary: where a quiet
// intro ends, where the energy jumps (drop) or falls (break), and where the outro begins.
#include <cstdint>
#include <vector>

#include "base/track.h"

enum PhraseKind : int32_t {
  kPhraseIntro = 0,
  kPhraseDrop = 1,
  kPhraseBreak = 2,
  kPhraseOutro = 3,
};

inline constexpr int32_t kPhraseBeats = 32;  // beats per analysed block

struct Phrase {
  double beat = 0.0;  // from firstBeat; a multiple of 32
  PhraseKind kind = kPhraseIntro;
};

// The kind's word as labels and cue names show it; any value that is not 0, 1 or 2 is an outro.
const char* PhraseKindName(int32_t kind);

// The phrases of `track` in ascending beat order: INTRO at 0 when the first block is quiet, DROP
// and BREAK where the block energy jumps, OUTRO where the quiet tail starts. Empty when the track
// has no waveform, an unusable grid or fewer than three blocks. Reads only; allocates.
std::vector<Phrase> AnalyzePhrases(const Track& track);
