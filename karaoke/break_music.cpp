// Break music between singers: a track list played in order on the deck opposite the stage.
#include <string>
#include <vector>

#include "base/settings.h"
#include "base/status_message.h"
#include "engine/deck_commands.h"
#include "engine/deck_view.h"
#include "engine/side_slots.h"
#include "engine/transport.h"
#include "karaoke/karaoke_rotation.h"
#include "karaoke/karaoke_show.h"
#include "library/track_lists.h"
#include "platform/folders.h"
#include "platform/paths.h"

BreakMusicState BreakMusic;

const std::vector<std::wstring>* BreakMusicList() {
  for (const TrackList& list : TrackLists)
    if (list.name == Settings.BreakList && !list.paths.empty()) return &list.paths;
  if (!TrackLists.empty() && !TrackLists[kAutomixList].paths.empty()) return &TrackLists[kAutomixList].paths;
  return nullptr;
}

int32_t BreakDeckOpposite() {
  if (!ValidDeck(Stage.stageDeck)) return SideSlots[kRightSide];
  return Stage.stageDeck % 2 == 0 ? SideSlots[kRightSide] : SideSlots[kLeftSide];
}

void StartBreakMusic() {
  if (!BreakMusicList()) {
    ShowStatus(L"Choose a playlist for break music in Settings ▸ KARAOKE");
    BreakMusic.on = false;
    return;
  }
  const int deck = BreakDeckOpposite();
  ShowDeck shot = ReadShowDeck(deck);
  if (shot.playing && deck != BreakMusic.deck) {
    ShowStatus(L"Deck " + DeckLetter(deck) + L" is playing — pause it for the break music");
    BreakMusic.on = false;
    return;
  }
  BreakMusic.on = true;
  BreakMusic.deck = deck;
  BreakMusic.held = false;
  BreakMusic.failures = 0;
  const bool resumable = shot.track && SamePath(shot.track->path, BreakMusic.trackPath) &&
                         static_cast<double>(shot.track->frames) - kBreakResumeSeconds * shot.track->sampleRate >
                             shot.position;
  if (resumable) {
    if (!shot.playing) PlayPause(deck);
  } else {
    BreakMusicNext();
  }
  GlideToDeck(deck);
}

void BreakMusicNext() {
  const std::vector<std::wstring>* list = BreakMusicList();
  const int deck = BreakMusic.deck;
  if (!list || !ValidDeck(deck)) {
    BreakMusic.on = false;
    return;
  }
  std::wstring accepted;
  for (size_t tries = 0; tries < list->size() && accepted.empty(); ++tries) {
    const std::wstring& path = (*list)[static_cast<size_t>(BreakMusic.nextIndex) % list->size()];
    ++BreakMusic.nextIndex;
    if (FileExists(path) && !SamePath(path, Stage.stageSongPath)) accepted = path;
  }
  if (accepted.empty()) {
    ShowStatus(L"None of the break music can be found");
    BreakMusic.on = false;
    return;
  }
  if (ReadShowDeck(deck).playing) PlayPause(deck);
  BreakMusic.trackPath = accepted;
  BreakMusic.loadPending = true;
  LoadTrack(deck, accepted);
}

void BreakMusicTick() {
  const int deck = BreakMusic.deck;
  if (!BreakMusic.on || !ValidDeck(deck)) return;
  if (!BreakMusic.loadPending) {
    if (BreakMusic.held) return;
    // A deck stops by itself on its last frame, so the end counts whether it still plays or not;
    // a break track paused by hand before its end stays paused.
    const ShowDeck shot = ReadShowDeck(deck);
    if (shot.track && shot.position >= static_cast<double>(shot.track->frames) - kEndFrames) BreakMusicNext();
    return;
  }
  if (LiveDeckViews[deck].loading) return;
  const ShowDeck shot = ReadShowDeck(deck);
  if (shot.track && SamePath(shot.track->path, BreakMusic.trackPath)) {
    BreakMusic.loadPending = false;
    BreakMusic.failures = 0;
    if (!BreakMusic.held && !shot.playing) PlayPause(deck);
    return;
  }
  if (++BreakMusic.failures > kBreakLoadFailures) {
    BreakMusic.on = false;
    ShowStatus(L"Break music stopped: its tracks won't load");
    return;
  }
  BreakMusicNext();
}

void ToggleBreakMusic() {
  if (BreakMusic.on) {
    BreakMusic.on = false;
    ShowStatus(L"Break music off — what's playing carries on until you stop it");
    return;
  }
  if (SomeoneSinging()) {
    BreakMusic.held = true;
    BreakMusic.on = true;
    BreakMusic.deck = BreakDeckOpposite();
    ShowStatus(L"Break music will start when this song ends");
    return;
  }
  StartBreakMusic();
}
