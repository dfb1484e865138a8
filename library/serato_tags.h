#pragma once
// What Serato keeps inside an MP3's ID3 tag: GEOB frames "Serato Markers2" (hot cues, saved
// loops, track colour, base64 inside) and "Serato BeatGrid" (grid markers), read into an
// imported track.
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "library/imported_tracks.h"

// Fills the track's hot cues, loops, colour and grid from the file's Serato GEOB frames. Only
// ".mp3" files (any letter case) are read. True when a hot cue, a loop or a grid was taken (a
// colour alone does not count). Bad or truncated data ends its walk; what was read before stays.
bool ReadSeratoTags(const std::wstring& path, ImportedTrack* track);

// --- Pieces, each on bytes already in memory ---
// Each GEOB frame of the file's tag: description (ASCII part only) -> object bytes; a later frame
// with the same description replaces the earlier one.
std::map<std::string, std::vector<uint8_t>> ReadGeobFrames(const std::wstring& path);
// One GEOB frame's data split into description and object; false when the data ends too soon.
bool SplitGeobFrame(std::span<const uint8_t> data, std::string* description, std::vector<uint8_t>* object);
// Standard-alphabet base64: other characters are skipped; "=" or NUL ends the text.
std::vector<uint8_t> Base64Decode(std::span<const uint8_t> text);
// The decoded "Serato Markers2" entries (after base64) into the track; true when a cue or loop
// was taken.
bool ApplySeratoMarkers(std::span<const uint8_t> decoded, ImportedTrack* track);
// The "Serato BeatGrid" object into the track; true when a grid was taken.
bool ApplySeratoBeatGrid(std::span<const uint8_t> object, ImportedTrack* track);
