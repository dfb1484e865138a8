#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "karaoke/lyrics.h"

namespace {

constexpr double kTolerance = 1e-9;  // characters

LyricLine Line(double start, std::wstring text, std::vector<LyricWord> words = {}) {
  return LyricLine{.start = start, .text = std::move(text), .words = std::move(words)};
}

Lyrics Synced(std::vector<LyricLine> lines, double offset = 0.0) {
  Lyrics l;
  l.kind = LyricsKind::Synced;
  l.lines = std::move(lines);
  l.offset = offset;
  return l;
}

}  // namespace

// The kind table: every value once, in value order, and only Synced and Estimated carry times.
TEST(LyricsKinds, TableMatchesTheEnumeration) {
  std::set<std::string> names;
  for (size_t i = 0; i < std::size(kLyricsKinds); ++i) {
    EXPECT_EQ(static_cast<uint32_t>(kLyricsKinds[i].kind), i);
    EXPECT_TRUE(names.insert(kLyricsKinds[i].name).second);
    EXPECT_EQ(IsTimedLyrics(kLyricsKinds[i].kind),
              kLyricsKinds[i].kind == LyricsKind::Synced || kLyricsKinds[i].kind == LyricsKind::Estimated);
  }
  EXPECT_EQ(std::size(kLyricsKinds), 6u);
  EXPECT_STREQ(LyricsKindName(LyricsKind::CdgGraphics), "CdgGraphics");
  EXPECT_STREQ(LyricsKindName(static_cast<LyricsKind>(9)), "Unknown");
}

TEST(LyricsTiming, EmptyLyricsAnswerNothing) {
  const Lyrics none;
  EXPECT_EQ(LyricsLineAt(none, 5.0), -1);
  for (int32_t i : {-1, 0, 3}) {
    EXPECT_EQ(LyricsLineStart(none, i), 0.0);
    EXPECT_EQ(LyricsLineEnd(none, i), 0.0);
    EXPECT_EQ(LyricsSungChars(none, i, 5.0), 0.0);
  }
}

TEST(LyricsTiming, LineAtFollowsStartsAndOffset) {
  Lyrics l = Synced({Line(10.0, L"a"), Line(20.0, L"b"), Line(20.0, L"c"), Line(30.0, L"d")});
  EXPECT_EQ(LyricsLineAt(l, 9.99), -1);
  EXPECT_EQ(LyricsLineAt(l, 10.0), 0);
  EXPECT_EQ(LyricsLineAt(l, 19.0), 0);
  EXPECT_EQ(LyricsLineAt(l, 20.0), 2);  // equal starts: the later of them
  EXPECT_EQ(LyricsLineAt(l, 1000.0), 3);
  l.offset = 2.0;
  EXPECT_EQ(LyricsLineAt(l, 11.99), -1);
  EXPECT_EQ(LyricsLineAt(l, 12.0), 0);
  EXPECT_EQ(LyricsLineStart(l, 0), 12.0);
  EXPECT_EQ(LyricsLineStart(l, 4), 0.0);
  EXPECT_EQ(LyricsLineStart(l, -1), 0.0);
}

TEST(LyricsTiming, LineEndsFromTextNextLineAndWords) {
  // Last plain lines: their estimate, never less than 1.2 s.
  EXPECT_DOUBLE_EQ(LyricsLineEndRaw(Synced({Line(60.0, L"0123456789")}), 0), 61.5);
  EXPECT_DOUBLE_EQ(LyricsLineEndRaw(Synced({Line(60.0, L"ab")}), 0), 61.2);
  // Cut 0.1 s before the next line, but never sooner than 0.3 s after the start.
  Lyrics close = Synced({Line(5.0, L"long enough line"), Line(6.0, L"x"), Line(6.2, L"y")});
  EXPECT_DOUBLE_EQ(LyricsLineEndRaw(close, 0), 5.9);
  EXPECT_DOUBLE_EQ(LyricsLineEndRaw(close, 1), 6.3);
  // A word-timed line ends after its last word: max(0.35, 0.15 + 0.09 x count).
  Lyrics words = Synced({Line(1.0, L"Hello world", {{1.0, 0, 6}, {2.0, 6, 5}})});
  EXPECT_DOUBLE_EQ(LyricsLineEndRaw(words, 0), 2.0 + 0.15 + 0.45);
  Lyrics shortWord = Synced({Line(1.0, L"a b", {{1.0, 0, 2}, {2.0, 2, 1}})});
  EXPECT_DOUBLE_EQ(LyricsLineEndRaw(shortWord, 0), 2.35);
  words.offset = -0.5;
  EXPECT_DOUBLE_EQ(LyricsLineEnd(words, 0), 2.1);
  EXPECT_EQ(LyricsLineEnd(words, 1), 0.0);
}

TEST(LyricsTiming, PlainWipeRunsAcrossTheLine) {
  Lyrics l = Synced({Line(10.0, L"0123456789")});  // ends at 11.5
  EXPECT_EQ(LyricsSungChars(l, 0, 10.0), 0.0);       // exactly at the start
  EXPECT_NEAR(LyricsSungChars(l, 0, 10.75), 5.0, kTolerance);
  EXPECT_NEAR(LyricsSungChars(l, 0, 11.5), 10.0, kTolerance);
  EXPECT_NEAR(LyricsSungChars(l, 0, 99.0), 10.0, kTolerance);
  l.offset = 1.0;
  EXPECT_NEAR(LyricsSungChars(l, 0, 11.75), 5.0, kTolerance);
  EXPECT_EQ(LyricsSungChars(l, 1, 11.75), 0.0);
}

TEST(LyricsTiming, WordWipeFollowsTheCurrentWord) {
  // Words at 10.0 (3 chars), 10.4 (3), 11.0 (5): "Hello world".
  Lyrics l = Synced({Line(9.5, L"Hello world", {{10.0, 0, 3}, {10.4, 3, 3}, {11.0, 6, 5}})});
  EXPECT_EQ(LyricsSungChars(l, 0, 9.8), 0.0);  // the line started, its first word not
  // First word: span 0.4, cap 0.35 + 0.3 = 0.65, so 0.4 s: at 10.2 half of 3 characters.
  EXPECT_NEAR(LyricsSungChars(l, 0, 10.2), 1.5, kTolerance);
  EXPECT_NEAR(LyricsSungChars(l, 0, 10.39), 2.925, kTolerance);
  // Second word: span 0.6, cap 0.65, so 0.6 s; full before the third word starts.
  EXPECT_NEAR(LyricsSungChars(l, 0, 10.7), 3 + 3 * 0.5, kTolerance);
  // Last word: span to the line end (11.0 + 0.6 = 11.6), cap 0.85: 0.6 s.
  EXPECT_NEAR(LyricsSungChars(l, 0, 11.3), 6 + 5 * 0.5, kTolerance);
  EXPECT_NEAR(LyricsSungChars(l, 0, 20.0), 11.0, kTolerance);
  // A long gap to the next word is capped at 0.35 + 0.1 x count.
  Lyrics gap = Synced({Line(0.0, L"ab cd", {{1.0, 0, 3}, {5.0, 3, 2}})});
  EXPECT_NEAR(LyricsSungChars(gap, 0, 1.325), 1.5, kTolerance);
  EXPECT_NEAR(LyricsSungChars(gap, 0, 3.0), 3.0, kTolerance);
}

TEST(LyricsTapping, MovesTheLineAndPushesLaterOnes) {
  Lyrics l = Synced({Line(0, L"0"), Line(10, L"1"), Line(20, L"2"), Line(29.9, L"3"), Line(30.4, L"4"),
                     Line(40, L"5")});
  TapLyricLine(&l, 2, 30.0);
  EXPECT_DOUBLE_EQ(l.lines[2].start, 30.0);
  EXPECT_DOUBLE_EQ(l.lines[3].start, 30.3);
  EXPECT_DOUBLE_EQ(l.lines[4].start, 30.6);
  EXPECT_DOUBLE_EQ(l.lines[5].start, 40.0);
  EXPECT_DOUBLE_EQ(l.lines[1].start, 10.0);  // earlier lines stay
  // The tap is taken less the offset, and never before the track starts.
  l.offset = 2.5;
  TapLyricLine(&l, 0, 12.0);
  EXPECT_DOUBLE_EQ(l.lines[0].start, 9.5);
  EXPECT_DOUBLE_EQ(l.lines[1].start, 10.0);
  TapLyricLine(&l, 0, 1.0);
  EXPECT_EQ(l.lines[0].start, 0.0);
  TapLyricLine(&l, 6, 50.0);  // out of range: nothing
  TapLyricLine(&l, -1, 50.0);
  EXPECT_DOUBLE_EQ(l.lines[5].start, 40.0);
}
