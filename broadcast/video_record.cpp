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
// Two stamps this close are the same picture shown again (a file's pictures lie further apart).
constexpr double kSamePictureSeconds = 0.001;

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
  uint64_t framesProduced = 0;  // frames queued (UI thread)
  std::mutex mutex;
  std::deque<QueuedFrame> queue;  // under mutex
  // The newest picture, not queued yet (UI thread): it holds frame framesProduced on, for as many
  // frames as pass before a picture for a later one comes.
  Frame pending;
  double pendingShownAt = 0.0;
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

// Frames whose start the recorded sound has reached, and the block being mixed: the video is as
// long as the sound, to the frame.
uint64_t FramesReached() { return static_cast<uint64_t>(std::floor(kRecordFps * VideoRecordingClock())) + 1; }

// The frame a picture belongs to: the one starting nearest the time it began to show, so that a
// picture of a 30 fps file lands within half a frame of its sound whatever the two grids' phase.
uint64_t FrameShowing(double seconds) {
  const double frame = std::floor(seconds * kRecordFps + 0.5);
  return frame > 0.0 ? static_cast<uint64_t>(frame) : 0;
}

// Video frames whose start lies within `soundFrames` of sound at `rate`.
uint64_t FramesStartedBy(uint64_t soundFrames, int32_t rate) {
  return rate > 0 ? (soundFrames * kRecordFps + static_cast<uint64_t>(rate) - 1) / static_cast<uint64_t>(rate) : 0;
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
  std::deque<QueuedFrame> waiting;  // pictures the sound has not reached yet
  Frame lastPicture;                // the picture in nv12
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
    bool took = false;
    {
      std::lock_guard<std::mutex> lock(State.mutex);
      took = !State.queue.empty();
      for (QueuedFrame& f : State.queue) waiting.push_back(std::move(f));
      State.queue.clear();
    }
    const bool last = n == 0 && !took && State.stopRequested.load();
    // A picture is encoded once the sound has reached its frame, so the video ends with the
    // sound, to the frame, however far ahead of the sound the UI queued: at the end the frames
    // past the sound are dropped and the last picture fills any the UI left short.
    // (Sound that stops coming while pictures pile up does not hold them without end.)
    const uint64_t reached = FramesStartedBy(outFrames, j.outRate);
    const auto encode = [&] {
      ok = EncodeInput(j.video, nv12.data(), nv12.size(), static_cast<int64_t>(videoFrames) * kTicksPerSecond / kRecordFps,
                       kTicksPerSecond / kRecordFps, toVideo);
      ++videoFrames;
    };
    while (ok && !waiting.empty() && (videoFrames < reached || waiting.size() > kMaxQueuedRecordFrames)) {
      QueuedFrame& f = waiting.front();
      if (f.pixels != lastPicture) {  // a held picture's slot is never handed out again
        ConvertToNv12(f.pixels->data(), j.width, j.height, nv12.data());
        lastPicture = f.pixels;
      }
      for (; f.repeats > 0 && ok && (videoFrames < reached || waiting.size() > kMaxQueuedRecordFrames); --f.repeats)
        encode();
      if (f.repeats == 0) waiting.pop_front();
    }
    if (last) {
      while (ok && lastPicture && videoFrames < reached) encode();
      break;
    }
    if (n == 0 && !took) SleepMs(kIdleSleepMs);
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
  State.pending.reset();
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
  // The newest picture fills the frames up to the end of the sound, so a slow last UI frame never
  // leaves the video shorter than the sound.
  const uint64_t reached = FramesReached();
  if (State.pending && !State.failed.load()) {
    std::lock_guard<std::mutex> lock(State.mutex);
    State.queue.push_back(QueuedFrame{State.pending, std::max(reached, State.framesProduced + 1) - State.framesProduced});
    State.framesProduced = std::max(reached, State.framesProduced + 1);
  }
  State.stopRequested.store(true);
  State.recording.store(false);
  State.pending.reset();
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

double VideoRecordingClock() {
  const int32_t rate = State.rate.load();
  const uint64_t mixing = static_cast<uint64_t>(Engine.mixingFrames.load());
  return rate > 0 ? static_cast<double>(Engine.videoRecordRing.written.load() + mixing) / rate : 0.0;
}

void CaptureRecordFrame(double shownAt) {
  if (!State.recording.load() || State.failed.load()) return;
  // A picture with no time of its own is redrawn once per frame, not per UI frame.
  const bool now = std::isnan(shownAt);
  const double at = now ? VideoRecordingClock() : shownAt;
  const uint64_t frame = FrameShowing(at);
  if (State.pending && (frame < State.framesProduced ||
                        (frame == State.framesProduced && (now || std::abs(at - State.pendingShownAt) < kSamePictureSeconds))))
    return;
  {
    std::lock_guard<std::mutex> lock(State.mutex);
    if (State.queue.size() >= kMaxQueuedRecordFrames) return;
  }
  Frame picture = TakePoolFrame(State.pool);
  const size_t pixels = static_cast<size_t>(State.width) * State.height;
  if (!RenderMixFrame(&State.renderer, State.width, State.height, *picture) || picture->size() != pixels) return;
  if (State.pending && frame > State.framesProduced) {
    std::lock_guard<std::mutex> lock(State.mutex);
    State.queue.push_back(QueuedFrame{State.pending, frame - State.framesProduced});
    State.framesProduced = frame;
  }
  State.pending = std::move(picture);
  State.pendingShownAt = at;
}
