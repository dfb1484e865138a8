#pragma once
// The per-frame copy of the four engine decks and the sampler that the screens and the per-frame
// commands read, so that they never hold the engine lock while drawing. UI thread.
#include <array>
#include <cstdint>
#include <string>

#include "base/track.h"
#include "engine/engine.h"

// Where the deck stands, as DeckState's DeckPlace.
struct DeckSnapshot : DeckPlace {
  bool stopEffect = false;        // a brake or backspin runs
};

// The eight engine pads and the pad recording, as the sampler page draws them.
struct SamplerSnapshot {
  std::array<std::wstring, kEnginePads> padName;
  std::array<bool, kEnginePads> padPlaying = {};
  bool recording = false;         // a pad recording is armed or running
  float recordProgress = 0.0f;    // frames recorded / the recording buffer's frames
  std::wstring recordingName;     // "REC n" of the target pad until the sound is installed
};

extern DeckSnapshot DeckSnapshots[kEngineDecks];
extern SamplerSnapshot SamplerShot;

// Copies the four live engine decks, the pads' names and playing flags and the pad-recording
// status under the engine lock. Tracks go by shared-pointer assignment and a pad name only when
// it changed, so the lock is held for little more than plain copies; tracks the snapshots let go
// are released after the lock. UI thread (per-frame tick).
void SnapshotDecks();
