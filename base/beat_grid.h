#pragma once
// The beat grid of a track: a constant tempo from beat 0 at `firstBeat`, optionally bent by tempo
// markers with straight lines between them. Converts between seconds and beat numbers.
#include <cstddef>
#include <cstdint>

#include "base/track.h"

// The point list P that every conversion walks: the track's markers in order with the anchor
// (beat 0, firstBeat) inserted virtually at `anchorAt` (the number of markers below beat 0).
// A view over the track's marker vector: building one allocates nothing; it is valid only while
// the track's markers are not changed. Segment i joins point i and point i + 1.
struct GridPoints {
  const TempoMarker* markers = nullptr;
  size_t markerCount = 0;             // m; the list has m + 1 points
  size_t anchorAt = 0;                // position of the anchor in the list
  TempoMarker anchor;                 // (0, firstBeat)
  double nominalBeatLength = 0.5;     // seconds per beat at the track's `bpm`
};

// --- Point list ---
// The point list of a track. No allocation; safe on the audio thread.
GridPoints MakeGridPoints(const Track& track);
// Point i (0..markerCount) of the list.
TempoMarker GridPoint(const GridPoints& points, size_t i);
// Seconds per beat on segment i (0..markerCount - 1): the segment's slope when it is above
// 0.05 s per beat, else the nominal beat length (degenerate, zero-span or reversed segments, and
// a segment number past the last segment).
double SegmentBeatLength(const GridPoints& points, size_t segment);
double SegmentBeatLength(const Track& track, size_t segment);

// --- Conversions (real-time safe: no allocation, no locks, O(log markers)) ---
// The fractional beat number at `seconds`; extrapolates on the first or last segment outside
// the markers. A track with a bpm that is not a positive finite number counts as 120 BPM.
double BeatAtTime(const Track& track, double seconds);
// Seconds of beat `beat`; the exact inverse of BeatAtTime on a grid whose times rise with beats.
double TimeAtBeat(const Track& track, double beat);
// Seconds per beat at `seconds`: the slope of the segment BeatAtTime would use there.
double BeatLengthAt(const Track& track, double seconds);

// --- Refinement ---
// Follows the onsets in the track's waveform from `firstBeat` and pins tempo markers every 8 beats
// where the music drifts 12 ms or more from the grid. Always clears `tempoMarkers` first; returns
// the number of markers placed (0 for a steady track, a track under 20 s or an unusable grid).
// Allocates: never on the audio thread; the caller holds whatever lock guards the track.
int32_t RefineBeatGrid(Track& track);
