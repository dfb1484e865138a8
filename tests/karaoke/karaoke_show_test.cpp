// The karaoke show on the real deck loads and the real mix: SING loads a singer's song with its
// stored key, GO starts it and glides to it, the deck's end marks the song sung; break music
// plays a list in turn on the other deck, holds while a song runs and resumes after it; the queue
// file's bytes after each step.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>

#include "app/publish_controls.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "control/macros.h"
#include "engine/deck_commands.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/pads.h"
#include "engine/side_slots.h"
#include "engine/transport.h"
#include "karaoke/karaoke_rotation.h"
#include "karaoke/karaoke_show.h"
#include "karaoke/karaoke_tick.h"
#include "library/track_lists.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"

namespace {

constexpr int kWaitMs = 20000;
constexpr uint64_t kGlideDoneMs = 600000;  // far enough ahead that any glide has finished

class KaraokeShow : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    OpenUiPosts(nullptr);
    TestMode = false;
    Rotation = KaraokeRotation{};
    Stage = KaraokeStage{};
    BreakMusic = BreakMusicState{};
    TrackLists = {TrackList{L"Automix", {}, true}, TrackList{L"Prepare", {}, true}, TrackList{L"History", {}, true}};
    ShowDecksAB();
    CrossfaderPosition = 0.5f;
    XfGlide = CrossfaderGlide{};
    Status = StatusLine{};
  }
  void TearDown() override {
    ResetDecksForTest();
    Rotation = KaraokeRotation{};
    Stage = KaraokeStage{};
    BreakMusic = BreakMusicState{};
    TrackLists.clear();
  }

  static ClickTrackFolder& Folder() {
    static ClickTrackFolder folder;
    return folder;
  }
  static std::wstring Make(const std::string& name, double seconds, double bpm) {
    ClickTrack spec;
    spec.seconds = seconds;
    spec.bpm = bpm;
    return Utf8ToWide(Folder().Make(spec, name));
  }
  // One application tick as far as the show is concerned: completions, snapshot, publish, tick.
  static void Tick(uint64_t nowMs = 0) {
    DrainDeckLoads();
    SnapshotDecks();
    KaraokeTick();
    DemoTickAt(nowMs ? nowMs : MonotonicMs());
  }
  static bool WaitForLoads() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
      Tick();
      bool loading = false;
      for (const DeckView& view : LiveDeckViews) loading = loading || view.loading;
      if (!loading) {
        Tick();
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  static ShowDeck Deck(int d) { return ReadShowDeck(d); }
  // Puts the deck `seconds` before its end, then renders past it.
  static void PlayToEnd(int deck, double seconds = 0.05) {
    {
      std::lock_guard<RealtimeMutex> lock(Engine.lock);
      DeckState& state = Engine.decks[deck];
      state.position = static_cast<double>(state.track->frames) - seconds * state.track->sampleRate;
    }
    RenderPeriods(static_cast<int>(seconds * 100) + 10);
  }
  static std::string File() { return ReadRaw(WideToUtf8(KaraokeQueuePath())); }
  static std::string Line(const std::string& sung, int key, const std::wstring& path, const std::string& title) {
    return "song\t" + sung + "\t" + std::to_string(key) + "\t" + WideToUtf8(path) + "\t" + title + "\t\n";
  }

  TempHome home_;
};

TEST_F(KaraokeShow, SingGoAndTheSongsEndMarkItSungAndNameWhoIsNext) {
  const std::wstring ana = Make("ana", 3.0, 120.0), bo = Make("bo", 3.0, 100.0);
  Rotation.singers = {{L"Ana", {KaraokeSong{.path = ana, .title = L"ana", .artist = L"", .keyShift = 2}}},
                      {L"Bo", {KaraokeSong{.path = bo, .title = L"bo", .artist = L"", .keyShift = -3}}}};
  KaraokeSing(0);
  EXPECT_EQ(Stage.stageDeck, 0);
  EXPECT_TRUE(Stage.settingUp);
  EXPECT_EQ(Status.text, L"Ana is up: ana on deck A — GO when they're ready");
  EXPECT_EQ(File(), "\xEF\xBB\xBFonstage\t0\nsinger\tAna\n" + Line("0", 2, ana, "ana") + "singer\tBo\n" +
                        Line("0", -3, bo, "bo"));
  ASSERT_TRUE(WaitForLoads());
  EXPECT_FALSE(Stage.settingUp);
  EXPECT_EQ(LiveDeckViews[0].keyShift, 2);
  EXPECT_FLOAT_EQ(Engine.decks[0].keyShift, 2.0f);  // published to the engine
  EXPECT_FALSE(Deck(0).playing);
  EXPECT_EQ(Settings.KaraokeVocals, kVocalsOff);
  EXPECT_EQ(LiveDeckViews[0].stemPreset, 2u);  // the vocals are taken out

  // KEY + on the stage deck is remembered with the song.
  KaraokeKeyShift(0, 1);
  EXPECT_EQ(LiveDeckViews[0].keyShift, 3);
  EXPECT_NE(File().find(Line("0", 3, ana, "ana")), std::string::npos);

  KaraokeGo();
  EXPECT_TRUE(Deck(0).playing);
  EXPECT_TRUE(Stage.singing);
  EXPECT_TRUE(XfGlide.active);
  EXPECT_FLOAT_EQ(XfGlide.target, 0.0f);
  // While a song runs a second SING is refused.
  KaraokeSing(1);
  EXPECT_EQ(Status.text, L"Someone's still singing — press END first");

  PlayToEnd(0);
  EXPECT_FALSE(Deck(0).playing);
  Tick();
  EXPECT_TRUE(Stage.ended);
  EXPECT_FALSE(Stage.singing);
  EXPECT_EQ(Stage.stageDeck, 0);
  EXPECT_EQ(Status.text, L"Song finished — up next: Bo");
  EXPECT_EQ(File(), "\xEF\xBB\xBFonstage\t0\nsinger\tAna\n" + Line("1", 3, ana, "ana") + "singer\tBo\n" +
                        Line("0", -3, bo, "bo"));

  // NEXT: Bo's song replaces the stage on the same deck; END pauses it and nobody waits any more.
  KaraokeSing(1);
  ASSERT_TRUE(WaitForLoads());
  EXPECT_EQ(Stage.stageDeck, 0);
  EXPECT_EQ(LiveDeckViews[0].keyShift, -3);
  PlayPause(0);  // the deck's own PLAY counts as GO
  Tick();
  EXPECT_TRUE(Stage.singing);
  KaraokeSongDone(false);
  EXPECT_FALSE(Deck(0).playing);
  EXPECT_EQ(Status.text, L"Song ended");
  EXPECT_EQ(File(), "\xEF\xBB\xBFonstage\t1\nsinger\tAna\n" + Line("1", 3, ana, "ana") + "singer\tBo\n" +
                        Line("1", -3, bo, "bo"));

  // Loading another track on the stage deck gives the stage up silently.
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(Make("other", 2.0, 90.0))));
  Tick();
  EXPECT_EQ(Stage.stageDeck, -1);
}

TEST_F(KaraokeShow, AnyKeyChangeOnTheStageDeckIsTheSingersKey) {
  const std::wstring ana = Make("ana", 4.0, 120.0), other = Make("other", 4.0, 100.0);
  Rotation.singers = {{L"Ana", {KaraokeSong{.path = ana, .title = L"ana", .artist = L"", .keyShift = -3}}}};
  KaraokeSing(0);
  ASSERT_TRUE(WaitForLoads());
  ASSERT_EQ(LiveDeckViews[0].keyShift, -3);
  // A KEYS pad, as the keyboard and controllers press it: +2.
  LiveDeckViews[0].padMode = kPadKeys;
  PressPad(0, 1);
  Tick();
  EXPECT_NE(File().find(Line("0", 2, ana, "ana")), std::string::npos) << File();
  // A macro's key command.
  RunningMacro macro;
  ASSERT_TRUE(RunMacroCommand(macro, MacroStep{L"key", L"-1"}));
  Tick();
  EXPECT_NE(File().find(Line("0", -1, ana, "ana")), std::string::npos) << File();
  // The deck's key reset during the song.
  KaraokeGo();
  LiveDeckViews[0].keyShift = 0;
  Tick();
  EXPECT_NE(File().find(Line("0", 0, ana, "ana")), std::string::npos) << File();
  // A key change on another deck is nobody's.
  ASSERT_TRUE(LoadAndWait(1, WideToUtf8(other)));
  LiveDeckViews[1].keyShift = 4;
  Tick();
  EXPECT_NE(File().find(Line("0", 0, ana, "ana")), std::string::npos) << File();
}

TEST_F(KaraokeShow, SingRefusesWithoutSongsFileOrFreeDeck) {
  const std::wstring song = Make("song", 3.0, 120.0);
  Rotation.singers = {{L"Cy", {}}, {L"Di", {KaraokeSong{.path = L"/no/such.mp3", .title = L"Gone", .artist = L""}}},
                      {L"Ed", {KaraokeSong{.path = song, .title = L"song", .artist = L""}}}};
  KaraokeSing(0);
  EXPECT_EQ(Status.text, L"Cy has no songs waiting — drag one onto their name");
  KaraokeSing(1);
  EXPECT_EQ(Status.text, L"Can't find “Gone” — has it been moved?");
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(Make("a", 3.0, 110.0))));
  ASSERT_TRUE(LoadAndWait(1, WideToUtf8(Make("b", 3.0, 111.0))));
  PlayPause(0);
  PlayPause(1);
  KaraokeSing(2);
  EXPECT_EQ(Status.text, L"Pause a deck for Ed's song");
  EXPECT_EQ(Stage.stageDeck, -1);
  EXPECT_EQ(Rotation.onstage, -1);
  EXPECT_FALSE(FileExists(KaraokeQueuePath()));  // a refusal changes nothing
}

TEST_F(KaraokeShow, BreakMusicRotatesHoldsDuringASongAndResumes) {
  const std::wstring b1 = Make("break1", 8.0, 121.0), b2 = Make("break2", 8.0, 122.0), b3 = Make("break3", 8.0, 123.0);
  const std::wstring song = Make("song", 3.0, 120.0);
  TrackLists[kAutomixList].paths = {b1, Utf8ToWide(Folder().path()) + L"/missing.wav", b2, b3};
  Rotation.singers = {{L"Ana", {KaraokeSong{.path = song, .title = L"song", .artist = L""},
                                KaraokeSong{.path = song, .title = L"again", .artist = L""}}}};
  // The stage deck is A: break music goes to B, on the right.
  Stage.stageDeck = -1;
  ToggleBreakMusic();
  EXPECT_TRUE(BreakMusic.on);
  EXPECT_EQ(BreakMusic.deck, 1);
  ASSERT_TRUE(WaitForLoads());
  ASSERT_TRUE(Deck(1).track);
  EXPECT_EQ(Deck(1).track->path, b1);
  EXPECT_TRUE(Deck(1).playing);
  // Each track's end brings the next, skipping the missing file, wrapping at the list's end.
  for (const std::wstring& next : {b2, b3, b1}) {
    PlayToEnd(1);
    Tick();
    ASSERT_TRUE(WaitForLoads());
    ASSERT_TRUE(Deck(1).track);
    EXPECT_EQ(Deck(1).track->path, next);
    EXPECT_TRUE(Deck(1).playing);
  }

  // A song starts: the break deck plays on until the glide has closed its side, then holds.
  KaraokeSing(0);
  ASSERT_TRUE(WaitForLoads());
  EXPECT_EQ(Stage.stageDeck, 0);
  KaraokeGo();
  RenderPeriods(100);  // one second into the break track
  Tick();
  EXPECT_TRUE(Deck(1).playing);  // still heard while the glide runs
  const uint64_t later = MonotonicMs() + kGlideDoneMs;
  GlideCrossfader(later);
  EXPECT_FLOAT_EQ(CrossfaderPosition, 0.0f);
  Tick(later);
  EXPECT_TRUE(BreakMusic.held);
  EXPECT_FALSE(Deck(1).playing);
  const double heldAt = Deck(1).position;

  // The song ends: break music resumes where it was held, and glides back to it.
  PlayToEnd(0);
  Tick();
  EXPECT_TRUE(Stage.ended);
  EXPECT_FALSE(BreakMusic.held);
  EXPECT_TRUE(Deck(1).playing);
  EXPECT_EQ(Deck(1).track->path, b1);
  EXPECT_NEAR(Deck(1).position, heldAt, 1.0);
  EXPECT_FLOAT_EQ(XfGlide.target, 1.0f);

  // BREAK ♪ mid-song waits for the song's end.
  ToggleBreakMusic();
  EXPECT_FALSE(BreakMusic.on);
  EXPECT_EQ(Status.text, L"Break music off — what's playing carries on until you stop it");
  PlayPause(1);
  KaraokeSing(0);
  ASSERT_TRUE(WaitForLoads());
  KaraokeGo();
  ToggleBreakMusic();
  EXPECT_EQ(Status.text, L"Break music will start when this song ends");
  EXPECT_TRUE(BreakMusic.held);
  EXPECT_FALSE(Deck(1).playing);
  KaraokeSongDone(false);
  EXPECT_TRUE(Deck(1).playing);
}

TEST_F(KaraokeShow, BreakMusicRefusesListsItCannotPlay) {
  ToggleBreakMusic();
  EXPECT_EQ(Status.text, L"Choose a playlist for break music in Settings ▸ KARAOKE");
  EXPECT_FALSE(BreakMusic.on);
  const std::wstring song = Make("song", 3.0, 120.0);
  TrackLists.push_back(TrackList{L"Breaks", {L"/gone/1.mp3", L"/gone/2.mp3"}, false});
  Settings.BreakList = L"Breaks";
  ToggleBreakMusic();
  EXPECT_EQ(Status.text, L"None of the break music can be found");
  EXPECT_FALSE(BreakMusic.on);
  // The song on stage is never break music.
  TrackLists.back().paths = {song};
  Stage.stageSongPath = song;
  ToggleBreakMusic();
  EXPECT_EQ(Status.text, L"None of the break music can be found");
  // A playing deck on the break side is not taken over (unless it is the break deck already).
  Stage.stageSongPath.clear();
  BreakMusic = BreakMusicState{};
  ASSERT_TRUE(LoadAndWait(1, WideToUtf8(Make("busy", 3.0, 99.0))));
  PlayPause(1);
  ToggleBreakMusic();
  EXPECT_EQ(Status.text, L"Deck B is playing — pause it for the break music");
}

TEST_F(KaraokeShow, KeyShiftNeverMovesAgainstItsDirection) {
  for (auto [from, delta, to] : {std::tuple{6, 1, 6}, std::tuple{-6, -1, -6}, std::tuple{9, 1, 9},
                                 std::tuple{9, -1, 8}, std::tuple{-12, 1, -11}, std::tuple{-12, -1, -12},
                                 std::tuple{0, -1, -1}}) {
    LiveDeckViews[2].keyShift = from;
    KaraokeKeyShift(2, delta);
    EXPECT_EQ(LiveDeckViews[2].keyShift, to) << from << " " << delta;
  }
}

}  // namespace
