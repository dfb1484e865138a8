#pragma once
// Encoders through libavcodec: libx264 for H.264, FFmpeg's own AAC encoder and LAME. They stand
// in for the system's encoder transforms: one input is pushed at a time (a refusal means "drain
// first"), outputs are pulled one at a time until more input is needed. Times are in 100-ns
// units at this boundary. One thread per transform.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// One encoded output; the bytes belong to the transform and stay valid until its next call.
// data: an H.264 access unit in Annex B form, or one raw AAC frame (no ADTS header).
// decodeTime: the encoder's decode time, or the presentation time when it gives none.
struct EncodedSample {
  std::span<const uint8_t> data;
  int64_t time = 0;
  int64_t duration = 0;
  int64_t decodeTime = 0;
  bool keyFrame = false;
};

struct EncoderTransform;
struct EncoderTransformDeleter {
  void operator()(EncoderTransform* transform) const;
};
using EncoderTransformPtr = std::unique_ptr<EncoderTransform, EncoderTransformDeleter>;

enum class TransformOpenFailure {
  kNone,
  kNoEncoder,  // the codec is not in this FFmpeg build
  kRefused,    // the codec would not take the configuration; see the code
};

struct H264TransformSettings {
  int width = 1280;   // even
  int height = 720;   // even
  int kbps = 3500;    // constant bitrate
  int fps = 30;
  int gopFrames = 60;  // exact key-frame interval
  int threads = 0;     // 0: as many as the encoder likes
  // SPS and PPS once, out of band (TransformCodecConfig), instead of before each IDR: what a
  // file's sample description needs.
  bool globalHeader = false;
  // Every frame out before the next goes in (live streaming). A file can wait: without it the
  // encoder looks ahead and works on several frames at once, which is faster.
  bool lowLatency = true;
};

// --- Opening --------------------------------------------------------------------------------
// H.264 Main profile, CBR (VBV of one second at kbps), no B-frames, zero latency (lowLatency), BT.709 limited
// range VUI, IDR pictures exactly every gopFrames, SPS and PPS repeated before each IDR. Input
// NV12. Null on failure with failure set and code the (negative) FFmpeg error code.
EncoderTransformPtr OpenH264Transform(const H264TransformSettings& settings,
                                      TransformOpenFailure* failure, int* code);
// The audio codecs behind one PCM-in transform.
enum class AudioTransformCodec {
  kAac,  // AAC LC, raw frames of 1024 samples
  kMp3,  // MPEG audio layer III through LAME, CBR, frames of 1152 samples at 32 kHz and above
};
// A stereo encoder at sampleRate and kbps; input interleaved 16-bit PCM of any length, cut into
// the codec's frames inside. Output times run from the first input's time.
EncoderTransformPtr OpenAudioTransform(AudioTransformCodec codec, int sampleRate, int kbps,
                                       TransformOpenFailure* failure, int* code);
inline EncoderTransformPtr OpenAacTransform(int sampleRate, int kbps,
                                            TransformOpenFailure* failure, int* code) {
  return OpenAudioTransform(AudioTransformCodec::kAac, sampleRate, kbps, failure, code);
}

// --- Streaming ------------------------------------------------------------------------------
enum class TransformInput { kAccepted, kNotAccepting, kFailed };
enum class TransformOutput { kSample, kNeedMoreInput, kFailed };

// Pushes one input (an NV12 frame of exactly width x height x 3 / 2 bytes, or whole 16-bit
// stereo frames). kNotAccepting: outputs must be taken first; nothing was consumed.
TransformInput TransformProcessInput(EncoderTransform& transform, const uint8_t* data,
                                     size_t size, int64_t time, int64_t duration);
// Takes the next output into *sample (valid until the next call on this transform).
TransformOutput TransformProcessOutput(EncoderTransform& transform, EncodedSample* sample);

// The codec's out-of-band configuration (AAC: the AudioSpecificConfig; H.264 opened with
// globalHeader: SPS and PPS in Annex B form); empty when it has none.
std::vector<uint8_t> TransformCodecConfig(const EncoderTransform& transform);
// The samples an audio encoder puts in front of the sound (its priming); output times already
// leave them out, so a container that trims them starts its track this much before the first
// sample's time. 0 for video.
int TransformPrimingSamples(const EncoderTransform& transform);
// Ends the stream: held-back PCM goes in as a short last frame and the encoder is flushed.
// TransformProcessOutput then gives what remains and kNeedMoreInput at the end; no input may
// follow. False on an encoder failure.
bool TransformEndStream(EncoderTransform& transform);
