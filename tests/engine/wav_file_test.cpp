#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <vector>

#include "engine/wav_file.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace fs = std::filesystem;

namespace {

// Frame k: left = (k mod 2000 - 1000) / 32767, right its negative, so the 16-bit values are
// exact integers a reader can check.
std::vector<float> RampFrames(uint64_t frames) {
  std::vector<float> samples(frames * 2);
  for (uint64_t k = 0; k < frames; ++k) {
    const float v = static_cast<float>(static_cast<int>(k % 2000) - 1000) / 32767.0f;
    samples[2 * k] = v;
    samples[2 * k + 1] = -v;
  }
  return samples;
}

}  // namespace

TEST(WavFile, ReadsBackWithSoxiAndFfprobe) {
  TempHome home;
  const std::string path = home.path() + "/ramp.wav";
  constexpr uint64_t kFrames = 12345;
  const std::vector<float> samples = RampFrames(kFrames);
  ASSERT_TRUE(WriteWavFile(Utf8ToWide(path), samples.data(), kFrames, 44100));
  EXPECT_TRUE(WriteTemps(std::filesystem::path(path).parent_path().native()).empty());
  EXPECT_EQ(fs::file_size(path), kWavHeaderBytes + kFrames * 4);

  const WavProbe soxi = ProbeWithSoxi(path);
  EXPECT_EQ(soxi.frames, 12345);
  EXPECT_EQ(soxi.rate, 44100);
  EXPECT_EQ(soxi.channels, 2);
  EXPECT_EQ(soxi.bits, 16);
  const WavProbe ffprobe = ProbeWithFfprobe(path);
  EXPECT_EQ(ffprobe.codec, "pcm_s16le");
  EXPECT_EQ(ffprobe.frames, 12345);
  EXPECT_EQ(ffprobe.rate, 44100);
  EXPECT_EQ(ffprobe.channels, 2);

  const std::vector<int16_t> decoded = DecodeWithSox(path);
  ASSERT_EQ(decoded.size(), kFrames * 2);
  for (uint64_t k = 0; k < kFrames; ++k) {
    const int expected = static_cast<int>(k % 2000) - 1000;
    ASSERT_EQ(decoded[2 * k], expected) << "frame " << k;
    ASSERT_EQ(decoded[2 * k + 1], -expected) << "frame " << k;
  }
}

TEST(WavFile, ClampsAndRoundsHalvesAwayFromZero) {
  TempHome home;
  const std::string path = home.path() + "/edges.wav";
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> in = {1.5f, -1.5f, 0.5f, -0.5f, 1.0f, -1.0f, 0.0f, -0.0f, nan, inf, -inf,
                                 1.5f / 32767.0f, -2.5f / 32767.0f, 0.4f / 32767.0f};
  const std::vector<int16_t> expected = {32767, -32767, 16384, -16384, 32767, -32767, 0, 0, 0,
                                         32767, -32767, 2,     -3,     0};
  ASSERT_TRUE(WriteWavFile(Utf8ToWide(path), in.data(), in.size() / 2, 48000));
  EXPECT_EQ(DecodeWithSox(path), expected);
}

TEST(WavFile, HeaderSizesFollowTheFrameCountAndStopAtTheLimit) {
  TempHome home;
  const std::string path = home.path() + "/empty.wav";
  ASSERT_TRUE(WriteWavFile(Utf8ToWide(path), nullptr, 0, 22050));
  const std::string bytes = ReadRaw(path);
  ASSERT_EQ(bytes.size(), kWavHeaderBytes);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(bytes.substr(36, 4), "data");
  EXPECT_EQ(LittleEndian32(bytes, 4), 36u);
  EXPECT_EQ(LittleEndian32(bytes, 24), 22050u);
  EXPECT_EQ(LittleEndian32(bytes, 28), 22050u * 4);
  EXPECT_EQ(LittleEndian32(bytes, 40), 0u);
  EXPECT_EQ(ProbeWithSoxi(path).frames, 0);

  // Ten seconds at 48 kHz, and counts at and beyond what 32 bits can describe.
  struct Case {
    uint64_t frames;
    uint32_t data, riff;
  };
  const Case cases[] = {{480000, 1920000, 1920036},
                        {kWavMaxFrames, 4294967244u, 4294967280u},
                        {kWavMaxFrames + 1, 4294967244u, 4294967280u},
                        {uint64_t(1) << 40, 4294967244u, 4294967280u}};
  for (const Case& c : cases) {
    uint8_t header[kWavHeaderBytes];
    BuildWavHeader(header, 48000, c.frames);
    const std::string h(reinterpret_cast<const char*>(header), sizeof header);
    EXPECT_EQ(LittleEndian32(h, 40), c.data) << c.frames;
    EXPECT_EQ(LittleEndian32(h, 4), c.riff) << c.frames;
    EXPECT_EQ(LittleEndian32(h, 40) % kWavBytesPerFrame, 0u) << c.frames;
  }
}

TEST(WavFile, FailuresLeaveNothingBehind) {
  TempHome home;
  const float frame[2] = {0.25f, -0.25f};

  // A folder where the file should go: the final rename fails after the data was written.
  const std::string folder = home.path() + "/in-the-way.wav";
  fs::create_directories(folder);
  EXPECT_FALSE(WriteWavFile(Utf8ToWide(folder), frame, 1, 44100));
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_TRUE(WriteTemps(std::filesystem::path(folder).parent_path().native()).empty());

  // No parent folder, and arguments a header cannot describe: nothing is created.
  EXPECT_FALSE(WriteWavFile(Utf8ToWide(home.path() + "/missing/x.wav"), frame, 1, 44100));
  EXPECT_FALSE(fs::exists(home.path() + "/missing"));
  const std::string bad = home.path() + "/bad.wav";
  EXPECT_FALSE(WriteWavFile(Utf8ToWide(bad), frame, 1, 0));
  EXPECT_FALSE(WriteWavFile(Utf8ToWide(bad), frame, 1, kWavMaxSampleRate + 1));
  EXPECT_FALSE(WriteWavFile(Utf8ToWide(bad), nullptr, 1, 44100));
  EXPECT_FALSE(WriteWavFile(Utf8ToWide(bad), frame, kWavMaxFrames + 1, 44100));
  EXPECT_FALSE(fs::exists(bad));
  EXPECT_TRUE(WriteTemps(std::filesystem::path(bad).parent_path().native()).empty());
}
