#pragma once
// An MP4 file of one H.264 video track and one AAC audio track, muxed by libavformat from the
// encoders' outputs (platform/video_encode.h). The file is written under "<path>.tmp"; finishing
// writes the index, moves it in front of the media (a player can start before the whole file has
// arrived), flushes it to disk and renames it over the path. One thread per file.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/video_encode.h"

struct Mp4FileFormat {
  int width = 1280;
  int height = 720;
  int fps = 30;
  int videoKbps = 6000;
  std::vector<uint8_t> videoConfig;  // SPS and PPS, Annex B (an H.264 transform's global header)
  int audioRate = 48000;
  int audioKbps = 192;
  std::vector<uint8_t> audioConfig;  // the AudioSpecificConfig
  int audioPriming = 0;              // TransformPrimingSamples of the audio encoder
};

struct Mp4File;
struct Mp4FileDeleter {
  void operator()(Mp4File* file) const;  // an unfinished file's temporary is removed
};
using Mp4FilePtr = std::unique_ptr<Mp4File, Mp4FileDeleter>;

// Creates the temporary file and writes the container's header. Null with *code the (negative)
// FFmpeg error code and *detail the library's text when the file cannot be created or the
// container refuses the format.
Mp4FilePtr OpenMp4File(const std::wstring& path, const Mp4FileFormat& format, int* code,
                       std::wstring* detail);
// Adds one encoded H.264 access unit (Annex B) or one raw AAC frame, timed in 100-ns units as
// the encoders give them. False on a write failure; the file is then unusable.
bool Mp4WriteVideo(Mp4File& file, const EncodedSample& sample);
bool Mp4WriteAudio(Mp4File& file, const EncodedSample& sample);
// Writes the index in front of the media, flushes and renames over the path. False, with *detail
// saying why, when any step fails; the temporary file is removed then.
bool FinishMp4File(Mp4File& file, std::wstring* detail);
