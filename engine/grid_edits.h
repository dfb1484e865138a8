#pragma once
// Every change of a loaded track's beat grid goes through EditBeatGrid: the edit runs on the
// deck's Track under the engine lock, the grid is put back in normal form and stored in the
// library. Tap tempo and the deck tool row's grid edits. UI thread.
#include <cstddef>
#include <functional>

#include "base/track.h"

inline constexpr double kMinGridBpm = 40.0;
inline constexpr double kMaxGridBpm = 250.0;
inline constexpr double kTapRunGapSeconds = 2.0;  // a longer pause starts a new tapping run
inline constexpr size_t kMaxTaps = 8;
inline constexpr size_t kMinTaps = 4;             // taps before a tempo is set
inline constexpr double kTapMinBpm = 70.0;        // tapped tempos are folded into 70..180
inline constexpr double kTapMaxBpm = 180.0;

using GridEdit = std::function<void(Track&)>;

// --- The one entry point ---
// Applies `edit` to the deck's Track under the engine lock, clamps BPM to 40..250, re-anchors the
// first beat into the first beat length, normalises the markers, then (outside the lock) writes
// the grid to the library record. Nothing without a track. Pushes no undo record.
void EditBeatGrid(int deck, const GridEdit& edit);
// Sorts the markers and drops those near beat 0, too close in time (0.05 s) or in beats (0.5).
void NormaliseTempoMarkers(Track& track);
// The track's grid, key and loudness into its library record, which then counts as analysed and
// no longer as imported. Nothing for a track without a path. UI thread.
void WriteGridToLibrary(const Track& track);

// --- Tap tempo ---
// One tap; from the fourth tap of a run sets the grid to the tapped tempo (converted to the
// track's own tempo and folded into 70..180) anchored at the play position. A run whose taps
// span no time gives no tempo and changes nothing. Pushes no undo record.
void TapTempo(int deck);
// TapTempo with the tap time given (seconds on the monotonic clock), for callers that stamp it.
void TapTempoAt(int deck, double nowSeconds);

// --- The grid edits of the deck tools and the grid editor ---
// BPM and every marker's beat number halve, or double.
GridEdit HalveTempoEdit();
GridEdit DoubleTempoEdit();
// First beat and every marker's time move by `seconds`.
GridEdit NudgeGridEdit(double seconds);
// Beat 0 moves to the deck's live play position; the markers keep their places. The edit reads
// the position when it runs (under the engine lock, inside EditBeatGrid).
GridEdit DownbeatEdit(int deck);

// --- The deck tool row: each pushes its undo record, then edits ---
void HalveTempo(int deck);
void DoubleTempo(int deck);
void NudgeGrid(int deck, double seconds);
void SetDownbeatHere(int deck);
