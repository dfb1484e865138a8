#include "engine/grid_edits.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "base/beat_grid.h"
#include "base/status_message.h"
#include "base/track_info.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/undo.h"
#include "platform/clock.h"

namespace {

constexpr double kSecondsPerMinute = 60.0;
constexpr double kMarkerNearZeroBeats = 0.5;   // markers this close to beat 0 duplicate the anchor
constexpr double kMarkerMinGapSeconds = 0.05;
constexpr double kMarkerMinGapBeats = 0.5;
constexpr double kUnsetMarker = -1e9;          // "no marker yet" for the walk

}  // namespace

void NormaliseTempoMarkers(Track& track) {
  std::vector<TempoMarker>& markers = track.tempoMarkers;
  std::stable_sort(markers.begin(), markers.end(),
                   [](const TempoMarker& a, const TempoMarker& b) { return a.beat < b.beat; });
  double lastBeat = kUnsetMarker, lastTime = kUnsetMarker;
  bool anchored = false;
  size_t kept = 0;
  for (size_t i = 0; i < markers.size(); ++i) {
    const TempoMarker marker = markers[i];
    if (!std::isfinite(marker.beat) || !std::isfinite(marker.seconds)) continue;
    if (std::abs(marker.beat) < kMarkerNearZeroBeats) continue;
    if (!anchored && marker.beat > 0.0) {
      // The first beat stands before the first positive marker; one earlier than it is dropped.
      if (lastTime + kMarkerMinGapSeconds >= track.firstBeat) continue;
      lastBeat = 0.0;
      lastTime = track.firstBeat;
      anchored = true;
    }
    if (marker.seconds > lastTime + kMarkerMinGapSeconds && std::abs(marker.beat - lastBeat) >= kMarkerMinGapBeats) {
      markers[kept++] = marker;
      lastBeat = marker.beat;
      lastTime = marker.seconds;
    }
  }
  markers.resize(kept);
}

void WriteGridToLibrary(const Track& track) {
  if (track.path.empty()) return;
  TrackInfo& record = TrackInfoFor(track.path);
  record.gridImported = false;
  CopyGridToRecord(track, record);
  record.loudness = track.loudness;
  record.analyzed = true;
}

void EditBeatGrid(int deck, const GridEdit& edit) {
  AssertNotAudioThread();
  if (!ValidDeck(deck) || !edit) return;
  TrackPtr track;
  {
    // The render reads the grid under this lock, so it never sees a half-edited one.
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    track = DeckStateOf(deck).track;
    if (!track) return;
    const double oldBpm = track->bpm, oldFirstBeat = track->firstBeat;
    edit(*track);
    if (!std::isfinite(track->bpm)) track->bpm = oldBpm;
    if (!std::isfinite(track->firstBeat)) track->firstBeat = oldFirstBeat;
    track->bpm = std::clamp(track->bpm, kMinGridBpm, kMaxGridBpm);
    const double beatLength = kSecondsPerMinute / track->bpm;
    const double shift = std::floor(track->firstBeat / beatLength);
    track->firstBeat -= shift * beatLength;
    for (TempoMarker& marker : track->tempoMarkers) marker.beat += shift;
    NormaliseTempoMarkers(*track);
  }
  WriteGridToLibrary(*track);
}

void TapTempo(int deck) { TapTempoAt(deck, MonotonicSeconds()); }

void TapTempoAt(int deck, double now) {
  if (!ValidDeck(deck) || !std::isfinite(now)) return;
  DeckView& view = LiveDeckViews[deck];
  std::vector<double>& taps = view.taps;
  // A long pause, or a clock that went back, starts a new run.
  if (!taps.empty() && (now - taps.back() > kTapRunGapSeconds || now < taps.back())) taps.clear();
  taps.push_back(now);
  if (taps.size() > kMaxTaps) taps.erase(taps.begin());
  if (taps.size() < kMinTaps) {
    ShowStatus(L"Keep tapping on the beat\u2026");
    return;
  }
  const double span = taps.back() - taps.front();
  if (!(span > 0.0)) return;  // taps on one instant give no tempo
  const double tapped = kSecondsPerMinute / (span / static_cast<double>(taps.size() - 1));
  const double rate = 1.0 + TempoOffsetOf(view);
  double bpm = tapped / rate;
  if (!std::isfinite(bpm) || !(bpm > 0.0)) return;
  while (bpm < kTapMinBpm) bpm *= 2.0;
  while (bpm > kTapMaxBpm) bpm *= 0.5;
  EditBeatGrid(deck, [deck, bpm](Track& track) {
    track.bpm = bpm;
    track.firstBeat = track.sampleRate > 0 ? DeckStateOf(deck).position / track.sampleRate : 0.0;
    track.tempoMarkers.clear();
  });
}

GridEdit HalveTempoEdit() {
  return [](Track& track) {
    track.bpm *= 0.5;
    for (TempoMarker& marker : track.tempoMarkers) marker.beat *= 0.5;
  };
}

GridEdit DoubleTempoEdit() {
  return [](Track& track) {
    track.bpm *= 2.0;
    for (TempoMarker& marker : track.tempoMarkers) marker.beat *= 2.0;
  };
}

GridEdit NudgeGridEdit(double seconds) {
  return [seconds](Track& track) {
    track.firstBeat += seconds;
    for (TempoMarker& marker : track.tempoMarkers) marker.seconds += seconds;
  };
}

GridEdit DownbeatEdit(int deck) {
  return [deck](Track& track) {
    if (track.sampleRate <= 0) return;
    const double t = DeckStateOf(deck).position / track.sampleRate;
    const double n = std::round(BeatAtTime(track, t));
    for (TempoMarker& marker : track.tempoMarkers) marker.beat -= n;
    track.firstBeat = t;
  };
}

void HalveTempo(int deck) {
  PushUndo(deck, L"halved the tempo");
  EditBeatGrid(deck, HalveTempoEdit());
}

void DoubleTempo(int deck) {
  PushUndo(deck, L"doubled the tempo");
  EditBeatGrid(deck, DoubleTempoEdit());
}

void NudgeGrid(int deck, double seconds) {
  PushUndo(deck, L"moved the grid");
  EditBeatGrid(deck, NudgeGridEdit(seconds));
}

void SetDownbeatHere(int deck) {
  PushUndo(deck, L"set the downbeat");
  EditBeatGrid(deck, DownbeatEdit(deck));
}
