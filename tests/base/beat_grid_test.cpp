#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "base/beat_grid.h"

namespace {

Track GridTrack(double bpm, double firstBeat, std::vector<TempoMarker> markers = {}) {
  Track track;
  track.bpm = bpm;
  track.firstBeat = firstBeat;
  track.tempoMarkers = std::move(markers);
  return track;
}

// A 44.1 kHz track with a 150-per-second waveform of quiet points and a click (two loud points)
// at each of `beatTimes`.
Track ClickTrack(double seconds, double bpm, double firstBeat, const std::vector<double>& beatTimes) {
  Track track = GridTrack(bpm, firstBeat);
  track.frames = static_cast<uint64_t>(seconds * 44100);
  track.waveform.assign(track.frames * 150 / 44100 + 1, WavePoint{10, 10, 10});
  for (double t : beatTimes) {
    const size_t i = static_cast<size_t>(std::floor(t * 150));
    for (size_t j = i; j < std::min(i + 2, track.waveform.size()); ++j) track.waveform[j] = {255, 200, 120};
  }
  return track;
}

}  // namespace

TEST(BeatGrid, ConstantTempoIsOneStraightLine) {
  const Track track = GridTrack(120, 0.5);
  EXPECT_DOUBLE_EQ(TimeAtBeat(track, 8), 4.5);
  EXPECT_DOUBLE_EQ(BeatAtTime(track, 4.5), 8);
  EXPECT_DOUBLE_EQ(TimeAtBeat(track, -1), 0.0);  // one beat before the first beat
  EXPECT_DOUBLE_EQ(BeatAtTime(track, 0.25), -0.5);
  EXPECT_DOUBLE_EQ(BeatLengthAt(track, 100.0), 0.5);
  EXPECT_DOUBLE_EQ(BeatLengthAt(GridTrack(128, 0), 3.0), 60.0 / 128);
}

TEST(BeatGrid, UnusableTempoCountsAsDefaultTempo) {
  for (double bpm : {0.0, -90.0, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    const Track track = GridTrack(bpm, 1.0);
    EXPECT_DOUBLE_EQ(BeatLengthAt(track, 2.0), 0.5) << bpm;
    EXPECT_DOUBLE_EQ(BeatAtTime(track, 3.0), 4.0) << bpm;
    EXPECT_DOUBLE_EQ(TimeAtBeat(track, 4.0), 3.0) << bpm;
  }
}

TEST(BeatGrid, OneMarkerExtrapolatesItsSegment) {
  const Track track = GridTrack(120, 2.0, {{16, 10.0}});
  const GridPoints points = MakeGridPoints(track);
  ASSERT_EQ(points.markerCount, 1u);
  EXPECT_EQ(GridPoint(points, 0).beat, 0.0);
  EXPECT_EQ(GridPoint(points, 1).seconds, 10.0);
  EXPECT_DOUBLE_EQ(TimeAtBeat(track, 32), 18.0);
  EXPECT_DOUBLE_EQ(TimeAtBeat(track, -4), 0.0);
  EXPECT_DOUBLE_EQ(BeatAtTime(track, 6.0), 8.0);
  EXPECT_DOUBLE_EQ(BeatLengthAt(track, 30.0), 0.5);
}

TEST(BeatGrid, BentGridPinsAndSegmentTempos) {
  const Track track = GridTrack(120, 0.5, {{16, 8.6}, {32, 16.9}});
  EXPECT_NEAR(BeatAtTime(track, 8.6), 16.0, 1e-9);
  EXPECT_NEAR(TimeAtBeat(track, 32), 16.9, 1e-9);
  EXPECT_NEAR(BeatLengthAt(track, 4.0), 0.50625, 1e-9);
  EXPECT_NEAR(BeatLengthAt(track, 12.0), 0.51875, 1e-9);
  EXPECT_NEAR(BeatLengthAt(track, 20.0), 0.51875, 1e-9);  // after the last pin the tempo carries on
  EXPECT_NEAR(BeatLengthAt(track, -3.0), 0.50625, 1e-9);   // before the first beat, the first segment
  EXPECT_NEAR(SegmentBeatLength(track, 1), 0.51875, 1e-9);
  EXPECT_NEAR(TimeAtBeat(track, 40), 16.9 + 8 * 0.51875, 1e-9);
}

TEST(BeatGrid, NegativeBeatMarkersComeBeforeTheAnchor) {
  const Track track = GridTrack(120, 3.0, {{-8, 0.0}, {-4, 1.6}, {8, 7.0}});
  const GridPoints points = MakeGridPoints(track);
  ASSERT_EQ(points.anchorAt, 2u);
  const double beats[] = {-8, -4, 0, 8};
  const double times[] = {0.0, 1.6, 3.0, 7.0};
  for (size_t i = 0; i <= points.markerCount; ++i) {
    EXPECT_EQ(GridPoint(points, i).beat, beats[i]) << i;
    EXPECT_EQ(GridPoint(points, i).seconds, times[i]) << i;
  }
  EXPECT_NEAR(SegmentBeatLength(points, 0), 0.4, 1e-12);
  EXPECT_NEAR(SegmentBeatLength(points, 1), 0.35, 1e-12);
  EXPECT_NEAR(BeatAtTime(track, 2.3), -2.0, 1e-12);
  EXPECT_NEAR(TimeAtBeat(track, -10), -0.8, 1e-12);
  EXPECT_NEAR(BeatLengthAt(track, 0.5), 0.4, 1e-12);

  // All markers below beat 0: the anchor is the last point and extrapolation starts there.
  const Track before = GridTrack(120, 3.0, {{-4, 1.0}});
  EXPECT_EQ(MakeGridPoints(before).anchorAt, 1u);
  EXPECT_NEAR(TimeAtBeat(before, 4), 5.0, 1e-12);
}

TEST(BeatGrid, RoundTripAcrossSegmentsAndBeyondTheEnds) {
  const Track grids[] = {
      GridTrack(120, 0.5, {{16, 8.6}, {32, 16.9}}),
      GridTrack(97.3, 0.137, {{-6, -3.2}, {4, 2.61}, {12, 7.5}, {13, 8.1}, {40, 21.0}}),
      GridTrack(174, 12.25),
  };
  for (const Track& track : grids) {
    for (double b = -20.0; b < 80.0; b += 0.37) EXPECT_NEAR(BeatAtTime(track, TimeAtBeat(track, b)), b, 1e-7) << b;
    for (double t = -10.0; t < 40.0; t += 0.29) EXPECT_NEAR(TimeAtBeat(track, BeatAtTime(track, t)), t, 1e-7) << t;
  }
}

TEST(BeatGrid, DegenerateSegmentsUseTheNominalTempo) {
  // Same beat and time twice, a time that goes backwards, a segment flatter than 0.05 s per beat
  // and two points on one beat with different times.
  const Track same = GridTrack(100, 1.0, {{8, 5.0}, {8, 5.0}, {16, 9.0}});
  EXPECT_DOUBLE_EQ(SegmentBeatLength(MakeGridPoints(same), 1), 0.6);
  const Track reversed = GridTrack(100, 1.0, {{8, 5.0}, {16, 4.0}});
  EXPECT_DOUBLE_EQ(SegmentBeatLength(MakeGridPoints(reversed), 1), 0.6);
  EXPECT_DOUBLE_EQ(BeatLengthAt(reversed, 30.0), 0.6);
  // Past the last point the line starts from that point, whatever the segment's own start.
  EXPECT_DOUBLE_EQ(TimeAtBeat(reversed, 20), 4.0 + 4 * 0.6);
  EXPECT_DOUBLE_EQ(BeatAtTime(reversed, 10.0), 16 + 6 / 0.6);
  const Track flat = GridTrack(100, 1.0, {{8, 1.2}});
  EXPECT_DOUBLE_EQ(BeatLengthAt(flat, 0.0), 0.6);
  const Track vertical = GridTrack(100, 1.0, {{0, 4.0}, {8, 8.0}});
  EXPECT_EQ(MakeGridPoints(vertical).anchorAt, 0u);  // a marker on beat 0 follows the anchor
  EXPECT_DOUBLE_EQ(SegmentBeatLength(MakeGridPoints(vertical), 0), 0.6);
  EXPECT_DOUBLE_EQ(BeatLengthAt(vertical, 2.0), 0.6);
  // Out-of-range segments of the track form, and a track without markers, are nominal.
  EXPECT_DOUBLE_EQ(SegmentBeatLength(same, 7), 0.6);
  EXPECT_DOUBLE_EQ(SegmentBeatLength(GridTrack(100, 1.0), 0), 0.6);
}

TEST(BeatGrid, RefineSkipsShortTracksAndUnusableTempos) {
  std::vector<double> clicks;
  for (double t = 0.5; t < 19.0; t += 0.5) clicks.push_back(t);
  Track shortTrack = ClickTrack(19.0, 120, 0.5, clicks);
  shortTrack.tempoMarkers = {{4, 2.5}};
  EXPECT_EQ(RefineBeatGrid(shortTrack), 0);
  EXPECT_TRUE(shortTrack.tempoMarkers.empty());

  for (double bpm : {0.0, -120.0, std::numeric_limits<double>::quiet_NaN(), 1e9}) {
    Track track = ClickTrack(60.0, bpm, 0.5, {});
    track.tempoMarkers = {{4, 2.5}};
    EXPECT_EQ(RefineBeatGrid(track), 0) << bpm;
    EXPECT_TRUE(track.tempoMarkers.empty()) << bpm;
  }
  Track noRate = ClickTrack(60.0, 120, 0.5, {});
  noRate.sampleRate = 0;
  EXPECT_EQ(RefineBeatGrid(noRate), 0);
}

TEST(BeatGrid, RefineLeavesASteadyTrackAlone) {
  std::vector<double> clicks;
  for (int k = 0; k < 230; ++k) clicks.push_back(0.5 * k + 0.5);
  Track track = ClickTrack(120.0, 120, 0.5, clicks);
  EXPECT_EQ(RefineBeatGrid(track), 0);
  EXPECT_TRUE(track.tempoMarkers.empty());
}

TEST(BeatGrid, RefineIgnoresAnOffsetBelowTheDriftLimit) {
  // Every click 6 ms after the grid: the tracker settles on them, but 6 ms is no drift to pin.
  std::vector<double> clicks;
  for (int k = 0; k < 230; ++k) clicks.push_back(0.5 * k + 0.506);
  Track track = ClickTrack(120.0, 120, 0.5, clicks);
  EXPECT_EQ(RefineBeatGrid(track), 0);
}

TEST(BeatGrid, RefinePinsADriftingTrack) {
  // Beat k at 0.5 + 0.5 k + 0.000125 k^2: the tempo slows steadily, about 34 ms late by beat 16.
  std::vector<double> clicks;
  for (int k = 0;; ++k) {
    const double t = 0.5 + 0.5 * k + 0.000125 * k * k;
    if (t > 118.0) break;
    clicks.push_back(t);
  }
  Track track = ClickTrack(120.0, 120, 0.5, clicks);
  const int32_t pins = RefineBeatGrid(track);
  EXPECT_GE(pins, 4);
  ASSERT_EQ(static_cast<size_t>(pins), track.tempoMarkers.size());
  ASSERT_GT(clicks.size(), 32u);

  double straightError = 0.0, refinedError = 0.0;
  for (size_t k = 0; k < clicks.size(); ++k)
    straightError = std::max(straightError, std::fabs(clicks[k] - (0.5 + 0.5 * k)));
  for (size_t k = 16; k + 17 <= clicks.size(); ++k)
    refinedError = std::max(refinedError, std::fabs(clicks[k] - TimeAtBeat(track, static_cast<double>(k))));
  EXPECT_GT(straightError, 0.5);
  EXPECT_LT(refinedError, 0.025);
  // Markers sit on every eighth beat, in order, each where the music was heard.
  for (size_t i = 0; i < track.tempoMarkers.size(); ++i) {
    const TempoMarker& m = track.tempoMarkers[i];
    EXPECT_EQ(std::fmod(m.beat, 8.0), 0.0);
    if (i) {
      EXPECT_GT(m.beat, track.tempoMarkers[i - 1].beat);
    }
    EXPECT_NEAR(m.seconds, clicks[static_cast<size_t>(m.beat)], 0.02);
  }
}
