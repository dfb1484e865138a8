// SYNC, sync lock and MATCH on click tracks and grooves loaded through the real LoadTrack.
#include <gtest/gtest.h>

#include <algorithm>
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
#include "engine/wav_file.h"
#include "platform/text.h"
#include "support/click_tracks.h"
#include "support/tempo_corpus.h"

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

TEST_F(Sync, ADeckSyncedToAnotherTempoStaysInPhaseBeforeTheViewIsPublished) {
  ASSERT_TRUE(LoadAndWait(0, Click(120.0)));
  ASSERT_TRUE(LoadAndWait(1, Click(126.0)));
  Place(0, 3.125, true);
  Place(1, 4.25, true);
  SyncDeck(0);
  EXPECT_NEAR(PhaseError(Phase(0), Phase(1)), 0.0, 1e-3);
  // 5 % apart, 0.1 s at the old tempo would leave A 0.01 beat behind.
  RenderPeriods(10);
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

namespace {

// Where one channel of the master crosses half its loudest after a quiet quarter beat: the kicks.
std::vector<double> KickTimes(const std::vector<float>& out, int channel, double beatSeconds) {
  float loudest = 0.0f;
  for (size_t i = channel; i < out.size(); i += 2) loudest = std::max(loudest, std::abs(out[i]));
  std::vector<double> times;
  const double gap = beatSeconds / 4;
  double last = -1.0;
  for (size_t i = channel; i < out.size(); i += 2) {
    if (std::abs(out[i]) < 0.5f * loudest) continue;
    const double t = static_cast<double>(i / 2) / kTestRate;
    if (last < 0.0 || t - last > gap) times.push_back(t);
    last = t;
  }
  return times;
}

}  // namespace

// Two grooves of one kit at 124 and 128.8 BPM whose kicks start on exact samples, analysed on
// load, one on each channel so the master keeps them apart: after SYNC B's kicks sound with A's.
TEST_F(Sync, TwoAnalysedGroovesSyncedKickTogetherInTheMaster) {
  static ClickTrackFolder folder;
  GrooveSpec a;
  a.bpm = 124.0;
  a.firstBeat = 5443.0 / 44100;
  a.bass = "..x.";
  a.hatDb = -12.0;
  a.seconds = 16.0;
  a.seed = 7;
  GrooveSpec b = a;
  b.bpm = 128.8;
  b.firstBeat = 13278.0 / 44100;
  std::string paths[2];
  for (int deck = 0; deck < 2; ++deck) {
    Track track = SynthesizeGroove(deck == 0 ? a : b);
    for (size_t i = deck == 0 ? 1 : 0; i < track.samples.size(); i += 2) track.samples[i] = 0.0f;
    paths[deck] = folder.path() + (deck == 0 ? "/groove-a.wav" : "/groove-b.wav");
    ASSERT_TRUE(WriteWavFile(Utf8ToWide(paths[deck]), track.samples.data(), track.frames, track.sampleRate));
    ASSERT_TRUE(LoadAndWait(deck, paths[deck]));
  }
  Place(0, 3.0, true);
  Place(1, 7.1, true);
  SyncDeck(1);
  const std::vector<float> out = RenderPeriods(400);  // 4 s
  const std::vector<double> left = KickTimes(out, 0, 60.0 / a.bpm);
  ASSERT_GE(left.size(), 7u);
  ASSERT_LE(left.size(), 9u) << "only the kicks cross half the loudest";
  // Each of A's kicks against the lag of B's channel that matches it best: one kit, so the same
  // sound within B's 4 % of stretch.
  const long reach = kTestRate / 200, span = kTestRate / 40;  // 5 ms either way, 25 ms compared
  int compared = 0, together = 0;
  std::string lags;
  for (double t : left) {
    const long from = std::lround(t * kTestRate) - kTestRate / 500;
    if (from - reach < 0 || from + span + reach >= static_cast<long>(out.size() / 2)) continue;
    long best_lag = 0;
    double best = -1e300;
    for (long lag = -reach; lag <= reach; ++lag) {
      double sum = 0.0;
      for (long i = from; i < from + span; ++i) sum += out[2 * i] * out[2 * (i + lag) + 1];
      if (sum > best) best = sum, best_lag = lag;
    }
    const double ms = 1000.0 * best_lag / kTestRate;
    ++compared;
    together += std::abs(ms) <= 1.0;
    lags += " " + std::to_string(ms);
  }
  EXPECT_GE(compared, 6);
  EXPECT_EQ(together, compared) << "B's kicks after A's (ms):" << lags;
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
