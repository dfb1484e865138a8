#include "engine/sync.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "base/beat_grid.h"
#include "base/musical_keys.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "engine/deck_snapshot.h"
#include "engine/engine.h"
#include "engine/side_slots.h"

namespace {

constexpr double kSecondsPerMinute = 60.0;
constexpr int32_t kKeyDistanceWeight = 100;  // one step of key distance outweighs any shift

// The tempo of `track` at `frames`, in BPM; 0 when it cannot be told.
double TrackBpmAt(const Track& track, double frames) {
  if (track.sampleRate <= 0 || (track.tempoMarkers.empty() && !(track.bpm > 0.0))) return 0.0;  // no beat
  const double beatLength = BeatLengthAt(track, frames / track.sampleRate);
  return beatLength > 0.0 && std::isfinite(beatLength) ? kSecondsPerMinute / beatLength : 0.0;
}

// The first of PitchRanges that holds `deviation`, the widest when none does.
float RangeFor(double deviation) {
  for (float range : PitchRanges)
    if (range >= deviation) return range;
  return PitchRanges[kPitchRangeCount - 1];
}

double Fraction(double x) { return x - std::floor(x); }

}  // namespace

TempoMatch MatchTempo(double targetBpm, double ownBpm, float currentRange) {
  TempoMatch match;
  if (!(targetBpm > 0.0) || !(ownBpm > 0.0) || !std::isfinite(targetBpm) || !std::isfinite(ownBpm)) return match;
  double best = 0.0, bestMultiplier = 1.0;
  bool first = true;
  for (double m : kTempoMultipliers) {
    const double dev = targetBpm / (ownBpm * m) - 1.0;
    if (first || std::abs(dev) < std::abs(best)) {
      best = dev;
      bestMultiplier = m;
      first = false;
    }
  }
  if (std::abs(best) > kMaxSyncDeviation) return match;
  // A range that is not a usable fraction counts as the narrowest, so the fader stays finite.
  float range = currentRange > 0.0f && std::isfinite(currentRange) ? currentRange : PitchRanges[0];
  if (std::abs(best) > range) range = std::max(range, RangeFor(std::abs(best)));
  match.matched = true;
  match.multiplier = bestMultiplier;
  match.deviation = best;
  match.pitchRange = range;
  match.tempoFader = TempoFaderFor(best, range);
  return match;
}

bool TemposAgree(double own, double other) {
  constexpr double kSameTempo = 0.01;
  return std::fabs(own - other) <= kSameTempo || std::fabs(own * 2 - other) <= kSameTempo ||
         std::fabs(own - other * 2) <= kSameTempo;
}

bool DeckInSync(int deck) {
  const int other = OtherDeck(deck);
  return DeckSnapshots[deck].track && DeckSnapshots[other].track && TemposAgree(DeckBpm(deck), DeckBpm(other));
}

int OtherDeck(int deck) {
  const int side = deck % 2 == 0 ? kRightSide : kLeftSide;
  return SideSlots[side];
}

double DeckRate(const DeckView& view) { return 1.0 + TempoOffsetOf(view); }

void SyncDeck(int deck) {
  if (!ValidDeck(deck)) return;
  const int other = OtherDeck(deck);
  if (!ValidDeck(other)) return;
  TrackPtr ownTrack, otherTrack;
  double ownPosition = 0.0, otherPosition = 0.0;
  bool ownPlaying = false, otherPlaying = false;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    const DeckState& own = DeckStateOf(deck);
    const DeckState& them = DeckStateOf(other);
    ownTrack = own.track;
    otherTrack = them.track;
    ownPosition = own.position;
    otherPosition = them.position;
    ownPlaying = own.playing;
    otherPlaying = them.playing;
  }
  if (!ownTrack || !otherTrack || ownTrack->sampleRate <= 0 || otherTrack->sampleRate <= 0) {
    ShowStatus(L"Load a track on both decks to sync");
    return;
  }
  DeckView& view = LiveDeckViews[deck];
  const double target = DeckRate(LiveDeckViews[other]) * TrackBpmAt(*otherTrack, otherPosition);
  const TempoMatch match = MatchTempo(target, TrackBpmAt(*ownTrack, ownPosition), view.pitchRange);
  if (!match.matched) {
    ShowStatus(L"Tempos are too far apart to sync");
    return;
  }
  view.pitchRange = match.pitchRange;
  view.tempoFader = match.tempoFader;
  if (deck == other || !ownPlaying || !otherPlaying) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckStateOf(deck).tempo = static_cast<float>(TempoOffsetOf(view));
    return;
  }

  const double ownSeconds = ownPosition / ownTrack->sampleRate;
  const double f = Fraction(BeatAtTime(*otherTrack, otherPosition / otherTrack->sampleRate)) -
                   Fraction(BeatAtTime(*ownTrack, ownSeconds));
  const double error = f - std::round(f);  // beats, -0.5..0.5
  const double beatFrames = BeatLengthAt(*ownTrack, ownSeconds) * ownTrack->sampleRate;
  const double shift = beatFrames * error;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  // The new tempo plays from the same block as the seek: left to the next publish of the view,
  // the deck would play on at its old tempo for a frame and slip out of phase again.
  DeckStateOf(deck).tempo = static_cast<float>(TempoOffsetOf(view));
  // The deck may have moved or changed since the read; only its own track is shifted.
  if (DeckStateOf(deck).track != ownTrack) return;
  // A shift back past the track's start would be clamped out of phase: go a beat later instead.
  double place = DeckStateOf(deck).position + shift;
  if (place < 0.0) place += beatFrames;
  SeekDeck(Engine, deck, place);
}

void SyncLockTick() {
  for (int deck = 0; deck < kEngineDecks; ++deck) {
    DeckView& view = LiveDeckViews[deck];
    const DeckSnapshot& own = DeckSnapshots[deck];
    if (!view.syncLock || !own.track) continue;
    const int other = OtherDeck(deck);
    if (!ValidDeck(other) || other == deck || !DeckSnapshots[other].track) continue;
    const DeckSnapshot& them = DeckSnapshots[other];
    const double target = DeckRate(LiveDeckViews[other]) * TrackBpmAt(*them.track, them.position);
    const TempoMatch match = MatchTempo(target, TrackBpmAt(*own.track, own.position), view.pitchRange);
    if (!match.matched) continue;
    view.pitchRange = match.pitchRange;
    view.tempoFader = match.tempoFader;
  }
}

void ToggleSyncLock(int deck) {
  if (!ValidDeck(deck)) return;
  DeckView& view = LiveDeckViews[deck];
  view.syncLock = !view.syncLock;
  if (!view.syncLock) {
    ShowStatus(L"Sync lock off");
    return;
  }
  const int other = OtherDeck(deck);
  if (ValidDeck(other) && other != deck) LiveDeckViews[other].syncLock = false;
  SyncDeck(deck);
  ShowStatus(L"Sync lock: deck " + DeckLetter(deck) + L" follows deck " + DeckLetter(other) + L"'s tempo");
}

int32_t BestKeyShift(int32_t key, int32_t targetKey, int32_t pitchSemitones) {
  if (key < 0 || key >= kKeyCount || targetKey < 0 || targetKey >= kKeyCount) return 0;
  int32_t best = 0, bestScore = 0;
  bool first = true;
  for (int32_t s = -kKeyMatchSpan; s <= kKeyMatchSpan; ++s) {
    const int32_t moved = TransposeKey(key, s + pitchSemitones);
    const int32_t score = kKeyDistanceWeight * KeyDistance(moved, targetKey) + std::abs(s);
    if (first || score < bestScore) {
      best = s;
      bestScore = score;
      first = false;
    }
  }
  return best;
}

void MatchKey(int deck) {
  if (!ValidDeck(deck)) return;
  const int other = OtherDeck(deck);
  const int32_t otherKey = ValidDeck(other) ? DeckKey(other) : kKeyUnknown;
  const TrackPtr& track = DeckSnapshots[deck].track;
  const int32_t key = track ? track->key : kKeyUnknown;
  if (key < 0 || otherKey < 0) {
    ShowStatus(L"Both decks need a detected key to match");
    return;
  }
  DeckView& view = LiveDeckViews[deck];
  // Key lock goes on with the match, so the tempo no longer moves the key: the shift alone must
  // land on the other deck's key.
  view.keyShift = BestKeyShift(key, otherKey, 0);
  view.keyLock = true;
  ShowStatus(L"Key matched: " + KeyName(DeckKey(deck), Settings.Camelot));
}
