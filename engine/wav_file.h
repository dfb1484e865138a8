#pragma once
// 16-bit stereo PCM WAV files: the one 44-byte header layout shared by WriteWavFile and the mix
// recorder, the float-to-16-bit conversion, and the whole-file writer.
#include <cstddef>
#include <cstdint>
#include <string>

// Header and frame layout: RIFF/WAVE, one "fmt " chunk (PCM, 2 channels, 16 bits), then "data".
inline constexpr size_t kWavHeaderBytes = 44;
inline constexpr uint32_t kWavChannels = 2;
inline constexpr uint32_t kWavBytesPerFrame = 4;  // 2 channels x 16 bits
// The data size field stays a multiple of the frame size and leaves room for RIFF size = data + 36
// within 32 bits: 0xFFFFFFFF - 36 rounded down to whole frames.
inline constexpr uint64_t kWavMaxDataBytes = 4294967244ull;
inline constexpr uint64_t kWavMaxFrames = kWavMaxDataBytes / kWavBytesPerFrame;
// The bytes-per-second field (rate x 4) must fit 32 bits; a rate of 0 describes no sound.
inline constexpr uint32_t kWavMaxSampleRate = 0xFFFFFFFFu / kWavBytesPerFrame;

// Fills out[0..43] with the little-endian header for `frames` stereo 16-bit frames at
// `sampleRate`. A frame count above kWavMaxFrames is described as kWavMaxFrames (the size fields
// cannot say more); callers that write more data than that must not use this header.
void BuildWavHeader(uint8_t* out, uint32_t sampleRate, uint64_t frames);

// One float sample as 16 bits: clamped to [-1, 1], times 32767, rounded half away from zero.
int16_t WavSampleFromFloat(float value);
// Converts `samples` floats (not frames) into little-endian 16-bit bytes at out[0..2*samples).
// No allocation: safe on any thread.
void ConvertToWavBytes(const float* in, size_t samples, uint8_t* out);

// Writes interleaved stereo float frames as a 16-bit PCM WAV file, crash-safe: the whole file goes
// to "<path>.tmp", is flushed and renamed over the path. True only when header, data, flush,
// close and rename all succeeded; on false nothing is left at the path or beside it (an older file
// at the path is kept). False also when frames exceed kWavMaxFrames (the header could not describe
// them), the rate is 0 or above kWavMaxSampleRate, or samples is null with frames above 0.
// *error (when given) names the failing step and the cause.
bool WriteWavFile(const std::wstring& path, const float* samples, uint64_t frames, uint32_t sampleRate,
                  std::wstring* error = nullptr);
