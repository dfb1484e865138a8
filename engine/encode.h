#pragma once
// MP3 and FLAC copies of 16-bit stereo WAV files (the recorder's and WriteWavFile's layout). The
// WAV is always kept; the copy appears under its name only when it was written whole.
#include <cstdint>
#include <string>

#include "platform/media_encode.h"

// Frames read from the WAV and handed to the encoder at a time.
inline constexpr uint64_t kEncodeBlockFrames = 4608;
// A copy may decode to this many frames more or fewer than its WAV (one MP3 frame).
inline constexpr uint64_t kCopyLengthSlackFrames = 1152;

// Reads the WAV (the rate at offset 24, samples from offset 44 to the end of the file; the size
// fields are not trusted) and writes it as `subtype` to outputPath, whose extension chooses the
// container. The copy is written beside the output under the write temporary, decoded again with the
// program's own decoder, and moved onto outputPath only when it reads back at the WAV's rate and
// length. formatName ("MP3", "FLAC") goes into the messages. A WAV without a frame is refused.
// False with *error set to the user's message; then nothing new is at outputPath (an older file
// there is kept) and no temporary is left.
bool EncodeWavFile(const std::wstring& wavPath, const std::wstring& outputPath, AudioSubtype subtype,
                   const std::wstring& formatName, std::wstring* error);
// True when the file decodes with the program's own decoder to `rate` Hz and `frames` frames
// (within kCopyLengthSlackFrames); else false with *detail saying what it found. Streams the
// file, holding one block at a time.
bool CopyReadsBack(const std::wstring& path, uint32_t rate, uint64_t frames, std::wstring* detail);
