#pragma once
// Commands on a whole deck or on the engine's side players: the SANDBOX (the crowd keeps the mix
// as it was while the DJ rehearses the next one in the headphones), eject, instant double, the
// headphone prelisten of a file, loading a sound file into a sampler slot and triggering a pad.
// UI thread; workers only decode and post.
#include <cstdint>
#include <string>

#include "base/track.h"
#include "engine/deck_view.h"
#include "engine/mixer_controls.h"

// The completion number of a sampler-slot load (wparam = slot, lparam = a new TrackPtr).
inline constexpr int kSamplerSlotPost = 7;
inline constexpr double kMaxSampleSeconds = 60.0;   // longer sound files are refused
inline constexpr double kPrelistenStartFraction = 0.3;  // prelisten starts 30 % into the track
inline constexpr int kSandboxOnStatusMs = 5000;
inline constexpr int kSandboxOffStatusMs = 3000;

// The UI side of the sandbox, with what it saved when it started.
struct SandboxState {
  bool on = false;
  double since = 0.0;                // seconds (MonotonicSeconds) when it was switched on
  float savedCrossfader = 0.5f;
  MasterFxSelection savedMasterFx;
};
extern SandboxState Sandbox;

// The headphone prelisten as the UI keeps it.
struct PrelistenState {
  std::wstring path;     // the file prelistened; empty = none
  bool on = false;
  bool loading = false;  // a decode is in flight
  uint32_t serial = 0;   // raised by every request and stop; older completions are dropped
};
extern PrelistenState Prelisten;

// Handed to a sampler-slot worker; freed by it.
struct SampleLoadJob {
  int32_t slot = 0;  // bank x 8 + pad
  std::wstring path;
};

// --- Sandbox ---
// True when the headphones can be heard apart from the master: not in external-mixer mode, and
// split on the master output or on an output of their own that runs. Takes the lock.
bool HeadphoneOutputUsable();
// Enters or leaves the sandbox. Entering drops a deck load still in flight (its track would
// otherwise become the crowd's deck's on leaving); leaving puts back the decks' controls as they
// were, and the whole deck view of any deck whose track changed meanwhile.
void ToggleSandbox();
// Copies every field of a DeckView; the shared progress and cancel values are shared.
void CopyDeckView(DeckView& destination, const DeckView& source);

// --- Decks ---
// Takes the track off a paused deck and forgets its cues, stems and any load in flight.
void EjectDeck(int deck);
// Copies deck `from` onto the paused deck `to`, in step when `from` plays. Refused in the sandbox.
void InstantDouble(int to, int from);

// --- Prelisten ---
void StopPrelisten();
// The same path again stops; any other path starts decoding it for the headphones.
void TogglePrelisten(const std::wstring& path);
// The prelisten completion (wparam serial, lparam a TrackPtr holder, null track on failure):
// a stale one is dropped; a good one starts playing 30 % into the track. Frees the holder.
void OnPrelistenReady(uintptr_t serial, TrackPtr* sound);

// --- Sampler slots and pads ---
// Starts a worker that decodes the file for slot 0..31 and posts kSamplerSlotPost.
void LoadSamplerSlot(int slot, const std::wstring& path);
// Worker body: decodes without analysis; a sound over 60 s is posted as a failure. Frees the job.
void SampleLoadThread(SampleLoadJob* job);
// A looping pad that plays stops; any other pad with a sound plays from its start.
void TriggerSamplerPad(int pad);
