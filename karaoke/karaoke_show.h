#pragma once
// The show on the stage deck: SING loads a singer's next song paused with its key and the vocals
// out, GO starts it and glides the cross-fader to it, the song's end (or END) marks it sung, and
// the stage watch follows what the DJ does to the deck. Break music plays from a track list on the
// deck on the other side between singers. UI thread only.
#include <cstdint>
#include <string>
#include <vector>

#include "base/track.h"

inline constexpr int32_t kVocalsOff = 0, kVocalsGuide = 1, kVocalsOn = 2;  // [Karaoke] Vocals
inline constexpr int32_t kStageKeyLimit = 6;       // KEY − / + stay within ±6 (or the stored key)
inline constexpr double kBreakResumeSeconds = 5.0; // a held break track with less left is replaced
inline constexpr int32_t kBreakLoadFailures = 5;   // one more consecutive failure stops break music
inline constexpr double kEndFrames = 2.0;          // a deck this close to its last frame is at its end

struct BreakMusicState {
  bool on = false;
  int32_t deck = -1;
  int32_t nextIndex = 0;  // only grows; the list entry tried next is this modulo its length
  int32_t failures = 0;   // consecutive break tracks that did not load
  std::wstring trackPath;
  bool loadPending = false;
  bool held = false;      // on, waiting for the song on stage to end
};
extern BreakMusicState BreakMusic;

// A deck as the show reads it, taken under the engine lock at the moment of asking.
struct ShowDeck {
  TrackPtr track;
  double position = 0.0;  // frames
  bool playing = false;
};
ShowDeck ReadShowDeck(int deck);

// --- The stage ---
// SING: loads the singer's next unsung song onto a free paused deck (the stage deck, then the
// left, then the right side's deck) and marks their turn. Refusals say why on the status line.
void KaraokeSing(int32_t singer);
// The deck-load completion's hook: a finished load on the stage deck while setting up gives the
// deck the song's key shift; a failed one gives up the stage.
void KaraokeDeckLoaded(int deck, bool loaded);
// GO: starts the stage deck and glides the cross-fader to its side.
void KaraokeGo();
// The song on stage is over (finished: played to its end; else END): pauses the deck, marks the
// song sung, resumes held break music and names who is next.
void KaraokeSongDone(bool finished);
// Per frame: gives up the stage when its deck no longer holds the song, keeps the deck's key
// with the song (saving the queue when it changed), applies the Vocals setting, notices starts by
// hand and the song's end, and pauses the break deck once it is not heard any more.
void KaraokeStageWatch();
// KEY − / +: clamps to ±6, or to the stored key when that lies beyond; on the stage deck the
// song keeps the new key.
void KaraokeKeyShift(int deck, int32_t delta);
// Starts the cross-fader glide toward the deck's side; nothing for a deck assigned through.
void GlideToDeck(int deck);
// Someone is singing: a stage deck that plays a song not ended.
bool SomeoneSinging();
// The stage deck while its song runs (singing, not ended), else -1: the microphone does not duck.
int32_t KaraokeSingingDeck();
// The vocal stem's gain on deck d under the no-vocals preset with ready stems (GUIDE on the stage
// deck), else a negative value: the preset decides.
float KaraokeGuideGain(int deck);

// --- Break music ---
// The paths of the BreakList list, else of the Automix list; null when both are empty.
const std::vector<std::wstring>* BreakMusicList();
// The deck on the side opposite the stage deck (the right side's with no stage deck).
int32_t BreakDeckOpposite();
void StartBreakMusic();
void BreakMusicNext();
// Per frame after the stage watch: the next track at a track's end, and starts confirmed loads.
void BreakMusicTick();
// The BREAK ♪ switch.
void ToggleBreakMusic();
