#pragma once
// Serato's library: the "_Serato_" folder's "database V2" and "Subcrates/*.crate" files (chunk
// streams naming the tracks) and, inside each MP3, the Serato tags (library/serato_tags.h).
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "library/imported_tracks.h"

// A database or crate file larger than this is not read (it counts as empty).
inline constexpr size_t kMaxSeratoFileBytes = size_t(512) << 20;

// Reads the library of a "_Serato_" folder: the crates' tracks and lists, then the database's
// tracks, each file once, with its Serato tags. Failures arrive as the result's error.
ImportResult ImportSerato(const std::wstring& folder);

// --- Pieces ---
// Calls handler(tag, payload) for each chunk (4-byte tag, 32-bit big-endian length, payload) in
// order; a chunk whose payload would run past the end ends the walk.
void ForEachSeratoChunk(std::span<const uint8_t> bytes,
                        const std::function<void(std::string_view tag, std::span<const uint8_t> payload)>& handler);
// The file paths a database or crate stream names ("otrk" chunks holding "ptrk" or "pfil"), as
// stored (UTF-16 big-endian decoded), in order.
std::vector<std::wstring> SeratoStreamPaths(std::span<const uint8_t> bytes);
// A stored path made local: an absolute path stays, any other is joined to the volume root
// (which ends in "/").
std::wstring SeratoLocalPath(const std::wstring& stored, const std::wstring& volumeRoot);
