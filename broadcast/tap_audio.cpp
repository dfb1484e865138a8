#include "broadcast/tap_audio.h"

#include <algorithm>
#include <cmath>

#include "engine/wav_file.h"

namespace {
constexpr int32_t kMinRecordRate = 8000;
}  // namespace

int32_t LiveAudioRate(int32_t masterRate) {
  return masterRate == 44100 || masterRate == 48000 ? masterRate : kAacFallbackRate;
}

int32_t RecordAudioRate(int32_t masterRate) {
  if (masterRate > kAacMaxRate) return kAacFallbackRate;
  return std::max(masterRate, kMinRecordRate);
}

void ResetTapResampler(TapResampler& r, int32_t inRate, int32_t outRate) {
  r = TapResampler{};
  r.step = inRate > 0 && outRate > 0 ? static_cast<double>(inRate) / outRate : 1.0;
}

size_t TapResampleCapacity(const TapResampler& r, size_t frames) {
  return static_cast<size_t>(std::ceil((static_cast<double>(frames) + 1.0) / r.step)) + 1;
}

size_t TapBlockToPcm(TapResampler& r, const float* in, size_t frames, int16_t* pcm) {
  if (frames == 0) return 0;
  if (r.step == 1.0) {
    for (size_t i = 0; i < 2 * frames; ++i) pcm[i] = WavSampleFromFloat(in[i]);
    return frames;
  }
  size_t out = 0;
  const double last = static_cast<double>(frames) - 1.0;
  for (; r.position < last; r.position += r.step, ++out) {
    const double floorPos = std::floor(r.position);
    const float frac = static_cast<float>(r.position - floorPos);
    const auto i = static_cast<ptrdiff_t>(floorPos);
    for (int c = 0; c < 2; ++c) {
      const float a = i < 0 ? r.previous[c] : in[2 * i + c];
      const float b = in[2 * (i + 1) + c];
      pcm[2 * out + c] = WavSampleFromFloat(a + (b - a) * frac);
    }
  }
  r.position -= static_cast<double>(frames);
  r.previous[0] = in[2 * (frames - 1)];
  r.previous[1] = in[2 * (frames - 1) + 1];
  return out;
}
