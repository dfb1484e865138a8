#pragma once
// Reads WAV files back through real tools (soxi, ffprobe, sox), for tests only.
#include <cstdint>
#include <string>
#include <vector>

// What a tool says about a WAV file; -1 where it said nothing readable.
struct WavProbe {
  long long frames = -1;
  long long rate = -1;
  long long channels = -1;
  long long bits = -1;
  std::string codec;  // ffprobe only
};

// Runs a shell command; its standard output, and the exit status in *status when given.
std::string RunCommand(const std::string& command, int* status = nullptr);
// The text in single quotes for /bin/sh.
std::string ShellQuote(const std::string& text);
WavProbe ProbeWithSoxi(const std::string& path);
WavProbe ProbeWithFfprobe(const std::string& path);
// Every sample of the file as signed 16-bit, decoded by sox; empty when sox fails.
std::vector<int16_t> DecodeWithSox(const std::string& path);
// The 32-bit little-endian value at a byte offset of a file's bytes (0 when out of range).
uint32_t LittleEndian32(const std::string& bytes, size_t offset);
