// veldmix-tool stream / speedtest: the audio streamer and the connection speed test over the
// real engine, encoder and network code.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/text_parse.h"
#include "broadcast/audio_stream.h"
#include "broadcast/speed_test.h"
#include "engine/audio_file.h"
#include "engine/engine.h"
#include "engine/render.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "tools/veldmix-tool/commands.h"

namespace {

constexpr int32_t kToolPeriodFrames = 480;
constexpr int32_t kToolDefaultRate = 48000;
constexpr double kToolMaxSeconds = 3600.0;
constexpr unsigned kPollMs = 50;
constexpr unsigned kSpeedPollMs = 250;

constexpr const char kStreamHelp[] =
    "usage: veldmix-tool stream FILE.wav --host HOST --port PORT [--mount /live] [--shoutcast]\n"
    "                           [--user U] [--password X] [--name N] [--bitrate KBPS]\n"
    "                           [--title T] [--seconds N] [--rate HZ]\n"
    "Plays FILE.wav on deck A of the real engine (rendered period by period at real-time pace)\n"
    "and streams the mix as MP3 to an Icecast 2 server, or with --shoutcast to a Shoutcast v1\n"
    "server (login on PORT+1). --title is sent once the stream is on air. Runs for --seconds\n"
    "(default 10). Exits 0 when the stream stayed on air, 1 with the failure text on stderr.\n";

constexpr const char kSpeedHelp[] =
    "usage: veldmix-tool speedtest URL\n"
    "Runs the connection speed test against the service at URL (e.g. https://127.0.0.1:8443)\n"
    "and prints the latency and the download and upload rates, or the failure text (exit 1).\n";

int RunStream(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kStreamHelp, stdout);
    return 0;
  }
  std::string file, title;
  bool haveTitle = false;
  StreamConfig config;
  config.Host.clear();
  double seconds = 10.0, rate = kToolDefaultRate, port = 0, bitrate = config.Bitrate;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--shoutcast") {
      config.Type = 1;
    } else if (a.rfind("--", 0) == 0 && !hasValue) {
      std::fputs(kStreamHelp, stderr);
      return 2;
    } else if (a == "--host") {
      config.Host = Utf8ToWide(args[++i]);
    } else if (a == "--port") {
      if (!ParseNumber(args[++i], &port, 1, 65534)) return std::fputs("stream: bad --port\n", stderr), 2;
    } else if (a == "--mount") {
      config.Mount = Utf8ToWide(args[++i]);
    } else if (a == "--user") {
      config.User = Utf8ToWide(args[++i]);
    } else if (a == "--password") {
      config.Password = Utf8ToWide(args[++i]);
    } else if (a == "--name") {
      config.Name = Utf8ToWide(args[++i]);
    } else if (a == "--bitrate") {
      if (!ParseNumber(args[++i], &bitrate, 32, 320)) return std::fputs("stream: bad --bitrate\n", stderr), 2;
    } else if (a == "--title") {
      title = args[++i];
      haveTitle = true;
    } else if (a == "--seconds") {
      if (!ParseNumber(args[++i], &seconds, 0.1, kToolMaxSeconds)) return std::fputs("stream: bad --seconds\n", stderr), 2;
    } else if (a == "--rate") {
      if (!ParseNumber(args[++i], &rate, 8000, 192000)) return std::fputs("stream: bad --rate\n", stderr), 2;
    } else if (file.empty() && a.rfind("--", 0) != 0) {
      file = a;
    } else {
      std::fputs(kStreamHelp, stderr);
      return 2;
    }
  }
  if (file.empty() || config.Host.empty() || port == 0) {
    std::fputs(kStreamHelp, stderr);
    return 2;
  }
  config.Port = static_cast<int32_t>(port);
  config.Bitrate = static_cast<int32_t>(bitrate);

  std::wstring why;
  const TrackPtr track = DecodeFile(PathFromBytes(file), nullptr, &why, false);
  if (!track) {
    std::fprintf(stderr, "stream: %s: %s\n", file.c_str(), WideToUtf8(why).c_str());
    return 1;
  }
  const int32_t engineRate = static_cast<int32_t>(rate);
  PrepareRenderBuffers(Engine, kToolPeriodFrames, engineRate);
  {
    std::lock_guard<RealtimeMutex> guard(Engine.lock);
    Engine.decks[0].track = track;
    Engine.decks[0].position = 0.0;
    Engine.decks[0].playing = true;
  }
  PublishOutputStarted(Engine, engineRate);  // the paced render below stands in for the output
  std::atomic<bool> stopRender{false};
  std::thread render(RenderPaced, engineRate, std::cref(stopRender));

  StartLiveStream(Engine, config);
  const uint64_t startMs = MonotonicMs();
  const uint64_t endMs = startMs + static_cast<uint64_t>(seconds * 1000.0);
  int32_t shown = -1;
  bool titleSent = false, failed = false;
  while (MonotonicMs() < endMs) {
    const int32_t state = LiveStreamState();
    if (state != shown) {
      static const char* const kNames[] = {"off", "connecting", "on air", "failed"};
      std::fprintf(stderr, "stream: %s\n", kNames[state & 3]);
      shown = state;
    }
    if (state == kStreamFailed) {
      failed = true;
      break;
    }
    if (state == kStreamOnAir && haveTitle && !titleSent) {
      UpdateLiveStreamTitle(Utf8ToWide(title));
      titleSent = true;
    }
    SleepMs(kPollMs);
  }
  const int32_t finalState = LiveStreamState();
  const std::wstring error = EnglishText(LiveStreamError());
  const uint64_t stopStart = MonotonicMs();
  StopLiveStream();
  const uint64_t stopMs = MonotonicMs() - stopStart;
  stopRender.store(true);
  render.join();
  PublishOutputStopped(Engine);
  std::printf("bytes %llu\nstop_ms %llu\n", static_cast<unsigned long long>(LiveStreamBytes()),
              static_cast<unsigned long long>(stopMs));
  if (failed || finalState != kStreamOnAir) {
    std::fprintf(stderr, "stream: %s\n", WideToUtf8(error.empty() ? L"not on air" : error).c_str());
    return 1;
  }
  return 0;
}

int RunSpeedTest(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kSpeedHelp, args.size() == 1 ? stdout : stderr);
    return args.size() == 1 ? 0 : 2;
  }
  SpeedTest::SetServer(args[0]);
  SpeedTest::Start();
  SpeedTestResult r;
  do {
    SleepMs(kSpeedPollMs);
    r = SpeedTest::Snapshot();
  } while (r.phase >= kSpeedPhaseLatency && r.phase <= kSpeedPhaseUpload);
  if (r.phase != kSpeedPhaseDone) {
    std::fprintf(stderr, "speedtest: %s\n", WideToUtf8(r.message).c_str());
    return 1;
  }
  std::printf("latency_ms %.3f\ndownload_mbps %.3f\nupload_mbps %.3f\n", r.latencyMs,
              r.downloadMbps, r.uploadMbps);
  return 0;
}

}  // namespace

void RenderPaced(int32_t rate, const std::atomic<bool>& stop) {
  std::vector<float> out(static_cast<size_t>(kToolPeriodFrames) * 2);
  const double start = MonotonicSeconds();
  for (uint64_t period = 0; !stop.load(); ++period) {
    RenderMix(Engine, out.data(), kToolPeriodFrames, rate);
    const double due = start + static_cast<double>((period + 1) * kToolPeriodFrames) / rate;
    const double wait = due - MonotonicSeconds();
    if (wait > 0) SleepMs(static_cast<unsigned>(wait * 1000.0));
  }
}

const ToolCommand kStreamCommands[] = {
    {"stream", "FILE.wav --host H --port P [...]", "stream a WAV through the engine to Icecast/Shoutcast (stream --help)", RunStream},
    {"speedtest", "URL", "run the connection speed test against URL", RunSpeedTest},
};
const int kStreamCommandCount = static_cast<int>(sizeof kStreamCommands / sizeof kStreamCommands[0]);
