// veldmix-tool video-record / live-video: the MP4 beside a recording and live video over the real
// engine, capture, encoder threads, muxer and RTMP worker. Deck A plays a flash-and-beep track: a
// 30 ms 1 kHz beep every 41 video frames, and the picture turns white for two frames from where the
// deck reaches a beep, so sound and picture can be lined up in what comes out. Two, so that a
// picture a loaded machine skips does not take the whole flash with it.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "base/text_parse.h"
#include "broadcast/audio_stream.h"
#include "broadcast/live_video.h"
#include "broadcast/video_record.h"
#include "engine/engine.h"
#include "engine/render.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "tools/veldmix-tool/commands.h"

namespace {

constexpr int32_t kToolPeriodFrames = 480;
constexpr double kMaxSeconds = 3600.0;
constexpr double kFirstFlash = 0.5;             // seconds
constexpr double kFlashPeriod = 41.0 / 30.0;    // seconds: every 41 frames
constexpr double kBeepSeconds = 0.030;
constexpr double kBeepHz = 1000.0;
constexpr float kBeepLevel = 0.5f;
constexpr unsigned kUiTickMs = 4;               // the UI loop's stand-in ticks often: captures come when due
constexpr uint32_t kDark = 0xFF202020, kWhite = 0xFFFFFFFF;

constexpr const char kRecordHelp[] =
    "usage: veldmix-tool video-record OUT.mp4 --seconds N [--height 720|1080] [--rate HZ]\n"
    "                                 [--stall-at S --stall-ms MS]\n"
    "Plays the flash-and-beep track on deck A of the real engine at real-time pace (master rate HZ,\n"
    "default 48000) and records the video mix beside it as the MP4 recorder does, for N seconds;\n"
    "--stall-at freezes the UI loop for MS milliseconds at S seconds. Prints the frames the picture\n"
    "source drew, how long StopVideoRecording held the caller and the seconds of sound recorded\n"
    "(what the tap still held at the stop included). Exits 1 when it won't start.\n";
constexpr const char kLiveHelp[] =
    "usage: veldmix-tool live-video URL KEY --seconds N [--height 720|1080] [--rate HZ] [--no-frames]\n"
    "                               [--ui-fps F]\n"
    "Plays the flash-and-beep track on deck A and sends the master mix and the video mix live to the\n"
    "RTMP(S) server at URL under KEY for N seconds (the worker retries as the program's does), then\n"
    "stops. --no-frames captures no picture: the stream fills in black frames; --ui-fps captures at\n"
    "most F pictures a second, as a UI that draws slowly would. Prints each state\n"
    "with its time, then bytes, fill frames and how long the stop took. Exits 0 when it ended on air.\n";

struct Options {
  std::vector<std::string> positional;
  double seconds = 10.0, rate = 48000.0, stallAt = -1.0, stallMs = 0.0, uiFps = 0.0;
  int height = 720;
  bool noFrames = false;
};

bool Parse(const std::vector<std::string>& args, Options* o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool value = i + 1 < args.size();
    double v = 0;
    if (a == "--no-frames") {
      o->noFrames = true;
    } else if (a == "--seconds" && value && ParseNumber(args[i + 1], &v, 0.1, kMaxSeconds)) {
      o->seconds = v, ++i;
    } else if (a == "--rate" && value && ParseNumber(args[i + 1], &v, 8000, 192000)) {
      o->rate = v, ++i;
    } else if (a == "--height" && value && (args[i + 1] == "720" || args[i + 1] == "1080")) {
      o->height = args[++i] == "720" ? 720 : 1080;
    } else if (a == "--stall-at" && value && ParseNumber(args[i + 1], &v, 0, kMaxSeconds)) {
      o->stallAt = v, ++i;
    } else if (a == "--stall-ms" && value && ParseNumber(args[i + 1], &v, 0, 60000)) {
      o->stallMs = v, ++i;
    } else if (a == "--ui-fps" && value && ParseNumber(args[i + 1], &v, 1, 1000)) {
      o->uiFps = v, ++i;
    } else if (a.rfind("--", 0) != 0) {
      o->positional.push_back(a);
    } else {
      return false;
    }
  }
  return true;
}

int32_t ToolRate = 48000;
std::atomic<uint64_t> PicturesDrawn{0};

bool InFlash(double seconds) {
  if (seconds < kFirstFlash) return false;
  const double since = std::fmod(seconds - kFirstFlash, kFlashPeriod);
  return since < 2.0 / 30.0;
}

// The picture for deck A's place: white during a flash, dark otherwise.
bool DrawFlashPicture(int width, int height, std::vector<uint32_t>& pixels) {
  double position = 0;
  {
    std::lock_guard<RealtimeMutex> guard(Engine.lock);
    position = Engine.decks[0].position;
  }
  pixels.assign(static_cast<size_t>(width) * height, InFlash(position / ToolRate) ? kWhite : kDark);
  PicturesDrawn.fetch_add(1);
  return true;
}

TrackPtr FlashBeepTrack(int32_t rate, double seconds) {
  auto track = std::make_shared<Track>();
  track->path = L"flash-beep";
  track->sampleRate = rate;
  track->frames = static_cast<uint64_t>(seconds * rate);
  track->samples.assign(track->frames * 2, 0.0f);
  const auto beepFrames = static_cast<uint64_t>(kBeepSeconds * rate);
  for (double t = kFirstFlash; t < seconds; t += kFlashPeriod) {
    const auto start = static_cast<uint64_t>(std::llround(t * rate));
    for (uint64_t i = 0; i < beepFrames && start + i < track->frames; ++i) {
      const float v = kBeepLevel * static_cast<float>(std::sin(2 * std::numbers::pi * kBeepHz * i / rate));
      track->samples[2 * (start + i)] = track->samples[2 * (start + i) + 1] = v;
    }
  }
  return track;
}

// Deck A playing the track, rendered at real-time pace on a thread of its own.
class PacedEngine {
 public:
  PacedEngine(int32_t rate, double seconds) : rate_(rate) {
    ToolRate = rate;
    PrepareRenderBuffers(Engine, kToolPeriodFrames, rate);
    {
      std::lock_guard<RealtimeMutex> guard(Engine.lock);
      Engine.decks[0].track = FlashBeepTrack(rate, seconds + 5.0);
      Engine.decks[0].position = 0.0;
      Engine.decks[0].playing = true;
    }
    PublishOutputStarted(Engine, rate);
    render_ = std::thread(RenderPaced, rate, std::cref(stop_));
  }
  ~PacedEngine() {
    stop_.store(true);
    render_.join();
    PublishOutputStopped(Engine);
  }

 private:
  int32_t rate_;
  std::atomic<bool> stop_{false};
  std::thread render_;
};

int RunVideoRecord(const std::vector<std::string>& args) {
  Options o;
  if (!Parse(args, &o) || o.positional.size() != 1) {
    std::fputs(kRecordHelp, stderr);
    return 2;
  }
  SetVideoMixSource(DrawFlashPicture);
  PacedEngine engine(static_cast<int32_t>(o.rate), o.seconds);
  UiText error;
  if (!StartVideoRecording(PathFromBytes(o.positional[0]), o.height, &error)) {
    std::fprintf(stderr, "video-record: %s\n", WideToUtf8(EnglishText(error)).c_str());
    return 1;
  }
  bool stalled = false;
  while (VideoRecordingSeconds() < o.seconds) {
    if (!stalled && o.stallAt >= 0 && VideoRecordingSeconds() >= o.stallAt) {
      SleepMs(static_cast<unsigned>(o.stallMs));
      stalled = true;
    }
    CaptureRecordFrame();
    SleepMs(kUiTickMs);
  }
  const double stopStart = MonotonicSeconds();
  StopVideoRecording();
  const double stopWait = MonotonicSeconds() - stopStart;
  WaitForVideoRecording();
  std::printf("pictures %llu\nstop_wait_ms %.3f\nrecorded_seconds %.4f\n",
              static_cast<unsigned long long>(PicturesDrawn.load()), stopWait * 1000.0, VideoRecordingSeconds());
  return 0;
}

int RunLiveVideo(const std::vector<std::string>& args) {
  Options o;
  if (!Parse(args, &o) || o.positional.size() != 2) {
    std::fputs(kLiveHelp, stderr);
    return 2;
  }
  SetVideoMixSource(DrawFlashPicture);
  PacedEngine engine(static_cast<int32_t>(o.rate), o.seconds);
  std::wstring error;
  const LiveVideoConfig config{Utf8ToWide(o.positional[0]), Utf8ToWide(o.positional[1]), o.height};
  if (!StartLiveVideo(config, &error)) {
    std::fprintf(stderr, "live-video: %s\n", WideToUtf8(error).c_str());
    return 1;
  }
  static const char* const kNames[] = {"off", "connecting", "on air", "failed"};
  const double start = MonotonicSeconds();
  int32_t shown = -1;
  double lastCapture = -1.0;
  while (MonotonicSeconds() - start < o.seconds) {
    const int32_t state = LiveVideoState();
    if (state != shown) {
      std::printf("state %s %.2f\n", kNames[state & 3], MonotonicSeconds() - start);
      std::fflush(stdout);
      shown = state;
    }
    if (state == kStreamOff) break;  // refused: no retry
    const double now = MonotonicSeconds();
    if (!o.noFrames && (o.uiFps <= 0.0 || lastCapture < 0.0 || now - lastCapture >= 1.0 / o.uiFps)) {
      CaptureLiveFrame();
      lastCapture = now;
    }
    SleepMs(kUiTickMs);
  }
  const int32_t finalState = LiveVideoState();
  const std::wstring status = LiveVideoStatusText();
  const double stopStart = MonotonicSeconds();
  StopLiveVideo();
  std::printf("bytes %llu\nfill_frames %llu\nstop_ms %.1f\n", static_cast<unsigned long long>(LiveVideoBytesSent()),
              static_cast<unsigned long long>(LiveVideoFillFrames()), (MonotonicSeconds() - stopStart) * 1000.0);
  if (!status.empty()) std::fprintf(stderr, "live-video: %s\n", WideToUtf8(status).c_str());
  return finalState == kStreamOnAir ? 0 : 1;
}

}  // namespace

const ToolCommand kVideoRecordCommands[] = {
    {"video-record", "OUT.mp4 --seconds N [--height 720|1080] [--rate HZ] [--stall-at S --stall-ms MS]",
     "record the MP4 of a flash-and-beep mix through the real video recorder", RunVideoRecord},
    {"live-video", "URL KEY --seconds N [--height 720|1080] [--rate HZ] [--no-frames]",
     "send a flash-and-beep mix live over RTMP(S) through the real live-video worker", RunLiveVideo},
};
const int kVideoRecordCommandCount = static_cast<int>(sizeof kVideoRecordCommands / sizeof kVideoRecordCommands[0]);
