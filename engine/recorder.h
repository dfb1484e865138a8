#pragma once
// Consumers of the finished master mix: the three 4-second taps (audio stream, video recorder,
// live video) and the WAV recorder. RenderMix writes each ring while its switch is on; each ring
// has one reader thread.
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/ui_text.h"
#include "engine/wav_file.h"

// --- Taps ---------------------------------------------------------------------------------------
// Off clears the switch at once (no lock). On, when off: the ring is sized to four seconds at the
// master rate (at least 8000 Hz) and emptied, then the switch is set, under the engine lock. The
// tap's consumer must not be reading while the tap is switched on. Any thread but the audio one.
void EnableStreamTap(bool on);
void EnableVideoRecordTap(bool on);
// Switches the video-recording tap on as above, to take only the blocks the WAV recorder takes
// until it is next switched off: on before StartRecording, the MP4 beside the WAV starts and ends
// on the same block as the WAV, however late its encoders open.
void EnableVideoRecordTapBesideWav();
void EnableLiveVideoTap(bool on);

// --- WAV recorder -------------------------------------------------------------------------------
// What may end a recording by itself besides a failed write.
struct RecordingLimits {
  uint64_t frames = kWavMaxFrames;  // stops there, as a full WAV file does (tests pass a small one)
  // Room kept free on the recording's file system for what is made of it afterwards: the
  // tracklist and a copy of this share of the WAV's size (0 = the WAV stays as it is).
  double copyShare = 0.0;
};
// Starts recording the master mix to a 16-bit stereo WAV file at the master rate. False while a
// recording runs, while no audio output runs, or when the file cannot be created or its first
// header written. The file is written in place (a mix is too long to stage in a ".tmp"); its
// header is rewritten every few seconds and on stop, so a crash leaves a readable WAV. Control
// thread (UI); never the audio thread.
bool StartRecording(const std::wstring& path, const RecordingLimits& limits = {});
// Clears `recording`, joins the recorder thread, rewrites the header to the frames on disk and
// closes the file. Harmless when nothing records. Control thread.
void StopRecording();
// Why the last recording stopped by itself or ended badly (a write failure, a nearly full disk,
// the size limit, a header that could not be finished), in English (logs, the self-test); empty
// when it went well. Cleared by StartRecording. Any thread.
std::wstring RecordingProblem();
// The same as a message for the status line, translated when drawn.
UiText RecordingProblemMessage();
// The free bytes a recording keeps on its file system after `wavBytes` of WAV data, for a copy
// of `copyShare` of that size plus a margin for the tracklist and the copy's headers.
uint64_t RecordingReserveBytes(uint64_t wavBytes, double copyShare);

// The recorder thread's body: drains the recorder ring into the file until `recording` is off
// and the ring is empty, or until a write fails, the frame limit is reached or the file system
// has no more than the reserve left (then it clears `recording`, logs, sets RecordingProblem and
// finishes the file itself).
void RecorderThread();
// Seeks to 0, writes the 44-byte header for `frames` frames, seeks back to the end. False when
// any step fails.
bool WriteWavHeader(std::FILE* file, uint32_t rate, uint64_t frames);
