#pragma once
// The platform's audio-file encoder (FFmpeg's libavformat and libavcodec): 16-bit stereo PCM in,
// an MP3 (libmp3lame, 320 kbit/s constant rate) or FLAC (16 bits) file out, the container chosen
// by the output file's extension. The file is written under the write plan's temporary beside the
// file the path's links end at (platform/files.h) and renamed over it only when everything, down
// to the flush to disk and the caller's check, succeeded.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The target formats, standing where a format's GUID would on other platforms.
enum class AudioSubtype { Mp3, Flac };

inline constexpr int64_t kMp3BitsPerSecond = 320000;  // 40000 bytes per second
inline constexpr int kFlacBitsPerSample = 16;

class MediaWriter {
 public:
  ~MediaWriter();  // an unfinished writer removes its temporary file
  MediaWriter(const MediaWriter&) = delete;
  MediaWriter& operator=(const MediaWriter&) = delete;

  // Creates the temporary file, the container for the path's extension and the encoder, and
  // writes the container's header. nullptr when the extension names no container that can hold
  // the format, the encoder refuses the rate, or the file cannot be created; *detail says why.
  static std::unique_ptr<MediaWriter> Open(const std::wstring& path, AudioSubtype subtype,
                                           uint32_t sampleRate, std::wstring* detail = nullptr);

  // Encodes interleaved 16-bit stereo frames (any count; the encoder's own frame size is filled
  // from them). False on an encoder or write failure; the writer is then unusable.
  bool Write(const int16_t* samples, size_t frames, std::wstring* detail = nullptr);
  // Encodes what is left, finishes the container, flushes the file to disk and renames it over
  // the path. False, with the temporary file removed and the path untouched, on any failure.
  // check, when given, reads the flushed temporary first; its false keeps the path untouched.
  bool Finish(std::wstring* detail = nullptr,
              const std::function<bool(const std::wstring& written, std::wstring* why)>& check = {});

  struct State;

 private:
  explicit MediaWriter(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};
