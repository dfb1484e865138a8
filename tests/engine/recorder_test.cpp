#include <gtest/gtest.h>

#include <sys/resource.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "base/log.h"
#include "engine/engine.h"
#include "engine/recorder.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"
#include "ui/language.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kBlockFrames = 480;  // one 10 ms period at 48 kHz
constexpr uint64_t kForever = ~uint64_t(0);

int RampValue(uint64_t frame) { return static_cast<int>(frame % 2000) - 1000; }

// Stands in for the master output: renders periods of a ramp into the recorder ring under the
// engine lock while `recording` is on, as RenderMix's tap step does. Frames a full ring drops are
// not counted, so frame k of the file must hold ramp value k.
class MixProducer {
 public:
  MixProducer(uint64_t target, unsigned periodMs) : target_(target), periodMs_(periodMs) {
    thread_ = std::thread([this] { Run(); });
  }
  ~MixProducer() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  uint64_t accepted() const { return accepted_.load(); }

 private:
  void Run() {
    float block[kBlockFrames * 2];
    while (!stop_ && accepted_ < target_) {
      const uint64_t start = accepted_.load();
      const uint64_t n = std::min(kBlockFrames, target_ - start);
      for (uint64_t i = 0; i < n; ++i) {
        const float v = static_cast<float>(RampValue(start + i)) / 32767.0f;
        block[2 * i] = v;
        block[2 * i + 1] = -v;
      }
      {
        std::lock_guard<RealtimeMutex> lock(Engine.lock);
        if (Engine.recording.load()) accepted_ += RingWrite(Engine.recordRing, block, n);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(periodMs_));
    }
  }
  uint64_t target_;
  unsigned periodMs_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> accepted_{0};
  std::thread thread_;
};

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 5) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

void ExpectRamp(const std::string& path, uint64_t frames) {
  const std::vector<int16_t> decoded = DecodeWithSox(path);
  ASSERT_EQ(decoded.size(), frames * 2);
  for (uint64_t k = 0; k < frames; ++k) {
    ASSERT_EQ(decoded[2 * k], RampValue(k)) << "frame " << k;
    ASSERT_EQ(decoded[2 * k + 1], -RampValue(k)) << "frame " << k;
  }
}

// Every test leaves the one engine without a recording, taps or rate.
class Recorder : public ::testing::Test {
 protected:
  void SetUp() override { PublishOutputStarted(Engine, 48000); }
  void TearDown() override {
    StopRecording();
    PublishOutputStopped(Engine);
  }
  TempHome home;
};

}  // namespace

TEST_F(Recorder, WritesExactlyTheFramesTheRenderDelivered) {
  const std::string path = home.path() + "/ten-seconds.wav";
  ASSERT_TRUE(StartRecording(Utf8ToWide(path)));
  EXPECT_TRUE(Engine.recording.load());
  EXPECT_EQ(Engine.recordRing.capacity, 48000u * 4);
  EXPECT_EQ(Engine.recordRate.load(), 48000);

  MixProducer producer(480000, 1);
  // A second start while recording is refused and leaves the running one alone.
  const std::string other = home.path() + "/other.wav";
  EXPECT_FALSE(StartRecording(Utf8ToWide(other)));
  EXPECT_FALSE(fs::exists(other));
  EXPECT_TRUE(Engine.recording.load());

  ASSERT_TRUE(WaitFor([&] { return producer.accepted() == 480000; }, 30000));
  StopRecording();
  EXPECT_FALSE(Engine.recording.load());
  EXPECT_EQ(Engine.recordFrames.load(), 480000u);
  EXPECT_TRUE(RecordingProblem().empty());

  const std::string bytes = ReadRaw(path);
  EXPECT_EQ(bytes.size(), kWavHeaderBytes + 1920000);
  EXPECT_EQ(LittleEndian32(bytes, 40), 1920000u);
  EXPECT_EQ(LittleEndian32(bytes, 4), 1920036u);
  const WavProbe soxi = ProbeWithSoxi(path);
  EXPECT_EQ(soxi.frames, 480000);
  EXPECT_EQ(soxi.rate, 48000);
  EXPECT_EQ(soxi.channels, 2);
  EXPECT_EQ(soxi.bits, 16);
  ExpectRamp(path, 480000);

  // Stopping again is harmless and leaves the file as it was.
  StopRecording();
  EXPECT_EQ(ReadRaw(path), bytes);
}

TEST_F(Recorder, RefusesWithoutARunningOutputOrAWritableFile) {
  const std::string path = home.path() + "/refused.wav";
  PublishOutputStopped(Engine);
  EXPECT_EQ(Engine.sampleRate.load(), 0) << "a stopped output forgets its rate";
  EXPECT_FALSE(StartRecording(Utf8ToWide(path)));
  // A rate left behind by an output that is not running any more is no output either.
  Engine.sampleRate.store(44100);
  EXPECT_FALSE(StartRecording(Utf8ToWide(path)));
  EXPECT_FALSE(fs::exists(path));
  PublishOutputStarted(Engine, 44100);

  fs::create_directories(home.path() + "/folder.wav");
  EXPECT_FALSE(StartRecording(Utf8ToWide(home.path() + "/folder.wav")));
  EXPECT_FALSE(StartRecording(Utf8ToWide(home.path() + "/missing/x.wav")));
  // Created, but the header cannot be written: writes to /dev/full fail with "no space".
  const std::string full = home.path() + "/full.wav";
  fs::create_symlink("/dev/full", full);
  EXPECT_FALSE(StartRecording(Utf8ToWide(full)));
  EXPECT_FALSE(Engine.recording.load());

  // A tiny rate still gets the smallest ring.
  PublishOutputStarted(Engine, 3);
  ASSERT_TRUE(StartRecording(Utf8ToWide(path)));
  EXPECT_EQ(Engine.recordRing.capacity, 16u);
  StopRecording();
  EXPECT_EQ(ProbeWithSoxi(path).rate, 3);
}

TEST_F(Recorder, WriteFailureStopsAndKeepsWhatReachedTheDisk) {
  const std::string path = home.path() + "/too-big.wav";
  constexpr uint64_t kFramesThatFit = 10000;
  // A file-size limit makes the write that crosses it come up short, then fail with EFBIG.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = kWavHeaderBytes + kFramesThatFit * kWavBytesPerFrame;
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

  const bool started = StartRecording(Utf8ToWide(path));
  bool stoppedByItself = false;
  if (started) {
    MixProducer producer(kForever, 1);
    stoppedByItself = WaitFor([] { return !Engine.recording.load(); }, 30000);
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  ASSERT_TRUE(started);
  ASSERT_TRUE(stoppedByItself);

  EXPECT_EQ(Engine.recordFrames.load(), kFramesThatFit);
  const std::wstring problem = EnglishText(RecordingProblem());
  EXPECT_NE(problem.find(L"couldn't write the file"), std::wstring::npos) << WideToUtf8(problem);
  EXPECT_NE(problem.find(L"File too large"), std::wstring::npos) << WideToUtf8(problem);
  // The C library's reason is shown in the language asked, like the sentence around it.
  SetUiLanguage(kUiFrench);
  EXPECT_EQ(TranslateFilled(RecordingProblemMessage()),
            L"Enregistrement arrêté — impossible d'écrire le fichier (Fichier trop volumineux)");
  SetUiLanguage(kUiEnglish);
  StopRecording();
  EXPECT_EQ(EnglishText(RecordingProblem()), problem);
  EXPECT_EQ(ProbeWithSoxi(path).frames, static_cast<long long>(kFramesThatFit));
  ExpectRamp(path, kFramesThatFit);

  // The next recording starts clean.
  ASSERT_TRUE(StartRecording(Utf8ToWide(home.path() + "/next.wav")));
  EXPECT_TRUE(RecordingProblem().empty());
}

TEST_F(Recorder, StopsCleanlyAtTheSizeLimit) {
  const std::string path = home.path() + "/limit.wav";
  constexpr uint64_t kLimit = 3000;
  ASSERT_TRUE(StartRecording(Utf8ToWide(path), {.frames = kLimit}));
  MixProducer producer(kForever, 1);
  ASSERT_TRUE(WaitFor([] { return !Engine.recording.load(); }, 30000));
  producer.Stop();
  EXPECT_GT(producer.accepted(), kLimit);
  EXPECT_EQ(Engine.recordFrames.load(), kLimit);
  EXPECT_NE(EnglishText(RecordingProblem()).find(L"size limit"), std::wstring::npos);

  const std::string bytes = ReadRaw(path);
  EXPECT_EQ(bytes.size(), kWavHeaderBytes + kLimit * 4);
  EXPECT_EQ(LittleEndian32(bytes, 40), kLimit * 4);
  EXPECT_EQ(LittleEndian32(bytes, 4), kLimit * 4 + 36);
  ExpectRamp(path, kLimit);
}

TEST_F(Recorder, HeaderIsKeptCurrentWhileRecording) {
  // A crash mid-recording must leave a readable file: copy it as a crash would leave it.
  const std::string path = home.path() + "/live.wav";
  const std::string snapshot = home.path() + "/snapshot.wav";
  ASSERT_TRUE(StartRecording(Utf8ToWide(path)));
  MixProducer producer(kForever, 10);
  // The first rewrite is due about five seconds in; the header said 0 frames until then.
  const auto headerData = [&] {
    std::ifstream in(path, std::ios::binary);
    std::string header(kWavHeaderBytes, '\0');
    in.read(header.data(), kWavHeaderBytes);
    return LittleEndian32(header, 40);
  };
  EXPECT_TRUE(WaitFor([&] { return headerData() > 0; }, 20000));
  fs::copy_file(path, snapshot);
  const uint64_t framesNow = Engine.recordFrames.load();
  producer.Stop();
  StopRecording();

  const std::string bytes = ReadRaw(snapshot);
  const uint32_t dataBytes = LittleEndian32(bytes, 40);
  EXPECT_GT(dataBytes, 0u);
  EXPECT_EQ(dataBytes % 4, 0u);
  EXPECT_LE(dataBytes, bytes.size() - kWavHeaderBytes);
  EXPECT_LE(dataBytes / 4, framesNow);
  EXPECT_EQ(ProbeWithSoxi(snapshot).frames, static_cast<long long>(dataBytes / 4));
}

// StartLog installs process-wide handlers, so the recordings that must be logged run in a forked
// child and the test reads the log it left.
TEST(RecorderDeathTest, StopsOnTheirOwnAreLogged) {
  TempHome home;
  const std::string first = home.path() + "/failing.wav";
  const std::string second = home.path() + "/limited.wav";
  EXPECT_EXIT(
      {
        StartLog(L"");
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small{};
        getrlimit(RLIMIT_FSIZE, &small);
        small.rlim_cur = kWavHeaderBytes + 1000 * kWavBytesPerFrame;
        setrlimit(RLIMIT_FSIZE, &small);
        PublishOutputStarted(Engine, 48000);
        for (const auto& [path, limit] : {std::pair{first, kWavMaxFrames}, std::pair{second, uint64_t(100)}}) {
          if (!StartRecording(Utf8ToWide(path), {.frames = limit})) std::_Exit(2);
          MixProducer producer(kForever, 1);
          if (!WaitFor([] { return !Engine.recording.load(); }, 30000)) std::_Exit(3);
          producer.Stop();
          StopRecording();
        }
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  const std::string log = ReadRaw(home.path() + "/state/Veldmix/Veldmix.log");
  EXPECT_NE(log.find("] Audio: recording stopped, writing the WAV file failed (File too large); 1000 frames kept\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("] Audio: recording stopped at the WAV size limit (100 frames)\r\n"), std::string::npos) << log;
}

TEST(Tap, SwitchingSizesEmptiesAndLeavesARunningTapAlone) {
  struct TapCase {
    void (*enable)(bool);
    SpscRing* ring;
    std::atomic<bool>* on;
  };
  const TapCase taps[] = {{EnableStreamTap, &Engine.streamRing, &Engine.tapStream},
                          {EnableVideoRecordTap, &Engine.videoRecordRing, &Engine.tapVideoRecord},
                          {EnableLiveVideoTap, &Engine.liveVideoRing, &Engine.tapLiveVideo}};
  const float frames[20] = {};
  for (const TapCase& tap : taps) {
    PublishOutputStarted(Engine, 44100);
    tap.enable(true);
    EXPECT_TRUE(tap.on->load());
    EXPECT_EQ(tap.ring->capacity, 44100u * 4);
    EXPECT_EQ(RingFill(*tap.ring), 0u);
    ASSERT_EQ(RingWrite(*tap.ring, frames, 10), 10u);
    tap.enable(true);  // already on: its consumer keeps what it has not read yet
    EXPECT_EQ(RingFill(*tap.ring), 10u);
    tap.enable(false);
    EXPECT_FALSE(tap.on->load());
    // An unknown rate still gives four seconds at the lowest rate.
    PublishOutputStopped(Engine);
    tap.enable(true);
    EXPECT_EQ(tap.ring->capacity, 8000u * 4);
    EXPECT_EQ(RingFill(*tap.ring), 0u);
    tap.enable(false);
  }
  // Each switch drives its own ring only.
  EnableVideoRecordTap(true);
  EXPECT_FALSE(Engine.tapStream.load());
  EXPECT_FALSE(Engine.tapLiveVideo.load());
  EnableVideoRecordTap(false);
}
