#include "engine/automix.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <random>

#include "base/beat_grid.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "engine/deck_commands.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "engine/sync.h"
#include "engine/transport.h"
#include "platform/clock.h"

AutomixState Automix;

namespace {

constexpr int kDeckA = 0;
constexpr int kDeckB = 1;
constexpr double kSecondsPerMinute = 60.0;
constexpr double kPhraseBoundaryBeats = 32.0;
constexpr double kBarBeats = 4.0;
constexpr double kPlayedFraction = 0.5;  // an incoming deck past half its track has been played
constexpr uint32_t kEchoEffect = 0;      // ECHO in the effect table

size_t ListSize() { return AutomixQueueHooks.count ? AutomixQueueHooks.count() : 0; }

bool ListHasTracks() { return ListSize() > 0; }

double MixSeconds() { return std::max(1, Settings.MixLen); }

// More than 5 s of the deck's track is still to play.
bool HasTimeLeft(const DeckSnapshot& deck) {
  return deck.track && static_cast<double>(deck.track->frames) - kAutomixTimeLeftSeconds * deck.track->sampleRate >
                           deck.position;
}

// The deck's track was mixed out by Automix or has been played past half: it is not started again.
bool Done(int deck) {
  const DeckSnapshot& shot = DeckSnapshots[deck];
  if (!shot.track) return false;
  if (Automix.mixedOut[deck].lock() == shot.track) return true;
  return shot.position >= static_cast<double>(shot.track->frames) * kPlayedFraction;
}

void StartTransition(int outgoing, int incoming, double now) {
  Automix.skipRequest = false;
  Automix.mixedOut[outgoing] = DeckSnapshots[outgoing].track;
  const DeckSnapshot& in = DeckSnapshots[incoming];
  const Track& track = *in.track;
  DeckView& inView = LiveDeckViews[incoming];
  const double beatLength = BeatLengthAt(track, track.firstBeat);
  const double inBpm = beatLength > 0.0 ? kSecondsPerMinute / beatLength : 0.0;
  if (inBpm > 0.0) {
    const double deviation = DeckBpm(outgoing) / inBpm - 1.0;
    if (std::abs(deviation) < kAutomixTempoMatchLimit && inView.pitchRange > 0.0f)
      inView.tempoFader = TempoFaderFor(deviation, inView.pitchRange);
  }
  SeekDeck(Engine, incoming, std::max(0.0, track.firstBeat * track.sampleRate));
  PlayPause(incoming);

  DeckView& outView = LiveDeckViews[outgoing];
  Automix.transition = true;
  Automix.startTime = now;
  Automix.xfStart = CrossfaderPosition;
  Automix.xfTarget = incoming == kDeckB ? 1.0f : 0.0f;
  Automix.outgoing = outgoing;
  Automix.incoming = incoming;
  Automix.style = std::clamp<int32_t>(Settings.AutomixStyle, kAutomixFade, kAutomixEchoOut);
  Automix.outgoingLow = outView.eqLow;
  Automix.incomingLow = inView.eqLow;
  Automix.outgoingFilter = outView.filter;
  Automix.fxEffect = outView.fxSlotEffect[0];
  Automix.fxOn = outView.fxSlotOn[0];
  Automix.fxAmount = outView.fxSlotAmount[0];
  XfGlide.active = false;
  Automix.bassSwapped = false;
  Automix.echoStarted = false;
  if (Automix.style == kAutomixBassSwap) inView.eqLow = 0.0f;
}

void StepTransition(double now) {
  const double p = std::clamp((now - Automix.startTime) / MixSeconds(), 0.0, 1.0);
  CrossfaderPosition = Automix.xfStart + (Automix.xfTarget - Automix.xfStart) * static_cast<float>(p);
  DeckView& out = LiveDeckViews[Automix.outgoing];
  if (Automix.style == kAutomixBassSwap && p >= kBassSwapAt && !Automix.bassSwapped) {
    Automix.bassSwapped = true;
    out.eqLow = 0.0f;
    LiveDeckViews[Automix.incoming].eqLow = Automix.incomingLow;
  } else if (Automix.style == kAutomixFilter) {
    out.filter = Automix.outgoingFilter + (kFilterSweepTarget - Automix.outgoingFilter) * static_cast<float>(p);
  } else if (Automix.style == kAutomixEchoOut && p >= kEchoOutAt && !Automix.echoStarted) {
    Automix.echoStarted = true;
    out.fxSlotEffect[0] = kEchoEffect;
    out.fxSlotAmount[0] = kEchoOutAmount;
    out.fxSlotOn[0] = true;
  }
  if (p < 1.0) return;
  Automix.transition = false;
  if (DeckSnapshots[Automix.outgoing].playing) PlayPause(Automix.outgoing);
  RestoreTransitionValues();
}

// No deck plays: start one that has music left and was not mixed out, else load the list's next
// track onto A.
void StartIdle() {
  for (int deck : {kDeckA, kDeckB}) {
    const DeckSnapshot& shot = DeckSnapshots[deck];
    const bool mixedOut = shot.track && Automix.mixedOut[deck].lock() == shot.track;
    if (shot.track && !mixedOut && !LiveDeckViews[deck].loading && HasTimeLeft(shot)) {
      CrossfaderPosition = deck == kDeckA ? 0.0f : 1.0f;
      PlayPause(deck);
      return;
    }
  }
  if (LiveDeckViews[kDeckA].loading || LiveDeckViews[kDeckB].loading) return;
  if (ListHasTracks()) {
    LoadTrack(kDeckA, TakeNextAutomixTrack());
    return;
  }
  Automix.on = false;
  ShowStatus(L"The Automix list is empty \u2014 add tracks to it first");
}

void WaitOrStart(double now) {
  const bool aPlays = DeckSnapshots[kDeckA].playing;
  const bool bPlays = DeckSnapshots[kDeckB].playing;
  int outgoing = -1;
  if (aPlays) outgoing = kDeckA;
  else if (bPlays) outgoing = kDeckB;
  if (outgoing < 0) return StartIdle();

  const int incoming = outgoing == kDeckA ? kDeckB : kDeckA;
  const DeckSnapshot& in = DeckSnapshots[incoming];
  const bool inLoading = LiveDeckViews[incoming].loading;
  // An incoming deck that is empty, loading or used up cannot take over: refill it or wait.
  if (!in.track || inLoading || Done(incoming)) {
    if (!inLoading && !in.playing && ListHasTracks()) LoadTrack(incoming, TakeNextAutomixTrack());
    return;
  }
  if (in.playing) return;

  const DeckSnapshot& out = DeckSnapshots[outgoing];
  const Track& track = *out.track;
  const double r = DeckRate(LiveDeckViews[outgoing]);
  const double left = (static_cast<double>(track.frames) - out.position) / track.sampleRate / r;
  if (left > MixSeconds() && !Automix.skipRequest) {
    const double start = AutomixStartSeconds(track, LiveDeckViews[outgoing].phrases, r, MixSeconds());
    if (out.position / track.sampleRate < start) return;
  }
  StartTransition(outgoing, incoming, now);
}

std::mt19937& ShuffleGenerator() {
  static std::mt19937 generator(static_cast<uint32_t>(MonotonicMs()));
  return generator;
}

}  // namespace

AutomixQueueHookSet AutomixQueueHooks;

void ToggleAutomix() {
  if (Sandbox.on && !Automix.on) {
    ShowStatus(L"Leave the sandbox to start Automix");
    return;
  }
  Automix.on = !Automix.on;
  if (Automix.transition) RestoreTransitionValues();
  Automix.transition = false;
  if (!Automix.on) return;
  ShowDecksAB();
  bool loaded = false;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    loaded = Engine.decks[kDeckA].track || Engine.decks[kDeckB].track;
  }
  if (!ListHasTracks() && !loaded) ShowStatus(L"Automix is on \u2014 add tracks to the Automix list");
  else ShowStatus(L"Automix is on");
}

void AutomixTickAt(double now) {
  if (!Automix.on) return;
  if (Automix.transition) {
    if (Automix.outgoing >= 0 && Automix.incoming >= 0) StepTransition(now);
    else Automix.transition = false;
    return;
  }
  WaitOrStart(now);
}

void AutomixTick() { AutomixTickAt(MonotonicSeconds()); }

std::wstring TakeNextAutomixTrack() {
  const size_t size = ListSize();
  if (size == 0 || !AutomixQueueHooks.take) return std::wstring();
  size_t index = 0;
  if (Settings.AutomixShuffle) {
    std::uniform_int_distribution<size_t> pick(0, size - 1);
    index = pick(ShuffleGenerator());
  }
  return AutomixQueueHooks.take(index);
}

void RestoreTransitionValues() {
  if (ValidDeck(Automix.outgoing)) {
    DeckView& out = LiveDeckViews[Automix.outgoing];
    if (Automix.style == kAutomixBassSwap) {
      out.eqLow = Automix.outgoingLow;
      if (ValidDeck(Automix.incoming)) LiveDeckViews[Automix.incoming].eqLow = Automix.incomingLow;
    } else if (Automix.style == kAutomixFilter) {
      out.filter = Automix.outgoingFilter;
    } else if (Automix.style == kAutomixEchoOut) {
      out.fxSlotEffect[0] = Automix.fxEffect;
      out.fxSlotOn[0] = Automix.fxOn;
      out.fxSlotAmount[0] = Automix.fxAmount;
    }
  }
  Automix.style = kAutomixFade;
}

double AutomixStartSeconds(const Track& track, const std::vector<Phrase>& phrases, double rate, double mixSeconds) {
  if (track.sampleRate <= 0) return 0.0;
  const double length = static_cast<double>(track.frames) / track.sampleRate;
  const double latest = length - rate * mixSeconds;
  const double earliest = length - rate * kAutomixEarliestSeconds;
  for (const Phrase& phrase : phrases) {
    if (phrase.kind != kPhraseOutro) continue;
    const double at = TimeAtBeat(track, phrase.beat);
    if (at >= earliest && at <= latest) return std::max(0.0, at);
  }
  const double beat = BeatAtTime(track, latest);
  double start = TimeAtBeat(track, std::floor(beat / kPhraseBoundaryBeats) * kPhraseBoundaryBeats);
  if (latest - start > rate * kAutomixLateBoundarySeconds)
    start = TimeAtBeat(track, std::floor(beat / kBarBeats) * kBarBeats);
  return std::max(0.0, start);
}
