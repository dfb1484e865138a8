#include "broadcast/live_video.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/text_parse.h"
#include "broadcast/audio_stream.h"
#include "broadcast/rtmp_publisher.h"
#include "broadcast/tap_audio.h"
#include "broadcast/video_compositor.h"
#include "broadcast/video_encoders.h"
#include "broadcast/video_record.h"
#include "engine/engine.h"
#include "engine/recorder.h"
#include "engine/spsc_ring.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace {

constexpr const wchar_t* kServiceNames[kLiveVideoCustomService] = {L"YouTube", L"Twitch", L"Facebook"};
constexpr const wchar_t* kServiceAddresses[kLiveVideoCustomService] = {
    L"rtmps://a.rtmps.youtube.com:443/live2", L"rtmp://live.twitch.tv/app",
    L"rtmps://live-api-s.facebook.com:443/rtmp/"};
constexpr const wchar_t* kLostText = L"Lost the connection to the server";
constexpr const wchar_t* kNoKeyText = L"Paste your stream key first (the service's live dashboard shows it)";
constexpr int kTapBlockFrames = 1024;
constexpr unsigned kIdleSleepMs = 3;
constexpr unsigned kRetryWaitMs = 5000;
constexpr unsigned kRetryStepMs = 100;
constexpr int kStatusMs = 2800;

using Frame = std::shared_ptr<std::vector<uint32_t>>;

struct LiveFrame {
  int64_t index = 0;
  Frame pixels;
};

struct LiveState {
  RtmpUrl url;
  std::string key;  // trimmed, UTF-8
  int width = 1280, height = 720;
  std::atomic<int32_t> state{kStreamOff};
  std::atomic<bool> stop{false};
  std::atomic<bool> running{false};
  std::atomic<uint64_t> startTick{0};
  std::atomic<uint64_t> bytesSent{0};
  std::atomic<uint64_t> fillFrames{0};
  std::atomic<uint64_t> audioFramesRead{0};
  std::atomic<int32_t> audioRate{0};
  std::mutex mutex;  // guards what follows
  std::wstring status;
  std::deque<LiveFrame> queue;
  int64_t lastFrameIndex = -1;
  Publisher* publisher = nullptr;  // the worker's, while it has one
  std::thread thread;
  VideoFramePool pool;  // UI thread
  ~LiveState();
};

LiveState Live;

// A process that ends without the exit's stops (a test, a tool) still ends the worker cleanly.
LiveState::~LiveState() {
  stop.store(true);
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (publisher) StopConnection(*publisher);
  }
  if (thread.joinable()) thread.join();
}

void SetStatus(const std::wstring& text) {
  std::lock_guard<std::mutex> lock(Live.mutex);
  Live.status = text;
}

// The media loop: metadata and the AAC header, then audio from the tap, the queued frames and,
// when no frame came for a while, the last frame again. True when stopped on request.
bool Stream(Publisher& publisher, Encoder& video, Encoder& audio, int32_t masterRate, int32_t outRate, int kbps,
            std::wstring* error) {
  const int width = Live.width, height = Live.height;
  if (!SendStreamMetadata(publisher, width, height, kbps, outRate) || !SendAacSequenceHeader(publisher, outRate)) {
    *error = kLostText;
    return false;
  }
  if (Live.stop.load()) return true;
  VideoTagState videoTags;
  std::vector<uint8_t> audioBody;
  const SampleCallback sendVideo = [&](const EncodedSample& s) { return SendFlvSample(publisher, videoTags, s); };
  const SampleCallback sendAudio = [&](const EncodedSample& s) { return SendAacSample(publisher, audioBody, s); };
  TapResampler resampler;
  ResetTapResampler(resampler, masterRate, outRate);
  std::vector<float> block(kTapBlockFrames * 2);
  std::vector<int16_t> pcm(TapResampleCapacity(resampler, kTapBlockFrames) * 2);
  std::vector<uint8_t> nv12(Nv12Size(width, height));
  bool haveFrame = false;
  int64_t lastEncoded = -1;
  uint64_t outFrames = 0;
  uint64_t lastFrameMs = MonotonicMs();
  const size_t pixels = static_cast<size_t>(width) * height;
  const int64_t rateForDue = std::max<int32_t>(masterRate, 2);
  // The picture in nv12 again in every slot after the last encoded up to `last`.
  const auto repeatUpTo = [&](int64_t last) {
    for (; lastEncoded < last; Live.fillFrames.fetch_add(1)) {
      ++lastEncoded;
      if (!EncodeInput(video, nv12.data(), nv12.size(), lastEncoded * kVideoFrameTicks, kVideoFrameTicks, sendVideo)) {
        *error = kLostText;
        return false;
      }
    }
    return true;
  };
  for (;;) {
    bool worked = false;
    // All the sound the tap holds: a pass slowed by a picture's encoding must not leave the sound,
    // and with it the pictures' clock, further behind with every pass.
    for (uint64_t n = kTapBlockFrames; n == kTapBlockFrames;) {
      n = RingRead(Engine.liveVideoRing, block.data(), kTapBlockFrames);
      if (n == 0) break;
      Live.audioFramesRead.fetch_add(n);
      const size_t made = TapBlockToPcm(resampler, block.data(), n, pcm.data());
      const int64_t time = static_cast<int64_t>(outFrames) * kTicksPerSecond / outRate;
      const int64_t duration = static_cast<int64_t>(made) * kTicksPerSecond / outRate;
      if (made > 0 &&
          !EncodeInput(audio, reinterpret_cast<const uint8_t*>(pcm.data()), made * 4, time, duration, sendAudio)) {
        *error = kLostText;
        return false;
      }
      outFrames += made;
      worked = true;
    }
    std::deque<LiveFrame> taken;
    {
      std::lock_guard<std::mutex> lock(Live.mutex);
      taken.swap(Live.queue);
    }
    for (const LiveFrame& f : taken) {
      lastFrameMs = MonotonicMs();
      if (f.index <= lastEncoded || f.pixels->size() != pixels) continue;
      // The slots a picture skipped get the picture before it again.
      if (haveFrame && !repeatUpTo(f.index - 1)) return false;
      ConvertToNv12(f.pixels->data(), width, height, nv12.data());
      if (!EncodeInput(video, nv12.data(), nv12.size(), f.index * kVideoFrameTicks, kVideoFrameTicks, sendVideo)) {
        *error = kLostText;
        return false;
      }
      haveFrame = true;
      lastEncoded = f.index;
      worked = true;
    }
    const auto due = static_cast<int64_t>(Live.audioFramesRead.load() * kLiveVideoFps / rateForDue);
    // The pictures come with the UI's frames, which may be fewer than the stream's: a slot the UI
    // left kLiveLateFrames behind gets the last picture again. The slots nearer than that stay the
    // UI's: a picture it queues now may carry an index up to one frame behind this pass's sound.
    const int64_t late = haveFrame && due - kLiveLateFrames > lastEncoded ? due - kLiveLateFrames : -1;
    const int64_t fill = due > lastEncoded && MonotonicMs() - lastFrameMs > kLiveFillAfterMs ? due : late;
    if (fill >= 0) {
      if (!haveFrame) {  // black: Y 16, U and V 128
        std::fill(nv12.begin(), nv12.begin() + static_cast<ptrdiff_t>(pixels), uint8_t{16});
        std::fill(nv12.begin() + static_cast<ptrdiff_t>(pixels), nv12.end(), uint8_t{128});
        haveFrame = true;
      }
      // A pass that comes late (a busy machine) fills every slot it missed, not only the newest.
      if (lastEncoded < 0) lastEncoded = fill - 1;
      if (!repeatUpTo(fill)) return false;
      {
        std::lock_guard<std::mutex> lock(Live.mutex);
        Live.lastFrameIndex = std::max(Live.lastFrameIndex, fill);
      }
      worked = true;
    }
    if (!PollServerMessages(publisher, error)) return false;
    if (!worked) SleepMs(kIdleSleepMs);
    if (Live.stop.load()) return true;
  }
}

void LiveVideoThread() {
  const int kbps = Live.height < 1080 ? kLiveVideoKbps720 : kLiveVideoKbps1080;
  while (!Live.stop.load()) {
    Live.state.store(kStreamConnecting);
    const int32_t masterRate = RunningOutputRate(Engine);
    const int32_t outRate = LiveAudioRate(masterRate);
    auto publisher = std::make_unique<Publisher>();
    publisher->streamId = 1;
    publisher->refused = false;
    publisher->bytesSent = &Live.bytesSent;
    {
      std::lock_guard<std::mutex> lock(Live.mutex);
      Live.publisher = publisher.get();
    }
    if (Live.stop.load()) StopConnection(*publisher);  // a stop between the loop test and here
    Encoder video, audio;
    std::wstring error;
    bool published = false;
    if (masterRate <= 0) {
      error = L"No audio output is running";
    } else if (OpenH264Encoder(video, Live.width, Live.height, kbps, error) && OpenAacEncoder(audio, outRate, error) &&
               RtmpPublish(*publisher, Live.url, Live.key, &error)) {
      published = true;
    }
    if (published) {
      SetStatus({});
      Live.audioRate.store(masterRate);
      Live.audioFramesRead.store(0);
      {
        std::lock_guard<std::mutex> lock(Live.mutex);
        Live.queue.clear();
        Live.lastFrameIndex = -1;
      }
      EnableLiveVideoTap(false);
      EnableLiveVideoTap(true);
      Live.state.store(kStreamOnAir);
      Live.startTick.store(MonotonicMs());
      Live.running.store(true);
      WriteLog(L"Live video: on air, {}x{} at {} kbit/s", Live.width, Live.height, kbps);
      Stream(*publisher, video, audio, masterRate, outRate, kbps, &error);
      Live.running.store(false);
      EnableLiveVideoTap(false);
      RtmpUnpublish(*publisher);
    }
    const bool refused = publisher->refused;
    {
      std::lock_guard<std::mutex> lock(Live.mutex);
      Live.publisher = nullptr;
    }
    publisher.reset();
    if (Live.stop.load()) break;
    SetStatus(error);
    WriteLog(L"Live video: {}", error);
    if (refused) {
      Live.state.store(kStreamOff);
      return;
    }
    Live.state.store(kStreamFailed);
    for (unsigned waited = 0; waited < kRetryWaitMs && !Live.stop.load(); waited += kRetryStepMs) SleepMs(kRetryStepMs);
  }
  Live.running.store(false);
  Live.state.store(kStreamOff);
}

}  // namespace

int32_t LiveVideoState() { return Live.state.load(); }

std::wstring LiveVideoServiceName(int32_t service) {
  const int32_t index = std::clamp<int32_t>(service, 0, kLiveVideoCustomService);
  return index == kLiveVideoCustomService ? Settings.LiveVideoUrl : kServiceNames[index];
}

std::wstring LiveVideoServiceAddress(int32_t service) {
  const int32_t index = std::clamp<int32_t>(service, 0, kLiveVideoCustomService);
  return index == kLiveVideoCustomService ? Settings.LiveVideoUrl : kServiceAddresses[index];
}

bool GoLiveVideo() {
  const int32_t service = std::clamp<int32_t>(Settings.Service, 0, kLiveVideoCustomService);
  LiveVideoConfig config{LiveVideoServiceAddress(service), Settings.Key[service], Settings.LiveVideoHeight};
  std::wstring error;
  if (!StartLiveVideo(config, &error)) {
    ShowStatus(error, kStatusMs);
    return false;
  }
  ShowStatus(L"Going live on " + LiveVideoServiceName(service) + L"\u2026", kStatusMs);
  return true;
}

bool StartLiveVideo(const LiveVideoConfig& config, std::wstring* error) {
  StopLiveVideo();
  RtmpUrl url;
  std::wstring why;
  if (!ParseRtmpUrl(config.address, &url, &why)) {
    if (error) *error = why;
    return false;
  }
  const std::wstring key = TrimSpace(config.key);
  if (key.empty()) {
    if (error) *error = kNoKeyText;
    return false;
  }
  Live.url = url;
  Live.key = WideToUtf8(key);
  Live.width = config.height >= 1080 ? 1920 : 1280;
  Live.height = config.height >= 1080 ? 1080 : 720;
  Live.bytesSent.store(0);
  Live.fillFrames.store(0);
  Live.stop.store(false);
  SetStatus({});
  Live.state.store(kStreamConnecting);
  Live.thread = std::thread(LiveVideoThread);
  return true;
}

int32_t StopLiveVideo() {
  const int32_t was = Live.state.load();
  Live.stop.store(true);
  {
    std::lock_guard<std::mutex> lock(Live.mutex);
    if (Live.publisher) StopConnection(*Live.publisher);
  }
  if (Live.thread.joinable()) Live.thread.join();
  Live.state.store(kStreamOff);
  Live.running.store(false);
  return was;
}

double LiveVideoSeconds() {
  if (Live.state.load() != kStreamOnAir) return 0.0;
  return static_cast<double>(MonotonicMs() - Live.startTick.load()) / 1000.0;
}

std::wstring LiveVideoStatusText() {
  std::lock_guard<std::mutex> lock(Live.mutex);
  return Live.status;
}

uint64_t LiveVideoBytesSent() { return Live.bytesSent.load(); }
uint64_t LiveVideoFillFrames() { return Live.fillFrames.load(); }

void CaptureLiveFrame() {
  if (!Live.running.load()) return;
  // Due by the sound that has reached the tap, all of which the worker sends, and the block being
  // mixed, which the decks already show: the worker's own count moves in jumps when it is busy,
  // which would stamp a later picture with an earlier frame's time.
  const int64_t rate = std::max<int32_t>(Live.audioRate.load(), 1);
  const auto dueNow = [rate] {
    const uint64_t mixing = static_cast<uint64_t>(Engine.mixingFrames.load());
    return static_cast<int64_t>((Engine.liveVideoRing.written.load() + mixing) * kLiveVideoFps / rate);
  };
  int64_t due = dueNow();
  {
    std::lock_guard<std::mutex> lock(Live.mutex);
    if (due <= Live.lastFrameIndex || Live.queue.size() >= kMaxQueuedLiveFrames) return;
  }
  // A renderer of its own, made on first use and kept for the process.
  static VideoRenderer renderer;
  Frame frame = TakePoolFrame(Live.pool);
  if (!RenderMixFrame(&renderer, Live.width, Live.height, *frame)) return;
  due = dueNow();  // the picture shows the mix as it is after rendering
  std::lock_guard<std::mutex> lock(Live.mutex);
  if (due <= Live.lastFrameIndex) return;
  Live.lastFrameIndex = due;
  Live.queue.push_back(LiveFrame{due, frame});
}
