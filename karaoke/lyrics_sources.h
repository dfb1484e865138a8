#pragma once
// Where a track's words are found on this computer, in order: the program's lyrics cache, the
// track's own karaoke video, a ".cdg" file beside it, an ".lrc" file beside it, its tags. The
// online service is a separate, later step. Runs on the lyrics worker thread.
#include <cstdint>
#include <span>
#include <string>

#include "karaoke/lyrics.h"

// The `source` texts the user sees for each local source (an ".lrc" file shows its file name).
inline constexpr const wchar_t* kCacheSourceText = L"saved in Veldmix";
inline constexpr const wchar_t* kVideoSourceText = L"the track's own karaoke video";
inline constexpr const wchar_t* kSyltSourceText = L"synced lyrics in the track's tags";
inline constexpr const wchar_t* kTagSourceText = L"lyrics in the track's tags";

// A ".cdg" file shorter than one packet is passed over; a longer one than the limit too (2.5 h of
// graphics at 300 packets a second).
inline constexpr size_t kCdgPacketBytes = 24;
inline constexpr size_t kMaxCdgFileBytes = size_t(64) << 20;

// MPEG audio frame shapes: per version, the sample rates by header index and the samples per
// frame by layer. SYLT times counted in MPEG frames use the file's own frame length.
struct MpegVersionRow {
  uint8_t bits;  // the header's two version bits
  const char* name;
  int32_t sampleRates[3];      // Hz, by sample-rate index 0..2
  int32_t samplesPerFrame[3];  // layers I, II, III
};
inline constexpr MpegVersionRow kMpegVersions[] = {
    {.bits = 3, .name = "MPEG-1", .sampleRates = {44100, 48000, 32000}, .samplesPerFrame = {384, 1152, 1152}},
    {.bits = 2, .name = "MPEG-2", .sampleRates = {22050, 24000, 16000}, .samplesPerFrame = {384, 1152, 576}},
    {.bits = 0, .name = "MPEG-2.5", .sampleRates = {11025, 12000, 8000}, .samplesPerFrame = {384, 1152, 576}},
};
// The frame length assumed when the file's own cannot be read: MPEG-1 layer III at 44.1 kHz.
inline constexpr double kDefaultMpegFrameSeconds = 1152.0 / 44100.0;
// How far after the ID3 tag the first MPEG frame header is looked for.
inline constexpr size_t kMpegSyncSearchBytes = size_t(64) << 10;

// --- Lookup ---
// The first local source that yields words, as Lyrics with its `source` set; kind None when none.
Lyrics FindLyrics(const std::wstring& trackPath);
// The track path with the file name's extension (from its last ".") replaced by `extension`.
std::wstring SiblingPath(const std::wstring& trackPath, const std::wstring& extension);

// --- Tags ---
// Words from the file's tags: for MP3 the ID3 SYLT frames, then USLT frames; then (any format)
// the tag store's lyrics text, parsed as LRC. Kind None when there are none.
Lyrics ReadTagLyrics(const std::wstring& trackPath);
// Fills lyrics (kind Synced, lines) from one SYLT frame's data; true when lines resulted.
// mpegFrameSeconds converts times stamped in MPEG frames. On false *lyrics is unchanged.
bool ParseSylt(std::span<const uint8_t> frame, Lyrics* lyrics, double mpegFrameSeconds = kDefaultMpegFrameSeconds);
// Seconds per frame of the first valid MPEG audio frame header in the bytes; 0.0 when none.
double MpegFrameSeconds(std::span<const uint8_t> bytes);
