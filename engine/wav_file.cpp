#include "engine/wav_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "platform/files.h"

namespace {

constexpr uint32_t kFmtChunkBytes = 16;
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kBitsPerSample = 16;
constexpr uint32_t kRiffSizeOverData = 36;  // header bytes after the RIFF size field, before data
constexpr float kFullScale = 32767.0f;

void PutU16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void BuildWavHeader(uint8_t* out, uint32_t sampleRate, uint64_t frames) {
  const uint32_t dataBytes = static_cast<uint32_t>(std::min(frames, kWavMaxFrames) * kWavBytesPerFrame);
  std::memcpy(out, "RIFF", 4);
  PutU32(out + 4, dataBytes + kRiffSizeOverData);
  std::memcpy(out + 8, "WAVEfmt ", 8);
  PutU32(out + 16, kFmtChunkBytes);
  PutU16(out + 20, kFormatPcm);
  PutU16(out + 22, kWavChannels);
  PutU32(out + 24, sampleRate);
  PutU32(out + 28, sampleRate * kWavBytesPerFrame);
  PutU16(out + 32, kWavBytesPerFrame);
  PutU16(out + 34, kBitsPerSample);
  std::memcpy(out + 36, "data", 4);
  PutU32(out + 40, dataBytes);
}

int16_t WavSampleFromFloat(float value) {
  // NaN would pass the clamp unchanged: it becomes silence.
  if (std::isnan(value)) return 0;
  const float clamped = std::clamp(value, -1.0f, 1.0f);
  return static_cast<int16_t>(std::lround(clamped * kFullScale));
}

void ConvertToWavBytes(const float* in, size_t samples, uint8_t* out) {
  for (size_t i = 0; i < samples; ++i) {
    PutU16(out + 2 * i, static_cast<uint16_t>(WavSampleFromFloat(in[i])));
  }
}

bool WriteWavFile(const std::wstring& path, const float* samples, uint64_t frames, uint32_t sampleRate,
                  std::wstring* error) {
  const auto refuse = [error](const wchar_t* why) {
    if (error) *error = why;
    return false;
  };
  if (frames > kWavMaxFrames || sampleRate == 0 || sampleRate > kWavMaxSampleRate || (samples == nullptr && frames > 0))
    return refuse(L"the sound can't be stored as a WAV file");
  std::string bytes;
  try {
    bytes.resize(kWavHeaderBytes + static_cast<size_t>(frames) * kWavBytesPerFrame);
  } catch (const std::bad_alloc&) {
    return refuse(L"not enough memory");
  } catch (const std::length_error&) {
    return refuse(L"not enough memory");
  }
  uint8_t* data = reinterpret_cast<uint8_t*>(bytes.data());
  BuildWavHeader(data, sampleRate, frames);
  ConvertToWavBytes(samples, static_cast<size_t>(frames) * kWavChannels, data + kWavHeaderBytes);
  return WriteBytesAtomic(path, bytes, error);
}
