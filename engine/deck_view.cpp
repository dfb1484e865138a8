#include "engine/deck_view.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cwctype>

#include <fmt/format.h>

#include "base/beat_grid.h"
#include "base/musical_keys.h"
#include "engine/deck_snapshot.h"

DeckView LiveDeckViews[kEngineDecks];
DeckView SandboxDeckViews[kEngineDecks];

namespace {
constexpr double kSecondsPerMinute = 60.0;
constexpr double kFallbackBpm = 120.0;
constexpr double kSemitonesPerOctave = 12.0;
}  // namespace

bool ValidDeck(int deck) { return deck >= 0 && deck < kEngineDecks; }

DeckState& DeckStateOf(int deck) {
  assert(ValidDeck(deck) && "DeckStateOf: deck must be 0..3");
  return Engine.decks[ValidDeck(deck) ? deck : 0];
}

double BeatSamples(const Track& track) {
  const double bpm = std::isfinite(track.bpm) && track.bpm > 0.0 ? track.bpm : kFallbackBpm;
  return kSecondsPerMinute / bpm * track.sampleRate;
}

double TempoOffsetOf(const DeckView& view) {
  return (0.5 - static_cast<double>(view.tempoFader)) * 2.0 * static_cast<double>(view.pitchRange);
}

float TempoFaderFor(double offset, float pitchRange) {
  return static_cast<float>(std::clamp(0.5 - offset / (2.0 * pitchRange), 0.0, 1.0));
}

double DeckBpm(int deck) {
  if (!ValidDeck(deck)) return 0.0;
  const DeckSnapshot& shot = DeckSnapshots[deck];
  if (!shot.track || shot.track->sampleRate <= 0) return 0.0;
  if (shot.track->tempoMarkers.empty() && !(shot.track->bpm > 0.0)) return 0.0;  // no measured tempo
  const double beatLength = BeatLengthAt(*shot.track, shot.position / shot.track->sampleRate);
  if (!(beatLength > 0.0)) return 0.0;
  return kSecondsPerMinute / beatLength * (1.0 + TempoOffsetOf(LiveDeckViews[deck]));
}

int32_t DeckKey(int deck) {
  if (!ValidDeck(deck)) return kKeyUnknown;
  const TrackPtr& track = DeckSnapshots[deck].track;
  if (!track || track->key < 0) return kKeyUnknown;
  const DeckView& view = LiveDeckViews[deck];
  const double rate = 1.0 + TempoOffsetOf(view);
  const double pitch = view.keyLock || !(rate > 0.0) ? 0.0 : kSemitonesPerOctave * std::log2(rate);
  return TransposeKey(track->key, static_cast<int32_t>(std::lround(view.keyShift + pitch)));
}
