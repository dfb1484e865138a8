#pragma once
// The platform's audio-file decoder (FFmpeg's libavformat and libavcodec): opens a file, picks its
// first audio stream and delivers it block by block as interleaved stereo float at the file's own
// sample rate. Encoder delay and padding (MP3 gapless headers) are trimmed, so the frame count is
// the file's true length. Only the "file" protocol is allowed: a playlist or reference file never
// makes the decoder open a network address.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Sample rates outside this range are refused as unsupported (Hz).
inline constexpr int32_t kMediaMinSampleRate = 1000;
inline constexpr int32_t kMediaMaxSampleRate = 768000;

enum class MediaOpenStatus {
  Ok,
  CannotOpen,   // the file cannot be opened or is not a media file
  NoAudio,      // a media file without an audio stream
  Unsupported,  // an audio stream no decoder here can turn into float
};

// What a file says about its first audio stream before decoding. Declared values come from the
// file's headers and may lie: use them as hints only.
struct MediaStreamInfo {
  int32_t channels = 0;
  int32_t sampleRate = 0;         // Hz, within kMediaMinSampleRate..kMediaMaxSampleRate
  double durationSeconds = 0.0;   // 0 when the file does not say
  // The most frames the file's bytes can plausibly hold: exact for PCM, a generous bound for
  // compressed codecs. Caps reservations made from durationSeconds; never a limit on decoding.
  uint64_t framesBoundBySize = 0;
};

class MediaReader {
 public:
  ~MediaReader();
  MediaReader(const MediaReader&) = delete;
  MediaReader& operator=(const MediaReader&) = delete;

  // Opens the file and its first audio stream with a decoder ready. On anything but Ok, *reader
  // stays empty and *detail (when given) holds the library's reason, for the log.
  static MediaOpenStatus Open(const std::wstring& path, std::unique_ptr<MediaReader>* reader,
                              MediaStreamInfo* info, std::wstring* detail = nullptr);

  // The next block of decoded audio as interleaved stereo float (mono: left = right; more than two
  // channels: the first two). The pointer stays valid until the next call. False at the end of the
  // stream; a read error also ends the stream (ReadError then says so). A packet the decoder
  // rejects is skipped.
  bool ReadBlock(const float** stereo, size_t* frames);
  // The rate of the delivered samples: the stream's, or its first decoded block's when the decoder
  // corrected the header. A block at another rate later in the file is resampled to this one.
  int32_t SampleRate() const;
  // Why the stream ended early; empty after a clean end.
  const std::wstring& ReadError() const;

  struct State;

 private:
  explicit MediaReader(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// Routes the media libraries' own error lines (not their warnings) to the sink; without a sink
// they are dropped, never printed. Any thread; the sink must be callable from any thread.
void RouteMediaLibraryLog(void (*sink)(std::wstring_view line));
