#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

#include "base/files.h"
#include "base/text_parse.h"
#include "karaoke/lrc.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace fs = std::filesystem;

namespace {

constexpr double kTolerance = 1e-9;  // seconds

struct WordSpan {
  double start;
  int32_t offset, count;
};

void ExpectWords(const LyricLine& line, const std::vector<WordSpan>& expected) {
  ASSERT_EQ(line.words.size(), expected.size()) << WideToUtf8(line.text);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(line.words[i].start, expected[i].start, kTolerance) << i;
    EXPECT_EQ(line.words[i].offset, expected[i].offset) << i;
    EXPECT_EQ(line.words[i].count, expected[i].count) << i;
  }
}

}  // namespace

TEST(LrcText, TrimTakesTheSixBlankCharacters) {
  EXPECT_EQ(TrimText(L" \t\r\n\u00a0\ufeffWords here\ufeff\u00a0\n\r\t "), L"Words here");
  EXPECT_EQ(TrimText(L" \u00a0 "), L"");
  EXPECT_EQ(TrimText(L"\u2003x\u2003"), L"\u2003x\u2003");  // other spaces stay
}

TEST(LrcTime, ReadsTheThreeShapes) {
  EXPECT_DOUBLE_EQ(ParseLrcTime(L"01:02.50"), 62.5);
  EXPECT_DOUBLE_EQ(ParseLrcTime(L"1:2"), 62.0);
  EXPECT_DOUBLE_EQ(ParseLrcTime(L"01:02:50"), 62.5);      // minutes, seconds, hundredths
  EXPECT_DOUBLE_EQ(ParseLrcTime(L"1:02:03.5"), 3723.5);   // a "." makes it hours
  EXPECT_DOUBLE_EQ(ParseLrcTime(L"1:02:345"), 4065.0);    // three digits make it hours
  EXPECT_DOUBLE_EQ(ParseLrcTime(L"1:02:5"), 3725.0);      // one digit too
  EXPECT_DOUBLE_EQ(ParseLrcTime(L"0:00:99"), 0.99);
  EXPECT_DOUBLE_EQ(ParseLrcTime(L"1440:00"), 86400.0);    // 24 h is the last time
  EXPECT_DOUBLE_EQ(ParseLrcTime(L".5:1"), 31.0);
}

TEST(LrcTime, RejectsWhatIsNoTime) {
  for (const wchar_t* tag : {L"", L"12", L"ar:Someone", L"1::2", L":1", L"1:", L"1:2:3:4", L"-1:00", L"+1:00",
                             L"1:2 ", L" 1:2", L"1.2.3:00", L".:1", L"1:2e3", L"1440:00.01", L"99999:00",
                             L"1:00:00:00", L"0000000000000000000000000000001:00"})
    EXPECT_EQ(ParseLrcTime(tag), -1.0) << WideToUtf8(tag);
}

TEST(LrcParse, TimeTagsMakeLines) {
  Lyrics l = ParseLrc(L"[ti:Song]\n[00:45.50]Second\n[00:12.00][00:45.50]Chorus\r\n[00:45.50]Third\n");
  EXPECT_EQ(l.kind, LyricsKind::Synced);
  EXPECT_EQ(l.offset, 0.0);
  EXPECT_TRUE(l.source.empty());
  ASSERT_EQ(l.lines.size(), 4u);
  EXPECT_EQ(l.lines[0].text, L"Chorus");
  EXPECT_DOUBLE_EQ(l.lines[0].start, 12.0);
  // Equal starts keep file order; the repeated chorus sits between its neighbours.
  EXPECT_EQ(l.lines[1].text, L"Second");
  EXPECT_EQ(l.lines[2].text, L"Chorus");
  EXPECT_EQ(l.lines[3].text, L"Third");
  for (size_t i = 1; i < 4; ++i) EXPECT_DOUBLE_EQ(l.lines[i].start, 45.5);
}

TEST(LrcParse, WordTagsMakeWords) {
  Lyrics l = ParseLrc(L"[00:10.00]<00:10.00>Hel<00:10.40>lo <00:11.00>world");
  ASSERT_EQ(l.lines.size(), 1u);
  EXPECT_EQ(l.lines[0].text, L"Hello world");
  ExpectWords(l.lines[0], {{10.0, 0, 3}, {10.4, 3, 3}, {11.0, 6, 5}});

  // Leading blanks move word offsets back; a tag with no text after it makes no word; a "<"
  // that begins no tag is text; trailing blanks cut the last word.
  l = ParseLrc(L"[00:01.00]  <00:01.00>a <00:02.00><00:02.50>b<x> <00:03.00>c \t<00:04.00>");
  ASSERT_EQ(l.lines.size(), 1u);
  EXPECT_EQ(l.lines[0].text, L"a b<x> c");
  ExpectWords(l.lines[0], {{1.0, 0, 2}, {2.5, 2, 5}, {3.0, 7, 1}});

  // A word-timed line repeated by a second line tag: words move with it.
  l = ParseLrc(L"[00:10.00][01:00.00]<00:10.00>la <00:10.50>la");
  ASSERT_EQ(l.lines.size(), 2u);
  ExpectWords(l.lines[1], {{60.0, 0, 3}, {60.5, 3, 2}});

  // Blank-only text is a gap: empty text and no words.
  l = ParseLrc(L"[00:05.00] <00:05.00> \t");
  ASSERT_EQ(l.lines.size(), 1u);
  EXPECT_TRUE(l.lines[0].text.empty());
  EXPECT_TRUE(l.lines[0].words.empty());
}

TEST(LrcParse, OffsetAndEstimatedTags) {
  Lyrics l = ParseLrc(L"[offset:100]\n[offset: +500 ]\n[00:00.30]early\n[00:02.00]<00:02.20>late");
  ASSERT_EQ(l.lines.size(), 2u);
  EXPECT_EQ(l.lines[0].start, 0.0);  // 0.3 - 0.5 stops at 0
  EXPECT_NEAR(l.lines[1].start, 1.5, kTolerance);
  EXPECT_NEAR(l.lines[1].words[0].start, 1.7, kTolerance);
  EXPECT_EQ(l.offset, 0.0);
  EXPECT_EQ(l.kind, LyricsKind::Synced);

  l = ParseLrc(L"[offset:-1500]\n[00:01.00]x");
  EXPECT_NEAR(l.lines[0].start, 2.5, kTolerance);
  l = ParseLrc(L"[offset:1e3]\n[offset:99999999999]\n[00:01.00]x");  // not numbers, or beyond 24 h
  EXPECT_NEAR(l.lines[0].start, 1.0, kTolerance);

  EXPECT_EQ(ParseLrc(L"[ VX : Estimated ]\n[00:01.00]x").kind, LyricsKind::Estimated);
  EXPECT_EQ(ParseLrc(L"[vx:guessed]\n[00:01.00]x").kind, LyricsKind::Synced);
}

TEST(LrcParse, UntimedTextIsPlainUnlessSomethingIsTimed) {
  Lyrics l = ParseLrc(L"[ar:Someone]Hello\n  First line \n\n[not a tag]Second\n[00:01.00\nthird\u00a0");
  EXPECT_EQ(l.kind, LyricsKind::Plain);
  ASSERT_EQ(l.lines.size(), 4u);
  EXPECT_EQ(l.lines[0].text, L"First line");
  EXPECT_EQ(l.lines[1].text, L"[not a tag]Second");
  EXPECT_EQ(l.lines[2].text, L"[00:01.00");
  EXPECT_EQ(l.lines[3].text, L"third");
  for (const LyricLine& line : l.lines) EXPECT_EQ(line.start, 0.0);

  l = ParseLrc(L"Hello\nWorld\n[00:03.00]Timed\n");
  EXPECT_EQ(l.kind, LyricsKind::Synced);
  ASSERT_EQ(l.lines.size(), 1u);
  EXPECT_EQ(l.lines[0].text, L"Timed");

  // After a time tag, a tag without ":" is text.
  l = ParseLrc(L"[00:01.00][chorus] Sing");
  EXPECT_EQ(l.lines[0].text, L"[chorus] Sing");

  EXPECT_EQ(ParseLrc(L"").kind, LyricsKind::None);
  EXPECT_EQ(ParseLrc(L"[ti:x]\n[ar:y]\n \n").kind, LyricsKind::None);
  EXPECT_EQ(ParseLrcWithSource(L"a", L"song.lrc").source, L"song.lrc");
}

TEST(LrcParse, LineEndsOfEveryKind) {
  Lyrics l = ParseLrc(L"[00:01.00]a\r\n[00:02.00]b\r[00:03.00]c\n[00:04.00]d");
  ASSERT_EQ(l.lines.size(), 4u);
  EXPECT_EQ(l.lines[1].text, L"b");
  EXPECT_EQ(l.lines[2].text, L"c");
  EXPECT_DOUBLE_EQ(l.lines[3].start, 4.0);
}

// Hostile text: a few MiB that would multiply into gigabytes, or run quadratic, give nothing.
TEST(LrcParse, RefusesTextBeyondTheLimits) {
  std::wstring stamps;
  while (stamps.size() < (size_t(1) << 20)) stamps += L"[00:01.00]";
  EXPECT_EQ(ParseLrc(stamps + std::wstring(4000, L'x')).kind, LyricsKind::None);

  std::wstring manyLines;
  for (size_t i = 0; i <= kMaxLyricLines; ++i) manyLines += L"[00:01.00]x\n";
  EXPECT_EQ(ParseLrc(manyLines).kind, LyricsKind::None);
  manyLines.resize(manyLines.size() - 24);  // two lines fewer: within the limit
  EXPECT_EQ(ParseLrc(manyLines).lines.size(), kMaxLyricLines - 1);

  EXPECT_EQ(ParseLrc(L"[00:01.00]" + std::wstring(kMaxLyricLineChars + 1, L'y')).kind, LyricsKind::None);
  EXPECT_EQ(ParseLrc(std::wstring(kMaxLyricLineChars + 1, L'y')).kind, LyricsKind::None);
  EXPECT_EQ(ParseLrc(L"[00:01.00]" + std::wstring(kMaxLyricLineChars, L'y')).lines.size(), 1u);

  // Many lines of legal length that together pass the character limit.
  std::wstring wide;
  const std::wstring row = L"[00:01.00]" + std::wstring(4000, L'z') + L"\n";
  while (wide.size() < kMaxLyricsChars + 2 * row.size()) wide += row;
  EXPECT_EQ(ParseLrc(wide).kind, LyricsKind::None);

  // Two MiB of "<" without a tag, and of "<" before a far ">": linear, and just too long a line.
  const std::wstring lt(size_t(2) << 20, L'<');
  EXPECT_EQ(ParseLrc(L"[00:01.00]" + lt).kind, LyricsKind::None);
  EXPECT_EQ(ParseLrc(L"[00:01.00]" + lt + L">").kind, LyricsKind::None);
}

TEST(LrcFormat, TimesInHundredths) {
  EXPECT_EQ(FormatLrcTime(61.25), L"01:01.25");
  EXPECT_EQ(FormatLrcTime(6005.0), L"100:05.00");
  EXPECT_EQ(FormatLrcTime(1.125), L"00:01.13");  // halves away from zero
  EXPECT_EQ(FormatLrcTime(59.999), L"01:00.00");
  EXPECT_EQ(FormatLrcTime(-1.0), L"00:00.00");
  EXPECT_EQ(FormatLrcTime(std::numeric_limits<double>::quiet_NaN()), L"00:00.00");
  EXPECT_EQ(FormatLrcTime(1e300), L"1440:00.00");
  EXPECT_EQ(FormatLrcTime(std::numeric_limits<double>::infinity()), L"1440:00.00");
}

TEST(LrcFormat, WritesLinesWordsAndMarker) {
  Lyrics l;
  l.kind = LyricsKind::Estimated;
  l.offset = 0.5;
  l.lines = {LyricLine{.start = 1.0, .text = L"plain", .words = {}},
             LyricLine{.start = 2.0, .text = L"  Hello world!", .words = {{2.0, 2, 6}, {2.5, 8, 5}, {3.0, -4, 99}}},
             LyricLine{.start = 4.0, .text = L"two\nrows", .words = {}}};
  EXPECT_EQ(WriteLrc(l),
            L"[re:Veldmix 1.0.10]\n[vx:estimated]\n[00:01.50]plain\n"
            L"[00:02.50]  <00:02.50>Hello <00:03.00>world<00:03.50>  Hello world!\n"
            L"[00:04.50]two rows\n");
  l.kind = LyricsKind::Synced;
  EXPECT_EQ(WriteLrc(l).find(L"[vx:"), std::wstring::npos);
}

TEST(LrcFormat, WriteThenParseFoldsTheOffset) {
  Lyrics l = ParseLrc(L"[00:10.00]<00:10.00>Hel<00:10.40>lo <00:11.00>world\n[00:12.00]\n[01:40.99]End");
  l.offset = 1.5;
  const Lyrics back = ParseLrc(WriteLrc(l));
  EXPECT_EQ(back.kind, LyricsKind::Synced);
  EXPECT_EQ(back.offset, 0.0);
  ASSERT_EQ(back.lines.size(), l.lines.size());
  for (size_t i = 0; i < l.lines.size(); ++i) {
    EXPECT_NEAR(back.lines[i].start, l.lines[i].start + 1.5, kTolerance);
    EXPECT_EQ(back.lines[i].text, l.lines[i].text);
    ASSERT_EQ(back.lines[i].words.size(), l.lines[i].words.size());
    for (size_t w = 0; w < l.lines[i].words.size(); ++w) {
      EXPECT_NEAR(back.lines[i].words[w].start, l.lines[i].words[w].start + 1.5, kTolerance);
      EXPECT_EQ(back.lines[i].words[w].offset, l.lines[i].words[w].offset);
      EXPECT_EQ(back.lines[i].words[w].count, l.lines[i].words[w].count);
    }
  }
}

TEST(LrcFiles, DecodingRules) {
  // Not strictly UTF-8 (overlong, surrogate, beyond U+10FFFF, cut short): Windows-1252.
  EXPECT_EQ(DecodeLyricsBytes("\xC0\x80"), L"\u00c0\u20ac");
  EXPECT_EQ(DecodeLyricsBytes("\xED\xA0\x80"), L"\u00ed\u00a0\u20ac");
  EXPECT_EQ(DecodeLyricsBytes("\xF4\x90\x80\x80"), L"\u00f4\u0090\u20ac\u20ac");
  EXPECT_EQ(DecodeLyricsBytes("ok \xC3"), L"ok \u00c3");
  EXPECT_EQ(DecodeLyricsBytes("\x81\x8D\x8F\x90\x9D"), L"\u0081\u008d\u008f\u0090\u009d");
  EXPECT_EQ(DecodeLyricsBytes("\xF0\x9F\x8E\xA4 mic"), L"\U0001F3A4 mic");
  // UTF-16: pairs joined, an odd last byte dropped, a lone surrogate replaced.
  EXPECT_EQ(DecodeLyricsBytes(std::string("\xFF\xFE\x3C\xD8\xA4\xDF!\x00x", 9)), L"\U0001F3A4!");
  EXPECT_EQ(DecodeLyricsBytes(std::string("\xFE\xFF\xD8\x3C\x00!", 6)), L"\ufffd!");
  EXPECT_EQ(DecodeLyricsBytes("\xEF\xBB\xBF\xEF\xBB\xBFx"), L"\ufeffx");  // only one mark is taken
}

// Only the first 4 MiB of a file are read.
TEST(LrcFiles, ReadsAtMostTheLimit) {
  TempHome home;
  const std::string path = home.path() + "/big.lrc";
  WriteRaw(path, std::string(kMaxLyricsFileBytes, 'a') + "tail");
  const std::wstring text = ReadLyricsText(Utf8ToWide(path));
  EXPECT_EQ(text.size(), kMaxLyricsFileBytes);
  EXPECT_EQ(text.find(L't'), std::wstring::npos);
  EXPECT_EQ(ReadLyricsText(Utf8ToWide(home.path() + "/missing.lrc")), L"");
}

TEST(LyricsCache, NamesFilesByPathHash) {
  TempHome home;
  // FNV-1a from the cache's own basis over the UTF-8 path, worked out independently.
  EXPECT_EQ(LyricsCacheHash(L"/music/Caf\u00e9.mp3"), 0x109123d59bc8332aull);
  EXPECT_EQ(LyricsCachePath(L"/music/Caf\u00e9.mp3"), home.wpath() + L"/data/Veldmix/Lyrics/109123d59bc8332a.lrc");
  // File names differ in case here, so do their cache files.
  EXPECT_NE(LyricsCachePath(L"/music/a.mp3"), LyricsCachePath(L"/music/A.mp3"));
  EXPECT_EQ(LyricsCachePath(L"/x").size(), (home.wpath() + L"/data/Veldmix/Lyrics/").size() + 20);
}

TEST(LyricsCache, SavesOnlyTimedLyricsCrashSafe) {
  TempHome home;
  const std::wstring track = home.wpath() + L"/song.mp3";
  Lyrics l = ParseLrc(L"[00:01.00]One\n[00:02.00]Two");
  l.offset = -0.25;
  ASSERT_TRUE(SaveLyrics(track, l));
  const std::string bytes = ReadRaw(WideToUtf8(LyricsCachePath(track)));
  EXPECT_EQ(bytes, "\xEF\xBB\xBF[re:Veldmix 1.0.10]\n[00:00.75]One\n[00:01.75]Two\n");
  EXPECT_TRUE(WriteTemps(std::filesystem::path(WideToUtf8(LyricsCachePath(track))).parent_path().native()).empty());

  l.kind = LyricsKind::Estimated;
  ASSERT_TRUE(SaveLyrics(track, l));
  EXPECT_EQ(ParseLrc(ReadLyricsText(LyricsCachePath(track))).kind, LyricsKind::Estimated);

  for (LyricsKind kind : {LyricsKind::None, LyricsKind::Plain, LyricsKind::CdgGraphics, LyricsKind::KaraokeVideo}) {
    l.kind = kind;
    EXPECT_FALSE(SaveLyrics(home.wpath() + L"/other.mp3", l));
  }
  EXPECT_FALSE(fs::exists(WideToUtf8(LyricsCachePath(home.wpath() + L"/other.mp3"))));
  Lyrics empty;
  empty.kind = LyricsKind::Synced;
  EXPECT_FALSE(SaveLyrics(track, empty));

  // A folder in the way of the file: the save fails and the folder stays.
  l.kind = LyricsKind::Synced;
  const std::wstring blocked = home.wpath() + L"/blocked.mp3";
  fs::create_directories(WideToUtf8(LyricsCachePath(blocked)) + "/x");
  EXPECT_FALSE(SaveLyrics(blocked, l));
  EXPECT_TRUE(fs::is_directory(WideToUtf8(LyricsCachePath(blocked)) + "/x"));
}
