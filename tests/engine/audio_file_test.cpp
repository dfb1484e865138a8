#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/analysis.h"
#include "engine/audio_file.h"
#include "platform/media_internal.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace fs = std::filesystem;

namespace {

// Runs a shell command that must succeed (sox, ffmpeg making a test file).
void Make(const std::string& command) {
  int status = -1;
  RunCommand(command + " 2>&1", &status);
  ASSERT_EQ(status, 0) << command;
}

// FFmpeg's own decode of the file as float32 (its command-line decoder, the reference).
std::vector<float> FfmpegFloats(const std::string& path, const std::string& options) {
  int status = -1;
  const std::string raw =
      RunCommand("ffmpeg -v error -i " + ShellQuote(path) + " " + options + " -f f32le - 2>/dev/null", &status);
  std::vector<float> out(raw.size() / sizeof(float));
  if (status == 0) std::memcpy(out.data(), raw.data(), out.size() * sizeof(float));
  else out.clear();
  return out;
}

TrackPtr Decode(const std::string& path, std::wstring* error = nullptr, bool analyse = false) {
  std::atomic<float> progress{0.0f};
  std::wstring message;
  TrackPtr track = DecodeFile(Utf8ToWide(path), &progress, &message, analyse);
  if (track) {
    EXPECT_EQ(progress.load(), 1.0f) << path;
  }
  if (error) *error = message;
  return track;
}

// Bitwise comparison: the decoder must give exactly FFmpeg's samples, not close ones.
void ExpectSameSamples(const std::vector<float>& got, const std::vector<float>& want, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  ASSERT_FALSE(want.empty()) << what;
  EXPECT_EQ(std::memcmp(got.data(), want.data(), got.size() * sizeof(float)), 0) << what;
}

}  // namespace

// Files sox and ffmpeg make in each sample layout the decoders hand out (16, 24 and 32-bit
// integers, unsigned 8-bit, 32 and 64-bit float, planar float from MP3 and Vorbis) decode to
// exactly what FFmpeg's command line decodes, at the file's own rate.
TEST(DecodeFile, GivesFfmpegsOwnSamplesForEveryLayout) {
  TempHome home;
  const std::string src = home.path() + "/src.wav";
  Make("sox -n -r 48000 -c 2 -b 16 " + ShellQuote(src) + " synth 1.3 sine 440 sine 523 vol 0.7");
  struct Case {
    const char* name;
    std::string make;  // command making the file from src
    int32_t rate;
  };
  const std::string d = home.path() + "/";
  const Case cases[] = {
      {"s16.wav", "sox -n -r 44100 -c 2 -b 16 " + d + "s16.wav synth 1.1 sine 300 sine 700", 44100},
      {"s24.flac", "sox -n -r 96000 -c 2 -b 24 " + d + "s24.flac synth 0.8 sine 1000 sine 50", 96000},
      {"u8.wav", "ffmpeg -v error -i " + src + " -c:a pcm_u8 " + d + "u8.wav", 48000},
      {"s32.wav", "ffmpeg -v error -i " + src + " -c:a pcm_s32le " + d + "s32.wav", 48000},
      {"f32.wav", "ffmpeg -v error -i " + src + " -c:a pcm_f32le " + d + "f32.wav", 48000},
      {"f64.wav", "ffmpeg -v error -i " + src + " -c:a pcm_f64le " + d + "f64.wav", 48000},
      {"s16.flac", "ffmpeg -v error -i " + src + " " + d + "s16.flac", 48000},
      {"x.mp3", "ffmpeg -v error -i " + src + " -c:a libmp3lame -b:a 128k " + d + "x.mp3", 48000},
      {"x.ogg", "ffmpeg -v error -i " + src + " -c:a libvorbis " + d + "x.ogg", 48000},
  };
  for (const Case& c : cases) {
    Make(c.make);
    const std::string path = d + c.name;
    const TrackPtr track = Decode(path);
    ASSERT_TRUE(track) << c.name;
    EXPECT_EQ(track->sampleRate, c.rate) << c.name;
    EXPECT_EQ(track->samples.size(), 2 * track->frames) << c.name;
    ExpectSameSamples(track->samples, FfmpegFloats(path, "-ac 2"), c.name);
  }
}

// A mono file gives left = right = the one channel; a four-channel file keeps channels 0 and 1.
TEST(DecodeFile, MapsMonoAndMultichannelToStereo) {
  TempHome home;
  const std::string mono = home.path() + "/mono.flac";
  Make("sox -n -r 22050 -c 1 -b 16 " + mono + " synth 0.5 sine 440");
  TrackPtr track = Decode(mono);
  ASSERT_TRUE(track);
  const std::vector<float> one = FfmpegFloats(mono, "-ac 1");
  ASSERT_EQ(track->frames, one.size());
  for (size_t i = 0; i < one.size(); ++i) {
    ASSERT_EQ(track->samples[2 * i], one[i]) << i;
    ASSERT_EQ(track->samples[2 * i + 1], one[i]) << i;
  }

  const std::string quad = home.path() + "/quad.wav";
  Make("sox -n -r 44100 -c 4 -b 16 " + quad + " synth 0.5 sine 100 sine 200 sine 300 sine 400");
  track = Decode(quad);
  ASSERT_TRUE(track);
  const std::vector<float> all = FfmpegFloats(quad, "");  // 4 channels interleaved
  ASSERT_EQ(track->frames * 4, all.size());
  for (size_t i = 0; i < track->frames; ++i) {
    ASSERT_EQ(track->samples[2 * i], all[4 * i]) << i;
    ASSERT_EQ(track->samples[2 * i + 1], all[4 * i + 1]) << i;
  }
}

// MP3 encoder delay and padding are trimmed: an odd-length sound comes back at its exact length.
TEST(DecodeFile, KeepsTheExactLengthOfAnMp3) {
  TempHome home;
  const std::string wav = home.path() + "/odd.wav";
  const std::string mp3 = home.path() + "/odd.mp3";
  Make("sox -r 44100 -n -c 2 -b 16 " + wav + " synth 54419s sine 440 sine 660");
  Make("ffmpeg -v error -i " + wav + " -c:a libmp3lame -b:a 192k " + mp3);
  const TrackPtr track = Decode(mp3);
  ASSERT_TRUE(track);
  EXPECT_EQ(track->frames, 54419u);
  ExpectSameSamples(track->samples, FfmpegFloats(mp3, "-ac 2"), "odd.mp3");
}

TEST(DecodeFile, FailsWithTheUsersMessage) {
  TempHome home;
  const std::string d = home.path() + "/";
  WriteRaw(d + "notes.txt", "not audio at all\n");
  WriteRaw(d + "empty.mp3", "");
  Make("ffmpeg -v error -f lavfi -i color=c=red:s=16x16 -frames:v 1 " + d + "picture.png");
  Make("sox -r 44100 -n -c 2 -b 16 " + d + "short.wav synth 1764s sine 440");  // 40 ms
  Make("sox -r 44100 -n -c 2 -b 16 " + d + "enough.wav synth 2205s sine 440");  // 50 ms
  std::filesystem::create_directories(d + "folder.mp3");
  // What the user sees names the file and, where the file is the reason, why.
  struct Case {
    const char* name;
    const wchar_t* message;
    const wchar_t* shown;
  } const cases[] = {
      {"missing.flac", L"Can't open this file", L"Can't open this file \u2014 missing.flac (the file is no longer there)"},
      {"notes.txt", L"Can't open this file", L"Can't open this file \u2014 notes.txt (it isn't an audio file)"},
      {"empty.mp3", L"Can't open this file", L"Can't open this file \u2014 empty.mp3 (the file is empty)"},
      {"folder.mp3", L"Can't open this file", L"Can't open this file \u2014 folder.mp3 (the file can't be read)"},
      {"picture.png", L"No audio in this file", L"No audio in this file \u2014 picture.png"},
      {"short.wav", L"No audio could be decoded", L"No audio could be decoded \u2014 short.wav"},
  };
  for (const Case& c : cases) {
    std::wstring error;
    EXPECT_FALSE(Decode(d + c.name, &error)) << c.name;
    EXPECT_EQ(error, c.message) << c.name;
    EXPECT_EQ(EnglishText(LoadFailureText(Utf8ToWide(d + c.name), error)), c.shown) << c.name;
  }
  const TrackPtr enough = Decode(d + "enough.wav");
  ASSERT_TRUE(enough);
  EXPECT_EQ(enough->frames, 2205u);
}

// A playlist naming a network address is not followed: the only protocol is the local file.
TEST(DecodeFile, NeverOpensTheNetwork) {
  TempHome home;
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/a.mp3";
  const std::string playlist = home.path() + "/list.m3u8";
  WriteRaw(playlist, "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n" + url + "\n#EXT-X-ENDLIST\n");
  // A connection, should one come, is accepted and dropped at once so the decoder cannot hang.
  std::atomic<bool> done{false};
  std::atomic<int> connections{0};
  std::thread doorman([&] {
    while (!done.load()) {
      const int peer = ::accept(listener, nullptr, nullptr);
      if (peer >= 0) {
        ++connections;
        ::close(peer);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::wstring error;
  EXPECT_FALSE(Decode(playlist, &error));
  done = true;
  doorman.join();
  ::close(listener);
  EXPECT_EQ(error, L"Can't open this file");
  EXPECT_EQ(connections.load(), 0) << "the decoder connected to " << url;
}

// Title from the tag, else the file name without folder and extension; artist from the tag.
// Without analysis every analysis field keeps its default; with it the waveform has its size.
TEST(DecodeFile, TitlesTracksAndAnalysesOnlyWhenAsked) {
  TempHome home;
  fs::create_directories(home.path() + "/set 1");
  const std::string plain = home.path() + "/set 1/Intro Mix.flac";
  const std::string tagged = home.path() + "/tagged.flac";
  Make("sox -n -r 44100 -c 2 -b 16 " + ShellQuote(plain) + " synth 2 sine 440");
  Make("ffmpeg -v error -i " + ShellQuote(plain) + " -metadata title='Día Uno' -metadata artist='Zoë' " + tagged);

  TrackPtr track = Decode(plain);
  ASSERT_TRUE(track);
  EXPECT_EQ(track->title, L"Intro Mix");
  EXPECT_EQ(track->artist, L"");
  EXPECT_EQ(track->path, Utf8ToWide(plain));
  EXPECT_TRUE(track->waveform.empty());
  EXPECT_EQ(track->bpm, 120.0);
  EXPECT_EQ(track->firstBeat, 0.0);
  EXPECT_EQ(track->key, -1);
  EXPECT_EQ(track->loudness, -20.0f);
  EXPECT_EQ(track->firstSound, 0.0);

  track = Decode(tagged, nullptr, true);
  ASSERT_TRUE(track);
  EXPECT_EQ(track->title, L"Día Uno");
  EXPECT_EQ(track->artist, L"Zoë");
  EXPECT_EQ(track->waveform.size(), track->frames * 150 / track->sampleRate + 1);
  EXPECT_NE(track->loudness, -20.0f);
}

// Progress rises with the decoded share of the stated duration and ends at exactly 1.0; a stream
// that states no duration (Matroska written to a pipe) still decodes whole.
TEST(DecodeFile, ReportsProgressAndDecodesWithoutADuration) {
  TempHome home;
  const std::string wav = home.path() + "/a.wav";
  const std::string piped = home.path() + "/piped.mka";
  Make("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 3 sine 440");
  Make("ffmpeg -v error -i " + wav + " -c:a flac -f matroska - > " + piped);
  ASSERT_EQ(RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + piped), "N/A\n");

  std::atomic<float> progress{0.0f};
  std::atomic<bool> done{false};
  std::vector<float> seen;
  std::thread watcher([&] {
    while (!done.load()) {
      const float p = progress.load();
      if (seen.empty() || seen.back() != p) seen.push_back(p);
    }
  });
  std::wstring error;
  const TrackPtr track = DecodeFile(Utf8ToWide(wav), &progress, &error, true);
  done = true;
  watcher.join();
  ASSERT_TRUE(track);
  EXPECT_EQ(progress.load(), 1.0f);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GE(seen[i], seen[i - 1]);
  for (float p : seen) EXPECT_TRUE(p <= 0.8f || p == 1.0f) << p;  // the last fifth is analysis

  const TrackPtr whole = Decode(piped);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->frames, 3u * 44100u);
}

// A header that claims an hour, or 121 hours, for one second of MP3 neither fails as too large nor
// makes the decoder reserve gigabytes: the reservation is capped by what the file's bytes can hold.
TEST(DecodeFile, ReservationIsCappedByTheFileSize) {
  TempHome home;
  const std::string honest = home.path() + "/honest.mp3";
  Make("ffmpeg -v error -f lavfi -i sine=d=1 -ac 2 -c:a libmp3lame -b:a 320k " + honest);
  const std::string bytes = ReadRaw(honest);
  size_t tag = bytes.find("Info");
  if (tag == std::string::npos) tag = bytes.find("Xing");
  ASSERT_NE(tag, std::string::npos);
  struct Lie {
    uint32_t frames;  // MP3 frames of 1152 samples the header claims
    double seconds;
  } const lies[] = {{140000, 3600.0}, {0x00FFFFFF, 400000.0}};
  for (const Lie& lie : lies) {
    const std::string lying = home.path() + "/lying" + std::to_string(lie.frames) + ".mp3";
    std::string changed = bytes;
    for (int i = 0; i < 4; ++i) changed[tag + 8 + i] = static_cast<char>(lie.frames >> (24 - 8 * i));
    WriteRaw(lying, changed);
    const std::string said = RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + lying);
    ASSERT_GT(std::stod(said), lie.seconds);

    const TrackPtr track = Decode(lying);
    ASSERT_TRUE(track) << lie.frames;
    EXPECT_EQ(track->samples.size(), FfmpegFloats(lying, "-ac 2").size());
    EXPECT_LT(track->samples.capacity() * sizeof(float), 64u << 20) << lie.frames;
  }
}

TEST(DecodeFile, ReserveFloatsFollowsTheDurationWithinItsCaps) {
  EXPECT_EQ(DecodeReserveFloats(44100, 10.0, 1u << 30), 2u * 11u * 44100u);  // one second of headroom
  EXPECT_EQ(DecodeReserveFloats(48000, 3600.0, 100000), 200000u);            // the file holds less
  EXPECT_EQ(DecodeReserveFloats(48000, 1e9, uint64_t(1) << 40), 2 * kMaxTrackFrames);
  EXPECT_EQ(DecodeReserveFloats(44100, 0.0, 1000000), 0u);  // unknown duration: no reservation
  EXPECT_EQ(DecodeReserveFloats(44100, NAN, 1000000), 0u);
  EXPECT_EQ(DecodeReserveFloats(44100, -5.0, 1000000), 0u);
  EXPECT_EQ(DecodeReserveFloats(44100, 10.0, 0), 0u);  // unknown size
  EXPECT_EQ(DecodeReserveFloats(0, 10.0, 1000000), 0u);
}

// A cut-off download (its header still promising ten seconds) keeps what was there.
TEST(DecodeFile, KeepsWhatATruncatedFileHolds) {
  TempHome home;
  const std::string full = home.path() + "/full.mp3";
  const std::string cut = home.path() + "/cut.mp3";
  Make("ffmpeg -v error -f lavfi -i sine=d=10 -ac 2 -c:a libmp3lame -b:a 128k " + full);
  const std::string bytes = ReadRaw(full);
  WriteRaw(cut, bytes.substr(0, bytes.size() * 3 / 10));
  const TrackPtr track = Decode(cut);
  ASSERT_TRUE(track);
  EXPECT_GT(track->frames, 2u * 44100u);
  EXPECT_LT(track->frames, 4u * 44100u);
}

// Every row of the sample-format table: formats appear once, sizes are real sample sizes, and the
// integer formats put silence at 0 and their most negative code at exactly -1.
TEST(DecodeFile, SampleFormatTableIsConsistent) {
  ASSERT_EQ(kMediaSampleFormatCount, 12u);
  int planar = 0;
  for (size_t i = 0; i < kMediaSampleFormatCount; ++i) {
    const MediaSampleFormat& row = kMediaSampleFormats[i];
    EXPECT_EQ(FindMediaSampleFormat(row.format), &row);
    EXPECT_TRUE(row.bytes == 1 || row.bytes == 2 || row.bytes == 4 || row.bytes == 8);
    planar += row.planar ? 1 : 0;
    uint8_t zero[8] = {};
    if (row.bytes == 1) zero[0] = 0x80;  // unsigned 8-bit silence
    EXPECT_EQ(row.read(zero), 0.0f) << i;
    if (row.bytes == 1) {
      const uint8_t lowest = 0;
      EXPECT_EQ(row.read(&lowest), -1.0f);
    }
  }
  EXPECT_EQ(planar, 6);
  EXPECT_EQ(FindMediaSampleFormat(-1), nullptr);
}

namespace {
void NoWake() {}
}  // namespace

// The prelisten worker posts its serial and a holder with the track (or an empty pointer when
// decoding failed); once the queue is closed it posts nothing and frees the holder itself.
TEST(DecodeFile, PrelistenThreadPostsItsResult) {
  TempHome home;
  const std::string wav = home.path() + "/pre.wav";
  Make("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 1 sine 440");
  OpenUiPosts(NoWake);
  std::thread(PrelistenLoadThread, new PrelistenJob{Utf8ToWide(wav), 41}).join();
  std::thread(PrelistenLoadThread, new PrelistenJob{Utf8ToWide(home.path() + "/gone.wav"), 42}).join();
  std::vector<std::pair<uintptr_t, TrackPtr>> got;
  DrainUiPosts([&](const UiPost& post) {
    ASSERT_EQ(post.message, kPrelistenReadyPost);
    std::unique_ptr<TrackPtr> holder(static_cast<TrackPtr*>(post.lparam));
    got.emplace_back(post.wparam, *holder);
  });
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].first, 41u);
  ASSERT_TRUE(got[0].second);
  EXPECT_EQ(got[0].second->frames, 44100u);
  EXPECT_TRUE(got[0].second->waveform.empty());
  EXPECT_EQ(got[1].first, 42u);
  EXPECT_FALSE(got[1].second);

  int leftovers = 0;
  CloseUiPosts([&](const UiPost&) { ++leftovers; });
  std::thread(PrelistenLoadThread, new PrelistenJob{Utf8ToWide(wav), 43}).join();
  OpenUiPosts(NoWake);
  int late = 0;
  DrainUiPosts([&](const UiPost&) { ++late; });
  CloseUiPosts([&](const UiPost&) { ++leftovers; });
  EXPECT_EQ(leftovers, 0);
  EXPECT_EQ(late, 0);
}
