#pragma once
// Where the harmony moves on an eighth-note grid: chords and bass notes change on the beat, and
// most of all on a bar's first, far less often half-way between beats.
#include <vector>

// The chroma change at the even eighths of the grid from `onSeconds` (every `beatSeconds` / 2)
// against that at the odd ones, -1..1: positive when the harmony moves on the even eighths. Each
// eighth's change is the cosine distance between the pitch classes of the eighth before and after
// it, weighed by the quieter one's level. 0 without a rate, for eighths shorter than 512 samples,
// with under eight eighths of mix, or with no pitch content.
double HarmonicChangeContrast(const std::vector<float>& mix, double mixRate, double onSeconds, double beatSeconds);
