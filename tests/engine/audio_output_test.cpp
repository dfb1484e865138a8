// The outputs: sample conversion, routes onto channel pairs, the secondary ring reader, and the
// real output threads on a real sound server's null sinks, recorded from their monitors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/audio_output.h"
#include "engine/engine.h"
#include "engine/render.h"
#include "support/audio_server.h"

namespace {

constexpr int kRate = 48000;
constexpr double kPi = 3.141592653589793;
constexpr float kTone = 0.5f;
constexpr double kToneRms = 0.5 / 1.4142135623730951;
constexpr size_t kEdgeFrames = 4800;  // 100 ms left out at each end of a recording

TrackPtr Sine(double hz, float amplitude, double seconds = 20.0, int rate = kRate) {
  auto track = std::make_shared<Track>();
  track->sampleRate = rate;
  track->frames = static_cast<uint64_t>(seconds * rate);
  track->samples.resize(track->frames * 2);
  for (uint64_t i = 0; i < track->frames; ++i)
    track->samples[2 * i] = track->samples[2 * i + 1] =
        amplitude * static_cast<float>(std::sin(2 * kPi * hz * static_cast<double>(i) / rate));
  return track;
}

// Under the engine lock, as the program sets a deck: the output thread may be rendering.
void PlayNeutral(AudioEngine& engine, DeckState& deck, TrackPtr track) {
  std::lock_guard<RealtimeMutex> hold(engine.lock);
  deck.track = std::move(track);
  deck.playing = true;
  deck.fadeIn = 1.0f;
  deck.fader = 1.0f;
}

// Level and pitch of a recording: medians over 50 ms windows, so that the glitches of a loaded
// machine (an underrun skips or repeats a little) decide nothing.
double LevelOf(const std::vector<float>& x, int rate) { return MedianOverWindows(x, rate / 20, Rms); }
double PitchOf(const std::vector<float>& x, int rate) {
  return MedianOverWindows(x, rate / 20, [rate](const std::vector<float>& w) { return ZeroCrossingHz(w, rate); });
}

DeviceRun RunWith(int channels) {
  DeviceRun run;
  run.channels = channels;
  run.bufferFrames = 64;
  ReadDeviceChannels(run);
  return run;
}

// ---------------------------------------------------------------------------------------------
// Sample conversion

TEST(OutputConvert, EachFormatClampsAndScales) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float in[] = {0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 2.0f, -2.0f, nan};
  uint8_t out[sizeof in];

  ConvertSamples(in, 8, kSampleInt16, out);
  int16_t s16[8];
  std::memcpy(s16, out, sizeof s16);
  EXPECT_EQ(std::vector<int16_t>(s16, s16 + 8),
            (std::vector<int16_t>{0, 16384, -16384, 32767, -32767, 32767, -32767, 0}));

  ConvertSamples(in, 8, kSampleInt32, out);
  int32_t s32[8];
  std::memcpy(s32, out, sizeof s32);
  EXPECT_EQ(std::vector<int32_t>(s32, s32 + 8), (std::vector<int32_t>{0, 1073741696, -1073741696, 2147483392,
                                                                       -2147483392, 2147483392, -2147483392, 0}));

  ConvertSamples(in, 8, kSampleInt24Packed, out);
  const std::vector<uint8_t> packed(out, out + 24);
  EXPECT_EQ(packed, (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0xC0, 0xFF, 0xFF, 0x7F,
                                          0x01, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00}));

  ConvertSamples(in, 8, kSampleFloat32, out);
  float f[8];
  std::memcpy(f, out, sizeof f);
  EXPECT_EQ(std::vector<float>(f, f + 8), (std::vector<float>{0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 2.0f, -2.0f, 0.0f}))
      << "float is copied as it is, but never as NaN";
}

// ---------------------------------------------------------------------------------------------
// Routes onto device channels

TEST(OutputRoutes, PairsMapOntoDeviceChannels) {
  const float a[] = {0.1f, 0.2f, 0.3f, 0.4f};
  const float b[] = {0.5f, 0.6f, 0.7f, 0.8f};
  DeviceRun quad = RunWith(4);
  float out[8];
  bool flag = true;
  const OutputRoute routes[] = {{a, 1}, {b, 0}, {b, 2}};  // pair 2 does not exist on 4 channels
  MixRoutes(quad, routes, 3, 2, out, flag);
  EXPECT_EQ(std::vector<float>(out, out + 8), (std::vector<float>{0.5f, 0.6f, 0.1f, 0.2f, 0.7f, 0.8f, 0.3f, 0.4f}));
  EXPECT_FALSE(flag);

  // Two routes on one pair add up.
  const OutputRoute same[] = {{a, 0}, {b, 0}};
  DeviceRun stereo = RunWith(2);
  MixRoutes(stereo, same, 2, 2, out, flag);
  EXPECT_FLOAT_EQ(out[0], 0.6f);
  EXPECT_FLOAT_EQ(out[3], 1.2f);

  // A native channel the stream does not carry: its sample is dropped and the flag raised.
  quad.channelMap = {0, 1, 2, -1};
  MixRoutes(quad, routes, 2, 2, out, flag);
  EXPECT_TRUE(flag);
  EXPECT_FLOAT_EQ(out[2], 0.1f);
  EXPECT_FLOAT_EQ(out[3], 0.0f);
  const OutputRoute first[] = {{b, 0}};
  MixRoutes(quad, first, 1, 2, out, flag);
  EXPECT_FALSE(flag) << "only a route whose pair loses a channel raises the flag";
}

TEST(OutputRoutes, MonoDeviceTakesTheFirstRouteAsTheMean) {
  const float master[] = {0.2f, 0.4f, -1.0f, 0.0f};
  const float phones[] = {1.0f, 1.0f, 1.0f, 1.0f};
  DeviceRun mono = RunWith(1);
  const OutputRoute routes[] = {{master, 0}, {phones, 1}};
  float out[2];
  bool flag = true;
  MixRoutes(mono, routes, 2, 2, out, flag);
  EXPECT_FLOAT_EQ(out[0], 0.3f);
  EXPECT_FLOAT_EQ(out[1], -0.5f);
  EXPECT_FALSE(flag);
}

TEST(OutputRoutes, MasterPeriodRoutes) {
  auto engine = std::make_unique<AudioEngine>();
  PrepareRenderBuffers(*engine, 64, kRate);
  const float master[128] = {};
  OutputRoute routes[kMaxOutputRoutes];
  const DeviceRun stereo = RunWith(2), quad = RunWith(4), six = RunWith(6);

  // A master pair the device lacks falls back to pair 0.
  engine->masterPair = 3;
  ASSERT_EQ(BuildMasterRoutes(*engine, TakeMasterRouting(*engine), stereo, master, routes), 1);
  EXPECT_EQ(routes[0].buffer, master);
  EXPECT_EQ(routes[0].pair, 0);

  // Headphones on the master device: their own pair when it exists.
  engine->masterPair = 0;
  engine->phonesOnMaster = true;
  engine->phonesPair = 1;
  ASSERT_EQ(BuildMasterRoutes(*engine, TakeMasterRouting(*engine), quad, master, routes), 2);
  EXPECT_EQ(routes[1].buffer, engine->phonesBuffer.data());
  EXPECT_EQ(routes[1].pair, 1);
  EXPECT_EQ(BuildMasterRoutes(*engine, TakeMasterRouting(*engine), stereo, master, routes), 1) << "a missing headphone pair is skipped";

  // The cue mix never lands on the master's pair, also not after the master fell back to 0.
  engine->phonesPair = 0;
  EXPECT_EQ(BuildMasterRoutes(*engine, TakeMasterRouting(*engine), quad, master, routes), 1);
  engine->masterPair = 5;
  EXPECT_EQ(BuildMasterRoutes(*engine, TakeMasterRouting(*engine), quad, master, routes), 1);
  EXPECT_EQ(routes[0].pair, 0);

  // Booth next to headphones; never on a pair already taken.
  engine->masterPair = 0;
  engine->phonesPair = 1;
  engine->boothOnMaster = true;
  engine->boothPair = 2;
  ASSERT_EQ(BuildMasterRoutes(*engine, TakeMasterRouting(*engine), six, master, routes), 3);
  EXPECT_EQ(routes[2].buffer, engine->boothBuffer.data());
  EXPECT_EQ(routes[2].pair, 2);
  engine->boothPair = 1;
  EXPECT_EQ(BuildMasterRoutes(*engine, TakeMasterRouting(*engine), six, master, routes), 2);

  // External mixer: deck d on pair d, the extra buffer on the next pair, else on pair 0.
  engine->externalMixer = true;
  engine->deckCount = 2;
  ASSERT_EQ(BuildMasterRoutes(*engine, TakeMasterRouting(*engine), six, master, routes), 3);
  EXPECT_EQ(routes[0].buffer, engine->deckOutBuffers[0].data());
  EXPECT_EQ(routes[1].buffer, engine->deckOutBuffers[1].data());
  EXPECT_EQ(routes[1].pair, 1);
  EXPECT_EQ(routes[2].buffer, engine->extraBuffer.data());
  EXPECT_EQ(routes[2].pair, 2);
  ASSERT_EQ(BuildMasterRoutes(*engine, TakeMasterRouting(*engine), stereo, master, routes), 3);
  EXPECT_EQ(routes[2].pair, 0);
  engine->deckCount = 9;
  ASSERT_EQ(BuildMasterRoutes(*engine, TakeMasterRouting(*engine), six, master, routes), 5) << "four decks at most";
  EXPECT_EQ(routes[4].pair, 0);
  engine->deckCount = 0;
  EXPECT_EQ(BuildMasterRoutes(*engine, TakeMasterRouting(*engine), six, master, routes), 2) << "one deck at least";
}

// ---------------------------------------------------------------------------------------------
// The secondary outputs' ring reader

class OutputSecondaryRing : public ::testing::Test {
 protected:
  void SetUp() override { RingResize(ring, kSecondaryRingFrames); }
  // Writes frames whose samples are their running frame number (left) and its negative (right).
  void WriteCounting(uint64_t count) {
    std::vector<float> frames(count * 2);
    const uint64_t first = ring.written.load();
    for (uint64_t i = 0; i < count; ++i) {
      frames[2 * i] = static_cast<float>(first + i);
      frames[2 * i + 1] = -static_cast<float>(first + i);
    }
    ASSERT_EQ(RingWrite(ring, frames.data(), count), count);
  }
  SpscRing ring;
  std::vector<float> out = std::vector<float>(2 * 480);
  static constexpr double kTarget = 2048.0;
};

TEST_F(OutputSecondaryRing, InterpolatesAtTheRateRatio) {
  WriteCounting(static_cast<uint64_t>(kTarget) + 1000);
  SecondaryReader reader{1000.0, true, {}};  // the fill is exactly the target
  ReadSecondaryRing(ring, reader, kTarget, 24000, kRate, out.data(), 100);
  for (int i = 0; i < 100; ++i) {
    EXPECT_FLOAT_EQ(out[2 * i], 1000.0f + 0.5f * i);
    EXPECT_FLOAT_EQ(out[2 * i + 1], -(1000.0f + 0.5f * i));
  }
  EXPECT_FALSE(reader.priming);
  EXPECT_DOUBLE_EQ(reader.position, 1050.0);
  EXPECT_EQ(ring.read.load(), 1050u) << "the read count is the whole part of the position";
}

// The master writes 984-frame blocks at 48 kHz, the headphones read 441-frame periods at 44.1 kHz,
// on clocks that agree or that part by 0.2 %. Each period's step against the rate ratio is the
// pitch heard: steady from the start, and following the writer without running dry or far ahead.
TEST_F(OutputSecondaryRing, HoldsThePitchAcrossBlocksAndFollowsAnotherClock) {
  constexpr int kBlock = 984, kDeviceRate = 44100, kDevicePeriod = 441;
  for (const double writerSpeed : {1.0, 1.002, 0.998}) {
    SCOPED_TRACE(writerSpeed);
    RingResize(ring, kSecondaryRingFrames);
    SecondaryReader reader;
    std::vector<float> period(2 * kDevicePeriod);
    std::vector<double> nudges;  // per period once playing
    double writeAt = 0.0, readAt = 0.0, lowest = 1e9, highest = 0.0;
    bool started = false, ranDry = false;
    while (readAt < 30.0) {
      if (writeAt <= readAt) {
        WriteCounting(kBlock);
        writeAt += kBlock / (kRate * writerSpeed);
        continue;
      }
      const double before = reader.position;
      ReadSecondaryRing(ring, reader, kTarget, kRate, kDeviceRate, period.data(), kDevicePeriod);
      readAt += static_cast<double>(kDevicePeriod) / kDeviceRate;
      if (reader.priming) {
        ranDry |= started;
        continue;
      }
      if (started) nudges.push_back((reader.position - before) / kDevicePeriod * kDeviceRate / kRate - 1.0);
      started = true;
      const double fill = static_cast<double>(ring.written.load()) - reader.position;
      lowest = std::min(lowest, fill);
      highest = std::max(highest, fill);
    }
    ASSERT_TRUE(started);
    EXPECT_FALSE(ranDry);
    EXPECT_GT(lowest, 0.0);
    EXPECT_LT(highest, 0.75 * kSecondaryRingFrames) << "never so far behind that it jumps";
    const double want = writerSpeed - 1.0;
    double worst = 0.0, lastSecond = 0.0;
    for (size_t i = 0; i < nudges.size(); ++i) {
      // Between the clocks' pitch and its own: no warble with the blocks, no overshoot.
      worst = std::max(worst, std::abs(nudges[i] - std::clamp(nudges[i], std::min(want, 0.0), std::max(want, 0.0))));
      if (i + 100 >= nudges.size()) lastSecond += nudges[i] / 100.0;
    }
    EXPECT_LT(worst, 3e-4) << "half a cent";
    EXPECT_NEAR(lastSecond, want, 2e-4) << "at the writer's pace after 30 s";
  }
}

TEST_F(OutputSecondaryRing, WaitsForTheTargetAndNeverOvertakesTheWriter) {
  // A fresh ring with less than the target written: silence, and the position stays at 0
  // rather than written - target, which is negative.
  SecondaryReader reader;
  WriteCounting(100);
  ReadSecondaryRing(ring, reader, kTarget, kRate, kRate, out.data(), 480);
  EXPECT_EQ(reader.position, 0.0);
  EXPECT_TRUE(reader.priming);
  for (int i = 0; i < 960; ++i) ASSERT_EQ(out[i], 0.0f);

  // Filled beyond the target, it starts the target behind the writer, where the drift
  // correction is at rest.
  WriteCounting(static_cast<uint64_t>(kTarget) - 100 + 50);
  ReadSecondaryRing(ring, reader, kTarget, kRate, kRate, out.data(), 480);
  EXPECT_FALSE(reader.priming);
  for (int i = 0; i < 480; ++i) ASSERT_EQ(out[2 * i], 50.0f + i);

  // A far faster reader (192 kHz master into an 8 kHz device) runs dry and holds at the writer.
  ReadSecondaryRing(ring, reader, kTarget, 192000, 8000, out.data(), 480);
  const uint64_t written = ring.written.load();
  EXPECT_LE(reader.position, static_cast<double>(written));
  EXPECT_LE(ring.read.load(), written);
  EXPECT_LE(RingFill(ring), ring.capacity) << "a read count past the writer wraps the fill";
  EXPECT_EQ(out[2 * 479], 0.0f);
  EXPECT_TRUE(reader.priming) << "running dry waits for the target again";
  WriteCounting(100);
  ReadSecondaryRing(ring, reader, kTarget, kRate, kRate, out.data(), 10);
  EXPECT_EQ(out[0], 0.0f);

  // A position past the writer (a negative fill) moves back to the target behind it, but never
  // before frame 0.
  reader = {5000.0, false, {}};
  ReadSecondaryRing(ring, reader, kTarget, kRate, kRate, out.data(), 10);
  EXPECT_EQ(out[0], static_cast<float>(ring.written.load() - kTarget));
  RingResize(ring, kSecondaryRingFrames);
  WriteCounting(100);
  reader = {5000.0, false, {}};
  ReadSecondaryRing(ring, reader, kTarget, kRate, kRate, out.data(), 10);
  EXPECT_EQ(out[0], 0.0f);
  EXPECT_GE(reader.position, 0.0);
  EXPECT_LE(ring.read.load(), ring.written.load());
}

TEST_F(OutputSecondaryRing, FarBehindJumpsToTheTarget) {
  WriteCounting(30000);  // more than 0.75 of the ring waits
  SecondaryReader reader;
  ReadSecondaryRing(ring, reader, kTarget, kRate, kRate, out.data(), 10);
  EXPECT_FLOAT_EQ(out[0], static_cast<float>(30000 - kTarget));
  EXPECT_EQ(ring.read.load(), static_cast<uint64_t>(30000 - kTarget + 10));
}

TEST_F(OutputSecondaryRing, SilentWhileTheMasterRateIsUnknown) {
  WriteCounting(3000);
  SecondaryReader reader{500.0, false, {}};
  std::fill(out.begin(), out.end(), 7.0f);
  ReadSecondaryRing(ring, reader, kTarget, 0, kRate, out.data(), 100);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(out[i], 0.0f);
  EXPECT_EQ(reader.position, 500.0);
}

// ---------------------------------------------------------------------------------------------
// The real output threads on a sound server

class OutputDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(EnsureAudioServer(&why)) << why;
    engine = std::make_unique<AudioEngine>();
  }
  void TearDown() override {
    if (engine) StopOutputs(*engine);
  }
  bool WaitRunning(bool running) {
    return WaitFor([&] { return engine->outputRunning.load() == running; }, kOpenWaitMs);
  }
  std::unique_ptr<AudioEngine> engine;
};

TEST_F(OutputDevice, PlaysTheMixOnItsSinkAndPublishesItsState) {
  TestSink sink("master", 2);
  ASSERT_TRUE(sink.ok());
  PlayNeutral(*engine, engine->decks[0], Sine(440, kTone));
  MonitorRecording recording(sink.monitor(), 2, kRate);
  OutputConfig config;
  config.masterDevice = sink.wname();
  StartOutput(*engine, config);
  ASSERT_TRUE(WaitRunning(true));
  EXPECT_EQ(engine->sampleRate.load(), kRate);
  EXPECT_EQ(engine->outputChannels.load(), 2);
  EXPECT_EQ(engine->shareMode.load(), kShareShared);
  EXPECT_GE(engine->bufferFrames.load(), kRate / 100) << "at least the 10 ms period";
  EXPECT_FALSE(engine->phones.thread.joinable());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  StopOutputs(*engine);
  EXPECT_FALSE(engine->outputRunning.load());
  EXPECT_FALSE(engine->masterThread.joinable());
  EXPECT_FALSE(engine->lastWriteFlag.load());
  EXPECT_GT(engine->loadPeak.load(), 0.0f);

  const std::vector<float> samples = recording.Stop();
  for (int channel = 0; channel < 2; ++channel) {
    const std::vector<float> x = SoundingPart(Channel(samples, 2, channel), 0.05f, kEdgeFrames);
    ASSERT_GT(x.size(), static_cast<size_t>(kRate)) << "channel " << channel;
    EXPECT_NEAR(LevelOf(x, kRate), kToneRms, 0.005) << "channel " << channel;
    EXPECT_NEAR(PitchOf(x, kRate), 440.0, 0.5) << "channel " << channel;
  }
}

TEST_F(OutputDevice, LowLatencyShortensTheBufferAndExclusiveFallsBack) {
  TestSink sink("modes", 2);
  ASSERT_TRUE(sink.ok());
  OutputConfig config;
  config.masterDevice = sink.wname();
  StartOutput(*engine, config);
  ASSERT_TRUE(WaitRunning(true));
  const int32_t sharedFrames = engine->bufferFrames.load();

  config.shareMode = kShareLowLatency;
  config.bufferMs = 4;
  StartOutput(*engine, config);
  ASSERT_TRUE(WaitRunning(true));
  EXPECT_EQ(engine->shareMode.load(), kShareLowLatency);
  EXPECT_LT(engine->bufferFrames.load(), sharedFrames);

  // A null sink has no sound card of its own: exclusive mode opens shared, low latency.
  PlayNeutral(*engine, engine->decks[0], Sine(440, kTone));
  MonitorRecording recording(sink.monitor(), 2, kRate);
  config.shareMode = kShareExclusive;
  config.bufferMs = 10;  // a loaded test machine keeps up with 10 ms
  StartOutput(*engine, config);
  ASSERT_TRUE(WaitRunning(true));
  EXPECT_EQ(engine->shareMode.load(), kShareLowLatency);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  StopOutputs(*engine);
  const std::vector<float> x = SoundingPart(Channel(recording.Stop(), 2, 0), 0.05f, kEdgeFrames);
  ASSERT_GT(x.size(), static_cast<size_t>(kRate) / 4);
  EXPECT_NEAR(PitchOf(x, kRate), 440.0, 1.0);
}

// The engine held past a block's time (as a slow UI step would) costs blocks, which are played
// again and counted as lost to the lock, apart from late wake-ups and late renders; once the
// hold ends, no block is lost.
TEST_F(OutputDevice, AHoldPastTheBlockRepeatsBlocksCountedApart) {
  TestSink sink("held", 2);
  ASSERT_TRUE(sink.ok());
  OutputConfig config;
  config.masterDevice = sink.wname();
  StartOutput(*engine, config);
  ASSERT_TRUE(WaitRunning(true));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const uint32_t before = engine->renderLockMisses.load();
  {
    std::lock_guard<RealtimeMutex> hold(engine->lock);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
  }
  EXPECT_TRUE(WaitFor([&] { return engine->renderLockMisses.load() > before; }, kOpenWaitMs))
      << "a 400 ms hold cost no block";
  const uint32_t held = engine->renderLockMisses.load();
  EXPECT_LE(held - before, 45u) << "more blocks lost than a 400 ms hold spans";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  StopOutputs(*engine);
  EXPECT_EQ(engine->renderLockMisses.load(), held) << "blocks lost with nothing holding the engine";
}

TEST_F(OutputDevice, RemovedDeviceEndsTheRunAndTheOutputReopens) {
  // Nothing plays: the reopened run lands on the server's default sink, which others may record.
  TestSink sink("unplug", 2);
  ASSERT_TRUE(sink.ok());
  OutputConfig config;
  config.masterDevice = sink.wname();
  StartOutput(*engine, config);
  ASSERT_TRUE(WaitRunning(true));
  sink.Remove();
  EXPECT_TRUE(WaitRunning(false)) << "the run ends when its device goes";
  EXPECT_TRUE(WaitRunning(true)) << "and the output reopens on the default device";
  EXPECT_TRUE(engine->masterThread.joinable());
}

TEST_F(OutputDevice, WithoutAServerItKeepsTryingAndStops) {
  const char* saved = std::getenv("PULSE_SERVER");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("PULSE_SERVER", "unix:/nonexistent/veldmix/native", 1);
  StartOutput(*engine, OutputConfig{});
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_FALSE(engine->outputRunning.load());
  EXPECT_TRUE(engine->masterThread.joinable()) << "the thread stays to retry";
  StopOutputs(*engine);
  EXPECT_FALSE(engine->masterThread.joinable());
  setenv("PULSE_SERVER", previous.c_str(), 1);
}

TEST_F(OutputDevice, HeadphonesOnTheirOwnDeviceGetTheCue) {
  TestSink master("main", 2);
  TestSink phones("phones", 2, 44100, "s16le");
  ASSERT_TRUE(master.ok() && phones.ok());
  DeckState& deck = engine->decks[0];
  PlayNeutral(*engine, deck, Sine(440, kTone));
  deck.fader = 0.0f;  // only the cue sounds, from the first block on
  deck.gainLast[4] = 0.0f;
  deck.cue = true;
  deck.gainLast[5] = 1.0f;
  engine->headphoneMix = 0.0f;
  engine->headphoneVolume = 0.8f;
  MonitorRecording mainRecording(master.monitor(), 2, kRate);
  MonitorRecording phonesRecording(phones.monitor(), 2, 44100);
  OutputConfig config;
  config.masterDevice = master.wname();
  config.phonesMode = kPhonesOwnOutput;
  config.phonesDevice = phones.wname();
  config.phonesPair = 1;  // the default; a stereo device of their own plays them on pair 0
  StartOutput(*engine, config);
  EXPECT_FALSE(engine->phonesOnMaster);
  ASSERT_TRUE(WaitRunning(true));
  ASSERT_TRUE(WaitFor([&] { return engine->phones.running.load(); }, kOpenWaitMs));
  // 1.5 s of the mix as the headphone device took it, however slowly this machine runs.
  const uint64_t from = engine->phones.ring.written.load();
  ASSERT_TRUE(WaitFor([&] { return engine->phones.ring.read.load() >= from + kRate * 3 / 2; }, kOpenWaitMs));
  StopOutputs(*engine);
  EXPECT_FALSE(engine->phones.running.load());
  EXPECT_FALSE(engine->phones.thread.joinable());

  const std::vector<float> cue = SoundingPart(Channel(phonesRecording.Stop(), 2, 1), 0.05f, kEdgeFrames);
  ASSERT_GT(cue.size(), 44100u / 2);
  // Cue x 0.8^2 x 1.5, through the soft knee (the peak 0.48 stays below it).
  EXPECT_NEAR(LevelOf(cue, 44100), kToneRms * 0.96, 0.01);
  EXPECT_NEAR(PitchOf(cue, 44100), 440.0, 1.0) << "resampled from the master rate without a pitch change";
  EXPECT_LT(Rms(Channel(mainRecording.Stop(), 2, 0)), 0.001) << "the master carries no cue";
}

TEST_F(OutputDevice, HeadphonesOnTheMasterDeviceRunNoThreadOfTheirOwn) {
  TestSink quad("quad", 4);
  TestSink booth("booth", 2);
  ASSERT_TRUE(quad.ok() && booth.ok());
  OutputConfig config;
  config.masterDevice = quad.wname();
  config.masterPair = -3;
  config.phonesMode = kPhonesOwnOutput;
  config.phonesDevice = quad.wname();
  config.boothDevice = booth.wname();
  StartOutput(*engine, config);
  EXPECT_EQ(engine->masterPair, 0) << "a negative pair becomes 0";
  EXPECT_TRUE(engine->phonesOnMaster);
  EXPECT_FALSE(engine->phones.wanted.load());
  EXPECT_FALSE(engine->phones.thread.joinable());
  EXPECT_FALSE(engine->boothOnMaster);
  EXPECT_TRUE(engine->booth.wanted.load());
  EXPECT_TRUE(WaitFor([&] { return engine->booth.running.load(); }, kOpenWaitMs));
  EXPECT_EQ(engine->booth.ring.capacity, kSecondaryRingFrames);

  // Following the default device, a headphone id equal to the default's id counts as the same.
  const std::wstring defaultId = DefaultAudioDeviceId(kRenderFlow);
  ASSERT_FALSE(defaultId.empty());
  OutputConfig following;
  following.phonesMode = kPhonesOwnOutput;
  following.phonesDevice = defaultId;
  following.boothDevice = defaultId;
  StartOutput(*engine, following);
  EXPECT_TRUE(engine->phonesOnMaster);
  EXPECT_TRUE(engine->boothOnMaster);
  EXPECT_FALSE(engine->booth.thread.joinable());
}

TEST(OutputDevices, ListsSinksAndSourcesWithTheirChannels) {
  std::string why;
  ASSERT_TRUE(EnsureAudioServer(&why)) << why;
  TestSink quad("list", 4, 44100, "s16le", "Deck Card (Four Outs)");
  ASSERT_TRUE(quad.ok());
  bool sink = false, monitor = false;
  for (const AudioDevice& d : ListOutputDevices())
    if (d.id == quad.wname()) {
      sink = true;
      EXPECT_EQ(d.name, L"Deck Card (Four Outs)");
      EXPECT_EQ(d.channels, 4);
      EXPECT_EQ(DeviceIdString(d), d.id);
    }
  for (const AudioDevice& d : ListInputDevices())
    if (d.id == quad.wname() + L".monitor") {
      monitor = true;
      EXPECT_EQ(d.channels, 4);
    }
  EXPECT_TRUE(sink);
  EXPECT_TRUE(monitor);

  // Two cards of one model: each name says which is which, the others' names stay as they are.
  TestSink first("twin", 2, 48000, "float32le", "Twin Card"), second("twin", 2, 48000, "float32le", "Twin Card");
  ASSERT_TRUE(first.ok() && second.ok());
  std::vector<std::wstring> twins;
  for (const AudioDevice& d : ListOutputDevices()) {
    if (d.id == first.wname() || d.id == second.wname()) twins.push_back(d.name);
    if (d.id == quad.wname()) EXPECT_EQ(d.name, L"Deck Card (Four Outs)");
  }
  EXPECT_EQ(twins, (std::vector<std::wstring>{L"Twin Card (" + first.wname() + L")", L"Twin Card (" + second.wname() + L")"}));
}

}  // namespace
