#pragma once
// The library's record of each audio file and the one process-wide map of them, keyed by path.
// The map, its records and LibraryDirty belong to the UI thread; workers hand results back to it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/track.h"

inline constexpr double kEmptyCue = -1.0;          // a hot-cue start or end that is not set
inline constexpr float kDefaultLoudnessDb = -20.0f;

// One audio file as the library knows it. Field order is the database file's column order.
struct TrackInfo {
  double bpm = 0.0;          // beats per minute; 0 unknown
  double firstBeat = 0.0;    // seconds of the grid's first beat
  int32_t key = -1;          // 0-11 major, 12-23 minor, -1 none
  float loudness = kDefaultLoudnessDb;  // the analysis's loudness value
  bool analyzed = false;     // tempo, grid, key and loudness are stored
  double cue = 0.0;          // main cue, seconds
  std::array<double, kHotCues> hotCueStart = {kEmptyCue, kEmptyCue, kEmptyCue, kEmptyCue,
                                                    kEmptyCue, kEmptyCue, kEmptyCue, kEmptyCue};
  int32_t rating = 0;        // stars 0-5
  int32_t playCount = 0;     // never negative
  int64_t lastPlayed = 0;    // seconds since 1970-01-01 UTC; 0 never
  // Loop end of each hot cue in seconds; -1.0 when the cue is a point.
  std::array<double, kHotCues> hotCueEnd = {kEmptyCue, kEmptyCue, kEmptyCue, kEmptyCue,
                                                  kEmptyCue, kEmptyCue, kEmptyCue, kEmptyCue};
  std::array<int32_t, kHotCues> hotCueColor = {-1, -1, -1, -1, -1, -1, -1, -1};  // -1 default
  std::array<std::wstring, kHotCues> hotCueName;
  bool gridImported = false;              // grid came from another DJ program; analysis keeps it
  std::vector<double> memoryCues;         // seconds, ascending
  int32_t color = 0;                      // index into kTrackColours, 0-8
  std::wstring myTags;                    // NormalizeTags form: "house, deep"
  std::vector<TempoMarker> tempoMarkers;  // ascending by beat
};

// --- The path index ---

// 64-bit FNV-1a over the key's UTF-16 code units, each taken low byte first. Characters above
// U+FFFF count as their surrogate pair, so a key hashes the same on every platform.
uint64_t Fnv1aPathHash(std::wstring_view key);
// Fnv1aPathHash of each key into hashes[i], several keys at a time (for passes over many paths).
void Fnv1aPathHashes(std::span<const std::wstring_view> keys, uint64_t* hashes);

// A key with its hash already worked out, so that a pass that hashes each key for its own use
// can look the map up without hashing again.
struct HashedPathKey {
  std::wstring_view key;
  size_t hash = 0;
};
struct PathKeyHash {
  using is_transparent = void;
  size_t operator()(const std::wstring& key) const { return static_cast<size_t>(Fnv1aPathHash(key)); }
  size_t operator()(const HashedPathKey& key) const { return key.hash; }
};
struct PathKeyEqual {
  using is_transparent = void;
  bool operator()(const std::wstring& a, const std::wstring& b) const { return a == b; }
  bool operator()(const HashedPathKey& a, const std::wstring& b) const { return a.key == b; }
  bool operator()(const std::wstring& a, const HashedPathKey& b) const { return a == b.key; }
};
using TrackMap = std::unordered_map<std::wstring, TrackInfo, PathKeyHash, PathKeyEqual>;

// Every record, keyed by PathKey (path): on Linux the path exactly as given, so two files that
// differ only in case are two tracks. Loading the database clears it; no pointer into it is
// kept across a frame.
extern TrackMap TrackLibrary;
// The map holds changes that are not yet in the database file. Set by every writer through
// TrackInfoFor and RelocateTrack; cleared by a successful save and at the end of a load.
extern bool LibraryDirty;

// The record of a path, or null. Read-only: never creates a record, never marks the library dirty.
const TrackInfo* FindTrackInfo(const std::wstring& path);
// The records of many keys, each with its hash, into records[i] (nullptr where none). Each lookup
// is a chain of dependent misses (bucket, node, key): the chains of many keys are kept in flight,
// which a pass over a large collection needs.
void FindHashedTrackInfos(std::span<const HashedPathKey> keys, const TrackInfo** records);
// The record of a path for writing, created with the defaults when missing. Always sets
// LibraryDirty first. The reference stays valid until the record is erased or the map cleared.
TrackInfo& TrackInfoFor(const std::wstring& path);
// Moves the record of oldPath to newPath (a moved file). Nothing when oldPath has no record or
// both name the same key; a record already at newPath is kept and the moved copy dropped.
// Sets LibraryDirty when a record was found.
void RelocateTrack(const std::wstring& oldPath, const std::wstring& newPath);
// The record's beat grid (BPM, first beat, tempo markers) onto the track.
void CopyGridToTrack(const TrackInfo& record, Track& track);
// The track's beat grid and key into the record.
void CopyGridToRecord(const Track& track, TrackInfo& record);
// A fresh analysis of the track into its record: a grid imported with a tempo stays (the analysis
// only fills a missing key); the loudness is taken and the record counts as analysed.
void RecordAnalysis(const Track& track, TrackInfo& record);

// A tempo as lists and decks show it, with `decimals` places; nothing for a track without a tempo
// (0, negative or not finite), which a number such as "0.0" would pass off as measured.
std::wstring BpmText(double bpm, int decimals);

// --- The user's own tags ---

// Tags from comma-separated text: pieces trimmed of white space, empty ones and case-insensitive
// repeats dropped, first appearance kept in order.
std::vector<std::wstring> SplitTags(const std::wstring& text);
// The stored form of tags: SplitTags joined with ", ".
std::wstring NormalizeTags(const std::wstring& text);

// --- Track colours ---

struct TrackColour {
  int index;
  const wchar_t* name;  // as shown
  uint32_t rgb;         // 0xRRGGBB exchanged with other DJ programs
};
inline constexpr int kTrackColourCount = 9;  // index 0 is "None"
inline constexpr std::array<TrackColour, kTrackColourCount> kTrackColours = {{
    {.index = 0, .name = L"None", .rgb = 0x000000},
    {.index = 1, .name = L"Pink", .rgb = 0xFF007F},
    {.index = 2, .name = L"Red", .rgb = 0xFF0000},
    {.index = 3, .name = L"Orange", .rgb = 0xFFA500},
    {.index = 4, .name = L"Yellow", .rgb = 0xFFFF00},
    {.index = 5, .name = L"Green", .rgb = 0x00FF00},
    {.index = 6, .name = L"Aqua", .rgb = 0x25FDE9},
    {.index = 7, .name = L"Blue", .rgb = 0x0000FF},
    {.index = 8, .name = L"Purple", .rgb = 0x660099},
}};
// The nearest colour of indexes 1-8 after scaling both colours to a brightest channel of 1
// (black stays black); ties go to the lower index. Never 0.
int TrackColourIndex(uint32_t rgb);
