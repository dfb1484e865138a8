#include "broadcast/video_record.h"

#include <atomic>
#include <cmath>
#include <deque>
#include <mutex>
#include <thread>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/log.h"
#include "broadcast/tap_audio.h"
#include "broadcast/video_compositor.h"
#include "broadcast/video_encoders.h"
#include "engine/engine.h"
#include "engine/recorder.h"
#include "engine/spsc_ring.h"
#include "platform/clock.h"
#include "platform/mp4_file.h"

namespace {

constexpr size_t kTapBlockFrames = 4800;
constexpr unsigned kIdleSleepMs = 5;
constexpr size_t kPoolFrames = 4;
// A frame is captured once a quarter of it has been heard: the UI captures up to one UI frame
// (16.7 ms) later, so its picture shows the middle of the frame on average and a flash lands
// within 25 ms of its sound.
constexpr double kFrameDueAfter = 0.25;  // of a frame

using Frame = std::shared_ptr<std::vector<uint32_t>>;

// One queued picture and the number of consecutive video frames it fills (a stalled UI queues
// one picture for many frames, not a copy per frame).
struct QueuedFrame {
  Frame pixels;
  uint64_t repeats = 1;
};

struct RecordState {
  std::atomic<bool> recording{false};
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> failed{false};
  std::atomic<uint64_t> audioFramesWritten{0};  // master-rate frames taken from the tap
  std::atomic<int32_t> rate{0};                 // the master rate
  int width = 1280, height = 720;
  uint64_t framesProduced = 0;  // UI thread
  std::mutex mutex;
  std::deque<QueuedFrame> queue;  // under mutex
  Frame lastFrame;                // UI thread
  VideoFramePool pool;            // UI thread
  VideoRenderer renderer;         // UI thread
  std::thread thread;
  // A process that ends without the exit's stops (a test, a tool) still finishes the file.
  ~RecordState() {
    stopRequested.store(true);
    if (thread.joinable()) thread.join();
  }
};

RecordState State;
std::atomic<VideoMixSource> MixSource{nullptr};

// What the encoder thread owns for one recording.
struct RecordJob {
  Encoder video, audio;
  Mp4FilePtr file;
  std::wstring path;
  int32_t masterRate = 0, outRate = 0;
  int width = 0, height = 0;
};

// Video frames for the sound that has reached the tap, all of which the encoder thread will
// record, and the block being mixed, which the decks already show: a frame counts once `dueAfter`
// of it has been heard. The encoder's own count moves in blocks of up to 0.1 s whenever it gets to
// them, which would give one picture to several frames and show it early.
uint64_t FramesNeeded(double dueAfter) {
  const int32_t rate = State.rate.load();
  const uint64_t mixing = static_cast<uint64_t>(Engine.mixingFrames.load());
  const double seconds = rate > 0 ? static_cast<double>(Engine.videoRecordRing.written.load() + mixing) / rate : 0.0;
  const double due = std::floor(kRecordFps * seconds - dueAfter) + 1.0;
  return due > 0.0 ? static_cast<uint64_t>(due) : 0;
}

UiText StartError(int code) {
  return UiFormat(L"The video encoder wouldn't start (0x{:08X})", static_cast<uint32_t>(code));
}

void VideoRecordThread(std::unique_ptr<RecordJob> job) {
  RecordJob& j = *job;
  std::vector<float> block(kTapBlockFrames * 2);
  TapResampler resampler;
  ResetTapResampler(resampler, j.masterRate, j.outRate);
  std::vector<int16_t> pcm(TapResampleCapacity(resampler, kTapBlockFrames) * 2);
  std::vector<uint8_t> nv12(Nv12Size(j.width, j.height));
  const SampleCallback toVideo = [&](const EncodedSample& s) { return Mp4WriteVideo(*j.file, s); };
  const SampleCallback toAudio = [&](const EncodedSample& s) { return Mp4WriteAudio(*j.file, s); };
  uint64_t outFrames = 0, videoFrames = 0;
  bool ok = true;
  while (ok) {
    const uint64_t n = RingRead(Engine.videoRecordRing, block.data(), kTapBlockFrames);
    if (n > 0) {
      const size_t made = TapBlockToPcm(resampler, block.data(), n, pcm.data());
      const int64_t time = static_cast<int64_t>(outFrames) * kTicksPerSecond / j.outRate;
      const int64_t duration = static_cast<int64_t>(made) * kTicksPerSecond / j.outRate;
      ok = made == 0 || EncodeInput(j.audio, reinterpret_cast<const uint8_t*>(pcm.data()), made * 4, time,
                                    duration, toAudio);
      outFrames += made;
      State.audioFramesWritten.fetch_add(n);
    }
    std::deque<QueuedFrame> taken;
    {
      std::lock_guard<std::mutex> lock(State.mutex);
      taken.swap(State.queue);
    }
    for (const QueuedFrame& f : taken) {
      if (!ok) break;
      ConvertToNv12(f.pixels->data(), j.width, j.height, nv12.data());
      for (uint64_t r = 0; r < f.repeats && ok; ++r, ++videoFrames)
        ok = EncodeInput(j.video, nv12.data(), nv12.size(), static_cast<int64_t>(videoFrames) * kTicksPerSecond / kRecordFps,
                         kTicksPerSecond / kRecordFps, toVideo);
    }
    if (n == 0 && taken.empty()) {
      if (State.stopRequested.load()) break;
      SleepMs(kIdleSleepMs);
    }
  }
  if (!ok) {
    State.failed.store(true);
    EnableVideoRecordTap(false);  // the video feed stops working for this recording
    WriteLog(L"Video recording: the encoder stopped");
  }
  // What the encoders still hold goes into the file, then the index in front of the media.
  const bool drained = FinishEncoding(j.video, toVideo) && FinishEncoding(j.audio, toAudio);
  std::wstring why;
  if (!FinishMp4File(*j.file, &why)) {
    WriteLog(L"Video recording: the file couldn't be finished: {}", why);
  } else if (!drained) {
    WriteLog(L"Video recording: the end of the sound or picture was lost");
  }
  const int32_t master = std::max(j.masterRate, 1);
  WriteLog(L"Video recording stopped: {:.1f} s", static_cast<double>(State.audioFramesWritten.load()) / master);
}

}  // namespace

void SetVideoMixSource(VideoMixSource source) { MixSource.store(source); }

bool RenderMixFrame(VideoRenderer* renderer, int width, int height, std::vector<uint32_t>& pixels) {
  const VideoMixSource source = MixSource.load();
  return source ? source(width, height, pixels) : RenderVideoFrame(renderer, width, height, &pixels);
}

namespace {

// The slot's pixels for as long as any copy is held; each copy keeps the slot itself alive.
Frame HandOut(const std::shared_ptr<VideoFrameSlot>& slot) {
  slot->inUse.store(true, std::memory_order_relaxed);
  return Frame(&slot->pixels, [slot](std::vector<uint32_t>*) { slot->inUse.store(false, std::memory_order_release); });
}

}  // namespace

std::shared_ptr<std::vector<uint32_t>> TakePoolFrame(VideoFramePool& pool) {
  for (const std::shared_ptr<VideoFrameSlot>& slot : pool.slots)
    if (!slot->inUse.load(std::memory_order_acquire)) return HandOut(slot);
  if (pool.slots.size() >= kPoolFrames) return std::make_shared<std::vector<uint32_t>>();
  pool.slots.push_back(std::make_shared<VideoFrameSlot>());
  return HandOut(pool.slots.back());
}

bool StartVideoRecording(const std::wstring& path, int32_t height, UiText* error) {
  if (State.recording.load()) return true;
  WaitForVideoRecording();
  // The tap starts now, unless it was armed beside a WAV, and holds the sound while the encoders
  // and the file open.
  EnableVideoRecordTap(true);
  auto job = std::make_unique<RecordJob>();
  job->path = path;
  job->width = height < 1080 ? 1280 : 1920;
  job->height = height < 1080 ? 720 : 1080;
  job->masterRate = std::max(RunningOutputRate(Engine), 1);
  job->outRate = RecordAudioRate(job->masterRate);
  auto fail = [&](int code) {
    EnableVideoRecordTap(false);
    const UiText text = StartError(code);
    WriteLog(L"Video recording: {}", text);
    if (error) *error = text;
    return false;
  };
  H264TransformSettings video;
  video.width = job->width;
  video.height = job->height;
  video.kbps = job->height < 1080 ? kRecordKbps720 : kRecordKbps1080;
  video.fps = kRecordFps;
  video.gopFrames = kLiveVideoGopFrames;
  video.globalHeader = true;
  video.lowLatency = false;  // a file can wait for the encoder's look-ahead and frame threads
  TransformOpenFailure failure = TransformOpenFailure::kNone;
  int code = 0;
  job->video.transform = OpenH264Transform(video, &failure, &code);
  if (!job->video.transform) return fail(code);
  job->audio.transform = OpenAacTransform(job->outRate, kRecordAudioKbps, &failure, &code);
  if (!job->audio.transform) return fail(code);
  Mp4FileFormat format;
  format.width = job->width;
  format.height = job->height;
  format.fps = kRecordFps;
  format.videoKbps = video.kbps;
  format.videoConfig = TransformCodecConfig(*job->video.transform);
  format.audioRate = job->outRate;
  format.audioKbps = kRecordAudioKbps;
  format.audioConfig = TransformCodecConfig(*job->audio.transform);
  format.audioPriming = TransformPrimingSamples(*job->audio.transform);
  std::wstring detail;
  job->file = OpenMp4File(path, format, &code, &detail);
  if (!job->file) {
    WriteLog(L"Video recording: {}: {}", path, detail);
    return fail(code);
  }
  State.width = job->width;
  State.height = job->height;
  State.rate.store(job->masterRate);
  State.audioFramesWritten.store(0);
  State.framesProduced = 0;
  {
    std::lock_guard<std::mutex> lock(State.mutex);
    State.queue.clear();
  }
  State.lastFrame.reset();
  State.stopRequested.store(false);
  State.failed.store(false);
  State.recording.store(true);
  const int w = job->width, h = job->height;
  State.thread = std::thread(VideoRecordThread, std::move(job));
  WriteLog(L"Video recording started: {}x{}, {} fps", w, h, kRecordFps);
  return true;
}

void ArmVideoRecordingBesideWav() {
  if (State.recording.load()) return;
  WaitForVideoRecording();
  EnableVideoRecordTapBesideWav();
}

void StopVideoRecording() {
  if (!State.recording.load()) return;
  EnableVideoRecordTap(false);
  // The sound that reached the tap since the last UI frame gets its pictures too (the last one
  // repeated), so a slow last frame never leaves the video shorter than the sound.
  const uint64_t needed = FramesNeeded(0.0);  // every frame the sound reaches
  if (State.lastFrame && !State.failed.load() && State.framesProduced < needed) {
    std::lock_guard<std::mutex> lock(State.mutex);
    State.queue.push_back(QueuedFrame{State.lastFrame, needed - State.framesProduced});
    State.framesProduced = needed;
  }
  State.stopRequested.store(true);
  State.recording.store(false);
  State.lastFrame.reset();
  ReleaseVideoRenderer(&State.renderer);
}

void WaitForVideoRecording() {
  if (State.thread.joinable()) State.thread.join();
}

bool VideoRecordingRunning() { return State.recording.load(); }

bool VideoRecordingFailed() { return State.failed.load(); }

double VideoRecordingSeconds() {
  const int32_t rate = State.rate.load();
  return rate > 0 ? static_cast<double>(State.audioFramesWritten.load()) / rate : 0.0;
}

void CaptureRecordFrame() {
  if (!State.recording.load() || State.failed.load()) return;
  if (State.framesProduced >= FramesNeeded(kFrameDueAfter)) return;
  {
    std::lock_guard<std::mutex> lock(State.mutex);
    if (State.queue.size() >= kMaxQueuedRecordFrames) return;
  }
  Frame frame = TakePoolFrame(State.pool);
  const size_t pixels = static_cast<size_t>(State.width) * State.height;
  const Frame previous = State.lastFrame;
  if (RenderMixFrame(&State.renderer, State.width, State.height, *frame) && frame->size() == pixels)
    State.lastFrame = frame;
  else if (!State.lastFrame)
    return;
  // The new picture shows the mix as it is after rendering: it takes the newest frame due by then.
  // Frames the UI missed keep the picture they would have shown (the previous one), so nothing
  // appears before its time.
  const uint64_t needed = FramesNeeded(kFrameDueAfter);
  std::lock_guard<std::mutex> lock(State.mutex);
  const uint64_t missing = needed - State.framesProduced;
  if (missing > 1 && previous && previous != State.lastFrame) {
    State.queue.push_back(QueuedFrame{previous, missing - 1});
    State.queue.push_back(QueuedFrame{State.lastFrame, 1});
  } else {
    State.queue.push_back(QueuedFrame{State.lastFrame, missing});
  }
  State.framesProduced = needed;
}
