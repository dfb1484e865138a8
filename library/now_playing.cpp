#include "library/now_playing.h"

#include <algorithm>
#include <ctime>

#include "base/settings.h"
#include "base/test_mode.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/mixer_controls.h"
#include "library/database.h"
#include "base/track_info.h"
#include "library/track_lists.h"
#include "platform/paths.h"

NowPlayingState NowPlaying;
NowPlayingOutlets NowPlayingOutlet;

namespace {
constexpr float kAudibleFader = 0.05f;
constexpr float kCrossfaderMiddle = 0.5f;
constexpr int32_t kSideA = 0, kSideThrough = 1, kSideB = 2;

// A listener who tunes in must learn the current track, not wait for the next one.
void FollowStream() {
  const bool onAir = NowPlayingOutlet.streamOnAir && NowPlayingOutlet.streamOnAir();
  if (onAir && !NowPlaying.streamWasOnAir) NowPlaying.announcedPath.clear();
  NowPlaying.streamWasOnAir = onAir;
}

bool LouderAudibleDeck(int deck) {
  for (int other = 0; other < kEngineDecks; ++other)
    if (other != deck && IsDeckAudible(other) && LiveDeckViews[other].meterLevel > LiveDeckViews[deck].meterLevel)
      return true;
  return false;
}

// Decks of equal level go to the last of them, chosen once per frame: announcing each in turn
// would flip the title twice a frame while two meters tie (two decks in a quiet passage decay to
// the same level), each flip a new connection to the stream server.
void AnnounceAudibleTrack() {
  int chosen = -1;
  for (int deck = 0; deck < kEngineDecks; ++deck)
    if (DeckSnapshots[deck].track && IsDeckAudible(deck) && !LouderAudibleDeck(deck)) chosen = deck;
  if (chosen < 0) return;
  const TrackPtr& track = DeckSnapshots[chosen].track;
  if (track->path == NowPlaying.announcedPath) return;
  NowPlaying.announcedPath = track->path;
  if (NowPlayingOutlet.setStreamTitle)
    NowPlayingOutlet.setStreamTitle(track->artist.empty() ? track->title : track->artist + L" - " + track->title);
}


void AddToHistory(const std::wstring& path) {
  if (TrackLists.size() <= static_cast<size_t>(kHistoryList)) return;  // lists not loaded
  TrackList& history = TrackLists[kHistoryList];
  if (!history.paths.empty() && history.paths.back() == path) return;
  history.paths.push_back(path);
  if (history.paths.size() > kHistoryLimit)
    history.paths.erase(history.paths.begin(), history.paths.end() - static_cast<std::ptrdiff_t>(kHistoryLimit));
  SaveList(history);
  if (ListView.refreshList) ListView.refreshList(kHistoryList);
}

// A play counts once per program run; History lists it once per load, so a pause and resume of
// the same load never lists it again, whatever played in between.
void CountPlayStart(DeckView& view, const Track& track) {
  if (NowPlaying.playedThisSession.insert(PathKey(track.path)).second) {
    TrackInfo& record = TrackInfoFor(track.path);
    ++record.playCount;
    record.lastPlayed = static_cast<int64_t>(std::time(nullptr));
  }
  if (Engine.recording.load() && NowPlayingOutlet.addToRecording) NowPlayingOutlet.addToRecording(track.path);
  if (view.playCounted) return;
  view.playCounted = true;
  if (!TestMode) AddToHistory(track.path);
}

// Cue and hot-cue positions reach the library here, not where they are set: one place for every
// way of setting them (pads, controllers, undo), at most one write per frame.
void SaveCueEdits(DeckView& view, const DeckSnapshot& shot) {
  if (!shot.track || shot.track->path != view.cuesPath) return;
  if (shot.cuePoint == view.libraryCue && shot.hotCueStart == view.libraryHotCueStart &&
      shot.hotCueEnd == view.libraryHotCueEnd)
    return;
  const double rate = shot.track->sampleRate;
  if (rate <= 0.0) return;
  TrackInfo& record = TrackInfoFor(shot.track->path);
  record.cue = shot.cuePoint / rate;
  for (int i = 0; i < kHotCues; ++i) {
    const double start = shot.hotCueStart[i], end = shot.hotCueEnd[i];
    record.hotCueStart[i] = start >= 0.0 ? start / rate : kEmptyCue;
    record.hotCueEnd[i] = start >= 0.0 && end > start ? end / rate : kEmptyCue;
  }
  view.libraryCue = shot.cuePoint;
  view.libraryHotCueStart = shot.hotCueStart;
  view.libraryHotCueEnd = shot.hotCueEnd;
}
}  // namespace

void NowPlayingTick() {
  FollowStream();
  AnnounceAudibleTrack();
  for (int deck = 0; deck < kEngineDecks; ++deck) {
    DeckView& view = LiveDeckViews[deck];
    const DeckSnapshot& shot = DeckSnapshots[deck];
    if (shot.track && shot.playing && !view.wasPlaying) CountPlayStart(view, *shot.track);
    view.wasPlaying = shot.playing;
    SaveCueEdits(view, shot);
  }
  AutosaveLibrary();
}

bool IsDeckAudible(int deck) {
  if (!ValidDeck(deck)) return false;
  const DeckView& view = LiveDeckViews[deck];
  if (!DeckSnapshots[deck].playing || view.fader < kAudibleFader) return false;
  const float x = Settings.XfReverse ? 1.0f - CrossfaderPosition : CrossfaderPosition;
  // Decks A and C sit on the cross-fader's A side unless assigned otherwise, B and D on B.
  const int32_t side = view.xfAssignSet ? view.xfAssign : (deck % 2 == 0 ? kSideA : kSideB);
  if (side == kSideThrough) return true;
  return side == kSideA ? x <= kCrossfaderMiddle : x >= kCrossfaderMiddle;
}

int LoudestAudibleDeck() {
  int leader = -1;
  for (int d = 0; d < kEngineDecks; ++d) {
    if (!IsDeckAudible(d)) continue;
    if (leader < 0 || LiveDeckViews[d].meterLevel > LiveDeckViews[leader].meterLevel) leader = d;
  }
  return leader;
}
