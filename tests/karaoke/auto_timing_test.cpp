#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/test_mode.h"
#include "engine/audio_file.h"
#include "engine/engine.h"
#include "karaoke/auto_timing.h"
#include "karaoke/lrc.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace {

constexpr double kExact = 1e-9;  // seconds

Lyrics PlainLines(const std::vector<std::wstring>& texts) {
  Lyrics lyrics;
  lyrics.kind = LyricsKind::Plain;
  for (const std::wstring& text : texts) lyrics.lines.push_back({.start = 0.0, .text = text, .words = {}});
  return lyrics;
}

Track SilentTrack(int32_t rate, double seconds, double firstSound = 0.0) {
  Track track;
  track.sampleRate = rate;
  track.frames = static_cast<uint64_t>(std::llround(rate * seconds));
  track.firstSound = firstSound;
  return track;
}

// A vocal stem of `seconds`, holding a 440 Hz tone (amplitude 0.5) inside each (start, end) span.
StemData ToneStem(int32_t rate, double seconds, const std::vector<std::pair<double, double>>& spans) {
  StemData stems;
  stems.frames = static_cast<uint64_t>(std::llround(rate * seconds));
  stems.vocals.assign(2 * stems.frames, 0);
  for (const auto& [from, to] : spans) {
    const auto last = static_cast<uint64_t>(std::llround(to * rate));
    for (auto f = static_cast<uint64_t>(std::llround(from * rate)); f < last && f < stems.frames; ++f) {
      const auto v = static_cast<int16_t>(std::lround(16000.0 * std::sin(2.0 * M_PI * 440.0 * f / rate)));
      stems.vocals[2 * f] = stems.vocals[2 * f + 1] = v;
    }
  }
  return stems;
}

void ExpectSegments(const StemData& stems, int32_t rate, const std::vector<std::pair<double, double>>& expected) {
  const std::vector<VoicedSegment> segments = FindVoicedSegments(stems, rate);
  ASSERT_EQ(segments.size(), expected.size());
  for (size_t i = 0; i < segments.size(); ++i) {
    EXPECT_NEAR(segments[i].start, expected[i].first, kExact) << "segment " << i;
    EXPECT_NEAR(segments[i].end, expected[i].second, kExact) << "segment " << i;
  }
}

std::vector<double> Starts(const Lyrics& lyrics) {
  std::vector<double> starts;
  for (const LyricLine& line : lyrics.lines) starts.push_back(line.start);
  return starts;
}

}  // namespace

TEST(AutoTiming, VoicedSegmentsBridgeShortPausesAndDropBlips) {
  // 1.0-2.0 and 2.35-3.0 (a 0.35 s pause: one phrase), 3.4-4.0 (after 0.4 s: a new phrase),
  // a 0.25 s blip (no phrase) and a phrase of exactly 0.3 s.
  ExpectSegments(ToneStem(44100, 7.0, {{1.0, 2.0}, {2.35, 3.0}, {3.4, 4.0}, {5.0, 5.25}, {6.0, 6.3}}), 44100,
                 {{1.0, 3.0}, {3.4, 4.0}, {6.0, 6.3}});
  // A 0.2 s lead-in and a 0.1 s tail stay silent though shorter than a bridge.
  ExpectSegments(ToneStem(44100, 2.0, {{0.2, 1.9}}), 44100, {{0.2, 1.9}});
  // At 22.05 kHz a window is 1102 frames, still counted as 0.05 s: frame 22040 (window 20) is 1.0 s.
  StemData slow = ToneStem(22050, 4.0, {});
  for (uint64_t f = 20 * 1102; f < 60 * 1102; ++f) slow.vocals[2 * f] = slow.vocals[2 * f + 1] = 12000;
  ExpectSegments(slow, 22050, {{1.0, 3.0}});
}

TEST(AutoTiming, UnusableStemsGiveNoSegments) {
  EXPECT_TRUE(FindVoicedSegments(ToneStem(44100, 3.0, {}), 44100).empty()) << "silence";
  StemData tooShort = ToneStem(44100, 1.0, {{0.0, 1.0}});
  tooShort.frames = 2000;  // less than one 2205-frame window
  tooShort.vocals.resize(4000);
  EXPECT_TRUE(FindVoicedSegments(tooShort, 44100).empty());
  StemData missingSamples = ToneStem(44100, 2.0, {{0.5, 1.5}});
  missingSamples.vocals.resize(missingSamples.vocals.size() - 2);
  EXPECT_TRUE(FindVoicedSegments(missingSamples, 44100).empty());
  EXPECT_TRUE(FindVoicedSegments(StemData{}, 44100).empty());
  EXPECT_TRUE(FindVoicedSegments(ToneStem(44100, 2.0, {{0.5, 1.5}}), 0).empty());
}

TEST(AutoTiming, WithoutStemsLinesSpreadOverTheBodyOfTheTrack) {
  Lyrics lyrics = PlainLines({std::wstring(10, L'a'), std::wstring(30, L'b')});
  lyrics.lines[0].words.push_back({.start = 5.0, .offset = 0, .count = 3});
  const Track track = SilentTrack(44100, 200.0, 2.0);
  AutoTimeLyrics(&lyrics, nullptr, track);
  EXPECT_EQ(lyrics.kind, LyricsKind::Estimated);
  EXPECT_NEAR(lyrics.lines[0].start, 2.0, kExact);
  EXPECT_NEAR(lyrics.lines[1].start, 2.0 + 20.0 * 178.0 / 60.0, 1e-9);
  EXPECT_TRUE(lyrics.lines[0].words.empty());

  // The same with a silent or too short stem: the body of the track is used.
  for (StemData stems : {ToneStem(44100, 200.0, {}), ToneStem(44100, 0.01, {{0.0, 0.01}})}) {
    Lyrics again = PlainLines({std::wstring(10, L'a'), std::wstring(30, L'b')});
    AutoTimeLyrics(&again, &stems, track);
    EXPECT_EQ(Starts(again), Starts(lyrics));
  }
}

TEST(AutoTiming, StartsStayAtLeastThreeTenthsApart) {
  Lyrics lyrics = PlainLines(std::vector<std::wstring>(20, L"la"));
  AutoTimeLyrics(&lyrics, nullptr, SilentTrack(44100, 2.0));  // the body is 0.0 .. 1.8 s
  for (size_t i = 1; i < lyrics.lines.size(); ++i)
    EXPECT_GE(lyrics.lines[i].start - lyrics.lines[i - 1].start, 0.3 - 1e-12) << "line " << i;
  EXPECT_NEAR(lyrics.lines.back().start, 19 * 0.3, 1e-9);
}

TEST(AutoTiming, OnlyPlainAndEstimatedLyricsAreRetimed) {
  Lyrics synced = ParseLrc(L"[00:10.00]<00:10.00>Hel<00:10.40>lo\n[00:20.00]World");
  const Lyrics before = synced;
  const StemData stems = ToneStem(44100, 30.0, {{1.0, 5.0}});
  AutoTimeLyrics(&synced, &stems, SilentTrack(44100, 30.0));
  EXPECT_EQ(synced.kind, LyricsKind::Synced);
  ASSERT_EQ(synced.lines.size(), 2u);
  EXPECT_EQ(synced.lines[0].start, before.lines[0].start);
  EXPECT_EQ(synced.lines[0].words.size(), 2u);

  Lyrics estimated = PlainLines({L"one", L"two"});
  estimated.kind = LyricsKind::Estimated;
  estimated.lines[1].start = 99.0;
  AutoTimeLyrics(&estimated, &stems, SilentTrack(44100, 30.0));
  EXPECT_NEAR(estimated.lines[0].start, 1.0, kExact);

  Lyrics none;
  AutoTimeLyrics(&none, &stems, SilentTrack(44100, 30.0));
  EXPECT_EQ(none.kind, LyricsKind::None);
}

TEST(AutoTiming, LinesSnapToPhraseStarts) {
  // Phrases 2-4 and 10-12: the second line's share of the sung time ends the first phrase, so
  // it starts the second.
  const StemData stems = ToneStem(44100, 15.0, {{2.0, 4.0}, {10.0, 12.0}});
  Lyrics lyrics = PlainLines({L"", L""});
  AutoTimeLyrics(&lyrics, &stems, SilentTrack(44100, 15.0));
  EXPECT_NEAR(lyrics.lines[0].start, 2.0, kExact);
  EXPECT_NEAR(lyrics.lines[1].start, 10.0, kExact);
}

TEST(AutoTiming, APhraseTooCloseAfterThePreviousLineDoesNotPullTheNext) {
  // Phrases 0-5.4 and 5.8-6.2. Twenty empty lines crowd the first phrase (0.3 s apart, the
  // twentieth at 5.7); the last one's share lands at 4.46 s, within reach of the 5.8 s phrase, but
  // 5.8 is not later than 5.7 + 0.3, so it is not snapped there and starts at 6.0.
  const StemData stems = ToneStem(44100, 7.0, {{0.0, 5.4}, {5.8, 6.2}});
  std::vector<std::wstring> texts(20, L"");
  texts.push_back(std::wstring(50, L'x'));
  Lyrics lyrics = PlainLines(texts);
  AutoTimeLyrics(&lyrics, &stems, SilentTrack(44100, 7.0));
  EXPECT_NEAR(lyrics.lines[0].start, 0.0, kExact);
  EXPECT_NEAR(lyrics.lines[19].start, 5.7, 1e-9);
  EXPECT_NEAR(lyrics.lines[20].start, 6.0, 1e-9);
}

// Speech from espeak-ng placed by sox at known onsets, a short breath between lines as in a song:
// every line starts within 0.1 s of its own onset.
TEST(AutoTiming, SpokenLinesStartAtTheirOnsets) {
  TempHome home;
  const std::vector<std::wstring> texts = {
      L"over the river runs the valley floor", L"we carried lanterns down the winding road",
      L"and every window glowed with evening gold", L"a morning found us walking by the shore",
      L"we sang together as the harbour woke"};
  const double gaps[] = {2.5, 0.7, 1.0, 0.6, 1.2};  // seconds before each line
  std::vector<double> onsets;
  std::string mix = "sox -m";
  double end = 0.0;
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string clip = home.path() + "/clip" + std::to_string(i) + ".wav";
    const std::string placed = home.path() + "/line" + std::to_string(i) + ".wav";
    int rc = -1;
    // The clip's own silence is cut at both ends: its sound begins exactly at the onset, and the
    // gap before the next line is the one given.
    RunCommand("espeak-ng --stdout " + ShellQuote(WideToUtf8(texts[i])) + " | sox - -r 44100 -c 2 -b 16 " +
                   ShellQuote(clip) + " silence 1 0.01 0.5% reverse silence 1 0.01 0.5% reverse 2>&1",
               &rc);
    ASSERT_EQ(rc, 0) << "espeak-ng and sox must be installed";
    const double length = std::stod(RunCommand("soxi -D " + ShellQuote(clip)));
    onsets.push_back(end + gaps[i]);
    end = onsets.back() + length;
    RunCommand("sox " + ShellQuote(clip) + " " + ShellQuote(placed) + " pad " + std::to_string(onsets.back()), &rc);
    ASSERT_EQ(rc, 0);
    mix += " -v 1 " + ShellQuote(placed);
  }
  const std::string vocal = home.path() + "/vocal.wav";
  int rc = -1;
  RunCommand(mix + " " + ShellQuote(vocal) + " pad 0 4 2>&1", &rc);
  ASSERT_EQ(rc, 0);

  std::wstring error;
  const TrackPtr decoded = DecodeFile(Utf8ToWide(vocal), nullptr, &error, false);
  ASSERT_TRUE(decoded) << WideToUtf8(error);
  StemData stems;
  stems.frames = decoded->frames;
  stems.vocals.resize(decoded->samples.size());
  for (size_t i = 0; i < stems.vocals.size(); ++i)
    stems.vocals[i] = static_cast<int16_t>(std::lround(decoded->samples[i] * 32767.0f));

  Lyrics lyrics = PlainLines(texts);
  AutoTimeLyrics(&lyrics, &stems, *decoded);
  ASSERT_EQ(lyrics.kind, LyricsKind::Estimated);
  for (size_t i = 0; i < onsets.size(); ++i) EXPECT_NEAR(lyrics.lines[i].start, onsets[i], 0.1) << "line " << i;

  // The tool, given the words and the vocal as the track and its stem, prints the same starts.
  std::string words;
  for (const std::wstring& t : texts) words += WideToUtf8(t) + "\n";
  WriteRaw(home.path() + "/words.txt", words);
  const std::string out = RunCommand(std::string(VELDMIX_TOOL) + " lyrics autotime " +
                                         ShellQuote(home.path() + "/words.txt") + " " + ShellQuote(vocal) +
                                         " --vocal " + ShellQuote(vocal),
                                     &rc);
  ASSERT_EQ(rc, 0) << out;
  const Lyrics printed = ParseLrc(Utf8ToWide(out.substr(std::min(out.find('['), out.size()))));
  EXPECT_EQ(printed.kind, LyricsKind::Estimated);
  ASSERT_EQ(printed.lines.size(), texts.size());
  for (size_t i = 0; i < texts.size(); ++i) EXPECT_NEAR(printed.lines[i].start, lyrics.lines[i].start, 0.006);
}

class FitDeck : public ::testing::Test {
 protected:
  void SetUp() override {
    track_ = std::make_shared<Track>(SilentTrack(44100, 20.0, 1.0));
    track_->path = home_.wpath() + L"/song.mp3";
    stems_ = std::make_shared<StemData>(ToneStem(44100, 20.0, {{4.0, 6.0}, {12.0, 14.0}}));
    stems_->track = track_.get();
    Install(track_, stems_);
    TestMode = false;
  }
  void TearDown() override {
    Install(nullptr, nullptr);
    TestMode = false;
  }
  static void Install(TrackPtr track, StemDataPtr stems) {
    std::lock_guard<RealtimeMutex> hold(Engine.lock);
    Engine.decks[2].track = std::move(track);
    Engine.decks[2].stems = std::move(stems);
  }
  TempHome home_;
  TrackPtr track_;
  StemDataPtr stems_;
};

TEST_F(FitDeck, FitsFromTheDeckStemAndRefreshesOnlyAnExistingCacheFile) {
  Lyrics lyrics = PlainLines({L"one", L"two"});
  LyricsFit fit = FitDeckLyrics(2, track_->path, &lyrics);
  EXPECT_TRUE(fit.fitted);
  EXPECT_TRUE(fit.withStems);
  EXPECT_FALSE(fit.saved) << "a guess is never the first thing in the cache";
  EXPECT_FALSE(FileExists(LyricsCachePath(track_->path)));
  EXPECT_NEAR(lyrics.lines[0].start, 4.0, kExact);
  EXPECT_NEAR(lyrics.lines[1].start, 12.0, kExact);

  Lyrics cached = ParseLrc(L"[00:01.00]one\n[00:02.00]two");
  ASSERT_TRUE(SaveLyrics(track_->path, cached));
  cached.kind = LyricsKind::Estimated;
  fit = FitDeckLyrics(2, track_->path, &cached);
  EXPECT_TRUE(fit.saved);
  const Lyrics reread = ParseLrc(ReadLyricsText(LyricsCachePath(track_->path)));
  EXPECT_EQ(reread.kind, LyricsKind::Estimated);
  ASSERT_EQ(reread.lines.size(), 2u);
  EXPECT_NEAR(reread.lines[1].start, 12.0, 0.005);

  TestMode = true;
  Lyrics three = PlainLines({L"one", L"two", L"three"});
  EXPECT_FALSE(FitDeckLyrics(2, track_->path, &three).saved);
  EXPECT_EQ(ParseLrc(ReadLyricsText(LyricsCachePath(track_->path))).lines.size(), 2u)
      << "nothing is written in test mode";
}

TEST_F(FitDeck, OtherTracksAndForeignStemsAreNotUsed) {
  Lyrics lyrics = PlainLines({L"one", L"two"});
  EXPECT_FALSE(FitDeckLyrics(2, home_.wpath() + L"/other.mp3", &lyrics).fitted);
  EXPECT_EQ(lyrics.kind, LyricsKind::Plain);
  EXPECT_FALSE(FitDeckLyrics(1, track_->path, &lyrics).fitted) << "deck 1 holds no track";
  EXPECT_FALSE(FitDeckLyrics(7, track_->path, &lyrics).fitted);

  // Stems made from another track: the body of the track is used instead.
  Track other;
  stems_->track = &other;
  const LyricsFit fit = FitDeckLyrics(2, track_->path, &lyrics);
  EXPECT_TRUE(fit.fitted);
  EXPECT_FALSE(fit.withStems);
  EXPECT_NEAR(lyrics.lines[0].start, 1.0, kExact) << "from the first sound";
}
