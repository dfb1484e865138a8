// The routing from the settings, the automatic choice of a controller's 4-output card, and the
// master and cue on the pairs of one real 4-channel sink.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/settings.h"
#include "base/status_message.h"
#include "engine/audio_output.h"
#include "engine/audio_routing.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "support/audio_server.h"
#include "support/temp_home.h"

namespace {

constexpr double kPi = 3.141592653589793;

TrackPtr Sine(double hz, float amplitude, int rate = 48000) {
  auto track = std::make_shared<Track>();
  track->sampleRate = rate;
  track->frames = static_cast<uint64_t>(rate) * 20;
  track->samples.resize(track->frames * 2);
  for (uint64_t i = 0; i < track->frames; ++i)
    track->samples[2 * i] = track->samples[2 * i + 1] =
        amplitude * static_cast<float>(std::sin(2 * kPi * hz * static_cast<double>(i) / rate));
  return track;
}

class Routing : public ::testing::Test {
 protected:
  void SetUp() override { Settings = SettingsRecord{}; }
  void TearDown() override {
    StopOutputs(Engine);
    Settings = SettingsRecord{};
  }
  TempHome home;
};

TEST_F(Routing, ConfigFollowsTheSettingsFieldByField) {
  Settings.Master = L"card-a";
  Settings.MasterPair = 3;
  Settings.PhonesMode = kPhonesSplit;
  Settings.Phones = L"card-b";
  Settings.PhonesPair = 2;
  Settings.Booth = L"card-c";
  Settings.BoothPair = 5;
  Settings.Latency = 2;
  Settings.BufferMs = 17;
  Settings.ExternalMixer = true;
  OutputConfig c = CurrentOutputConfig();
  EXPECT_EQ(c.masterDevice, L"card-a");
  EXPECT_EQ(c.masterPair, 3);
  EXPECT_EQ(c.phonesMode, kPhonesSplit);
  EXPECT_EQ(c.phonesDevice, L"card-b");
  EXPECT_EQ(c.phonesPair, 2);
  EXPECT_EQ(c.boothDevice, L"card-c");
  EXPECT_EQ(c.boothPair, 5);
  EXPECT_EQ(c.shareMode, 2);
  EXPECT_EQ(c.bufferMs, 17);
  EXPECT_TRUE(c.externalMixer);
  EXPECT_EQ(c.deckCount, 2);
  Settings.FourDecks = true;
  EXPECT_EQ(CurrentOutputConfig().deckCount, 4);

  // The defaults: the default device, pair 0, headphones off on pair 1, shared, 10 ms.
  Settings = SettingsRecord{};
  c = CurrentOutputConfig();
  EXPECT_TRUE(c.masterDevice.empty());
  EXPECT_EQ(c.masterPair, 0);
  EXPECT_EQ(c.phonesMode, kPhonesNone);
  EXPECT_EQ(c.phonesPair, 1);
  EXPECT_EQ(c.shareMode, 0);
  EXPECT_EQ(c.bufferMs, 10);
  EXPECT_FALSE(c.externalMixer);
}

TEST(RoutingNames, KeepsLettersAndDigitsInLowerCase) {
  SetProcessLocale();
  EXPECT_EQ(NormaliseDeviceName(L"DJ-Controller MK2 (Audio)"), L"djcontrollermk2audio");
  EXPECT_EQ(NormaliseDeviceName(L"  4-Out / USB_Card #7 "), L"4outusbcard7");
  EXPECT_EQ(NormaliseDeviceName(L"Mischpult \u00C4RGER \u2014 2"), L"mischpult\u00E4rger2");
  EXPECT_EQ(NormaliseDeviceName(L"--- ()"), L"");
}

TEST_F(Routing, AutoPickTakesTheFirstMatchingFourChannelCard) {
  std::string why;
  ASSERT_TRUE(EnsureAudioServer(&why)) << why;
  // The process id keeps the names apart from any other test's devices.
  const std::string pid = std::to_string(getpid());
  TestSink stereo("pick2", 2, 48000, "float32le", "Party Mixer MK2 " + pid + " Audio");
  TestSink quad("pick4", 4, 44100, "s16le", "PARTY-MIXER mk2 " + pid + " (Audio Out)");
  ASSERT_TRUE(stereo.ok() && quad.ok());
  Status = StatusLine{};
  Settings.ExternalMixer = true;

  const std::wstring controller = L"party mixer MK2 " + Utf8ToWide(pid);
  EXPECT_FALSE(AutoPickOutput(controller + L" with a much longer name", true));
  EXPECT_TRUE(Settings.Master.empty()) << "nothing changes when nothing fits";
  EXPECT_TRUE(Settings.ExternalMixer);
  EXPECT_TRUE(Status.text.empty());

  ASSERT_TRUE(AutoPickOutput(controller, true));
  EXPECT_EQ(Settings.Master, quad.wname()) << "the 2-channel device with the same name is skipped";
  EXPECT_EQ(Settings.MasterPair, 0);
  EXPECT_EQ(Settings.PhonesMode, kPhonesOwnOutput);
  EXPECT_EQ(Settings.Phones, quad.wname());
  EXPECT_EQ(Settings.PhonesPair, 1);
  EXPECT_FALSE(Settings.ExternalMixer);
  EXPECT_EQ(Status.text, L"Sound: " + controller + L" \u2014 main on 1-2, headphones on 3-4");
  EXPECT_GT(Status.expiresAtMs, MonotonicMs() + 5000) << "shown for 6000 ms";
  EXPECT_LE(Status.expiresAtMs, MonotonicMs() + 6000);
  EXPECT_TRUE(Engine.phonesOnMaster);
  EXPECT_TRUE(WaitFor([] { return Engine.outputRunning.load(); }, kOpenWaitMs));
  EXPECT_EQ(Engine.outputChannels.load(), 4);
  const std::string saved = ReadRaw(home.path() + "/data/Veldmix/settings.ini");
  EXPECT_NE(saved.find("Master=" + quad.name()), std::string::npos) << saved;

  // Without announce the status line stays as it was; an empty name takes a 4-channel card
  // (which one depends on what else the server holds while tests run side by side).
  // Devices come later in the list than every device listed before them, and ours stays.
  Status = StatusLine{};
  const std::vector<AudioDevice> before = ListOutputDevices();
  ASSERT_TRUE(AutoPickOutput(L"", false));
  EXPECT_TRUE(Status.text.empty());
  int channels = 0;
  for (const AudioDevice& d : before)
    if (d.id == Settings.Master) channels = d.channels;
  EXPECT_GE(channels, 4);
}

TEST_F(Routing, MasterAndCueShareAFourChannelCardOnTheirPairs) {
  std::string why;
  ASSERT_TRUE(EnsureAudioServer(&why)) << why;
  TestSink quad("pairs", 4, 44100, "s16le");
  ASSERT_TRUE(quad.ok());
  Settings.Master = quad.wname();
  Settings.PhonesMode = kPhonesOwnOutput;
  Settings.Phones = quad.wname();
  Settings.PhonesPair = 1;
  auto engine = std::make_unique<AudioEngine>();
  DeckState& cued = engine->decks[0];  // only in the headphones
  cued.track = Sine(440, 0.5f);
  cued.playing = true;
  cued.fadeIn = 1.0f;
  cued.fader = 0.0f;
  cued.gainLast[4] = 0.0f;
  cued.cue = true;
  cued.gainLast[5] = 1.0f;
  DeckState& live = engine->decks[1];  // only on the master
  live.track = Sine(660, 0.5f);
  live.playing = true;
  live.fadeIn = 1.0f;
  live.fader = 1.0f;

  MonitorRecording recording(quad.monitor(), 4, 44100);
  StartOutput(*engine, CurrentOutputConfig());
  EXPECT_TRUE(engine->phonesOnMaster);
  EXPECT_FALSE(engine->phones.thread.joinable()) << "no thread of their own";
  ASSERT_TRUE(WaitFor([&] { return engine->outputRunning.load(); }, kOpenWaitMs));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  StopOutputs(*engine);
  const std::vector<float> samples = recording.Stop();

  for (int channel = 0; channel < 4; ++channel) {
    const std::vector<float> x = SoundingPart(Channel(samples, 4, channel), 0.05f, 4410);
    ASSERT_GT(x.size(), 44100u / 2) << "channel " << channel;
    // 50 ms windows hold whole cycles of both tones; their medians ignore a late period.
    const auto amplitude = [](double hz) {
      return [hz](const std::vector<float>& w) { return ToneAmplitude(w, hz, 44100); };
    };
    const double a440 = MedianOverWindows(x, 44100 / 20, amplitude(440.0));
    const double a660 = MedianOverWindows(x, 44100 / 20, amplitude(660.0));
    if (channel < 2) {
      EXPECT_NEAR(a660, 0.5, 0.02) << "master on outputs 1-2, channel " << channel;
      EXPECT_LT(a440, 0.005) << "no cue on the master, channel " << channel;
    } else {
      EXPECT_NEAR(a440, 0.48, 0.02) << "cue x 0.8^2 x 1.5 on outputs 3-4, channel " << channel;
      EXPECT_LT(a660, 0.005) << "no master in the headphones, channel " << channel;
    }
  }
}

}  // namespace
