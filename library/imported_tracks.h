#pragma once
// Collections of other DJ programs: one imported track in this program's units, the result of one
// import, and what every importer shares. Importers run on the import thread, read only their
// files and the file system, never throw, and never touch the library; the UI thread merges the
// result (import_merge.h).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/track.h"
#include "library/track_lists.h"

// One track as another program stores it. A fresh record is "nothing imported" in every field.
struct ImportedTrack {
  std::wstring path;        // a regular file on this computer (ImportableFile)
  double bpm = 0.0;         // 0: no tempo and no grid imported (a tempo comes only with its grid)
  double firstBeat = 0.0;   // seconds of beat 0
  int32_t key = -1;         // 0-11 major, 12-23 minor, -1 none
  int32_t rating = -1;      // stars 0-5; -1 the source gave none
  double cue = -1.0;        // main cue, seconds; -1 none
  std::array<double, kHotCues> hotCueStart = {-1.0, -1.0, -1.0, -1.0, -1.0, -1.0, -1.0, -1.0};  // -1 empty
  std::array<double, kHotCues> hotCueEnd = {-1.0, -1.0, -1.0, -1.0, -1.0, -1.0, -1.0, -1.0};    // -1 a point
  std::array<int32_t, kHotCues> hotCueColor = {-1, -1, -1, -1, -1, -1, -1, -1};  // 0xRRGGBB; -1 none
  std::array<std::wstring, kHotCues> hotCueName;
  std::vector<double> memoryCues;  // seconds
  int32_t color = 0;               // track colour index 1-8; 0 none
  // Grid markers after the first beat: (beat counted from firstBeat, seconds), closed by
  // AppendClosingMarker. Never holds beat 0.
  std::vector<TempoMarker> tempoMarkers;
};

// Bounds on what one import may hand over, far past any real collection: a small hostile file
// could otherwise name one file millions of times. What lies beyond is left out (and logged).
inline constexpr size_t kMaxImportedTracks = 500000;
inline constexpr size_t kMaxImportedPlaylistChars = size_t(32) << 20;  // every list's paths together

struct ImportResult {
  std::vector<ImportedTrack> tracks;  // in the source's order
  std::vector<TrackList> playlists;   // non-empty names and paths (AddImportedPlaylist)
  std::wstring error;                 // set only when no track is returned; a sentence for the user
  size_t playlistCharsLeft = kMaxImportedPlaylistChars;  // taken by AddPlaylistPath
  bool boundLogged = false;                              // a bound cut something off; said once
  // Per playlist its list file's bytes, made on the import thread (MakeListFiles); empty: made at
  // the merge.
  std::vector<std::string> playlistFiles = {};
};

// Which importer, and which chooser: the number travels as the completion's wparam.
enum ImportSource : uint32_t {
  kImportRekordbox = 0,
  kImportItunes = 1,
  kImportSerato = 2,
  kImportTraktor = 3,
  kImportVirtualDj = 4,
};
inline constexpr int kImportSourceCount = 5;
// Values outside 0-4 count as the nearest end of the range.
ImportSource ClampImportSource(int64_t source);

// --- The importers (each in its own file; path is the chosen file or folder) ---
ImportResult ImportRekordbox(const std::wstring& path);  // a collection XML file
ImportResult ImportItunes(const std::wstring& path);     // "Library.xml"
ImportResult ImportSerato(const std::wstring& path);     // the _Serato_ folder
ImportResult ImportTraktor(const std::wstring& path);    // collection.nml
ImportResult ImportVirtualDj(const std::wstring& path);  // database.xml
// The importer of the source (any value not 0, 1, 3 or 4 is Serato) run on the path.
ImportResult RunImporter(uint32_t source, const std::wstring& path);

// --- Shared by the importers ---
// Whether an imported path names a regular file here, after links: folders, FIFOs, devices and
// dangling links are no tracks. An empty path never is.
bool ImportableFile(const std::wstring& path);
// Appends {name, paths} when both are non-empty; the paths are consumed either way.
void AddImportedPlaylist(ImportResult& result, const std::wstring& name, std::vector<std::wstring> paths);
// Closes a grid that has markers with one more marker 2048 beats after the last one, at the last
// marker's time + 122880 / lastTempo seconds, so the last segment has an end. Nothing when
// there is no marker or lastTempo is not a positive finite number.
void AppendClosingMarker(ImportedTrack& track, double lastTempo);
inline constexpr double kImportClosingMarkerBeats = 2048.0;
// Beat numbers kept in a marker: a larger or non-finite one does not fit and drops the marker.
inline constexpr double kMaxMarkerBeat = 1e9;
// A time in seconds an importer keeps: finite, 0 or more, and at most a day.
inline constexpr double kMaxImportedSeconds = 86400.0;
bool ImportedTimeFits(double seconds);
// A tempo an importer keeps: finite and above 0, at most this many beats per minute.
inline constexpr double kMaxImportedBpm = 1000.0;
bool ImportedTempoFits(double bpm);
// A decimal number as stored text: the number at its start, 0 for empty or wordless text (as the
// other programs' own readers take it). False, absent, for infinity, not-a-number and values past
// the double range.
bool ImportedNumber(std::string_view text, double* out);

// Whether the import has room for one more track (kMaxImportedTracks); the first refusal is logged.
bool ImportedTrackFits(ImportResult& result);
// Appends path to paths while every list's paths together stay within kMaxImportedPlaylistChars;
// once the budget is spent nothing more is added (logged once) and the result is false.
bool AddPlaylistPath(ImportResult& result, std::vector<std::wstring>& paths, std::wstring path);
