#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "broadcast/video_encoders.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace {

constexpr uint32_t Bgra(int r, int g, int b) {
  return 0xFF000000u | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 |
         static_cast<uint32_t>(b);
}

// The NAL units of an Annex B buffer (start codes and the zeros before them removed).
std::vector<std::vector<uint8_t>> SplitAnnexB(std::span<const uint8_t> data) {
  std::vector<size_t> starts;  // first byte after each start code
  for (size_t i = 0; i + 3 <= data.size(); ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) starts.push_back(i + 3);
  std::vector<std::vector<uint8_t>> units;
  for (size_t k = 0; k < starts.size(); ++k) {
    size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : data.size();
    while (end > starts[k] && data[end - 1] == 0) --end;
    units.emplace_back(data.begin() + static_cast<ptrdiff_t>(starts[k]),
                       data.begin() + static_cast<ptrdiff_t>(end));
  }
  return units;
}

bool HasNalType(const std::vector<std::vector<uint8_t>>& units, int type) {
  for (const auto& u : units)
    if (!u.empty() && (u[0] & 31) == type) return true;
  return false;
}

struct VideoOut {
  std::vector<uint8_t> stream;  // every sample appended, as a raw .h264 file
  std::vector<EncodedSample> samples;
  std::vector<std::vector<uint8_t>> bytes;  // each sample's own copy
};

SampleCallback Collect(VideoOut& out) {
  return [&out](const EncodedSample& s) {
    out.stream.insert(out.stream.end(), s.data.begin(), s.data.end());
    out.bytes.emplace_back(s.data.begin(), s.data.end());
    out.samples.push_back(s);
    out.samples.back().data = {};
    return true;
  };
}

// A moving gradient, so that frames differ and the encoder has real work.
std::vector<uint8_t> PatternFrame(int width, int height, int index) {
  std::vector<uint32_t> bgra(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      bgra[static_cast<size_t>(y) * width + x] =
          Bgra((x + index * 4) & 255, (y * 2) & 255, (x + y + index) & 255);
  std::vector<uint8_t> nv12(Nv12Size(width, height));
  ConvertToNv12(bgra.data(), width, height, nv12.data());
  return nv12;
}

}  // namespace

// --- Colour conversion --------------------------------------------------------------------------

TEST(EncoderNv12, WhiteAndBlackGiveTheLimitedRangeEnds) {
  for (const auto& [pixel, y, u, v] : {std::tuple{Bgra(255, 255, 255), 235, 127, 128},
                                       std::tuple{Bgra(0, 0, 0), 16, 128, 128}}) {
    std::vector<uint32_t> frame(4 * 4, pixel);
    std::vector<uint8_t> nv12(Nv12Size(4, 4), 0xAA);
    ConvertToNv12(frame.data(), 4, 4, nv12.data());
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(nv12[i], y) << "Y " << i;
    for (size_t i = 16; i < nv12.size(); i += 2) {
      EXPECT_EQ(nv12[i], u) << "U " << i;
      EXPECT_EQ(nv12[i + 1], v) << "V " << i;
    }
  }
}

TEST(EncoderNv12, PlanesAndBlockAveragesFollowTheIntegerFormulas) {
  // 4 x 2: the left 2 x 2 block is red, red / blue, black; the right one is all green.
  const uint32_t red = Bgra(255, 0, 0), blue = Bgra(0, 0, 255), black = Bgra(0, 0, 0),
                 green = Bgra(0, 255, 0);
  const std::vector<uint32_t> frame = {red, red, green, green, blue, black, green, green};
  std::vector<uint8_t> nv12(Nv12Size(4, 2));
  ConvertToNv12(frame.data(), 4, 2, nv12.data());
  // Y: red 63, green 172, blue 32, black 16 (computed by hand from the coefficients).
  const std::vector<uint8_t> expected = {63, 63, 172, 172, 32, 16, 172, 172,
                                         // left block averages R 128, G 0, B 64 -> U 143, V 182;
                                         // green floors negative sums -> U 41, V 26.
                                         143, 182, 41, 26};
  EXPECT_EQ(nv12, expected);
}

// --- H.264 --------------------------------------------------------------------------------------

TEST(EncoderH264, AnnexBMainProfileWithAKeyFrameEverySixtyFrames) {
  constexpr int kWidth = 320, kHeight = 240, kFrames = 130;
  Encoder encoder;
  std::wstring error;
  ASSERT_TRUE(OpenH264Encoder(encoder, kWidth, kHeight, 800, error)) << error.size();
  VideoOut out;
  for (int i = 0; i < kFrames; ++i) {
    const auto frame = PatternFrame(kWidth, kHeight, i);
    ASSERT_TRUE(EncodeInput(encoder, frame.data(), frame.size(), i * kVideoFrameTicks,
                            kVideoFrameTicks, Collect(out)))
        << "frame " << i;
  }
  // Low latency: one access unit out for every frame in, in order, with no reordering.
  ASSERT_EQ(out.samples.size(), static_cast<size_t>(kFrames));
  for (int i = 0; i < kFrames; ++i) {
    const EncodedSample& s = out.samples[static_cast<size_t>(i)];
    const auto& bytes = out.bytes[static_cast<size_t>(i)];
    ASSERT_GE(bytes.size(), 4u);
    const bool startCode = (bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1) ||
                           (bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 1);
    EXPECT_TRUE(startCode) << "frame " << i;
    EXPECT_EQ(s.time, i * kVideoFrameTicks);
    EXPECT_EQ(s.decodeTime, s.time) << "no B-frames";
    const auto units = SplitAnnexB(bytes);
    const bool idr = HasNalType(units, 5);
    const bool due = i % kLiveVideoGopFrames == 0;
    EXPECT_EQ(idr, due) << "frame " << i;
    EXPECT_EQ(s.keyFrame, due) << "frame " << i;
    // Parameter sets travel in front of every key frame, so a late joiner can start there.
    EXPECT_EQ(HasNalType(units, 7), due) << "frame " << i;
    EXPECT_EQ(HasNalType(units, 8), due) << "frame " << i;
    for (const auto& u : units) {
      if ((u[0] & 31) == 7) {
        EXPECT_EQ(u[1], 77) << "SPS profile_idc must be Main";
      }
    }
  }

  // FFmpeg reads the stream back as Main profile at the size given, every frame intact.
  TempHome home;
  const std::string path = home.path() + "/out.h264";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(out.stream.data()), static_cast<std::streamsize>(out.stream.size()));
  const std::string probe = RunCommand(
      "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
      "stream=codec_name,profile,width,height,nb_read_frames -of default=nw=1 " + ShellQuote(path));
  EXPECT_NE(probe.find("codec_name=h264"), std::string::npos) << probe;
  EXPECT_NE(probe.find("profile=Main"), std::string::npos) << probe;
  EXPECT_NE(probe.find("width=320"), std::string::npos) << probe;
  EXPECT_NE(probe.find("height=240"), std::string::npos) << probe;
  EXPECT_NE(probe.find("nb_read_frames=130"), std::string::npos) << probe;
}

// A file's encoder looks ahead and holds frames back; finishing hands every one of them over, in
// order, and FFmpeg reads them all back.
TEST(EncoderH264, FinishingAFileEncoderHandsOverEveryHeldFrame) {
  constexpr int kWidth = 320, kHeight = 240, kFrames = 150;
  H264TransformSettings settings;
  settings.width = kWidth;
  settings.height = kHeight;
  settings.kbps = 800;
  settings.fps = kLiveVideoFps;
  settings.gopFrames = kLiveVideoGopFrames;
  settings.lowLatency = false;
  TransformOpenFailure failure = TransformOpenFailure::kNone;
  int code = 0;
  Encoder encoder;
  encoder.transform = OpenH264Transform(settings, &failure, &code);
  ASSERT_TRUE(encoder.transform) << code;
  VideoOut out;
  for (int i = 0; i < kFrames; ++i) {
    const auto frame = PatternFrame(kWidth, kHeight, i);
    ASSERT_TRUE(EncodeInput(encoder, frame.data(), frame.size(), i * kVideoFrameTicks, kVideoFrameTicks,
                            Collect(out)));
  }
  const size_t held = kFrames - out.samples.size();
  EXPECT_GT(held, 0u) << "the look-ahead holds frames until the end";
  ASSERT_TRUE(FinishEncoding(encoder, Collect(out)));
  ASSERT_EQ(out.samples.size(), static_cast<size_t>(kFrames)) << held << " were held";
  for (int i = 0; i < kFrames; ++i) EXPECT_EQ(out.samples[static_cast<size_t>(i)].time, i * kVideoFrameTicks);

  TempHome home;
  const std::string path = home.path() + "/out.h264";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(out.stream.data()), static_cast<std::streamsize>(out.stream.size()));
  const std::string probe = RunCommand("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                       "stream=nb_read_frames -of default=nw=1 " + ShellQuote(path));
  EXPECT_NE(probe.find("nb_read_frames=150"), std::string::npos) << probe;

  // A callback that stops the drain fails the finish.
  Encoder stopped;
  stopped.transform = OpenH264Transform(settings, &failure, &code);
  ASSERT_TRUE(stopped.transform);
  VideoOut ignored;
  for (int i = 0; i < 20; ++i) {
    const auto frame = PatternFrame(kWidth, kHeight, i);
    ASSERT_TRUE(EncodeInput(stopped, frame.data(), frame.size(), i * kVideoFrameTicks, kVideoFrameTicks,
                            Collect(ignored)));
  }
  EXPECT_FALSE(FinishEncoding(stopped, [](const EncodedSample&) { return false; }));
}

TEST(EncoderH264, InputRefusedUntilDrainedIsTakenOnTheSecondTry) {
  constexpr int kWidth = 64, kHeight = 48;
  Encoder encoder;
  std::wstring error;
  ASSERT_TRUE(OpenH264Encoder(encoder, kWidth, kHeight, 300, error));
  // Push without draining until the encoder refuses.
  int pushed = 0;
  TransformInput r = TransformInput::kAccepted;
  for (; pushed < 8; ++pushed) {
    const auto frame = PatternFrame(kWidth, kHeight, pushed);
    r = TransformProcessInput(*encoder.transform, frame.data(), frame.size(),
                              pushed * kVideoFrameTicks, kVideoFrameTicks);
    if (r != TransformInput::kAccepted) break;
  }
  ASSERT_EQ(r, TransformInput::kNotAccepting) << "after " << pushed << " frames";
  // The refused frame goes in through EncodeInput, which drains first.
  VideoOut out;
  const auto frame = PatternFrame(kWidth, kHeight, pushed);
  ASSERT_TRUE(EncodeInput(encoder, frame.data(), frame.size(), pushed * kVideoFrameTicks,
                          kVideoFrameTicks, Collect(out)));
  ASSERT_EQ(out.samples.size(), static_cast<size_t>(pushed + 1));
  for (int i = 0; i <= pushed; ++i) EXPECT_EQ(out.samples[static_cast<size_t>(i)].time, i * kVideoFrameTicks);
}

TEST(EncoderH264, RefusalsAndFailures) {
  Encoder encoder;
  std::wstring error;
  EXPECT_FALSE(OpenH264Encoder(encoder, 321, 240, 800, error));
  EXPECT_TRUE(std::regex_match(error, std::wregex(LR"(The H\.264 encoder wouldn't take 321x240 \(0x[0-9A-F]{8}\))")))
      << std::string(error.begin(), error.end());
  EXPECT_FALSE(encoder.transform);

  ASSERT_TRUE(OpenH264Encoder(encoder, 64, 48, 300, error));
  const auto frame = PatternFrame(64, 48, 0);
  // A frame of the wrong size is refused; a callback saying false fails the input.
  EXPECT_FALSE(EncodeInput(encoder, frame.data(), frame.size() - 1, 0, kVideoFrameTicks,
                           [](const EncodedSample&) { return true; }));
  int calls = 0;
  EXPECT_FALSE(EncodeInput(encoder, frame.data(), frame.size(), 0, kVideoFrameTicks,
                           [&calls](const EncodedSample&) { return ++calls, false; }));
  EXPECT_EQ(calls, 1);
  Encoder closed;
  EXPECT_FALSE(EncodeInput(closed, frame.data(), frame.size(), 0, 0, [](const EncodedSample&) { return true; }));
}

// --- AAC ----------------------------------------------------------------------------------------

namespace {

// One ADTS header for a raw AAC LC stereo frame, so FFmpeg can read the frames back.
void AppendAdts(std::vector<uint8_t>& out, int rateIndex, std::span<const uint8_t> frame) {
  const size_t length = frame.size() + 7;
  const uint8_t header[7] = {
      0xFF, 0xF1,  // sync, MPEG-4, no CRC
      static_cast<uint8_t>((1 << 6) | (rateIndex << 2) | (2 >> 2)),  // LC, rate, channels hi
      static_cast<uint8_t>(((2 & 3) << 6) | ((length >> 11) & 3)),
      static_cast<uint8_t>((length >> 3) & 0xFF),
      static_cast<uint8_t>(((length & 7) << 5) | 0x1F),
      0xFC};
  out.insert(out.end(), header, header + 7);
  out.insert(out.end(), frame.begin(), frame.end());
}

}  // namespace

TEST(EncoderAac, RawFramesOf1024SamplesThatDecodeToTheTone) {
  constexpr int kRate = 48000, kBlock = 1000, kBlocks = 96;  // 2 s in blocks that don't align
  constexpr double kTone = 1000.0, kAmplitude = 0.5;
  Encoder encoder;
  std::wstring error;
  ASSERT_TRUE(OpenAacEncoder(encoder, kRate, error));
  // The AudioSpecificConfig the stream's sequence header announces at 48 kHz.
  const std::vector<uint8_t> config = TransformCodecConfig(*encoder.transform);
  ASSERT_GE(config.size(), 2u);
  EXPECT_EQ(config[0], 0x11);
  EXPECT_EQ(config[1], 0x90);

  std::vector<std::vector<uint8_t>> frames;
  std::vector<EncodedSample> samples;
  auto collect = [&](const EncodedSample& s) {
    frames.emplace_back(s.data.begin(), s.data.end());
    samples.push_back(s);
    return true;
  };
  std::vector<int16_t> pcm(kBlock * 2);
  int64_t frame = 0;
  for (int b = 0; b < kBlocks; ++b) {
    for (int i = 0; i < kBlock; ++i, ++frame) {
      const auto v = static_cast<int16_t>(std::lround(32767 * kAmplitude * std::sin(2 * M_PI * kTone * frame / kRate)));
      pcm[2 * i] = pcm[2 * i + 1] = v;
    }
    const int64_t time = (frame - kBlock) * kTicksPerSecond / kRate;
    ASSERT_TRUE(EncodeInput(encoder, reinterpret_cast<const uint8_t*>(pcm.data()), pcm.size() * 2,
                            time, kBlock * kTicksPerSecond / kRate, collect));
  }
  // 96000 samples make 93 whole frames; the encoder holds one back as its look-ahead.
  ASSERT_EQ(frames.size(), 92u);
  size_t total = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_FALSE(frames[i].empty());
    EXPECT_FALSE(frames[i].size() >= 2 && frames[i][0] == 0xFF && (frames[i][1] & 0xF0) == 0xF0)
        << "frame " << i << " carries an ADTS header";
    // Times are whole 100-ns ticks, rounded: within one tick of the exact frame start.
    EXPECT_NEAR(samples[i].duration, kAacFrameSamples * kTicksPerSecond / kRate, 1);
    EXPECT_NEAR(samples[i].time, static_cast<int64_t>(i) * kAacFrameSamples * kTicksPerSecond / kRate, 1);
    total += frames[i].size();
  }
  // 160 kbit/s is 20000 bytes a second, within the encoder's rate control.
  const double bytesPerSecond = static_cast<double>(total) * kRate / (frames.size() * kAacFrameSamples);
  EXPECT_NEAR(bytesPerSecond, 20000.0, 3000.0);

  std::vector<uint8_t> adts;
  for (const auto& f : frames) AppendAdts(adts, 3 /* 48000 */, f);
  TempHome home;
  const std::string path = home.path() + "/out.aac", wav = home.path() + "/out.wav";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(adts.data()), static_cast<std::streamsize>(adts.size()));
  int status = -1;
  RunCommand("ffmpeg -v error -y -i " + ShellQuote(path) + " -c:a pcm_s16le " + ShellQuote(wav), &status);
  ASSERT_EQ(status, 0);
  const WavProbe probe = ProbeWithFfprobe(wav);
  EXPECT_EQ(probe.channels, 2);
  EXPECT_EQ(probe.rate, kRate);
  const std::vector<int16_t> decoded = DecodeWithSox(wav);
  ASSERT_GT(decoded.size(), static_cast<size_t>(kRate));
  // Past the priming frame: level and pitch of the tone (zero crossings per second).
  double sum = 0;
  int crossings = 0;
  const size_t from = 2 * 4096, to = from + 2 * kRate / 2;
  ASSERT_LT(to, decoded.size());
  for (size_t i = from; i < to; i += 2) {
    sum += static_cast<double>(decoded[i]) * decoded[i];
    if (i > from && (decoded[i - 2] < 0) != (decoded[i] < 0)) ++crossings;
  }
  const double rms = std::sqrt(sum / ((to - from) / 2)) / 32768.0;
  EXPECT_NEAR(rms, kAmplitude / std::sqrt(2.0), 0.05);
  EXPECT_NEAR(crossings, kTone, 20);  // two crossings per cycle over half a second
}

TEST(EncoderAac, ConfigAt44100AndRefusedRates) {
  Encoder encoder;
  std::wstring error;
  ASSERT_TRUE(OpenAacEncoder(encoder, 44100, error));
  // AAC LC, 44.1 kHz, stereo; FFmpeg may append a backward-compatible extension after it.
  const std::vector<uint8_t> config = TransformCodecConfig(*encoder.transform);
  ASSERT_GE(config.size(), 2u);
  EXPECT_EQ(config[0], 0x12);
  EXPECT_EQ(config[1], 0x10);
  EXPECT_FALSE(OpenAacEncoder(encoder, 12345, error));
  EXPECT_EQ(error, L"The AAC encoder wouldn't start");
  EXPECT_FALSE(encoder.transform) << "a failed open leaves the encoder closed";
  // PCM that is not whole stereo frames is refused.
  ASSERT_TRUE(OpenAacEncoder(encoder, 48000, error));
  const uint8_t odd[6] = {};
  EXPECT_FALSE(EncodeInput(encoder, odd, sizeof odd, 0, 0, [](const EncodedSample&) { return true; }));
}
