#include "library/now_playing.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "base/settings.h"
#include "base/test_mode.h"
#include "base/track_info.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/mixer_controls.h"
#include "engine/render.h"
#include "library/database.h"
#include "library/track_lists.h"
#include "platform/paths.h"

NowPlayingState NowPlaying;
NowPlayingHookSet NowPlayingHooks;

namespace {
constexpr float kAudibleFader = 0.05f;
constexpr float kCrossfaderMiddle = 0.5f;
constexpr int32_t kSideA = 0, kSideThrough = 1, kSideB = 2;

// The title follows what the audience hears and holds still through a blend: levels are
// smoothed over about a second, and another deck is announced only after it has led the
// announced one by a clear margin for a few seconds. Instantaneous peaks flipped the title many
// times a second while two decks played at near-equal levels.
constexpr double kHeardSmoothingMs = 1000.0;
constexpr uint64_t kTitleHoldMs = 4000;
constexpr float kLeadFactor = 1.26f;       // 2 dB: near-equal decks never take over
constexpr float kSilentLevel = 1e-9f;      // nothing at all: smoothing starts afresh from here
constexpr uint64_t kLongestStepMs = 1000;  // a stalled frame counts as one second

// What the deck sends to the master now: its meter times the channel fader's gain (squared
// travel, as the mix applies it) and its cross-fader side's gain.
float LevelToMaster(int deck) {
  const DeckView& view = LiveDeckViews[deck];
  if (!DeckSnapshots[deck].track || !DeckSnapshots[deck].playing) return 0.0f;
  float left = 1.0f, right = 1.0f;
  CrossfaderGains(Settings.XfReverse ? 1.0f - CrossfaderPosition : CrossfaderPosition, Settings.XfCurve, left, right);
  const int32_t side = view.xfAssignSet ? view.xfAssign : (deck % 2 == 0 ? kSideA : kSideB);
  const float xf = side == kSideA ? left : side == kSideB ? right : 1.0f;
  const float fader = std::clamp(view.fader, 0.0f, 1.0f);
  const float level = view.meterLevel * fader * fader * xf;
  return std::isfinite(level) ? level : 0.0f;
}

// A deck that plays with its channel fader up; what it sends decides among these.
bool InPlay(int deck) {
  return DeckSnapshots[deck].track && DeckSnapshots[deck].playing && LiveDeckViews[deck].fader >= kAudibleFader;
}

bool HoldsAnnouncedTrack(int deck) {
  return ValidDeck(deck) && DeckSnapshots[deck].track && DeckSnapshots[deck].track->path == NowPlaying.announcedPath;
}

// The deck announced, or another that carries the same track when it was reloaded elsewhere.
int AnnouncedDeck() {
  if (NowPlaying.announcedPath.empty()) return -1;
  if (HoldsAnnouncedTrack(NowPlaying.announcedDeck)) return NowPlaying.announcedDeck;
  for (int deck = 0; deck < kEngineDecks; ++deck)
    if (HoldsAnnouncedTrack(deck)) return deck;
  return -1;
}

void SendTitle(int deck) {
  const TrackPtr& track = DeckSnapshots[deck].track;
  if (NowPlayingHooks.setStreamTitle)
    NowPlayingHooks.setStreamTitle(track->artist.empty() ? track->title : track->artist + L" - " + track->title);
}

// The stream title, the recording's tracklist and History all follow this one choice, so a blend
// that holds the title adds nothing anywhere. The tracklist dates the track from when it took
// the lead (ledForMs ago), not from the end of the hold.
void Announce(int deck, uint64_t ledForMs) {
  const TrackPtr& track = DeckSnapshots[deck].track;
  NowPlaying.announcedPath = track->path;
  NowPlaying.announcedDeck = deck;
  NowPlaying.challenger = -1;
  SendTitle(deck);
  if (Engine.recording.load() && NowPlayingHooks.addToRecording) NowPlayingHooks.addToRecording(track->path, ledForMs);
}

// A listener who tunes in must learn the current track at once: the one announced when it still
// plays (announcing afresh could pick the other deck of a blend), else the loudest now.
void FollowStream() {
  const bool onAir = NowPlayingHooks.streamOnAir && NowPlayingHooks.streamOnAir();
  if (onAir && !NowPlaying.streamWasOnAir) {
    const int announced = AnnouncedDeck();
    if (announced >= 0 && InPlay(announced))
      SendTitle(announced);
    else
      NowPlaying.announcedPath.clear();
  }
  NowPlaying.streamWasOnAir = onAir;
}

void AnnounceHeardTrack(uint64_t nowMs) {
  const uint64_t step = NowPlaying.lastTickMs == 0 ? 0 : std::min(nowMs - NowPlaying.lastTickMs, kLongestStepMs);
  NowPlaying.lastTickMs = nowMs;
  const float keep = static_cast<float>(std::exp(-static_cast<double>(step) / kHeardSmoothingMs));
  int loudest = -1;
  for (int deck = 0; deck < kEngineDecks; ++deck) {
    float& heard = NowPlaying.heard[deck];
    // A deck starting from silence is heard at once, so the first title needs no wait.
    const float now = LevelToMaster(deck);
    heard = heard < kSilentLevel ? now : heard * keep + now * (1.0f - keep);
    if (InPlay(deck) && (loudest < 0 || heard >= NowPlaying.heard[loudest])) loudest = deck;
  }
  if (loudest < 0) return;
  if (NowPlaying.announcedPath.empty()) {  // the first title, or the stream just went on air
    Announce(loudest, 0);
    return;
  }
  const int announced = AnnouncedDeck();
  const bool announcedGone = announced < 0 || !InPlay(announced);
  const bool leads = loudest != announced &&
                     (announcedGone || NowPlaying.heard[loudest] > NowPlaying.heard[announced] * kLeadFactor);
  if (!leads) {
    NowPlaying.challenger = -1;
    return;
  }
  if (NowPlaying.challenger != loudest) {
    NowPlaying.challenger = loudest;
    NowPlaying.challengerSinceMs = nowMs;
    return;
  }
  if (nowMs - NowPlaying.challengerSinceMs >= kTitleHoldMs) Announce(loudest, nowMs - NowPlaying.challengerSinceMs);
}

void AddToHistory(const std::wstring& path) {
  if (TrackLists.size() <= static_cast<size_t>(kHistoryList)) return;  // lists not loaded
  TrackList& history = TrackLists[kHistoryList];
  if (!history.paths.empty() && history.paths.back() == path) return;
  history.paths.push_back(path);
  if (history.paths.size() > kHistoryLimit)
    history.paths.erase(history.paths.begin(), history.paths.end() - static_cast<std::ptrdiff_t>(kHistoryLimit));
  SaveList(history);
  if (ListViewHooks.refreshList) ListViewHooks.refreshList(kHistoryList);
}

// A play counts once per program run.
void CountPlayStart(const Track& track) {
  if (!NowPlaying.playedThisSession.insert(PathKey(track.path)).second) return;
  TrackInfo& record = TrackInfoFor(track.path);
  ++record.playCount;
  record.lastPlayed = static_cast<int64_t>(std::time(nullptr));
}

// History lists the announced deck's load once, so a pause and resume of the same load never
// lists it again, whatever played in between; a new load of the announced track is listed when
// it plays.
void ListAnnouncedLoad() {
  const int deck = AnnouncedDeck();
  if (deck < 0 || !InPlay(deck)) return;
  DeckView& view = LiveDeckViews[deck];
  if (view.playCounted) return;
  view.playCounted = true;
  if (!TestMode) AddToHistory(DeckSnapshots[deck].track->path);
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

void NowPlayingTick(uint64_t nowMs) {
  FollowStream();
  AnnounceHeardTrack(nowMs);
  ListAnnouncedLoad();
  for (int deck = 0; deck < kEngineDecks; ++deck) {
    DeckView& view = LiveDeckViews[deck];
    const DeckSnapshot& shot = DeckSnapshots[deck];
    if (shot.track && shot.playing && !view.wasPlaying) CountPlayStart(*shot.track);
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

int NowPlayingDeck() {
  const int deck = AnnouncedDeck();
  return deck >= 0 && InPlay(deck) ? deck : -1;
}

int LoudestAudibleDeck() {
  int leader = -1;
  for (int d = 0; d < kEngineDecks; ++d) {
    if (!IsDeckAudible(d)) continue;
    if (leader < 0 || LiveDeckViews[d].meterLevel > LiveDeckViews[leader].meterLevel) leader = d;
  }
  return leader;
}
