#include "support/tempo_corpus.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>

#include <fmt/format.h>

#include "support/wav_probe.h"

namespace {

constexpr int32_t kRate = 44100;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr int kSteps = 16;  // sixteenth notes per bar of four beats

// Seeded generator: the same spec gives the same track on every machine.
struct Rng {
  uint64_t state;
  explicit Rng(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 0x1234567ull) {}
  double Uniform() {  // [0, 1)
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  }
  double Range(double a, double b) { return a + (b - a) * Uniform(); }
  int Int(int n) { return std::min(static_cast<int>(Uniform() * n), n - 1); }
  bool Chance(double p) { return Uniform() < p; }
  double Noise() { return 2.0 * Uniform() - 1.0; }
  double Gauss() {
    double s = 0.0;
    for (int i = 0; i < 6; ++i) s += Uniform();
    return (s - 3.0) * std::sqrt(2.0);
  }
  template <class T> const T& Pick(const std::vector<T>& v) { return v[Int(static_cast<int>(v.size()))]; }
};

// RBJ biquad in doubles.
struct Biquad {
  double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  enum Type { kLowPass, kHighPass, kBandPass };
  static Biquad Make(Type type, double hz, double q) {
    Biquad f;
    const double w = kTwoPi * std::min(hz, 0.45 * kRate) / kRate, alpha = std::sin(w) / (2 * q);
    const double c = std::cos(w), a0 = 1 + alpha;
    if (type == kLowPass) f.b0 = f.b2 = (1 - c) / 2 / a0, f.b1 = (1 - c) / a0;
    if (type == kHighPass) f.b0 = f.b2 = (1 + c) / 2 / a0, f.b1 = -(1 + c) / a0;
    if (type == kBandPass) f.b0 = alpha / a0, f.b1 = 0, f.b2 = -alpha / a0;
    f.a1 = -2 * c / a0;
    f.a2 = (1 - alpha) / a0;
    return f;
  }
  double operator()(double x) {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1, x1 = x, y2 = y1, y1 = y;
    return y;
  }
};

double MidiHz(double midi) { return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0); }

// A sine table keeps the tonal layers cheap.
class SineTable {
 public:
  SineTable() {
    for (size_t i = 0; i <= kSize; ++i) table_[i] = std::sin(kTwoPi * static_cast<double>(i) / kSize);
  }
  double operator()(double cycles) const {  // sin(2 pi cycles)
    const double x = (cycles - std::floor(cycles)) * kSize;
    const size_t i = static_cast<size_t>(x);
    return table_[i] + (table_[i + 1] - table_[i]) * (x - static_cast<double>(i));
  }

 private:
  static constexpr size_t kSize = 8192;
  std::array<double, kSize + 1> table_;
};
const SineTable& Sine() {
  static const SineTable table;
  return table;
}

struct Stereo {
  std::vector<double> left, right;
  explicit Stereo(size_t frames) : left(frames, 0.0), right(frames, 0.0) {}
  void Add(size_t f, double v, double pan) {  // pan -1..1
    if (f >= left.size()) return;
    left[f] += v * (1.0 - 0.5 * pan);
    right[f] += v * (1.0 + 0.5 * pan);
  }
};

// The mix as a track, its peak at 0.89 of full scale.
Track Normalised(const Stereo& out) {
  const size_t frames = out.left.size();
  double peak = 1e-9;
  for (size_t f = 0; f < frames; ++f) peak = std::max({peak, std::fabs(out.left[f]), std::fabs(out.right[f])});
  Track track;
  track.sampleRate = kRate;
  track.frames = frames;
  track.samples.resize(2 * frames);
  const double scale = 0.89 / peak;
  for (size_t f = 0; f < frames; ++f) {
    track.samples[2 * f] = static_cast<float>(out.left[f] * scale);
    track.samples[2 * f + 1] = static_cast<float>(out.right[f] * scale);
  }
  return track;
}

// --- Drums ---
enum Inst { kKick, kSnare, kClap, kHat, kOpenHat, kRide, kRim, kTom, kShaker };

struct Kit {
  double kickHigh, kickLow, kickSweep, kickDecay, kickDrive, kickClick;
  double snareTone, snareToneDecay, snareNoiseDecay, snareBand, snareToneMix;
  double hatHp, hatDecay, openDecay;
  bool metallicHats;
  double level[9];
};

Kit RandomKit(Rng& rng) {
  Kit k;
  k.kickHigh = rng.Range(110, 260);
  k.kickLow = rng.Range(42, 62);
  k.kickSweep = rng.Range(0.015, 0.05);
  k.kickDecay = rng.Range(0.12, 0.45);
  k.kickDrive = rng.Chance(0.4) ? rng.Range(1.5, 4.0) : 0.0;
  k.kickClick = rng.Range(0.0, 0.3);
  k.snareTone = rng.Range(160, 260);
  k.snareToneDecay = rng.Range(0.04, 0.12);
  k.snareNoiseDecay = rng.Range(0.06, 0.22);
  k.snareBand = rng.Range(1500, 5000);
  k.snareToneMix = rng.Range(0.2, 0.7);
  k.hatHp = rng.Range(5000, 9500);
  k.hatDecay = rng.Range(0.015, 0.07);
  k.openDecay = rng.Range(0.15, 0.4);
  k.metallicHats = rng.Chance(0.5);
  const double levels[9] = {rng.Range(0.7, 1.0), rng.Range(0.45, 0.8), rng.Range(0.4, 0.7), rng.Range(0.12, 0.3),
                            rng.Range(0.12, 0.28), rng.Range(0.1, 0.22), rng.Range(0.2, 0.4), rng.Range(0.35, 0.6),
                            rng.Range(0.08, 0.18)};
  std::copy(levels, levels + 9, k.level);
  return k;
}

double Metallic(double t, double scale) {  // six inharmonic squares, as analogue hats are made
  static constexpr double kHz[6] = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
  double v = 0.0;
  for (double hz : kHz) v += Sine()(hz * scale * t) > 0 ? 1.0 : -1.0;
  return v / 6.0;
}

void RenderHit(Stereo& out, double start, Inst inst, double vel, const Kit& kit, Rng& rng) {
  const size_t first = static_cast<size_t>(std::max(start, 0.0) * kRate + 0.5);
  const double gain = vel * kit.level[inst];
  auto noise_voice = [&](double seconds, Biquad a, Biquad b, auto envelope, double pan) {
    const size_t n = static_cast<size_t>(seconds * kRate);
    for (size_t i = 0; i < n; ++i) {
      const double t = static_cast<double>(i) / kRate;
      out.Add(first + i, gain * envelope(t) * b(a(rng.Noise())), pan);
    }
  };
  switch (inst) {
    case kKick: {
      const size_t n = static_cast<size_t>(5 * kit.kickDecay * kRate);
      double phase = 0.0;
      for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        phase += (kit.kickLow + (kit.kickHigh - kit.kickLow) * std::exp(-t / kit.kickSweep)) / kRate;
        double v = Sine()(phase) * std::exp(-t / kit.kickDecay);
        if (kit.kickDrive > 0) v = std::tanh(kit.kickDrive * v) / std::tanh(kit.kickDrive);
        if (t < 0.003) v += kit.kickClick * rng.Noise();
        out.Add(first + i, gain * v, 0.0);
      }
      break;
    }
    case kSnare: {
      const size_t n = static_cast<size_t>(5 * std::max(kit.snareNoiseDecay, kit.snareToneDecay) * kRate);
      Biquad bp = Biquad::Make(Biquad::kBandPass, kit.snareBand, 0.7);
      for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double tone = Sine()(kit.snareTone * t) * std::exp(-t / kit.snareToneDecay);
        const double noise = 2.0 * bp(rng.Noise()) * std::exp(-t / kit.snareNoiseDecay);
        out.Add(first + i, gain * (kit.snareToneMix * tone + (1 - kit.snareToneMix) * noise), 0.05);
      }
      break;
    }
    case kClap:
      noise_voice(0.35, Biquad::Make(Biquad::kBandPass, 1200, 1.2), Biquad::Make(Biquad::kHighPass, 500, 0.7),
                  [](double t) {
                    const double burst = t < 0.03 ? std::exp(-std::fmod(t, 0.01) / 0.003) : 0.0;
                    return 3.0 * (burst + std::exp(-t / 0.09) * (t >= 0.02));
                  }, -0.1);
      break;
    case kHat:
    case kOpenHat:
    case kRide: {
      const double decay = inst == kHat ? kit.hatDecay : inst == kOpenHat ? kit.openDecay : 0.35;
      const size_t n = static_cast<size_t>(4 * decay * kRate);
      Biquad hp = Biquad::Make(Biquad::kHighPass, inst == kRide ? kit.hatHp * 0.6 : kit.hatHp, 0.7);
      const double pan = inst == kRide ? 0.4 : -0.3;
      for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double src = kit.metallicHats || inst == kRide ? Metallic(t, inst == kRide ? 1.7 : 3.1) + 0.3 * rng.Noise()
                                                             : rng.Noise();
        out.Add(first + i, gain * 1.5 * hp(src) * std::exp(-t / decay), pan);
      }
      break;
    }
    case kRim:
      noise_voice(0.06, Biquad::Make(Biquad::kBandPass, 2000, 3.0), Biquad::Make(Biquad::kHighPass, 400, 0.7),
                  [](double t) { return 4.0 * std::exp(-t / 0.012); }, 0.2);
      break;
    case kTom: {
      const double hz = rng.Pick(std::vector<double>{90.0, 120.0, 160.0});
      double phase = 0.0;
      for (size_t i = 0; i < static_cast<size_t>(0.6 * kRate); ++i) {
        const double t = static_cast<double>(i) / kRate;
        phase += hz * (1.0 + 0.5 * std::exp(-t / 0.05)) / kRate;
        out.Add(first + i, gain * Sine()(phase) * std::exp(-t / 0.15), 0.2);
      }
      break;
    }
    case kShaker:
      noise_voice(0.12, Biquad::Make(Biquad::kBandPass, 6000, 1.0), Biquad::Make(Biquad::kHighPass, 3000, 0.7),
                  [](double t) { return 2.0 * std::min(t / 0.012, 1.0) * std::exp(-t / 0.04); }, 0.3);
      break;
  }
}

// --- Grooves ---
// A lane is one instrument's sixteenths over a bar: '.' rest, 'x' hit, 'X' accent, 'g' ghost.
struct Lane {
  Inst inst;
  std::string steps;
};

enum class BassMode { kSwell, kOffbeat, kFollowKick, kNone };

struct Groove {
  std::vector<Lane> main, alt;  // alt replaces main on every other bar pair when not empty
  double swing = 0.5;           // where the second sixteenth of each eighth falls (0.5 straight)
  double jitterS = 0.0;         // standard deviation of each hit's timing
  double velSpread = 0.1;
  BassMode bass = BassMode::kSwell;
  bool pad = true, vocal = false, hatRolls = false, breakdown = false;
  int introBars = 0;
  int fillEvery = 8;
  bool tomFills = false;
};

std::vector<Lane> Lanes(std::initializer_list<Lane> lanes) { return lanes; }

std::string HatLine(Rng& rng, bool allowSixteenths) {
  std::vector<std::string> options = {"x.x.x.x.x.x.x.x.", "X.x.X.x.X.x.X.x.", "..x...x...x...x."};
  if (allowSixteenths) options.insert(options.end(), {"xgxgxgxgxgxgxgxg", "xxgxxxgxxxgxxxgx", "x.xgx.xgx.xgx.xg"});
  return rng.Pick(options);
}

Groove MakeGroove(const std::string& style, Rng& rng) {
  Groove g;
  const bool sixteenths = rng.Chance(0.5);
  if (style == "house" || style == "vocal" || style == "intro" || style == "techno" || style == "fast-4x4") {
    const std::string kick = "x...x...x...x...";
    const Inst backbeat = rng.Chance(0.6) ? kClap : kSnare;
    const std::string back = style == "techno" && rng.Chance(0.4) ? "................" : "....x.......x...";
    g.main = Lanes({{kKick, kick}, {backbeat, back}, {kOpenHat, "..x...x...x...x."}, {kHat, HatLine(rng, true)}});
    if (rng.Chance(0.5)) g.main.push_back({kShaker, "xgxgxgxgxgxgxgxg"});
    if (style == "techno") g.main.push_back({kRim, rng.Pick(std::vector<std::string>{"...x..x....x..x.", "..x..x..x...x..x", ".x...x.x...x..x."})});
    g.alt = g.main;
    if (rng.Chance(0.5)) g.alt[1].steps = "....x.......x..g";
    g.bass = style == "techno" ? (rng.Chance(0.5) ? BassMode::kFollowKick : BassMode::kSwell)
                               : (rng.Chance(0.5) ? BassMode::kOffbeat : BassMode::kSwell);
    g.breakdown = rng.Chance(0.5);
    g.vocal = style == "vocal";
    if (style == "intro") g.introBars = 8 * (1 + rng.Int(2));
    return g;
  }
  if (style == "hiphop-swing") {
    const std::string kick = rng.Pick(std::vector<std::string>{"x.....x...x.....", "x..x......x..x..", "x......xx.....x.",
                                                                "x.x.......x..x..", "x.....x.x.x....."});
    g.main = Lanes({{kKick, kick}, {kSnare, rng.Chance(0.5) ? "....x.......x..." : "....x..g....x.g."},
                    {kHat, sixteenths ? "xgxgxgxgxgxgxgxg" : "x.x.x.x.x.x.x.x."}});
    if (rng.Chance(0.4)) g.main.push_back({kRim, "..........g....."});
    g.alt = g.main;
    g.alt[0].steps = rng.Pick(std::vector<std::string>{"x.....x..x......", "x..x....x.x.....", "x.....xx..x..x.."});
    g.swing = rng.Range(0.58, 0.68);
    g.bass = rng.Chance(0.5) ? BassMode::kSwell : BassMode::kFollowKick;
    g.velSpread = 0.2;
    g.jitterS = rng.Chance(0.5) ? 0.003 : 0.0;
    g.vocal = rng.Chance(0.3);
    return g;
  }
  if (style == "halftime") {
    g.main = Lanes({{kKick, rng.Pick(std::vector<std::string>{"x.........x.....", "x......x..x..x..", "x.......x.x....."})},
                    {rng.Chance(0.5) ? kSnare : kClap, "........x......."}, {kHat, HatLine(rng, true)}});
    g.alt = g.main;
    g.alt[0].steps = "x..x......x.....";
    g.hatRolls = true;
    g.bass = BassMode::kFollowKick;
    return g;
  }
  if (style == "dnb") {
    g.main = Lanes({{kKick, rng.Pick(std::vector<std::string>{"x.........x.....", "x.........xx....", "x.x.......x....."})},
                    {kSnare, rng.Pick(std::vector<std::string>{"....x.......x...", "....x..g.g..x...", "....x.g.....x..g"})},
                    {rng.Chance(0.5) ? kHat : kShaker, HatLine(rng, true)}});
    if (rng.Chance(0.4)) g.main.push_back({kRide, "x.x.x.x.x.x.x.x."});
    g.alt = g.main;
    g.alt[0].steps = "x.........x..x..";
    g.bass = BassMode::kSwell;
    g.breakdown = rng.Chance(0.5);
    return g;
  }
  if (style == "breakbeat") {
    g.main = Lanes({{kKick, rng.Pick(std::vector<std::string>{"x.x.......xx....", "x.....x...x..x..", "x.x....x..x....."})},
                    {kSnare, rng.Pick(std::vector<std::string>{"....x..g.g..x..g", "....x.......x...", "....x..x.g..x..."})},
                    {rng.Chance(0.5) ? kRide : kHat, "x.x.x.x.x.x.x.x."}});
    g.alt = g.main;
    g.alt[1].steps = ".g..x..g.gx.x..g";
    g.swing = rng.Chance(0.3) ? 0.56 : 0.5;
    g.jitterS = 0.002;
    g.velSpread = 0.25;
    g.bass = rng.Chance(0.5) ? BassMode::kSwell : BassMode::kFollowKick;
    return g;
  }
  if (style == "slow") {
    g.main = Lanes({{kKick, rng.Pick(std::vector<std::string>{"x.......x.x.....", "x.......x.......", "x..x....x......."})},
                    {rng.Chance(0.3) ? kRim : kSnare, "....x.......x..."}, {kHat, HatLine(rng, false)}});
    g.alt = g.main;
    g.pad = true;
    g.bass = BassMode::kSwell;
    g.tomFills = true;
    return g;
  }
  if (style == "fast-rock") {
    g.main = Lanes({{kKick, rng.Pick(std::vector<std::string>{"x.......x.......", "x.......x.x.....", "x...x...x...x..."})},
                    {kSnare, "....x.......x..."}, {rng.Chance(0.5) ? kHat : kRide, "x.x.x.x.x.x.x.x."}});
    g.alt = g.main;
    g.jitterS = 0.003;
    g.tomFills = true;
    g.bass = BassMode::kOffbeat;
    return g;
  }
  // "live": a drummer with a few milliseconds of timing spread, loose dynamics and fills.
  g.main = Lanes({{kKick, rng.Pick(std::vector<std::string>{"x.....x.x.x.....", "x.......x.x.....", "x..x..x...x....."})},
                  {kSnare, rng.Pick(std::vector<std::string>{"....x..g.g..x...", "....x.......x.g.", "..g.x..g....x..."})},
                  {rng.Chance(0.5) ? kHat : kRide, rng.Pick(std::vector<std::string>{"X.x.X.x.X.x.X.x.", "xgxgxgxgxgxgxgxg"})}});
  g.alt = g.main;
  g.alt[0].steps = "x.......x...x...";
  g.jitterS = rng.Range(0.004, 0.008);
  g.velSpread = 0.3;
  g.tomFills = true;
  g.fillEvery = 4;
  g.bass = BassMode::kSwell;
  return g;
}

struct StyleRange {
  const char* style;
  double low, high;
};
constexpr StyleRange kStyles[] = {
    {"house", 118, 128},     {"techno", 125, 140},      {"hiphop-swing", 85, 100}, {"halftime", 130, 150},
    {"dnb", 165, 178},       {"breakbeat", 120, 140},   {"slow", 78, 92},          {"fast-rock", 150, 178},
    {"fast-4x4", 145, 175},  {"vocal", 96, 128},        {"intro", 100, 135},       {"live", 90, 125}};

// Scale degrees in semitones; chords are stacked thirds of the scale.
constexpr int kMajorScale[7] = {0, 2, 4, 5, 7, 9, 11};
constexpr int kMinorScale[7] = {0, 2, 3, 5, 7, 8, 10};

std::vector<int> Progression(bool minor, Rng& rng) {
  // Degrees 0-6; the minor ones include i-VI-III-VII, built of the relative major's notes.
  if (minor)
    return rng.Pick(std::vector<std::vector<int>>{{0, 5, 2, 6}, {0, 3, 4, 0}, {0, 6, 5, 6}, {0, 3, 6, 2}, {0, 0, 5, 4}});
  return rng.Pick(std::vector<std::vector<int>>{{0, 4, 5, 3}, {0, 3, 4, 0}, {0, 5, 3, 4}, {0, 3, 0, 4}, {0, 1, 4, 0}});
}

std::array<int, 3> Triad(int tonic, bool minor, int degree) {
  const int* scale = minor ? kMinorScale : kMajorScale;
  std::array<int, 3> notes;
  for (int i = 0; i < 3; ++i) {
    const int d = degree + 2 * i;
    notes[i] = tonic + scale[d % 7] + 12 * (d / 7);
  }
  if (minor && degree == 4) notes[1] += 1;  // the raised leading tone of a minor key's dominant
  return notes;
}

// Formant vowels (F1, F2, F3 in Hz).
constexpr double kVowels[5][3] = {{800, 1200, 2500}, {400, 2000, 2600}, {300, 2300, 3000}, {500, 900, 2400}, {350, 800, 2300}};

void RenderVocal(Stereo& out, double from, double to, double level, Rng& rng) {
  const double base = rng.Range(110, 230);
  double t = from + rng.Range(0.0, 1.0);
  double phase = 0.0;
  while (t < to) {
    const int syllables = 4 + rng.Int(10);
    for (int s = 0; s < syllables && t < to; ++s) {
      const double length = rng.Range(0.1, 0.38);
      const double* f = kVowels[rng.Int(5)];
      Biquad f1 = Biquad::Make(Biquad::kBandPass, f[0], 6), f2 = Biquad::Make(Biquad::kBandPass, f[1], 8);
      Biquad f3 = Biquad::Make(Biquad::kBandPass, f[2], 10);
      Biquad fric = Biquad::Make(Biquad::kHighPass, 3500, 0.7);
      const double pitch = base * std::pow(2.0, rng.Range(-4, 5) / 12.0);
      const bool consonant = rng.Chance(0.6);
      const size_t first = static_cast<size_t>(t * kRate);
      const size_t n = static_cast<size_t>(length * kRate);
      for (size_t i = 0; i < n; ++i) {
        const double u = static_cast<double>(i) / kRate;
        const double hz = pitch * (1.0 + 0.01 * Sine()(5.5 * u));
        phase += hz / kRate;
        const double source = 2.0 * (phase - std::floor(phase)) - 1.0;
        const double env = std::min(u / 0.02, 1.0) * std::min((length - u) / 0.04, 1.0);
        double v = env * (f1(source) + 0.6 * f2(source) + 0.3 * f3(source));
        if (consonant && u < 0.05) v += 0.5 * fric(rng.Noise()) * (1.0 - u / 0.05);
        out.Add(first + i, level * 2.5 * v, 0.0);
      }
      t += length + rng.Range(0.0, 0.12);
    }
    t += rng.Range(0.4, 2.0);
  }
}

}  // namespace

std::vector<CorpusTrack> TempoCorpus(int perStyle) {
  std::vector<CorpusTrack> corpus;
  static const char* kExtensions[] = {"wav", "mp3", "flac"};
  uint32_t seed = 1000;
  for (const StyleRange& style : kStyles) {
    for (int i = 0; i < perStyle; ++i) {
      Rng rng(++seed);
      CorpusTrack t;
      t.style = style.style;
      t.seed = seed;
      // Tempos spread over the style's range, some whole, some not.
      t.bpm = style.low + (style.high - style.low) * (i + rng.Range(0.0, 1.0)) / perStyle;
      if (rng.Chance(0.6)) t.bpm = std::round(t.bpm);
      else t.bpm = std::round(t.bpm * 100) / 100;
      t.key = rng.Int(24);
      t.seconds = rng.Range(36, 50);
      t.extension = kExtensions[i % 3];
      t.name = fmt::format("{}-{:02d}", t.style, i);
      const double beat = 60.0 / t.bpm;
      t.firstBeat = rng.Range(0.05, 1.5);  // beat 0; firstBeat below is its phase
      t.firstBeat = std::fmod(t.firstBeat, beat);
      corpus.push_back(t);
    }
  }
  return corpus;
}

std::vector<CorpusTrack> KeyCorpus(int count) {
  std::vector<CorpusTrack> corpus;
  for (int i = 0; i < count; ++i) {
    Rng rng(5000 + i);
    CorpusTrack t;
    t.style = rng.Pick(std::vector<std::string>{"house", "hiphop-swing", "slow", "breakbeat"});
    t.seed = 5000 + i;
    t.bpm = std::round(rng.Range(90, 128));
    t.key = (i * 7) % 12 + (i % 2 ? 12 : 0);
    t.seconds = 30;
    t.name = fmt::format("key-{:02d}", i);
    t.firstBeat = 0.1;
    corpus.push_back(t);
  }
  return corpus;
}

Track SynthesizeCorpusTrack(const CorpusTrack& spec) {
  Rng rng(spec.seed);
  const Kit kit = RandomKit(rng);
  Groove g = MakeGroove(spec.style, rng);
  const size_t frames = static_cast<size_t>(spec.seconds * kRate);
  Stereo out(frames);
  const double beat = 60.0 / spec.bpm, bar = 4 * beat;
  // Beat 0 on the truth's phase, plus whole beats of lead-in for some tracks.
  const double start = spec.firstBeat + beat * rng.Int(2);
  const int bars = static_cast<int>((spec.seconds - start) / bar) + 1;
  const bool minor = spec.key >= 12;
  const int tonic = spec.key % 12;
  const std::vector<int> progression = Progression(minor, rng);
  const int barsPerChord = 1 + rng.Int(2);
  const double bassLevel = rng.Range(0.3, 0.6), padLevel = g.pad ? rng.Range(0.12, 0.3) : 0.0;
  const int breakdownBar = g.breakdown ? g.introBars + 8 + 4 * rng.Int(2) : -1;

  auto time_of = [&](int barIndex, double step) {
    double pos = step / 4.0;
    const double in_eighth = std::fmod(step, 2.0);
    if (in_eighth == 1.0) pos += (g.swing - 0.5) * 0.5;
    return start + barIndex * bar + pos * beat;
  };
  auto hit = [&](int barIndex, double step, Inst inst, char c) {
    double vel = c == 'X' ? 1.0 : c == 'g' ? rng.Range(0.15, 0.3) : rng.Range(1.0 - g.velSpread, 1.0);
    if (c == 'x' || c == 'X') vel = std::clamp(vel + g.velSpread * 0.3 * rng.Gauss(), 0.3, 1.0);
    const double t = time_of(barIndex, step) + g.jitterS * rng.Gauss();
    RenderHit(out, t, inst, vel, kit, rng);
  };

  std::vector<double> kickTimes;
  for (int b = 0; b < bars; ++b) {
    const bool drums = b >= g.introBars && !(b >= breakdownBar && b < breakdownBar + 4);
    if (!drums) continue;
    const std::vector<Lane>& lanes = (b / 2) % 2 == 1 && !g.alt.empty() ? g.alt : g.main;
    const bool fill = (b + 1) % g.fillEvery == 0;
    for (const Lane& lane : lanes) {
      for (int s = 0; s < kSteps; ++s) {
        const char c = lane.steps[s];
        if (c == '.') continue;
        if (fill && s >= 12 && lane.inst != kKick && lane.inst != kHat) continue;
        if (lane.inst == kKick) kickTimes.push_back(time_of(b, s));
        hit(b, s, lane.inst, c);
      }
    }
    if (fill) {
      const Inst voice = g.tomFills ? kTom : kSnare;
      for (int s = 12; s < 16; ++s) hit(b, s, voice, s == 12 ? 'x' : rng.Chance(0.7) ? 'x' : 'g');
    }
    if (g.hatRolls && rng.Chance(0.3)) {  // a triplet hat roll over one beat
      const int at = 4 * rng.Int(4);
      for (int k = 0; k < 6; ++k) RenderHit(out, time_of(b, at) + k * beat / 6, kHat, 0.6, kit, rng);
    }
  }

  // Bass and pads: the progression, one chord per one or two bars, swelling over each chord.
  const double chordLen = barsPerChord * bar;
  double bassPhase = 0.0, root = 0.0;
  std::array<double, 12> padPhase{};
  std::array<double, 3> padHz{};
  int cachedChord = -1;
  for (size_t f = static_cast<size_t>(start * kRate); spec.tonal && f < frames; ++f) {
    const double t = static_cast<double>(f) / kRate - start;
    const int chord = static_cast<int>(t / chordLen);
    const double in_chord = t - chord * chordLen;
    if (chord != cachedChord) {
      cachedChord = chord;
      const std::array<int, 3> notes = Triad(tonic, minor, progression[chord % progression.size()]);
      root = MidiHz(36 + (notes[0] % 12));  // the root an octave or two down
      for (int n = 0; n < 3; ++n) padHz[n] = MidiHz(60 + notes[n] - (tonic > 5 ? 12 : 0));
    }
    bassPhase += root / kRate;
    double bass_env = 0.0;
    const double in_beat = std::fmod(t, beat);
    switch (g.bass) {
      case BassMode::kSwell: bass_env = std::min(0.15 + in_chord / (4 * beat), 1.0) * std::min((chordLen - in_chord) / 0.05, 1.0); break;
      case BassMode::kOffbeat: {
        const double since = in_beat - beat / 2;
        bass_env = since >= 0 ? std::exp(-since / 0.12) * std::min(since / 0.005, 1.0) : 0.0;
        break;
      }
      case BassMode::kFollowKick: {
        const auto it = std::upper_bound(kickTimes.begin(), kickTimes.end(), t + start);
        if (it != kickTimes.begin()) {
          const double since = t + start - *(it - 1);
          bass_env = std::exp(-since / 0.6) * std::min(since / 0.01, 1.0);
        }
        break;
      }
      case BassMode::kNone: break;
    }
    const double saw = Sine()(bassPhase) + 0.3 * Sine()(2 * bassPhase) + 0.12 * Sine()(3 * bassPhase);
    double v = bassLevel * bass_env * saw;
    if (padLevel > 0) {
      const double swell = std::min(0.1 + in_chord / (2 * beat), 1.0) * std::min((chordLen - in_chord) / 0.2, 1.0);
      double pad = 0.0;
      for (int n = 0; n < 3; ++n) {
        const double hz = padHz[n];
        for (int d = 0; d < 2; ++d) {
          double& p = padPhase[n * 2 + d];
          p += hz * (d ? 1.004 : 0.997) / kRate;
          pad += Sine()(p) + 0.25 * Sine()(2 * p);
        }
      }
      v += padLevel * swell * pad / 4.0;
    }
    out.Add(f, v, 0.0);
  }
  if (spec.tonal && (g.vocal || spec.style == "vocal")) RenderVocal(out, start + g.introBars * bar, spec.seconds, rng.Range(0.35, 0.6), rng);

  return Normalised(out);
}

std::vector<GrooveSpec> PhaseGrooves(int count, uint32_t seed) {
  // The bass's sixteenths: the three after each kick, the off-beat alone, the two sixteenths either
  // side of it, a run that starts on the kick, one note just after or just before the kick, ...
  static const char* const kBasses[] = {".xxx", "..x.", ".x.x", "xx.x", ".x..", "...x", "x.xx", "..xx"};
  std::vector<GrooveSpec> grooves;
  Rng rng(seed);
  for (int i = 0; i < count; ++i) {
    GrooveSpec g;
    g.bass = kBasses[i % std::size(kBasses)];
    g.bpm = rng.Range(116.0, 142.0);
    g.bpm = rng.Chance(0.5) ? std::round(g.bpm) : std::round(g.bpm * 10) / 10;
    g.seed = seed * 1000 + static_cast<uint32_t>(i);
    g.hatLowHz = rng.Chance(0.35) ? 1000.0 : rng.Range(5000.0, 9000.0);
    g.metallicHat = rng.Chance(0.5);
    g.hatDb = rng.Range(-18.0, 0.0);
    g.clapDb = rng.Range(-18.0, 0.0);
    g.firstBeat = std::round(rng.Range(0.0, 60.0 / g.bpm) * kRate) / kRate;
    g.name = fmt::format("groove{:02d}-{}-{}", i, g.bpm, g.bass);
    grooves.push_back(g);
  }
  return grooves;
}

Track SynthesizeGroove(const GrooveSpec& spec) {
  Rng rng(spec.seed);
  Kit kit = RandomKit(rng);
  kit.hatHp = spec.hatLowHz;
  kit.metallicHats = spec.metallicHat;
  kit.level[kKick] = 1.0;
  kit.level[kOpenHat] = std::pow(10.0, spec.hatDb / 20.0);
  kit.level[kClap] = 0.6 * std::pow(10.0, spec.clapDb / 20.0);
  const size_t frames = static_cast<size_t>(spec.seconds * kRate);
  Stereo out(frames);
  const double beat = 60.0 / spec.bpm, sixteenth = beat / 4;
  const double bassHz = MidiHz(33 + rng.Int(12));
  for (int k = 0; spec.firstBeat + k * beat < spec.seconds; ++k) {
    const double at = spec.firstBeat + k * beat;
    RenderHit(out, at, kKick, 1.0, kit, rng);
    RenderHit(out, at + beat / 2, kOpenHat, 1.0, kit, rng);
    if (k % 2 == 1) RenderHit(out, at, kClap, 1.0, kit, rng);
    for (size_t s = 0; s < spec.bass.size(); ++s) {
      if (spec.bass[s] != 'x') continue;
      // A plucked sawtooth a sixteenth long, its first sample on the step's.
      const size_t first = static_cast<size_t>((at + s * sixteenth) * kRate + 0.5);
      const size_t n = static_cast<size_t>(0.9 * sixteenth * kRate);
      for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double saw = 0.0;
        for (int h = 1; h <= 12; ++h) saw += Sine()(h * bassHz * t) / h;
        out.Add(first + i, 0.45 * saw * std::min(t / 0.003, 1.0) * std::exp(-t / 0.08), 0.0);
      }
    }
  }
  return Normalised(out);
}

std::string WriteCorpusTrack(const CorpusTrack& spec, const std::string& folder) {
  const Track track = SynthesizeCorpusTrack(spec);
  const std::string wav = folder + "/" + spec.name + (spec.extension == "wav" ? ".wav" : ".src.wav");
  {
    std::ofstream file(wav, std::ios::binary);
    auto u32 = [&](uint32_t v) { file.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { file.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t bytes = static_cast<uint32_t>(track.samples.size() * 2);
    file.write("RIFF", 4), u32(36 + bytes), file.write("WAVEfmt ", 8), u32(16), u16(1), u16(2);
    u32(kRate), u32(kRate * 4), u16(4), u16(16), file.write("data", 4), u32(bytes);
    std::vector<int16_t> pcm(track.samples.size());
    for (size_t i = 0; i < pcm.size(); ++i)
      pcm[i] = static_cast<int16_t>(std::lround(std::clamp(track.samples[i], -1.0f, 1.0f) * 32767.0f));
    file.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size() * 2));
    if (!file) return "";
  }
  if (spec.extension == "wav") return wav;
  const std::string out = folder + "/" + spec.name + "." + spec.extension;
  int status = -1;
  RunCommand(fmt::format("ffmpeg -nostdin -loglevel error -y -i {} {} {} 2>&1", ShellQuote(wav),
                         spec.extension == "mp3" ? "-c:a libmp3lame -b:a 192k" : "", ShellQuote(out)), &status);
  std::filesystem::remove(wav);
  return status == 0 ? out : "";
}

bool TempoExact(double found, double truth) { return std::fabs(found - truth) <= 0.5; }
bool TempoWithin4Percent(double found, double truth) { return std::fabs(found - truth) <= 0.04 * truth; }
bool TempoOctaveOk(double found, double truth) {
  return TempoWithin4Percent(found, truth) || TempoWithin4Percent(found, truth / 2) || TempoWithin4Percent(found, truth * 2);
}
double FirstBeatError(double found, double truthFirstBeat, double truthBpm) {
  const double beat = 60.0 / truthBpm;
  double d = std::fmod(found - truthFirstBeat, beat);
  if (d < 0) d += beat;
  return std::min(d, beat - d);
}
