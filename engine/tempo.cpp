#include "engine/tempo.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <optional>

#include "engine/analysis.h"
#include "engine/tempo_harmony.h"

namespace {

// --- Onsets ---
constexpr double kTargetFramesPerSecond = 172.0;  // about 5.8 ms a frame
constexpr double kMinWindowSeconds = 0.04;   // the FFT is the next power of two at least this long
// Band edges in Hz: kick, body, snare, high (to Nyquist).
constexpr double kBandEdgesHz[OnsetBands::kBands] = {30.0, 150.0, 500.0, 2500.0};
constexpr float kLogGain = 100.0f;           // log(1 + gain x magnitude), magnitude 1 = full scale
constexpr double kLocalMeanSeconds = 0.15;   // adaptive threshold: centred moving mean
constexpr double kMinBandMean = 1e-9;
// The summed log-spectral rise of a heard onset: a click 60 dB down rises about 0.1, the dither
// and rounding noise of 16-bit samples under a held tone about a thousandth.
constexpr double kHeardRise = 0.05;

// --- Tempo ---
constexpr double kMinSeconds = 4.0;
constexpr double kFoldLowBpm = 78.0;
constexpr double kFoldHighBpm = 180.0;
constexpr size_t kStrengthSteps = 840;  // 0.1 % steps from kFoldLowBpm to kFoldHighBpm
// The periodicity looks as far as a bar of four beats at the slowest tempo, so a slow candidate
// is scored on its bar as a fast one is.
constexpr double kLowestPeriodBpm = kFoldLowBpm / 4.0;
constexpr double kCandidateRatios[] = {0.5, 2.0 / 3.0, 0.75, 1.0, 4.0 / 3.0, 1.5, 2.0};
constexpr double kNearTie = 0.97;            // within 3 % of the best, the prior decides
constexpr double kPriorCentreBpm = 120.0;
constexpr double kPeakSearch = 0.02;         // a candidate finds its periodicity peak within 2 %
// Octave choice: a snare is clear when its best two-beat phase stands this far over the mean;
// kicks half-way as strong as on the beat, or a snare on every beat, mark half the real tempo.
constexpr double kClearSnare = 2.0;
constexpr double kKickOffBeat = 0.7;
constexpr double kSnareEveryBeat = 0.6;   // of the backbeat over the half-way level
constexpr double kEvenPulse = 0.75;
constexpr double kHalfBeatFilled = 0.25;  // of the beat's onsets, half-way between beats
constexpr double kFineSpan = 0.015;          // comb refinement within 1.5 %
constexpr double kCoarseStepBpm = 0.05;
constexpr double kFitSpan = 0.003;          // the line fit may move the comb's tempo this far
constexpr double kFineStepBpm = 0.01;
constexpr double kSnapBpm = 0.05;
constexpr double kSnapSlackBpm = 1e-9;
// Flux peaks come before the sound's centre reaches the middle of the window.
constexpr double kOnsetLatencyS = 0.0115;

// --- Beat phase ---
// The beat is one of four sixteenths from the strongest onset phase. Hats name the eighths when
// their onsets on one pair of sixteenths half a beat apart stand this many times over the other
// pair's; else the kick's power and all onsets vote as they do between the two eighths below (a
// bright bass on three sixteenths of each beat has more onsets, in every band, than the kick's
// pair, but far less power).
constexpr double kClearEighths = 2.0;
// Of the two eighths, the beat is where the cues below say, each as its contrast between the two
// (-1..1) times its weight: the low power's rise (a kick outweighs a bass note and stands on the
// beat in most music), the high band's power alternating from beat to beat (a snare or clap on
// two and four), the same in the snare and high bands' onsets, and all onsets together (clicks
// over a held tone have no other cue, and the tone's low power can rise more off the beat).
// Over 1.5 the onsets outvote the kick where off-beat hats sound as often as it.
constexpr double kKickWeight = 3.0;
constexpr double kBackbeatPowerWeight = 1.0;
constexpr double kBackbeatOnsetWeight = 0.5;
constexpr double kOnsetWeight = 1.1;
// The chroma's change on the beat against half-way votes once it stands this far from even; a
// kick-led groove's vote stands well over what this weight can turn.
constexpr double kClearHarmony = 0.1;
constexpr double kHarmonyWeight = 3.5;
// The kick's rises count in full once they sum, per beat, to this many times the low band's mean
// power: a bass line or a pianist's left hand under sustained notes rises far less than that.
constexpr double kSteadyLowShare = 4.0;
// A power frame holds what sounds within half its window of its centre: an attack within this of
// a candidate raises the frames centred up to half a window (plus this) either side of it.
constexpr double kCandidateSlackS = 0.005;
// The attack is placed on each beat's own attack within these of the chosen phase, on the mix's
// magnitude held at its peaks (a low note's zero crossings are no dips): the earliest step up
// nearly as large as the beat's largest (a short stretch after a point over a longer one
// before), then where the rise starts over the level that sounded before the step.
constexpr double kAttackBeforeS = 0.025;
constexpr double kAttackAfterS = 0.02;
constexpr double kHoldS = 0.005;
constexpr double kStepAfterS = 0.0015;
constexpr double kStepBeforeS = 0.004;
constexpr double kEarliestStep = 0.5;  // of the beat's largest step
constexpr double kQuietBeforeS = 0.012;  // the level before a step: from this far before it
constexpr double kOnsetShare = 0.2;     // of the step above that level
// The beats place the phase by their median weighted by the square of their step (the kick's
// beats decide; a rest or a fill elsewhere barely counts), which a drummer's spread leaves on the
// grid. Fewer than this many beats, or a middle half of the weight wider than this, place nothing.
constexpr size_t kMinAttacks = 4;
constexpr double kMaxSpreadS = 0.006;
constexpr double kStartSlackS = 0.0005;
constexpr double kAttackFitBpm = 0.02;  // the most the attacks' drift may move the comb's tempo
// The last kick's low tail, still ringing, can meet the new kick's first half cycle in antiphase:
// the magnitude dips there and rises only with the next one, some milliseconds late. The
// waveform's slope still jumps where the kick starts, so within this before the rise found, the
// first slope over kSlopeJump times the steepest of the kSlopeReferenceS before is the start.
constexpr double kHiddenRiseS = 0.004;
// Longer than a low E's period, so a sawtooth bass's reset there does not pass for a jump.
constexpr double kSlopeReferenceS = 0.025;
constexpr double kSlopeJump = 1.75;

double PeriodOf(double bpm, double fps) { return 60.0 * fps / bpm; }

double Fold(double bpm) {
  while (bpm < kFoldLowBpm) bpm *= 2.0;
  while (bpm >= kFoldHighBpm) bpm /= 2.0;
  return bpm;
}

// Normalised autocorrelation of the mean-removed envelope, lags 0..maxLag.
std::vector<double> Autocorrelation(const std::vector<float>& onset, size_t maxLag) {
  const size_t n = onset.size();
  double mean = 0.0;
  for (float v : onset) mean += v;
  mean /= static_cast<double>(std::max<size_t>(n, 1));
  std::vector<double> x(n);
  for (size_t i = 0; i < n; ++i) x[i] = onset[i] - mean;
  std::vector<double> ac(maxLag + 1, 0.0);
  for (size_t lag = 0; lag <= maxLag && lag < n; ++lag) {
    // Four running sums in a fixed order: the adds overlap instead of waiting on each other.
    double sums[4] = {};
    size_t i = 0;
    for (; i + 4 + lag <= n; i += 4)
      for (size_t j = 0; j < 4; ++j) sums[j] += x[i + j] * x[i + j + lag];
    for (; i + lag < n; ++i) sums[0] += x[i] * x[i + lag];
    ac[lag] = ((sums[0] + sums[1]) + (sums[2] + sums[3])) / static_cast<double>(n - lag);
  }
  if (!(ac[0] > 0.0)) return {};
  for (size_t lag = maxLag + 1; lag-- > 0;) ac[lag] /= ac[0];
  return ac;
}

double At(const std::vector<double>& ac, double lag) {
  if (lag < 0.0) return 0.0;
  const size_t i = static_cast<size_t>(lag);
  if (i + 1 >= ac.size()) return 0.0;
  const double f = lag - static_cast<double>(i);
  return ac[i] + (ac[i + 1] - ac[i]) * f;
}

// Periodicity of a beat period: the beat itself and its neighbours in the metrical tree. The bar
// of four beats weighs as much as the beat: a bar repeats whole, so it is what tells a tempo from
// its 2:3 or 3:4 relative when dotted or triplet figures repeat at the relative's period.
double Strength(const std::vector<double>& ac, double period) {
  return At(ac, period) + 0.5 * (At(ac, 2 * period) + At(ac, period / 2)) + At(ac, 4 * period) +
         0.25 * At(ac, period / 4);
}

double Prior(double bpm) {
  const double octaves = std::log2(bpm / kPriorCentreBpm);
  return std::exp(-0.5 * octaves * octaves);
}

// The frames that have an onset and their values: a fold skips the rest, and a search over many
// periods compacts the envelope once.
struct Sparse {
  std::vector<double> frame;
  std::vector<float> value;
};

Sparse NonZero(const std::vector<float>& onset) {
  Sparse sparse;
  for (size_t i = 0; i < onset.size(); ++i) {
    if (onset[i] == 0.0f) continue;
    sparse.frame.push_back(static_cast<double>(i));
    sparse.value.push_back(onset[i]);
  }
  return sparse;
}

// The envelope folded onto one beat: bin p sums the onsets at phase p (linear between bins).
std::vector<double> FoldOnBeat(const Sparse& onset, double period) {
  const size_t bins = static_cast<size_t>(std::ceil(period));
  std::vector<double> fold(bins + 1, 0.0);
  // i mod period as i - floor(i / period) period (std::fmod was most of the tempo step); the
  // fold is continuous in the phase, so its last bits do not matter. The frames rise, so the
  // beat number is divided out only where a beat starts: frames below `beat_end` share it.
  double beat = 0.0, beat_end = -1.0;
  for (size_t j = 0; j < onset.frame.size(); ++j) {
    const double t = onset.frame[j];
    if (!(t < beat_end)) {
      beat = std::floor(t / period);
      beat_end = std::ceil((beat + 1.0) * period);
      while (beat_end > t && std::floor((beat_end - 1.0) / period) > beat) beat_end -= 1.0;
      while (std::floor(beat_end / period) <= beat) beat_end += 1.0;
    }
    double at = t - beat * period;
    if (at < 0.0) at += period;
    if (at >= period) at -= period;
    const size_t b = static_cast<size_t>(at);
    const double f = at - static_cast<double>(b);
    fold[b] += onset.value[j] * (1.0 - f);
    fold[b + 1] += onset.value[j] * f;
  }
  // The bin past the last phase is phase 0 of the next beat, to within a frame.
  fold[0] += fold[bins];
  fold.resize(bins);
  return fold;
}

std::vector<double> FoldOnBeat(const std::vector<float>& onset, double period) {
  return FoldOnBeat(NonZero(onset), period);
}

struct Phase {
  double score = -1.0;
  double phase = 0.0;  // frames
};

// The best phase of a beat period from its fold: the fold smoothed over three bins.
Phase BestPhase(const std::vector<double>& fold, double period) {
  const size_t bins = fold.size();
  Phase best;
  for (size_t b = 0; b < bins; ++b) {
    const double s = 0.5 * fold[(b + bins - 1) % bins] + fold[b] + 0.5 * fold[(b + 1) % bins];
    if (s > best.score) best.score = s, best.phase = static_cast<double>(b);
  }
  // Parabolic refinement of the phase between bins.
  if (bins >= 3) {
    const size_t b = static_cast<size_t>(best.phase);
    const double y0 = fold[(b + bins - 1) % bins], y1 = fold[b], y2 = fold[(b + 1) % bins];
    const double d = y0 - 2 * y1 + y2;
    if (d < -1e-12) best.phase += std::clamp(0.5 * (y0 - y2) / d, -0.5, 0.5);
    if (best.phase < 0) best.phase += period;
  }
  return best;
}

// Tempo within kFineSpan of `bpm` whose comb is best: 0.05 BPM steps, then 0.01 around the best.
// A short or clean track ties over a range of tempos: each stage takes the middle of the first
// best run.
double RefineTempo(const std::vector<float>& onset, double bpm, double fps) {
  // The fold's energy: largest when every onset lands in the same few phases.
  const Sparse sparse = NonZero(onset);
  auto score = [&](double b) {
    double sum = 0.0;
    for (double v : FoldOnBeat(sparse, PeriodOf(b, fps))) sum += v * v;
    return sum;
  };
  auto best_of = [&](double from, double step, int steps) {
    double best = -1.0;
    int run_first = 0, run_last = -1;
    for (int s = 0; s <= steps; ++s) {
      const double v = score(from + s * step);
      if (v > best) best = v, run_first = run_last = s;
      else if (v == best && run_last == s - 1) run_last = s;
    }
    return from + (run_first + run_last) / 2 * step;
  };
  const double from = bpm * (1 - kFineSpan);
  const double coarse = best_of(from, kCoarseStepBpm, static_cast<int>(2 * kFineSpan * bpm / kCoarseStepBpm));
  return best_of(coarse - 5 * kFineStepBpm, kFineStepBpm, 10);
}

// The tempo a weighted line fit through the beats' onset peaks gives (each peak placed between
// frames by a parabola), so frame steps do not limit it; `bpm` when the fit strays beyond
// kFitSpan of it.
double FitTempo(const std::vector<float>& onset, double bpm, double fps) {
  const double period = PeriodOf(bpm, fps);
  const double phase = BestPhase(FoldOnBeat(onset, period), period).phase;
  const long n = static_cast<long>(onset.size());
  const long reach = std::max(1L, static_cast<long>(period / 8));
  double sw = 0, sk = 0, st = 0, skk = 0, skt = 0;
  for (long k = 0;; ++k) {
    const long centre = std::lround(phase + static_cast<double>(k) * period);
    if (centre + reach + 1 >= n) break;
    long m = -1;
    for (long j = std::max(1L, centre - reach); j <= centre + reach; ++j)
      if (m < 0 || onset[j] > onset[m]) m = j;
    const double w = onset[m];
    if (!(w > 0.0)) continue;
    const double y0 = onset[m - 1], y1 = onset[m], y2 = onset[m + 1], d = y0 - 2 * y1 + y2;
    const double t = static_cast<double>(m) + (d < -1e-12 ? std::clamp(0.5 * (y0 - y2) / d, -0.5, 0.5) : 0.0);
    const double kk = static_cast<double>(k);
    sw += w, sk += w * kk, st += w * t, skk += w * kk * kk, skt += w * kk * t;
  }
  const double denominator = sw * skk - sk * sk;
  if (!(denominator > 0.0)) return bpm;
  const double slope = (sw * skt - sk * st) / denominator;
  if (!(slope > 0.0)) return bpm;
  const double fitted = 60.0 * fps / slope;
  return std::fabs(fitted - bpm) <= kFitSpan * bpm ? fitted : bpm;
}

// Largest bin of a fold within `reach` bins of a phase (wrapping).
double Around(const std::vector<double>& fold, double at, int reach) {
  const long bins = static_cast<long>(fold.size());
  double m = 0.0;
  for (int k = -reach; k <= reach; ++k) {
    const long b = ((std::lround(at) + k) % bins + bins) % bins;
    m = std::max(m, fold[static_cast<size_t>(b)]);
  }
  return m;
}

// Whether `bpm` is half the real beat: a backbeat (snare or clap) on every beat tells it, or,
// without a backbeat, kicks as strong half-way between the beats as on them.
bool IsHalfTempo(const OnsetBands& onsets, double bpm) {
  const double fps = onsets.framesPerSecond, period = PeriodOf(bpm, fps);
  const int reach = std::max(1, static_cast<int>(period / 16));
  // Nothing half-way between the beats (a metronome): the beats are the clicks themselves.
  const std::vector<double> every = FoldOnBeat(onsets.all, period);
  const Phase strongest = BestPhase(every, period);
  if (!(Around(every, strongest.phase + period / 2, reach) > kHalfBeatFilled * Around(every, strongest.phase, reach)))
    return false;
  // An even pulse on every half beat of the snare band (clicks) is twice this tempo.
  {
    const std::vector<float>& band = onsets.band[OnsetBands::kSnare];
    const std::vector<double> fold = FoldOnBeat(band, 2 * period);
    const double phase = BestPhase(fold, 2 * period).phase, at = Around(fold, phase, reach);
    bool even = at > 0.0;
    for (double k : {0.5, 1.0, 1.5}) even = even && Around(fold, phase + k * period, reach) >= kEvenPulse * at;
    if (even) return true;
  }
  // The snare's (or clap's) noise above the kicks, whose drive and click reach its band too. A
  // backbeat repeats every other beat; at half the real tempo it lands on every beat, with little
  // half-way between.
  const std::vector<float>& high = onsets.band[OnsetBands::kHigh];
  std::vector<float> snare(high.size());
  for (size_t i = 0; i < high.size(); ++i) snare[i] = std::max(high[i] - onsets.band[OnsetBands::kKick][i], 0.0f);
  const std::vector<double> two_beats = FoldOnBeat(snare, 2 * period);
  const Phase backbeat = BestPhase(two_beats, 2 * period);
  double mean = 0.0;
  for (double v : two_beats) mean += v;
  mean /= static_cast<double>(std::max<size_t>(two_beats.size(), 1));
  const double at = Around(two_beats, backbeat.phase, reach);
  if (at > kClearSnare * mean) {
    const double floor = std::max(Around(two_beats, backbeat.phase + period / 2, reach),
                                  Around(two_beats, backbeat.phase + 1.5 * period, reach));
    const double next = Around(two_beats, backbeat.phase + period, reach);
    return next - floor >= kSnareEveryBeat * (at - floor);
  }
  // No backbeat: kicks as strong half-way as on the beat (syncopated kicks under a backbeat are
  // not a faster pulse).
  const std::vector<double> kick = FoldOnBeat(onsets.band[OnsetBands::kKick], period);
  const Phase on = BestPhase(kick, period);
  const double on_level = Around(kick, on.phase, reach);
  return on_level > 0.0 && Around(kick, on.phase + period / 2, reach) > kKickOffBeat * on_level;
}

// The power of magnitudes [from, to).
float BinPower(const float* magnitude, size_t from, size_t to) {
  double power = 0.0;
  for (size_t k = from; k < to; ++k) power += static_cast<double>(magnitude[k]) * magnitude[k];
  return static_cast<float>(power);
}

// Peaks of the raw summed rise above kHeardRise (a plateau counts once, at its first frame).
size_t CountHeardOnsets(const OnsetBands& onsets) {
  const size_t count = onsets.band[0].size();
  size_t heard = 0;
  double before = 0.0;
  for (size_t i = 0; i < count; ++i) {
    double rise = 0.0;
    for (const auto& band : onsets.band) rise += band[i];
    double after = 0.0;
    if (i + 1 < count)
      for (const auto& band : onsets.band) after += band[i + 1];
    if (rise > kHeardRise && rise > before && rise >= after) ++heard;
    before = rise;
  }
  return heard;
}

// Snaps a tempo within kSnapBpm of a whole BPM to it.
double SnapBpm(double bpm) {
  const double nearest = std::round(bpm);
  return std::fabs(bpm - nearest) <= kSnapBpm + kSnapSlackBpm ? nearest : bpm;
}

// The grid placed on the attacks themselves: on each beat of the coarse grid the start of its
// attack (see kAttackBeforeS); their drift over the track may fine-tune the tempo, then the
// median of their offsets from that grid is the first beat. None when too few beats agree.
struct AttackGrid {
  double bpm = 0.0;
  double firstBeat = 0.0;  // seconds, not yet folded into the first beat
};
// The first sample in [from, to) of the mix x whose slope (over two samples) is over kSlopeJump
// times the steepest in the kSlopeReferenceS before `from`; -1 for none.
long SlopeJump(const std::vector<float>& x, long from, long to, long reference) {
  if (from - reference - 2 < 0 || to > static_cast<long>(x.size())) return -1;
  auto slope = [&](long i) { return std::fabs(x[static_cast<size_t>(i)] - x[static_cast<size_t>(i - 2)]); };
  float steepest = 0.0f;
  for (long i = from - reference; i < from; ++i) steepest = std::max(steepest, slope(i));
  for (long i = from; i < to; ++i)
    if (slope(i) > static_cast<float>(kSlopeJump) * steepest) return i - 1;
  return -1;
}

std::optional<AttackGrid> PlaceAttack(const std::vector<float>& x, double mixRate, double bpm, double coarseSeconds) {
  // The magnitude: the larger of each pair of the mix's samples.
  const double rate = mixRate / 2.0;
  if (!(rate > 0.0) || x.size() < 2) return std::nullopt;
  auto m = [&](long p) {
    return std::max(std::fabs(x[static_cast<size_t>(2 * p)]), std::fabs(x[static_cast<size_t>(2 * p + 1)]));
  };
  const long pairs = static_cast<long>(x.size() / 2);
  const long hidden = std::lround(kHiddenRiseS * mixRate), reference = std::lround(kSlopeReferenceS * mixRate);
  const double beat = 60.0 / bpm;
  const long hold = std::lround(kHoldS * rate);
  const long after = std::max(1L, std::lround(kStepAfterS * rate)), before = std::max(1L, std::lround(kStepBeforeS * rate));
  const long quiet = std::lround(kQuietBeforeS * rate);
  const long reach_back = std::lround(kAttackBeforeS * rate) + quiet + after;
  const long reach_on = std::lround(kAttackAfterS * rate) + after;
  const long span = reach_back + reach_on + 1;
  std::vector<double> held(static_cast<size_t>(span)), prefix(static_cast<size_t>(span) + 1), up(static_cast<size_t>(span));
  struct Hit {
    double offset;  // seconds from the coarse grid's beat 0
    double step;
    double beat;    // its number on the coarse grid
  };
  std::vector<Hit> hits;
  for (long k = 0;; ++k) {
    const long centre = std::lround((coarseSeconds + static_cast<double>(k) * beat) * rate);
    if (centre + reach_on >= pairs) break;
    const long from = centre - reach_back;
    if (from - hold < 0) continue;
    for (long j = 0; j < span; ++j) {
      float peak = m(from + j);
      for (long q = 1; q <= hold; ++q) peak = std::max(peak, m(from + j - q));
      held[static_cast<size_t>(j)] = peak;
      prefix[static_cast<size_t>(j) + 1] = prefix[static_cast<size_t>(j)] + peak;
    }
    auto mean = [&](long a, long b) {  // [a, b)
      return (prefix[static_cast<size_t>(b)] - prefix[static_cast<size_t>(a)]) / static_cast<double>(b - a);
    };
    const long first_j = quiet + after, last_j = span - after;
    double largest = 0.0;
    for (long j = first_j; j < last_j; ++j) {
      up[static_cast<size_t>(j)] = mean(j, j + after) - mean(j - before, j);
      largest = std::max(largest, up[static_cast<size_t>(j)]);
    }
    if (!(largest > 0.0)) continue;
    // The earliest step at least half as large as the largest: a clap's later bursts or a kick
    // driven into its peak do not pass for its start.
    long step = first_j;
    while (up[static_cast<size_t>(step)] < kEarliestStep * largest) ++step;
    while (step + 1 < last_j && up[static_cast<size_t>(step + 1)] > up[static_cast<size_t>(step)]) ++step;
    // Where the rise starts: the change point of the magnitude over the level some milliseconds
    // before the step (plus a share of the step, so that what sounded before does not count),
    // the lowest point of its running excess.
    const double level = mean(step - quiet, step - quiet / 2);
    const double margin = kOnsetShare * (mean(step, step + after) - level);
    long onset = step;
    double excess = 0.0, lowest = 0.0;
    for (long j = step - quiet / 2; j < step + after; ++j) {
      excess += held[static_cast<size_t>(j)] - level - margin;
      if (excess < lowest) lowest = excess, onset = j + 1;
    }
    const long start = 2 * (from + onset), jump = SlopeJump(x, start - hidden, start, reference);
    const double at = static_cast<double>(jump >= 0 ? jump : start) / mixRate;
    hits.push_back({at - static_cast<double>(k) * beat, up[static_cast<size_t>(step)],
                    static_cast<double>(k)});
  }
  if (hits.size() < kMinAttacks) return std::nullopt;
  // The beats weigh by the square of their step: the kick's beats decide where it plays.
  auto quantile = [](std::vector<Hit>::iterator from, std::vector<Hit>::iterator to, double q, double Hit::*value) {
    std::sort(from, to, [&](const Hit& a, const Hit& b) { return a.*value < b.*value; });
    double total = 0.0, run = 0.0;
    for (auto h = from; h != to; ++h) total += h->step * h->step;
    for (auto h = from; h != to; ++h)
      if ((run += h->step * h->step) >= q * total) return (*h).*value;
    return (*(to - 1)).*value;
  };
  auto offset_at = [&](double q) { return quantile(hits.begin(), hits.end(), q, &Hit::offset); };
  // The middle half of the weight lies within kMaxSpreadS.
  const double spread = offset_at(0.75) - offset_at(0.25);
  if (spread > kMaxSpreadS) return std::nullopt;
  AttackGrid grid{bpm, offset_at(0.5)};
  // The comb's tempo is good to a hundredth of a BPM or two; over a track that leaves the grid a
  // millisecond or two off at its ends. The attacks' drift from the first half of the beats to
  // the second, each half's weighted median (a rest or a flam does not tilt it), sets it closer
  // when it moves the tempo less than the comb's error and gathers the attacks tighter.
  std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.beat < b.beat; });
  const auto middle = hits.begin() + static_cast<std::ptrdiff_t>(hits.size() / 2);
  const double early_beat = quantile(hits.begin(), middle, 0.5, &Hit::beat), late_beat = quantile(middle, hits.end(), 0.5, &Hit::beat);
  const double early = quantile(hits.begin(), middle, 0.5, &Hit::offset), late = quantile(middle, hits.end(), 0.5, &Hit::offset);
  if (!(late_beat - early_beat >= static_cast<double>(kMinAttacks))) return grid;
  const double fitted = SnapBpm(60.0 / (beat + (late - early) / (late_beat - early_beat)));
  if (fitted == bpm || !(std::fabs(fitted - bpm) <= kAttackFitBpm)) return grid;
  const double moved = 60.0 / fitted - beat;
  for (Hit& h : hits) h.offset -= h.beat * moved;
  if (offset_at(0.75) - offset_at(0.25) > spread) return grid;
  return AttackGrid{fitted, offset_at(0.5)};
}

// Sum of a fold's bins within `reach` bins of a phase (wrapping).
double SumAround(const std::vector<double>& fold, double at, double reach) {
  const long bins = static_cast<long>(fold.size());
  double sum = 0.0;
  for (long k = std::lround(at - reach); k <= std::lround(at + reach); ++k) sum += fold[static_cast<size_t>((k % bins + bins) % bins)];
  return sum;
}

// How much more of a cue one candidate has than another, -1..1.
double Contrast(double a, double b) { return a + b > 0.0 ? (a - b) / (a + b) : 0.0; }

// Each frame's rise in power over the frame before.
std::vector<float> Rises(const std::vector<float>& power) {
  std::vector<float> rise(power.size(), 0.0f);
  for (size_t i = 1; i < power.size(); ++i) rise[i] = std::max(power[i] - power[i - 1], 0.0f);
  return rise;
}

// The beat's phase in frames of the onset envelope. Candidates: the strongest phase of all the
// onsets and the three sixteenths after it. The hats' eighths (or where the kick's power and all
// onsets put them, when the hats do not tell) leave two of them half a beat apart; of those the
// beat is where the kick's power rises most and a backbeat alternates. A bass line's sixteenths
// can have more onsets than the kick and open hats on the off-beats as many: neither has the
// kick's power or a backbeat.
Phase ChooseBeatPhase(const OnsetBands& onsets, double period) {
  const double fps = onsets.framesPerSecond;
  const std::vector<double> all = FoldOnBeat(onsets.all, period);
  const size_t bins = all.size();
  if (bins < 4) return BestPhase(all, period);
  const double anchor = BestPhase(all, period).phase;
  const int reach = std::max(1, static_cast<int>(period / 16));

  const std::vector<double> high = FoldOnBeat(onsets.band[OnsetBands::kHigh], period);
  const size_t n = onsets.all.size();
  std::vector<float> noise(n);
  for (size_t i = 0; i < n; ++i) noise[i] = std::min(onsets.band[OnsetBands::kSnare][i], onsets.band[OnsetBands::kHigh][i]);
  const std::vector<double> noise_two = FoldOnBeat(noise, 2 * period);
  const std::vector<double> kick = FoldOnBeat(Rises(onsets.lowPower), period);
  const std::vector<double> high_two = FoldOnBeat(Rises(onsets.highPower), 2 * period);
  // Power frames are centred on their time; the onsets' frames peak kOnsetLatencyS early.
  const double latency = kOnsetLatencyS * fps;
  const double window = (onsets.powerWindowS / 2 + kCandidateSlackS) * fps;

  double at[4], hats[4], onset_sum[4];
  for (int k = 0; k < 4; ++k) {
    at[k] = anchor + k * period / 4;
    hats[k] = Around(high, at[k], reach);
    onset_sum[k] = Around(all, at[k], reach);
  }
  auto kick_at = [&](double p) { return SumAround(kick, p + latency, window); };
  int pair = 0;
  if (hats[1] + hats[3] > kClearEighths * (hats[0] + hats[2])) pair = 1;
  else if (!(hats[0] + hats[2] > kClearEighths * (hats[1] + hats[3]))) {
    const double pair_vote = kKickWeight * Contrast(kick_at(at[1]) + kick_at(at[3]), kick_at(at[0]) + kick_at(at[2])) +
                             kOnsetWeight * Contrast(onset_sum[1] + onset_sum[3], onset_sum[0] + onset_sum[2]);
    pair = pair_vote > 0.0 ? 1 : 0;
  }
  const double on = at[pair], off = at[pair + 2];
  // A backbeat votes by how much of the level it alternates over two beats: a snare on two and
  // four alternates nearly all of it, a tune whose notes merely differ from beat to beat little.
  // As a plain contrast, the larger of two weak alternations would vote as hard as a backbeat.
  auto backbeat = [&](const std::vector<double>& two, auto measure) {
    const double on_a = measure(two, on), on_b = measure(two, on + period);
    const double off_a = measure(two, off), off_b = measure(two, off + period);
    const double level = std::max(on_a + on_b, off_a + off_b);
    return level > 0.0 ? (std::fabs(on_a - on_b) - std::fabs(off_a - off_b)) / level : 0.0;
  };
  auto power_sum = [&](const std::vector<double>& fold, double p) { return SumAround(fold, p + latency, window); };
  auto onset_max = [&](const std::vector<double>& fold, double p) { return Around(fold, p, reach); };
  // The kick votes by its rises against the larger of their sum and the low band's steady power
  // over the beats, so the small rises of a held tone or sustained chords vote little either way.
  double low_mean = 0.0;
  for (float v : onsets.lowPower) low_mean += v;
  low_mean /= static_cast<double>(std::max<size_t>(n, 1));
  const double kick_level = std::max(kick_at(on) + kick_at(off), kSteadyLowShare * low_mean * static_cast<double>(n) / period);
  const double kick_cue = kick_level > 0.0 ? (kick_at(on) - kick_at(off)) / kick_level : 0.0;
  const double vote = kKickWeight * kick_cue + kOnsetWeight * Contrast(onset_sum[pair], onset_sum[pair + 2]) +
                      kBackbeatPowerWeight * backbeat(high_two, power_sum) + kBackbeatOnsetWeight * backbeat(noise_two, onset_max);
  // Chords and bass notes change on the beat far more than half-way: where the harmony moves
  // clearly more on one of the two, it votes, strongly enough to outvote weak drums.
  const double harmony = HarmonicChangeContrast(onsets.mix, onsets.mixRate, on / fps + kOnsetLatencyS, period / fps);
  const double final_vote = vote + (std::fabs(harmony) > kClearHarmony ? kHarmonyWeight * harmony : 0.0);
  const double chosen = final_vote >= 0.0 ? on : off;
  // The chosen sixteenth's own peak among the onsets, as swing or a loose drummer moves it.
  Phase best{-1.0, chosen};
  for (int k = -reach; k <= reach; ++k) {
    const long b = ((std::lround(chosen) + k) % static_cast<long>(bins) + static_cast<long>(bins)) % static_cast<long>(bins);
    if (all[static_cast<size_t>(b)] > best.score) best = {all[static_cast<size_t>(b)], static_cast<double>(b)};
  }
  return best;
}

}  // namespace

OnsetBands SpectralOnsets(const Track& track) { return SpectralOnsets(DecimateMix(track)); }

OnsetBands SpectralOnsets(const DecimatedMix& mix) {
  OnsetBands out;
  if (!(mix.rate > 0.0)) return out;
  const double r = mix.rate;
  const size_t hop = static_cast<size_t>(std::max(std::lround(r / kTargetFramesPerSecond), 1L));
  out.framesPerSecond = r / static_cast<double>(hop);
  size_t fft = 256;
  while (static_cast<double>(fft) < r * kMinWindowSeconds) fft *= 2;
  const std::vector<float>& x = mix.samples;
  const size_t m = x.size();
  const size_t count = m / hop + 1;

  const size_t half = fft / 2;
  // Each band's bins [from, to): the bands are contiguous, the last ends below Nyquist.
  size_t band_from[OnsetBands::kBands], band_to[OnsetBands::kBands];
  for (size_t b = 0; b < OnsetBands::kBands; ++b) {
    const double bin = kBandEdgesHz[b] * static_cast<double>(fft) / r;
    band_from[b] = std::clamp<size_t>(static_cast<size_t>(std::ceil(bin)), 1, half);
    if (b > 0) band_to[b - 1] = band_from[b];
  }
  band_to[OnsetBands::kBands - 1] = half;
  std::vector<float> window(fft);
  for (size_t k = 0; k < fft; ++k)
    window[k] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(k) / fft));
  const float norm = 2.0f / static_cast<float>(half);  // a full-scale sine gives about 1

  for (auto& b : out.band) b.assign(count, 0.0f);
  out.lowPower.assign(count, 0.0f);
  out.highPower.assign(count, 0.0f);
  out.powerWindowS = static_cast<double>(fft) / r;
  // Log spectra of bins 0..half-1 and a zero past the last, so every bin has two neighbours.
  std::vector<float> previous(half + 4, 0.0f), current(half + 4, 0.0f);
  std::vector<float> re(fft), im(fft);
  const uint32_t* order = FftReverseOrder(fft);
  // Three floats of slack past the zero: the logs go four bins at a time.
  std::vector<float> spectra[2] = {std::vector<float>(half + 4, 0.0f), std::vector<float>(half + 4, 0.0f)};
  const float gain = kLogGain * norm;
  // Two real frames per complex FFT: frame a in the real part, frame b in the imaginary part.
  for (size_t i = 0; i < count; i += 2) {
    const long at = static_cast<long>(i * hop) - static_cast<long>(half);
    const bool second = i + 1 < count;
    if (at >= 0 && static_cast<size_t>(at) + hop + fft <= m && second) {
      const float* a = x.data() + at;
      const float* b = a + hop;
      FillReversed(a, window.data(), fft, re.data());
      FillReversed(b, window.data(), fft, im.data());
    } else {
      for (size_t k = 0; k < fft; ++k) {
        const long ka = at + static_cast<long>(k), kb = ka + static_cast<long>(hop);
        re[order[k]] = ka >= 0 && static_cast<size_t>(ka) < m ? x[static_cast<size_t>(ka)] * window[k] : 0.0f;
        im[order[k]] = second && kb >= 0 && static_cast<size_t>(kb) < m ? x[static_cast<size_t>(kb)] * window[k] : 0.0f;
      }
    }
    AnalysisFftReordered(re.data(), im.data(), fft);
    SplitMagnitudes(re.data(), im.data(), fft, spectra[0].data(), spectra[1].data());
    for (size_t p = 0; p < 2 && i + p < count; ++p) {
      out.lowPower[i + p] = BinPower(spectra[p].data(), band_from[OnsetBands::kKick], band_to[OnsetBands::kBody]);
      out.highPower[i + p] = BinPower(spectra[p].data(), band_from[OnsetBands::kHigh], band_to[OnsetBands::kHigh]);
    }
    for (std::vector<float>& spectrum : spectra) {
      for (size_t k = 1; k < half; k += 4) Store4(&spectrum[k], FastLog1p4(gain * Load4(&spectrum[k])));
      spectrum[half] = 0.0f;
    }
    for (size_t p = 0; p < 2 && i + p < count; ++p) {
      current.swap(spectra[p]);
      // The rise over the louder of the previous frame's neighbouring bins: vibrato and slides
      // of sustained notes do not count as onsets.
      for (size_t b = 0; b < OnsetBands::kBands; ++b) {
        Float4 lanes = {};
        size_t k = band_from[b];
        for (; k + 4 <= band_to[b]; k += 4) {
          const Float4 left = Load4(&previous[k - 1]), middle = Load4(&previous[k]), right = Load4(&previous[k + 1]);
          Float4 ref = left > middle ? left : middle;
          ref = right > ref ? right : ref;
          const Float4 rise = Load4(&current[k]) - ref;
          lanes += rise > 0.0f ? rise : Float4{};
        }
        double sum = (static_cast<double>(lanes[0]) + lanes[1]) + (static_cast<double>(lanes[2]) + lanes[3]);
        for (; k < band_to[b]; ++k) {
          const float rise = current[k] - std::max({previous[k - 1], previous[k], previous[k + 1]});
          if (rise > 0.0f) sum += rise;
        }
        out.band[b][i + p] = static_cast<float>(sum);
      }
      previous.swap(current);
      current.swap(spectra[p]);
    }
  }

  out.heardOnsets = CountHeardOnsets(out);
  out.mixRate = r;
  out.mix = x;

  // Each band above its local mean, scaled to mean 1 so every band weighs the same.
  const size_t reach = static_cast<size_t>(kLocalMeanSeconds * out.framesPerSecond / 2);
  out.all.assign(count, 0.0f);
  for (auto& band : out.band) {
    std::vector<double> prefix(count + 1, 0.0);
    for (size_t i = 0; i < count; ++i) prefix[i + 1] = prefix[i] + band[i];
    std::vector<float> above(count, 0.0f);
    double total = 0.0;
    for (size_t i = 0; i < count; ++i) {
      const size_t from = i > reach ? i - reach : 0, to = std::min(count, i + reach + 1);
      const double mean = (prefix[to] - prefix[from]) / static_cast<double>(2 * reach + 1);
      above[i] = static_cast<float>(std::max(band[i] - mean, 0.0));
      total += above[i];
    }
    const double mean = total / static_cast<double>(std::max<size_t>(count, 1));
    const float gain = mean > kMinBandMean ? static_cast<float>(1.0 / mean) : 0.0f;
    for (size_t i = 0; i < count; ++i) {
      band[i] = above[i] * gain;
      out.all[i] += band[i];
    }
  }
  return out;
}

CombScore ScoreTempo(const std::vector<float>& onset, double bpm, double framesPerSecond) {
  CombScore result;
  if (!(bpm > 0.0) || !std::isfinite(bpm) || !(framesPerSecond > 0.0)) return result;
  const double period = PeriodOf(bpm, framesPerSecond);
  const double whole = std::trunc(period);
  if (whole < 1.0) return result;
  const size_t phases = static_cast<size_t>(std::min(whole, static_cast<double>(std::max<size_t>(onset.size(), 1))));
  const double end = static_cast<double>(onset.size()) - 0.5;
  for (size_t phase = 0; phase < phases; ++phase) {
    double sum = 0.0;
    for (double beat = 0.0;; beat += 1.0) {  // phase + k P, not a running sum, so no drift
      const double t = static_cast<double>(phase) + beat * period;
      if (t >= end) break;
      sum += onset[static_cast<size_t>(t + 0.5)];
    }
    if (sum > result.score) {
      result.score = sum;
      result.phase = static_cast<int32_t>(phase);
    }
  }
  return result;
}

// How far the strongest period stands above the typical one, in spreads of the typical ones (the
// 10th to 90th percentile): a beat's period stands out by several, while the strengths of speech
// over a held tone lie near each other whatever their level (a ratio to the variance does not
// part them: a clean click train over a bass reads lower than a voice).
namespace {
double BeatContrast(std::vector<double>& strengths, double top) {
  const size_t n = strengths.size();
  if (n < 10) return 0.0;
  auto at = [&](size_t i) {
    std::nth_element(strengths.begin(), strengths.begin() + static_cast<std::ptrdiff_t>(i), strengths.end());
    return strengths[i];
  };
  const double low = at(n / 10), median = at(n / 2), high = at(n * 9 / 10);
  const double spread = high - low;
  return spread > 0.0 ? (top - median) / spread : 0.0;
}
}  // namespace

TempoEstimate EstimateTempo(const OnsetBands& onsets) {
  TempoEstimate estimate;
  const double fps = onsets.framesPerSecond;
  const std::vector<float>& all = onsets.all;
  if (!(fps > 0.0) || static_cast<double>(all.size()) < kMinSeconds * fps) return estimate;

  const size_t max_lag = static_cast<size_t>(std::ceil(PeriodOf(kLowestPeriodBpm, fps))) + 2;
  const std::vector<double> ac = Autocorrelation(all, max_lag);
  if (ac.empty()) return estimate;

  // The strongest beat period in range, scanned in 0.1 % steps of tempo.
  auto peak_near = [&](double bpm, double span) {
    double best_bpm = bpm, best = -1e300;
    for (double b = bpm * (1 - span); b <= bpm * (1 + span); b *= 1.001) {
      const double v = Strength(ac, PeriodOf(b, fps));
      if (v > best) best = v, best_bpm = b;
    }
    return std::pair{best_bpm, best};
  };
  double top_bpm = 0.0, top = -1e300;
  std::vector<double> strengths;
  strengths.reserve(kStrengthSteps);
  for (double b = kFoldLowBpm; b < kFoldHighBpm; b *= 1.001) {
    const double v = Strength(ac, PeriodOf(b, fps));
    strengths.push_back(v);
    if (v > top) top = v, top_bpm = b;
  }
  if (!(top > 0.0)) return estimate;
  estimate.periodicity = BeatContrast(strengths, top);

  // Its metrical relatives, each at its own periodicity peak; the prior only breaks near-ties.
  struct Candidate { double bpm, strength; };
  std::vector<Candidate> candidates;
  for (double ratio : kCandidateRatios) {
    const auto [bpm, strength] = peak_near(Fold(top_bpm * ratio), kPeakSearch);
    candidates.push_back({Fold(bpm), strength});
  }
  double strongest = -1e300;
  for (const Candidate& c : candidates) strongest = std::max(strongest, c.strength);
  double chosen = top_bpm, chosen_prior = -1.0;
  for (const Candidate& c : candidates) {
    if (c.strength < kNearTie * strongest) continue;
    if (Prior(c.bpm) > chosen_prior) chosen_prior = Prior(c.bpm), chosen = c.bpm;
  }

  // Octave, where both a tempo and its double lie in range.
  if (chosen * 2 < kFoldHighBpm) {
    if (IsHalfTempo(onsets, chosen)) chosen *= 2;
  } else if (chosen / 2 >= kFoldLowBpm) {
    if (!IsHalfTempo(onsets, chosen / 2)) chosen /= 2;
  }
  double bpm = Fold(SnapBpm(FitTempo(all, RefineTempo(all, chosen, fps), fps)));

  const double coarse = ChooseBeatPhase(onsets, PeriodOf(bpm, fps)).phase / fps + kOnsetLatencyS;
  // Without a clear attack, on the waveform's points as grids were stored before.
  const std::optional<AttackGrid> attack = PlaceAttack(onsets.mix, onsets.mixRate, bpm, coarse);
  if (attack) bpm = attack->bpm;
  const double beat = 60.0 / bpm;
  double first = attack ? attack->firstBeat : std::round(coarse * kWavePointsPerSecond) / kWavePointsPerSecond;
  first = std::fmod(first, beat);
  if (first < 0) first += beat;
  // A beat within a hair of the track's start is on it, as grids have always been: a click at 0 s
  // gives exactly 0 (the attack's points fall either side of it).
  if (first < kStartSlackS || beat - first < kStartSlackS) first = 0.0;
  estimate.bpm = bpm;
  estimate.firstBeat = first;
  return estimate;
}
