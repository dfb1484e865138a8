#include "karaoke/karaoke_tick.h"

#include <algorithm>
#include <cmath>

#include "base/palette.h"
#include "base/settings.h"
#include "engine/audio_file.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/side_slots.h"
#include "karaoke/deck_lyrics.h"
#include "karaoke/karaoke_panel.h"
#include "karaoke/karaoke_rotation.h"
#include "karaoke/karaoke_show.h"
#include "karaoke/karaoke_window.h"
#include "karaoke/tap_sync.h"
#include "library/now_playing.h"

KaraokeMixFeed KaraokeFeed;

namespace {

constexpr double kSecondsPerMinute = 60.0;
constexpr float kBassFloor = 0.00001f;
constexpr float kBassFloorDb = 40.0f, kBassRangeDb = 38.0f;
constexpr wchar_t kSongSeparator[] = L"  —  ";

bool SingerShown() {
  const int deck = Stage.stageDeck;
  return ValidDeck(deck) && !Stage.settingUp && !Stage.ended && DeckSnapshots[deck].track;
}

void FollowDeckLyrics(bool inUse) {
  for (int d = 0; d < kEngineDecks; ++d) {
    const TrackPtr& track = DeckSnapshots[d].track;
    DeckLyrics& record = DeckLyricsState[d];
    if (!track) {
      if (!record.path.empty() && !record.busy) ClearDeckLyrics(d);
      continue;
    }
    if (inUse && record.path != track->path && !LiveDeckViews[d].loading) {
      FetchLyrics(d, false);
      continue;
    }
    if (record.path == track->path && LyricsWaitForFit(record) && LiveDeckViews[d].stemsReady) FitLyricsToVocals(d);
  }
}

void FollowTapSync() {
  if (TapSyncIndex == kTapSyncOff) return;
  const int deck = TapSyncDeck;
  if (!ValidDeck(deck) || !DeckSnapshots[deck].track || DeckLyricsState[deck].path != DeckSnapshots[deck].track->path)
    StopTapSync();
}

}  // namespace

int KaraokeShownDeck() {
  if (SingerShown()) return Stage.stageDeck;
  int shown = -1;
  for (int d = 0; d < DecksInUse(); ++d) {
    if (BreakMusic.on && d == BreakMusic.deck) continue;
    if (!DeckLyricsState[d].lyrics || !IsDeckAudible(d)) continue;
    if (shown < 0 || LiveDeckViews[d].meterLevel > LiveDeckViews[shown].meterLevel) shown = d;
  }
  return shown;
}

KaraokeScreenInfo BuildKaraokeScreenInfo() {
  KaraokeScreenInfo info = DefaultKaraokeScreenInfo();
  info.accent1 = Pal.DeckA;
  info.accent2 = Pal.DeckB;
  float bass = 0.0f;
  for (int b = 0; b < kBassBands; ++b) bass = std::max(bass, KaraokeFeed.bands[static_cast<size_t>(b)]);
  const float db = 20.0f * std::log10(std::max(kBassFloor, bass));
  info.bassLevel = std::isfinite(db) ? std::clamp((db + kBassFloorDb) / kBassRangeDb, 0.0f, 1.0f) : 0.0f;

  const std::vector<std::pair<int32_t, int32_t>> next = KaraokeUpNext(5);
  for (size_t i = 0; i < next.size(); ++i) {
    const KaraokeSinger& singer = Rotation.singers[static_cast<size_t>(next[i].first)];
    if (i > 0) {
      info.laterSingers.push_back(singer.name);
      continue;
    }
    info.nextSinger = singer.name;
    if (next[i].second >= 0 && static_cast<size_t>(next[i].second) < singer.songs.size()) {
      const KaraokeSong& song = singer.songs[static_cast<size_t>(next[i].second)];
      info.nextSong = song.artist.empty() ? song.title : song.title + kSongSeparator + song.artist;
    }
  }

  const int deck = KaraokeShownDeck();
  if (deck < 0) {
    info.beatPulse = *std::max_element(KaraokeFeed.beatPulse.begin(), KaraokeFeed.beatPulse.end());
    return info;
  }
  const DeckSnapshot& shot = DeckSnapshots[deck];
  const bool onStage = SingerShown() && deck == Stage.stageDeck;
  info.mode = onStage && !Stage.singing && !shot.playing ? 1 : 2;
  if (!shot.track) return info;
  const Track& track = *shot.track;
  const DeckLyrics& record = DeckLyricsState[deck];
  if (LyricsBelongTo(record, track.path)) info.lyrics = record.lyrics;
  info.path = track.path;
  info.title = track.title.empty() ? FileStem(track.path) : track.title;
  info.artist = track.artist;
  if (track.sampleRate > 0) {
    info.position = shot.position / track.sampleRate;
    info.duration = static_cast<double>(track.frames) / track.sampleRate;
  }
  info.playing = shot.playing;
  // A track without a tempo keeps the default beat.
  if (track.bpm > 0.0 && std::isfinite(track.bpm)) info.beatLength = kSecondsPerMinute / track.bpm;
  info.firstBeat = track.firstBeat;
  if (onStage && Stage.currentSinger >= 0 && static_cast<size_t>(Stage.currentSinger) < Rotation.singers.size())
    info.singer = Rotation.singers[static_cast<size_t>(Stage.currentSinger)].name;
  info.beatPulse = KaraokeFeed.beatPulse[static_cast<size_t>(deck)];
  return info;
}

void KaraokeTick() {
  FollowDeckLyrics(KaraokePanelShown || IsKaraokeScreenOpen());
  FollowTapSync();
  KaraokeStageWatch();
  BreakMusicTick();
  if (IsKaraokeScreenOpen()) PushKaraokeScreenInfo(BuildKaraokeScreenInfo(), Settings.Karaoke);
}
