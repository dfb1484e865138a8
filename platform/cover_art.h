#pragma once
// The picture embedded in an audio file (ID3 APIC, FLAC PICTURE, MP4 covr, ASF WM/Picture: the
// container's attached-picture stream), decoded and scaled down to fit a square. Reads only the
// file's headers and the picture; local files only. Any thread.
#include <cstdint>
#include <string>
#include <vector>

// Embedded pictures above these bounds count as no cover: they are never decoded.
inline constexpr size_t kMaxCoverBytes = size_t{16} << 20;
inline constexpr int kMaxCoverSide = 8192;

enum class CoverRead {
  Picture,  // *pixels holds the cover
  None,     // a media file without a usable cover (none, oversized, or undecodable)
  Failed,   // the file is missing or not a media file; *reason says why
};

// Reads the file's first attached picture, scaled with an area filter so that both sides are at
// most maxSide (never enlarged), as premultiplied ARGB words (0xAARRGGBB: bytes B, G, R, A).
// *reason is set for None and Failed.
CoverRead ReadEmbeddedCover(const std::wstring& path, int maxSide, std::vector<uint32_t>* pixels, int* width,
                            int* height, std::wstring* reason);
