// REC against the real master output on the test sound server: a recording that the recorder
// ends by itself is finished as a stop would finish it. (REC once the output has stopped: the
// no_output end-to-end check.)
#include "broadcast/mix_recording.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/status_message.h"
#include "engine/audio_output.h"
#include "engine/engine.h"
#include "engine/recorder.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/audio_server.h"
#include "support/shown_status.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"
#include "app/status_message.h"
#include "platform/clock.h"

namespace fs = std::filesystem;

namespace {

constexpr int kOpenWaitMs = 5000;
constexpr int kCopyWaitMs = 20000;

class MixRecording : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(EnsureAudioServer(&why)) << why;
    sink_ = std::make_unique<TestSink>("mixrec", 2);
    ASSERT_TRUE(sink_->ok());
    savedSettings_ = Settings;
    OutputConfig config;
    config.masterDevice = sink_->wname();
    StartOutput(Engine, config);
    ASSERT_TRUE(WaitFor([] { return Engine.outputRunning.load(); }, kOpenWaitMs));
    OpenUiPosts(nullptr);
    Status = StatusLine{};
  }
  void TearDown() override {
    const bool copies = Engine.recording.load() && Settings.RecordFormat != kRecordFormatWav;
    if (Engine.recording.load()) ToggleRecording();
    MixRecordingTick();
    StopOutputs(Engine);
    // The copy of a recording stopped here posts from its worker: wait for it, so nothing is
    // left queued (and leaked) when the process ends.
    if (copies) WaitFor([] { return !NextMessage().empty(); }, kCopyWaitMs);
    NextMessage();  // frees what was posted
    Settings = savedSettings_;
  }
  // The next conversion message posted to the UI, or empty.
  static std::wstring NextMessage() {
    std::wstring message;
    DrainUiPosts([&](const UiPost& post) {
      std::unique_ptr<UiText> text(static_cast<UiText*>(post.lparam));
      if (post.message == kRecordingStatusPost && text) message = EnglishText(*text);
    });
    return message;
  }

  TempHome home_;
  std::unique_ptr<TestSink> sink_;
  SettingsRecord savedSettings_;
};

}  // namespace

// A write that fails (a file-size limit stands in for a full disk) ends the recording: the
// reason shows at the next tick, REC is off, the tracklist is written and, once the reason has
// been read, the MP3 copy is made for what was recorded, the WAV staying beside it; only a new
// press starts a new recording.
TEST_F(MixRecording, ARecordingThatStopsItselfIsFinishedWithItsReason) {
  Settings.RecordFormat = kRecordFormatMp3;
  constexpr uint64_t kFramesThatFit = 24000;
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = kWavHeaderBytes + kFramesThatFit * kWavBytesPerFrame;
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  ToggleRecording();
  const bool started = Engine.recording.load();
  RecordingTracklist.push_back({0.0, home_.wpath() + L"/Opening Tune.mp3"});
  const bool stopped = WaitFor([] { return !Engine.recording.load(); }, kOpenWaitMs + 2000);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  ASSERT_TRUE(started) << WideToUtf8(Status.text);
  ASSERT_TRUE(stopped);
  const fs::path wav = WideToUtf8(RecordingPath);

  const uint64_t now = MonotonicMs();
  MixRecordingTickAt(now);
  EXPECT_EQ(Status.text, L"Recording stopped \u2014 couldn't write the file (File too large)");
  EXPECT_TRUE(RecordingTracklist.empty());
  const fs::path mp3 = fs::path(wav).replace_extension(".mp3");
  MixRecordingTickAt(now + 4900);
  EXPECT_FALSE(fs::exists(mp3)) << "the reason is read first";
  MixRecordingTickAt(now + 5000);
  std::wstring message;
  ASSERT_TRUE(WaitFor([&] { return !(message = NextMessage()).empty(); }, kCopyWaitMs));
  EXPECT_EQ(message, L"Mix saved as MP3 and WAV in ~/Music/Veldmix Recordings");

  EXPECT_EQ(ProbeWithSoxi(wav.string()).frames, static_cast<long long>(kFramesThatFit));
  const WavProbe copy = ProbeWithFfprobe(mp3.string());
  EXPECT_EQ(copy.codec, "mp3");
  EXPECT_EQ(copy.rate, ProbeWithSoxi(wav.string()).rate);
  EXPECT_EQ(ReadRaw(WideToUtf8(TracklistPathFor(wav.wstring()))), "\xEF\xBB\xBF" "0:00  Opening Tune.mp3\r\n");

  // Nothing more happens until REC is pressed again; then a fresh recording starts, even in the
  // same second as the last one.
  Status = StatusLine{};
  MixRecordingTickAt(now + 10000);
  EXPECT_FALSE(Engine.recording.load());
  EXPECT_EQ(Status.text, L"");
  ToggleRecording();
  ASSERT_TRUE(Engine.recording.load());
  EXPECT_NE(WideToUtf8(RecordingPath), wav.string());
  EXPECT_EQ(ProbeWithSoxi(wav.string()).frames, static_cast<long long>(kFramesThatFit)) << "the first one is kept";
}
