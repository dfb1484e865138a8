#pragma once
// TEMPORARY stand-in for library/imported_tracks.h until it lands on main; removed on merge.
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/track.h"
#include "library/track_lists.h"
#include "platform/folder_walk.h"

struct ImportedTrack {
  std::wstring path;
  double bpm = 0.0;
  double firstBeat = 0.0;
  int32_t key = -1;
  int32_t rating = -1;
  double cue = -1.0;
  std::array<double, kHotCues> hotCueStart = {-1, -1, -1, -1, -1, -1, -1, -1};
  std::array<double, kHotCues> hotCueEnd = {-1, -1, -1, -1, -1, -1, -1, -1};
  std::array<int32_t, kHotCues> hotCueColor = {-1, -1, -1, -1, -1, -1, -1, -1};
  std::array<std::wstring, kHotCues> hotCueName;
  std::vector<double> memoryCues;
  int32_t color = 0;
  std::vector<TempoMarker> tempoMarkers;
};

struct ImportResult {
  std::vector<ImportedTrack> tracks;
  std::vector<TrackList> playlists;
  std::wstring error;
};

inline bool ImportableFile(const std::wstring& path) { return !path.empty() && IsRegularFile(path); }
inline void AddImportedPlaylist(ImportResult& result, const std::wstring& name, std::vector<std::wstring> paths) {
  if (name.empty() || paths.empty()) return;
  TrackList list;
  list.name = name;
  list.paths = std::move(paths);
  result.playlists.push_back(std::move(list));
}
inline void AppendClosingMarker(ImportedTrack& track, double lastTempo) {
  if (track.tempoMarkers.empty() || !std::isfinite(lastTempo) || lastTempo <= 0) return;
  const TempoMarker last = track.tempoMarkers.back();
  track.tempoMarkers.push_back({last.beat + 2048, last.seconds + 122880 / lastTempo});
}
inline constexpr double kMaxMarkerBeat = 1e9;
inline constexpr double kMaxImportedSeconds = 86400.0;
inline bool ImportedTimeFits(double s) { return std::isfinite(s) && s >= 0 && s <= kMaxImportedSeconds; }
inline constexpr double kMaxImportedBpm = 1000.0;
inline bool ImportedTempoFits(double bpm) { return std::isfinite(bpm) && bpm > 0 && bpm <= kMaxImportedBpm; }
