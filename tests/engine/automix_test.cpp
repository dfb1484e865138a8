// Automix on click tracks loaded through the real LoadTrack and played by RenderMix, driven by the
// real per-frame step with the tick's clock passed in (a fake clock, so a transition can be
// inspected at exact fractions of the mix); and where a transition starts, on made-up grids.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/beat_grid.h"
#include "base/files.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "engine/automix.h"
#include "engine/deck_commands.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "library/track_lists.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"

namespace {

constexpr double kRate = 44100.0;
constexpr int kWaitMs = 20000;
constexpr double kTickSeconds = double(kTestPeriod) / kTestRate;  // one period per tick

// A track of `seconds` at `bpm` with beat 0 at `firstBeat` (its grid is all that is read).
Track GridTrack(double bpm, double seconds, double firstBeat = 0.0) {
  Track track;
  track.sampleRate = 44100;
  track.frames = static_cast<uint64_t>(seconds * track.sampleRate);
  track.bpm = bpm;
  track.firstBeat = firstBeat;
  return track;
}

class AutomixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TempHome>();
    ResetDecksForTest();
    Automix = AutomixState{};
    Sandbox = SandboxState{};
    CrossfaderPosition = 0.5f;
    XfGlide = CrossfaderGlide{};
    SideSlots[kLeftSide] = 2;
    SideSlots[kRightSide] = 3;
    Status = StatusLine{};
    TrackLists = LoadLists();
    Settings.MixLen = 4;
    OpenUiPosts(nullptr);
  }
  void TearDown() override {
    WaitLoads();
    Automix = AutomixState{};
    TrackLists.clear();
    ResetDecksForTest();
  }

  static std::string Click(double bpm, double seconds = 20.0) {
    static ClickTrackFolder folder;
    ClickTrack spec;
    spec.bpm = bpm;
    spec.seconds = seconds;
    return folder.Make(spec);
  }
  // Applies deck-load completions until no deck is loading.
  static bool WaitLoads() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
      DrainDeckLoads();
      if (!LiveDeckViews[0].loading && !LiveDeckViews[1].loading) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  // One per-frame tick as the frame driver runs it: snapshot, then Automix.
  static void Tick(double now) {
    SnapshotDecks();
    AutomixTickAt(now);
  }
  static DeckState& Deck(int deck) { return Engine.decks[deck]; }
  static void Place(int deck, double seconds, bool playing) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck(deck).position = seconds * kRate;
    Deck(deck).playing = playing;
  }

  std::unique_ptr<TempHome> home_;
};

// The two decks loaded and A playing two seconds from its end: the next tick starts a mix.
class AutomixStyles : public AutomixTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    AutomixTest::SetUp();
    ASSERT_TRUE(LoadAndWait(0, Click(120.0)));
    ASSERT_TRUE(LoadAndWait(1, Click(126.0)));
    Place(0, 18.0, true);
    CrossfaderPosition = 0.0f;
    DeckView& a = LiveDeckViews[0];
    a.eqLow = 0.4f;
    a.filter = 0.1f;
    a.fxSlotEffect[0] = 5;
    a.fxSlotAmount[0] = 0.3f;
    LiveDeckViews[1].eqLow = 0.6f;
    Settings.AutomixStyle = GetParam();
    ToggleAutomix();
  }
};

}  // namespace

TEST(AutomixTiming, StartsOnAnOutroInReachElseOnA32Or4BeatBoundary) {
  // 180 s at 120 BPM with an OUTRO 40 s before the end: taken over the last 8 s.
  const Track song = GridTrack(120.0, 180.0);
  const std::vector<Phrase> phrases = {{.beat = 256.0, .kind = kPhraseDrop}, {.beat = 280.0, .kind = kPhraseOutro}};
  EXPECT_DOUBLE_EQ(AutomixStartSeconds(song, phrases, 1.0, 8.0), 140.0);
  // An OUTRO more than 75 s before the end is out of reach.
  const std::vector<Phrase> early = {{.beat = 64.0, .kind = kPhraseOutro}};
  EXPECT_DOUBLE_EQ(AutomixStartSeconds(song, early, 1.0, 8.0), 160.0) << "beat 320, before the latest 172 s";
  // 60 s at 120 BPM: the latest start is 52 s (beat 104), the 32-beat boundary before it beat 96.
  EXPECT_DOUBLE_EQ(AutomixStartSeconds(GridTrack(120.0, 60.0), {}, 1.0, 8.0), 48.0);
  // At 80 BPM the 32-beat boundary lies 23.6 s back: the 4-beat one (beat 124) is taken.
  EXPECT_NEAR(AutomixStartSeconds(GridTrack(80.0, 103.625), {}, 1.0, 8.0), 93.0, 1e-9);
  // Played 25 % faster, the latest start is 10 s before the end and the 20 s limit is 25 s.
  EXPECT_NEAR(AutomixStartSeconds(GridTrack(80.0, 103.625), {}, 1.25, 8.0), 72.0, 1e-9);
  // The grid's offset moves the boundaries; a start never goes below 0.
  EXPECT_DOUBLE_EQ(AutomixStartSeconds(GridTrack(120.0, 60.0, 0.3), {}, 1.0, 8.0), 48.3);
  EXPECT_DOUBLE_EQ(AutomixStartSeconds(GridTrack(120.0, 5.0), {}, 1.0, 8.0), 0.0);
}

TEST_F(AutomixTest, AnEmptyListSaysSoAndSwitchesOff) {
  ToggleAutomix();
  EXPECT_TRUE(Automix.on);
  EXPECT_EQ(Status.text, L"Automix is on \u2014 add tracks to the Automix list");
  EXPECT_EQ(SideSlots[kLeftSide], 0);
  EXPECT_EQ(SideSlots[kRightSide], 1);
  Tick(0.0);
  EXPECT_FALSE(Automix.on);
  EXPECT_EQ(Status.text, L"The Automix list is empty \u2014 add tracks to it first");
}

TEST_F(AutomixTest, PlaysTheListFromLoadToFadeOnAFakeClock) {
  const std::string first = Click(120.0), second = Click(120.0, 24.0);
  TrackLists[kAutomixList].paths = {Utf8ToWide(first), Utf8ToWide(second)};
  Settings.AutomixStyle = kAutomixFade;
  ToggleAutomix();
  EXPECT_EQ(Status.text, L"Automix is on");
  double now = 1000.0;
  Tick(now);
  ASSERT_TRUE(LiveDeckViews[0].loading);
  const std::wstring saved = LoadTextFile(ListFileName(L"Automix"));
  EXPECT_EQ(saved.find(Utf8ToWide(first)), std::wstring::npos) << "the taken track left the saved list";
  EXPECT_NE(saved.find(Utf8ToWide(second)), std::wstring::npos);
  ASSERT_TRUE(WaitLoads());
  Tick(now);
  EXPECT_TRUE(Deck(0).playing);
  EXPECT_FLOAT_EQ(CrossfaderPosition, 0.0f);
  Tick(now);
  ASSERT_TRUE(LiveDeckViews[1].loading) << "the idle deck gets the next track";
  EXPECT_TRUE(TrackLists[kAutomixList].paths.empty());
  ASSERT_TRUE(WaitLoads());

  // Play until the transition starts: on beat 32 (16 s), the last 32-beat boundary before the
  // latest start (20 s - 4 s).
  const TrackPtr trackA = Deck(0).track;
  while (!Automix.transition && Deck(0).position < 18.0 * kRate) {
    RenderPeriods(1);
    now += kTickSeconds;
    Tick(now);
  }
  ASSERT_TRUE(Automix.transition);
  const double boundary = TimeAtBeat(*trackA, 32.0);
  EXPECT_NEAR(Deck(0).position / kRate, boundary, 0.011);
  EXPECT_TRUE(Deck(1).playing);
  EXPECT_NEAR(Deck(1).position, Deck(1).track->firstBeat * kRate, 1e-6) << "the next track starts on its first beat";

  const double start = now;
  for (int i = 0; i < 200; ++i) {  // two seconds of the four-second mix
    RenderPeriods(1);
    now += kTickSeconds;
    Tick(now);
  }
  EXPECT_NEAR(CrossfaderPosition, (now - start) / 4.0, 1e-5);
  Tick(start + 4.0);
  EXPECT_FALSE(Automix.transition);
  EXPECT_FLOAT_EQ(CrossfaderPosition, 1.0f);
  EXPECT_FALSE(Deck(0).playing) << "the outgoing deck is paused";
  EXPECT_TRUE(Deck(1).playing);
}

TEST_F(AutomixTest, ASkipStartsTheMixNowAndTempoIsMatchedOnlyWithinEightPercent) {
  ASSERT_TRUE(LoadAndWait(0, Click(120.0)));
  ASSERT_TRUE(LoadAndWait(1, Click(132.0)));
  Place(0, 2.0, true);
  ToggleAutomix();
  Tick(0.0);
  EXPECT_FALSE(Automix.transition) << "far from the end: it waits";
  Automix.skipRequest = true;
  Tick(0.1);
  ASSERT_TRUE(Automix.transition);
  EXPECT_FALSE(Automix.skipRequest);
  EXPECT_FLOAT_EQ(LiveDeckViews[1].tempoFader, 0.5f) << "10 % apart: B plays at its own tempo";
}

TEST_F(AutomixTest, EverySkipMixesToTheListsNextTrackAndNoneComesBack) {
  // Four tracks: two on the list's way to the decks, two left on it; each SKIP far from the end.
  std::vector<std::wstring> list;
  for (int i = 0; i < 4; ++i) list.push_back(Utf8ToWide(Click(120.0 + i, 30.0 + i)));
  TrackLists[kAutomixList].paths = list;
  Settings.AutomixStyle = kAutomixFade;
  ToggleAutomix();
  double now = 0.0;
  std::vector<std::wstring> started;
  auto tickUntil = [&](auto done) {
    for (int i = 0; i < 400 && !done(); ++i) {
      WaitLoads();
      RenderPeriods(1);
      Tick(now += 0.1);
    }
    return done();
  };
  ASSERT_TRUE(tickUntil([] { return Deck(0).playing; }));
  started.push_back(Deck(0).track->path);
  for (int skip = 0; skip < 3; ++skip) {
    ASSERT_TRUE(tickUntil([] { return !LiveDeckViews[0].loading && !LiveDeckViews[1].loading &&
                                      Deck(0).track && Deck(1).track; }));
    Automix.skipRequest = true;
    ASSERT_TRUE(tickUntil([] { return Automix.transition; })) << "SKIP " << skip + 1;
    const int incoming = Automix.incoming;
    started.push_back(Deck(incoming).track->path);
    EXPECT_LT(Deck(1 - incoming).position, 0.5 * Deck(1 - incoming).track->frames) << "skipped early";
    ASSERT_TRUE(tickUntil([] { return !Automix.transition; }));
    EXPECT_FALSE(Deck(1 - incoming).playing);
  }
  EXPECT_EQ(started, list) << "each SKIP brings the list's next track, in order, and none twice";
  // The list is used up: the playing track goes on and the skipped ones stay unplayed.
  for (int i = 0; i < 20; ++i) {
    RenderPeriods(1);
    Tick(now += 0.1);
  }
  const int playing = Deck(0).playing ? 0 : 1;
  EXPECT_EQ(Deck(playing).track->path, list.back());
  EXPECT_FALSE(Deck(1 - playing).playing);
  EXPECT_FALSE(Automix.transition);
}

TEST_P(AutomixStyles, ShapesTheTransitionAndPutsEverythingBack) {
  const int style = GetParam();
  DeckView& a = LiveDeckViews[0];
  DeckView& b = LiveDeckViews[1];
  Tick(100.0);
  ASSERT_TRUE(Automix.transition);
  EXPECT_TRUE(Deck(1).playing);
  // B at 126 BPM, 4.8 % from A: matched within its 8 % range.
  SnapshotDecks();
  EXPECT_NEAR(DeckBpm(1), DeckBpm(0), 0.05);
  EXPECT_FLOAT_EQ(b.eqLow, style == kAutomixBassSwap ? 0.0f : 0.6f);

  Tick(101.0);
  EXPECT_NEAR(CrossfaderPosition, 0.25f, 1e-6);
  EXPECT_FLOAT_EQ(a.eqLow, 0.4f);
  Tick(102.0);
  EXPECT_NEAR(CrossfaderPosition, 0.5f, 1e-6);
  EXPECT_FLOAT_EQ(a.eqLow, style == kAutomixBassSwap ? 0.0f : 0.4f);
  EXPECT_FLOAT_EQ(b.eqLow, 0.6f);
  EXPECT_FALSE(a.fxSlotOn[0]) << "the echo waits for 55 %";
  Tick(102.4);
  EXPECT_NEAR(a.filter, style == kAutomixFilter ? 0.1f + 0.65f * 0.6f : 0.1f, 1e-5);
  if (style == kAutomixEchoOut) {
    EXPECT_EQ(a.fxSlotEffect[0], 0u);
    EXPECT_FLOAT_EQ(a.fxSlotAmount[0], 0.85f);
    EXPECT_TRUE(a.fxSlotOn[0]);
  } else {
    EXPECT_EQ(a.fxSlotEffect[0], 5u);
    EXPECT_FALSE(a.fxSlotOn[0]);
  }

  Tick(104.0);
  EXPECT_FALSE(Automix.transition);
  EXPECT_FLOAT_EQ(CrossfaderPosition, 1.0f);
  EXPECT_FALSE(Deck(0).playing);
  EXPECT_FLOAT_EQ(a.eqLow, 0.4f);
  EXPECT_FLOAT_EQ(b.eqLow, 0.6f);
  EXPECT_FLOAT_EQ(a.filter, 0.1f);
  EXPECT_EQ(a.fxSlotEffect[0], 5u);
  EXPECT_FALSE(a.fxSlotOn[0]);
  EXPECT_FLOAT_EQ(a.fxSlotAmount[0], 0.3f);
  EXPECT_EQ(Automix.style, kAutomixFade);
}

TEST_P(AutomixStyles, TurningOffMidMixUndoesTheStyle) {
  Tick(100.0);
  Tick(102.5);
  ToggleAutomix();
  EXPECT_FALSE(Automix.on);
  EXPECT_FALSE(Automix.transition);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].eqLow, 0.4f);
  EXPECT_FLOAT_EQ(LiveDeckViews[1].eqLow, 0.6f);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].filter, 0.1f);
  EXPECT_FALSE(LiveDeckViews[0].fxSlotOn[0]);
}

INSTANTIATE_TEST_SUITE_P(Automix, AutomixStyles,
                         ::testing::Values(kAutomixFade, kAutomixBassSwap, kAutomixFilter, kAutomixEchoOut));
