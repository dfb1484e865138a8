#pragma once
// PLAY/PAUSE, CUE press and release, and the eight hot cues of each deck. UI thread; DeckState
// changes are made under the engine lock, DeckView changes outside it.
#include <cstdint>

#include "base/track.h"

inline constexpr double kCuePreviewWindowSeconds = 0.005;  // CUE this close to the cue point previews

// --- Transport ---
// Starts or pauses the deck (de-clicked); on its last frame it starts from the beginning; while
// CUE previews it only turns the preview into normal play. Nothing without a track.
void PlayPause(int deck);
// Playing: back to the cue point and pause. Paused on the cue point: preview while held.
// Paused elsewhere: the cue point moves to the position (quantised when Quantize is on).
void CuePress(int deck);
// Ends a CUE preview: the deck stops and returns to the cue point.
void CueRelease(int deck);

// --- Hot cues ---
// An empty slot stores the running loop or the position; a set slot is jumped to (re-entering
// its loop when it holds one).
void PressHotCue(int deck, int slot);
// Empties a set slot (position, name, colour) after an undo record; nothing for an empty slot.
void DeleteHotCue(int deck, int slot);
// Empties all eight slots after an undo record.
void ClearHotCues(int deck);
// Writes the deck's hot-cue names and colours and its memory cues to the library record of its
// track (positions are not written here). Nothing without a track.
void StoreDeckCues(int deck);

// --- Shared ---
// The nearest beat of the track's grid to `frames`, never below 0.
double QuantisePosition(const Track& track, double frames);
// `frames`, quantised when [Options] Quantize is on.
double MaybeQuantise(const Track& track, double frames);
