#pragma once
// Deck commands that move the play position or hold it in a loop: jog, seek, loops, rolls, the
// slicer, beat jumps, reverse, censor, slip and the stop effects. UI thread; each takes the
// engine lock for its work and does nothing without a track unless said otherwise.
#include <cstdint>

#include "base/track.h"

inline constexpr int kLoopSizeCount = 9;
inline constexpr double kLoopSizes[kLoopSizeCount] = {0.125, 0.25, 0.5, 1, 2, 4, 8, 16, 32};  // beats
inline constexpr int kRollSizeCount = 8;
inline constexpr double kRollSizes[kRollSizeCount] = {0.0625, 0.125, 0.25, 0.5, 1, 2, 4, 8};  // beats
inline constexpr int kSliceCount = 8;             // beats of the slicer's block
inline constexpr int kBrakeAction = 8;            // BrakeOrSpin action numbers
inline constexpr int kBackspinAction = 9;

// --- Jog and seek ---
void JogTouch(int deck);
// Moves the scratch target by `seconds` of track time while the jog is touched.
void JogScratch(int deck, double seconds);
// Ends a scratch; with SLIP on (and no loop or reverse) the deck returns to its shadow.
void JogRelease(int deck);
// Seeks to a fraction 0..1 of the track; ends the slip shadow and a loop left behind.
void SeekToFraction(int deck, double fraction);

// --- Loops ---
// The loop of `beats` beats starting on the current beat (sub-beat for loops under a beat),
// tolerant of a press 0.02 of a unit early. Frames.
void QuantisedLoopBounds(const Track& track, double position, double beats, double& start, double& end);
void ToggleAutoLoop(int deck);
// Steps the automatic loop size (also without a track) and resizes a running loop.
void ChangeLoopSize(int deck, int steps);
// Rolls (index into kRollSizes) and the slicer (beat n of the 8-beat block) loop over the slip
// shadow on a playing deck; EndLoopRoll ends either and drops back where the track would be.
void LoopRoll(int deck, int index);
void EndLoopRoll(int deck);
void SliceLoop(int deck, int n);
void LoopIn(int deck);
void LoopOut(int deck);
void Reloop(int deck);
// Halves (0.5) or doubles (2) the loop; refused below 10 ms.
void ScaleLoop(int deck, double factor);
// Moves the loop by n of its own lengths, within the track.
void MoveLoop(int deck, int n);

// --- Jumps and performance ---
// Jumps by `beats` on the grid (clamped to the track), taking a running loop along.
void BeatJump(int deck, double beats);
void ToggleReverse(int deck);
// Flips the SLIP switch (also without a track).
void ToggleSlip(int deck);
// CENSOR plays the track backwards over the slip shadow while held.
void CensorPress(int deck);
void CensorRelease(int deck);
// Starts a brake (kBrakeAction) or backspin (any other action) on a playing deck.
void BrakeOrSpin(int deck, int action);
