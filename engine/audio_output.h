#pragma once
// The outputs: the master output thread renders the mix once per device period and writes it,
// with the headphone and booth mixes, to channel pairs of the master device; headphone or booth
// outputs on other devices run their own threads fed through rings. Also the device lists for
// the settings page and the output state the UI shows (rate, channels, buffer, mode, dropouts,
// load), published as the engine's atomics.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/audio_devices.h"
#include "platform/audio_stream.h"

inline constexpr int kMaxOutputRoutes = kEngineDecks + 1;  // external mixer: each deck + extra
inline constexpr int32_t kSecondaryBufferMs = 10;

// One open device: its stream, format and channel map, with buffers sized when it opened.
struct DeviceRun {
  AudioStream* stream = nullptr;
  std::wstring deviceId;            // the device actually open
  uint32_t bufferFrames = 0;
  uint32_t periodFrames = 1;        // one block: the frames the device takes per wake-up
  int32_t channels = 2;             // the stream's channels
  int32_t rate = 48000;             // 48000 until known
  int32_t sampleFormat = kSampleFloat32;
  int32_t shareMode = kShareShared;
  int32_t nativeChannels = 2;       // the device's own channels; pairs count on these
  std::vector<int32_t> channelMap;  // per native channel: the stream channel carrying it, -1 none
  std::vector<float> frames;        // bufferFrames frames of every stream channel, as float
  std::vector<uint8_t> bytes;       // the same in the device's sample format
};

// A stereo buffer and the channel pair p it goes to (channels 2p and 2p + 1).
struct OutputRoute {
  const float* buffer = nullptr;
  int32_t pair = 0;
};

// --- Devices ---
inline std::vector<AudioDevice> ListOutputDevices() { return ListAudioDevices(kRenderFlow); }
inline std::vector<AudioDevice> ListInputDevices() { return ListAudioDevices(kCaptureFlow); }
inline std::wstring DeviceIdString(const AudioDevice& device) { return device.id; }

// --- Starting and stopping ---
// Stops all outputs, copies the routing into the engine (a negative master pair becomes 0),
// decides which secondary outputs run on the master device, sizes and empties their rings and
// starts the master thread and a thread for each secondary output on another device. UI thread.
void StartOutput(AudioEngine& engine, const OutputConfig& config);

// Which of the headphone and booth outputs play on the master's own device (mixed into its
// blocks) rather than on a device of their own.
struct SecondaryPlacement {
  bool phonesOnMaster = false, boothOnMaster = false;
  bool phonesOwnDevice = false, boothOwnDevice = false;  // each wants its own output thread
};
SecondaryPlacement PlaceSecondaries(const OutputConfig& config);
// Stores the headphone and booth routing of config into engine. The caller holds engine.lock.
void TakeSecondaryRouting(AudioEngine& engine, const OutputConfig& config, const SecondaryPlacement& place);
// Sets stopOutputs and joins the master, headphone and booth threads, then a finished recorder
// thread while recording is off. UI thread.
void StopOutputs(AudioEngine& engine);

// --- Threads ---
// Sleeps 500 ms between the device runs of an output or input thread, in short steps, leaving
// early once stop is set or wanted (when given) is cleared.
void WaitBeforeReopen(const std::atomic<bool>& stop, const std::atomic<bool>* wanted = nullptr);
// Until stopOutputs: one master device run, then 500 ms (left early on stopOutputs).
void OutputThread(AudioEngine* engine);
// The same around one secondary run; clears the record's running flag between runs.
void SecondaryOutputThread(AudioEngine* engine, SecondaryOutput* output);
// One master run: opens the device (the configured one, else the default), publishes its state
// and writes one rendered period per device wake-up until stopOutputs, a failure, or (when it
// follows the default device) a change of the default device. Output thread.
void RunOutputSession(AudioEngine& engine);
// One secondary run: its device at 10 ms, fed from its ring with drift correction.
void RunSecondarySession(AudioEngine& engine, SecondaryOutput& output);

// --- Dropouts, kept apart by cause ---
// Each counts only what lost or repeated sound: the engine's dropouts the late device wake-ups
// (the sound server asked late, or the machine ran the output thread late) in which the server
// ran dry; renderLockMisses the blocks repeated because the engine was held past the render's
// patience; serverUnderruns the other times the server ran dry. Silence lost, as at a fresh
// output's first wake-up before anything is heard, counts none.
// The master blocks whose mix and write took longer than the block plays: the program's own.
// Any thread.
uint32_t LateRenders();
// Writes "Audio: N late render(s) ...", "Audio: N repeated block(s) ..." and "Audio: N server
// underrun(s) ..." lines, each when its count rose since its last line and 10 s have passed
// since that line. UI thread.
void LogRenderDropouts(const AudioEngine& engine, uint64_t nowMs);

// --- The steps of a device run ---
// Opens a shared stream (low latency when asked, falling back to the plain shared mode).
bool InitSharedClient(DeviceRun& run, const std::wstring& id, bool lowLatency, int32_t bufferMs);
// Opens the device exclusively; false when it has no hardware of its own or it is busy.
bool InitExclusiveClient(DeviceRun& run, const std::wstring& id, int32_t bufferMs);
// The device's native channels and how the stream's channels carry them. The streams open in
// the device's own channel layout, so the map is the identity over the stream's channels.
void ReadDeviceChannels(DeviceRun& run);
// Sizes the run's work buffers for a whole device buffer. Allocates: before the period loop.
bool OpenRenderClient(DeviceRun& run);
// Mixes the routes into one frame per device channel, converts and writes frames (at most
// bufferFrames). flag is set when a route's pair exists but one of its channels maps to -1.
// False when the device write failed. Allocates nothing.
bool WriteDeviceBuffers(DeviceRun& run, const OutputRoute* routes, int count, uint32_t frames, bool& flag);
// Closes the stream; the run may be opened again.
void ReleaseDeviceRun(DeviceRun& run);

// --- Pieces of the period, exposed for tests ---
// True when pair p exists on the run's native channels.
bool PairExists(const DeviceRun& run, int32_t pair);
// The routes of one master period into routes[kMaxOutputRoutes]; returns their count. External
// mixer: deck d to pair d (deckCount clamped to 1..4), the extra buffer to pair deckCount or 0.
// Otherwise the master to its pair (0 when missing), then the headphone and booth mixes to their
// pairs when they share the master device and their pair exists and is not already taken. The
// pairs come from routing (the block's copy); the buffers from engine, sized before the period loop.
int BuildMasterRoutes(const AudioEngine& engine, const MasterRouting& routing, const DeviceRun& run,
                      const float* master, OutputRoute* routes);
// Sums the routes into out (frames x run.channels floats, zeroed first). A mono device takes
// only the first route, as (L + R) x 0.5.
void MixRoutes(const DeviceRun& run, const OutputRoute* routes, int count, uint32_t frames, float* out,
               bool& flag);
// Converts count float samples to the device format: float copied, integers clamped to -1..1 and
// scaled by 32767, 8388607 (packed 24-bit) or 2147483392 (32-bit). NaN becomes 0.
void ConvertSamples(const float* in, size_t count, int32_t sampleFormat, uint8_t* out);
// Where a secondary output reads its ring: a fractional frame position, whether it waits for
// the ring to fill to the target before it plays (at the start and after running dry), and how
// it steers its step.
struct SecondaryReader {
  double position = 0.0;
  bool priming = true;
  RingFollower follower;
};

// One period of a secondary output from its ring: frames stereo frames at the device's rate into
// out, read with linear interpolation and a step of masterRate / deviceRate nudged by up to 1 %
// to hold the fill it settled at (FollowRing). The position jumps to max(written - target, 0)
// when the fill leaves 0 .. 0.75 x capacity; while priming it stays silent until the fill
// reaches the target, then starts the target behind the writer;
// it never passes the last frame written (running dry starts priming again). The whole part of
// the position is published as the ring's read count. Silence while masterRate is 0.
void ReadSecondaryRing(SpscRing& ring, SecondaryReader& reader, double target, int32_t masterRate,
                       int32_t deviceRate, float* out, uint32_t frames);
