#pragma once
// What the audience hears: the per-frame now-playing step and the audible-deck rule. UI thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>

#include "platform/clock.h"

inline constexpr size_t kHistoryLimit = 1000;  // paths kept in the History list

// What the now-playing step keeps between frames (the per-deck part lives in the deck views:
// wasPlaying, cuesPath and the library* cue copies).
struct NowPlayingState {
  std::wstring announcedPath;                    // the track last announced as now playing
  int announcedDeck = -1;                        // and the deck it was announced from
  bool streamWasOnAir = false;
  float heard[4] = {};        // each deck's level to the master, smoothed over about a second
  int challenger = -1;        // the deck that leads the announced one, and since when
  uint64_t challengerSinceMs = 0;
  uint64_t lastTickMs = 0;
  std::unordered_set<std::wstring> playedThisSession;  // PathKey of every counted play; never saved
};
extern NowPlayingState NowPlaying;

// Where a play is heard beyond the decks: the live stream (its state and its title) and the mix
// recording's tracklist. The shell sets them; unset, nothing is on air or recorded.
struct NowPlayingHookSet {
  bool (*streamOnAir)() = nullptr;
  void (*setStreamTitle)(const std::wstring& title) = nullptr;
  void (*addToRecording)(const std::wstring& path, uint64_t heardForMs) = nullptr;
};
extern NowPlayingHookSet NowPlayingHooks;

// Once per tick, also while the window is minimised. Reads the frame's deck snapshots (no engine
// lock), then in turn: sends the announced title again when the stream has just gone on air;
// announces the deck that sends the most to the master (meter after channel fader and
// cross-fader, smoothed over about a second), another deck only once it has led clearly for
// kTitleHoldMs, the first at once; an announcement sets the stream title and, while recording,
// adds the track to the recording's tracklist; the announced deck's load goes to the History list
// once (the view's playCounted); on each deck's play start counts the play (once per track and
// session); writes changed cue and hot-cue positions to the library record; runs the library
// autosave.
// nowMs: the monotonic clock (tests step it).
void NowPlayingTick(uint64_t nowMs = MonotonicMs());
// True when deck 0..3 plays, its channel fader is at least 0.05 and its cross-fader side is open
// (through always; A while the position is at most 0.5, B while at least 0.5, after the reverse
// setting). Reads the frame's deck snapshots and deck views.
bool IsDeckAudible(int deck);
// The deck whose track is announced as now playing, while it plays with its fader up; -1 for none.
int NowPlayingDeck();
// The audible deck with the highest meter (a later deck only when strictly louder); -1 for none.
// The beat-synced effects, the MIDI clock and the video mix follow it.
int LoudestAudibleDeck();
