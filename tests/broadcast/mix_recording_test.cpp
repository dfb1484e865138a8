// REC against the real master output on the test sound server: refused once the output has
// stopped, and a recording that the recorder ends by itself is finished as a stop would finish it.
#include "broadcast/mix_recording.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "engine/audio_output.h"
#include "engine/engine.h"
#include "engine/recorder.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/audio_server.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"
#include "ui/status_line.h"

namespace fs = std::filesystem;

namespace {

constexpr int kOpenWaitMs = 5000;
constexpr int kCopyWaitMs = 20000;

std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) files.push_back(entry.path());
  return files;
}

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
    if (Engine.recording.load()) ToggleRecording();
    MixRecordingTick();
    StopOutputs(Engine);
    NextMessage();  // frees what was posted
    Settings = savedSettings_;
  }
  // The next conversion message posted to the UI, or empty.
  static std::wstring NextMessage() {
    std::wstring message;
    DrainUiPosts([&](const UiPost& post) {
      std::unique_ptr<std::wstring> text(static_cast<std::wstring*>(post.lparam));
      if (post.message == kRecordingStatusPost && text) message = *text;
    });
    return message;
  }
  fs::path Recordings() const { return fs::path(home_.path()) / "Music" / "Veldmix Recordings"; }

  TempHome home_;
  std::unique_ptr<TestSink> sink_;
  SettingsRecord savedSettings_;
};

}  // namespace

// The output ran and stopped: it no longer claims its rate, and REC starts nothing.
TEST_F(MixRecording, RecAfterTheOutputStoppedIsRefusedAndLeavesNoFile) {
  ASSERT_GT(RunningOutputRate(Engine), 0);
  StopOutputs(Engine);
  EXPECT_FALSE(Engine.outputRunning.load());
  EXPECT_EQ(Engine.sampleRate.load(), 0);
  ToggleRecording();
  EXPECT_FALSE(Engine.recording.load());
  EXPECT_EQ(Status.text, L"Couldn't start recording \u2014 is an audio output available?");
  EXPECT_TRUE(FilesIn(Recordings()).empty());
}

// A write that fails (a file-size limit stands in for a full disk) ends the recording: the
// reason shows at the next tick, REC is off, the tracklist and the MP3 copy are made for what
// was recorded and the WAV stays beside them; only a new press starts a new recording.
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

  MixRecordingTick();
  const std::wstring reason = L"Recording stopped \u2014 couldn't write the file (File too large)";
  EXPECT_EQ(Status.text, reason);
  EXPECT_TRUE(RecordingTracklist.empty());
  std::wstring message;
  ASSERT_TRUE(WaitFor([&] { return !(message = NextMessage()).empty(); }, kCopyWaitMs));
  EXPECT_EQ(message, reason + L". Mix saved as MP3 and WAV in ~/Music/Veldmix Recordings");

  EXPECT_EQ(ProbeWithSoxi(wav.string()).frames, static_cast<long long>(kFramesThatFit));
  const fs::path mp3 = fs::path(wav).replace_extension(".mp3");
  const WavProbe copy = ProbeWithFfprobe(mp3.string());
  EXPECT_EQ(copy.codec, "mp3");
  EXPECT_EQ(copy.rate, ProbeWithSoxi(wav.string()).rate);
  EXPECT_EQ(ReadRaw(WideToUtf8(TracklistPathFor(wav.wstring()))), "\xEF\xBB\xBF" "0:00  Opening Tune.mp3\r\n");

  // Nothing more happens until REC is pressed again; then a fresh recording starts, even in the
  // same second as the last one.
  Status = StatusLine{};
  MixRecordingTick();
  EXPECT_FALSE(Engine.recording.load());
  EXPECT_EQ(Status.text, L"");
  ToggleRecording();
  ASSERT_TRUE(Engine.recording.load());
  EXPECT_NE(WideToUtf8(RecordingPath), wav.string());
  EXPECT_EQ(ProbeWithSoxi(wav.string()).frames, static_cast<long long>(kFramesThatFit)) << "the first one is kept";
}
