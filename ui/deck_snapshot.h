#pragma once
// The per-frame copy of the four engine decks that the screens and the per-frame commands read,
// so that they never hold the engine lock while drawing. UI thread.
#include <array>
#include <cstdint>

#include "engine/track.h"

inline constexpr int kSnapshotDecks = 4;

struct DeckSnapshot {
  TrackPtr track;                 // null when the deck is empty
  double position = 0.0;          // frames of the track's own rate
  double cuePoint = 0.0;          // frames
  std::array<double, 8> hotCueStart = {-1, -1, -1, -1, -1, -1, -1, -1};  // frames, -1 = empty
  std::array<double, 8> hotCueEnd = {-1, -1, -1, -1, -1, -1, -1, -1};
  double loopIn = 0.0;            // frames; a loop exists when loopOut > loopIn
  double loopOut = 0.0;
  bool playing = false;
  bool jogTouched = false;
  bool loopOn = false;
  bool reverse = false;
  bool slipMode = false;
  bool slipOn = false;
  bool stopEffect = false;        // a brake or backspin runs
  double slipPosition = 0.0;      // frames
};

extern DeckSnapshot DeckSnapshots[kSnapshotDecks];

// Copies the four live engine decks into DeckSnapshots under the engine lock (the track by
// shared-pointer assignment, which neither allocates nor frees a track while the lock is held).
void SnapshotDecks();
