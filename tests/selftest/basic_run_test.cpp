// The basic self-test in-process: the script's timing, the actions it takes on a real deck, a
// whole run rendered through the real mixer into a WAV and its MP3 copy (read back with soxi,
// sox and ffprobe), and the ways a run fails instead of hanging or passing.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <mutex>
#include <string>

#include "app/main_window.h"
#include "app/publish_controls.h"
#include "base/settings.h"
#include "base/test_mode.h"
#include "engine/deck_view.h"
#include "engine/effects.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/recorder.h"
#include "platform/text.h"
#include "selftest/basic_run.h"
#include "selftest/selftest_state.h"
#include "selftest/selftest_tick.h"
#include "support/audio_server.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace fs = std::filesystem;

namespace {

constexpr double kT0 = 5000.0;  // seconds: any clock reading well after 0
constexpr int kTicksPerSecond = 10;
constexpr double kTickLate = 1e-6;   // a tick comes just after its step's time, as on the clock
constexpr int kPeriodsPerTick = 10;  // 10 x 10 ms at 48 kHz: one tick of mix

// ---- pure rules ----------------------------------------------------------------------------------

TEST(BasicTestRules, TheMp3CopyReplacesTheExtensionOrAppendsOne) {
  EXPECT_EQ(Mp3CopyPath(L"out/mix.wav"), L"out/mix.mp3");
  EXPECT_EQ(Mp3CopyPath(L"/tmp/a b/mix.WAV"), L"/tmp/a b/mix.mp3");
  EXPECT_EQ(Mp3CopyPath(L"set.2024.wav"), L"set.2024.mp3") << "only the last extension";
  EXPECT_EQ(Mp3CopyPath(L"out/mix"), L"out/mix.mp3");
  EXPECT_EQ(Mp3CopyPath(L"out.d/mix"), L"out.d/mix.mp3") << "a dot in the folder is no extension";
  EXPECT_EQ(Mp3CopyPath(L"out/.wav"), L"out/.wav.mp3") << "a leading dot names a hidden file";
  EXPECT_EQ(Mp3CopyPath(L"/m\u00fcsik/d\u00e9mo.wav"), L"/m\u00fcsik/d\u00e9mo.mp3");
}

TEST(BasicTestRules, TheTempoFaderPlaysSixPercentFasterWithinThePitchRange) {
  EXPECT_FLOAT_EQ(TempoFaderFor(kKeyLockTempoOffset, 0.08f), 0.125f);
  EXPECT_FLOAT_EQ(TempoFaderFor(kKeyLockTempoOffset, 0.06f), 0.0f) << "the whole range: fader at the top";
  EXPECT_FLOAT_EQ(TempoFaderFor(kKeyLockTempoOffset, 0.04f), 0.0f) << "out of range: clamped";
  EXPECT_FLOAT_EQ(TempoFaderFor(kKeyLockTempoOffset, 0.16f), 0.3125f);
  // The deck's own reading of the fader gives the offset back.
  DeckView view;
  view.pitchRange = 0.16f;
  view.tempoFader = TempoFaderFor(kKeyLockTempoOffset, view.pitchRange);
  EXPECT_NEAR(TempoOffsetOf(view), 0.06, 1e-6);
}

// ---- runs ----------------------------------------------------------------------------------------

class BasicRun : public ::testing::Test {
 protected:
  void SetUp() override {
    savedSettings_ = Settings;
    ResetDecksForTest();
    ResetPads();
    ResetSelfTest();
    MasterFx = MasterFxSelection{};
    CrossfaderPosition = 0.5f;
    TestMode = true;
    out_ = home_.path() + "/out";
    fs::create_directories(out_);
    SelfTest = SelfTestRequest{};
    SelfTest.active = true;
    SelfTest.outputPath = Utf8ToWide(out_ + "/mix.wav");
    PublishOutputStarted(Engine, kTestRate);
  }
  void TearDown() override {
    StopRecording();
    PublishOutputStopped(Engine);
    SelfTest = SelfTestRequest{};
    ResetSelfTest();
    ResetDecksForTest();
    ResetPads();
    MasterFx = MasterFxSelection{};
    CrossfaderPosition = 0.5f;
    Settings = savedSettings_;
    TestMode = false;
  }
  static void ResetPads() {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    for (SamplerPad& pad : Engine.pads) pad = SamplerPad{};
  }
  // A 12 s click track on deck A through the real load.
  void LoadTrack() {
    ClickTrack spec;
    spec.seconds = 12.0;
    const std::string track = tracks_.Make(spec);
    ASSERT_FALSE(track.empty());
    SelfTest.trackPath = Utf8ToWide(track);
    ASSERT_TRUE(LoadAndWait(0, track));
  }
  // Ticks as the frame does: the views reach the engine, then the self-test steps.
  static void TickAt(double seconds) {
    DemoTickAt(static_cast<uint64_t>(seconds * 1000.0));
    SelfTestTickAt(seconds);
  }
  // Ticks every 0.1 s from `from` to `to` seconds after kT0 (both included) with a tick's worth
  // of mix rendered after each, as the output would play it.
  static void PlayFromTo(double from, double to) {
    const int last = static_cast<int>(std::lround(to * kTicksPerSecond));
    for (int i = static_cast<int>(std::lround(from * kTicksPerSecond)); i <= last; ++i) {
      // The start is kT0 itself; later ticks come just after their step's time.
      TickAt(kT0 + static_cast<double>(i) / kTicksPerSecond + (i > 0 ? kTickLate : 0.0));
      RenderPeriods(kPeriodsPerTick);
    }
  }
  static bool DeckPlaying() {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    return Engine.decks[0].playing;
  }

  TempHome home_;
  ClickTrackFolder tracks_;
  std::string out_;
  SettingsRecord savedSettings_;
};

TEST_F(BasicRun, TheStartWaitsForTheTrackThenRecordsAndPlaysDeckAHardLeft) {
  LoadTrack();
  SelfTestTickAt(kT0);
  EXPECT_EQ(TestProgress.start, kT0);
  EXPECT_TRUE(Engine.recording.load());
  EXPECT_TRUE(DeckPlaying());
  EXPECT_EQ(CrossfaderPosition, 0.0f);
  EXPECT_EQ(SelfTestResults, L"PASS  track loaded on deck A\nPASS  mix recorder started\n");
  EXPECT_TRUE(fs::exists(out_ + "/mix.wav"));
  SelfTestTickAt(kT0 + 0.5);
  EXPECT_EQ(TestProgress.start, kT0) << "started once";
  EXPECT_EQ(TestProgress.nextStep, 0u);
}

TEST_F(BasicRun, StepsDueTogetherRunInOrderWithinOneTick) {
  LoadTrack();
  SelfTestTickAt(kT0);
  ASSERT_EQ(RunDueBasicSteps(4.7), 5u);
  EXPECT_TRUE(LiveDeckViews[0].keyLock);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].tempoFader, TempoFaderFor(kKeyLockTempoOffset, LiveDeckViews[0].pitchRange));
  EXPECT_EQ(LiveDeckViews[0].fxSlotEffect[0], static_cast<uint32_t>(kFxEcho));
  EXPECT_TRUE(LiveDeckViews[0].fxSlotOn[0]);
  EXPECT_EQ(LiveDeckViews[0].rollIndex, 3) << "the half-beat roll holds";

  // 4.8 roll off + slicer on, 4.9 slicer off + censor, 4.98 censor released: only that order
  // ends with no loop, no censor and the deck playing forward.
  ASSERT_EQ(RunDueBasicSteps(4.99), 3u);
  EXPECT_EQ(TestProgress.nextStep, 8u);
  EXPECT_EQ(LiveDeckViews[0].rollIndex, -1);
  EXPECT_FALSE(LiveDeckViews[0].censorHeld);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    EXPECT_FALSE(Engine.decks[0].loopOn);
    EXPECT_FALSE(Engine.decks[0].reverse);
  }
  EXPECT_EQ(RunDueBasicSteps(4.99), 0u) << "nothing runs twice";
}

TEST_F(BasicRun, TheSlicerAndTheCensorEachHoldUntilTheirEnd) {
  LoadTrack();
  SelfTestTickAt(kT0);
  RunDueBasicSteps(4.85);
  EXPECT_EQ(LiveDeckViews[0].rollIndex, 2) << "slicer pad 3";
  RunDueBasicSteps(4.95);
  EXPECT_TRUE(LiveDeckViews[0].censorHeld);
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  EXPECT_TRUE(Engine.decks[0].reverse);
  EXPECT_FALSE(Engine.decks[0].loopOn);
}

TEST_F(BasicRun, AWholeRunRecordsTheMixCopiesItAndPasses) {
  LoadTrack();
  PlayFromTo(0.0, 6.3);
  EXPECT_EQ(LiveDeckViews[0].keyShift, 2);
  EXPECT_EQ(LiveDeckViews[0].fxSlotEffect[0], static_cast<uint32_t>(kFxAutoWah));
  EXPECT_EQ(LiveDeckViews[0].fxSlotEffect[1], static_cast<uint32_t>(kFxNoise));
  EXPECT_EQ(LiveDeckViews[0].fxSlotEffect[2], static_cast<uint32_t>(kFxFlanger));
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fxParam[kFxFlanger], 1.0f);
  EXPECT_TRUE(MasterFx.on);
  PlayFromTo(6.4, 6.4);
  EXPECT_EQ(Engine.masterFxMask, EffectBit(kFxEcho)) << "published by the next tick";
  EXPECT_EQ(Settings.MicFx, 3);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    ASSERT_TRUE(Engine.pads[7].track) << "the loop was captured to pad 8";
    EXPECT_TRUE(Engine.pads[7].playing);
  }
  PlayFromTo(6.5, 6.6);
  EXPECT_EQ(Engine.masterFxMask, 0u);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    EXPECT_NE(Engine.decks[0].stopMode, 0) << "the brake runs";
    EXPECT_EQ(Engine.decks[0].fxMask, 0u);
  }
  PlayFromTo(6.7, 8.4);
  EXPECT_FALSE(TestProgress.finished);
  TickAt(kT0 + 8.5 + kTickLate);
  EXPECT_TRUE(TestProgress.finished);
  EXPECT_FALSE(Engine.recording.load());
  EXPECT_EQ(SelfTestFailures, 0);
  EXPECT_EQ(SelfTestResults,
            L"PASS  track loaded on deck A\nPASS  mix recorder started\nPASS  mix recorded\nPASS  MP3 copy\n");

  // 85 ticks of mix went out before the stop: 8.5 s.
  const std::string wav = out_ + "/mix.wav";
  const WavProbe probe = ProbeWithSoxi(wav);
  EXPECT_EQ(probe.rate, kTestRate);
  EXPECT_EQ(probe.bits, 16);
  EXPECT_EQ(probe.frames, 85LL * kPeriodsPerTick * kTestPeriod);
  const std::string rms = RunCommand("sox " + ShellQuote(wav) + " -n stat 2>&1 | awk '/RMS +amplitude/ {print $3}'");
  EXPECT_GT(std::stod(rms.empty() ? "0" : rms), 0.01) << "sound, not silence";
  const std::string duration =
      RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + ShellQuote(out_ + "/mix.mp3"));
  EXPECT_NEAR(std::stod(duration.empty() ? "0" : duration), 8.5, 0.1);
  EXPECT_TRUE(WriteTemps(out_).empty());
}

// ---- failures ------------------------------------------------------------------------------------

TEST_F(BasicRun, ARefusedRecordingFailsAtOnceWithTheReason) {
  LoadTrack();
  SelfTest.outputPath = Utf8ToWide(out_ + "/no/such/folder/mix.wav");
  testing::internal::CaptureStderr();
  SelfTestTickAt(kT0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(TestProgress.finished);
  EXPECT_EQ(SelfTestFailures, 1);
  EXPECT_EQ(SelfTestResults, L"PASS  track loaded on deck A\nFAIL  mix recorder started\n");
  EXPECT_NE(err.find("mix recorder started: the recorder refused " + out_ + "/no/such/folder/mix.wav: No such file"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("FAIL  mix recorder started"), std::string::npos) << "the results follow";
  EXPECT_FALSE(DeckPlaying()) << "no script without a recording";
}

TEST_F(BasicRun, AnEmptyRecordingFailsAndGetsNoCopy) {
  LoadTrack();
  SelfTestTickAt(kT0);
  testing::internal::CaptureStderr();
  SelfTestTickAt(kT0 + 8.5);  // no mix was rendered in between
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(TestProgress.nextStep, 16u);
  EXPECT_EQ(SelfTestFailures, 1);
  EXPECT_NE(SelfTestResults.find(L"FAIL  mix recorded\n"), std::wstring::npos);
  EXPECT_EQ(SelfTestResults.find(L"MP3"), std::wstring::npos);
  EXPECT_NE(err.find("holds no sound"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(out_ + "/mix.mp3"));
}

// The sound server goes away 3 s in: the recorder gets no more mix, the run goes on to its end
// and fails with how much was recorded and when the output stopped; the copy is made of what
// there is.
TEST_F(BasicRun, AnOutputThatStopsMidRunFailsNamingWhen) {
  LoadTrack();
  PlayFromTo(0.0, 3.0);
  PublishOutputStopped(Engine);
  testing::internal::CaptureStderr();
  for (int tick = 31; tick <= 85; ++tick) TickAt(kT0 + tick / 10.0 + kTickLate);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(TestProgress.finished);
  EXPECT_EQ(SelfTestFailures, 1);
  EXPECT_EQ(SelfTestResults,
            L"PASS  track loaded on deck A\nPASS  mix recorder started\nFAIL  mix recorded\nPASS  MP3 copy\n");
  EXPECT_NE(err.find("mix recorded: the WAV " + out_ + "/mix.wav holds 3.1 s of the 8.5 s run: the audio output "
                     "stopped 3.1 s into the run"),
            std::string::npos)
      << err;
  EXPECT_EQ(ProbeWithSoxi(out_ + "/mix.wav").frames, 31LL * kPeriodsPerTick * kTestPeriod);
}

// Without a stop of the output, a mix a little short (late periods on a loaded machine) passes;
// one short by more than a tenth of the run does not.
TEST_F(BasicRun, AMixFarBehindTheRunFailsEvenWithTheOutputRunning) {
  // Mix renders here faster than in real time: each stretch stays within the recorder's 4 s ring
  // and waits until the recorder has written it.
  const auto drained = [] { return WaitFor([] { return RingFill(Engine.recordRing) == 0; }, 10000); };
  LoadTrack();
  PlayFromTo(0.0, 3.5);
  ASSERT_TRUE(drained());
  PlayFromTo(3.6, 7.0);  // 7.1 s of mix, then the output renders nothing more though it runs
  ASSERT_TRUE(drained());
  testing::internal::CaptureStderr();
  for (int tick = 71; tick <= 85; ++tick) TickAt(kT0 + tick / 10.0 + kTickLate);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(TestProgress.finished);
  EXPECT_NE(err.find("mix recorded: the WAV " + out_ + "/mix.wav holds 7.1 s of the 8.5 s run: the output fell "
                     "behind the mix"),
            std::string::npos)
      << err;

  StopRecording();
  ResetSelfTest();
  SelfTestTickAt(kT0);
  PlayFromTo(0.1, 3.9);
  ASSERT_TRUE(drained());
  PlayFromTo(4.0, 7.8);
  ASSERT_TRUE(drained());
  for (int tick = 79; tick <= 85; ++tick) TickAt(kT0 + tick / 10.0 + kTickLate);
  EXPECT_TRUE(TestProgress.finished);
  EXPECT_NE(SelfTestResults.find(L"PASS  mix recorded\n"), std::wstring::npos) << "0.7 s behind";
}

TEST_F(BasicRun, AFailedCopyFailsTheRun) {
  LoadTrack();
  fs::create_directories(out_ + "/mix.mp3");  // a folder where the copy should go
  testing::internal::CaptureStderr();
  PlayFromTo(0.0, 8.5);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(TestProgress.finished);
  EXPECT_EQ(SelfTestFailures, 1);
  EXPECT_NE(SelfTestResults.find(L"PASS  mix recorded\nFAIL  MP3 copy\n"), std::wstring::npos);
  EXPECT_NE(err.find("MP3 copy: " + out_ + "/mix.mp3 could not be written"), std::string::npos) << err;
}

TEST_F(BasicRun, ATrackThatFailsToLoadEndsTheRunAtOnce) {
  const std::string missing = out_ + "/missing.mp3";
  SelfTest.trackPath = Utf8ToWide(missing);
  EXPECT_FALSE(LoadAndWait(0, missing)) << "the load fails";
  testing::internal::CaptureStderr();
  SelfTestTickAt(kT0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(TestProgress.finished);
  EXPECT_EQ(SelfTestResults, L"FAIL  track loaded on deck A\n");
  EXPECT_NE(err.find("track loaded on deck A: the track never loaded: " + WideToUtf8(EnglishText(LiveDeckViews[0].error)) + " (" +
                     missing + ")"),
            std::string::npos)
      << err;
  EXPECT_FALSE(fs::exists(out_ + "/mix.wav"));
}

TEST_F(BasicRun, ALoadThatNeverEndsFailsAfterTheWait) {
  SelfTest.trackPath = L"/music/slow.flac";
  LiveDeckViews[0].loading = true;  // a load that never completes
  SelfTestTickAt(kT0);
  SelfTestTickAt(kT0 + kTrackWaitSeconds - 0.1);
  EXPECT_FALSE(TestProgress.finished);
  testing::internal::CaptureStderr();
  SelfTestTickAt(kT0 + kTrackWaitSeconds);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(TestProgress.finished);
  EXPECT_EQ(SelfTestFailures, 1);
  EXPECT_NE(err.find("the track never loaded: /music/slow.flac was still loading after 60 s"), std::string::npos)
      << err;
}

TEST_F(BasicRun, WithoutAnAudioOutputTheRunWaitsThenFails) {
  LoadTrack();
  PublishOutputStopped(Engine);
  Engine.sampleRate.store(kTestRate);  // a rate left over from an output that stopped
  SelfTestTickAt(kT0);
  EXPECT_EQ(TestProgress.start, 0.0) << "no recorder without a running output";
  EXPECT_FALSE(TestProgress.finished);
  SelfTestTickAt(kT0 + 1.0);
  PublishOutputStarted(Engine, kTestRate);
  SelfTestTickAt(kT0 + 2.0);
  EXPECT_EQ(TestProgress.start, kT0 + 2.0) << "the output came: the script starts then";

  StopRecording();
  ResetSelfTest();
  PublishOutputStopped(Engine);
  testing::internal::CaptureStderr();
  SelfTestTickAt(kT0);
  SelfTestTickAt(kT0 + kTrackWaitSeconds);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(TestProgress.finished);
  EXPECT_NE(err.find("no audio output started within 60 s"), std::string::npos) << err;
}

}  // namespace
