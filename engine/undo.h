#pragma once
// One program-wide undo stack for the cue and beat-grid edits of all decks, the decks' memory
// cues (seconds, ascending) and AUTO CUES, which puts cues on the phrases. UI thread only.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/track.h"
#include "engine/deck_view.h"

inline constexpr size_t kUndoLimit = 50;                // records kept; the oldest goes first
inline constexpr double kMemoryCueSpacingSeconds = 0.05;  // closer than this: "already a cue here"

// One undo step: what a deck's cues and grid were before an edit.
struct UndoRecord {
  int32_t deck = 0;
  std::wstring trackPath;  // the track loaded when the record was made
  std::wstring label;      // shown as "Undone: " + label
  double cuePoint = 0.0;   // frames
  std::array<double, kHotCues> hotCueStart = {-1, -1, -1, -1, -1, -1, -1, -1};  // frames
  std::array<double, kHotCues> hotCueEnd = {-1, -1, -1, -1, -1, -1, -1, -1};
  std::array<std::wstring, kHotCues> hotCueName;
  std::array<int32_t, kHotCues> hotCueColour = {-1, -1, -1, -1, -1, -1, -1, -1};
  std::vector<double> memoryCues;  // seconds
  double bpm = 120.0;
  double firstBeat = 0.0;          // seconds
  std::vector<TempoMarker> tempoMarkers;
};

// The stack, newest last.
extern std::vector<UndoRecord> UndoStack;

// --- Undo ---
// Records the deck's cues and grid before a destructive edit; nothing without a track. Keeps at
// most kUndoLimit records. Takes the engine lock briefly to read the deck.
void PushUndo(int deck, const std::wstring& label);
// Restores the newest record whose track is still loaded on its deck, dropping the ones that no
// longer match; says "Nothing to undo" when none is left.
void Undo();

// --- Memory cues ---
// Adds a memory cue at the play position (quantised when Quantize is on) unless one lies within
// 0.05 s; stores the cues in the library and reports on the status line.
void AddMemoryCue(int deck);
// Removes the memory cue nearest the play position (the earlier on a tie), after an undo record.
void DeleteMemoryCue(int deck);
// Jumps to the next (direction >= 0) or previous memory cue. A playing deck skips back past a
// cue it passed less than 0.5 s ago.
void JumpMemoryCue(int deck, int direction);

// --- Auto cues ---
// Puts a memory cue and, while slots are free, a named and coloured hot cue on every phrase of
// the deck's phrase list that has none within half a beat; pushes "auto cues" first.
void AutoCues(int deck);
// The twelve hot-cue colour index for a phrase kind (INTRO, DROP, BREAK, OUTRO), from the skin.
int32_t PhraseCueColour(int32_t kind);
