#include "platform/error_sound.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "platform/text.h"

namespace {

constexpr uint32_t kRate = 48000;
constexpr uint8_t kChannels = 2;
// Two tones, high then low, each with a short fade so neither clicks.
constexpr double kToneSeconds = 0.12, kFadeSeconds = 0.01;
constexpr double kFirstHz = 880.0, kSecondHz = 587.33;
constexpr float kLevel = 0.35f;

std::vector<float> BeepSamples() {
  const size_t tone = static_cast<size_t>(kToneSeconds * kRate), fade = static_cast<size_t>(kFadeSeconds * kRate);
  std::vector<float> out;
  out.reserve(2 * tone * kChannels);
  for (double hz : {kFirstHz, kSecondHz}) {
    for (size_t i = 0; i < tone; ++i) {
      const double edge = static_cast<double>(std::min(i, tone - 1 - i));
      const double gain = edge < fade ? edge / fade : 1.0;
      const float s = static_cast<float>(kLevel * gain * std::sin(2 * std::numbers::pi * hz * i / kRate));
      for (int c = 0; c < kChannels; ++c) out.push_back(s);
    }
  }
  return out;
}

bool Fail(std::wstring* error, const char* step, int code) {
  if (error) *error = Utf8ToWide(step) + L": " + Utf8ToWide(pa_strerror(code));
  return false;
}

}  // namespace

bool PlayErrorSound(const std::wstring& device, std::wstring* error) {
  const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kRate, kChannels};
  const std::string sink = WideToUtf8(device);
  int code = 0;
  pa_simple* stream = pa_simple_new(nullptr, "Veldmix", PA_STREAM_PLAYBACK, sink.empty() ? nullptr : sink.c_str(),
                                    "error sound", &spec, nullptr, nullptr, &code);
  if (!stream) return Fail(error, "the sound server refused the error sound", code);
  const std::vector<float> samples = BeepSamples();
  const bool played = pa_simple_write(stream, samples.data(), samples.size() * sizeof(float), &code) == 0 &&
                      pa_simple_drain(stream, &code) == 0;
  pa_simple_free(stream);
  return played || Fail(error, "the error sound could not be played", code);
}
