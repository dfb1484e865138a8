#include "library/imported_tracks.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "base/log.h"
#include "base/text_parse.h"
#include "platform/text.h"

namespace {
constexpr double kClosingMarkerBeatSeconds = kImportClosingMarkerBeats * 60.0;
}  // namespace

ImportSource ClampImportSource(int64_t source) {
  if (source < kImportRekordbox) return kImportRekordbox;
  if (source > kImportVirtualDj) return kImportVirtualDj;
  return static_cast<ImportSource>(source);
}

ImportResult RunImporter(uint32_t source, const std::wstring& path) {
  switch (source) {
    case kImportRekordbox: return ImportRekordbox(path);
    case kImportItunes: return ImportItunes(path);
    case kImportTraktor: return ImportTraktor(path);
    case kImportVirtualDj: return ImportVirtualDj(path);
    default: return ImportSerato(path);
  }
}

bool ImportableFile(const std::wstring& path) {
  if (path.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(std::filesystem::path(PathToBytes(path)), ec);
}

void AddImportedPlaylist(ImportResult& result, const std::wstring& name, std::vector<std::wstring> paths) {
  if (name.empty() || paths.empty()) return;
  TrackList list;
  list.name = name;
  list.paths = std::move(paths);
  result.playlists.push_back(std::move(list));
}

namespace {

void LogBoundOnce(ImportResult& result, const std::wstring& what) {
  if (result.boundLogged) return;
  result.boundLogged = true;
  WriteLog(L"Import: {}; the rest is left out", what);
}

}  // namespace

bool ImportedTrackFits(ImportResult& result) {
  if (result.tracks.size() < kMaxImportedTracks) return true;
  LogBoundOnce(result, fmt::format(L"more than {} tracks", kMaxImportedTracks));
  return false;
}

bool AddPlaylistPath(ImportResult& result, std::vector<std::wstring>& paths, std::wstring path) {
  if (path.size() + 1 > result.playlistCharsLeft) {
    result.playlistCharsLeft = 0;
    LogBoundOnce(result, fmt::format(L"the playlists name more than {} characters of paths", kMaxImportedPlaylistChars));
    return false;
  }
  result.playlistCharsLeft -= path.size() + 1;
  paths.push_back(std::move(path));
  return true;
}

void AppendClosingMarker(ImportedTrack& track, double lastTempo) {
  if (track.tempoMarkers.empty() || !std::isfinite(lastTempo) || lastTempo <= 0.0) return;
  const TempoMarker last = track.tempoMarkers.back();
  track.tempoMarkers.push_back({last.beat + kImportClosingMarkerBeats, last.seconds + kClosingMarkerBeatSeconds / lastTempo});
}

bool ImportedTimeFits(double seconds) { return std::isfinite(seconds) && seconds >= 0.0 && seconds <= kMaxImportedSeconds; }

bool ImportedTempoFits(double bpm) { return std::isfinite(bpm) && bpm > 0.0 && bpm <= kMaxImportedBpm; }

bool ImportedNumber(std::string_view text, double* out) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '+')) text.remove_prefix(1);
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  (void)end;
  if (ec == std::errc::result_out_of_range || (ec == std::errc() && !std::isfinite(value))) return false;
  *out = LeadingNumber(text);
  return std::isfinite(*out);
}
