#pragma once
// Reads the pictures of a video file (FFmpeg's libavformat, libavcodec and libswscale): the best
// video stream, seeking back to a key frame and decoding forward, each chosen picture converted to
// 32-bit pixels. One thread per reader.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The largest picture side a reader accepts: a larger one would need gigabyte frames.
inline constexpr int kVideoReaderMaxSide = 8192;
// Pictures wider than this are halved in both directions on conversion.
inline constexpr int kVideoReaderHalveAbove = 1920;

struct VideoReader;
struct VideoReaderDeleter {
  void operator()(VideoReader* reader) const;
};
using VideoReaderPtr = std::unique_ptr<VideoReader, VideoReaderDeleter>;

struct VideoReaderInfo {
  int width = 0;          // the visible picture
  int height = 0;
  double duration = 0.0;  // seconds; 0 when the file does not say
};

enum class VideoReadResult {
  kPicture,  // a picture was decoded; its time is given
  kEnd,      // the stream ended
  kFailed,   // the file could not be read any further
};

// Opens the file's best video stream and its decoder. Null when the file is missing, is not a
// media file, holds no moving picture, or the picture is empty or larger than kVideoReaderMaxSide
// on a side. Local files only.
VideoReaderPtr OpenVideoReader(const std::wstring& path, VideoReaderInfo* info);
// Moves to the key frame at or before `seconds` (from the stream's first picture); the next
// ReadVideoPicture decodes from there. False when the file cannot seek.
bool SeekVideoReader(VideoReader* reader, double seconds);
// Decodes the next picture and gives its time in seconds from the stream's first picture. Damaged
// packets are skipped; a run of them, or a read error, fails.
VideoReadResult ReadVideoPicture(VideoReader* reader, double* seconds);
// The picture last decoded as B, G, R, A bytes with alpha 0xFF, top row first, rows packed (the
// decoder's bottom-up rows turned upright); halved when wider than kVideoReaderHalveAbove. Reuses
// the vector's storage. False when there is no picture or the conversion fails.
bool ConvertVideoPicture(VideoReader* reader, std::vector<uint32_t>* pixels, int* width, int* height);
