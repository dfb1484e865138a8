#include "control/controller_state.h"

#include <algorithm>
#include <mutex>

#include "base/settings.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/jog_loops.h"
#include "engine/mixer_controls.h"
#include "engine/side_slots.h"
#include "engine/transport.h"

float PitchTakeover[4] = {-1.0f, -1.0f, -1.0f, -1.0f};

namespace {

constexpr double kJogTurnSeconds = 1.8;    // audio under one full jog turn
constexpr int32_t kMinJogTicks = 32;
constexpr float kJogFeelFactors[3] = {0.6f, 1.0f, 1.6f};
constexpr double kJogNudgePerTick = 0.006;
constexpr float kMaxJogNudge = 0.3f;
constexpr double kSearchSecondsPerTick = 0.25;

double JogSecondsPerTick() {
  const int ticks = std::max<int>(Settings.JogTicks, kMinJogTicks);
  const float feel = kJogFeelFactors[std::clamp<int>(Settings.JogFeel, 0, 2)];
  return kJogTurnSeconds / ticks * feel;
}

}  // namespace

void HoldWidget(int32_t id, bool press) {
  if (press) {
    if (heldIds.insert(id).second) pressedIds.insert(id);
  } else if (heldIds.erase(id) != 0) {
    releasedIds.insert(id);
  }
}

bool IsShiftHeld() { return IsUiControlHeld(); }

void SetJogTouch(int deck, bool touched) {
  if (!ValidDeck(deck)) return;
  DeckView& view = LiveDeckViews[deck];
  view.jogHeld = touched;
  if (!touched) {
    if (view.jogScratching) JogRelease(deck), view.jogScratching = false;
    return;
  }
  if (!view.vinylMode || view.jogScratching) return;
  bool hasTrack = false;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    hasTrack = static_cast<bool>(DeckStateOf(deck).track);
  }
  if (hasTrack) JogTouch(deck), view.jogScratching = true;
}

void JogTurn(int deck, int32_t ticks, bool search) {
  if (!ValidDeck(deck) || ticks == 0) return;
  DeckView& view = LiveDeckViews[deck];
  if (view.jogScratching && !search) {
    JogScratch(deck, JogSecondsPerTick() * ticks);
    return;
  }
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState& state = DeckStateOf(deck);
  if (!state.track) return;
  const double last = std::max(0.0, static_cast<double>(state.track->frames) - 1.0);
  const double rate = state.track->sampleRate;
  if (search) {
    const double p = std::clamp(state.position + ticks * kSearchSecondsPerTick * rate, 0.0, last);
    if (state.playing) SeekDeck(Engine, deck, p);
    else state.position = state.cuePoint = p;
  } else if (state.playing) {
    view.jogBend = std::clamp(view.jogBend + static_cast<float>(ticks * kJogNudgePerTick), -kMaxJogNudge, kMaxJogNudge);
  } else {
    state.position = std::clamp(state.position + JogSecondsPerTick() * ticks * rate, 0.0, last);
  }
}

void ReleaseControllerState() {
  ControllerShiftHeld = false;
  heldIds.clear();
  for (int deck = 0; deck < kEngineDecks; ++deck) {
    DeckView& view = LiveDeckViews[deck];
    if (!view.jogScratching) continue;
    view.jogHeld = false;
    JogRelease(deck);
    view.jogScratching = false;
  }
}
