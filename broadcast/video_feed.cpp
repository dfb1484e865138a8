#include "broadcast/video_feed.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "base/beat_grid.h"
#include "base/palette.h"
#include "base/settings.h"
#include "broadcast/audio_stream.h"
#include "broadcast/live_video.h"
#include "broadcast/video_record.h"
#include "broadcast/video_window.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/side_slots.h"
#include "library/cover_art.h"
#include "library/now_playing.h"
#include "platform/clock.h"
#include "platform/media_probe.h"

VideoFeed PublishedVideoFeed;
VideoDeck VideoDecks[2];
bool (*VideoPreviewShownHook)() = nullptr;

namespace {

// Without an on-air deck the effects pulse at 120 beats a minute.
constexpr double kIdleBeatsPerSecond = 2.0;
// How long a captured frame waits for the decoder to reach the newest due picture.
constexpr int kCapturedPictureWaitMs = 8;
// A side's picture older than this (seconds heard since it began to show) is a file that ended or
// a decoder that fell behind: it times nothing, and the mix is recorded as it is now.
constexpr double kFreshPictureSeconds = 0.25;

// Keyed by the path exactly as given (two spellings are two files on Linux).
std::unordered_map<std::wstring, bool> probeCache;

// The track's cover from the art cache, its load queued the first time the path is seen: false
// while it loads and when the track has none (the side then shows its card with the ring).
bool LookUpCoverArt(const std::wstring& path, std::vector<uint32_t>* pixels, uint32_t* width, uint32_t* height) {
  const ArtEntry* entry = TouchArtEntry(path);
  if (!entry || !entry->loaded || entry->pixels.empty() || entry->width <= 0 || entry->height <= 0 ||
      entry->pixels.size() != static_cast<size_t>(entry->width) * static_cast<size_t>(entry->height))
    return false;
  *pixels = entry->pixels;
  *width = static_cast<uint32_t>(entry->width);
  *height = static_cast<uint32_t>(entry->height);
  return true;
}

bool VideoWanted(const bool sideHasVideo[2]) {
  return IsVideoWindowOpen() || (VideoRecordingRunning() && !VideoRecordingFailed()) ||
         LiveVideoState() == kStreamOnAir || sideHasVideo[0] || sideHasVideo[1] ||
         (VideoPreviewShownHook && VideoPreviewShownHook());
}

void FillEntry(int deck, float gainA, float gainB, VideoFeedEntry* e) {
  const DeckSnapshot& shot = DeckSnapshots[deck];
  if (!shot.track) return;
  const Track& track = *shot.track;
  e->path = track.path;
  e->title = track.title;
  e->artist = track.artist;
  e->position = track.sampleRate > 0 ? shot.position / track.sampleRate : 0.0;
  const DeckView& view = LiveDeckViews[deck];
  const int32_t assign = view.xfAssignSet ? view.xfAssign : (deck % 2 == 0 ? 0 : 2);
  const float faderGain = assign == 1 ? 1.0f : assign == 0 ? gainA : gainB;
  e->level = view.fader * view.fader * faderGain * (shot.playing ? 1.0f : kPausedVideoLevel);
  e->colour = DeckColour(deck);
  for (const VideoDeck& side : VideoDecks)
    if (side.artPath == e->path) return;  // a side holds it already
  if (!LookUpCoverArt(e->path, &e->art, &e->artWidth, &e->artHeight)) {
    e->art.clear();
    e->artWidth = e->artHeight = 0;
  }
}

void FollowSide(VideoDeck& deck, VideoFeedEntry& entry) {
  if (entry.path != deck.path) {
    deck.path = entry.path;
    deck.hasVideo = HasVideo(deck.path);
    deck.frame.clear();
    deck.frameWidth = deck.frameHeight = 0;
    deck.frameSerial = 0;
    deck.frameTime = 0.0;
    ++deck.frameVersion;
    if (deck.hasVideo) deck.player.Open(deck.path);
    else deck.player.Stop();
  }
  if (!entry.art.empty()) {
    deck.art = std::move(entry.art);
    deck.artWidth = entry.artWidth;
    deck.artHeight = entry.artHeight;
    deck.artPath = entry.path;
    ++deck.artVersion;
    entry.art = {};
  } else if (deck.artPath != entry.path && !deck.art.empty()) {
    deck.art = {};
    deck.artWidth = deck.artHeight = 0;
    deck.artPath.clear();
    ++deck.artVersion;
  }
  if (deck.hasVideo) {
    deck.player.Seek(entry.position, false);
    if (deck.player.TakeFrame(&deck.frame, &deck.frameWidth, &deck.frameHeight, &deck.frameSerial, &deck.frameTime))
      ++deck.frameVersion;
    // A recording or a stream takes this frame's picture. After a slow UI frame two pictures can
    // have come due, and the one held ahead is only the first: the decoder, woken by this Seek,
    // reaches the newest within a picture's decode, so it is waited for a few milliseconds.
    const bool captured = (VideoRecordingRunning() && !VideoRecordingFailed()) || LiveVideoState() == kStreamOnAir;
    if (captured && deck.player.WaitUntilIdle(kCapturedPictureWaitMs) &&
        deck.player.TakeFrame(&deck.frame, &deck.frameWidth, &deck.frameHeight, &deck.frameSerial, &deck.frameTime))
      ++deck.frameVersion;
  }
}

// The recording's time at which the newest of the sides' video pictures began to show, or
// kShownNow when no playing side shows a fresh one. A picture's own time reaches the recording
// through its deck's place and speed, read beside the recording's clock under the engine lock, so
// that how late the UI got here moves nothing. UI thread, engine lock not held.
double RecordedTimeShown(const int decks[2]) {
  double clock = 0.0;
  double position[2] = {}, pace[2] = {};  // seconds into the track; track seconds a second heard
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    clock = VideoRecordingClock();
    const int32_t rate = RunningOutputRate(Engine);
    for (int side = 0; side < 2; ++side) {
      if (!ValidDeck(decks[side])) continue;
      const DeckState& deck = Engine.decks[decks[side]];
      // Held, scratched or backwards, the picture follows the hand, not a time.
      if (!deck.track || deck.track->sampleRate <= 0 || !deck.playing || deck.jogTouched || deck.speed <= 0.0) continue;
      position[side] = deck.position / deck.track->sampleRate;
      pace[side] = deck.speed * rate / deck.track->sampleRate;
    }
  }
  double shown = kShownNow;
  for (int side = 0; side < 2; ++side) {
    const VideoDeck& deck = VideoDecks[side];
    if (pace[side] <= 0.0 || !deck.hasVideo || deck.frame.empty()) continue;
    const double at = std::min(clock + (deck.frameTime - position[side]) / pace[side], clock);
    if (at < clock - kFreshPictureSeconds) continue;
    shown = std::isnan(shown) ? at : std::max(shown, at);
  }
  return shown;
}

}  // namespace

bool HasVideo(const std::wstring& path) {
  if (path.empty()) return false;
  if (const auto hit = probeCache.find(path); hit != probeCache.end()) return hit->second;
  if (probeCache.size() > kVideoProbeCacheLimit) probeCache.clear();
  const bool video = FileHasVideo(path);
  probeCache.emplace(path, video);
  return video;
}

void PushVideoFeed(VideoFeed& feed) {
  for (int side = 0; side < 2; ++side) FollowSide(VideoDecks[side], feed.entries[side]);
  for (int side = 0; side < 2; ++side) {
    VideoFeedEntry& to = PublishedVideoFeed.entries[side];
    const VideoFeedEntry& from = feed.entries[side];
    to.path = from.path;
    to.title = from.title;
    to.artist = from.artist;
    to.position = from.position;
    to.level = from.level;
    to.colour = from.colour;
    to.art.clear();  // the art lives in the VideoDecks
    to.artWidth = to.artHeight = 0;
  }
  PublishedVideoFeed.transition = feed.transition;
  PublishedVideoFeed.effect = feed.effect;
  PublishedVideoFeed.overlay = feed.overlay;
  PublishedVideoFeed.beat = feed.beat;
}

void UpdateVideoFeed() {
  int decks[2] = {SideSlots[kLeftSide], SideSlots[kRightSide]};
  bool sideHasVideo[2] = {};
  for (int side = 0; side < 2; ++side) {
    const int d = decks[side];
    sideHasVideo[side] = ValidDeck(d) && DeckSnapshots[d].track && HasVideo(DeckSnapshots[d].track->path);
  }
  if (!VideoWanted(sideHasVideo)) return;

  VideoFeed feed;
  // The position the engine mixes with: a reversed cross-fader shows the deck that is heard.
  const float x = std::clamp(Settings.XfReverse ? 1.0f - CrossfaderPosition : CrossfaderPosition, 0.0f, 1.0f);
  const float gainA = std::min(1.0f, 2.0f * (1.0f - x));
  const float gainB = std::min(1.0f, 2.0f * x);
  for (int side = 0; side < 2; ++side)
    if (ValidDeck(decks[side])) FillEntry(decks[side], gainA, gainB, &feed.entries[side]);
  feed.transition = Settings.Transition;
  feed.effect = Settings.Effect;
  feed.overlay = Settings.Overlay;

  feed.beat = NAN;
  const int onAir = LoudestAudibleDeck();
  if (onAir >= 0 && DeckSnapshots[onAir].track) {
    const Track& track = *DeckSnapshots[onAir].track;
    if (track.sampleRate > 0) feed.beat = BeatAtTime(track, DeckSnapshots[onAir].position / track.sampleRate);
  }
  if (!std::isfinite(feed.beat)) feed.beat = kIdleBeatsPerSecond * (static_cast<double>(MonotonicMs()) / 1000.0);

  PushVideoFeed(feed);
  if (VideoRecordingRunning() && !VideoRecordingFailed()) CaptureRecordFrame(RecordedTimeShown(decks));
  CaptureLiveFrame();
}

void StopVideoDecks() {
  for (VideoDeck& deck : VideoDecks) {
    deck.player.Stop();
    deck.path.clear();
    deck.hasVideo = false;
    deck.frame.clear();
    deck.frameWidth = deck.frameHeight = 0;
    deck.frameSerial = 0;
    deck.frameTime = 0.0;
    ++deck.frameVersion;
  }
}
