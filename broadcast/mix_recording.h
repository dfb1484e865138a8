#pragma once
// Recording the mix: REC starts the engine's WAV recorder on a time-stamped file in the
// recordings folder and, on the second press, stops it, writes the tracklist beside it and
// converts the WAV to MP3 or FLAC after the [Options] RecordFormat setting on a worker thread.
// The MP4 beside it comes with the video recorder. UI thread unless a contract says otherwise.
#include <string>
#include <vector>

#include "platform/clock.h"

inline constexpr int kRecordingStatusPost = 9;  // the conversion's message (a heap wide string)
inline constexpr int32_t kRecordFormatWav = 0;
inline constexpr int32_t kRecordFormatMp3 = 1;
inline constexpr int32_t kRecordFormatFlac = 2;

// One track heard in the recording: where in the recording it began, and its file.
struct TracklistEntry {
  double seconds = 0.0;
  std::wstring path;
};

// The WAV of the current or last recording; empty until the first one starts.
extern std::wstring RecordingPath;
// The tracks heard so far, in order, each path once; the now-playing step appends to it.
extern std::vector<TracklistEntry> RecordingTracklist;

// Starts a recording when none runs, else stops it; reports on the status line. A recording that
// stopped by itself and was not finished yet by MixRecordingTick is finished here: the press
// that meant "stop" never starts a new one.
void ToggleRecording();
// Per frame: a recording started by REC that the recorder ended by itself (a failed write, a
// nearly full disk, the size limit) is finished as a stop would: the reason on the status line,
// the tracklist, and the MP3 or FLAC copy, made beside the WAV that is kept.
void MixRecordingTick();
// The folder as the user reads it: the home folder shown as "~".
std::wstring ShownFolder(const std::wstring& folder);
// "Veldmix mix 2026-03-05 14-07-09.wav" for the time.
std::wstring RecordingFileName(const LocalTime& time);
// The tracklist beside a WAV: its name with ".wav" replaced by " tracklist.txt".
std::wstring TracklistPathFor(const std::wstring& wavPath);

// What the conversion thread is handed; it owns and frees it.
struct SaveRecordingJob {
  std::wstring wavPath;
  bool flac = false;
  std::wstring stopReason;  // why the recording stopped by itself; empty after a REC press
};
// Worker: encodes the WAV beside itself as .mp3 or .flac, deletes the WAV when the copy reads
// back whole (unless the recording stopped by itself) and posts kRecordingStatusPost with the
// message, led by the stop reason (the post's owner frees it). Any thread but audio.
void SaveRecordingThread(SaveRecordingJob* job);
