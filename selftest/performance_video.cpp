// The picture half of the performance suite: the video window and an MP4 of the mix played back
// on deck B, every transition and effect drawn, and live video to the loopback RTMP server at
// 720p and 1080p, judged by what that server received. Ends with a TLS handshake to the ingest.
#include <fmt/xchar.h>

#include <cmath>
#include <memory>
#include <mutex>

#include "base/settings.h"
#include "broadcast/live_video.h"
#include "broadcast/rtmp_test_server.h"
#include "broadcast/video_encoders.h"
#include "broadcast/video_feed.h"
#include "broadcast/video_record.h"
#include "broadcast/video_window.h"
#include "control/action_table.h"
#include "engine/deck_commands.h"
#include "engine/deck_view.h"
#include "engine/mixer_controls.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/second_window.h"
#include "platform/text.h"
#include "platform/video_reader.h"
#include "selftest/performance_steps.h"
#include "selftest/selftest_state.h"
#include "selftest/window_capture.h"

namespace FeatureTest {
namespace {

constexpr int kDeckB = 1;
constexpr int32_t kRecordHeight = 720;
constexpr long long kSmallestRecording = 20000;  // bytes
constexpr double kVideoSeconds = 3.5, kVideoTolerance = 0.8;
constexpr int kTransitions = 6, kEffects = 9;
// Live video draws, converts and encodes each picture beside the sound: a machine whose encoder
// alone makes fewer pictures a second than this cannot keep a stream of that size at 30.
constexpr double kLiveEncodeNeeded = 45.0;
constexpr int kMeasuredPictures = 30;
// A reserved name: nothing may be looked up, and nothing would be found.
constexpr wchar_t kUnreachableServer[] = L"stream.example.invalid";
constexpr wchar_t kStreamKey[] = L"mock-tag";

std::wstring RecordedVideo;
double RecordedSeconds = 0.0;  // the sound the recording took, by its own count
TestRtmpServerStats RtmpTestCapture;
double LiveEncodeRate = 0.0;  // pictures a second this machine's encoder made at the stream's size
int DrawnCombinations = 0;

// The video window itself, at its own size, drawn by its own paint.
bool CaptureVideoScreen() {
  SecondWindow* window = VideoScreenWindow();
  int width = 0, height = 0;
  SecondWindowClientSize(window, &width, &height);
  std::wstring error;
  const bool written = CaptureWindowPng(window, OutputFile(L"video-screen.png"), &error);
  SelfTestResults += written ? fmt::format(L"      ({}x{})\n", width, height) : L"      (" + error + L")\n";
  return written;
}

bool HoldsVideoStream(const std::wstring& path) {
  VideoReaderInfo info;
  return OpenVideoReader(path, &info) != nullptr && info.width > 0 && info.height > 0;
}

void RecordVideo() {
  DeckAPlays();
  MoveCrossfader(0.0f);
  Settings.Transition = 0;
  Settings.Effect = 0;
  if (!IsVideoWindowOpen()) ToggleVideoWindow();
  RecordedVideo = OutputFile(L"video-test.mp4");
  UiText error;
  if (!StartVideoRecording(RecordedVideo, kRecordHeight, &error))
    SelfTestResults += L"      (" + EnglishText(error) + L")\n";
}

// The file once its encoder has finished it, judged by the sound it took rather than by the
// step's length: a loaded machine runs the step late and finishes the file late.
bool RecordingHolds() {
  WaitForVideoRecording();
  RecordedSeconds = VideoRecordingSeconds();
  const long long bytes = FileSize(RecordedVideo);
  SelfTestResults += fmt::format(L"      ({} KB, {:.2f} s of sound)\n", bytes > 0 ? bytes / 1024 : 0, RecordedSeconds);
  return bytes > kSmallestRecording && HoldsVideoStream(RecordedVideo) &&
         RecordedSeconds >= kVideoSeconds - kVideoTolerance;
}

void PlayOnDeckB() {
  bool start = false;
  {
    std::lock_guard<RealtimeMutex> hold(Engine.lock);
    DeckState& deck = Engine.decks[kDeckB];
    start = deck.track && SetDeckPosition(kDeckB, 0.3 * deck.track->sampleRate) && !deck.playing;
  }
  if (start) ClickDeckAction(kDeckB, kPlayOffset);
  MoveCrossfader(1.0f);
}

bool DeckBPlaysTheVideo() {
  double length = 0.0;
  {
    std::lock_guard<RealtimeMutex> hold(Engine.lock);
    const TrackPtr& track = Engine.decks[kDeckB].track;
    if (track && track->sampleRate > 0) length = static_cast<double>(track->frames) / track->sampleRate;
  }
  SelfTestResults += fmt::format(L"      ({:f} s)\n", length);
  const VideoDeck& side = VideoDecks[1];
  return side.hasVideo && !side.frame.empty() && std::fabs(length - RecordedSeconds) <= kVideoTolerance;
}

// Every transition with every effect: the video window redrawn and shown at once for each.
void DrawEveryCombination() {
  DrawnCombinations = 0;
  for (int t = 0; t < kTransitions; ++t) {
    for (int e = 0; e < kEffects; ++e) {
      Settings.Transition = t;
      Settings.Effect = e;
      UpdateVideoFeed();  // the window draws the published feed, which carries both
      if (RedrawSecondWindowNow(VideoScreenWindow())) ++DrawnCombinations;
    }
  }
  Settings.Transition = 0;
  Settings.Effect = 0;
}

bool BadSettingsCaught() {
  std::wstring httpError, blankKeyError;
  const bool http = StartLiveVideo({fmt::format(L"http://{}/live", kUnreachableServer), L"k", 720}, &httpError);
  const bool blank = StartLiveVideo({fmt::format(L"rtmp://{}/live", kUnreachableServer), L"  ", 720}, &blankKeyError);
  if (http || blank) StopLiveVideo();
  return !http && !blank && !httpError.empty() && !blankKeyError.empty();
}

// Pictures a second the live stream's encoder makes here at this height, on two pictures taken in
// turn (so every one differs from the one before); 0 when it will not open.
double MeasureLiveEncodeRate(int32_t height) {
  Encoder encoder;
  std::wstring error;
  const int width = height * 16 / 9;
  if (!OpenH264Encoder(encoder, width, height, height < 1080 ? kLiveVideoKbps720 : kLiveVideoKbps1080, error))
    return 0.0;
  std::vector<uint8_t> pictures[2];
  for (int k = 0; k < 2; ++k) {
    pictures[k].assign(Nv12Size(width, height), 128);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i)
      pictures[k][i] = static_cast<uint8_t>(((i % width) * (3 + k) + (i / width) * (5 - k)) ^ (i * 2654435761u >> 27));
  }
  const SampleCallback drop = [](const EncodedSample&) { return true; };
  const double start = MonotonicSeconds();
  int made = 0;
  while (made < kMeasuredPictures) {
    const std::vector<uint8_t>& picture = pictures[made % 2];
    if (!EncodeInput(encoder, picture.data(), picture.size(), made * kVideoFrameTicks, kVideoFrameTicks, drop)) break;
    ++made;
  }
  const double seconds = MonotonicSeconds() - start;
  return made == kMeasuredPictures && seconds > 0.0 ? made / seconds : 0.0;
}

void StreamTo(int32_t height) {
  DeckAPlays();
  MoveCrossfader(0.5f);
  int port = 0;
  if (!StartTestRtmpServer(&port)) {
    SelfTestResults += L"      (couldn't start: the loopback RTMP server would not listen)\n";
    return;
  }
  std::wstring error;
  if (!StartLiveVideo({fmt::format(L"rtmp://127.0.0.1:{}/live", port), kStreamKey, height}, &error))
    SelfTestResults += L"      (couldn't start: " + error + L")\n";
}

bool OnAir() {
  const bool onAir = LiveVideoState() == 2;
  if (!onAir) SelfTestResults += L"      (" + LiveVideoStatusText() + L")\n";
  StopLiveVideo();
  StopTestRtmpServer();
  RtmpTestCapture = TestRtmpServerStatsCopy();
  const TestRtmpServerStats& c = RtmpTestCapture;
  SelfTestResults += fmt::format(
      L"      ({} / {}, {}x{}, {} video tags ({} key), {} audio tags, {} bad, last video {} ms, audio {} ms)\n",
      Utf8ToWide(c.app), Utf8ToWide(c.streamName), c.width, c.height, c.videoFrames, c.keyframes, c.audioFrames,
      c.errors, c.lastVideoTime, c.lastAudioTime);
  return onAir;
}

bool StreamDelivered(double seconds) {
  const TestRtmpServerStats& c = RtmpTestCapture;
  const double carried = c.lastAudioTime / 1000.0;
  const double picturesNeeded = carried * 30 * 0.6;
  const int keysNeeded = static_cast<int>(carried * 0.5);
  SelfTestResults += fmt::format(L"      ({:.2f} s of sound in {} s, {} pictures for more than {:.1f}, {} key for {}; "
                                 L"the encoder alone makes {:.0f} pictures a second here)\n",
                                 carried, seconds, c.videoFrames, picturesNeeded, c.keyframes, keysNeeded,
                                 LiveEncodeRate);
  const bool wellFormed = c.errors == 0 && c.videoTimesRise && c.audioTimesRise && c.audioFrames > carried * 40;
  const bool paced = carried > seconds * 0.5 && c.videoFrames > picturesNeeded && c.keyframes >= 1 &&
                     c.keyframes >= keysNeeded;
  if (wellFormed && paced) return true;
  if (wellFormed && LiveEncodeRate < kLiveEncodeNeeded) {
    SelfTestResults += fmt::format(L"      (skipped the pace: the encoder makes {:.0f} a second here, under the {:.0f} "
                                   L"it needs)\n",
                                   LiveEncodeRate, kLiveEncodeNeeded);
    Run.skipped = true;
  }
  return false;
}

void AddStream(std::vector<TimedStep>& steps, int32_t height, double seconds) {
  const std::wstring live = fmt::format(L"live video {}p", height);
  // A step of its own, so that the measuring takes none of the stream's time.
  steps.push_back({L"(" + live + L": measure the encoder)", [height] { LiveEncodeRate = MeasureLiveEncodeRate(height); },
                   0.0, [] { return true; }});
  steps.push_back({L"(" + live + L": stream to a local RTMP server)", [height] { StreamTo(height); }, seconds,
                   [] { return true; }});
  steps.push_back({live + L": on air", [] {}, 0.0, OnAir});
  steps.push_back({live + L": published to the right app with the key", [] {}, 0.0,
                   [] { return RtmpTestCapture.app == "live" && RtmpTestCapture.streamName == "mock-tag"; }});
  steps.push_back({live + L": metadata, H.264 and AAC headers", [] {}, 0.0, [height] {
                     const TestRtmpServerStats& c = RtmpTestCapture;
                     return c.metadataSeen && c.height == height && c.width == height * 16 / 9 && c.avcHeaderSeen &&
                            c.aacHeaderSeen;
                   }});
  // The stream's clock is its sound, so the pictures are counted against the sound it carried.
  // What the server received is judged whatever the encoder's rate; a stream that falls short only
  // in pace, from a machine whose encoder is too slow for this size, is skipped with that rate.
  steps.push_back({live + L": pictures (keyframes every 2 s) and sound, well-formed, in order", [] {}, 0.0,
                   [seconds] { return StreamDelivered(seconds); }});
  steps.push_back({live + L": picture and sound together, pings answered", [] {}, 0.0, [] {
                     const TestRtmpServerStats& c = RtmpTestCapture;
                     const double apart = std::fabs(static_cast<double>(c.lastVideoTime) - c.lastAudioTime);
                     if (!c.pongSeen) return false;
                     if (apart >= 400.0 && LiveEncodeRate < kLiveEncodeNeeded) {
                       SelfTestResults += fmt::format(L"      (skipped: pictures {:.0f} ms behind the sound, the encoder "
                                                      L"alone making {:.0f} a second here)\n",
                                                      apart, LiveEncodeRate);
                       Run.skipped = true;
                       return false;
                     }
                     return apart < 400.0;
                   }});
}

}  // namespace

void AddPictureSteps(std::vector<TimedStep>& steps) {
  steps.push_back({L"(video: open the screen, record the mix)", RecordVideo, 3.5, [] { return true; }});
  steps.push_back({L"video: the screen is open", [] {}, 0.1, IsVideoWindowOpen});
  steps.push_back({L"video: the mix recorded as an MP4 (H.264 + AAC)", StopVideoRecording, 0.5, RecordingHolds});
  steps.push_back({L"(load it onto deck B)", [] { LoadTrack(kDeckB, RecordedVideo); }, 3.0, [] { return true; }});
  steps.push_back({L"video: the MP4 plays on deck B as a video (as long as the sound recorded)", PlayOnDeckB, 1.5,
                   DeckBPlaysTheVideo});
  steps.push_back({L"video: screen mid-WIPE with RGB SPLIT (video-screen.png)",
                   [] {
                     Settings.Transition = kTransitionWipe;
                     Settings.Effect = kEffectRgbSplit;
                     MoveCrossfader(0.5f);
                   },
                   0.6, CaptureVideoScreen});
  steps.push_back({L"video: every transition and effect draws", DrawEveryCombination, 0.3,
                   [] { return IsVideoWindowOpen() && DrawnCombinations == kTransitions * kEffects; }});
  steps.push_back({L"live video: bad settings are caught before connecting", [] {}, 0.0, BadSettingsCaught});
  AddStream(steps, 720, 5.0);
  AddStream(steps, 1080, 2.5);

  const std::wstring handshake = L"live video: RTMPS to YouTube's ingest (TLS, certificate checked; no stream sent)";
  steps.push_back({handshake, [] {}, 0.0, [] {
                     std::wstring message;
                     const int result = TestRtmpHandshake(IngestAddress(), &message);
                     if (result < 0) {
                       // Offline: nothing was judged, so nothing passes.
                       SelfTestResults += L"      (skipped, offline: " + message + L")\n";
                       Run.skipped = true;
                       return false;
                     }
                     SelfTestResults += L"      (" + message + L")\n";
                     return result > 0;
                   }});
}

}  // namespace FeatureTest
