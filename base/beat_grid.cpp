#include "base/beat_grid.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <vector>

namespace {

constexpr double kSecondsPerMinute = 60.0;
constexpr double kFallbackBpm = 120.0;             // a track's default tempo, for unusable bpm values
constexpr double kMinSegmentBeatSpan = 1e-9;       // beats; guards the slope division
constexpr double kMinSegmentBeatLengthS = 0.05;    // s per beat; flatter segments are degenerate

// Refinement (times in seconds, the waveform at 150 points per second).
constexpr double kWavePointsPerSecond = 150.0;
constexpr size_t kRefineMinPoints = 3000;          // 20 s of waveform
constexpr double kRefineMaxBpm = 1000.0;           // above this the beat walk would not advance
constexpr double kFluxMidWeight = 0.6;
constexpr double kFluxHighWeight = 0.3;
constexpr double kFluxThresholdFactor = 3.0;       // x the mean flux
constexpr double kMinBeatLengthFactor = 0.8;       // x the nominal beat length
constexpr double kMaxBeatLengthFactor = 1.25;
constexpr double kSearchWindowFactor = 0.12;       // x the current beat length, each side
constexpr double kSearchSigmaFactor = 0.05;        // x the current beat length
constexpr double kSearchStepS = 1.0 / 300.0;
constexpr double kBeatFollow = 0.8;                // share of the offset taken by the beat
constexpr double kTempoFollow = 0.15;              // share of the offset taken by the beat length
constexpr size_t kMinBeatsForMarkers = 13;         // fewer tracked beats tell nothing
constexpr size_t kMarkerEveryBeats = 8;
constexpr size_t kMarkerTailBeats = 4;             // a marker needs this many beats after it
constexpr double kMarkerMinDriftS = 0.012;
constexpr double kMarkerMinGapS = 0.05;            // after the grid's previous beat

double NominalBeatLength(double bpm) {
  if (!std::isfinite(bpm) || bpm <= 0.0) bpm = kFallbackBpm;
  return kSecondsPerMinute / bpm;
}

// Where `value` on the axis `Axis` (seconds or beat) falls: the segment whose slope applies and
// the point the line is drawn from. Before the first point: segment 0 from point 0; at or after
// the last: segment m - 1 from point m; else the binary search's segment from its start.
struct GridPlace {
  size_t segment;
  size_t from;
};
template <double TempoMarker::*Axis>
GridPlace PlaceOn(const GridPoints& points, double value) {
  const size_t m = points.markerCount;
  if (value <= GridPoint(points, 0).*Axis) return {0, 0};
  if (value >= GridPoint(points, m).*Axis) return {m - 1, m};
  size_t lo = 0, hi = m;
  while (hi - lo > 1) {
    size_t mid = (lo + hi) / 2;
    if (value >= GridPoint(points, mid).*Axis) lo = mid;
    else hi = mid;
  }
  return {lo, lo};
}

}  // namespace

GridPoints MakeGridPoints(const Track& track) {
  GridPoints points;
  points.markers = track.tempoMarkers.data();
  points.markerCount = track.tempoMarkers.size();
  points.anchor = TempoMarker{0.0, track.firstBeat};
  points.nominalBeatLength = NominalBeatLength(track.bpm);
  // Markers are sorted by beat, so those below beat 0 form a prefix.
  const TempoMarker* first = points.markers;
  const TempoMarker* below_end = std::partition_point(
      first, first + points.markerCount, [](const TempoMarker& marker) { return marker.beat < 0.0; });
  points.anchorAt = static_cast<size_t>(below_end - first);
  return points;
}

TempoMarker GridPoint(const GridPoints& points, size_t i) {
  assert(i <= points.markerCount && "grid point index past the last point");
  if (i < points.anchorAt) return points.markers[i];
  if (i == points.anchorAt) return points.anchor;
  return points.markers[i - 1];
}

double SegmentBeatLength(const GridPoints& points, size_t segment) {
  if (segment >= points.markerCount) return points.nominalBeatLength;  // no such segment
  const TempoMarker a = GridPoint(points, segment);
  const TempoMarker b = GridPoint(points, segment + 1);
  const double span = b.beat - a.beat;
  // A zero-span segment (two points on one beat) has no tempo, however far apart its times.
  if (!(span > 0.0)) return points.nominalBeatLength;
  const double slope = (b.seconds - a.seconds) / std::max(span, kMinSegmentBeatSpan);
  return slope > kMinSegmentBeatLengthS ? slope : points.nominalBeatLength;
}

double SegmentBeatLength(const Track& track, size_t segment) {
  return SegmentBeatLength(MakeGridPoints(track), segment);
}

double BeatAtTime(const Track& track, double seconds) {
  if (track.tempoMarkers.empty()) return (seconds - track.firstBeat) / NominalBeatLength(track.bpm);
  const GridPoints points = MakeGridPoints(track);
  const GridPlace place = PlaceOn<&TempoMarker::seconds>(points, seconds);
  const TempoMarker from = GridPoint(points, place.from);
  return from.beat + (seconds - from.seconds) / SegmentBeatLength(points, place.segment);
}

double TimeAtBeat(const Track& track, double beat) {
  if (track.tempoMarkers.empty()) return track.firstBeat + beat * NominalBeatLength(track.bpm);
  const GridPoints points = MakeGridPoints(track);
  const GridPlace place = PlaceOn<&TempoMarker::beat>(points, beat);
  const TempoMarker from = GridPoint(points, place.from);
  return from.seconds + (beat - from.beat) * SegmentBeatLength(points, place.segment);
}

double BeatLengthAt(const Track& track, double seconds) {
  if (track.tempoMarkers.empty()) return NominalBeatLength(track.bpm);
  const GridPoints points = MakeGridPoints(track);
  return SegmentBeatLength(points, PlaceOn<&TempoMarker::seconds>(points, seconds).segment);
}

int32_t RefineBeatGrid(Track& track) {
  track.tempoMarkers.clear();
  const std::vector<WavePoint>& wave = track.waveform;
  const size_t count = wave.size();
  if (count < kRefineMinPoints || !(track.bpm > 0.0) || !(track.bpm <= kRefineMaxBpm) ||
      track.sampleRate <= 0 || !std::isfinite(track.firstBeat))
    return 0;

  std::vector<double> flux(count, 0.0);
  double flux_sum = 0.0;
  auto level = [&](size_t i) {
    return wave[i].low + kFluxMidWeight * wave[i].mid + kFluxHighWeight * wave[i].high;
  };
  for (size_t i = 1; i < count; ++i) {
    flux[i] = std::max(0.0, level(i) - level(i - 1));
    flux_sum += flux[i];
  }
  const double threshold = kFluxThresholdFactor * flux_sum / static_cast<double>(count);
  auto flux_at = [&](double t) {
    const double x = t * kWavePointsPerSecond;
    const double base = std::floor(x);
    if (!(base >= 1.0) || base + 1.0 >= static_cast<double>(count)) return 0.0;
    const size_t i = static_cast<size_t>(base);
    return flux[i] + (flux[i + 1] - flux[i]) * (x - base);
  };

  const double nominal = kSecondsPerMinute / track.bpm;
  const double min_length = kMinBeatLengthFactor * nominal;
  const double max_length = kMaxBeatLengthFactor * nominal;
  const double end = static_cast<double>(track.frames) / track.sampleRate - nominal;
  double length = nominal;
  std::vector<double> beats{track.firstBeat};
  while (end > beats.back() + length) {
    const double expected = beats.back() + length;
    const double window = kSearchWindowFactor * length;
    const double sigma = kSearchSigmaFactor * length;
    double best_t = expected, best_score = 0.0;
    // Stepping by index keeps the last candidate exactly where repeated addition would drift.
    const double first_t = expected - window;
    for (int step = 0;; ++step) {
      const double t = first_t + step * kSearchStepS;
      if (t > expected + window) break;
      const double z = (t - expected) / sigma;
      const double score = (0.5 + 0.5 * std::exp(-0.5 * z * z)) * flux_at(t);
      if (score > best_score) best_score = score, best_t = t;
    }
    if (best_score > threshold) {
      const double offset = best_t - expected;
      beats.push_back(expected + kBeatFollow * offset);
      length = std::clamp(length + kTempoFollow * offset, min_length, max_length);
    } else {
      beats.push_back(expected);
    }
  }

  int32_t placed = 0;
  if (beats.size() < kMinBeatsForMarkers) return 0;
  for (size_t k = kMarkerEveryBeats; k + kMarkerTailBeats < beats.size(); k += kMarkerEveryBeats) {
    const double beat = static_cast<double>(k);
    const double grid = TimeAtBeat(track, beat);
    if (std::fabs(beats[k] - grid) >= kMarkerMinDriftS &&
        beats[k] > TimeAtBeat(track, beat - 1.0) + kMarkerMinGapS) {
      track.tempoMarkers.push_back(TempoMarker{beat, beats[k]});
      ++placed;
    }
  }
  return placed;
}
