#pragma once
// Timecode vinyl: a capture thread reads one input device, decodes the carrier of each
// turntable (two sines a quarter cycle apart) into a signed speed, and once per frame the UI
// thread lets decks A and B follow their records: play at the record's speed, start when it
// moves, stop when it stands, the tempo fader following forward pitch. Log lines begin "DVS: ".
#include <atomic>
#include <cstdint>
#include <string>

inline constexpr double kTimecodeCarrierHz = 1000.0;
inline constexpr double kTraktorCarrierHz = 2000.0;
inline constexpr int32_t kTimecodeBufferMs = 3;       // capture period
inline constexpr int32_t kTimecodeRetryMs = 500;      // between attempts to open the input
inline constexpr double kTimecodeSignalLevel = 0.02;  // envelope that counts as a record playing

// Copied from the [Dvs] settings when the input starts.
struct TimecodeConfig {
  std::wstring deviceId;   // empty: the default capture device
  uint32_t pairA = 0;      // channel pair p = input channels 2p and 2p + 1
  uint32_t pairB = 1;
  double carrierHz = kTimecodeCarrierHz;
  bool flipA = false;
  bool flipB = false;
};

// One turntable's decoder, owned by the capture thread.
struct TimecodeDecoder {
  int32_t sampleRate = 48000;
  double carrierHz = kTimecodeCarrierHz;
  bool flip = false;         // invert the second channel
  double envelope = 0.0;
  double speed = 0.0;        // 1 = normal forward speed, negative = backwards
  float previousX = 0.0f;
  bool armed = true;         // set after a negative swing
  double count = 0.0;        // samples since the last rising crossing, with fractions
  double lastPeriod = 0.0;   // samples of the last measured carrier period
  // The record's real pitch: the speed at the end of the last stretch of at least 0.1 s whose
  // speeds all lay within 1 % of its first; held while the record starts, stops, is lifted or
  // scratched (0 until one stretch has held).
  double pitch = 0.0;
  double steadyFrom = 0.0;  // the speed at the start of the stretch
  double steadyFor = 0.0;   // samples the stretch has lasted
};

// --- The input (UI thread) ---
// Stops a running input; with [Dvs] On starts the capture thread on the configured device.
void StartTimecodeInput();
// Idempotent; joins the thread (never from itself).
void StopTimecodeInput();
// deck & 1: 0 = A, 1 = B.
double TimecodeSpeed(int deck);
// The deck's record's last steady pitch (TimecodeDecoder::pitch).
double TimecodePitch(int deck);
bool TimecodeHasSignal(int deck);
// The channel count of the capture device opened last; 0 before one was opened.
int32_t TimecodeInputState();
// True while the capture thread runs.
bool TimecodeInputRunning();
// Once per frame: decks A and B follow a record with signal (speed, play state, tempo fader);
// a deck whose signal went away stops following and keeps its play state.
void ApplyTimecodeSpeed();

// --- Decoding ---
// A fresh decoder: rate at least 8000, carrier 1000 Hz when not positive.
TimecodeDecoder MakeTimecodeDecoder(int32_t sampleRate, double carrierHz, bool flip);
// Reads `frames` interleaved stereo frames (first channel, second channel) into the decoder's
// speed and envelope. Fixed work per sample, no allocation: safe on the capture thread.
void DecodeTimecode(TimecodeDecoder& decoder, const float* stereo, uint32_t frames);
// The speed the decoder reads from `seconds` of a synthetic record at 48 kHz (0.5 amplitude,
// second channel a quarter cycle ahead, seeded noise), fed in 100 ms blocks; 0 without a block.
double SimulateTimecode(double carrierHz, double speed, double noise, double seconds);
