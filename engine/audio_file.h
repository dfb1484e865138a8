#pragma once
// Audio files into Tracks: the whole file decoded to interleaved stereo float at its own rate,
// titled from its tags, optionally analysed. Worker threads only (decoding allocates and reads).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/track.h"
#include "base/ui_text.h"

// The completion number of a prelisten load (the posted message's number).
inline constexpr int kPrelistenReadyPost = 4;
// Decoding stops with "File is too large to load" beyond this many frames: 4 GiB of samples,
// over three hours at 48 kHz. Bounds what a small file that decodes to endless audio can take.
inline constexpr uint64_t kMaxTrackFrames = uint64_t(1) << 29;
// Below rate / kMinTrackFraction frames (50 ms) a file holds no usable audio.
inline constexpr int32_t kMinTrackFraction = 20;

// The file name without folder and extension: "/music/Intro Mix.flac" gives "Intro Mix". A name
// that only starts with a dot (".hidden") has no extension.
std::wstring FileStem(const std::wstring& path);

// Decodes the file into a new Track (title from the tags, else the file name without folder and
// extension; artist from the tags). *progress rises from 0 to 0.8 while decoding when analysing
// (to 1.0 when not), then AnalyzeTrack runs; it is exactly 1.0 on success. On failure returns an
// empty pointer with *error set to the user's message. Worker threads; several may run at once.
TrackPtr DecodeFile(const std::wstring& path, std::atomic<float>* progress, std::wstring* error, bool analyse);
// The message shown for a failed load: DecodeFile's error, the file's name and, when the file
// itself is the reason, why ("the file is empty", "it isn't an audio file", ...). Reads the
// file's state from the disk: worker threads.
UiText LoadFailureText(const std::wstring& path, const std::wstring& error);

// How many floats DecodeFile reserves before decoding: two per frame of the declared duration
// plus a second of headroom, but never more frames than the file's bytes can hold
// (framesBoundBySize, 0 = unknown: no reservation) nor than kMaxTrackFrames.
size_t DecodeReserveFloats(int32_t sampleRate, double durationSeconds, uint64_t framesBoundBySize);

// One prelisten request: allocated by the prelisten command, owned and freed by the thread.
struct PrelistenJob {
  std::wstring path;
  uint64_t serial = 0;
};
// Thread body: decodes the job's file without analysis and posts kPrelistenReadyPost with
// wparam = the serial and lparam = a new TrackPtr (empty when decoding failed), which the UI
// thread frees. When the post is refused (no window) it frees the holder itself. Frees the job.
void PrelistenLoadThread(PrelistenJob* job);
