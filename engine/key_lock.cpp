#include "engine/key_lock.h"

#include <array>
#include <cmath>
#include <numbers>

namespace {

constexpr int32_t kCoarseLagStep = 4;
constexpr int32_t kFineLagReach = 3;
constexpr double kSameStartFrames = 0.5;  // closer than this, the continuation is the start
constexpr double kScoreFloor = -1e30;
constexpr double kEnergyFloor = 1e-9;     // keeps a silent candidate from dividing by zero

std::array<float, kGrainFrames> BuildWindow() {
  std::array<float, kGrainFrames> w{};
  for (int32_t i = 0; i < kGrainFrames; ++i) {
    const double s = std::sin(i * std::numbers::pi / kGrainFrames);
    w[i] = static_cast<float>(s * s);
  }
  return w;
}

const std::array<float, kGrainFrames> kWindow = BuildWindow();

// Left + right at floor(position); 0 outside the track.
float MonoAt(const Track& track, double position) {
  const double whole = std::floor(position);
  if (!(whole >= 0.0) || whole >= static_cast<double>(track.frames)) return 0.0f;
  const size_t i = 2 * static_cast<size_t>(whole);
  return track.samples[i] + track.samples[i + 1];
}

}  // namespace

void ResetStretch(StretchState& stretch) {
  stretch.grainPhase[0] = kGrainFrames;
  stretch.grainPhase[1] = kGrainFrames;
  stretch.grainCounter = 0;
}

const float* StretchWindow() { return kWindow.data(); }

double OverlapScore(const OverlapContext& context, int32_t lag) {
  double product = 0.0, energy = 0.0;
  const double start = context.target + lag;
  for (int32_t k = 0; k < kOverlapWindow; ++k) {
    const double candidate = MonoAt(*context.track, start + k * context.step);
    product += context.reference[k] * candidate;
    energy += candidate * candidate;
  }
  return product / std::sqrt(kEnergyFloor + energy);
}

double FindBestOverlap(const Track& track, double target, double reference, double step) {
  if (std::fabs(reference - target) < kSameStartFrames) return reference;
  OverlapContext context;
  context.track = &track;
  context.target = target;
  context.step = step;
  for (int32_t k = 0; k < kOverlapWindow; ++k) context.reference[k] = MonoAt(track, reference + k * step);

  int32_t bestLag = 0;
  double bestScore = kScoreFloor;
  for (int32_t lag = -kOverlapSearchFrames; lag <= kOverlapSearchFrames; lag += kCoarseLagStep) {
    const double score = OverlapScore(context, lag);
    if (score > bestScore) {
      bestScore = score;
      bestLag = lag;
    }
  }
  const int32_t coarseLag = bestLag;
  for (int32_t lag = coarseLag - kFineLagReach; lag <= coarseLag + kFineLagReach; ++lag) {
    if (lag == coarseLag) continue;  // already scored
    const double score = OverlapScore(context, lag);
    if (score > bestScore) {
      bestScore = score;
      bestLag = lag;
    }
  }
  return target + bestLag;
}

void StartStretchGrain(StretchState& stretch, const Track& track, double position, double pitch) {
  // Bad numbers from upstream must not turn into wild sample indices.
  if (!std::isfinite(position)) position = 0.0;
  if (!std::isfinite(pitch)) pitch = 1.0;
  const int32_t g = stretch.activeGrain & 1;
  const int32_t other = 1 - g;
  stretch.activeGrain = other;
  double start = position;
  if (stretch.grainPhase[other] < kGrainFrames)
    start = FindBestOverlap(track, position, stretch.grainPos[other], stretch.grainStep[other]);
  stretch.grainPos[g] = start;
  stretch.grainStep[g] = pitch;
  stretch.grainPhase[g] = 0;
}
