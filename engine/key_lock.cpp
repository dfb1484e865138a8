#include "engine/key_lock.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
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
// Two lags' sums side by side (each lane adds exactly as a lone double would).
using Double2 = double __attribute__((vector_size(16)));

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

// Attacks: the energy of a block of kAttackBlock mono samples rising kAttackRise times over the
// louder of the two blocks before it, above a floor (-60 dBFS).
constexpr int32_t kAttackBlock = 64;
constexpr double kAttackRise = 4.0;  // 6 dB
constexpr double kAttackFloor = 1e-6 * kAttackBlock;
constexpr int32_t kAttackHistory = 10;  // 13 ms
constexpr int32_t kAttackScanFrames = 4096;
constexpr int32_t kCutFadeFrames = 64;
constexpr double kSameAttackFrames = 32.0;  // copies this close sound as one

double BlockEnergy(const Track& track, double from) {
  const double first = std::floor(from);
  double energy = 0.0;
  if (first >= 0.0 && first + kAttackBlock <= static_cast<double>(track.frames)) {
    const float* s = track.samples.data() + 2 * static_cast<size_t>(first);
    for (int32_t k = 0; k < kAttackBlock; ++k) {
      const float v = s[2 * k] + s[2 * k + 1];
      energy += v * v;
    }
    return energy;
  }
  for (int32_t k = 0; k < kAttackBlock; ++k) {
    const double v = MonoAt(track, from + k);
    energy += v * v;
  }
  return energy;
}

// The start of the first block in [from, to) where an attack begins; -1 when none does. The
// blocks before it span longer than half a cycle of a bass note, so its own swell is no attack.
double FirstAttack(const Track& track, double from, double to) {
  to = std::min(to, from + kAttackScanFrames);
  double before[kAttackHistory];
  for (int32_t k = 0; k < kAttackHistory; ++k) before[k] = BlockEnergy(track, from - (k + 1) * kAttackBlock);
  int32_t oldest = kAttackHistory - 1;
  for (double at = from; at < to; at += kAttackBlock) {
    const double energy = BlockEnergy(track, at);
    // The block just before is left out: an attack split across it and this one still counts.
    const int32_t last = (oldest + 1) % kAttackHistory;
    double louder = 0.0;
    for (int32_t k = 0; k < kAttackHistory; ++k) louder = k == last ? louder : std::max(louder, before[k]);
    if (energy > kAttackFloor && energy > kAttackRise * louder) return at;
    before[oldest] = energy;
    oldest = (oldest + kAttackHistory - 1) % kAttackHistory;
  }
  return -1.0;
}

// The newer grain g (from start at pitch) stays silent over an attack the older grain plays, until
// the older grain has sounded it (or is near its end).
void HoldNewPast(StretchState& stretch, int32_t g, double start, double pitch, double attack) {
  const int32_t oldLeft = kGrainFrames - stretch.grainPhase[1 - g];
  const double after = (attack - start) / pitch + 2.0 * kAttackBlock / pitch;
  stretch.cutGrain = g;
  stretch.cutFadesIn = true;
  stretch.cutPhase = std::clamp(static_cast<int32_t>(after), 0, std::max(0, oldLeft - kCutFadeFrames));
}

// Where both sounding grains would play the same attack at different times, one grain gives it
// up. The newer grain (from start at pitch) stays silent over an attack the older grain (other)
// has already played, until the older grain has sounded to its end; otherwise the older grain
// fades out just before the earlier copy of an attack both are still to play, and the newer grain
// plays it alone.
void CutBeforeSharedAttack(StretchState& stretch, const Track& track, int32_t other, double start, double pitch) {
  stretch.cutGrain = -1;
  const double oldPos = stretch.grainPos[other], oldStep = stretch.grainStep[other];
  const int32_t oldPhase = stretch.grainPhase[other], oldLeft = kGrainFrames - oldPhase;
  if (!(oldStep > 0.0) || !(pitch > 0.0)) return;
  const double newEnd = start + pitch * kGrainFrames;
  const double played = FirstAttack(track, std::max(start, oldPos - oldStep * oldPhase), std::min(oldPos, newEnd));
  const auto holdNewPast = [&](double attack) { HoldNewPast(stretch, 1 - other, start, pitch, attack); };
  if (played >= 0.0) return holdNewPast(played);
  const double from = std::max(oldPos, start);
  const double to = std::min(oldPos + oldStep * oldLeft, newEnd);
  if (!(from < to)) return;
  const double attack = FirstAttack(track, from, to);
  if (attack < 0.0) return;
  const double inOld = (attack - oldPos) / oldStep, inNew = (attack - start) / pitch;
  if (std::fabs(inOld - inNew) < kSameAttackFrames) return;
  // The older grain already at its copy, too late to fade out before it, keeps the attack.
  if (inOld < kCutFadeFrames) return holdNewPast(attack);
  stretch.cutGrain = other;
  stretch.cutFadesIn = false;
  stretch.cutPhase = oldPhase + std::max(0, static_cast<int32_t>(std::min(inOld, inNew)) - kCutFadeFrames);
}

// An attack the deck plays within this many output frames (and not within the cut fade, which the
// grain sounding now keeps) is played by the new grain at exactly the deck's time. Past the hop
// the next grain can still take it, or hold silent while this one plays it out.
constexpr int32_t kAttackLookFrames = kGrainHopFrames + 768;

enum class AttackPlan { kNone, kNewPlays, kOldKeeps };

// Starts the new grain so it plays the deck's next attack when the deck does, and fades the
// older grain out before its own copy; the new grain takes the older one's share. When the older
// grain is already at its copy, too late to fade out, it keeps the attack instead.

AttackPlan AlignToAttack(StretchState& stretch, const Track& track, int32_t other, double position, double pitch,
                         double speed, double& start, double& attack) {
  if (!(speed > 0.0) || !(pitch > 0.0)) return AttackPlan::kNone;
  attack = FirstAttack(track, position + speed * kCutFadeFrames, position + speed * kAttackLookFrames);
  if (attack < 0.0) return AttackPlan::kNone;
  const double oldPos = stretch.grainPos[other], oldStep = stretch.grainStep[other];
  const int32_t oldPhase = stretch.grainPhase[other], oldLeft = kGrainFrames - oldPhase;
  const double inOld = oldStep > 0.0 ? (attack - oldPos) / oldStep : 1e30;
  if (inOld < kCutFadeFrames) return AttackPlan::kOldKeeps;
  const double inDeck = (attack - position) / speed;
  start = attack - pitch * inDeck;
  stretch.cutGrain = -1;
  if (inOld < oldLeft) {
    stretch.cutGrain = other;
    stretch.cutFadesIn = false;
    stretch.cutPhase = oldPhase + std::max(0, static_cast<int32_t>(std::min(inOld, inDeck)) - kCutFadeFrames);
  }
  return AttackPlan::kNewPlays;
}

}  // namespace

void ResetStretch(StretchState& stretch) {
  stretch.grainPhase[0] = kGrainFrames;
  stretch.grainPhase[1] = kGrainFrames;
  stretch.grainCounter = 0;
  stretch.cutGrain = -1;
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

// Whether a lag scoring value beats the best so far: a tie goes to the lag nearer 0, so silence
// (every score 0) keeps the grain where the deck is rather than 400 frames early, which would
// make every onset after it late.
bool BetterLag(double value, int32_t lag, double bestScore, int32_t bestLag) {
  return value > bestScore || (value == bestScore && std::abs(lag) < std::abs(bestLag));
}

// The search over every lag given a scorer; the lag nearest 0 wins ties, the fine pass keeps the
// coarse score.
template <typename Scorer>
int32_t BestLag(Scorer&& score) {
  int32_t bestLag = 0;
  double bestScore = kScoreFloor;
  for (int32_t lag = -kOverlapSearchFrames; lag <= kOverlapSearchFrames; lag += kCoarseLagStep) {
    const double value = score(lag);
    if (BetterLag(value, lag, bestScore, bestLag)) {
      bestScore = value;
      bestLag = lag;
    }
  }
  const int32_t coarseLag = bestLag;
  for (int32_t lag = coarseLag - kFineLagReach; lag <= coarseLag + kFineLagReach; ++lag) {
    if (lag == coarseLag) continue;  // already scored
    const double value = score(lag);
    if (BetterLag(value, lag, bestScore, bestLag)) {
      bestScore = value;
      bestLag = lag;
    }
  }
  return bestLag;
}

}  // namespace

double FindBestOverlap(const Track& track, double target, double reference, double step) {
  if (std::fabs(reference - target) < kSameStartFrames) return reference;
  // Lags are whole frames, so both sides are compared on whole frames and the start keeps the
  // reference's fraction: the best lag then continues the grain to the sample. Compared off that
  // grid, a start could land up to a frame off the reference's phase, and a steady tone came out
  // with a phase jump at every grain.
  const double within = reference - std::floor(reference);
  const double shift = std::isfinite(within) ? within : 0.0;
  if (std::isfinite(target)) target = std::floor(target);
  OverlapContext context;
  context.track = &track;
  context.target = target;
  context.step = step;
  for (int32_t k = 0; k < kOverlapWindow; ++k) context.reference[k] = MonoAt(track, reference - shift + k * step);

  // Candidate k of lag L lies at floor(target + k x step) + L: read the span every lag can touch
  // once, then each score is two sums over that strip.
  const double first = std::floor(target);
  const double last = std::floor(target + (kOverlapWindow - 1) * step);
  const int32_t reach = kOverlapSearchFrames + kFineLagReach;
  if (!(step >= 0.0) || !std::isfinite(last) || std::fabs(first) > 1e15 ||
      last - first + 2.0 * reach + 1.0 > kSearchStrip - 64) {
    return target + shift + BestLag([&](int32_t lag) { return OverlapScore(context, lag); });
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
  // Coarse lags, eight at a time: sample k of lag -400 + 4j sits at strip[offset[k] - 400 + 4j],
  // so four strips of every fourth sample make each k one contiguous load for eight lags, whose
  // sums stay in registers. Each lag still adds its k in order: the scores equal OverlapScore's.
  constexpr int32_t kCoarseLags = 2 * kOverlapSearchFrames / kCoarseLagStep + 1;
  constexpr int32_t kLagBlock = 8;
  constexpr int32_t kBlockedLags = (kCoarseLags + kLagBlock - 1) / kLagBlock * kLagBlock;
  constexpr int32_t kPhaseLength = kSearchStrip / kCoarseLagStep + kLagBlock;
  float phases[kCoarseLagStep][kPhaseLength];
  const int32_t padded = span + kCoarseLagStep * kLagBlock;  // the last block's spare lags read zeros
  for (int32_t i = 0; i < padded; ++i) phases[i % kCoarseLagStep][i / kCoarseLagStep] = i < span ? strip[i] : 0.0f;
  const float* runs[kOverlapWindow];
  for (int32_t k = 0; k < kOverlapWindow; ++k) {
    const int32_t at = offset[k] - kOverlapSearchFrames;
    runs[k] = phases[at % kCoarseLagStep] + at / kCoarseLagStep;
  }
  double product[kBlockedLags], energy[kBlockedLags];
  for (int32_t first = 0; first < kBlockedLags; first += kLagBlock) {
    Double2 p[kLagBlock / 2] = {}, e[kLagBlock / 2] = {};
    for (int32_t k = 0; k < kOverlapWindow; ++k) {
      const float* run = runs[k] + first;
      const double reference = context.reference[k];
      const Double2 r = {reference, reference};
      for (int32_t l = 0; l < kLagBlock / 2; ++l) {
        const Double2 candidate = {run[2 * l], run[2 * l + 1]};
        p[l] += r * candidate;
        e[l] += candidate * candidate;
      }
    }
    for (int32_t l = 0; l < kLagBlock / 2; ++l) {
      for (int32_t half = 0; half < 2; ++half) {
        product[first + 2 * l + half] = p[l][half];
        energy[first + 2 * l + half] = e[l][half];
      }
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
  return target + shift + BestLag(score);
}

void StartStretchGrain(StretchState& stretch, const Track& track, double position, double pitch, double speed) {
  // Bad numbers from upstream must not turn into wild sample indices.
  if (!std::isfinite(position)) position = 0.0;
  if (!std::isfinite(pitch)) pitch = 1.0;
  if (!std::isfinite(speed)) speed = pitch;
  const int32_t g = stretch.activeGrain & 1;
  const int32_t other = 1 - g;
  stretch.activeGrain = other;
  double start = position;
  const bool overlapping = stretch.grainPhase[other] < kGrainFrames;
  AttackPlan plan = AttackPlan::kNone;
  double attack = 0.0;
  if (overlapping) {
    plan = AlignToAttack(stretch, track, other, position, pitch, speed, start, attack);
    // Otherwise where the grain's middle, its loudest, plays what the deck plays then: started at
    // the deck position, a grain would sound up to a hop behind a faster deck (ahead of a slower one).
    if (plan != AttackPlan::kNewPlays) {
      const double meet = position + (speed - pitch) * (kGrainFrames / 2);
      start = FindBestOverlap(track, meet, stretch.grainPos[other], stretch.grainStep[other]);
    }
  }
  // At a whole step the grain reads whole frames as they are, not through the interpolation.
  if (pitch == std::round(pitch)) start = std::round(start);
  if (plan == AttackPlan::kOldKeeps) HoldNewPast(stretch, g, start, pitch, attack);
  else if (overlapping && plan == AttackPlan::kNone) CutBeforeSharedAttack(stretch, track, other, start, pitch);
  else if (!overlapping) stretch.cutGrain = -1;
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

// Inlined into the run below as well as called alone.
void ReadSourcesCubic(const ReadSources& sources, double position, float* out) {
  const int32_t width = 2 * sources.count;
  const int64_t frames = sources.frames;
  if (!(position >= 0.0) || position >= static_cast<double>(frames)) {
    std::fill(out, out + width, 0.0f);
    return;
  }
  const int64_t whole = static_cast<int64_t>(position);
  const float t = static_cast<float>(position - static_cast<double>(whole));
  const bool inside = whole >= 1 && whole + 2 < frames;
  for (int32_t s = 0; s < sources.count; ++s) {
    for (int32_t c = 0; c < 2; ++c) {
      float p[4];
      if (inside && s == 0) {
        const float* m = sources.mix + static_cast<size_t>(whole - 1) * 2 + c;
        p[0] = m[0], p[1] = m[2], p[2] = m[4], p[3] = m[6];
      } else {
        for (int32_t k = 0; k < 4; ++k) {
          const int64_t at = whole - 1 + k;
          if (at < 0 || at >= frames) {
            p[k] = 0.0f;
          } else {
            const size_t i = static_cast<size_t>(at) * 2 + c;
            p[k] = s == 0 ? sources.mix[i] : sources.stems[s - 1][i] * kStemSampleScale;
          }
        }
      }
      out[2 * s + c] = Cubic(p[0], p[1], p[2], p[3], t);
    }
  }
}

void ReadSourcesCubicRun(const ReadSources& sources, const double* positions, int32_t n, float* out) {
  const int32_t width = 2 * sources.count;
  for (int32_t j = 0; j < n; ++j) ReadSourcesCubic(sources, positions[j], out + static_cast<size_t>(j) * width);
}

void StretchBlock(StretchState& stretch, const Track& track, const ReadSources& sources, double position,
                  double pitch, double speed, int32_t count, float* out) {
  const int32_t width = 2 * sources.count;
  std::fill(out, out + static_cast<size_t>(std::max(count, 0)) * width, 0.0f);
  if (count <= 0) return;
  if (stretch.grainCounter == 0) StartStretchGrain(stretch, track, position, pitch, speed);
  stretch.grainCounter = (stretch.grainCounter + static_cast<uint32_t>(count)) % kGrainHopFrames;
  const float* window = StretchWindow();
  // A cut: one grain's window fades out (or in) and the other grain's takes what it gives up.
  float cutWindows[2][kGrainHopFrames];
  const int32_t cut = stretch.cutGrain;
  const bool cutting = cut >= 0 && cut < 2 && stretch.grainPhase[cut] >= 0 && stretch.grainPhase[cut] < kGrainFrames &&
                       count <= static_cast<int32_t>(kGrainHopFrames);
  if (cutting) {
    const int32_t cutFrom = stretch.grainPhase[cut], otherFrom = stretch.grainPhase[1 - cut];
    for (int32_t j = 0; j < count; ++j) {
      const int32_t p = cutFrom + j;
      const float full = p < kGrainFrames ? window[p] : 0.0f;
      const float ramp = std::clamp(static_cast<float>(p - stretch.cutPhase) / kCutFadeFrames, 0.0f, 1.0f);
      const float gate = stretch.cutFadesIn ? ramp : 1.0f - ramp;
      cutWindows[cut][j] = full * gate;
      const int32_t q = otherFrom + j;
      cutWindows[1 - cut][j] = (q >= 0 && q < kGrainFrames ? window[q] : 0.0f) + full - full * gate;
    }
  }
  for (int32_t g = 0; g < 2; ++g) {
    const int32_t phase = stretch.grainPhase[g];
    if (phase >= kGrainFrames || phase < 0) continue;
    const int32_t n = std::min(count, kGrainFrames - phase);
    double& pos = stretch.grainPos[g];
    const double step = stretch.grainStep[g];
    const float* weights = cutting ? cutWindows[g] : window + phase;
    // Every tap of the run inside the sources: the branch-free loop. Positions only rise, so the
    // first and last frames bound the run (one frame of margin covers rounding of the sum).
    const double end = pos + step * n + 1.0;
    const bool inside = step >= 0.0 && pos >= 1.0 && std::isfinite(end) &&
                        end + 2.0 < static_cast<double>(sources.frames);
    if (inside && sources.count == 4) GrainRunInside<4>(sources, pos, step, weights, n, out);
    else if (inside) GrainRunInside<1>(sources, pos, step, weights, n, out);
    else GrainRunEdge(sources, pos, step, weights, n, out);
    stretch.grainPhase[g] = phase + n;
  }
}
