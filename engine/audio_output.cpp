// The master output thread, secondary (headphone and booth) outputs, device recovery and the
// dropout count.
#include "engine/audio_output.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "base/log.h"
#include "engine/output_loss.h"
#include "engine/render.h"
#include "engine/render_helpers.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/thread_priority.h"

namespace {

constexpr unsigned kRetryDelayMs = 500;       // between device runs
constexpr unsigned kRetryStepMs = 50;         // the delay is slept in steps so a stop is not held up
constexpr int32_t kPeriodWaitMs = 200;        // longest wait for one device period
constexpr double kLateFactor = 1.05;          // a period later than 1.05 buffers is late
constexpr double kLateCeilingSeconds = 10.0;  // longer gaps are a stall, not a dropout
constexpr float kSilentLevel = 1e-5f;         // -100 dBFS: below it a sample is silence
constexpr uint64_t kNeverSounded = UINT64_MAX;
constexpr uint64_t kDefaultCheckMs = 1501;    // how often a run that follows the default looks
constexpr uint64_t kSecondaryMinTargetFrames = 2048;
constexpr double kSecondaryMaxFillShare = 0.75;
constexpr double kSecondaryMaxDrift = 0.01;
constexpr float kMonoMix = 0.5f;
constexpr float kInt16Scale = 32767.0f;
constexpr float kInt24Scale = 8388607.0f;
constexpr double kInt32Scale = 2147483392.0;  // the largest float step below 2^31

const wchar_t* const kModeNames[] = {L"shared", L"shared, low latency", L"exclusive"};

// The one "couldn't be opened" line until the master opens again.
std::atomic<bool> gOpenFailureLogged{false};

constexpr uint64_t kTroubleLogGapMs = 10000;
std::atomic<uint32_t> gLateRenders{0};

// One kind of dropout's log line: the count it reported and when. UI thread.
struct TroubleLine {
  uint32_t logged = 0;
  uint64_t ms = 0;
};
TroubleLine gLateRenderLine, gLostBlockLine, gUnderrunLine;

// True when `count` rose since the line's last report and 10 s have passed since it; the line
// then takes the count.
bool TroubleRose(TroubleLine& line, uint32_t count, uint64_t nowMs) {
  if (count < line.logged) line.logged = count;  // the count was reset from the top bar
  if (count <= line.logged) return false;
  if (line.logged > 0 && nowMs - line.ms <= kTroubleLogGapMs) return false;
  return true;
}

void TroubleLogged(TroubleLine& line, uint32_t count, uint64_t nowMs) {
  line.logged = count;
  line.ms = nowMs;
}

// Once per process: whether the output threads run in the real-time class.
std::atomic<bool> gRealtimeLogged{false};

// What the server lost of one run's output. Silence lost is nothing lost: while the buffer holds
// only silence (a fresh output before anything is heard, a stopped mix) an underrun counts none.
struct LossCount {
  uint32_t underrunsSeen = 0;
  uint64_t silentFrames = kNeverSounded;  // written since the last block with sound
};

// At a device wake-up. A late wake-up counts once when the server ran dry meanwhile; without an
// underrun it was the server's own pace (an idle sink waking up) and nothing was lost. An
// underrun at a wake-up on time is the server's.
void CountLoss(AudioEngine& engine, LossCount& loss, uint32_t underruns, bool late, uint32_t bufferFrames) {
  const uint32_t lost = underruns - loss.underrunsSeen;
  loss.underrunsSeen = underruns;
  if (lost == 0 || loss.silentFrames >= bufferFrames) return;
  if (late) engine.dropouts.fetch_add(1);
  else engine.serverUnderruns.fetch_add(lost);
}

void NoteSound(LossCount& loss, const OutputRoute* routes, int count, uint32_t frames) {
  const auto sounds = [frames](const OutputRoute& route) {
    return std::any_of(route.buffer, route.buffer + 2 * static_cast<size_t>(frames),
                       [](float v) { return std::fabs(v) > kSilentLevel; });
  };
  if (std::any_of(routes, routes + count, sounds)) loss.silentFrames = 0;
  else if (loss.silentFrames != kNeverSounded) loss.silentFrames += frames;
}

void LogRealtimeGrant(RealtimeGrant grant, const std::string& reason) {
  if (gRealtimeLogged.exchange(true)) return;
  switch (grant) {
    case RealtimeGrant::kScheduler:
      WriteLog(L"Audio: the output threads run with real-time scheduling");
      break;
    case RealtimeGrant::kRealtimeKit:
      WriteLog(L"Audio: real-time scheduling was refused; the desktop's real-time service granted it");
      break;
    case RealtimeGrant::kRefused:
      WriteLog(L"Audio: the output threads run without real-time scheduling ({})", Utf8ToWide(reason));
      break;
  }
}

float Finite(float x) { return std::isfinite(x) ? x : 0.0f; }

float Clamped(float x) { return std::clamp(Finite(x), -1.0f, 1.0f); }

// Opens the master device for the engine's share mode: exclusive first when asked, else (or
// when that fails) shared, low latency unless the plain shared mode was chosen.
bool OpenMasterDevice(DeviceRun& run, const std::wstring& id, int32_t shareMode, int32_t bufferMs) {
  if (shareMode == kShareExclusive && InitExclusiveClient(run, id, bufferMs)) return true;
  return InitSharedClient(run, id, shareMode != kShareShared, bufferMs);
}

void TakeFormat(DeviceRun& run, AudioStream* stream, const AudioStreamFormat& format) {
  run.stream = stream;
  run.deviceId = format.deviceId;
  run.bufferFrames = format.bufferFrames;
  run.channels = format.channels;
  run.rate = format.rate;
  run.sampleFormat = format.sampleFormat;
  run.shareMode = format.shareMode;
  run.periodFrames = std::clamp(format.periodFrames, 1u, std::max(format.bufferFrames, 1u));
}

}  // namespace

// --- Starting and stopping -----------------------------------------------------------------------

SecondaryPlacement PlaceSecondaries(const OutputConfig& config) {
  // A master that follows the default device is compared by the default's id.
  const std::wstring masterId = config.masterDevice.empty() ? DefaultAudioDeviceId(kRenderFlow) : config.masterDevice;
  SecondaryPlacement place;
  place.phonesOnMaster = config.phonesMode == kPhonesOwnOutput && config.phonesDevice == masterId;
  place.boothOnMaster = !config.boothDevice.empty() && config.boothDevice == masterId;
  place.phonesOwnDevice = config.phonesMode == kPhonesOwnOutput && !place.phonesOnMaster;
  place.boothOwnDevice = !config.boothDevice.empty() && !place.boothOnMaster;
  return place;
}

void TakeSecondaryRouting(AudioEngine& engine, const OutputConfig& config, const SecondaryPlacement& place) {
  engine.phonesMode = config.phonesMode;
  engine.phonesDevice = config.phonesDevice;
  engine.phonesPair = config.phonesPair;
  engine.boothDevice = config.boothDevice;
  engine.boothPair = config.boothPair;
  engine.phonesOnMaster = place.phonesOnMaster;
  engine.boothOnMaster = place.boothOnMaster;
}

void StartOutput(AudioEngine& engine, const OutputConfig& config) {
  AssertNotAudioThread();
  StopOutputs(engine);
  const SecondaryPlacement place = PlaceSecondaries(config);
  // No render runs while the outputs are stopped: the rings can be sized here.
  RingResize(engine.phones.ring, kSecondaryRingFrames);
  RingResize(engine.booth.ring, kSecondaryRingFrames);
  {
    std::lock_guard<RealtimeMutex> guard(engine.lock);
    engine.masterDevice = config.masterDevice;
    engine.masterPair = std::max(config.masterPair, 0);
    TakeSecondaryRouting(engine, config, place);
    engine.routeShareMode = config.shareMode;
    engine.bufferMs = config.bufferMs;
    engine.externalMixer = config.externalMixer;
    engine.deckCount = config.deckCount;
    engine.masterDeviceId = config.masterDevice;
    engine.phones.deviceId = config.phonesDevice;
    engine.phones.pair = config.phonesPair;
    engine.phones.wanted.store(place.phonesOwnDevice);
    engine.booth.deviceId = config.boothDevice;
    engine.booth.pair = config.boothPair;
    engine.booth.wanted.store(place.boothOwnDevice);
  }
  engine.stopOutputs.store(false);
  engine.lastWriteFlag.store(false);
  engine.masterThread = std::thread(OutputThread, &engine);
  for (SecondaryOutput* output : {&engine.phones, &engine.booth})
    if (output->wanted.load()) output->thread = std::thread(SecondaryOutputThread, &engine, output);
}

void StopOutputs(AudioEngine& engine) {
  AssertNotAudioThread();
  engine.stopOutputs.store(true);
  for (std::thread* thread : {&engine.masterThread, &engine.phones.thread, &engine.booth.thread})
    if (thread->joinable()) thread->join();
  if (!engine.recording.load() && engine.recorderThread.joinable()) engine.recorderThread.join();
  for (OutputKind kind : {OutputKind::kMaster, OutputKind::kPhones, OutputKind::kBooth}) ForgetLostOutput(kind);
}

// --- Threads -------------------------------------------------------------------------------------

void WaitBeforeReopen(const std::atomic<bool>& stop, const std::atomic<bool>* wanted) {
  for (unsigned slept = 0; slept < kRetryDelayMs && !stop.load() && (!wanted || wanted->load()); slept += kRetryStepMs)
    SleepMs(kRetryStepMs);
}

void OutputThread(AudioEngine* engine) {
  NameThisThread("vm-output");
  std::string reason;
  const RealtimeGrant grant = RegisterProAudioThread(&reason);
  LogRealtimeGrant(grant, reason);
  while (!engine->stopOutputs.load()) {
    RunOutputSession(*engine);
    PublishOutputStopped(*engine);
    WaitBeforeReopen(engine->stopOutputs);
  }
}

void SecondaryOutputThread(AudioEngine* engine, SecondaryOutput* output) {
  NameThisThread("vm-output-side");
  RegisterProAudioThread();
  // An output no longer wanted ends alone, the others playing on (a new headphone device).
  while (!engine->stopOutputs.load() && output->wanted.load()) {
    RunSecondarySession(*engine, *output);
    output->running.store(false);
    WaitBeforeReopen(engine->stopOutputs, &output->wanted);
  }
}

void RunOutputSession(AudioEngine& engine) {
  DeviceRun run;
  const std::wstring configured = engine.masterDeviceId;
  const int32_t shareMode = engine.routeShareMode;
  const int32_t bufferMs = engine.bufferMs;
  bool opened = !configured.empty() && OpenMasterDevice(run, configured, shareMode, bufferMs);
  // Without a configured device, or when it cannot be opened, the run plays on the default.
  const bool followDefault = !opened;
  if (!opened) opened = OpenMasterDevice(run, L"", shareMode, bufferMs);
  if (!opened) {
    if (!gOpenFailureLogged.exchange(true)) WriteLog(L"Audio: the master output couldn't be opened; retrying");
    return;
  }
  gOpenFailureLogged.store(false);
  ReadDeviceChannels(run);
  OpenRenderClient(run);
  PrepareRenderBuffers(engine, static_cast<int>(run.bufferFrames), run.rate);
  std::vector<float> mix(static_cast<size_t>(run.bufferFrames) * 2);
  WriteLog(L"Audio: master output started ({} Hz, {} channels, {}-frame buffer, {}); {}-frame blocks", run.rate,
           run.channels, run.bufferFrames, kModeNames[std::clamp(run.shareMode, 0, 2)], run.periodFrames);
  engine.outputChannels.store(run.channels);
  engine.bufferFrames.store(static_cast<int32_t>(run.bufferFrames));
  engine.shareMode.store(run.shareMode);
  PublishOutputStarted(engine, run.rate);
  MarkOutputPlaying(OutputKind::kMaster, run.deviceId);

  const double lateLimit = run.bufferFrames * (run.shareMode == kShareExclusive ? 2.0 : 1.0) / run.rate * kLateFactor;
  double lastWriteEnd = -1.0;
  uint64_t lastDefaultCheck = MonotonicMs();
  OutputRoute routes[kMaxOutputRoutes];
  // The routing changes while the master plays on (a new headphone pair): each block takes the
  // copy its render saw under the engine lock.
  MasterRouting routing;
  {
    std::lock_guard<RealtimeMutex> guard(engine.lock);
    routing = TakeMasterRouting(engine);
  }
  MarkAudioThread(true);
  LossCount loss;
  bool failed = false;
  while (!engine.stopOutputs.load() && !failed) {
    const int64_t room = WaitOutputRoom(run.stream, kPeriodWaitMs);
    if (room < 0) break;
    // The room is filled in blocks of one period each, so every block the render makes has the
    // same length and a repeated one is never cut to another length (or to silence).
    const uint32_t frames = run.periodFrames;
    const int64_t blocks = room / frames;
    if (blocks > 0) {
      const double gap = lastWriteEnd >= 0.0 ? MonotonicSeconds() - lastWriteEnd : 0.0;
      CountLoss(engine, loss, OutputUnderruns(run.stream), gap > lateLimit && gap < kLateCeilingSeconds,
                run.bufferFrames);
    }
    for (int64_t b = 0; b < blocks && !engine.stopOutputs.load(); ++b) {
      const double start = MonotonicSeconds();
      RenderMix(engine, mix.data(), static_cast<int32_t>(frames), run.rate, &routing);
      const int count = BuildMasterRoutes(engine, routing, run, mix.data(), routes);
      NoteSound(loss, routes, count, frames);
      bool flag = false;
      if (!WriteDeviceBuffers(run, routes, count, frames, flag)) {
        failed = true;
        break;
      }
      // Headphones routed to a pair this device lacks are skipped: say so through the flag.
      const bool phonesMissing =
          routing.phonesMode == kPhonesOwnOutput && routing.phonesOnMaster && !PairExists(run, routing.phonesPair);
      engine.lastWriteFlag.store(flag || phonesMissing);
      lastWriteEnd = MonotonicSeconds();
      // The wait above is the device's; this block's own mix (its wait for the engine lock
      // included) and write are the program's.
      if (lastWriteEnd - start > frames * kLateFactor / run.rate) gLateRenders.fetch_add(1);
      RaiseAtomic(engine.loadPeak, static_cast<float>((lastWriteEnd - start) * run.rate / frames));
    }
    if (followDefault && MonotonicMs() - lastDefaultCheck >= kDefaultCheckMs) {
      lastDefaultCheck = MonotonicMs();
      if (DefaultDeviceMoved(run.stream)) break;
    }
  }
  MarkAudioThread(false);
  PublishOutputStopped(engine);
  if (!engine.stopOutputs.load()) {
    WriteLog(L"Audio: master output stopped (device removed, changed or failed); reopening");
    MarkOutputLost(OutputKind::kMaster);
  }
  ReleaseDeviceRun(run);
}

uint32_t LateRenders() { return gLateRenders.load(); }

void LogRenderDropouts(const AudioEngine& engine, uint64_t nowMs) {
  const uint32_t late = gLateRenders.load();
  if (TroubleRose(gLateRenderLine, late, nowMs)) {
    WriteLog(L"Audio: {} late render(s) ({} since start): the mix of a block took longer than the block plays",
             late - gLateRenderLine.logged, late);
    TroubleLogged(gLateRenderLine, late, nowMs);
  }
  const uint32_t lost = engine.renderLockMisses.load();
  if (TroubleRose(gLostBlockLine, lost, nowMs)) {
    WriteLog(L"Audio: {} repeated block(s) ({} since start): the engine was held longer than a block plays",
             lost - gLostBlockLine.logged, lost);
    TroubleLogged(gLostBlockLine, lost, nowMs);
  }
  const uint32_t underruns = engine.serverUnderruns.load();
  if (TroubleRose(gUnderrunLine, underruns, nowMs)) {
    WriteLog(L"Audio: {} server underrun(s) ({} since start): the sound server ran out of sound to play",
             underruns - gUnderrunLine.logged, underruns);
    TroubleLogged(gUnderrunLine, underruns, nowMs);
  }
}

void RunSecondarySession(AudioEngine& engine, SecondaryOutput& output) {
  if (output.deviceId.empty()) return;
  DeviceRun run;
  if (!InitSharedClient(run, output.deviceId, false, kSecondaryBufferMs)) return;
  ReadDeviceChannels(run);
  OpenRenderClient(run);
  std::vector<float> stereo(static_cast<size_t>(run.bufferFrames) * 2);
  output.running.store(true);
  const OutputKind kind = &output == &engine.phones ? OutputKind::kPhones : OutputKind::kBooth;
  MarkOutputPlaying(kind, run.deviceId);
  const double target = static_cast<double>(std::max<uint64_t>(2 * run.bufferFrames, kSecondaryMinTargetFrames));
  SecondaryReader reader{static_cast<double>(output.ring.read.load()), true, {}};
  // The device is this output's own: a pair it lacks (the default headphone pair 1 on a stereo
  // device) falls back to pair 0, as the master's does, instead of leaving it silent.
  const OutputRoute route{stereo.data(), PairExists(run, output.pair) ? output.pair : 0};
  MarkAudioThread(true);
  while (!engine.stopOutputs.load() && output.wanted.load()) {
    const int64_t room = WaitOutputRoom(run.stream, kPeriodWaitMs);
    if (room < 0) break;
    if (room == 0) continue;
    const uint32_t frames = static_cast<uint32_t>(std::min<int64_t>(room, run.bufferFrames));
    ReadSecondaryRing(output.ring, reader, target, RunningOutputRate(engine), run.rate, stereo.data(), frames);
    bool flag = false;
    if (!WriteDeviceBuffers(run, &route, 1, frames, flag)) break;
  }
  MarkAudioThread(false);
  output.running.store(false);
  if (!engine.stopOutputs.load() && output.wanted.load()) MarkOutputLost(kind);
  ReleaseDeviceRun(run);
}

// --- The steps of a device run -------------------------------------------------------------------

bool InitSharedClient(DeviceRun& run, const std::wstring& id, bool lowLatency, int32_t bufferMs) {
  AudioStreamFormat format;
  std::wstring error;
  AudioStream* stream = lowLatency ? OpenSharedOutput(id, true, bufferMs, format, error) : nullptr;
  if (stream == nullptr) stream = OpenSharedOutput(id, false, bufferMs, format, error);
  if (stream == nullptr) return false;
  TakeFormat(run, stream, format);
  return true;
}

bool InitExclusiveClient(DeviceRun& run, const std::wstring& id, int32_t bufferMs) {
  AudioStreamFormat format;
  std::wstring error;
  AudioStream* stream = OpenExclusiveOutput(id, bufferMs, format, error);
  if (stream == nullptr) return false;
  TakeFormat(run, stream, format);
  return true;
}

void ReadDeviceChannels(DeviceRun& run) {
  run.nativeChannels = run.channels;
  run.channelMap.resize(static_cast<size_t>(std::max(run.channels, 0)));
  for (int32_t k = 0; k < run.channels; ++k) run.channelMap[static_cast<size_t>(k)] = k;
}

bool OpenRenderClient(DeviceRun& run) {
  const size_t samples = static_cast<size_t>(run.bufferFrames) * static_cast<size_t>(std::max(run.channels, 1));
  run.frames.assign(samples, 0.0f);
  run.bytes.assign(samples * sizeof(float), 0);  // the widest sample format
  return run.stream != nullptr;
}

bool WriteDeviceBuffers(DeviceRun& run, const OutputRoute* routes, int count, uint32_t frames, bool& flag) {
  frames = std::min(frames, run.bufferFrames);
  MixRoutes(run, routes, count, frames, run.frames.data(), flag);
  if (frames == 0) return true;
  ConvertSamples(run.frames.data(), static_cast<size_t>(frames) * run.channels, run.sampleFormat, run.bytes.data());
  return WriteOutput(run.stream, run.bytes.data(), frames);
}

void ReleaseDeviceRun(DeviceRun& run) {
  CloseAudioStream(run.stream);
  run.stream = nullptr;
}

// --- Pieces of the period ------------------------------------------------------------------------

bool PairExists(const DeviceRun& run, int32_t pair) { return pair >= 0 && 2 * pair + 1 < run.nativeChannels; }

int BuildMasterRoutes(const AudioEngine& engine, const MasterRouting& routing, const DeviceRun& run,
                      const float* master, OutputRoute* routes) {
  int count = 0;
  if (routing.externalMixer) {
    const int32_t decks = std::clamp(routing.deckCount, 1, kEngineDecks);
    for (int32_t d = 0; d < decks; ++d) routes[count++] = {engine.deckOutBuffers[d].data(), d};
    routes[count++] = {engine.extraBuffer.data(), PairExists(run, decks) ? decks : 0};
    return count;
  }
  const int32_t masterPair = PairExists(run, routing.masterPair) ? routing.masterPair : 0;
  routes[count++] = {master, masterPair};
  // A secondary mix never lands on a pair another route already carries: on the master's pair
  // it would put the cue into the main mix.
  const auto addSecondary = [&](const float* buffer, int32_t pair) {
    if (!PairExists(run, pair)) return;
    for (int i = 0; i < count; ++i)
      if (routes[i].pair == pair) return;
    routes[count++] = {buffer, pair};
  };
  if (routing.phonesOnMaster) addSecondary(engine.phonesBuffer.data(), routing.phonesPair);
  if (routing.boothOnMaster) addSecondary(engine.boothBuffer.data(), routing.boothPair);
  return count;
}

void MixRoutes(const DeviceRun& run, const OutputRoute* routes, int count, uint32_t frames, float* out, bool& flag) {
  const int32_t channels = std::max(run.channels, 1);
  flag = false;
  for (int r = 0; r < count; ++r)
    if (run.nativeChannels > 1 && PairExists(run, routes[r].pair) &&
        (run.channelMap[2 * routes[r].pair] < 0 || run.channelMap[2 * routes[r].pair + 1] < 0))
      flag = true;
  std::fill(out, out + static_cast<size_t>(frames) * channels, 0.0f);
  if (count == 0) return;
  if (run.nativeChannels == 1) {
    const float* in = routes[0].buffer;
    const int32_t target = run.channelMap.empty() ? 0 : run.channelMap[0];
    if (target < 0) return;
    for (uint32_t i = 0; i < frames; ++i) out[i * channels + target] = (in[2 * i] + in[2 * i + 1]) * kMonoMix;
    return;
  }
  for (int r = 0; r < count; ++r) {
    if (!PairExists(run, routes[r].pair)) continue;
    const int32_t left = run.channelMap[2 * routes[r].pair];
    const int32_t right = run.channelMap[2 * routes[r].pair + 1];
    const float* in = routes[r].buffer;
    for (uint32_t i = 0; i < frames; ++i) {
      if (left >= 0) out[i * channels + left] += in[2 * i];
      if (right >= 0) out[i * channels + right] += in[2 * i + 1];
    }
  }
}

void ConvertSamples(const float* in, size_t count, int32_t sampleFormat, uint8_t* out) {
  switch (sampleFormat) {
    case kSampleInt16:
      for (size_t i = 0; i < count; ++i) {
        const auto v = static_cast<int16_t>(std::lrint(Clamped(in[i]) * kInt16Scale));
        std::memcpy(out + 2 * i, &v, 2);
      }
      break;
    case kSampleInt24Packed:
      for (size_t i = 0; i < count; ++i) {
        const auto v = static_cast<uint32_t>(static_cast<int32_t>(std::lrint(Clamped(in[i]) * kInt24Scale)));
        out[3 * i] = static_cast<uint8_t>(v);
        out[3 * i + 1] = static_cast<uint8_t>(v >> 8);
        out[3 * i + 2] = static_cast<uint8_t>(v >> 16);
      }
      break;
    case kSampleInt32:
      for (size_t i = 0; i < count; ++i) {
        const auto v = static_cast<int32_t>(std::llrint(Clamped(in[i]) * kInt32Scale));
        std::memcpy(out + 4 * i, &v, 4);
      }
      break;
    default:
      for (size_t i = 0; i < count; ++i) {
        const float v = Finite(in[i]);
        std::memcpy(out + 4 * i, &v, 4);
      }
      break;
  }
}

void ReadSecondaryRing(SpscRing& ring, SecondaryReader& reader, double target, int32_t masterRate,
                       int32_t deviceRate, float* out, uint32_t frames) {
  std::fill(out, out + static_cast<size_t>(frames) * 2, 0.0f);
  if (masterRate <= 0 || deviceRate <= 0 || target <= 0.0 || ring.buffer.size() < 2 * ring.capacity) return;
  const uint64_t written = ring.written.load(std::memory_order_acquire);
  const double end = static_cast<double>(written);
  double& position = reader.position;
  const double fill = end - position;
  if (fill < 0.0 || fill > kSecondaryMaxFillShare * static_cast<double>(ring.capacity)) {
    position = std::max(end - target, 0.0);
    reader.follower = {};
  }
  if (reader.priming) {
    if (end - position < target) return;
    position = end - target;
    reader.priming = false;
    reader.follower = {};
  }
  const double adj = FollowRing(reader.follower, end - position, frames, deviceRate, target, kSecondaryMaxDrift);
  const double step = static_cast<double>(masterRate) / deviceRate * (1.0 + adj);
  const float* data = ring.buffer.data();
  const uint64_t capacity = ring.capacity;
  for (uint32_t i = 0; i < frames; ++i) {
    const auto at = static_cast<uint64_t>(position);
    if (at + 1 >= written) {  // ran dry: silence, and wait for the target fill again
      reader.priming = true;
      break;
    }
    const float t = static_cast<float>(position - static_cast<double>(at));
    const float* a = data + (at % capacity) * 2;
    const float* b = data + ((at + 1) % capacity) * 2;
    out[2 * i] = a[0] + (b[0] - a[0]) * t;
    out[2 * i + 1] = a[1] + (b[1] - a[1]) * t;
    // Never past the last frame written, so the read count cannot overtake the writer.
    position = std::min(position + step, end);
  }
  ring.read.store(static_cast<uint64_t>(position), std::memory_order_release);
}
