// veldmix-tool publish / rtmp-server / rtmp-handshake: the RTMP publishing client with the real
// live-video encoders, the loopback test server, and the TLS-and-RTMP handshake check.
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "base/text_parse.h"
#include "broadcast/rtmp_publisher.h"
#include "broadcast/rtmp_test_server.h"
#include "broadcast/video_encoders.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "tools/veldmix-tool/commands.h"

namespace {

constexpr double kMaxSeconds = 3600.0;
constexpr int kAudioRate = 48000;          // Hz, the output rate of the stream
constexpr int kAudioBlockFrames = 1024;    // stereo frames per encoder input, as the stream loop
constexpr double kToneHz = 440.0;
constexpr double kToneAmplitude = 0.25;
constexpr int kKbps720 = 3500;
constexpr int kKbps1080 = 6000;
constexpr unsigned kIdleSleepMs = 3;
constexpr unsigned kServerPollMs = 50;
constexpr int kPatternBarCount = 8;
constexpr int kPatternBoxSize = 120;       // pixels
constexpr int kPatternPixelsPerFrame = 8;  // how far the pattern moves each frame

constexpr const char kPublishHelp[] =
    "usage: veldmix-tool publish URL KEY [--seconds N] [--height 720|1080]\n"
    "Publishes a moving test pattern and a 440 Hz tone, encoded by the live-video encoders, to the\n"
    "RTMP(S) server at URL under the stream KEY, at real-time pace for N seconds (default 10).\n"
    "Exits 0 when the whole stream went out, 1 with the failure text on stderr.\n";
constexpr const char kServerHelp[] =
    "usage: veldmix-tool rtmp-server PORT [--seconds N]\n"
    "Runs the loopback RTMP test server on 127.0.0.1:PORT (0: a free port, printed first) until a\n"
    "client has come and gone or N seconds (default 30) passed, then prints its findings.\n";
constexpr const char kHandshakeHelp[] =
    "usage: veldmix-tool rtmp-handshake URL\n"
    "Runs the TLS (rtmps) and RTMP handshakes against URL and prints 1, 0 or -1; the message goes\n"
    "to stderr. Exits 0 only for 1.\n";

// Reads "--seconds N" and "--height H" after `positional` leading arguments.
bool ParseOptions(const std::vector<std::string>& args, size_t positional, double* seconds, int* height) {
  if (args.size() < positional) return false;
  for (size_t i = positional; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return false;
    double v = 0;
    if (args[i] == "--seconds" && ParseNumber(args[i + 1], &v, 0.1, kMaxSeconds)) {
      *seconds = v;
    } else if (args[i] == "--height" && height && (args[i + 1] == "720" || args[i + 1] == "1080")) {
      *height = args[i + 1] == "720" ? 720 : 1080;
    } else {
      return false;
    }
  }
  return true;
}

// Colour bars scrolling left with a white box bouncing along the diagonal.
void DrawTestPattern(std::vector<uint32_t>& pixels, int width, int height, int64_t frame) {
  static constexpr uint32_t kBars[kPatternBarCount] = {0xFFFFFFFF, 0xFFFFFF00, 0xFF00FFFF, 0xFF00FF00,
                                                       0xFFFF00FF, 0xFFFF0000, 0xFF0000FF, 0xFF101010};
  const int barWidth = width / kPatternBarCount;
  const int64_t shift = frame * kPatternPixelsPerFrame;
  for (int y = 0; y < height; ++y) {
    uint32_t* row = &pixels[static_cast<size_t>(y) * width];
    for (int x = 0; x < width; ++x) row[x] = kBars[((x + shift) / barWidth) % kPatternBarCount];
  }
  const int travelX = width - kPatternBoxSize, travelY = height - kPatternBoxSize;
  const int64_t stepX = shift % (2 * travelX), stepY = shift % (2 * travelY);
  const int bx = static_cast<int>(stepX < travelX ? stepX : 2 * travelX - stepX);
  const int by = static_cast<int>(stepY < travelY ? stepY : 2 * travelY - stepY);
  for (int y = by; y < by + kPatternBoxSize; ++y)
    for (int x = bx; x < bx + kPatternBoxSize; ++x) pixels[static_cast<size_t>(y) * width + x] = 0xFFFFFFFF;
}

int Fail(const std::wstring& message) {
  std::fprintf(stderr, "veldmix-tool publish: %s\n", WideToUtf8(message).c_str());
  return 1;
}

int RunPublish(const std::vector<std::string>& args) {
  double seconds = 10;
  int height = 720;
  if (args.size() < 2 || !ParseOptions(args, 2, &seconds, &height)) {
    std::fputs(kPublishHelp, stderr);
    return 2;
  }
  RtmpUrl url;
  std::wstring error;
  if (!ParseRtmpUrl(Utf8ToWide(args[0]), &url, &error)) return Fail(error);
  const std::string key = WideToUtf8(TrimSpace(Utf8ToWide(args[1])));
  if (key.empty()) return Fail(L"Paste your stream key first (the service's live dashboard shows it)");
  const int width = height >= 1080 ? 1920 : 1280;
  height = height >= 1080 ? 1080 : 720;
  const int kbps = height >= 1080 ? kKbps1080 : kKbps720;

  Encoder video, audio;
  if (!OpenH264Encoder(video, width, height, kbps, error) || !OpenAacEncoder(audio, kAudioRate, error))
    return Fail(error);
  std::atomic<uint64_t> bytesSent{0};
  Publisher publisher;
  publisher.bytesSent = &bytesSent;
  publisher.streamId = 1;
  if (!RtmpPublish(publisher, url, key, &error)) return Fail(error);
  const std::wstring lost = L"Lost the connection to the server";
  if (!SendStreamMetadata(publisher, width, height, kbps, kAudioRate) ||
      !SendAacSequenceHeader(publisher, kAudioRate))
    return Fail(lost);

  VideoTagState videoTags;
  std::vector<uint8_t> audioBody;
  const SampleCallback sendVideo = [&](const EncodedSample& s) { return SendFlvSample(publisher, videoTags, s); };
  const SampleCallback sendAudio = [&](const EncodedSample& s) { return SendAacSample(publisher, audioBody, s); };
  const int64_t totalAudio = static_cast<int64_t>(std::llround(seconds * kAudioRate));
  const int64_t totalVideo = totalAudio * kLiveVideoFps / kAudioRate;
  std::vector<uint32_t> bgra(static_cast<size_t>(width) * height);
  std::vector<uint8_t> nv12(Nv12Size(width, height));
  std::vector<int16_t> pcm(kAudioBlockFrames * 2);
  int64_t audioFrames = 0, videoFrames = 0;
  const double start = MonotonicSeconds();
  while (audioFrames < totalAudio || videoFrames < totalVideo) {
    bool worked = false;
    // Audio is the clock: whole blocks as real time reaches them.
    const double elapsed = MonotonicSeconds() - start;
    while (audioFrames < totalAudio && static_cast<double>(audioFrames) <= elapsed * kAudioRate) {
      const int n = static_cast<int>(std::min<int64_t>(kAudioBlockFrames, totalAudio - audioFrames));
      for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(audioFrames + i) / kAudioRate;
        const auto v = static_cast<int16_t>(std::lround(kToneAmplitude * 32767.0 * std::sin(2 * std::numbers::pi * kToneHz * t)));
        pcm[2 * i] = pcm[2 * i + 1] = v;
      }
      const int64_t time = audioFrames * kTicksPerSecond / kAudioRate;
      const int64_t duration = n * kTicksPerSecond / kAudioRate;
      if (!EncodeInput(audio, reinterpret_cast<const uint8_t*>(pcm.data()), static_cast<size_t>(n) * 4, time,
                       duration, sendAudio))
        return Fail(lost);
      audioFrames += n;
      worked = true;
    }
    // Video follows the audio sent: frame k is due once k/30 s of sound has gone out.
    const int64_t due = audioFrames * kLiveVideoFps / kAudioRate;
    while (videoFrames < totalVideo && videoFrames <= due) {
      DrawTestPattern(bgra, width, height, videoFrames);
      ConvertToNv12(bgra.data(), width, height, nv12.data());
      if (!EncodeInput(video, nv12.data(), nv12.size(), videoFrames * kVideoFrameTicks, kVideoFrameTicks, sendVideo))
        return Fail(lost);
      ++videoFrames;
      worked = true;
    }
    if (!PollServerMessages(publisher, &error)) return Fail(error);
    if (!worked) SleepMs(kIdleSleepMs);
  }
  if (!DrainOutputs(video, sendVideo) || !DrainOutputs(audio, sendAudio)) return Fail(lost);
  RtmpUnpublish(publisher);
  std::printf("published %lld video frames and %lld audio frames (%.1f s) in %llu bytes\n",
              static_cast<long long>(videoFrames), static_cast<long long>(audioFrames),
              static_cast<double>(audioFrames) / kAudioRate, static_cast<unsigned long long>(bytesSent.load()));
  return 0;
}

int RunRtmpServer(const std::vector<std::string>& args) {
  double seconds = 30, port = 0;
  if (args.empty() || !ParseNumber(args[0], &port, 0, 65535) || !ParseOptions(args, 1, &seconds, nullptr)) {
    std::fputs(kServerHelp, stderr);
    return 2;
  }
  int bound = 0;
  if (!StartTestRtmpServer(&bound, static_cast<int>(port))) {
    std::fprintf(stderr, "veldmix-tool rtmp-server: cannot listen on 127.0.0.1:%d\n", static_cast<int>(port));
    return 1;
  }
  std::printf("listening on 127.0.0.1:%d\n", bound);
  std::fflush(stdout);
  const uint64_t end = MonotonicMs() + static_cast<uint64_t>(seconds * 1000);
  while (MonotonicMs() < end && !TestRtmpServerFinished()) SleepMs(kServerPollMs);
  StopTestRtmpServer();
  const TestRtmpServerStats s = TestRtmpServerStatsCopy();
  std::printf(
      "published=%d\napp=%s\nstreamName=%s\nmetadataSeen=%d\nwidth=%d\nheight=%d\navcHeaderSeen=%d\n"
      "aacHeaderSeen=%d\nvideoFrames=%d\nkeyframes=%d\naudioFrames=%d\nerrors=%d\nlastVideoTime=%u\n"
      "lastAudioTime=%u\nvideoTimesRise=%d\naudioTimesRise=%d\npongSeen=%d\nendReason=%s\n",
      s.published, s.app.c_str(), s.streamName.c_str(), s.metadataSeen, s.width, s.height, s.avcHeaderSeen,
      s.aacHeaderSeen, s.videoFrames, s.keyframes, s.audioFrames, s.errors, s.lastVideoTime, s.lastAudioTime,
      s.videoTimesRise, s.audioTimesRise, s.pongSeen, WideToUtf8(TestRtmpServerEndReason()).c_str());
  return 0;
}

int RunRtmpHandshake(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fputs(kHandshakeHelp, stderr);
    return 2;
  }
  std::wstring message;
  const int result = TestRtmpHandshake(Utf8ToWide(args[0]), &message);
  std::printf("%d\n", result);
  std::fprintf(stderr, "%s\n", WideToUtf8(message).c_str());
  return result == 1 ? 0 : 1;
}

}  // namespace

const ToolCommand kPublishCommands[] = {
    {"publish", "URL KEY [--seconds N] [--height 720|1080]",
     "publish a test pattern and tone over RTMP(S) with the live-video encoders", RunPublish},
    {"rtmp-server", "PORT [--seconds N]", "run the loopback RTMP test server and print its findings",
     RunRtmpServer},
    {"rtmp-handshake", "URL", "TLS and RTMP handshake check: prints 1, 0 or -1", RunRtmpHandshake},
};
const int kPublishCommandCount = static_cast<int>(sizeof kPublishCommands / sizeof kPublishCommands[0]);
