#pragma once
// MP3 and FLAC copies of 16-bit stereo WAV files (the recorder's and WriteWavFile's layout). The
// WAV is always kept; the copy appears under its name only when it was written whole.
#include <cstdint>
#include <string>

#include "platform/media_encode.h"

// Frames read from the WAV and handed to the encoder at a time.
inline constexpr uint64_t kEncodeBlockFrames = 4608;
// The only rates an MP3 copy can have (Hz).
inline constexpr uint32_t kMp3SampleRates[] = {44100, 48000, 32000};

// Reads the WAV (the rate at offset 24, samples from offset 44 to the end of the file; the size
// fields are not trusted) and writes it as `subtype` to outputPath, whose extension chooses the
// container. formatName ("MP3", "FLAC") goes into the messages. False with *error set to the
// user's message; then nothing new is at outputPath (an older file there is kept).
bool EncodeWavFile(const std::wstring& wavPath, const std::wstring& outputPath, AudioSubtype subtype,
                   const std::wstring& formatName, std::wstring* error);
