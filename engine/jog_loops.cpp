#include "engine/jog_loops.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "base/beat_grid.h"
#include "base/status_message.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/key_lock.h"
#include "engine/transport.h"

namespace {

constexpr double kLoopStartToleranceUnits = 0.02;  // a press this early still starts on the boundary
constexpr double kMinManualLoopSeconds = 0.02;     // LOOP OUT must come this long after LOOP IN
constexpr double kMinScaledLoopSeconds = 0.01;

double LastFrame(const Track& track) { return track.frames > 0 ? static_cast<double>(track.frames - 1) : 0.0; }

// The deck under the held engine lock, or null when it has no usable track.
DeckState* LoadedDeck(int deck) {
  if (!ValidDeck(deck)) return nullptr;
  DeckState& state = DeckStateOf(deck);
  return state.track && state.track->sampleRate > 0 ? &state : nullptr;
}

// The slip shadow starts where the deck is now, unless it already runs. Lock held.
void StartShadow(DeckState& state) {
  if (state.slipOn) return;
  state.slipPosition = state.position;
  state.slipOn = true;
}

// The deck drops back to where the track would be without the interruption. Lock held.
void ReturnToShadow(int deck, DeckState& state) {
  if (!state.slipOn) return;
  state.slipOn = false;
  SeekDeck(Engine, deck, state.slipPosition);
}

bool InLoop(const DeckState& state, double position) {
  return state.loopIn <= position && position < state.loopOut;
}

// Moves the position of a paused deck (silent, so no fade); a playing one seeks de-clicked.
void MoveTo(int deck, DeckState& state, double target) {
  if (state.playing || state.jogTouched) {
    SeekDeck(Engine, deck, target);
  } else {
    state.position = target;
    ResetStretch(state.stretch);
  }
}

}  // namespace

void JogTouch(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state) return;
  // A hand on the record stops it at once and holds it there: the follower starts from
  // standstill, and the render moves the target on by the distance the stop takes, so the deck
  // does not overshoot the touched place and rock about it.
  state->jogTarget = state->position;
  state->jogTouched = true;
  state->jogStopping = true;
  state->scratchSpeed = 0.0;
  state->stopMode = kStopNone;
  if (state->slipMode) StartShadow(*state);
}

void JogScratch(int deck, double seconds) {
  if (!std::isfinite(seconds)) return;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state || !state->jogTouched) return;
  state->jogTarget = std::clamp(state->jogTarget + seconds * state->track->sampleRate, 0.0, LastFrame(*state->track));
}

void JogRelease(int deck) {
  if (!ValidDeck(deck)) return;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState& state = DeckStateOf(deck);
  // A paused deck keeps the scratched position; the fade hides the stop of the scratch.
  if (!state.playing && state.track && state.jogTouched) StartDeclick(state);
  state.jogTouched = false;
  if (state.slipMode && !state.loopOn && !state.reverse && state.slipOn) ReturnToShadow(deck, state);
}

void SeekToFraction(int deck, double fraction) {
  if (!std::isfinite(fraction)) return;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state) return;
  state->slipOn = false;
  SeekDeck(Engine, deck, std::clamp(fraction, 0.0, 1.0) * static_cast<double>(state->track->frames));
  if (!state->playing) state->cuePoint = state->position;
  if (state->loopOn && !InLoop(*state, state->position)) state->loopOn = false;
}

void QuantisedLoopBounds(const Track& track, double position, double beats, double& start, double& end) {
  const double rate = track.sampleRate;
  const double unit = std::min(beats, 1.0);
  const double startBeat = std::floor(BeatAtTime(track, position / rate) / unit + kLoopStartToleranceUnits) * unit;
  start = std::max(0.0, TimeAtBeat(track, startBeat) * rate);
  end = std::max(TimeAtBeat(track, startBeat + beats) * rate, start + 1.0);
}

void ToggleAutoLoop(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state) return;
  if (state->loopOn) {
    state->loopOn = false;
    if (state->slipMode) ReturnToShadow(deck, *state);
    return;
  }
  const int index = std::clamp(LiveDeckViews[deck].loopSizeIndex, 0, kLoopSizeCount - 1);
  QuantisedLoopBounds(*state->track, state->position, kLoopSizes[index], state->loopIn, state->loopOut);
  state->loopOn = true;
  if (state->slipMode) StartShadow(*state);
}

void ChangeLoopSize(int deck, int steps) {
  if (!ValidDeck(deck)) return;
  DeckView& view = LiveDeckViews[deck];
  view.loopSizeIndex = std::clamp(view.loopSizeIndex + steps, 0, kLoopSizeCount - 1);
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state || !state->loopOn) return;
  const Track& track = *state->track;
  const double rate = track.sampleRate;
  const double firstBeat = BeatAtTime(track, state->loopIn / rate);
  state->loopOut = TimeAtBeat(track, firstBeat + kLoopSizes[view.loopSizeIndex]) * rate;
  if (state->position >= state->loopOut && state->loopOut > state->loopIn)
    SeekDeck(Engine, deck, state->loopIn + std::fmod(state->position - state->loopIn, state->loopOut - state->loopIn));
}

void LoopRoll(int deck, int index) {
  if (index < 0 || index >= kRollSizeCount) return;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state || !state->playing) return;
  StartShadow(*state);
  QuantisedLoopBounds(*state->track, state->position, kRollSizes[index], state->loopIn, state->loopOut);
  state->loopOn = true;
  LiveDeckViews[deck].rollIndex = index;
}

void EndLoopRoll(int deck) {
  if (!ValidDeck(deck) || LiveDeckViews[deck].rollIndex < 0) return;
  LiveDeckViews[deck].rollIndex = -1;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState& state = DeckStateOf(deck);
  state.loopOn = false;
  ReturnToShadow(deck, state);
}

void SliceLoop(int deck, int n) {
  if (n < 0 || n >= kSliceCount) return;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state || !state->playing) return;
  const Track& track = *state->track;
  const double rate = track.sampleRate;
  const double x = BeatAtTime(track, state->position / rate);
  const double beat = std::floor(x / kSliceCount) * kSliceCount + n;
  const double start = TimeAtBeat(track, beat) * rate;
  const double end = TimeAtBeat(track, beat + 1.0) * rate;
  if (!(start >= 0.0) || start >= static_cast<double>(track.frames) || start >= end) return;
  StartShadow(*state);
  state->loopIn = start;
  state->loopOut = end;
  state->loopOn = true;
  SeekDeck(Engine, deck, start + (x - std::floor(x)) * (end - start));  // same phase of the beat
  LiveDeckViews[deck].rollIndex = n;
}

void LoopIn(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state) return;
  const double t = MaybeQuantise(*state->track, state->position);
  state->loopOn = false;
  state->loopIn = t;
  state->loopOut = 0.0;
}

void LoopOut(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state) return;
  const double t = MaybeQuantise(*state->track, state->position);
  if (t <= state->loopIn + kMinManualLoopSeconds * state->track->sampleRate) {
    ShowStatus(L"Set LOOP IN first, then OUT a little later");
    return;
  }
  state->loopOut = t;
  state->loopOn = true;
  if (state->slipMode) StartShadow(*state);
}

void Reloop(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state || !(state->loopIn < state->loopOut)) return;
  if (state->loopOn) {
    state->loopOn = false;
    if (state->slipMode) ReturnToShadow(deck, *state);
    return;
  }
  state->loopOn = true;
  SeekDeck(Engine, deck, state->loopIn);
}

void ScaleLoop(int deck, double factor) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state || !(state->loopIn < state->loopOut)) return;
  const double length = (state->loopOut - state->loopIn) * factor;
  if (!std::isfinite(length) || !(length >= kMinScaledLoopSeconds * state->track->sampleRate)) return;
  state->loopOut = state->loopIn + length;
  if (state->loopOn && state->position >= state->loopOut)
    SeekDeck(Engine, deck, state->loopIn + std::fmod(state->position - state->loopIn, length));
}

void MoveLoop(int deck, int n) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state || !(state->loopIn < state->loopOut)) return;
  const double distance = (state->loopOut - state->loopIn) * n;
  if (state->loopIn + distance < 0.0 || state->loopOut + distance > static_cast<double>(state->track->frames)) return;
  state->loopIn += distance;
  state->loopOut += distance;
  if (state->loopOn) MoveTo(deck, *state, state->position + distance);
}

void BeatJump(int deck, double beats) {
  if (!std::isfinite(beats)) return;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state) return;
  const Track& track = *state->track;
  const double rate = track.sampleRate;
  const double target =
      std::clamp(TimeAtBeat(track, BeatAtTime(track, state->position / rate) + beats) * rate, 0.0, LastFrame(track));
  if (!std::isfinite(target)) return;
  if (state->loopOn) {
    state->loopIn += target - state->position;
    state->loopOut += target - state->position;
  }
  if (state->playing) {
    SeekDeck(Engine, deck, target);
  } else {
    state->cuePoint = target;
    MoveTo(deck, *state, target);
  }
}

void ToggleReverse(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state) return;
  if (state->playing || state->jogTouched) StartDeclick(*state);
  state->reverse = !state->reverse;
  if (!state->slipMode) return;
  if (state->reverse) StartShadow(*state);
  else ReturnToShadow(deck, *state);
}

void ToggleSlip(int deck) {
  if (!ValidDeck(deck)) return;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState& state = DeckStateOf(deck);
  state.slipMode = !state.slipMode;
  if (!state.slipMode) state.slipOn = false;
}

void CensorPress(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state || !state->playing || state->reverse) return;
  StartShadow(*state);
  StartDeclick(*state);
  state->reverse = true;
  LiveDeckViews[deck].censorHeld = true;
}

void CensorRelease(int deck) {
  if (!ValidDeck(deck) || !LiveDeckViews[deck].censorHeld) return;
  LiveDeckViews[deck].censorHeld = false;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState& state = DeckStateOf(deck);
  state.reverse = false;
  if (state.slipOn) ReturnToShadow(deck, state);
  else if (state.playing) StartDeclick(state);  // the direction still turns; fade across it
}

void BrakeOrSpin(int deck, int action) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState* state = LoadedDeck(deck);
  if (!state || !state->playing) return;
  state->stopElapsed = 0.0;
  state->stopMode = action == kBrakeAction ? kStopBrake : kStopBackspin;
}
