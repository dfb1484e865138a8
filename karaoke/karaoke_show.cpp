#include "karaoke/karaoke_show.h"

#include <algorithm>
#include <mutex>

#include "base/settings.h"
#include "base/status_message.h"
#include "engine/deck_commands.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/side_slots.h"
#include "engine/stem_controls.h"
#include "engine/stems.h"
#include "engine/transport.h"
#include "karaoke/karaoke_rotation.h"
#include "karaoke/tap_sync.h"
#include "library/now_playing.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/paths.h"

namespace {

constexpr int32_t kXfLeft = 0, kXfThrough = 1;
constexpr float kPercent = 100.0f;

bool AtEnd(const ShowDeck& deck) {
  return deck.track && deck.position >= static_cast<double>(deck.track->frames) - kEndFrames;
}

KaraokeSong* CurrentSong() {
  const int32_t singer = Stage.currentSinger, song = Stage.currentSong;
  if (singer < 0 || static_cast<size_t>(singer) >= Rotation.singers.size()) return nullptr;
  std::vector<KaraokeSong>& songs = Rotation.singers[static_cast<size_t>(singer)].songs;
  if (song < 0 || static_cast<size_t>(song) >= songs.size()) return nullptr;
  return &songs[static_cast<size_t>(song)];
}

bool FreeForSong(int deck) {
  if (!ValidDeck(deck) || LiveDeckViews[deck].loading) return false;
  if (BreakMusic.on && BreakMusic.deck == deck) return false;
  return !ReadShowDeck(deck).playing;
}

void ApplyVocals(int deck) {
  const int32_t vocals = Settings.KaraokeVocals;
  DeckView& view = LiveDeckViews[deck];
  view.stemPreset = vocals == kVocalsOn ? kStemPresetNone : kStemPresetInstrumental;
  Stage.appliedVocals = vocals;
  // Every load counts a job (the old one is cancelled), so "never tried" is no error kept since
  // the load: a failed separation is not started again every frame.
  if (vocals != kVocalsOn && !view.stemsReady && !view.stemsRunning && view.stemMessage.empty() &&
      StemModelsPresent(nullptr))
    StartStemSeparation(deck);
}

}  // namespace

ShowDeck ReadShowDeck(int deck) {
  ShowDeck shot;
  if (!ValidDeck(deck)) return shot;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  const DeckState& state = DeckStateOf(deck);
  shot.track = state.track;
  shot.position = state.position;
  shot.playing = state.playing;
  return shot;
}

bool SomeoneSinging() {
  return ValidDeck(Stage.stageDeck) && Stage.singing && !Stage.ended && ReadShowDeck(Stage.stageDeck).playing;
}

int32_t KaraokeSingingDeck() { return ValidDeck(Stage.stageDeck) && Stage.singing && !Stage.ended ? Stage.stageDeck : -1; }

float KaraokeGuideGain(int deck) {
  if (deck != Stage.stageDeck || Settings.KaraokeVocals != kVocalsGuide) return -1.0f;
  return static_cast<float>(Settings.Guide) / kPercent;
}

void KaraokeSing(int32_t singer) {
  if (singer < 0 || static_cast<size_t>(singer) >= Rotation.singers.size()) return;
  const KaraokeSinger& who = Rotation.singers[static_cast<size_t>(singer)];
  const int32_t song = FirstUnsungSong(singer);
  if (song < 0) {
    ShowStatus(UiFormat(L"{} has no songs waiting — drag one onto their name", who.name));
    return;
  }
  if (SomeoneSinging()) {
    ShowStatus(L"Someone's still singing — press END first");
    return;
  }
  const KaraokeSong& next = who.songs[static_cast<size_t>(song)];
  if (!FileExists(next.path)) {
    ShowStatus(UiFormat(L"Can't find “{}” — has it been moved?", next.title));
    return;
  }
  int deck = -1;
  for (int candidate : {Stage.stageDeck, SideSlots[kLeftSide], SideSlots[kRightSide]})
    if (FreeForSong(candidate)) {
      deck = candidate;
      break;
    }
  if (deck < 0) {
    ShowStatus(UiFormat(L"Pause a deck for {}'s song", who.name));
    return;
  }
  const std::wstring path = next.path, title = next.title, name = who.name;
  Stage = KaraokeStage{.stageDeck = deck, .stageSongPath = path, .currentSinger = singer, .currentSong = song,
                       .settingUp = true, .singing = false, .ended = false, .appliedVocals = -1};
  if (TapSyncDeck == deck) StopTapSync();
  Rotation.onstage = singer;
  SaveKaraokeQueue();
  if (!LoadTrack(deck, path)) {
    // The load said why (sandbox, no thread); no completion will come, so nothing is on stage.
    Stage.settingUp = false;
    Stage.stageDeck = -1;
    return;
  }
  ShowStatus(UiFormat(L"{} is up: {} on deck {} — GO when they're ready", name, title, DeckLetter(deck)));
}

void KaraokeDeckLoaded(int deck, bool loaded) {
  if (deck != Stage.stageDeck || !Stage.settingUp) return;
  Stage.settingUp = false;
  if (!loaded) {
    Stage.stageDeck = -1;
    return;
  }
  if (const KaraokeSong* song = CurrentSong()) LiveDeckViews[deck].keyShift = song->keyShift;
  Stage.appliedVocals = -1;
}

void KaraokeGo() {
  const int deck = Stage.stageDeck;
  if (!ValidDeck(deck) || Stage.settingUp) return;
  const ShowDeck shot = ReadShowDeck(deck);
  if (!shot.track) return;
  if (!shot.playing) PlayPause(deck);
  Stage.singing = true;
  Stage.ended = false;
  GlideToDeck(deck);
}

void KaraokeSongDone(bool finished) {
  if (ValidDeck(Stage.stageDeck) && ReadShowDeck(Stage.stageDeck).playing) PlayPause(Stage.stageDeck);
  if (KaraokeSong* song = CurrentSong()) {
    song->sung = true;
    SaveKaraokeQueue();
  }
  Stage.singing = false;
  Stage.ended = true;
  if (BreakMusic.on) {
    BreakMusic.held = false;
    StartBreakMusic();
  }
  const int32_t next = KaraokeNextSinger(Rotation.onstage);
  if (next < 0) {
    ShowStatus(finished ? L"Song finished" : L"Song ended");
    return;
  }
  const wchar_t* lead = finished ? L"Song finished — up next: " : L"Song ended — up next: ";
  ShowStatus(UiFormat(L"{}{}", UiText(lead), Rotation.singers[static_cast<size_t>(next)].name));
}

void KaraokeStageWatch() {
  const int deck = Stage.stageDeck;
  if (!ValidDeck(deck) || Stage.settingUp) return;
  const ShowDeck shot = ReadShowDeck(deck);
  if (!shot.track || !SamePath(shot.track->path, Stage.stageSongPath)) {
    Stage.stageDeck = -1;
    Stage.singing = false;
    return;
  }
  // The song's key is whatever key the deck plays it in, however it was changed: the deck's own
  // KEY buttons and reset, the KEYS pads, key match, a controller, the remote or a macro.
  if (KaraokeSong* song = CurrentSong(); song && song->keyShift != LiveDeckViews[deck].keyShift) {
    song->keyShift = LiveDeckViews[deck].keyShift;
    SaveKaraokeQueue();
  }
  if (Settings.KaraokeVocals != Stage.appliedVocals) ApplyVocals(deck);
  const bool atEnd = AtEnd(shot);
  if (shot.playing && !atEnd && (!Stage.singing || Stage.ended)) {
    Stage.singing = true;
    Stage.ended = false;
  } else if (Stage.singing && !Stage.ended && !shot.playing && atEnd) {
    KaraokeSongDone(true);
    return;
  }
  const int breakDeck = BreakMusic.deck;
  if (Stage.singing && !Stage.ended && BreakMusic.on && !BreakMusic.held && !XfGlide.active && ValidDeck(breakDeck) &&
      breakDeck != deck && ReadShowDeck(breakDeck).playing && !IsDeckAudible(breakDeck)) {
    PlayPause(breakDeck);
    BreakMusic.held = true;
  }
}

void KaraokeKeyShift(int deck, int32_t delta) {
  if (!ValidDeck(deck)) return;
  DeckView& view = LiveDeckViews[deck];
  // A stored key beyond ±6 is kept, and a press never moves against its direction.
  const int32_t k = view.keyShift;
  view.keyShift = std::clamp(k + delta, std::min(-kStageKeyLimit, k), std::max(kStageKeyLimit, k));
  if (deck != Stage.stageDeck) return;
  if (KaraokeSong* song = CurrentSong()) {
    song->keyShift = view.keyShift;
    SaveKaraokeQueue();
  }
}

void GlideToDeck(int deck) {
  if (!ValidDeck(deck)) return;
  const DeckView& view = LiveDeckViews[deck];
  const int32_t side = view.xfAssignSet ? view.xfAssign : (deck % 2 == 0 ? kXfLeft : 2);
  if (side == kXfThrough) return;
  float target = side == kXfLeft ? 0.0f : 1.0f;
  if (Settings.XfReverse) target = 1.0f - target;
  StartCrossfaderGlide(target, MonotonicSeconds());
}
