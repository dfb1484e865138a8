#pragma once
// Automix: plays the Automix list on decks A and B unattended, loading the idle deck, starting
// the next track on its first beat at a matched tempo near the end of the playing one (an OUTRO
// phrase, or a 32- or 4-beat boundary) and moving the cross-fader over the mix length in one of
// four styles. UI thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/track.h"
#include "engine/phrases.h"

enum AutomixStyle : int32_t {
  kAutomixFade = 0,
  kAutomixBassSwap = 1,
  kAutomixFilter = 2,
  kAutomixEchoOut = 3,
};

inline constexpr double kAutomixTimeLeftSeconds = 5.0;   // a deck with less left counts as done
inline constexpr double kAutomixEarliestSeconds = 75.0;  // an OUTRO may start the mix this early
inline constexpr double kAutomixLateBoundarySeconds = 20.0;  // a 32-beat start further back: 4 beats
inline constexpr double kAutomixTempoMatchLimit = 0.08;  // wider tempo gaps play unmatched
inline constexpr double kBassSwapAt = 0.5;               // share of the mix where the bass swaps
inline constexpr double kEchoOutAt = 0.55;               // share of the mix where the echo starts
inline constexpr float kFilterSweepTarget = 0.75f;       // the outgoing filter's end value
inline constexpr float kEchoOutAmount = 0.85f;

struct AutomixState {
  bool on = false;
  bool transition = false;
  bool skipRequest = false;       // the top bar's SKIP: the next transition starts now
  double startTime = 0.0;         // seconds on the tick's clock
  float xfStart = 0.0f;
  float xfTarget = 0.0f;
  int32_t outgoing = -1;          // -1 = none
  int32_t incoming = -1;
  int32_t style = kAutomixFade;   // the style in effect
  bool bassSwapped = false;
  bool echoStarted = false;
  // What the style changes, to be put back.
  float outgoingLow = 0.5f;
  float incomingLow = 0.5f;
  float outgoingFilter = 0.0f;
  uint32_t fxEffect = 0;
  bool fxOn = false;
  float fxAmount = 0.5f;
  // The tracks mixed out of A and B: done, however little of them played (a SKIP), so neither
  // is started again; a track loaded anew is another.
  std::weak_ptr<const Track> mixedOut[2];
};
extern AutomixState Automix;

// The Automix list, which the library keeps: how many paths it holds, and taking the path at an
// index out of it (the list saved, the browser refreshed when it shows it). The shell sets them;
// unset, the list is empty.
struct AutomixQueueHookSet {
  size_t (*count)() = nullptr;
  std::wstring (*take)(size_t index) = nullptr;
};
extern AutomixQueueHookSet AutomixQueueHooks;

// Turns Automix on (showing A left and B right) or off (undoing a running transition).
void ToggleAutomix();
// The per-frame step while Automix is on, at the tick's clock `now` in seconds; reads the deck
// snapshots, so it runs after SnapshotDecks.
void AutomixTickAt(double now);
// The same on the monotonic clock: what the per-frame tick calls.
void AutomixTick();
// Removes and returns the next path of the Automix list (random with [Automix] Shuffle); empty
// when the list is empty. Saves the list and refreshes the browser when it shows it.
std::wstring TakeNextAutomixTrack();
// Undoes what the running style changed on the decks; the style in effect becomes FADE.
void RestoreTransitionValues();

// When the transition out of `track` should start, in track seconds: the first OUTRO phrase
// between 75 s (times the rate) and the mix length (times the rate) before the end, else the
// 32-beat boundary before that latest point, or the 4-beat one when the 32-beat boundary lies
// more than 20 s (times the rate) back. Never below 0.
double AutomixStartSeconds(const Track& track, const std::vector<Phrase>& phrases, double rate, double mixSeconds);
