#pragma once
// Pieces shared by the media decoder and encoder (and their tests); no library header needed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One decoded sample format: the library's format number, bytes per sample, whether each channel
// has its own plane, and the conversion of one sample to float (the library's own scaling, so
// our samples equal its command-line decoder's).
struct MediaSampleFormat {
  int format;
  size_t bytes;
  bool planar;
  float (*read)(const uint8_t* sample);
};
extern const MediaSampleFormat kMediaSampleFormats[];
extern const size_t kMediaSampleFormatCount;
// The row of a format, or nullptr when it has none.
const MediaSampleFormat* FindMediaSampleFormat(int format);

// The library's text for an error code, with the code: "Invalid data found ... (-1094995529)".
std::wstring MediaErrorText(int code);
// Routes the libraries' log through RouteMediaLibraryLog's sink (nothing reaches stderr).
// Idempotent; every media entry point calls it.
void InstallMediaLogRoute();

// Scales a decoded picture (planes in the library's pixel format `format`) so that both sides are
// at most maxSide (never enlarged), with the area filter, into premultiplied ARGB words.
bool ScalePictureToArgb(const uint8_t* const planes[4], const int strides[4], int format, int w, int h, int maxSide,
                        std::vector<uint32_t>* pixels, int* outW, int* outH, std::wstring* error);
