#pragma once
// The microphone or line input: one capture device in shared mode on its own thread, handed to
// the render through the engine's input ring (RenderMix reads it with drift correction).
#include <cstdint>
#include <string>

#include "engine/engine.h"

inline constexpr int32_t kInputBufferMs = 20;

// Always stops the input first (clears inputOn, sets inputStop, joins the thread, clears
// inputCapturing, logs and clears the frames dropped). When on: stores the device id (empty = the
// default input), swaps in a zeroed ring of kInputRingFrames frames, resets the written and read
// counters, asks the render to resynchronise and starts InputThread. UI thread.
void EnableInput(AudioEngine& engine, bool on, const std::wstring& deviceId);

// The thread body: real-time class, then RunInputSession again 500 ms after each run ends, until
// inputStop.
void InputThread(AudioEngine* engine);
// Opens the stored capture device (else the default), publishes inputRate, asks the render to
// resynchronise, sets inputCapturing and moves every packet into the input ring until inputStop, a
// device failure or (when it took the default) a change of the default device; clears
// inputCapturing on leaving, and marks the microphone lost when the device failed. Input thread.
void RunInputSession(AudioEngine& engine);

// --- Pieces, exposed for tests ---
// Converts captured frames (interleaved, channels >= 1, kSampleFloat32 or kSampleInt16 / 32768;
// null data = a silent packet) to stereo: of the first two channels the one with the larger
// magnitude goes to both sides. Returns the block's peak magnitude. Allocates nothing.
float CaptureToStereo(const void* data, uint32_t frames, int32_t channels, int32_t sampleFormat, float* stereo);
// Appends as many stereo frames as fit before inputReadFrame + inputCapacity at inputWritten
// (mod inputCapacity) and advances inputWritten; the rest of the packet is dropped and added to
// inputDropped (a stalled render fills the ring, and resynchronises when it runs again). Never
// waits. Returns the frames written.
uint64_t WriteInputRing(AudioEngine& engine, const float* stereo, uint64_t frames);
