#include "broadcast/video_encoders.h"

#include <algorithm>
#include <cassert>

#include <fmt/format.h>
#include <fmt/xchar.h>

namespace {

// The encoders here are FFmpeg's, not the operating system's, so their names say only the codec.
const wchar_t* const kNoH264Text = L"The H.264 video encoder isn't available";
const wchar_t* const kNoAacText = L"The AAC audio encoder isn't available";
const wchar_t* const kAacRefusedText = L"The AAC encoder wouldn't start";

// BT.709 limited-range coefficients in 1/256 units.
constexpr int kYR = 47, kYG = 157, kYB = 16, kYOffset = 16;
constexpr int kUB = 112, kUG = 87, kUR = 26;
constexpr int kVR = 112, kVG = 102, kVB = 10;
constexpr int kChromaOffset = 128;
constexpr int kChromaMin = 16, kChromaMax = 240;
constexpr int kRound = 128;  // half of 256 before the shift

inline int Red(uint32_t p) { return (p >> 16) & 0xFF; }
inline int Green(uint32_t p) { return (p >> 8) & 0xFF; }
inline int Blue(uint32_t p) { return p & 0xFF; }

}  // namespace

bool OpenH264Encoder(Encoder& encoder, int width, int height, int kbps, std::wstring& error) {
  encoder.transform.reset();
  H264TransformSettings settings;
  settings.width = width;
  settings.height = height;
  settings.kbps = kbps;
  settings.fps = kLiveVideoFps;
  settings.gopFrames = kLiveVideoGopFrames;
  TransformOpenFailure failure = TransformOpenFailure::kNone;
  int code = 0;
  encoder.transform = OpenH264Transform(settings, &failure, &code);
  if (encoder.transform) return true;
  if (failure == TransformOpenFailure::kNoEncoder)
    error = kNoH264Text;
  else
    error = fmt::format(L"The H.264 encoder wouldn't take {}x{} (0x{:08X})", width, height,
                        static_cast<uint32_t>(code));
  return false;
}

bool OpenAacEncoder(Encoder& encoder, int sampleRate, std::wstring& error) {
  encoder.transform.reset();
  TransformOpenFailure failure = TransformOpenFailure::kNone;
  int code = 0;
  encoder.transform = OpenAacTransform(sampleRate, kLiveAudioKbps, &failure, &code);
  if (encoder.transform) return true;
  error = failure == TransformOpenFailure::kNoEncoder ? kNoAacText : kAacRefusedText;
  return false;
}

bool EncodeInput(Encoder& encoder, const uint8_t* data, size_t size, int64_t sampleTime,
                 int64_t sampleDuration, const SampleCallback& callback) {
  if (!encoder.transform) return false;
  TransformInput taken =
      TransformProcessInput(*encoder.transform, data, size, sampleTime, sampleDuration);
  if (taken == TransformInput::kNotAccepting) {
    if (!DrainOutputs(encoder, callback)) return false;
    taken = TransformProcessInput(*encoder.transform, data, size, sampleTime, sampleDuration);
  }
  if (taken != TransformInput::kAccepted) return false;
  return DrainOutputs(encoder, callback);
}

bool DrainOutputs(Encoder& encoder, const SampleCallback& callback, bool* emptied) {
  if (emptied != nullptr) *emptied = false;
  if (!encoder.transform) return false;
  for (int n = 0; n < kMaxOutputsPerDrain; ++n) {
    EncodedSample sample;
    switch (TransformProcessOutput(*encoder.transform, &sample)) {
      case TransformOutput::kNeedMoreInput:
        if (emptied != nullptr) *emptied = true;
        return true;
      case TransformOutput::kFailed:
        return false;
      case TransformOutput::kSample:
        if (!callback(sample)) return false;
        break;
    }
  }
  return true;
}

bool FinishEncoding(Encoder& encoder, const SampleCallback& callback) {
  if (!encoder.transform || !TransformEndStream(*encoder.transform)) return false;
  for (int n = 0; n < kMaxFinishDrains; ++n) {
    bool emptied = false;
    if (!DrainOutputs(encoder, callback, &emptied)) return false;
    if (emptied) return true;
  }
  return false;
}

void ConvertToNv12(const uint32_t* bgra, int width, int height, uint8_t* nv12) {
  assert(width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0 &&
         "NV12 needs an even, non-empty frame");
  if (width <= 0 || height <= 0 || width % 2 != 0 || height % 2 != 0) return;
  uint8_t* yPlane = nv12;
  for (int i = 0, n = width * height; i < n; ++i) {
    const uint32_t p = bgra[i];
    yPlane[i] = static_cast<uint8_t>(
        ((kYR * Red(p) + kYG * Green(p) + kYB * Blue(p) + kRound) >> 8) + kYOffset);
  }
  uint8_t* uv = nv12 + static_cast<size_t>(width) * height;
  for (int y = 0; y < height; y += 2) {
    const uint32_t* top = bgra + static_cast<size_t>(y) * width;
    const uint32_t* bottom = top + width;
    for (int x = 0; x < width; x += 2) {
      const uint32_t a = top[x], b = top[x + 1], c = bottom[x], d = bottom[x + 1];
      const int r = (Red(a) + Red(b) + Red(c) + Red(d) + 2) >> 2;
      const int g = (Green(a) + Green(b) + Green(c) + Green(d) + 2) >> 2;
      const int bl = (Blue(a) + Blue(b) + Blue(c) + Blue(d) + 2) >> 2;
      // Arithmetic shifts floor negative sums, as the integer formula intends.
      const int u = ((kUB * bl - kUG * g - kUR * r + kRound) >> 8) + kChromaOffset;
      const int v = ((kVR * r - kVG * g - kVB * bl + kRound) >> 8) + kChromaOffset;
      *uv++ = static_cast<uint8_t>(std::clamp(u, kChromaMin, kChromaMax));
      *uv++ = static_cast<uint8_t>(std::clamp(v, kChromaMin, kChromaMax));
    }
  }
}
