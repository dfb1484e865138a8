#pragma once
// Key-lock time stretch: two overlapping grains with sin^2 windows, each new grain aligned to
// continue the one fading out. The deck position moves at the tempo speed while each grain reads
// the track at the pitch step, so tempo and pitch are independent.
#include <cstdint>

#include "base/track.h"

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
  // An attack both grains would play apart: one grain fades out from this phase, or fades in from
  // it, and the other takes its share, so the attack sounds once. -1: no cut.
  int32_t cutGrain = -1;
  int32_t cutPhase = 0;
  bool cutFadesIn = false;
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
void StartStretchGrain(StretchState& stretch, const Track& track, double position, double pitch,
                       double speed);

// What the grains read: the mix and, with stems, the vocals, drums and bass of the same length.
// A read gives left and right of each source in this order; stems come scaled to full scale 1.
inline constexpr int32_t kMaxReadSources = 4;
inline constexpr float kStemSampleScale = 1.0f / 32767.0f;
struct ReadSources {
  const float* mix = nullptr;      // interleaved stereo, 2 x frames
  const int16_t* stems[3] = {};    // interleaved stereo, 2 x frames each; read only when count is 4
  int64_t frames = 0;
  int32_t count = 1;               // 1: the mix alone; 4: the mix and the three stems
};

// One frame of every source at a fractional position by 4-point Catmull-Rom interpolation into
// out (2 x count floats); 0 when the position is negative or at or past the end, and frames
// outside count as 0.
void ReadSourcesCubic(const ReadSources& sources, double position, float* out);
// The same for n positions, into n x 2 x count floats.
void ReadSourcesCubicRun(const ReadSources& sources, const double* positions, int32_t n, float* out);

// Output frames StretchBlock may give in one call: up to the next grain start (1..kGrainHopFrames).
inline int32_t StretchRunLength(const StretchState& stretch) {
  return static_cast<int32_t>(kGrainHopFrames - stretch.grainCounter);
}

// Produces `count` output frames (at most StretchRunLength) of every source into out (count x 2 x
// sources.count floats, overwritten). When a grain is due at the first frame it starts at
// `position` (the deck position there) after a reset; a grain that continues the one still
// sounding is aligned to it near where the deck, moving at `speed` source frames per output
// frame, and the grain meet at the grain's middle, so what it plays is never a hop late or early.
// pitch: source frames per output frame of a grain (pitch ratio x track rate / device rate); a
// grain at a whole pitch starts on a whole frame. Each grain reads its whole run in one pass, so
// the work per frame carries no window or bounds decisions. Real-time safe: no allocation, no
// locks.
void StretchBlock(StretchState& stretch, const Track& track, const ReadSources& sources, double position,
                  double pitch, double speed, int32_t count, float* out);
