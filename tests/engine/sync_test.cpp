// SYNC, sync lock and MATCH on click tracks loaded through the real LoadTrack.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <string>
#include <tuple>

#include "base/beat_grid.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/track_info.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/side_slots.h"
#include "engine/sync.h"
#include "platform/text.h"
#include "support/click_tracks.h"

namespace {

// A click track of `bpm` lasting `seconds`, the other settings at their defaults.
ClickTrack ClickSpec(double bpm, double seconds) {
  ClickTrack spec;
  spec.bpm = bpm;
  spec.seconds = seconds;
  return spec;
}

class Sync : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    SideSlots[kLeftSide] = 0;
    SideSlots[kRightSide] = 1;
    Status = StatusLine{};
  }
  void TearDown() override { ResetDecksForTest(); }

  static std::string Click(double bpm) {
    static ClickTrackFolder folder;
    return folder.Make(ClickSpec(bpm, 16.0));
  }
  static double TrackBpm(int deck) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    return Engine.decks[deck].track->bpm;
  }
  // The fractional beat the deck stands on.
  static double Phase(int deck) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    const DeckState& d = Engine.decks[deck];
    const double beat = BeatAtTime(*d.track, d.position / d.track->sampleRate);
    return beat - std::floor(beat);
  }
  static void Place(int deck, double seconds, bool playing) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[deck].position = seconds * Engine.decks[deck].track->sampleRate;
    Engine.decks[deck].playing = playing;
  }
};

double PhaseError(double a, double b) { return a - b - std::round(a - b); }

}  // namespace

TEST(SyncTempoMatch, FollowsTheMultiplierDeviationAndRangeRules) {
  TempoMatch m = MatchTempo(126.0, 128.0, 0.08f);  // 128 following 126
  ASSERT_TRUE(m.matched);
  EXPECT_NEAR(m.tempoFader, 0.5 + 0.015625 / 0.16, 1e-6);
  EXPECT_FLOAT_EQ(m.pitchRange, 0.08f);
  m = MatchTempo(140.0, 70.0, 0.08f);  // double time needs no change
  EXPECT_DOUBLE_EQ(m.multiplier, 2.0);
  EXPECT_NEAR(m.tempoFader, 0.5, 1e-9);
  m = MatchTempo(165.0, 100.0, 0.08f);  // double time at -17.5 %: the 25 % range
  EXPECT_NEAR(m.deviation, -0.175, 1e-12);
  EXPECT_FLOAT_EQ(m.pitchRange, 0.25f);
  EXPECT_NEAR(m.tempoFader, 0.5 + 0.175 / 0.5, 1e-6);
  EXPECT_FALSE(MatchTempo(130.0, 40.0, 0.08f).matched);       // over 50 % at every multiplier
  EXPECT_DOUBLE_EQ(MatchTempo(80.0, 120.0, 0.08f).multiplier, 0.5);  // a tie keeps half time
  EXPECT_FLOAT_EQ(MatchTempo(121.0, 120.0, 0.5f).pitchRange, 0.5f);  // never narrows
  EXPECT_FALSE(MatchTempo(120.0, 0.0, 0.08f).matched);
}

TEST_F(Sync, SetsTheOtherSidesTempoAndWidensTheRangeWhenNeeded) {
  ASSERT_TRUE(LoadAndWait(0, Click(120.0)));
  ASSERT_TRUE(LoadAndWait(1, Click(126.0)));
  const double bpmA = TrackBpm(0), bpmB = TrackBpm(1);
  ASSERT_NEAR(bpmA, 120.0, 0.1);
  ASSERT_NEAR(bpmB, 126.0, 0.1);
  SyncDeck(0);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].pitchRange, 0.08f);
  EXPECT_NEAR(LiveDeckViews[0].tempoFader, 0.5 - (bpmB / bpmA - 1.0) / 0.16, 1e-5);

  // B pushed 8 % faster sounds at about 136 BPM: A needs more than its 8 % and gets 16 %.
  LiveDeckViews[1].tempoFader = 0.0f;
  SyncDeck(0);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].pitchRange, 0.16f);
  SnapshotDecks();
  EXPECT_NEAR(DeckBpm(0), bpmB * 1.08, 0.01);
  EXPECT_TRUE(Status.text.empty()) << "success says nothing";
}

TEST_F(Sync, MovesAPlayingDeckIntoPhaseButOnlyMatchesTempoWhenPaused) {
  ASSERT_TRUE(LoadAndWait(0, Click(120.0)));
  ASSERT_TRUE(LoadAndWait(1, Click(120.0)));
  Place(0, 3.125, false);  // a quarter beat off B
  Place(1, 4.25, false);
  const double pausedPhase = Phase(0);
  SyncDeck(0);
  EXPECT_DOUBLE_EQ(Phase(0), pausedPhase);

  Place(0, 3.125, true);
  Place(1, 4.25, true);
  SyncDeck(0);
  EXPECT_NEAR(PhaseError(Phase(0), Phase(1)), 0.0, 1e-3);
  RenderPeriods(50);  // half a second later they still click together
  EXPECT_NEAR(PhaseError(Phase(0), Phase(1)), 0.0, 1e-3);
}

TEST_F(Sync, APhaseShiftBeforeTheTrackStartGoesABeatLater) {
  ASSERT_TRUE(LoadAndWait(0, Click(120.0)));
  ASSERT_TRUE(LoadAndWait(1, Click(120.0)));
  // A just past its first click; B three quarters into a beat: A would move back before 0.
  Place(0, 0.02, true);
  Place(1, 4.375, true);
  SyncDeck(0);
  EXPECT_NEAR(PhaseError(Phase(0), Phase(1)), 0.0, 1e-3);
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  EXPECT_GT(Engine.decks[0].position, 0.0);
}

TEST_F(Sync, RefusesWithoutTwoTracksOrWhenTemposAreTooFarApart) {
  SyncDeck(0);
  EXPECT_EQ(Status.text, L"Load a track on both decks to sync");
  for (const auto& [deck, bpm] : {std::pair{0, 60.0}, std::pair{1, 200.0}}) {
    auto track = std::make_shared<Track>();
    track->frames = 441000;
    track->bpm = bpm;
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[deck].track = track;
  }
  LiveDeckViews[0].tempoFader = 0.3f;
  SyncDeck(0);
  EXPECT_EQ(Status.text, L"Tempos are too far apart to sync");
  EXPECT_FLOAT_EQ(LiveDeckViews[0].tempoFader, 0.3f);
}

TEST_F(Sync, SyncLockFollowsEachTickAndNeverPairsBothWays) {
  SideSlots[kLeftSide] = 2;  // C on the left: B's other deck
  ASSERT_TRUE(LoadAndWait(2, Click(120.0)));
  ASSERT_TRUE(LoadAndWait(1, Click(126.0)));
  ToggleSyncLock(2);
  EXPECT_EQ(Status.text, L"Sync lock: deck C follows deck B's tempo");
  LiveDeckViews[1].tempoFader = 0.8f;  // B slows down; C follows on the next tick
  SnapshotDecks();
  SyncLockTick();
  EXPECT_NEAR(DeckBpm(2), DeckBpm(1), 0.01);

  ToggleSyncLock(1);
  EXPECT_TRUE(LiveDeckViews[1].syncLock);
  EXPECT_FALSE(LiveDeckViews[2].syncLock) << "C no longer follows the deck that follows it";
  ToggleSyncLock(1);
  EXPECT_EQ(Status.text, L"Sync lock off");
}

TEST_F(Sync, KeyMatchShiftsToTheClosestKeyAndLocksIt) {
  const std::string a = Click(120.0), b = Click(126.0);
  // Keys come from analysed library records: C major on A, G major on B.
  for (const auto& [path, key, bpm] : {std::tuple{a, 0, 120.0}, std::tuple{b, 7, 126.0}}) {
    TrackInfo& info = TrackInfoFor(Utf8ToWide(path));
    info.analyzed = true;
    info.bpm = bpm;
    info.key = key;
  }
  ASSERT_TRUE(LoadAndWait(0, a));
  ASSERT_TRUE(LoadAndWait(1, b));
  SnapshotDecks();
  MatchKey(0);
  EXPECT_EQ(LiveDeckViews[0].keyShift, -5) << "C down five semitones is G";
  EXPECT_TRUE(LiveDeckViews[0].keyLock);
  EXPECT_EQ(Status.text, L"Key matched: 9B");

  // Sped up 6 % without key lock A sounds a semitone high; once matched (key lock on) it must
  // sound exactly in B's key.
  LiveDeckViews[0].keyLock = false;
  LiveDeckViews[0].tempoFader = 0.5f - 0.06f / 0.16f;
  MatchKey(0);
  EXPECT_EQ(DeckKey(0), DeckKey(1));

  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[1].track.reset();
  }
  SnapshotDecks();
  MatchKey(0);
  EXPECT_EQ(Status.text, L"Both decks need a detected key to match");
}

TEST(SyncKeyShift, PrefersTheSmallestShiftAmongEquallyGoodKeys) {
  EXPECT_EQ(BestKeyShift(0, 21, 0), 0);   // A minor is C major's relative
  EXPECT_EQ(BestKeyShift(0, 0, 4), -4);   // four semitones of pitch undone
  EXPECT_EQ(BestKeyShift(0, 6, 0), -6);   // F# is six either way: the smaller shift
  EXPECT_EQ(BestKeyShift(-1, 6, 0), 0);
}
