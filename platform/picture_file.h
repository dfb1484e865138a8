#pragma once
// Picture files (JPEG, CMYK JPEG too, PNG up to 16 bits, BMP, GIF, WebP through FFmpeg's image
// decoders; HEIC through libheif) decoded into premultiplied ARGB, scaled down with an area filter.
// Only a regular file of at most 256 MiB whose header declares at most 16384 pixels a side and
// 128 megapixels is decoded: anything else is refused before any pixel memory is taken, so a
// hostile file cannot exhaust memory or hang the caller. Any thread.
#include <cstdint>
#include <string>
#include <vector>

inline constexpr uint64_t kMaxPictureFileBytes = uint64_t{256} << 20;
inline constexpr int kMaxPictureSide = 16384;
inline constexpr int64_t kMaxPicturePixels = int64_t{128} * 1000 * 1000;

// Decodes the file's first picture, scaled so that its longer side is at most maxSide (never
// enlarged; each side at least 1), into rows of premultiplied ARGB words (0xAARRGGBB).
// False with *error (and *pixels untouched) when the file is missing, not a regular file, too large,
// declares too many pixels, or cannot be decoded.
bool DecodePictureFile(const std::wstring& path, int maxSide, std::vector<uint32_t>* pixels, int* width, int* height,
                       std::wstring* error);
