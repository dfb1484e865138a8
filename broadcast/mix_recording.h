#pragma once
// Recording the mix: REC starts the engine's WAV recorder on a time-stamped file in the
// recordings folder and, on the second press, stops it, writes the tracklist beside it and
// converts the WAV to MP3 or FLAC after the [Options] RecordFormat setting on a worker thread.
// With [Video] Record on, the video mix is recorded to an MP4 of the same stem beside it. UI thread unless a contract says otherwise.
#include <cstdint>
#include <string>
#include <vector>

#include "base/ui_text.h"
#include "platform/clock.h"

inline constexpr int kRecordingStatusPost = 9;  // the conversion's message (a heap UiText)
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
// Appends a track heard for heardForMs, at the recorder's position less that (not before 0:00),
// unless it is listed.
void AddToRecordingTracklist(const std::wstring& path, uint64_t heardForMs);

// Starts a recording when none runs, else stops it; reports on the status line. A recording that
// stopped by itself and was not finished yet by MixRecordingTick is finished here: the press
// that meant "stop" never starts a new one.
void ToggleRecording();
// Per frame: a recording started by REC that the recorder ended by itself (a failed write, a
// nearly full disk, the size limit) is finished as a stop would: the reason on the status line,
// the tracklist, and, once the reason has shown for 5 s (or at the next REC), the MP3 or FLAC copy
// beside the WAV, which is kept (without a copy: where it was saved). The At form takes the clock.
void MixRecordingTick();
void MixRecordingTickAt(uint64_t nowMs);
// At exit: stops a recording that runs and writes its tracklist; no copy is made (the WAV stays).
void CloseMixRecording();
// The folder as the user reads it: the home folder shown as "~".
std::wstring ShownFolder(const std::wstring& folder);
// "Veldmix mix 2026-03-05 14-07-09.wav" for the time.
std::wstring RecordingFileName(const LocalTime& time);
// The WAV path in the folder for a recording started at the time. A stem that any earlier
// recording's file already has (its WAV, MP3, FLAC, MP4 or tracklist: a second recording in the
// same second, a copy whose WAV was deleted) gets " (2)", " (3)"..., so no file is reused.
std::wstring UnusedRecordingPath(const std::wstring& folder, const LocalTime& time);
// The tracklist beside a WAV: its name with ".wav" replaced by " tracklist.txt".
std::wstring TracklistPathFor(const std::wstring& wavPath);

// What the conversion thread is handed; it owns and frees it.
struct SaveRecordingJob {
  std::wstring wavPath;
  bool flac = false;
  bool stoppedItself = false;  // the recorder ended it (a failure): the WAV is kept
};
// Worker: encodes the WAV beside itself as .mp3 or .flac, deletes the WAV when the copy reads
// back whole (unless the recording stopped by itself) and posts kRecordingStatusPost with the
// message (the post's owner frees it). Any thread but audio.
void SaveRecordingThread(SaveRecordingJob* job);
