#pragma once
// SYNC (tempo and, when both decks play, beat phase), sync lock (the tempo part every tick) and
// MATCH (the key shift that fits the other side's key best). UI thread.
#include <cstdint>

#include "engine/deck_view.h"

inline constexpr int kPitchRangeCount = 6;
// The tempo fader's ranges as fractions; sync widens a deck's range to one of these, never narrows.
inline constexpr float PitchRanges[kPitchRangeCount] = {0.06f, 0.08f, 0.10f, 0.16f, 0.25f, 0.50f};
inline constexpr int kTempoMultiplierCount = 3;
// Half, equal and double tempo, tried in this order (a tie keeps the earlier).
inline constexpr double kTempoMultipliers[kTempoMultiplierCount] = {0.5, 1.0, 2.0};
// Beyond this deviation at every multiplier the decks are too far apart to sync.
inline constexpr double kMaxSyncDeviation = 0.5;
inline constexpr int32_t kKeyMatchSpan = 6;  // semitones tried either way

// --- Tempo match (pure) ---
struct TempoMatch {
  bool matched = false;      // false: the tempos are more than 50 % apart; nothing changes
  double multiplier = 1.0;   // 0.5, 1 or 2
  double deviation = 0.0;    // target / (own x multiplier) - 1
  float pitchRange = 0.0f;   // the range after widening
  float tempoFader = 0.5f;   // the fader position that plays at the target tempo
};
// What a deck whose track runs at `ownBpm` (at its position) must do to sound at `targetBpm`,
// starting from `currentRange`. Non-positive or non-finite tempos never match.
TempoMatch MatchTempo(double targetBpm, double ownBpm, float currentRange);

// Whether SYNC lights for a tempo pair: equal within 0.01 directly or with one of them doubled.
bool TemposAgree(double own, double other);

// --- Decks ---
// The deck and its other deck both hold a track and their tempos agree (SYNC lights).
// Reads the frame's deck snapshots.
bool DeckInSync(int deck);
// The deck shown on the side opposite `deck`'s (side slot 1 for A and C, 0 for B and D).
int OtherDeck(int deck);
// 1 + the view's tempo offset.
double DeckRate(const DeckView& view);

// --- Commands ---
// Sets the deck's tempo fader (widening its range when needed) to the other deck's sounding
// tempo and, when both play, seeks it into beat phase. Refusals go to the status line.
void SyncDeck(int deck);
// Per-frame tick: every deck with sync lock follows its other deck's tempo, read from the deck
// snapshots (no lock, no phase, no messages). Writes only DeckView fields.
void SyncLockTick();
// Turns sync lock on (syncing once and releasing the other deck's lock) or off.
void ToggleSyncLock(int deck);
// Picks the key shift (-6..6) that sounds most compatible with the other deck's key and turns
// key lock on.
void MatchKey(int deck);

// The key shift s in -6..6 minimising 100 x KeyDistance(key moved by s + pitchSemitones, target)
// + |s|, the smallest s on a tie; 0 when either key is unknown.
int32_t BestKeyShift(int32_t key, int32_t targetKey, int32_t pitchSemitones);
