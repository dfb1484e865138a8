#include "engine/transport.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>

#include "base/beat_grid.h"
#include "base/settings.h"
#include "base/track_info.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/key_lock.h"
#include "engine/undo.h"

namespace {

bool ValidSlot(int slot) { return slot >= 0 && slot < kHotCues; }

double LastFrame(const Track& track) { return track.frames > 0 ? static_cast<double>(track.frames - 1) : 0.0; }

// A deck this close to its last frame counts as at the end: a position saved in the session with
// six decimals comes back a fraction of a frame short of it.
constexpr double kAtEndFrames = 1.0;

// A still deck starts from silence: fade in from 0 so the first sample is no step.
void StartPlaying(DeckState& state) {
  state.fadeIn = 0.0f;
  state.playing = true;
}

}  // namespace

double QuantisePosition(const Track& track, double frames) {
  const double rate = track.sampleRate;
  if (!(rate > 0.0)) return std::max(0.0, frames);
  const double beat = std::round(BeatAtTime(track, frames / rate));
  return std::max(0.0, TimeAtBeat(track, beat) * rate);
}

double MaybeQuantise(const Track& track, double frames) {
  return Settings.Quantize ? QuantisePosition(track, frames) : frames;
}

void PlayPause(int deck) {
  if (!ValidDeck(deck)) return;
  DeckView& view = LiveDeckViews[deck];
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState& state = DeckStateOf(deck);
  if (!state.track) return;
  if (view.cuePreview) {  // PLAY while CUE is held keeps the deck playing
    view.cuePreview = false;
    return;
  }
  if (state.playing) {
    StartDeclick(state);
    state.stopMode = kStopNone;
    state.playing = false;
    return;
  }
  // At the end PLAY starts over where a freshly loaded track would: on the cue point.
  const double last = LastFrame(*state.track);
  if (state.position >= last - kAtEndFrames)
    state.position = state.cuePoint >= 0.0 && state.cuePoint < last - kAtEndFrames ? state.cuePoint : 0.0;
  StartPlaying(state);
}

void CuePress(int deck) {
  if (!ValidDeck(deck)) return;
  DeckView& view = LiveDeckViews[deck];
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState& state = DeckStateOf(deck);
  if (!state.track) return;
  if (state.playing) {
    StartDeclick(state);
    state.playing = false;
    state.position = state.cuePoint;
    view.cuePreview = false;
    return;
  }
  const double window = kCuePreviewWindowSeconds * state.track->sampleRate;
  if (std::abs(state.position - state.cuePoint) <= window) {
    StartPlaying(state);
    view.cuePreview = true;
    return;
  }
  const double cue = MaybeQuantise(*state.track, state.position);
  state.cuePoint = cue;
  state.position = cue;
  ResetStretch(state.stretch);
}

void CueRelease(int deck) {
  if (!ValidDeck(deck)) return;
  DeckView& view = LiveDeckViews[deck];
  if (!view.cuePreview) return;
  view.cuePreview = false;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState& state = DeckStateOf(deck);
  if (state.playing && state.track) {
    StartDeclick(state);
    state.playing = false;
  }
  state.position = state.cuePoint;
}

void PressHotCue(int deck, int slot) {
  if (!ValidDeck(deck) || !ValidSlot(slot)) return;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState& state = DeckStateOf(deck);
  if (!state.track) return;
  if (state.hotCueStart[slot] < 0.0) {
    if (state.loopOn && state.loopOut > state.loopIn) {
      state.hotCueStart[slot] = state.loopIn;
      state.hotCueEnd[slot] = state.loopOut;
    } else {
      state.hotCueStart[slot] = MaybeQuantise(*state.track, state.position);
      state.hotCueEnd[slot] = kNoHotCue;
    }
    return;
  }
  const double start = state.hotCueStart[slot];
  if (state.hotCueEnd[slot] > start) {
    state.loopIn = start;
    state.loopOut = state.hotCueEnd[slot];
    state.loopOn = true;
  }
  if (state.playing) {
    SeekDeck(Engine, deck, start);
  } else {
    state.cuePoint = start;
    state.position = start;
    ResetStretch(state.stretch);
  }
}

void DeleteHotCue(int deck, int slot) {
  if (!ValidDeck(deck) || !ValidSlot(slot)) return;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    const DeckState& state = DeckStateOf(deck);
    if (!state.track || state.hotCueStart[slot] < 0.0) return;
  }
  PushUndo(deck, L"deleted hot cue " + std::to_wstring(slot + 1));
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckState& state = DeckStateOf(deck);
    state.hotCueStart[slot] = kNoHotCue;
    state.hotCueEnd[slot] = kNoHotCue;
  }
  LiveDeckViews[deck].hotCueName[slot].clear();
  LiveDeckViews[deck].hotCueColour[slot] = kNoColour;
}

void ClearHotCues(int deck) {
  if (!ValidDeck(deck)) return;
  PushUndo(deck, L"cleared all hot cues");
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckState& state = DeckStateOf(deck);
    std::fill(std::begin(state.hotCueStart), std::end(state.hotCueStart), kNoHotCue);
    std::fill(std::begin(state.hotCueEnd), std::end(state.hotCueEnd), kNoHotCue);
  }
  DeckView& view = LiveDeckViews[deck];
  for (std::wstring& name : view.hotCueName) name.clear();
  view.hotCueColour.fill(kNoColour);
}

void StoreDeckCues(int deck) {
  if (!ValidDeck(deck)) return;
  TrackPtr track;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    track = DeckStateOf(deck).track;
  }
  if (!track) return;
  const DeckView& view = LiveDeckViews[deck];
  TrackInfo& record = TrackInfoFor(track->path);
  record.hotCueName = view.hotCueName;
  record.hotCueColor = view.hotCueColour;
  record.memoryCues = view.memoryCues;
}
