#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

#include "karaoke/lrc.h"
#include "karaoke/lyrics_sources.h"
#include "platform/media_probe.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace fs = std::filesystem;

namespace {

constexpr double kTolerance = 1e-9;  // seconds

// A literal's bytes, NULs included.
template <size_t N>
std::string Lit(const char (&s)[N]) {
  return std::string(s, N - 1);
}
std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}
std::string BigEndian(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// A SYLT frame body: encoding, language, stamp format, content type (lyrics), descriptor, entries.
std::string Sylt(uint8_t encoding, uint8_t format, const std::vector<std::pair<std::string, uint32_t>>& entries) {
  const std::string nul = encoding == 1 || encoding == 2 ? std::string(2, '\0') : std::string(1, '\0');
  std::string s = std::string(1, char(encoding)) + "eng" + char(format) + '\x01' + "desc" + nul;
  for (const auto& [text, time] : entries) s += text + nul + BigEndian(time);
  return s;
}

bool RunOk(const std::string& command) {
  int status = -1;
  RunCommand(command + " >/dev/null 2>&1", &status);
  return status == 0;
}

// Writes lyrics frames with python3-mutagen; `options` as make_lyrics_tags.py takes them.
bool TagMp3(const std::string& mp3, const std::string& options) {
  return RunOk("/usr/bin/python3 " + ShellQuote(std::string(VELDMIX_SOURCE_DIR) + "/tests/support/make_lyrics_tags.py") +
             " " + ShellQuote(mp3) + " " + options);
}

// Media files made once by ffmpeg for the whole suite.
class LyricsSources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char folder[] = "/tmp/veldmix-lyrics-media-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    media_ = folder;
    const std::string tone = "-f lavfi -i sine=frequency=440:duration=1";
    const std::string cd = "cd " + ShellQuote(media_) + " && ffmpeg -v error -y ";
    ASSERT_TRUE(RunOk(cd + tone + " -ar 44100 -c:a libmp3lame tone.mp3"));
    ASSERT_TRUE(RunOk(cd + tone + " -ar 48000 -c:a libmp3lame tone48.mp3"));
    ASSERT_TRUE(RunOk(cd + "-f lavfi -i testsrc=size=64x48:rate=10:duration=1 " + tone +
                    " -c:v libx264 -c:a aac -shortest video.mp4"));
    ASSERT_TRUE(RunOk(cd + tone + " -c:a aac audio.mp4"));
    ASSERT_TRUE(RunOk(cd + "-f lavfi -i color=c=red:s=32x32 -frames:v 1 cover.png"));
    ASSERT_TRUE(RunOk(cd + tone + " -i cover.png -map 0 -map 1 -c:a aac -c:v png -disposition:v attached_pic cover.mp4"));
    ASSERT_TRUE(RunOk(cd + tone + " -metadata " + ShellQuote("lyrics=[00:01.00]Flac one\n[00:02.50]Flac two") + " lyrics.flac"));
    ASSERT_TRUE(RunOk(cd + tone + " -c:a aac -metadata " + ShellQuote("lyrics=First plain line\nSecond plain line") + " lyrics.m4a"));
  }
  static void TearDownTestSuite() { fs::remove_all(media_); }

  // A copy of a media file in the test's home under another name; its path as wide text.
  std::wstring Copy(const std::string& media, const std::string& name) {
    fs::copy_file(media_ + "/" + media, home_.path() + "/" + name, fs::copy_options::overwrite_existing);
    return Utf8ToWide(Path(name));
  }
  std::string Path(const std::string& name) const { return home_.path() + "/" + name; }

  static std::string media_;
  TempHome home_;
};
std::string LyricsSources::media_;

}  // namespace

TEST(LyricsSiblings, ReplaceTheFileNamesExtension) {
  EXPECT_EQ(SiblingPath(L"/m/my.song.mp3", L".lrc"), L"/m/my.song.lrc");
  EXPECT_EQ(SiblingPath(L"/m/song", L".cdg"), L"/m/song.cdg");
  EXPECT_EQ(SiblingPath(L"/m/v1.0/song", L".lrc"), L"/m/v1.0/song.lrc");
  EXPECT_EQ(SiblingPath(L"C:\\m\\a.b\\song.MP3", L".LRC"), L"C:\\m\\a.b\\song.LRC");
  EXPECT_EQ(SiblingPath(L"/m/.hidden", L".lrc"), L"/m/.lrc");
}

// The MPEG frame table: each version once, the lower versions at half and a quarter of the
// rates, layer III frames halved below MPEG-1, and every frame between 8 ms and 144 ms long.
TEST(LyricsMpeg, TableInvariants) {
  ASSERT_EQ(std::size(kMpegVersions), 3u);
  for (size_t v = 0; v < 3; ++v) {
    for (size_t k = v + 1; k < 3; ++k) EXPECT_NE(kMpegVersions[v].bits, kMpegVersions[k].bits);
    EXPECT_NE(kMpegVersions[v].bits, 1);  // reserved
    for (int r = 0; r < 3; ++r) {
      EXPECT_EQ(kMpegVersions[v].sampleRates[r] << v, kMpegVersions[0].sampleRates[r]);
      for (int32_t samples : kMpegVersions[v].samplesPerFrame) {
        const double seconds = double(samples) / kMpegVersions[v].sampleRates[r];
        EXPECT_GE(seconds, 0.008);
        EXPECT_LE(seconds, 0.144);
      }
    }
    EXPECT_EQ(kMpegVersions[v].samplesPerFrame[0], 384);
    EXPECT_EQ(kMpegVersions[v].samplesPerFrame[1], 1152);
    EXPECT_EQ(kMpegVersions[v].samplesPerFrame[2], v == 0 ? 1152 : 576);
  }
  EXPECT_DOUBLE_EQ(kDefaultMpegFrameSeconds, double(kMpegVersions[0].samplesPerFrame[2]) / kMpegVersions[0].sampleRates[0]);
}

TEST(LyricsMpeg, FrameLengthFromTheFirstValidHeader) {
  EXPECT_DOUBLE_EQ(MpegFrameSeconds(Bytes(Lit("\xFF\xFB\x90\x00"))), 1152.0 / 44100);  // MPEG-1 layer III
  EXPECT_DOUBLE_EQ(MpegFrameSeconds(Bytes(Lit("\xFF\xFB\x94\x00"))), 1152.0 / 48000);
  EXPECT_DOUBLE_EQ(MpegFrameSeconds(Bytes(Lit("\xFF\xF3\x98\x00"))), 576.0 / 16000);   // MPEG-2 layer III
  EXPECT_DOUBLE_EQ(MpegFrameSeconds(Bytes(Lit("\xFF\xE3\x40\x00"))), 576.0 / 11025);   // MPEG-2.5
  EXPECT_DOUBLE_EQ(MpegFrameSeconds(Bytes(Lit("\xFF\xFD\x90\x00"))), 1152.0 / 44100);  // layer II
  EXPECT_DOUBLE_EQ(MpegFrameSeconds(Bytes(Lit("\xFF\xFF\x90\x00"))), 384.0 / 44100);   // layer I
  // Reserved version, reserved layer, bad bitrate, reserved rate: no header; the next one counts.
  EXPECT_EQ(MpegFrameSeconds(Bytes(Lit("\xFF\xEB\x90\x00"))), 0.0);
  EXPECT_EQ(MpegFrameSeconds(Bytes(Lit("\xFF\xF9\x90\x00"))), 0.0);
  EXPECT_EQ(MpegFrameSeconds(Bytes(Lit("\xFF\xFB\xF0\x00"))), 0.0);
  EXPECT_EQ(MpegFrameSeconds(Bytes(Lit("\xFF\xFB\x9C\x00"))), 0.0);
  EXPECT_DOUBLE_EQ(MpegFrameSeconds(Bytes(Lit("junk\xFF\xFB\x9C\xFF\xF3\x94\x00"))), 576.0 / 24000);
  EXPECT_EQ(MpegFrameSeconds(Bytes(Lit("\xFF\xFB\x90"))), 0.0);
  EXPECT_EQ(MpegFrameSeconds({}), 0.0);
}

TEST(LyricsSylt, OneLinePerEntryWithoutBreaks) {
  Lyrics l;
  ASSERT_TRUE(ParseSylt(Bytes(Sylt(0, 2, {{" Second ", 5000}, {"First", 1000}, {"", 0}, {"", 7000}, {"Late", 3000}})), &l));
  EXPECT_EQ(l.kind, LyricsKind::Synced);
  ASSERT_EQ(l.lines.size(), 4u);  // the empty entry at 0.0 goes, the empty one at 7.0 stays
  EXPECT_EQ(l.lines[0].text, L"First");
  EXPECT_EQ(l.lines[1].text, L"Late");
  EXPECT_EQ(l.lines[2].text, L"Second");
  EXPECT_DOUBLE_EQ(l.lines[2].start, 5.0);
  EXPECT_TRUE(l.lines[3].text.empty());
  for (const LyricLine& line : l.lines) EXPECT_TRUE(line.words.empty());
}

TEST(LyricsSylt, SyllablesWithBreaksBecomeWordTimedLines) {
  Lyrics l;
  // Mutagen's UTF-16 form: every text with its own byte-order mark.
  auto u16 = [](const std::string& ascii) {
    std::string s = "\xFF\xFE";
    for (char c : ascii) s += std::string(1, c) + '\0';
    return s;
  };
  ASSERT_TRUE(ParseSylt(Bytes(Sylt(1, 2, {{u16("Hel"), 1000}, {u16("lo "), 1400}, {u16("world\n"), 2000},
                                          {u16("\r\nNext "), 3000}, {u16("one "), 3500}, {u16("\n"), 4000},
                                          {u16("end"), 4500}})),
                        &l));
  ASSERT_EQ(l.lines.size(), 3u);
  EXPECT_EQ(l.lines[0].text, L"Hello world");
  EXPECT_DOUBLE_EQ(l.lines[0].start, 1.0);
  ASSERT_EQ(l.lines[0].words.size(), 3u);
  EXPECT_EQ(l.lines[0].words[1].offset, 3);
  EXPECT_EQ(l.lines[0].words[1].count, 3);
  EXPECT_DOUBLE_EQ(l.lines[0].words[2].start, 2.0);
  EXPECT_EQ(l.lines[0].words[2].count, 5);
  // Trailing spaces leave the text, and the last word's span stays inside it.
  EXPECT_EQ(l.lines[1].text, L"Next one");
  EXPECT_DOUBLE_EQ(l.lines[1].start, 3.0);
  EXPECT_EQ(l.lines[1].words[1].offset, 5);
  EXPECT_EQ(l.lines[1].words[1].count, 3);
  // A line begun by an entry that became empty starts at that entry's time.
  EXPECT_EQ(l.lines[2].text, L"end");
  EXPECT_DOUBLE_EQ(l.lines[2].start, 4.0);
  EXPECT_DOUBLE_EQ(l.lines[2].words[0].start, 4.5);
}

TEST(LyricsSylt, TimesUnitsAndDamagedFrames) {
  Lyrics l;
  ASSERT_TRUE(ParseSylt(Bytes(Sylt(3, 1, {{"a", 100}})), &l, 0.024));
  EXPECT_NEAR(l.lines[0].start, 2.4, kTolerance);
  ASSERT_TRUE(ParseSylt(Bytes(Sylt(3, 1, {{"a", 100}})), &l));
  EXPECT_NEAR(l.lines[0].start, 100 * 1152.0 / 44100, kTolerance);
  // Stamps beyond 24 h are no time: the entry is dropped.
  ASSERT_TRUE(ParseSylt(Bytes(Sylt(3, 2, {{"late", 0xFFFFFFFF}, {"ok", 1}})), &l));
  ASSERT_EQ(l.lines.size(), 1u);
  EXPECT_EQ(l.lines[0].text, L"ok");
  // An entry whose time is cut off ends the list.
  ASSERT_TRUE(ParseSylt(Bytes(Sylt(0, 2, {{"kept", 1}}) + "cut" + std::string(3, '\0')), &l));
  EXPECT_EQ(l.lines.size(), 1u);

  Lyrics untouched;
  untouched.source = L"before";
  EXPECT_FALSE(ParseSylt(Bytes(std::string("\x00" "eng\x02\x01", 6)), &untouched));
  EXPECT_FALSE(ParseSylt(Bytes(Sylt(0, 2, {})), &untouched));
  EXPECT_FALSE(ParseSylt(Bytes(Sylt(0, 2, {{"", 0}, {"  ", 0}})), &untouched));
  EXPECT_FALSE(ParseSylt(Bytes(std::string(1, '\0') + "eng" + '\x02' + '\x01' + "no terminator"), &untouched));
  EXPECT_EQ(untouched.kind, LyricsKind::None);
  EXPECT_EQ(untouched.source, L"before");
}

TEST_F(LyricsSources, SyltFramesWrittenByMutagen) {
  const std::wstring mp3 = Copy("tone.mp3", "sylt.mp3");
  ASSERT_TRUE(TagMp3(Path("sylt.mp3"), "--sylt-encoding 1 --sylt '[[\"Hel\", 1000], [\"lo \", 1400], "
                                       "[\"world\\n\", 2000], [\"Sec\", 3000], [\"ond\", 3500]]'"));
  Lyrics l = ReadTagLyrics(mp3);
  EXPECT_EQ(l.kind, LyricsKind::Synced);
  EXPECT_EQ(l.source, L"synced lyrics in the track's tags");
  ASSERT_EQ(l.lines.size(), 2u);
  EXPECT_EQ(l.lines[0].text, L"Hello world");
  EXPECT_EQ(l.lines[0].words.size(), 3u);
  EXPECT_EQ(l.lines[1].text, L"Second");
  EXPECT_DOUBLE_EQ(l.lines[1].words[1].start, 3.5);

  // Version 2.3, Latin-1, no breaks: a line per entry. FindLyrics reaches the same.
  const std::wstring v23 = Copy("tone.mp3", "v23.mp3");
  ASSERT_TRUE(TagMp3(Path("v23.mp3"), "--v23 --sylt-encoding 0 --sylt '[[\"Caf\\u00e9\", 500], [\"Two\", 2500]]'"));
  l = FindLyrics(v23);
  ASSERT_EQ(l.lines.size(), 2u);
  EXPECT_EQ(l.lines[0].text, L"Caf\u00e9");
  EXPECT_TRUE(l.lines[0].words.empty());
  EXPECT_DOUBLE_EQ(l.lines[1].start, 2.5);
}

// Times counted in MPEG frames use the file's own frame: 1152 samples at 48 kHz is 24 ms.
TEST_F(LyricsSources, SyltInMpegFramesUsesTheFilesFrameLength) {
  const std::wstring mp3 = Copy("tone48.mp3", "frames.mp3");
  ASSERT_TRUE(TagMp3(Path("frames.mp3"), "--sylt-format 1 --sylt '[[\"one\", 100], [\"two\", 250]]'"));
  const Lyrics l = ReadTagLyrics(mp3);
  ASSERT_EQ(l.lines.size(), 2u);
  EXPECT_NEAR(l.lines[0].start, 2.4, kTolerance);
  EXPECT_NEAR(l.lines[1].start, 6.0, kTolerance);
}

TEST_F(LyricsSources, UsltFramesWrittenByMutagen) {
  const std::wstring timed = Copy("tone.mp3", "timed.mp3");
  ASSERT_TRUE(TagMp3(Path("timed.mp3"), "--uslt-encoding 1 --uslt-desc x --uslt-json '\"[00:01.50]\\u00dcber\\n[00:03.00]zwei\"'"));
  Lyrics l = ReadTagLyrics(timed);
  EXPECT_EQ(l.kind, LyricsKind::Synced);
  EXPECT_EQ(l.source, L"lyrics in the track's tags");
  ASSERT_EQ(l.lines.size(), 2u);
  EXPECT_EQ(l.lines[0].text, L"\u00dcber");

  for (const char* encoding : {"0", "2", "3"}) {
    const std::wstring plain = Copy("tone.mp3", "plain.mp3");
    ASSERT_TRUE(TagMp3(Path("plain.mp3"), std::string("--uslt-encoding ") + encoding +
                                              " --uslt-json '\"Sing \\u00e9t\\u00e9\\r\\nSecond line\"'"));
    l = ReadTagLyrics(plain);
    EXPECT_EQ(l.kind, LyricsKind::Plain) << encoding;
    ASSERT_EQ(l.lines.size(), 2u) << encoding;
    EXPECT_EQ(l.lines[0].text, L"Sing \u00e9t\u00e9") << encoding;
  }

  // A blank USLT first is passed over; a SYLT frame wins over any USLT.
  const std::wstring both = Copy("tone.mp3", "both.mp3");
  ASSERT_TRUE(TagMp3(Path("both.mp3"), "--uslt ' ' --uslt-desc a"));
  ASSERT_TRUE(TagMp3(Path("both.mp3"), "--uslt 'Real words' --uslt-desc b"));
  EXPECT_EQ(ReadTagLyrics(both).lines.at(0).text, L"Real words");
  ASSERT_TRUE(TagMp3(Path("both.mp3"), "--sylt '[[\"Synced\", 10]]'"));
  EXPECT_EQ(ReadTagLyrics(both).source, L"synced lyrics in the track's tags");

  // Lyrics text larger than a lyrics file may be is passed over: a frame of exactly the limit
  // is read, text one character over it is not (neither from the frame nor the tag store).
  for (size_t textBytes : {kMaxLyricsFileBytes - 5, kMaxLyricsFileBytes + 1}) {
    const std::string data = std::string("\x03" "eng\0Real words", 15) + std::string(textBytes - 10, '\n');
    const auto size = static_cast<uint32_t>(data.size() + 10);
    const std::string syncsafe = {char(size >> 21 & 0x7F), char(size >> 14 & 0x7F), char(size >> 7 & 0x7F),
                                  char(size & 0x7F)};
    WriteRaw(Path("huge.mp3"), std::string("ID3\x03\0\0", 6) + syncsafe + "USLT" +
                                   BigEndian(static_cast<uint32_t>(data.size())) + std::string(2, '\0') + data +
                                   ReadRaw(media_ + "/tone.mp3"));
    EXPECT_EQ(ReadTagLyrics(Utf8ToWide(Path("huge.mp3"))).kind,
              textBytes <= kMaxLyricsFileBytes ? LyricsKind::Plain : LyricsKind::None);
  }

  EXPECT_EQ(ReadTagLyrics(Copy("tone.mp3", "bare.mp3")).kind, LyricsKind::None);
  EXPECT_EQ(ReadTagLyrics(Utf8ToWide(Path("missing.mp3"))).kind, LyricsKind::None);
}

// FLAC and M4A lyrics written by ffmpeg come through the tag store.
TEST_F(LyricsSources, FlacAndM4aLyricsWrittenByFfmpeg) {
  Lyrics l = FindLyrics(Copy("lyrics.flac", "song.flac"));
  EXPECT_EQ(l.kind, LyricsKind::Synced);
  EXPECT_EQ(l.source, L"lyrics in the track's tags");
  ASSERT_EQ(l.lines.size(), 2u);
  EXPECT_EQ(l.lines[1].text, L"Flac two");
  EXPECT_DOUBLE_EQ(l.lines[1].start, 2.5);

  l = FindLyrics(Copy("lyrics.m4a", "song.m4a"));
  EXPECT_EQ(l.kind, LyricsKind::Plain);
  ASSERT_EQ(l.lines.size(), 2u);
  EXPECT_EQ(l.lines[0].text, L"First plain line");
}

TEST_F(LyricsSources, VideoFilesAreKaraokeVideosAndCoversAreNot) {
  EXPECT_TRUE(FileHasVideo(Copy("video.mp4", "clip.mp4")));
  EXPECT_TRUE(FileHasVideo(Copy("video.mp4", "clip.MOV")));
  EXPECT_FALSE(FileHasVideo(Copy("video.mp4", "clip.mp3")));  // not a video extension
  EXPECT_FALSE(FileHasVideo(Copy("audio.mp4", "audio.mp4")));
  EXPECT_FALSE(FileHasVideo(Copy("cover.mp4", "cover.mp4")));
  WriteRaw(Path("fake.mkv"), "not a video");
  EXPECT_FALSE(FileHasVideo(Utf8ToWide(Path("fake.mkv"))));
  EXPECT_FALSE(FileHasVideo(Utf8ToWide(Path("missing.mp4"))));

  const std::string lrc = "[00:01.00]Beside\n";
  for (const char* name : {"clip", "audio", "cover"}) WriteRaw(Path(std::string(name) + ".lrc"), lrc);
  WriteRaw(Path("clip.cdg"), std::string(48, '\x09'));
  Lyrics l = FindLyrics(Utf8ToWide(Path("clip.mp4")));
  EXPECT_EQ(l.kind, LyricsKind::KaraokeVideo);
  EXPECT_EQ(l.source, L"the track's own karaoke video");
  EXPECT_TRUE(l.lines.empty());
  EXPECT_EQ(FindLyrics(Utf8ToWide(Path("audio.mp4"))).source, L"audio.lrc");
  EXPECT_EQ(FindLyrics(Utf8ToWide(Path("cover.mp4"))).source, L"cover.lrc");
}

TEST_F(LyricsSources, CacheThenCdgThenLrcThenTags) {
  const std::wstring track = Copy("tone.mp3", "my.song.mp3");
  ASSERT_TRUE(TagMp3(Path("my.song.mp3"), "--uslt 'From the tags'"));
  EXPECT_EQ(FindLyrics(track).source, L"lyrics in the track's tags");

  // An LRC that holds nothing usable falls through to the tags; a real one wins.
  WriteRaw(Path("my.song.lrc"), "[ti:Only a title]\n");
  EXPECT_EQ(FindLyrics(track).source, L"lyrics in the track's tags");
  WriteRaw(Path("my.song.lrc"), "[00:02.00]Beside the track\n");
  Lyrics l = FindLyrics(track);
  EXPECT_EQ(l.source, L"my.song.lrc");
  EXPECT_EQ(l.lines.at(0).text, L"Beside the track");

  // A CD+G file shorter than one packet is passed over; a whole packet wins.
  WriteRaw(Path("my.song.cdg"), std::string(10, '\x09'));
  EXPECT_EQ(FindLyrics(track).source, L"my.song.lrc");
  const std::string packets(48, '\x09');
  WriteRaw(Path("my.song.cdg"), packets);
  l = FindLyrics(track);
  EXPECT_EQ(l.kind, LyricsKind::CdgGraphics);
  EXPECT_EQ(l.source, L"CD+G graphics (my.song.cdg)");
  ASSERT_NE(l.cdg, nullptr);
  EXPECT_EQ(std::string(l.cdg->begin(), l.cdg->end()), packets);
  EXPECT_TRUE(l.lines.empty());

  // A cache file with nothing in it does not stop the search; a real one comes first.
  fs::create_directories(home_.path() + "/data/Veldmix/Lyrics");
  WriteRaw(WideToUtf8(LyricsCachePath(track)), "\xEF\xBB\xBF[re:Veldmix 1.0.10]\n");
  EXPECT_EQ(FindLyrics(track).kind, LyricsKind::CdgGraphics);
  ASSERT_TRUE(SaveLyrics(track, ParseLrc(L"[00:05.00]Saved words")));
  l = FindLyrics(track);
  EXPECT_EQ(l.source, L"saved in Veldmix");
  EXPECT_EQ(l.lines.at(0).text, L"Saved words");
}

TEST_F(LyricsSources, UpperCaseSiblingsAndNothingAtAll) {
  const std::wstring track = Copy("tone.mp3", "Song.mp3");
  EXPECT_EQ(FindLyrics(track).kind, LyricsKind::None);
  WriteRaw(Path("Song.LRC"), "[00:01.00]Upper\n");
  EXPECT_EQ(FindLyrics(track).source, L"Song.LRC");
  WriteRaw(Path("Song.lrc"), "[00:01.00]Lower\n");
  EXPECT_EQ(FindLyrics(track).source, L"Song.lrc");  // the lower-case name is looked for first
  WriteRaw(Path("Song.CDG"), std::string(24, '\x09'));
  EXPECT_EQ(FindLyrics(track).source, L"CD+G graphics (Song.CDG)");
}
