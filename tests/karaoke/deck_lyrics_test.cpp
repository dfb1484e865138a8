// Each deck's lyrics through the real worker, post and completion: lookups start only while
// karaoke is in use, stale replies are dropped, Plain words are timed at once, tap sync and nudges
// change the times and reach the cache, an emptied deck forgets its words; and the karaoke
// screen's record built from the decks and the rotation.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>

#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "engine/deck_commands.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/stems.h"
#include "karaoke/deck_lyrics.h"
#include "karaoke/karaoke_panel.h"
#include "karaoke/karaoke_rotation.h"
#include "karaoke/karaoke_show.h"
#include "karaoke/karaoke_tick.h"
#include "karaoke/lrc.h"
#include "karaoke/tap_sync.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"

namespace {

constexpr int kWaitMs = 10000;
const std::string kLrcHead = "\xEF\xBB\xBF[re:Veldmix " VELDMIX_VERSION "]\n";

class DeckLyricsFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    OpenUiPosts(nullptr);
    TestMode = false;
    KaraokePanelShown = false;
    for (int d = 0; d < kEngineDecks; ++d) ClearDeckLyrics(d);
    StopTapSync();
    Rotation = KaraokeRotation{};
    Stage = KaraokeStage{};
    BreakMusic = BreakMusicState{};
    KaraokeFeed = KaraokeMixFeed{};
    Status = StatusLine{};
  }
  void TearDown() override {
    WaitForReplies();
    ResetDecksForTest();
    KaraokePanelShown = false;
    for (int d = 0; d < kEngineDecks; ++d) ClearDeckLyrics(d);
    StopTapSync();
    Rotation = KaraokeRotation{};
    Stage = KaraokeStage{};
  }
  // Hands deck loads and lyrics replies to their completions, as the main window does.
  static int Drain() {
    int lyrics = 0;
    DrainUiPosts([&](const UiPost& post) {
      if (post.message == kDeckLoadPost) FinishDeckLoad(post.wparam, static_cast<DeckLoadResult*>(post.lparam));
      if (post.message == kLyricsReadyPost) {
        ++lyrics;
        OnLyricsReady(static_cast<LyricsReply*>(post.lparam));
      }
    });
    RepliesSeen += lyrics;
    return lyrics;
  }
  // Until no deck waits for its words and, when given, that many replies have come in all
  // (a stale reply can come after the latest, and one left queued at the exit would leak).
  static void WaitForReplies(int replies = 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
      Drain();
      bool busy = RepliesSeen < replies;
      for (const DeckLyrics& record : DeckLyricsState) busy = busy || record.busy;
      if (!busy) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  static inline int RepliesSeen = 0;
  static void Tick() {
    Drain();
    SnapshotDecks();
    KaraokeTick();
  }
  static std::string Track(const std::string& name, const std::string& lrc) {
    ClickTrack spec;
    spec.seconds = 20.0;
    const std::string path = Folder().Make(spec, name);
    if (!lrc.empty()) WriteRaw(path.substr(0, path.size() - 3) + "lrc", lrc);
    return path;
  }
  static ClickTrackFolder& Folder() {
    static ClickTrackFolder folder;
    return folder;
  }
  static void Seek(int deck, double seconds) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[deck].position = seconds * Engine.decks[deck].track->sampleRate;
  }
  TempHome home_;
};

constexpr char kWordTimed[] =
    "[00:01.00]<00:01.00>one <00:01.50>two\n[00:04.00]three four\n[00:07.00]five\n[00:10.00]six\n";

TEST_F(DeckLyricsFlow, LookupsStartOnlyWhileKaraokeIsInUseAndTheLatestReplyWins) {
  const std::string path = Track("timed", kWordTimed);
  ASSERT_TRUE(LoadAndWait(0, path));
  Tick();
  EXPECT_TRUE(DeckLyricsState[0].path.empty());  // panel and screen closed: no lookup
  KaraokePanelShown = true;
  Tick();
  EXPECT_TRUE(DeckLyricsState[0].busy);
  EXPECT_EQ(EnglishText(LyricsStatusText(0)), L"Looking for the words…");
  const uint32_t first = DeckLyricsState[0].serial;
  FetchLyrics(0, false);  // a second request: only its reply is applied, whichever comes first
  EXPECT_EQ(DeckLyricsState[0].serial, first + 1);
  WaitForReplies(RepliesSeen + 2);
  ASSERT_TRUE(DeckLyricsState[0].lyrics);
  EXPECT_EQ(DeckLyricsState[0].lyrics->kind, LyricsKind::Synced);
  EXPECT_EQ(EnglishText(LyricsStatusText(0)), L"Word-timed · timed.lrc");
  Tick();
  EXPECT_FALSE(DeckLyricsState[0].busy);  // no lookup again for the same track

  // A track without words: the local miss says so; Online is off, so nothing more is asked.
  ASSERT_TRUE(LoadAndWait(1, Track("bare", "")));
  Tick();
  WaitForReplies();
  EXPECT_FALSE(DeckLyricsState[1].lyrics);
  EXPECT_FALSE(DeckLyricsState[1].onlineTried);
  EXPECT_EQ(EnglishText(LyricsStatusText(1)), L"No words found for this track");

  // Ejected decks forget their words.
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].track.reset();
  }
  Tick();
  EXPECT_FALSE(DeckLyricsState[0].lyrics);
  EXPECT_TRUE(DeckLyricsState[0].path.empty());
}

TEST_F(DeckLyricsFlow, PlainWordsAreTimedAtOnceAndTapSyncTimesAndSavesThem) {
  const std::string path = Track("plain", "one\ntwo\nthree\n");
  ASSERT_TRUE(LoadAndWait(0, path));
  FetchLyrics(0, false);
  WaitForReplies();
  ASSERT_TRUE(DeckLyricsState[0].lyrics);
  const Lyrics& lyrics = *DeckLyricsState[0].lyrics;
  EXPECT_EQ(lyrics.kind, LyricsKind::Estimated);
  EXPECT_FALSE(DeckLyricsState[0].fittedWithStems);
  EXPECT_TRUE(LyricsWaitForFit(DeckLyricsState[0]));
  EXPECT_EQ(EnglishText(LyricsStatusText(0)), L"Timing guessed · plain.lrc");
  const std::wstring cache = LyricsCachePath(Utf8ToWide(path));
  EXPECT_FALSE(FileExists(cache));  // a guess is never the first thing in the cache

  // Silent stems: the fit falls back to the track's body, counts as done and is not repeated.
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    auto stems = std::make_shared<StemData>();
    const TrackPtr& track = Engine.decks[0].track;
    stems->track = track.get();
    stems->frames = track->frames;
    stems->vocals.assign(track->frames * 2, 0);
    stems->drums = stems->bass = stems->vocals;
    Engine.decks[0].stems = stems;
  }
  LiveDeckViews[0].stemsReady = true;
  Tick();
  EXPECT_FALSE(LyricsWaitForFit(DeckLyricsState[0]));

  // Tap sync: lines take the taps' times (untapped later lines keep 0.3 s after them); the end
  // saves.
  StartTapSync(0);
  EXPECT_EQ(TapSyncDeck, 0);
  EXPECT_EQ(EnglishText(LyricsStatusText(0)), L"Press T as line 1 of 3 starts");
  for (double at : {2.0, 2.1, 9.5}) {
    Seek(0, at);
    TapSyncLine();
  }
  EXPECT_EQ(TapSyncIndex, kTapSyncOff);
  EXPECT_EQ(lyrics.kind, LyricsKind::Synced);
  EXPECT_EQ(lyrics.source, kTapSyncedSource);
  EXPECT_NEAR(lyrics.lines[0].start, 2.0, 1e-6);
  EXPECT_NEAR(lyrics.lines[1].start, 2.1, 1e-6);
  EXPECT_NEAR(lyrics.lines[2].start, 9.5, 1e-6);
  EXPECT_EQ(Status.text, L"Every line synced — saved for next time");
  EXPECT_EQ(ReadRaw(WideToUtf8(cache)), kLrcHead + "[00:02.00]one\n[00:02.10]two\n[00:09.50]three\n");

  // Nudges in whole tenths, written to the cache.
  NudgeLyrics(0, 0.25);
  NudgeLyrics(0, 0.25);
  EXPECT_DOUBLE_EQ(lyrics.offset, 0.6);
  EXPECT_EQ(ReadRaw(WideToUtf8(cache)), kLrcHead + "[00:02.60]one\n[00:02.70]two\n[00:10.10]three\n");
}

TEST_F(DeckLyricsFlow, TapSyncClearsWordTimingOnlyOnTappedLinesAndStopsWhenTheTrackChanges) {
  ASSERT_TRUE(LoadAndWait(0, Track("words", kWordTimed)));
  FetchLyrics(0, false);
  WaitForReplies();
  ASSERT_TRUE(DeckLyricsState[0].lyrics);
  const Lyrics& lyrics = *DeckLyricsState[0].lyrics;
  StartTapSync(0);
  EXPECT_FALSE(lyrics.lines[0].words.empty());  // Esc now would keep the word timing
  Seek(0, 1.2);
  TapSyncLine();
  EXPECT_TRUE(lyrics.lines[0].words.empty());
  EXPECT_EQ(TapSyncIndex, 1);
  StopTapSync();
  EXPECT_NEAR(lyrics.lines[0].start, 1.2, 1e-6);

  StartTapSync(0);
  ASSERT_TRUE(LoadAndWait(0, Track("other", "")));
  Tick();
  EXPECT_EQ(TapSyncIndex, kTapSyncOff);
  StartTapSync(3);
  EXPECT_EQ(Status.text, L"There are no words to sync on that deck");
}

TEST_F(DeckLyricsFlow, TheScreensRecordFollowsTheStageAndTheRotation) {
  ASSERT_TRUE(LoadAndWait(0, Track("stage", kWordTimed)));
  ASSERT_TRUE(LoadAndWait(1, Track("other", kWordTimed)));
  Rotation.singers = {{L"Ana", {KaraokeSong{.path = L"/x", .title = L"Song", .artist = L""}}},
                      {L"Bo", {KaraokeSong{.path = L"/y", .title = L"Hers", .artist = L"Band"}}},
                      {L"Cy", {KaraokeSong{.path = L"/z", .title = L"Cy's", .artist = L""}}}};
  Rotation.onstage = 0;
  SnapshotDecks();
  KaraokeScreenInfo info = BuildKaraokeScreenInfo();
  EXPECT_EQ(info.mode, 0);  // nothing audible has words
  EXPECT_EQ(info.nextSinger, L"Bo");
  EXPECT_EQ(info.nextSong, L"Hers  —  Band");
  ASSERT_EQ(info.laterSingers.size(), 2u);
  EXPECT_EQ(info.laterSingers[0], L"Cy");
  EXPECT_EQ(info.laterSingers[1], L"Ana");
  ASSERT_TRUE(info.lyrics);

  // A singer whose song is loaded and waits for GO.
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].track->bpm = 0.0;
    Engine.decks[0].track->title.clear();
  }
  Stage = KaraokeStage{.stageDeck = 0, .stageSongPath = DeckSnapshots[0].track->path, .currentSinger = 0,
                       .currentSong = 0};
  KaraokeFeed.beatPulse = {0.25f, 0.75f, 0.0f, 0.0f};
  KaraokeFeed.bands[2] = 0.01f;  // -40 dB: the bottom of the range
  KaraokeFeed.bands[3] = 0.1f;   // -20 dB
  SnapshotDecks();
  info = BuildKaraokeScreenInfo();
  EXPECT_EQ(info.mode, 1);
  EXPECT_EQ(info.singer, L"Ana");
  EXPECT_EQ(info.title, L"stage");
  EXPECT_DOUBLE_EQ(info.beatLength, 0.5);  // no tempo: the default beat
  EXPECT_NEAR(info.duration, 20.0, 0.01);
  EXPECT_FLOAT_EQ(info.beatPulse, 0.25f);
  EXPECT_NEAR(info.bassLevel, 20.0 / 38.0, 1e-5);
  EXPECT_EQ(info.nextSinger, L"Bo");
  // Ana's song is on stage: she is not waiting any more.
  EXPECT_EQ(info.laterSingers.size(), 1u);
  Stage.ended = true;
  info = BuildKaraokeScreenInfo();
  EXPECT_EQ(info.mode, 0);
  EXPECT_FLOAT_EQ(info.beatPulse, 0.75f);
  EXPECT_TRUE(info.singer.empty());
}

}  // namespace

namespace {

TEST_F(DeckLyricsFlow, OnlineTimedWordsAreCachedAndPlainOnesNever) {
  const std::string path = Track("online", "");
  ASSERT_TRUE(LoadAndWait(0, path));
  const std::wstring wpath = Utf8ToWide(path);
  for (const bool plain : {true, false}) {
    DeckLyricsState[0].path = wpath;
    DeckLyricsState[0].serial = 77;
    auto* reply = new LyricsReply{0, 77, wpath, UiText(), ParseLrc(plain ? L"one\ntwo\n" : L"[00:01.00]one\n[00:02.00]two\n"),
                                  true};
    OnLyricsReady(reply);
    ASSERT_TRUE(DeckLyricsState[0].lyrics);
    EXPECT_EQ(DeckLyricsState[0].lyrics->kind, plain ? LyricsKind::Estimated : LyricsKind::Synced);
    EXPECT_EQ(FileExists(LyricsCachePath(wpath)), !plain);
    EXPECT_EQ(Status.text, plain ? L"Words found at LRCLIB — no timing, so it's guessed from the vocals"
                                 : L"Timed words found at LRCLIB");
  }
}

}  // namespace
