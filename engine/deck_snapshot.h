#pragma once
// The per-frame copy of the four engine decks and the sampler that the screens and the per-frame
// commands read, so that they never hold the engine lock while drawing. UI thread.
#include <array>
#include <cstdint>
#include <string>

#include "engine/engine.h"
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

// The eight engine pads and the pad recording, as the sampler page draws them.
struct SamplerSnapshot {
  std::array<std::wstring, kEnginePads> padName;
  std::array<bool, kEnginePads> padPlaying = {};
  bool recording = false;         // a pad recording is armed or running
  float recordProgress = 0.0f;    // frames recorded / the recording buffer's frames
  std::wstring recordingName;     // "REC n" of the target pad until the sound is installed
};

extern DeckSnapshot DeckSnapshots[kSnapshotDecks];
extern SamplerSnapshot SamplerShot;

// Copies the four live engine decks, the pads' names and playing flags and the pad-recording
// status under the engine lock. Tracks go by shared-pointer assignment and a pad name only when
// it changed, so the lock is held for little more than plain copies; tracks the snapshots let go
// are released after the lock. UI thread (per-frame tick).
void SnapshotDecks();
