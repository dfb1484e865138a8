#pragma once
// Key-lock time stretch: two overlapping grains with sin^2 windows, each new grain aligned to
// continue the one fading out. The deck position moves at the tempo speed while each grain reads
// the track at the pitch step, so tempo and pitch are independent.
#include <cstdint>

#include "engine/track.h"

inline constexpr int32_t kGrainFrames = 2048;     // output frames one grain lasts
inline constexpr uint32_t kGrainHopFrames = 1024;  // a new grain starts this often
inline constexpr int32_t kOverlapWindow = 256;     // mono samples compared by the alignment search
inline constexpr int32_t kOverlapSearchFrames = 400;

// The deck's `stretch` field. Reset state: both phases finished (kGrainFrames), counter 0.
struct StretchState {
  double grainPos[2] = {0.0, 0.0};    // source frame each grain reads next
  double grainStep[2] = {1.0, 1.0};   // source frames per output frame
  int32_t grainPhase[2] = {kGrainFrames, kGrainFrames};  // output frames since start
  int32_t activeGrain = 0;            // the grain started at the next hop
  uint32_t grainCounter = 0;          // output frames into the current hop
  bool stretchOn = false;
};

// Finishes both grains so the next frame starts a fresh grain exactly at the deck position.
void ResetStretch(StretchState& stretch);

// The shared window, w[i] = sin^2(i pi / kGrainFrames); two windows half a grain apart sum to 1.
// Built before main runs, so the render never computes it.
const float* StretchWindow();

// The reference grain and search target of one alignment.
struct OverlapContext {
  const Track* track = nullptr;
  double target = 0.0;
  double step = 1.0;
  float reference[kOverlapWindow] = {};
};

// Normalised correlation of the reference with the candidate starting at target + lag.
double OverlapScore(const OverlapContext& context, int32_t lag);
// The start near target (within kOverlapSearchFrames + 3) whose content best continues the grain
// now at reference reading at step; reference itself when it lies within half a frame of target.
double FindBestOverlap(const Track& track, double target, double reference, double step);

// Starts the grain due at a hop (the other grain keeps sounding). Used by StretchBlock.
void StartStretchGrain(StretchState& stretch, const Track& track, double position, double pitch);

// Produces one output frame for each of partCount remix parts into out (partCount stereo frames,
// interleaved). position: the deck position in track frames; pitch: source frames per output frame
// of a grain (pitch ratio x track rate / device rate). readPart(part, sourcePosition, left, right)
// is the caller's sample reader for remix part `part` (ReadTrackCubic with that part's weights);
// it must return 0, 0 outside the track. Real-time safe: no allocation, no locks.
template <typename PartReader>
void StretchBlock(StretchState& stretch, const Track& track, double position, double pitch,
                  PartReader&& readPart, int32_t partCount, float* out) {
  if (stretch.grainCounter == 0) StartStretchGrain(stretch, track, position, pitch);
  stretch.grainCounter = (stretch.grainCounter + 1) % kGrainHopFrames;
  for (int32_t i = 0; i < 2 * partCount; ++i) out[i] = 0.0f;
  const float* window = StretchWindow();
  for (int32_t g = 0; g < 2; ++g) {
    if (stretch.grainPhase[g] >= kGrainFrames) continue;
    const float weight = window[stretch.grainPhase[g]];
    for (int32_t part = 0; part < partCount; ++part) {
      float left = 0.0f, right = 0.0f;
      readPart(part, stretch.grainPos[g], left, right);
      out[2 * part] += left * weight;
      out[2 * part + 1] += right * weight;
    }
    stretch.grainPos[g] += stretch.grainStep[g];
    stretch.grainPhase[g] += 1;
  }
}
