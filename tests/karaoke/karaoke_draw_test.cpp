// The karaoke screen's frame read back as pixels at 1280 x 720: the colour wipe's edge, the song
// header's fade before the first line, the count-in dots, the NEXT UP rule, the theme and text-size
// clamps, the note for an empty line, and a beat length that is no number.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "karaoke/karaoke_draw.h"

namespace {

constexpr int kW = 1280, kH = 720;
constexpr uint32_t kGold = 0xFFC83D, kWhite = 0xFFFFFF;

struct Render {
  std::unique_ptr<DrawSurface> surface = DrawSurface::Create(kW, kH, 1.0f);
  KaraokeDrawState state;
  KaraokeScreen content;

  // Draws the frame and returns its pixels as 0xRRGGBB, row after row.
  std::vector<uint32_t> Frame(const KaraokeScreenInfo& info, const KaraokeSettings& settings, double clock = 5.0) {
    DrawKaraokeScreen(state, content, *surface, kW, kH, info, settings, clock);
    const PixelView v = surface->Pixels();
    std::vector<uint32_t> rgb(static_cast<size_t>(kW) * kH);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) rgb[static_cast<size_t>(y) * kW + x] = v.pixels[y * v.stride + x] & 0xFFFFFF;
    return rgb;
  }
};

struct Box {
  int x0, y0, x1, y1;  // [x0, x1) x [y0, y1)
};

int Count(const std::vector<uint32_t>& px, Box b, uint32_t rgb) {
  int n = 0;
  for (int y = b.y0; y < b.y1; ++y)
    for (int x = b.x0; x < b.x1; ++x) n += px[static_cast<size_t>(y) * kW + x] == rgb;
  return n;
}

bool SameIn(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, Box box) {
  for (int y = box.y0; y < box.y1; ++y)
    for (int x = box.x0; x < box.x1; ++x)
      if (a[static_cast<size_t>(y) * kW + x] != b[static_cast<size_t>(y) * kW + x]) return false;
  return true;
}

constexpr Box kWhole{0, 0, kW, kH};

LyricLine Line(double start, std::wstring text) {
  LyricLine l;
  l.start = start;
  l.text = std::move(text);
  return l;
}

// A song at 120 BPM whose first line starts at 10 s; accents far from the theme colours.
KaraokeScreenInfo Singing(std::vector<LyricLine> lines, double t) {
  auto lyrics = std::make_shared<Lyrics>();
  lyrics->kind = LyricsKind::Synced;
  lyrics->lines = std::move(lines);
  KaraokeScreenInfo info = DefaultKaraokeScreenInfo();
  info.mode = 2;
  info.lyrics = lyrics;
  info.position = t;
  info.playing = true;
  info.duration = 180;
  info.beatLength = 0.5;
  info.title = L"Title Here";
  info.artist = L"Artist";
  info.accent1 = 0x204060;
  info.accent2 = 0x306020;
  return info;
}

KaraokeSettings Gold() {
  KaraokeSettings s;
  s.Palette = 1;
  s.Message.clear();
  return s;
}

}  // namespace

TEST(KaraokeScreenDraw, WipeIsGoldLeftOfItsEdgeWhiteRightAndMovesOnlyRightThroughAWord) {
  LyricLine line = Line(10, L"alpha beta gamma delta omega");
  const int offsets[] = {0, 6, 11, 17, 23, 28};
  for (int i = 0; i < 5; ++i) line.words.push_back({10.0 + i, offsets[i], offsets[i + 1] - offsets[i]});
  Render r;
  const KaraokeSettings settings = Gold();
  // Where words 3 and 4 lie, from the same layout the screen draws.
  const TextBlock* block = KaraokeTextLayout(r.state, line.text, 0.072f * kH, true, 0.88f * kW);
  ASSERT_NE(block, nullptr);
  const float left = 0.5f * kW - 0.44f * kW;
  float gammaLeft = 0, w = 0, deltaEnd = 0;
  ASSERT_TRUE(block->CharacterBox(11, &gammaLeft, &w));
  ASSERT_TRUE(block->CharacterBox(21, &deltaEnd, &w));
  gammaLeft += left;
  deltaEnd += left + w;

  const Box band{0, static_cast<int>(0.4 * kH), kW, static_cast<int>(0.7 * kH)};
  int lastEdge = -1;
  for (double t = 12.1; t < 13.0; t += 0.1) {
    const std::vector<uint32_t> px = r.Frame(Singing({line, Line(40, L"later")}, t), settings);
    int edge = -1, firstWhite = kW;
    for (int y = band.y0; y < band.y1; ++y)
      for (int x = 0; x < kW; ++x) {
        const uint32_t c = px[static_cast<size_t>(y) * kW + x];
        if (c == kGold) edge = std::max(edge, x);
        if (c == kWhite) firstWhite = std::min(firstWhite, x);
      }
    SCOPED_TRACE(testing::Message() << "t = " << t << ", edge " << edge << ", first white " << firstWhite);
    EXPECT_GT(Count(px, band, kGold), 500);
    EXPECT_GT(Count(px, band, kWhite), 500);
    EXPECT_GT(firstWhite, edge);  // no unsung colour left of the edge
    EXPECT_GE(edge, gammaLeft - 2);
    EXPECT_LE(edge, deltaEnd + 2);
    EXPECT_GE(edge, lastEdge);
    lastEdge = edge;
  }
}

TEST(KaraokeScreenDraw, TheHeaderFadesOutBeforeTheFirstLineEvenForABeatLengthThatIsNoNumber) {
  Render r;
  const KaraokeSettings settings = Gold();
  const Box header{0, static_cast<int>(0.28 * kH), kW, static_cast<int>(0.42 * kH)};
  const std::vector<LyricLine> lines = {Line(10, L"first words"), Line(14, L"second")};
  const auto titled = [&](double t, double beat) {
    KaraokeScreenInfo info = Singing(lines, t);
    info.beatLength = beat;
    return r.Frame(info, settings);
  };
  const auto untitled = [&](double t) {
    KaraokeScreenInfo info = Singing(lines, t);
    info.title.clear();
    info.artist.clear();
    return r.Frame(info, settings);
  };
  // 120 BPM: whole until 7 s (the title in the theme colour at full strength), gone after 8 s.
  EXPECT_GT(Count(titled(6.9, 0.5), header, kGold), 1000);
  EXPECT_TRUE(SameIn(titled(8.1, 0.5), untitled(8.1), header));
  EXPECT_FALSE(SameIn(titled(7.5, 0.5), untitled(7.5), header));
  // 60 / BPM 0: the record's default beat, so the header still shows before the words.
  EXPECT_GT(Count(titled(6.9, std::numeric_limits<double>::infinity()), header, kGold), 1000);
  EXPECT_GT(Count(titled(6.9, std::numeric_limits<double>::quiet_NaN()), header, kGold), 1000);
}

TEST(KaraokeScreenDraw, CountInDotsFallOnTheBeatsAndSkipAShortPause) {
  Render r;
  const KaraokeSettings settings = Gold();
  const float s = 0.072f * kH;
  // Lit dots: full theme colour at the four dot columns, above the line.
  const auto lit = [&](const std::vector<uint32_t>& px) {
    int n = 0;
    for (int i = 0; i < 4; ++i) {
      const int x = static_cast<int>(0.5f * kW + (i - 1.5f) * 0.55f * s);
      bool found = false;
      for (int y = static_cast<int>(0.25 * kH); y < static_cast<int>(0.56 * kH) && !found; ++y)
        found = px[static_cast<size_t>(y) * kW + x] == kGold;
      n += found;
    }
    return n;
  };
  const std::vector<LyricLine> first = {Line(10, L"first words"), Line(30, L"second")};
  EXPECT_EQ(lit(r.Frame(Singing(first, 10 - 3.2 * 0.5), settings)), 4);
  EXPECT_EQ(lit(r.Frame(Singing(first, 10 - 2.5 * 0.5), settings)), 3);
  EXPECT_EQ(lit(r.Frame(Singing(first, 10 - 0.5 * 0.5), settings)), 1);
  KaraokeSettings off = settings;
  off.Countdown = false;
  EXPECT_EQ(lit(r.Frame(Singing(first, 10 - 3.2 * 0.5), off)), 0);

  // A pause of exactly 4 beats + 1 s after a line gets no dots; a little longer does.
  std::vector<LyricLine> paused = {Line(4, L"hi"), Line(1000, L"after the pause")};
  auto probe = std::make_shared<Lyrics>();
  probe->lines = paused;
  const double end0 = LyricsLineEndRaw(*probe, 0);
  double next = end0 + 3.0;
  while (next - end0 > 3.0) next = std::nextafter(next, 0.0);
  ASSERT_LE(next - end0, 3.0);
  ASSERT_GT(next - end0, 3.0 - 1e-12);  // as near to exactly 4 beats + 1 s as doubles allow
  paused[1].start = next;
  EXPECT_EQ(lit(r.Frame(Singing(paused, next - 1.6), settings)), 0);
  paused[1].start = end0 + 3.05;
  EXPECT_EQ(lit(r.Frame(Singing(paused, end0 + 3.05 - 1.6), settings)), 4);
}

TEST(KaraokeScreenDraw, NextUpShowsAfterSixtyPercentOrInTheLastMinute) {
  Render r;
  const KaraokeSettings settings = Gold();
  const Box banner{0, static_cast<int>(0.88 * kH), kW / 2, kH};
  const std::vector<LyricLine> lines = {Line(1, L"words")};
  const auto shown = [&](double t, double duration) {
    KaraokeScreenInfo info = Singing(lines, t);
    info.duration = duration;
    const std::vector<uint32_t> without = r.Frame(info, settings);
    info.nextSinger = L"Bob";
    return !SameIn(r.Frame(info, settings), without, banner);
  };
  EXPECT_TRUE(shown(109, 180));
  EXPECT_FALSE(shown(107, 180));
  EXPECT_TRUE(shown(361, 600));
  EXPECT_FALSE(shown(359, 600));
  EXPECT_TRUE(shown(541, 600));
  KaraokeSettings hidden = settings;
  hidden.ShowNext = false;
  KaraokeScreenInfo info = Singing(lines, 170);
  const std::vector<uint32_t> without = r.Frame(info, hidden);
  info.nextSinger = L"Bob";
  EXPECT_TRUE(SameIn(r.Frame(info, hidden), without, banner));
}

TEST(KaraokeScreenDraw, ThemeAndTextSizeClampAndAnEmptyLineShowsANote) {
  Render r;
  const KaraokeScreenInfo info = Singing({Line(10, L"the words"), Line(12, L"more")}, 11);
  KaraokeSettings s = Gold();
  const auto frame = [&](int palette, int textSize) {
    s.Palette = palette;
    s.TextSize = textSize;
    return r.Frame(info, s);
  };
  EXPECT_EQ(frame(7, 1), frame(4, 1));   // FIRE
  EXPECT_EQ(frame(-1, 1), frame(0, 1));  // CLASSIC
  EXPECT_NE(frame(4, 1), frame(0, 1));
  EXPECT_EQ(frame(1, 5), frame(1, 1));   // 0.072 H
  EXPECT_NE(frame(1, 0), frame(1, 1));
  EXPECT_NE(frame(1, 2), frame(1, 1));

  // Before it starts, an empty line looks exactly as a line holding the note does.
  KaraokeSettings quiet = Gold();
  quiet.Countdown = false;
  const auto empty = r.Frame(Singing({Line(10, L"first"), Line(20, L"")}, 19.5), quiet);
  const auto note = r.Frame(Singing({Line(10, L"first"), Line(20, L"\u266A")}, 19.5), quiet);
  const auto other = r.Frame(Singing({Line(10, L"first"), Line(20, L"x")}, 19.5), quiet);
  EXPECT_EQ(empty, note);
  EXPECT_NE(empty, other);
}

TEST(KaraokeScreenDraw, IdleWithoutANextSingerAndGetReadyDrawTheirTexts) {
  Render r;
  KaraokeSettings s = Gold();
  KaraokeScreenInfo idle = DefaultKaraokeScreenInfo();
  const Box title{0, static_cast<int>(0.3 * kH), kW, static_cast<int>(0.5 * kH)};
  EXPECT_GT(Count(r.Frame(idle, s), title, kWhite), 3000);  // "KARAOKE", white, 0.14 H tall
  KaraokeScreenInfo ready = Singing({Line(10, L"first")}, 0);
  ready.mode = 1;
  ready.singer = L"Alice";
  // The title below the singer in the theme colour, whole.
  EXPECT_GT(Count(r.Frame(ready, s), Box{0, static_cast<int>(0.35 * kH), kW, static_cast<int>(0.55 * kH)}, kGold),
            800);
}
