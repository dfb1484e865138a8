#pragma once
// LRC lyrics text: reading lyrics files in their usual encodings, parsing the LRC dialect (line
// and word time tags, the offset tag, the estimated marker, untimed text), writing it, and the
// program's lyrics cache: one LRC file per track in the "Lyrics" folder of the data folder.
#include <cstdint>
#include <string>
#include <string_view>

#include "karaoke/lyrics.h"

// A lyrics file is read up to this many bytes; the rest is ignored.
inline constexpr size_t kMaxLyricsFileBytes = size_t(4) << 20;
// The cache name hash: 64-bit FNV-1a from this basis.
inline constexpr uint64_t kLyricsCacheHashBasis = 0x14650FB0739D0383ull;
inline constexpr uint64_t kFnvPrime = 0x100000001B3ull;

// --- Text ---
// Decodes a lyrics file's bytes: a UTF-16 byte-order mark of either order, else UTF-8 (a mark
// dropped) when the bytes are valid UTF-8, else Windows-1252.
std::wstring DecodeLyricsBytes(std::string_view bytes);
// The decoded text of the file's first kMaxLyricsFileBytes; empty when it cannot be opened.
std::wstring ReadLyricsText(const std::wstring& path);

// --- LRC ---
// "mm:ss.xx", "mm:ss", "mm:ss:xx" or "h:mm:ss.x" as seconds; -1.0 when the tag is no time (also
// when it lies beyond kMaxLyricSeconds).
double ParseLrcTime(std::wstring_view tag);
// The lyrics in LRC text: kind Synced, Estimated ("[vx:estimated]"), Plain (no time tags) or None,
// offset 0.0 (an "[offset:ms]" tag is folded into the times), empty source. Text beyond the
// kMaxLyric* limits gives kind None as a whole (and a log line).
Lyrics ParseLrc(std::wstring_view text);
Lyrics ParseLrcWithSource(std::wstring_view text, const std::wstring& source);
// "mm:ss.xx" of a time clamped to 0 .. kMaxLyricSeconds and rounded to hundredths.
std::wstring FormatLrcTime(double seconds);
// The LRC text of the lyrics, the offset folded into every time; lines end with LF.
std::wstring WriteLrc(const Lyrics& lyrics);

// --- Cache ---
// The FNV-1a hash of the track's path key in UTF-8 that names its cache file.
uint64_t LyricsCacheHash(const std::wstring& trackPath);
// AppDataDir()/Lyrics/<16 hex digits>.lrc for the track.
std::wstring LyricsCachePath(const std::wstring& trackPath);
// Writes the track's cache file crash-safe (UTF-8 with a byte-order mark). Refused (false) for
// lyrics without lines or that are not Synced or Estimated; false when the write fails (*error then
// names the step and the cause).
bool SaveLyrics(const std::wstring& trackPath, const Lyrics& lyrics, std::wstring* error = nullptr);
// Saves them as SaveLyrics does; when the write fails the status line names the file and the cause.
bool SaveLyricsOrSay(const std::wstring& trackPath, const Lyrics& lyrics);
