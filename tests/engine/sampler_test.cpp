// The sampler on real sounds: loops captured from loaded click tracks and recordings of the
// rendered mix written as WAVs into Samples and read back with soxi and sox; banks, pad play,
// loop and gain through RenderMix; sound files loaded by the real worker; the pad menu.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/beat_grid.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "engine/builtin_sounds.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/render.h"
#include "engine/sampler.h"
#include "engine/sampler_bank.h"
#include "engine/sandbox.h"
#include "engine/wav_file.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "screens/sampler_menu.h"
#include "support/click_tracks.h"
#include "support/shown_status.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace fs = std::filesystem;

namespace {

// A click track of `bpm` lasting `seconds`, the other settings at their defaults.
ClickTrack ClickSpec(double bpm, double seconds) {
  ClickTrack spec;
  spec.bpm = bpm;
  spec.seconds = seconds;
  return spec;
}

constexpr int kWaitMs = 20000;
constexpr double kRate = 44100.0;

double Rms(const std::vector<float>& out) {
  double sum = 0.0;
  for (float v : out) sum += double(v) * v;
  return out.empty() ? 0.0 : std::sqrt(sum / out.size());
}

class SamplerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TempHome>();
    ResetDecksForTest();
    ResetSampler();
    Status = StatusLine{};
    TestMode = false;
    OpenUiPosts(nullptr);
  }
  void TearDown() override {
    DrainSamplerPosts();
    ResetSampler();
    ResetDecksForTest();
    TestMode = false;
  }
  static void ResetSampler() {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    for (SamplerPad& pad : Engine.pads) pad = SamplerPad{};
    for (BankSound& sound : SamplerBankStore) sound = BankSound{};
    SamplerBank = 0;
    PadRecordTarget = -1;
    Engine.padRecordState.store(kPadRecordIdle);
    Engine.padRecordBuffer.clear();
    Engine.sampleRate.store(0);
    Engine.leaderDeck = 0;
  }
  static std::string Click(double seconds = 12.0) {
    static ClickTrackFolder folder;
    return folder.Make(ClickSpec(120.0, seconds));  // 120 BPM
  }
  static TrackPtr DeckTrack(int deck) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    return Engine.decks[deck].track;
  }
  static std::string SampleFile(const std::wstring& name) { return WideToUtf8(SamplesDir()) + "/" + WideToUtf8(name); }
  static bool DrainSamplerPosts(int timeoutMs = 0, int slotsWanted = 0) {
    static int seen = 0;
    const int target = seen + slotsWanted;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
      DrainUiPosts([](const UiPost& post) {
        if (post.message != kSamplerSlotPost) return;
        ++seen;
        std::unique_ptr<TrackPtr> sound(static_cast<TrackPtr*>(post.lparam));
        InstallSamplerSound(static_cast<int>(post.wparam), sound ? *sound : nullptr);
      });
      if (seen >= target) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }
  // A sound file of `seconds` made by sox (a quiet 440 Hz tone).
  std::string ToneFile(const std::string& name, double seconds) {
    const std::string path = home_->path() + "/" + name;
    int status = -1;
    RunCommand("sox -n -r 44100 -c 2 -b 16 " + ShellQuote(path) + " synth " + std::to_string(seconds) +
                   " sine 440 vol 0.2 2>&1",
               &status);
    return status == 0 ? path : std::string();
  }

  std::unique_ptr<TempHome> home_;
};

using SamplerCapture = SamplerTest;
using PadRecording = SamplerTest;
using SamplerBanks = SamplerTest;
using SamplerPads = SamplerTest;
using SamplerMenu = SamplerTest;

}  // namespace

TEST_F(SamplerCapture, FourBeatsFromTheCurrentBeatBecomeALoopingPadAndAWav) {
  ASSERT_TRUE(LoadAndWait(0, Click()));
  const TrackPtr track = DeckTrack(0);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].position = 3.3 * kRate;  // paused, inside beat 6
  }
  CaptureLoopToPad(2, 0);
  EXPECT_EQ(Status.text, L"Captured into sampler pad 3 (loops until pressed again)");
  const double beat = std::floor(BeatAtTime(*track, 3.3));
  const uint64_t in = static_cast<uint64_t>(std::llround(TimeAtBeat(*track, beat) * kRate));
  const uint64_t out = static_cast<uint64_t>(std::llround(TimeAtBeat(*track, beat + 4) * kRate));
  ASSERT_NEAR(double(out - in), 4 * 22050.0, 30.0) << "four beats at 120 BPM";

  const std::string file = SampleFile(L"pad3.wav");
  const WavProbe probe = ProbeWithSoxi(file);
  EXPECT_EQ(probe.frames, static_cast<long long>(out - in));
  EXPECT_EQ(probe.rate, 44100);
  EXPECT_EQ(probe.channels, 2);
  EXPECT_EQ(probe.bits, 16);
  const std::vector<int16_t> pcm = DecodeWithSox(file);
  ASSERT_EQ(pcm.size(), 2 * (out - in));
  for (uint64_t k : {uint64_t(0), uint64_t(441), out - in - 1})
    EXPECT_EQ(pcm[2 * k], WavSampleFromFloat(track->samples[2 * (in + k)])) << "frame " << k;

  EXPECT_EQ(Settings.Slot[2], Utf8ToWide(file));
  EXPECT_TRUE(Settings.Loop[2]);
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  ASSERT_TRUE(Engine.pads[2].track);
  EXPECT_EQ(Engine.pads[2].track->frames, out - in);
  EXPECT_EQ(Engine.pads[2].name, L"LOOP A");
  EXPECT_TRUE(Engine.pads[2].loop);
}

TEST_F(SamplerCapture, TakesTheDecksLoopNamesOtherBanksFilesAndRefusesBadLengths) {
  CaptureLoopToPad(0, 1);
  EXPECT_EQ(Status.text, L"Nothing loaded on deck B");
  ASSERT_TRUE(LoadAndWait(1, Click(62.0)));
  SelectSamplerBank(2);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[1].loopIn = 1000.0;
    Engine.decks[1].loopOut = 1016.0;  // 16 frames: too short
  }
  CaptureLoopToPad(3, 1);
  EXPECT_EQ(Status.text, L"That loop is too long or too short to sample");
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    EXPECT_FALSE(Engine.pads[3].track);
    Engine.decks[1].loopOut = 1000.0 + 60.5 * kRate;
  }
  CaptureLoopToPad(3, 1);
  EXPECT_EQ(Status.text, L"That loop is too long or too short to sample");
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[1].loopOut = 1017.0;
  }
  CaptureLoopToPad(3, 1);
  EXPECT_EQ(ProbeWithSoxi(SampleFile(L"bankC-pad4.wav")).frames, 17);
  EXPECT_EQ(Settings.Slot[2 * 8 + 3], Utf8ToWide(SampleFile(L"bankC-pad4.wav")));

  TestMode = true;  // the pad gets the sound, but no file is written and no slot changes
  CaptureLoopToPad(4, 1);
  EXPECT_FALSE(fs::exists(SampleFile(L"bankC-pad5.wav")));
  EXPECT_TRUE(Settings.Slot[2 * 8 + 4].empty());
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  EXPECT_TRUE(Engine.pads[4].track);
}

TEST_F(PadRecording, OneBarOfTheMixFromTheNextBarBecomesAWav) {
  ASSERT_TRUE(LoadAndWait(0, Click()));
  Engine.sampleRate.store(kTestRate);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].position = 0.3 * kRate;
    Engine.decks[0].playing = true;
  }
  StartPadRecording(2, 0, 4);
  EXPECT_EQ(Status.text, L"Recording 1 bar into pad 3 from the next bar");
  EXPECT_EQ(Engine.padRecordBuffer.size(), size_t(2) * 30 * kTestRate);
  for (int i = 0; i < 600 && Engine.padRecordState.load() != kPadRecordDone; ++i) RenderPeriods(1);
  ASSERT_EQ(Engine.padRecordState.load(), kPadRecordDone);
  FinishPadRecording();
  EXPECT_EQ(Status.text, L"Recorded 2.0 s into bank A pad 3");
  EXPECT_EQ(ShownStatusIn(kUiSpanish), L"Grabados 2.0 s en el banco A pad 3");
  EXPECT_EQ(Engine.padRecordState.load(), kPadRecordIdle);
  EXPECT_EQ(PadRecordTarget, -1);

  // Four beats at 120 BPM are exactly two seconds of output.
  const std::string file = SampleFile(L"rec-A3.wav");
  const WavProbe probe = ProbeWithSoxi(file);
  EXPECT_EQ(probe.frames, 2 * kTestRate);
  EXPECT_EQ(probe.rate, kTestRate);
  EXPECT_EQ(probe.bits, 16);
  EXPECT_EQ(Settings.Slot[2], Utf8ToWide(file));
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  ASSERT_TRUE(Engine.pads[2].track);
  EXPECT_EQ(Engine.pads[2].name, L"REC 3");
  EXPECT_GT(Rms(Engine.pads[2].track->samples), 0.01) << "the clicks and tone of the mix";
}

TEST_F(PadRecording, RecStopsWhatRunsAndTooLittleIsNothing) {
  StartPadRecording(0, 0, 8);
  EXPECT_EQ(Status.text, L"Recording 2 bars into pad 1 from the next bar");
  StartPadRecording(0, 0, 8);  // the second REC disarms it
  EXPECT_EQ(Engine.padRecordState.load(), kPadRecordIdle);
  StartPadRecording(0, 0, 0);
  EXPECT_EQ(Status.text, L"Recording into pad 1 \u2014 press REC again to stop");
  std::vector<float> out(2 * 100);
  RenderMix(Engine, out.data(), 100, kTestRate);  // 100 frames, then stopped
  StopPadRecording(Engine);
  FinishPadRecording();
  EXPECT_EQ(Status.text, L"Nothing was recorded");
  EXPECT_EQ(PadRecordTarget, -1);
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  EXPECT_FALSE(Engine.pads[0].track);
}

TEST_F(PadRecording, ARecordingFinishedInAnotherBankWaitsInItsStore) {
  Engine.sampleRate.store(kTestRate);
  ASSERT_TRUE(LoadAndWait(0, Click()));
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].playing = true;
  }
  StartPadRecording(5, 0, 0);
  RenderPeriods(20);
  SelectSamplerBank(1);
  StopPadRecording(Engine);
  FinishPadRecording();
  EXPECT_EQ(Status.text, L"Recorded 0.2 s into bank A pad 6");
  ASSERT_TRUE(SamplerBankStore[5].track);
  EXPECT_EQ(SamplerBankStore[5].name, L"REC 6");
  SelectSamplerBank(0);
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  EXPECT_EQ(Engine.pads[5].name, L"REC 6");
  EXPECT_EQ(Engine.pads[5].track->frames, uint64_t(20 * kTestPeriod));
}

TEST_F(SamplerBanks, EachBankKeepsItsSoundsAndSettings) {
  Settings.Loop[9] = true;
  Settings.Vol[9] = 0.5f;
  LoadSamplerAtStart();
  std::wstring hornName;
  MakeBuiltinSound(0, &hornName);
  EXPECT_EQ(Engine.pads[0].name, hornName);

  SelectSamplerBank(1);
  EXPECT_EQ(SamplerBank, 1);
  EXPECT_FALSE(Engine.pads[0].track) << "bank B starts empty";
  EXPECT_TRUE(Engine.pads[1].loop);
  EXPECT_FLOAT_EQ(Engine.pads[1].gain, 0.5f);
  EXPECT_EQ(SamplerBankStore[0].name, hornName);
  EXPECT_TRUE(fs::exists(WideToUtf8(SettingsPath())));

  SelectSamplerBank(7);  // clamped to D
  EXPECT_EQ(SamplerBank, 3);
  SelectSamplerBank(0);
  EXPECT_EQ(Engine.pads[0].name, hornName);
  EXPECT_FALSE(Engine.pads[1].loop);

  fs::remove(WideToUtf8(SettingsPath()));
  SelectSamplerBank(0);
  EXPECT_FALSE(fs::exists(WideToUtf8(SettingsPath()))) << "the current bank again saves nothing";
}

TEST_F(SamplerPads, PadsPlayLoopAndFollowTheirGainInTheMix) {
  LoadSamplerAtStart();
  Settings.Loop[0] = true;
  ApplyPadSettings(0);
  TriggerSamplerPad(0);
  EXPECT_TRUE(Engine.pads[0].playing);
  EXPECT_GT(Rms(RenderPeriods(5)), 0.01);
  TriggerSamplerPad(0);  // a looping pad stops on the second press
  EXPECT_FALSE(Engine.pads[0].playing);
  RenderPeriods(1);
  EXPECT_LT(Rms(RenderPeriods(5)), 1e-4);

  TriggerSamplerPad(3);  // KICK, one-shot at full gain
  const double full = Rms(RenderPeriods(5));
  TriggerSamplerPad(3);  // a one-shot restarts from its start
  EXPECT_TRUE(Engine.pads[3].playing);
  EXPECT_DOUBLE_EQ(Engine.pads[3].position, 0.0);
  Settings.Vol[3] = 0.25f;
  ApplyPadSettings(3);
  RenderPeriods(1);  // the gain ramps over one period
  TriggerSamplerPad(3);
  const double quarter = Rms(RenderPeriods(5));
  ASSERT_GT(full, 0.01);
  EXPECT_NEAR(quarter / full, 0.25, 0.03);
}

TEST_F(SamplerPads, SoundFilesLoadOnAWorkerAndLongOnesAreRefused) {
  const std::string shortFile = ToneFile("short-tone-file.wav", 2.0);
  const std::string longFile = ToneFile("long.wav", 75.0);
  ASSERT_FALSE(shortFile.empty());
  LoadSamplerSlot(4, Utf8ToWide(shortFile));
  LoadSamplerSlot(12, Utf8ToWide(shortFile));  // bank B: into the store
  ASSERT_TRUE(DrainSamplerPosts(kWaitMs, 2));
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    ASSERT_TRUE(Engine.pads[4].track);
    EXPECT_EQ(Engine.pads[4].track->frames, 88200u);
    EXPECT_EQ(Engine.pads[4].name, L"SHORT-TONE");
  }
  EXPECT_EQ(SamplerBankStore[12].name, L"SHORT-TONE");
  LoadSamplerSlot(5, Utf8ToWide(longFile));
  ASSERT_TRUE(DrainSamplerPosts(kWaitMs, 1));
  EXPECT_EQ(Status.text, L"Couldn't load that sample (it must be under 60 seconds)");
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  EXPECT_FALSE(Engine.pads[5].track);
}

TEST_F(SamplerMenu, EntriesFollowThePadAndCommandsActOnIt) {
  LoadSamplerAtStart();
  ASSERT_TRUE(LoadAndWait(1, Click()));
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[1].loopOut = 44100.0;
  }
  Settings.Vol[2] = 0.5f;
  std::vector<PopupMenuEntry> menu = SamplerPadMenuEntries(2);
  ASSERT_EQ(menu.size(), 9u);
  EXPECT_EQ(menu[0].text, L"Load a sound\u2026");
  ASSERT_EQ(menu[1].submenu.size(), 2u) << "two decks";
  EXPECT_EQ(menu[1].submenu[0].text, L"From deck A (4 beats)");
  EXPECT_TRUE(menu[1].submenu[0].disabled) << "no track on A";
  EXPECT_EQ(menu[1].submenu[1].text, L"From deck B (its loop)");
  EXPECT_TRUE(menu[3].checked && !menu[4].checked) << "one-shot";
  EXPECT_EQ(menu[5].submenu[1].text, L"50%");
  EXPECT_TRUE(menu[5].submenu[1].checked);
  ASSERT_EQ(menu[6].submenu.size(), 7u);
  EXPECT_TRUE(menu[6].submenu[5].disabled && menu[6].submenu[6].disabled) << "no microphone";
  EXPECT_EQ(menu[8].text, L"Restore the built-in sound");

  RunSamplerPadCommand(2, menu[4].id);
  RunSamplerPadCommand(2, menu[5].submenu[2].id);
  EXPECT_TRUE(Settings.Loop[2] && Engine.pads[2].loop);
  EXPECT_FLOAT_EQ(Engine.pads[2].gain, 0.75f);
  RunSamplerPadCommand(2, menu[6].submenu[1].id);
  EXPECT_EQ(Engine.padRecordBeats, 8) << "the mix, 2 bars";
  StopPadRecording(Engine);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.pads[2].track.reset();
  }
  RunSamplerPadCommand(2, menu[8].id);
  EXPECT_TRUE(Engine.pads[2].track) << "bank A gets its built-in sound back";
  EXPECT_FALSE(Settings.Loop[2]);

  SelectSamplerBank(1);
  InstallSamplerSound(10, MakeBuiltinSound(0, nullptr));
  Settings.Slot[10] = L"/music/x.wav";
  menu = SamplerPadMenuEntries(2);
  EXPECT_EQ(menu[8].text, L"Empty this pad");
  RunSamplerPadCommand(2, menu[8].id);
  EXPECT_FALSE(Engine.pads[2].track);
  EXPECT_TRUE(Settings.Slot[10].empty());
}
