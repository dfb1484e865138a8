#include "engine/key_lock.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

constexpr int32_t kCoarseLagStep = 4;
constexpr int32_t kFineLagReach = 3;
constexpr double kSameStartFrames = 0.5;  // closer than this, the continuation is the start
constexpr double kScoreFloor = -1e30;
constexpr double kEnergyFloor = 1e-9;     // keeps a silent candidate from dividing by zero
// The search reads the track once into a mono strip of this many samples; a step so large that
// the candidates spread wider takes the sample-by-sample path.
constexpr int32_t kSearchStrip = 4096;

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

namespace {

// The search over every lag given a scorer; the first best wins ties, the fine pass keeps the
// coarse score.
template <typename Scorer>
int32_t BestLag(Scorer&& score) {
  int32_t bestLag = 0;
  double bestScore = kScoreFloor;
  for (int32_t lag = -kOverlapSearchFrames; lag <= kOverlapSearchFrames; lag += kCoarseLagStep) {
    const double value = score(lag);
    if (value > bestScore) {
      bestScore = value;
      bestLag = lag;
    }
  }
  const int32_t coarseLag = bestLag;
  for (int32_t lag = coarseLag - kFineLagReach; lag <= coarseLag + kFineLagReach; ++lag) {
    if (lag == coarseLag) continue;  // already scored
    const double value = score(lag);
    if (value > bestScore) {
      bestScore = value;
      bestLag = lag;
    }
  }
  return bestLag;
}

}  // namespace

double FindBestOverlap(const Track& track, double target, double reference, double step) {
  if (std::fabs(reference - target) < kSameStartFrames) return reference;
  OverlapContext context;
  context.track = &track;
  context.target = target;
  context.step = step;
  for (int32_t k = 0; k < kOverlapWindow; ++k) context.reference[k] = MonoAt(track, reference + k * step);

  // Candidate k of lag L lies at floor(target + k x step) + L: read the span every lag can touch
  // once, then each score is two sums over that strip.
  const double first = std::floor(target);
  const double last = std::floor(target + (kOverlapWindow - 1) * step);
  const int32_t reach = kOverlapSearchFrames + kFineLagReach;
  if (!(step >= 0.0) || !std::isfinite(last) || std::fabs(first) > 1e15 ||
      last - first + 2.0 * reach + 1.0 > kSearchStrip) {
    return target + BestLag([&](int32_t lag) { return OverlapScore(context, lag); });
  }
  const int64_t base = static_cast<int64_t>(first) - reach;
  const int32_t span = static_cast<int32_t>(last - first) + 2 * reach + 1;
  float strip[kSearchStrip];
  const int64_t frames = static_cast<int64_t>(track.frames);
  for (int32_t i = 0; i < span; ++i) {
    const int64_t at = base + i;
    strip[i] = at >= 0 && at < frames ? track.samples[2 * at] + track.samples[2 * at + 1] : 0.0f;
  }
  int32_t offset[kOverlapWindow];
  for (int32_t k = 0; k < kOverlapWindow; ++k)
    offset[k] = static_cast<int32_t>(static_cast<int64_t>(std::floor(target + k * step)) - base);
  // Coarse lags, all at once: sample k of lag -400 + 4j sits at strip[offset[k] - 400 + 4j],
  // so four strips of every fourth sample make each k one contiguous pass over the lags. Each
  // lag's sums still add k in order, so the scores equal OverlapScore's.
  constexpr int32_t kCoarseLags = 2 * kOverlapSearchFrames / kCoarseLagStep + 1;
  constexpr int32_t kPhaseLength = kSearchStrip / kCoarseLagStep + 1;
  float phases[kCoarseLagStep][kPhaseLength];
  for (int32_t i = 0; i < span; ++i) phases[i % kCoarseLagStep][i / kCoarseLagStep] = strip[i];
  double product[kCoarseLags] = {}, energy[kCoarseLags] = {};
  for (int32_t k = 0; k < kOverlapWindow; ++k) {
    const int32_t at = offset[k] - kOverlapSearchFrames;
    const float* run = phases[at % kCoarseLagStep] + at / kCoarseLagStep;
    const double r = context.reference[k];
    for (int32_t j = 0; j < kCoarseLags; ++j) {
      const double candidate = run[j];
      product[j] += r * candidate;
      energy[j] += candidate * candidate;
    }
  }
  const auto score = [&](int32_t lag) {
    const int32_t from = lag + kOverlapSearchFrames;
    if (from % kCoarseLagStep == 0) return product[from / kCoarseLagStep] / std::sqrt(kEnergyFloor + energy[from / kCoarseLagStep]);
    double p = 0.0, e = 0.0;
    for (int32_t k = 0; k < kOverlapWindow; ++k) {
      const double candidate = strip[offset[k] + lag];
      p += context.reference[k] * candidate;
      e += candidate * candidate;
    }
    return p / std::sqrt(kEnergyFloor + e);
  };
  return target + BestLag(score);
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

namespace {

// Catmull-Rom through p0..p3 at t.
inline float Cubic(float p0, float p1, float p2, float p3, float t) {
  const float a = (p1 - p2) * 1.5f + (p3 - p0) * 0.5f;
  const float b = p0 - 2.5f * p1 + 2.0f * p2 - 0.5f * p3;
  const float c = (p2 - p0) * 0.5f;
  return ((a * t + b) * t + c) * t + p1;
}

// One grain over n output frames whose four taps all lie inside the sources: adds window x read
// of every source to out, and moves pos on by step per frame.
template <int32_t kSources>
void GrainRunInside(const ReadSources& sources, double& pos, double step, const float* window, int32_t n,
                    float* out) {
  constexpr int32_t kWidth = 2 * kSources;
  const float* mix = sources.mix;
  const int16_t* stem[3] = {sources.stems[0], sources.stems[1], sources.stems[2]};
  for (int32_t j = 0; j < n; ++j) {
    const int64_t whole = static_cast<int64_t>(pos);
    const float t = static_cast<float>(pos - static_cast<double>(whole));
    // The Catmull-Rom weights of the four taps, times the window: one set for every source.
    const float w = window[j];
    const float t2 = t * t, t3 = t2 * t;
    const float c[4] = {(-0.5f * t3 + t2 - 0.5f * t) * w, (1.5f * t3 - 2.5f * t2 + 1.0f) * w,
                        (-1.5f * t3 + 2.0f * t2 + 0.5f * t) * w, (0.5f * t3 - 0.5f * t2) * w};
    const size_t at = static_cast<size_t>(whole - 1) * 2;
    float* o = out + static_cast<size_t>(j) * kWidth;
    for (int32_t ch = 0; ch < 2; ++ch) {
      const float* m = mix + at + ch;
      o[ch] += c[0] * m[0] + c[1] * m[2] + c[2] * m[4] + c[3] * m[6];
    }
    if constexpr (kSources == 4) {
      const float cs[4] = {c[0] * kStemSampleScale, c[1] * kStemSampleScale, c[2] * kStemSampleScale,
                           c[3] * kStemSampleScale};
      for (int32_t s = 0; s < 3; ++s) {
        const int16_t* p = stem[s] + at;
        for (int32_t ch = 0; ch < 2; ++ch)
          o[2 + 2 * s + ch] += cs[0] * p[ch] + cs[1] * p[ch + 2] + cs[2] * p[ch + 4] + cs[3] * p[ch + 6];
      }
    }
    pos += step;
  }
}

// One grain over n output frames, any positions: the bounded reader frame by frame.
void GrainRunEdge(const ReadSources& sources, double& pos, double step, const float* window, int32_t n, float* out) {
  const int32_t width = 2 * sources.count;
  float read[2 * kMaxReadSources];
  for (int32_t j = 0; j < n; ++j) {
    ReadSourcesCubic(sources, pos, read);
    for (int32_t i = 0; i < width; ++i) out[static_cast<size_t>(j) * width + i] += read[i] * window[j];
    pos += step;
  }
}

}  // namespace

void ReadSourcesCubic(const ReadSources& sources, double position, float* out) {
  const int32_t width = 2 * sources.count;
  std::fill(out, out + width, 0.0f);
  const int64_t frames = sources.frames;
  if (!(position >= 0.0) || position >= static_cast<double>(frames)) return;
  const int64_t whole = static_cast<int64_t>(position);
  const float t = static_cast<float>(position - static_cast<double>(whole));
  for (int32_t s = 0; s < sources.count; ++s) {
    for (int32_t c = 0; c < 2; ++c) {
      float p[4];
      for (int32_t k = 0; k < 4; ++k) {
        const int64_t at = whole - 1 + k;
        if (at < 0 || at >= frames) {
          p[k] = 0.0f;
        } else {
          const size_t i = static_cast<size_t>(at) * 2 + c;
          p[k] = s == 0 ? sources.mix[i] : sources.stems[s - 1][i] * kStemSampleScale;
        }
      }
      out[2 * s + c] = Cubic(p[0], p[1], p[2], p[3], t);
    }
  }
}

void StretchBlock(StretchState& stretch, const Track& track, const ReadSources& sources, double position,
                  double pitch, int32_t count, float* out) {
  const int32_t width = 2 * sources.count;
  std::fill(out, out + static_cast<size_t>(std::max(count, 0)) * width, 0.0f);
  if (count <= 0) return;
  if (stretch.grainCounter == 0) StartStretchGrain(stretch, track, position, pitch);
  stretch.grainCounter = (stretch.grainCounter + static_cast<uint32_t>(count)) % kGrainHopFrames;
  const float* window = StretchWindow();
  for (int32_t g = 0; g < 2; ++g) {
    const int32_t phase = stretch.grainPhase[g];
    if (phase >= kGrainFrames || phase < 0) continue;
    const int32_t n = std::min(count, kGrainFrames - phase);
    double& pos = stretch.grainPos[g];
    const double step = stretch.grainStep[g];
    // Every tap of the run inside the sources: the branch-free loop. Positions only rise, so the
    // first and last frames bound the run (one frame of margin covers rounding of the sum).
    const double end = pos + step * n + 1.0;
    const bool inside = step >= 0.0 && pos >= 1.0 && std::isfinite(end) &&
                        end + 2.0 < static_cast<double>(sources.frames);
    if (inside && sources.count == 4) GrainRunInside<4>(sources, pos, step, window + phase, n, out);
    else if (inside) GrainRunInside<1>(sources, pos, step, window + phase, n, out);
    else GrainRunEdge(sources, pos, step, window + phase, n, out);
    stretch.grainPhase[g] = phase + n;
  }
}
