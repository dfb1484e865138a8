// REC against the real master output on the test sound server: a recording that the recorder
// ends by itself is finished as a stop would finish it. (REC once the output has stopped: the
// no_output end-to-end check.)
#include "broadcast/mix_recording.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "broadcast/video_record.h"
#include "control/control_ids.h"
#include "control/controller_leds.h"
#include "engine/audio_output.h"
#include "engine/engine.h"
#include "engine/recorder.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/audio_server.h"
#include "support/shown_status.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace fs = std::filesystem;

namespace {

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

namespace {

bool SolidPicture(int width, int height, std::vector<uint32_t>& pixels) {
  pixels.assign(static_cast<size_t>(width) * height, 0xFF3060C0);
  return true;
}

double ProbeSeconds(const std::string& path, const char* stream) {
  const std::string out = RunCommand("ffprobe -v error -select_streams " + std::string(stream) +
                                     " -show_entries stream=duration -of csv=p=0 " + ShellQuote(path));
  return out.empty() ? -1.0 : std::stod(out);
}

}  // namespace

// [Video] Record on: REC records the MP4 of the same stem beside the WAV, its sound at the master
// rate and the WAV's to the block, 30 pictures a second; the second press returns at once and the
// MP4 is finished behind it. Holds on a loaded machine too, where the WAV's thread and the MP4's
// encoders take long to start.
TEST_F(MixRecording, WithVideoOnTheMp4IsRecordedBesideTheWav) {
  Settings.RecordFormat = kRecordFormatWav;
  Settings.Record = true;
  Settings.VideoHeight = 720;
  SetVideoMixSource(SolidPicture);
  ToggleRecording();
  ASSERT_TRUE(Engine.recording.load()) << WideToUtf8(Status.text);
  const fs::path wav = WideToUtf8(RecordingPath);
  const fs::path mp4 = fs::path(wav).replace_extension(".mp4");
  EXPECT_EQ(WideToUtf8(Status.text), "Recording the mix with video to " + mp4.filename().string());
  const uint64_t end = MonotonicMs() + 2000;
  while (MonotonicMs() < end) {
    CaptureRecordFrame();
    SleepMs(10);
  }
  ToggleRecording();
  EXPECT_EQ(Status.text, L"Recording saved to ~/Music/Veldmix Recordings");
  WaitForVideoRecording();
  SetVideoMixSource(nullptr);

  const WavProbe sound = ProbeWithSoxi(wav.string());
  ASSERT_GT(sound.frames, 0);
  const double wavSeconds = static_cast<double>(sound.frames) / static_cast<double>(sound.rate);
  ASSERT_TRUE(fs::exists(mp4));
  const std::string audio = RunCommand("ffprobe -v error -select_streams a -show_entries stream=codec_name,sample_rate "
                                       "-of csv=p=0 " + ShellQuote(mp4.string()));
  EXPECT_EQ(audio, "aac," + std::to_string(sound.rate) + "\n");
  // The same blocks of sound, however late the MP4's encoders opened: any block the WAV alone got
  // (5 ms or more) shows.
  EXPECT_NEAR(ProbeSeconds(mp4.string(), "a"), wavSeconds, 0.002);
  EXPECT_NEAR(ProbeSeconds(mp4.string(), "v"), wavSeconds, 1.0 / 30);
  const std::string frames = RunCommand("ffprobe -v error -count_frames -select_streams v -show_entries "
                                        "stream=nb_read_frames,width,height -of csv=p=0 " + ShellQuote(mp4.string()));
  int width = 0, height = 0, count = 0;
  ASSERT_EQ(std::sscanf(frames.c_str(), "%d,%d,%d", &width, &height, &count), 3) << frames;
  EXPECT_EQ(width, 1280);
  EXPECT_EQ(height, 720);
  EXPECT_NEAR(count, 30.0 * wavSeconds, 1.0);
}

// An MP4 that can't be written (its temporary name taken by a folder) leaves a sound-only
// recording and says so for 5 s.
TEST_F(MixRecording, AnUnwritableMp4LeavesTheSoundRecording) {
  Settings.RecordFormat = kRecordFormatWav;
  Settings.Record = true;
  const fs::path folder = WideToUtf8(RecordingsDir());
  fs::create_directories(folder);
  const std::time_t now = std::time(nullptr);
  for (int ahead = 0; ahead < 3; ++ahead) {
    const std::time_t t = now + ahead;
    std::tm tm{};
    localtime_r(&t, &tm);
    const auto u = [](int v) { return static_cast<unsigned>(v); };
    const LocalTime at{u(tm.tm_year + 1900), u(tm.tm_mon + 1), u(tm.tm_mday), u(tm.tm_hour), u(tm.tm_min), u(tm.tm_sec), 0};
    // A link to nowhere: the name looks free, and the video file can't be written through it.
    fs::create_symlink(folder / "gone" / "x.mp4", folder / fs::path(WideToUtf8(RecordingFileName(at))).replace_extension(".mp4"));
  }
  ToggleRecording();
  ASSERT_TRUE(Engine.recording.load());
  EXPECT_EQ(Status.text.rfind(L"Recording the sound only \u2014 The video encoder wouldn't start (0x", 0), 0u)
      << WideToUtf8(Status.text);
  const uint64_t shownFor = Status.expiresAtMs - MonotonicMs();
  EXPECT_GT(shownFor, 4500u);
  EXPECT_LE(shownFor, 5000u);
  EXPECT_FALSE(VideoRecordingRunning());
  SleepMs(300);
  ToggleRecording();
  EXPECT_GT(ProbeWithSoxi(WideToUtf8(RecordingPath)).frames, 0);
  EXPECT_FALSE(fs::exists(fs::path(WideToUtf8(RecordingPath)).replace_extension(".mp4")));
}

// A stem that any file of an earlier recording has is never used again, whichever file it is.
TEST(RecordingNames, ANewRecordingNeverSharesAStemWithAnEarlierOnesFiles) {
  TempHome home;
  const std::string folder = home.path() + "/rec";
  fs::create_directories(folder);
  const LocalTime at{2026, 3, 5, 14, 7, 9, 0};
  const std::wstring wfolder = Utf8ToWide(folder);
  EXPECT_EQ(UnusedRecordingPath(wfolder, at), wfolder + L"/Veldmix mix 2026-03-05 14-07-09.wav");
  WriteRaw(folder + "/Veldmix mix 2026-03-05 14-07-09.mp3", "old copy");
  EXPECT_EQ(UnusedRecordingPath(wfolder, at), wfolder + L"/Veldmix mix 2026-03-05 14-07-09 (2).wav");
  WriteRaw(folder + "/Veldmix mix 2026-03-05 14-07-09 (2) tracklist.txt", "old list");
  WriteRaw(folder + "/Veldmix mix 2026-03-05 14-07-09 (3).mp4", "old video");
  WriteRaw(folder + "/Veldmix mix 2026-03-05 14-07-09 (4).flac", "old copy");
  EXPECT_EQ(UnusedRecordingPath(wfolder, at), wfolder + L"/Veldmix mix 2026-03-05 14-07-09 (5).wav");
}

// Two start-stop cycles within one second make two whole recordings with stems of their own;
// closing the program mid-recording still writes the tracklist and leaves the WAV whole, uncopied.
TEST_F(MixRecording, QuickCyclesKeepEveryRecordingAndClosingWritesTheTracklist) {
  Settings.RecordFormat = kRecordFormatWav;
  std::vector<fs::path> wavs;
  for (int cycle = 0; cycle < 2; ++cycle) {
    ToggleRecording();
    ASSERT_TRUE(Engine.recording.load()) << WideToUtf8(Status.text);
    EXPECT_TRUE(ControlState(kRecordControl)) << "the controller's REC light";
    RecordingTracklist.push_back({0.0, home_.wpath() + L"/Tune " + std::to_wstring(cycle) + L".mp3"});
    SleepMs(200);
    ToggleRecording();
    EXPECT_FALSE(ControlState(kRecordControl));
    wavs.push_back(WideToUtf8(RecordingPath));
  }
  ASSERT_NE(wavs[0], wavs[1]);
  for (int cycle = 0; cycle < 2; ++cycle) {
    EXPECT_GT(ProbeWithSoxi(wavs[cycle].string()).frames, 4000) << wavs[cycle];
    EXPECT_EQ(ReadRaw(WideToUtf8(TracklistPathFor(wavs[cycle].wstring()))),
              "\xEF\xBB\xBF" "0:00  Tune " + std::to_string(cycle) + ".mp3\r\n");
  }

  Settings.RecordFormat = kRecordFormatMp3;
  ToggleRecording();
  ASSERT_TRUE(Engine.recording.load());
  RecordingTracklist.push_back({0.0, home_.wpath() + L"/Last Tune.mp3"});
  SleepMs(200);
  CloseMixRecording();
  EXPECT_FALSE(Engine.recording.load());
  const fs::path wav = WideToUtf8(RecordingPath);
  EXPECT_GT(ProbeWithSoxi(wav.string()).frames, 4000);
  EXPECT_EQ(ReadRaw(WideToUtf8(TracklistPathFor(wav.wstring()))), "\xEF\xBB\xBF" "0:00  Last Tune.mp3\r\n");
  SleepMs(300);
  EXPECT_FALSE(fs::exists(fs::path(wav).replace_extension(".mp3"))) << "no copy at exit";
  EXPECT_TRUE(NextMessage().empty());
}
