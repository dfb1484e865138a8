#pragma once
// PNG files of 32-bit pixels, always RGBA: the alpha channel is kept even when every pixel is
// opaque, so a reader sees the image's own transparency. UI thread or any worker.
#include <cstdint>
#include <string>

// The largest side written (pixels).
inline constexpr int kPngMaxSide = 16384;

// Writes width x height premultiplied ARGB words (0xAARRGGBB, `stride` words per row; cairo's
// ARGB32) as an 8-bit RGBA PNG with straight alpha, crash-safe (".tmp", then rename). False with
// *error, and nothing at the path, when a size is below 1 or above kPngMaxSide, the stride is
// shorter than a row, pixels is null, or encoding or writing fails.
bool WritePngFile(const uint32_t* pixels, int width, int height, int stride, const std::wstring& path,
                  std::wstring* error = nullptr);
