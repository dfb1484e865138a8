// Beat-grid edits, their normal form, the deck tool row's edits and tap tempo, on a real click
// track loaded through LoadTrack.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <string>

#include "base/beat_grid.h"
#include "base/status_message.h"
#include "base/track_info.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/grid_edits.h"
#include "engine/undo.h"
#include "support/click_tracks.h"

namespace {

constexpr double kRate = 44100.0;

class Grid : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    static ClickTrackFolder folder;
    ClickTrack spec;
    spec.bpm = 126.0;
    spec.seconds = 12.0;
    ASSERT_TRUE(LoadAndWait(0, folder.Make(spec)));
    track_ = Engine.decks[0].track;
  }
  void TearDown() override {
    track_.reset();
    ResetDecksForTest();
  }
  static void Place(double seconds) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].position = seconds * kRate;
  }

  TrackPtr track_;
};

TEST_F(Grid, EditsAreClampedReanchoredAndStored) {
  EXPECT_NEAR(track_->bpm, 126.0, 0.05);
  EditBeatGrid(0, [](Track& t) { t.bpm = 300.0; });
  EXPECT_DOUBLE_EQ(track_->bpm, 250.0);
  EditBeatGrid(0, [](Track& t) { t.bpm = 20.0; });
  EXPECT_DOUBLE_EQ(track_->bpm, 40.0);

  TrackInfo& record = TrackInfoFor(track_->path);
  record.gridImported = true;
  EditBeatGrid(0, [](Track& t) {
    t.bpm = 120.0;
    t.firstBeat = 1.3;
    t.tempoMarkers = {{10.0, 5.3}};
  });
  EXPECT_NEAR(track_->firstBeat, 0.3, 1e-12);
  ASSERT_EQ(track_->tempoMarkers.size(), 1u);
  EXPECT_DOUBLE_EQ(track_->tempoMarkers[0].beat, 12.0);
  EXPECT_DOUBLE_EQ(track_->tempoMarkers[0].seconds, 5.3);
  const TrackInfo* stored = FindTrackInfo(track_->path);
  EXPECT_FALSE(stored->gridImported);
  EXPECT_TRUE(stored->analyzed);
  EXPECT_DOUBLE_EQ(stored->bpm, 120.0);
  EXPECT_NEAR(stored->firstBeat, 0.3, 1e-12);
  ASSERT_EQ(stored->tempoMarkers.size(), 1u);

  EditBeatGrid(0, [](Track& t) { t.bpm = std::nan(""); });
  EXPECT_DOUBLE_EQ(track_->bpm, 120.0) << "an edit that breaks the tempo leaves it";
  EXPECT_TRUE(UndoStack.empty()) << "the edit itself pushes no undo record";
}

TEST(GridMarkers, NormalFormDropsMarkersNearBeatZeroAndTooClose) {
  Track track;
  track.firstBeat = 0.1;
  track.tempoMarkers = {{8.0, 4.1}, {0.2, 0.2}, {-0.3, 0.0}, {4.0, 2.1}, {4.6, 2.13}, {-4.0, -1.9}, {9.0, 4.1}};
  NormaliseTempoMarkers(track);
  ASSERT_EQ(track.tempoMarkers.size(), 3u);
  EXPECT_DOUBLE_EQ(track.tempoMarkers[0].beat, -4.0);
  EXPECT_DOUBLE_EQ(track.tempoMarkers[1].beat, 4.0);   // 4.6 is 0.03 s later: dropped
  EXPECT_DOUBLE_EQ(track.tempoMarkers[2].beat, 8.0);   // 9.0 at the same time: dropped

  // A positive marker not clearly after the first beat goes.
  track.firstBeat = 2.0;
  track.tempoMarkers = {{1.0, 1.98}, {3.0, 3.0}};
  NormaliseTempoMarkers(track);
  ASSERT_EQ(track.tempoMarkers.size(), 1u);
  EXPECT_DOUBLE_EQ(track.tempoMarkers[0].beat, 3.0);
  // A negative marker that reaches the first beat leaves no room for positive ones.
  track.tempoMarkers = {{-2.0, 1.97}, {3.0, 3.0}, {5.0, 4.0}};
  NormaliseTempoMarkers(track);
  ASSERT_EQ(track.tempoMarkers.size(), 1u);
  EXPECT_DOUBLE_EQ(track.tempoMarkers[0].beat, -2.0);
}

TEST_F(Grid, TappedTempoIsConvertedFoldedAndAnchoredAtThePlayhead) {
  Place(1.3);
  for (double t : {100.0, 100.5, 101.0}) {
    TapTempoAt(0, t);
    EXPECT_EQ(Status.text, L"Keep tapping on the beat\u2026");
  }
  TapTempoAt(0, 101.5);
  EXPECT_NEAR(track_->bpm, 120.0, 1e-9);
  EXPECT_NEAR(track_->firstBeat, 0.3, 1e-9) << "beat 0 at the playhead, moved into the first beat";
  EXPECT_TRUE(track_->tempoMarkers.empty());
  EXPECT_TRUE(UndoStack.empty());

  // The same taps on a deck playing 8 % fast give the track's own tempo.
  LiveDeckViews[0].tempoFader = 0.0f;
  LiveDeckViews[0].taps.clear();
  for (double t : {200.0, 200.5, 201.0, 201.5}) TapTempoAt(0, t);
  EXPECT_NEAR(track_->bpm, 120.0 / 1.08, 1e-4);
  LiveDeckViews[0].tempoFader = 0.5f;

  // 1.2 s apart is 50 BPM: doubled to 100. A pause over 2 s starts again.
  for (double t : {300.0, 301.2, 302.4, 303.6}) TapTempoAt(0, t);
  EXPECT_NEAR(track_->bpm, 100.0, 1e-9);
  for (double t : {306.0, 306.3, 306.6}) {
    TapTempoAt(0, t);
    EXPECT_EQ(Status.text, L"Keep tapping on the beat\u2026");
  }
  EXPECT_NEAR(track_->bpm, 100.0, 1e-9);
  EXPECT_EQ(LiveDeckViews[0].taps.size(), 3u);
}

TEST_F(Grid, TapsWithoutASpanAreIgnored) {
  const double bpm = track_->bpm;
  for (int i = 0; i < 6; ++i) TapTempoAt(0, 50.0);  // one instant: no interval, no endless halving
  EXPECT_DOUBLE_EQ(track_->bpm, bpm);
  EXPECT_EQ(LiveDeckViews[0].taps.size(), 6u);
}

TEST_F(Grid, ToolRowEditsPushTheirUndoRecordFirst) {
  const double bpm = track_->bpm;
  HalveTempo(0);
  EXPECT_DOUBLE_EQ(track_->bpm, bpm / 2);
  EXPECT_EQ(UndoStack.back().label, L"halved the tempo");
  EXPECT_DOUBLE_EQ(UndoStack.back().bpm, bpm);
  DoubleTempo(0);
  EXPECT_DOUBLE_EQ(track_->bpm, bpm);
  EXPECT_EQ(UndoStack.back().label, L"doubled the tempo");

  const double first = track_->firstBeat;
  NudgeGrid(0, 0.01);
  EXPECT_NEAR(track_->firstBeat, first + 0.01, 1e-12);
  EXPECT_EQ(UndoStack.back().label, L"moved the grid");

  Place(3.7);
  SetDownbeatHere(0);
  EXPECT_EQ(UndoStack.back().label, L"set the downbeat");
  const double beatHere = BeatAtTime(*track_, 3.7);
  EXPECT_NEAR(beatHere, std::round(beatHere), 1e-9) << "a beat falls on the playhead";
  EXPECT_LT(track_->firstBeat, 60.0 / track_->bpm);

  for (int i = 0; i < 4; ++i) Undo();
  EXPECT_DOUBLE_EQ(track_->bpm, bpm);
  EXPECT_DOUBLE_EQ(track_->firstBeat, first);
  EXPECT_TRUE(UndoStack.empty());
}

}  // namespace
