// The microphone and line input: packets to stereo, the input ring, and the real input thread
// capturing a null sink's monitor while a tone plays into the sink.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/audio_input.h"
#include "engine/engine.h"
#include "engine/render.h"
#include "platform/audio_stream.h"
#include "support/audio_server.h"

namespace {

constexpr int kRate = 48000;
constexpr int kPeriod = 480;
constexpr double kResyncLag = 2048.0;  // frames the render reads behind the writer after a resync

TEST(InputPackets, LouderOfTheFirstTwoChannelsOnBothSides) {
  // Right only, then left only, then a negative right louder than the left.
  const float stereo[] = {0.0f, 0.4f, 0.3f, 0.0f, 0.2f, -0.6f};
  float out[6];
  EXPECT_FLOAT_EQ(CaptureToStereo(stereo, 3, 2, kSampleFloat32, out), 0.6f);
  EXPECT_EQ(std::vector<float>(out, out + 6), (std::vector<float>{0.4f, 0.4f, 0.3f, 0.3f, -0.6f, -0.6f}));

  const float mono[] = {0.25f, -0.5f};
  EXPECT_FLOAT_EQ(CaptureToStereo(mono, 2, 1, kSampleFloat32, out), 0.5f);
  EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{0.25f, 0.25f, -0.5f, -0.5f}));

  // Four channels: the third and fourth are not listened to.
  const float quad[] = {0.1f, 0.0f, 0.9f, 0.9f};
  EXPECT_FLOAT_EQ(CaptureToStereo(quad, 1, 4, kSampleFloat32, out), 0.1f);
  EXPECT_FLOAT_EQ(out[1], 0.1f);
}

TEST(InputPackets, SixteenBitScaleAndSilentPackets) {
  const int16_t samples[] = {16384, 0, 0, -32768};
  float out[4] = {1, 1, 1, 1};
  EXPECT_FLOAT_EQ(CaptureToStereo(samples, 2, 2, kSampleInt16, out), 1.0f);
  EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{0.5f, 0.5f, -1.0f, -1.0f}));
  EXPECT_EQ(CaptureToStereo(nullptr, 2, 2, kSampleInt16, out), 0.0f);
  EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>(4, 0.0f))) << "a silent packet is zeros";
}

TEST(InputRing, WrapsAndNeverOverwritesWhatTheRenderHasNotRead) {
  auto engine = std::make_unique<AudioEngine>();
  engine->inputCapacity = 4;
  engine->inputRing.assign(8, 0.0f);
  engine->inputReadFrame.store(0);
  engine->inputDropped.store(0);
  const float first[] = {1, 1, 2, 2, 3, 3};
  EXPECT_EQ(WriteInputRing(*engine, first, 3), 3u);
  const float second[] = {4, 4, 5, 5};
  EXPECT_EQ(WriteInputRing(*engine, second, 2), 1u) << "one frame of room while the render is at frame 0";
  EXPECT_EQ(engine->inputWritten.load(), 4u);
  EXPECT_EQ(engine->inputDropped.load(), 1u);
  EXPECT_EQ(engine->inputRing, (std::vector<float>{1, 1, 2, 2, 3, 3, 4, 4}));

  // The render has read frames 0 and 1: their places take the next frames, in order.
  engine->inputReadFrame.store(2);
  const float longer[] = {6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11};
  EXPECT_EQ(WriteInputRing(*engine, longer, 6), 2u);
  EXPECT_EQ(engine->inputWritten.load(), 6u);
  EXPECT_EQ(engine->inputDropped.load(), 5u);
  EXPECT_EQ(engine->inputRing, (std::vector<float>{6, 6, 7, 7, 3, 3, 4, 4})) << "frames 2 and 3 are still unread";
}

// The capture thread writing as fast as it can while the render reads: each frame holds its own
// number (modulo 2^20), so a frame overwritten under the reader shows as a jump in what it plays.
TEST(InputRing, TheRenderBesideAFastWriterPlaysEveryFrameItReadsIntact) {
  constexpr uint64_t kCapacity = 3000;  // a little over the 2048 frames the render lags by
  constexpr uint32_t kWrap = 1u << 20;  // exact in a float, with room for the interpolation
  constexpr uint64_t kPacket = 256;
  constexpr int kHeardBlocks = 2000;  // blocks that found frames to read
  constexpr int kGiveUpSeconds = 60;
  auto engine = std::make_unique<AudioEngine>();
  PrepareRenderBuffers(*engine, kPeriod, kRate);
  engine->inputRing.assign(2 * kCapacity, 0.0f);
  engine->inputCapacity = kCapacity;
  engine->inputRate.store(kRate);
  engine->micGain = 0.5f;  // read gain 2 x 0.5^2 = 0.5, exact
  engine->inputOn.store(true);
  engine->inputCapturing.store(true);

  std::atomic<bool> stop{false};
  uint64_t offered = 0;
  std::thread writer([&] {
    float packet[2 * kPacket];
    while (!stop.load()) {
      const uint64_t at = engine->inputWritten.load();
      for (uint64_t i = 0; i < kPacket; ++i)
        packet[2 * i] = packet[2 * i + 1] = static_cast<float>((at + i) % kWrap);
      WriteInputRing(*engine, packet, kPacket);
      offered += kPacket;
    }
  });
  std::vector<float> out(2 * kPeriod);
  int torn = 0, heard = 0;
  std::string first;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(kGiveUpSeconds);
  while (heard < kHeardBlocks && std::chrono::steady_clock::now() < giveUp) {
    RenderMix(*engine, out.data(), kPeriod, kRate);
    double last = -1.0;
    for (int i = 0; i < kPeriod; ++i) {
      const double v = engine->micBuffer[2 * i] / 0.5;
      if (v == 0.0 && i > 0) break;  // caught up with the writer: silence to the block's end
      if (i > 0) {
        const double step = v - last;
        const bool next = (step > 0.5 && step < 1.5) || std::abs(step + kWrap) < 1.5;
        if (!next && torn++ == 0) first = std::to_string(last) + " then " + std::to_string(v);
      }
      last = v;
    }
    if (last > 0.0) ++heard;
  }
  stop.store(true);
  writer.join();
  EXPECT_EQ(torn, 0) << "frames overwritten while being read, first " << first;
  EXPECT_EQ(heard, kHeardBlocks) << "blocks that found the writer's frames";
  EXPECT_EQ(engine->inputWritten.load() + engine->inputDropped.load(), offered) << "every frame written or counted";
}

class InputDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(EnsureAudioServer(&why)) << why;
    engine = std::make_unique<AudioEngine>();
    PrepareRenderBuffers(*engine, kPeriod, kRate);
  }
  void TearDown() override { EnableInput(*engine, false, L""); }
  bool WaitCapturing() {
    return WaitFor([&] { return engine->inputCapturing.load() && engine->inputWritten.load() > 8192; }, kOpenWaitMs);
  }
  std::unique_ptr<AudioEngine> engine;
};

TEST_F(InputDevice, CapturesAToneIntoTheRing) {
  constexpr uint64_t kKeptFrames = 26460;
  TestSink mic("mic", 2, 44100, "s16le");
  ASSERT_TRUE(mic.ok());
  TonePlayer tone(mic.name(), 1000.0, 0.25, 2, 44100);
  EnableInput(*engine, true, mic.wname() + L".monitor");
  EXPECT_TRUE(InputEnabled(*engine));
  ASSERT_TRUE(WaitCapturing());
  EXPECT_EQ(engine->inputRate.load(), 44100);
  EXPECT_EQ(engine->inputCapacity, kInputRingFrames);
  EXPECT_TRUE(WaitFor([&] { return engine->inputPeak.load() > 0.2f; }, kOpenWaitMs));
  EXPECT_LT(engine->inputPeak.load(), 0.26f);

  // The newest half second of the ring holds the tone on both sides. A loaded machine can starve
  // the tone player for a moment: judge the best tenth of a second, over a few looks at the ring.
  // No render runs: the test reads in its place, and tells the writer it has read all but the
  // newest 0.6 s, which the writer then leaves alone.
  const auto consume = [&] {
    const uint64_t written = engine->inputWritten.load();
    engine->inputReadFrame.store(written > kKeptFrames ? written - kKeptFrames : 0);
  };
  ASSERT_TRUE(WaitFor([&] { return consume(), engine->inputWritten.load() > 44100; }, kOpenWaitMs));
  double best = 0.0;
  for (int look = 0; look < 4 && std::abs(best - 0.25) > 0.01; ++look) {
    if (look > 0) std::this_thread::sleep_for(std::chrono::milliseconds(400));
    consume();
    const uint64_t written = engine->inputWritten.load();
    std::vector<float> left, right;
    for (uint64_t f = written - 44100 / 2; f < written; ++f) {
      left.push_back(engine->inputRing[(f % engine->inputCapacity) * 2]);
      right.push_back(engine->inputRing[(f % engine->inputCapacity) * 2 + 1]);
    }
    EXPECT_EQ(left, right);
    for (size_t start = 0; start + 4410 <= left.size(); start += 4410)
      best = std::max(best, ToneAmplitude(std::vector<float>(left.begin() + start, left.begin() + start + 4410),
                                          1000.0, 44100));
  }
  EXPECT_NEAR(best, 0.25, 0.01);

  EnableInput(*engine, false, L"");
  EXPECT_FALSE(InputEnabled(*engine));
  EXPECT_FALSE(engine->inputCapturing.load());
  EXPECT_FALSE(engine->inputThread.joinable());
}

TEST_F(InputDevice, OffAndOnAgainResynchronisesTheReader) {
  TestSink mic("resync", 2);
  ASSERT_TRUE(mic.ok());
  TonePlayer tone(mic.name(), 500.0, 0.25);
  EnableInput(*engine, true, mic.wname() + L".monitor");
  ASSERT_TRUE(WaitCapturing());
  std::vector<float> out(2 * kPeriod);
  RenderMix(*engine, out.data(), kPeriod, kRate);
  // A full ring of capture (nothing reads it now), so the count's reset shows even when the new
  // session has begun to write before the check.
  ASSERT_TRUE(WaitFor([&] { return engine->inputWritten.load() >= kInputRingFrames; }, kOpenWaitMs));
  const uint64_t firstSession = engine->inputWritten.load();

  EnableInput(*engine, false, L"");
  EnableInput(*engine, true, mic.wname() + L".monitor");
  EXPECT_TRUE(engine->inputResync.load());
  EXPECT_LT(engine->inputWritten.load(), firstSession / 2);
  ASSERT_TRUE(WaitCapturing());
  const double before = static_cast<double>(engine->inputWritten.load());
  RenderMix(*engine, out.data(), kPeriod, kRate);
  const double after = static_cast<double>(engine->inputWritten.load());
  EXPECT_FALSE(engine->inputResync.load());
  // One period read at the rate ratio (within the 1 % drift) from 2048 frames behind the writer.
  EXPECT_GE(engine->inputReadPos, before - kResyncLag + kPeriod * 0.98);
  EXPECT_LE(engine->inputReadPos, after - kResyncLag + kPeriod * 1.02);
  // The tone comes through at the microphone's read gain, 2 x 0.8^2. A loaded machine can leave a
  // gap in the tone player's stream, so the best of a few periods counts.
  double best = ToneAmplitude(Channel(out, 2, 0), 500.0, kRate);
  for (int period = 0; period < 8 && std::abs(best - 0.25 * 1.28) > 0.03; ++period) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kPeriod * 1000 / kRate));
    RenderMix(*engine, out.data(), kPeriod, kRate);
    best = std::max(best, ToneAmplitude(Channel(out, 2, 0), 500.0, kRate));
  }
  EXPECT_NEAR(best, 0.25 * 1.28, 0.03);
}

TEST_F(InputDevice, AMissingDeviceFallsBackToTheDefaultInput) {
  EnableInput(*engine, true, L"no_such_source_anywhere");
  EXPECT_TRUE(WaitCapturing()) << "the default source captures instead";
  EXPECT_GT(engine->inputRate.load(), 0);
}

}  // namespace
