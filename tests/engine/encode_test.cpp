#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/encode.h"
#include "engine/wav_file.h"
#include "platform/mp3_encoder.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace fs = std::filesystem;

namespace {

// A WAV through WriteWavFile: a 440 Hz tone left, a 660 Hz tone right, `frames` long.
std::string ToneWav(const std::string& folder, const std::string& name, uint64_t frames, uint32_t rate) {
  std::vector<float> samples(frames * 2);
  for (uint64_t i = 0; i < frames; ++i) {
    samples[2 * i] = 0.5f * std::sin(2.0 * M_PI * 440.0 * i / rate);
    samples[2 * i + 1] = 0.4f * std::sin(2.0 * M_PI * 660.0 * i / rate);
  }
  const std::string path = folder + "/" + name;
  EXPECT_TRUE(WriteWavFile(Utf8ToWide(path), samples.data(), frames, rate));
  return path;
}

bool Encode(const std::string& wav, const std::string& out, std::wstring* error) {
  const bool mp3 = out.size() >= 4 && out.compare(out.size() - 4, 4, ".mp3") == 0;
  return EncodeWavFile(Utf8ToWide(wav), Utf8ToWide(out), mp3 ? AudioSubtype::Mp3 : AudioSubtype::Flac,
                       mp3 ? L"MP3" : L"FLAC", error);
}

std::string Probe(const std::string& path, const std::string& entries) {
  std::string out = RunCommand("ffprobe -v error -select_streams a:0 -show_entries " + entries +
                               " -of csv=p=0 " + ShellQuote(path) + " 2>/dev/null");
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// Stereo frames FFmpeg decodes from the file (gapless trimming applied).
long long DecodedFrames(const std::string& path) {
  return static_cast<long long>(
      RunCommand("ffmpeg -v error -i " + ShellQuote(path) + " -f s16le - 2>/dev/null").size() / 4);
}

std::vector<fs::path> FilesIn(const std::string& folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
  return files;
}

}  // namespace

// At each rate MP3 allows: an MP3 stream at 320 kbit/s, the WAV's rate, stereo, and (gapless
// header) exactly the WAV's length.
TEST(EncodeMp3, ReadsBackAtTheBitRateAndLength) {
  TempHome home;
  for (const int offered : kMp3SampleRates) {
    const auto rate = static_cast<uint32_t>(offered);
    const uint64_t frames = rate + 1237;  // not a whole number of MP3 frames
    const std::string wav = ToneWav(home.path(), "in" + std::to_string(rate) + ".wav", frames, rate);
    const std::string mp3 = home.path() + "/out" + std::to_string(rate) + ".mp3";
    std::wstring error;
    ASSERT_TRUE(Encode(wav, mp3, &error)) << rate << ": " << WideToUtf8(error);
    EXPECT_EQ(Probe(mp3, "stream=codec_name,sample_rate,channels,bit_rate"),
              "mp3," + std::to_string(rate) + ",2,320000");
    EXPECT_EQ(DecodedFrames(mp3), static_cast<long long>(frames)) << rate;
    EXPECT_TRUE(WriteTemps(std::filesystem::path(mp3).parent_path().native()).empty());
  }
}

// FLAC passes flac's own test and decodes to the WAV's samples exactly, at any rate (22050 Hz
// included), across several 4608-frame blocks and a short last one; a torn last frame is dropped.
TEST(EncodeFlac, IsLosslessAndPassesFlacTest) {
  TempHome home;
  const std::string wav = ToneWav(home.path(), "in.wav", 10000, 22050);
  WriteRaw(wav, ReadRaw(wav) + std::string("\x01\x02", 2));
  const std::string flac = home.path() + "/out.flac";
  std::wstring error;
  ASSERT_TRUE(Encode(wav, flac, &error)) << WideToUtf8(error);
  int status = -1;
  RunCommand("flac -s -t " + ShellQuote(flac) + " 2>&1", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Probe(flac, "stream=codec_name,sample_rate,channels,bits_per_raw_sample"), "flac,22050,2,16");
  const std::vector<int16_t> want = DecodeWithSox(wav);
  ASSERT_EQ(want.size(), 20000u);
  const std::vector<int16_t> got = DecodeWithSox(flac);
  ASSERT_EQ(got.size(), 20000u);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin()));
}

// The size fields are not trusted: a recording whose header was never finished (sizes 0) is
// copied whole.
TEST(EncodeFlac, ReadsToTheEndOfAnUnfinishedRecording) {
  TempHome home;
  const std::string wav = ToneWav(home.path(), "open.wav", 7000, 44100);
  std::string bytes = ReadRaw(wav);
  bytes.replace(4, 4, std::string(4, '\0'));
  bytes.replace(40, 4, std::string(4, '\0'));
  WriteRaw(wav, bytes);
  const std::string flac = home.path() + "/open.flac";
  std::wstring error;
  ASSERT_TRUE(Encode(wav, flac, &error)) << WideToUtf8(error);
  EXPECT_EQ(DecodedFrames(flac), 7000);
}

// Every failure gives its message, keeps the WAV, and leaves nothing new under the copy's name
// (an older copy there survives) and no temporary file.
TEST(EncodeFailure, KeepsTheWavAndLeavesNoPartialCopy) {
  TempHome home;
  const std::string d = home.path();
  const std::string low = ToneWav(d, "low.wav", 5000, 22050);
  const std::string good = ToneWav(d, "good.wav", 5000, 44100);
  WriteRaw(d + "/short.wav", "RIFF");
  const std::string s24 = d + "/s24.wav";
  int status = -1;
  RunCommand("sox -n -r 44100 -c 2 -b 24 " + s24 + " synth 0.2 sine 440 2>&1", &status);
  ASSERT_EQ(status, 0);
  WriteRaw(d + "/old.mp3", "an older copy");

  struct Case {
    std::string wav, out;
    std::wstring message;
  } const cases[] = {
      {d + "/missing.wav", d + "/a.flac", L"Couldn't open the recording"},
      {d + "/short.wav", d + "/b.flac", L"Couldn't open the recording"},
      {s24, d + "/c.flac", L"Couldn't open the recording"},
      {low, d + "/old.mp3", L"MP3 needs a 32, 44.1 or 48 kHz output"},
      {good, d + "/d.flac.mp3x", L"The FLAC encoder isn't available — kept the WAV"},
      {good, d + "/no/such/folder/e.flac", L"The FLAC encoder isn't available — kept the WAV"},
  };
  for (const Case& c : cases) {
    const std::string wavBefore = ReadRaw(c.wav);
    std::wstring error;
    EXPECT_FALSE(Encode(c.wav, c.out, &error)) << c.out;
    EXPECT_EQ(error, c.message) << c.out;
    EXPECT_EQ(ReadRaw(c.wav), wavBefore);
    EXPECT_TRUE(WriteTemps(std::filesystem::path(c.out).parent_path().native()).empty()) << c.out;
    if (c.out != d + "/old.mp3") {
      EXPECT_FALSE(fs::exists(c.out)) << c.out;
    }
  }
  EXPECT_EQ(ReadRaw(d + "/old.mp3"), "an older copy");

  // MP3 into a container that only holds FLAC is refused by the container.
  std::wstring error;
  EXPECT_FALSE(EncodeWavFile(Utf8ToWide(good), Utf8ToWide(d + "/f.flac"), AudioSubtype::Mp3, L"MP3", &error));
  EXPECT_EQ(error, L"The MP3 encoder isn't available — kept the WAV");
  EXPECT_FALSE(fs::exists(d + "/f.flac"));
  EXPECT_TRUE(WriteTemps(d).empty());
}

// A WAV without a frame has nothing to copy: refused with its own message, nothing written (an
// encoder would make a file of headers that no player opens).
TEST(EncodeFailure, AnEmptyRecordingIsRefused) {
  TempHome home;
  const std::string wav = ToneWav(home.path(), "empty.wav", 0, 48000);
  for (const char* out : {"/empty.mp3", "/empty.flac"}) {
    std::wstring error;
    EXPECT_FALSE(Encode(wav, home.path() + out, &error)) << out;
    EXPECT_EQ(error, L"The recording is empty \u2014 there is nothing to copy");
    EXPECT_TRUE(FilesIn(home.path()).size() == 1) << "only the WAV";
  }
}

// The read-back check decodes with the program's own decoder: a whole copy passes; a copy cut
// short, one at another rate, one of headers only and one that is no audio at all do not.
TEST(EncodeReadBack, OnlyAWholeCopyAtTheRightRatePasses) {
  TempHome home;
  const std::string d = home.path();
  const std::string wav = ToneWav(d, "tone.wav", 96000, 48000);
  std::wstring error, detail;
  ASSERT_TRUE(Encode(wav, d + "/tone.mp3", &error)) << WideToUtf8(error);
  EXPECT_TRUE(CopyReadsBack(Utf8ToWide(d + "/tone.mp3"), 48000, 96000, &detail)) << WideToUtf8(detail);
  EXPECT_FALSE(CopyReadsBack(Utf8ToWide(d + "/tone.mp3"), 44100, 96000, &detail));
  EXPECT_NE(detail.find(L"48000 Hz"), std::wstring::npos) << WideToUtf8(detail);

  const std::string bytes = ReadRaw(d + "/tone.mp3");
  WriteRaw(d + "/half.mp3", bytes.substr(0, bytes.size() / 2));
  EXPECT_FALSE(CopyReadsBack(Utf8ToWide(d + "/half.mp3"), 48000, 96000, &detail));
  // What an encoder makes of no sound at all: a few headers.
  int status = -1;
  RunCommand("ffmpeg -v error -f s16le -ar 48000 -ac 2 -i /dev/null -c:a libmp3lame " + ShellQuote(d + "/none.mp3") +
                 " 2>&1",
             &status);
  ASSERT_EQ(status, 0);
  EXPECT_FALSE(CopyReadsBack(Utf8ToWide(d + "/none.mp3"), 48000, 96000, &detail));
  WriteRaw(d + "/text.mp3", "not audio at all");
  EXPECT_FALSE(CopyReadsBack(Utf8ToWide(d + "/text.mp3"), 48000, 96000, &detail));
  EXPECT_NE(detail.find(L"doesn't open as audio"), std::wstring::npos) << WideToUtf8(detail);
}
