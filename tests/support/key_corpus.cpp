#include "support/key_corpus.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>

#include <fmt/format.h>

#include "support/tempo_corpus.h"

namespace {

constexpr int32_t kRate = 44100;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// mt19937_64's outputs are fixed by the standard; the conversions below are ours, so the corpus is
// the same everywhere.
struct Dice {
  std::mt19937_64 engine;
  explicit Dice(uint32_t seed) : engine(seed) {}
  double Uniform() { return static_cast<double>(engine() >> 11) / 9007199254740992.0; }
  double Range(double a, double b) { return a + (b - a) * Uniform(); }
  int Int(int n) { return std::min(static_cast<int>(Uniform() * n), n - 1); }
  bool Chance(double p) { return Uniform() < p; }
};

enum Quality { kMaj, kMin, kDim, kDom7, kMaj7, kMin7, kHalfDim7 };
constexpr std::array<std::array<int, 4>, 7> kIntervals = {{
    {0, 4, 7, -1}, {0, 3, 7, -1}, {0, 3, 6, -1}, {0, 4, 7, 10}, {0, 4, 7, 11}, {0, 3, 7, 10}, {0, 3, 6, 10}}};

struct Chord {
  int root;  // semitones above the tonic
  Quality quality;
  int beats;
};

struct Family {
  const char* name;
  bool minor;
  std::array<int, 7> scale;
  std::vector<std::vector<Chord>> progressions;
  int borrowedAt;  // which chord of the cycle the borrowed one replaces
  Chord borrowed;
};

constexpr std::array<int, 7> kMajor = {0, 2, 4, 5, 7, 9, 11}, kMinor = {0, 2, 3, 5, 7, 8, 10};
constexpr std::array<int, 7> kDorian = {0, 2, 3, 5, 7, 9, 10}, kMixolydian = {0, 2, 4, 5, 7, 9, 10};

const std::vector<Family>& Families() {
  static const std::vector<Family> families = {
      {"pop", false, kMajor, {{{0, kMaj, 4}, {7, kMaj, 4}, {9, kMin, 4}, {5, kMaj, 4}}}, 3, {5, kMin, 4}},
      {"jazz", false, kMajor,
       {{{2, kMin7, 4}, {7, kDom7, 4}, {0, kMaj7, 8}}, {{0, kMaj7, 4}, {9, kMin7, 4}, {2, kMin7, 4}, {7, kDom7, 4}}},
       0, {2, kHalfDim7, 4}},
      {"minor-pop", true, kMinor, {{{0, kMin, 4}, {8, kMaj, 4}, {3, kMaj, 4}, {10, kMaj, 4}}}, 3, {7, kMaj, 4}},
      {"minor-iv-v", true, kMinor,
       {{{0, kMin, 4}, {5, kMin, 4}, {7, kMin, 4}, {0, kMin, 4}}, {{0, kMin, 8}, {5, kMin, 4}, {7, kMaj, 4}}}, 1,
       {5, kMaj, 4}},
      {"pop", false, kMajor, {{{0, kMaj, 8}, {7, kMaj, 4}, {9, kMin, 4}, {5, kMaj, 4}}}, 1, {8, kMaj, 4}},
      {"jazz", false, kMajor, {{{2, kMin7, 4}, {7, kDom7, 4}, {0, kMaj7, 4}, {0, kMaj7, 4}}}, 2, {5, kMin7, 4}},
      {"minor-pop", true, kMinor, {{{0, kMin, 4}, {8, kMaj, 4}, {3, kMaj, 4}, {10, kMaj, 4}}}, 2, {5, kMaj, 4}},
      {"minor-iv-v", true, kMinor, {{{0, kMin, 4}, {5, kMin, 4}, {7, kMaj, 4}, {0, kMin, 4}}}, 2, {7, kMin, 4}},
      {"dorian", true, kDorian, {{{0, kMin7, 4}, {5, kMaj, 4}}}, 1, {10, kMaj, 4}},
      {"mixolydian", false, kMixolydian, {{{0, kMaj, 4}, {10, kMaj, 4}, {5, kMaj, 4}, {0, kMaj, 4}}}, 2, {5, kMin, 4}},
      {"aeolian", true, kMinor, {{{0, kMin, 4}, {10, kMaj, 4}, {8, kMaj, 4}, {10, kMaj, 4}}}, 3, {7, kMin, 4}},
  };
  return families;
}

enum Timbre { kSuperSaw, kSquarePad, kPiano, kOrgan, kStrings, kDistortedBass, kSquareBass, kSubBass, kPickedBass };

// PolyBLEP correction of a unit step at phase 0 (t in [0, 1), dt the phase step).
double Blep(double t, double dt) {
  if (t < dt) {
    t /= dt;
    return t + t - t * t - 1.0;
  }
  if (t > 1.0 - dt) {
    t = (t - 1.0) / dt;
    return t * t + t + t + 1.0;
  }
  return 0.0;
}

struct Mix {
  std::vector<double> left, right;
  explicit Mix(size_t frames) : left(frames, 0.0), right(frames, 0.0) {}
};

// One note of a timbre from `start` for `length` seconds: the oscillators with their own envelope
// and a gentle low-pass that keeps most partials.
void RenderNote(Mix& out, double start, double length, double hz, Timbre timbre, double gain, double pan, Dice& dice) {
  const size_t first = static_cast<size_t>(std::max(start, 0.0) * kRate);
  const double release = timbre == kPiano || timbre == kPickedBass ? 0.3 : timbre == kStrings ? 0.25 : 0.04;
  const size_t n = static_cast<size_t>((length + release) * kRate);
  const double attack = timbre == kStrings ? 0.3 : timbre == kSquarePad || timbre == kSuperSaw ? 0.03 : 0.004;
  const double cutoff = timbre == kDistortedBass ? 1800.0 : timbre == kSubBass ? 400.0 : dice.Range(2500.0, 6000.0);
  const double a = 1.0 - std::exp(-kTwoPi * cutoff / kRate);
  const double drive = timbre == kDistortedBass ? dice.Range(2.5, 7.0) : 0.0;
  // Unison voices for the pads, detuned a few cents.
  const int voices = timbre == kSuperSaw ? 3 : timbre == kSquarePad || timbre == kStrings ? 2 : 1;
  std::array<double, 3> phase{}, step{};
  for (int v = 0; v < voices; ++v) {
    phase[v] = dice.Uniform();
    step[v] = hz * std::pow(2.0, (v - (voices - 1) * 0.5) * dice.Range(6.0, 12.0) / 1200.0) / kRate;
  }
  // Struck and drawbar timbres are sums of partials, each a rotating phasor.
  constexpr int kPartials = 12;
  std::array<std::complex<double>, kPartials> z{}, w{};
  std::array<double, kPartials> amp{}, decay{};
  int partials = 0;
  if (timbre == kPiano || timbre == kOrgan || timbre == kPickedBass) {
    static constexpr double kDrawbar[kPartials] = {1.0, 0.8, 0.6, 0.5, 0.0, 0.4, 0.0, 0.3, 0.0, 0.0, 0.0, 0.0};
    const double inharmonic = timbre == kOrgan ? 0.0 : 0.0004;
    for (int k = 1; k <= kPartials; ++k) {
      const double f = hz * k * std::sqrt(1.0 + inharmonic * k * k);
      if (f > 0.45 * kRate) break;
      const double amplitude = timbre == kOrgan ? kDrawbar[k - 1] : 1.0 / std::pow(k, 1.1);
      z[partials] = std::polar(1.0, kTwoPi * dice.Uniform());
      w[partials] = std::polar(1.0, kTwoPi * f / kRate);
      amp[partials] = amplitude;
      decay[partials] = timbre == kOrgan ? 1.0 : std::exp(-(0.8 + 0.6 * k) / kRate);
      ++partials;
    }
  }
  double lp = 0.0, lp2 = 0.0;
  const double pan_l = 1.0 - 0.5 * pan, pan_r = 1.0 + 0.5 * pan;
  for (size_t i = 0; i < n && first + i < out.left.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    double x = 0.0;
    if (partials > 0) {
      for (int k = 0; k < partials; ++k) {
        x += amp[k] * z[k].imag();
        z[k] *= w[k];
        amp[k] *= decay[k];
      }
      x *= 0.5;
    } else {
      for (int v = 0; v < voices; ++v) {
        const double p = phase[v], dt = step[v];
        if (timbre == kSquarePad || timbre == kSquareBass) {
          const double half = p + 0.5 - std::floor(p + 0.5);
          x += (p < 0.5 ? 1.0 : -1.0) + Blep(p, dt) - Blep(half, dt);
        } else if (timbre == kSubBass) {
          x += std::sin(kTwoPi * p) + 0.2 * std::sin(2.0 * kTwoPi * p);
        } else {
          x += 2.0 * p - 1.0 - Blep(p, dt);
        }
        phase[v] = p + dt - std::floor(p + dt);
      }
      x /= voices;
    }
    if (drive > 0.0) x = std::tanh(drive * x) / std::tanh(drive);
    lp += a * (x - lp);
    lp2 += a * (lp - lp2);
    double env = std::min(t / attack, 1.0);
    if (t > length) env *= std::max(1.0 - (t - length) / release, 0.0);
    const double v = gain * env * lp2;
    out.left[first + i] += v * pan_l;
    out.right[first + i] += v * pan_r;
  }
}

double Hz(double midi, double cents) { return 440.0 * std::pow(2.0, (midi - 69.0 + cents / 100.0) / 12.0); }

// The chord's notes as MIDI numbers between E3 and E5, root position or an inversion.
std::vector<int> Voicing(int tonic, const Chord& chord) {
  std::vector<int> notes;
  for (int interval : kIntervals[chord.quality]) {
    if (interval < 0) continue;
    int midi = 48 + ((tonic + chord.root + interval) % 12);
    while (midi < 52) midi += 12;
    notes.push_back(midi);
  }
  return notes;
}

}  // namespace

std::vector<KeyPiece> KeyPieces(int count) {
  std::vector<KeyPiece> pieces;
  const std::vector<Family>& families = Families();
  for (int i = 0; i < count; ++i) {
    Dice dice(7000 + i);
    KeyPiece p;
    const Family& family = families[i % families.size()];
    p.family = family.name;
    p.seed = 7000 + i;
    p.key = (i * 5 + i / 12) % 12 + (family.minor ? 12 : 0);
    p.bpm = std::round(dice.Range(100.0, 140.0));
    p.cents = dice.Chance(0.4) ? std::round(dice.Range(-30.0, 30.0)) : 0.0;
    static constexpr double kLevels[] = {-1.0, -6.0, -12.0, -20.0};
    p.gainDb = kLevels[dice.Int(4)];
    p.drums = dice.Chance(0.8);
    p.borrowed = dice.Chance(0.25);
    p.modulates = !p.borrowed && dice.Chance(0.12);
    p.heldOut = i % 4 == 3;
    p.name = fmt::format("{:03d}-{}", i, p.family);
    pieces.push_back(p);
  }
  return pieces;
}

Track SynthesizeKeyPiece(const KeyPiece& piece) {
  Dice dice(piece.seed);
  // Families share names across variants: the seed picks among them.
  std::vector<const Family*> variants;
  for (const Family& f : Families())
    if (piece.family == f.name) variants.push_back(&f);
  if (variants.empty()) variants.push_back(&Families().front());
  const Family& chosen = *variants[dice.Int(static_cast<int>(variants.size()))];
  const std::vector<Chord>& base = chosen.progressions[dice.Int(static_cast<int>(chosen.progressions.size()))];
  std::vector<Chord> cycle = base;
  if (piece.borrowed) cycle[std::min<size_t>(chosen.borrowedAt, cycle.size() - 1)] = chosen.borrowed;

  static constexpr Timbre kPads[] = {kSuperSaw, kSquarePad, kPiano, kOrgan, kStrings};
  static constexpr Timbre kBasses[] = {kDistortedBass, kSquareBass, kSubBass, kPickedBass, kDistortedBass};
  const Timbre pad = kPads[dice.Int(5)], bass = kBasses[dice.Int(5)];
  const Timbre lead = dice.Chance(0.7) ? kPads[dice.Int(3)] : pad;
  const bool melody = dice.Chance(0.75), fifth_in_bass = dice.Chance(0.5), eighth_bass = dice.Chance(0.5);
  const double pad_gain = dice.Range(0.35, 0.6), bass_gain = dice.Range(0.4, 0.8), lead_gain = dice.Range(0.2, 0.4);

  const size_t frames = static_cast<size_t>(piece.seconds * kRate);
  Mix mix(frames);
  const double beat = 60.0 / piece.bpm;
  const double start = dice.Range(0.0, 0.5);
  const int tonic0 = piece.key % 12;
  double t = start;
  for (size_t c = 0; t < piece.seconds; ++c) {
    const Chord& chord = cycle[c % cycle.size()];
    const int tonic = tonic0 + (piece.modulates && t >= piece.seconds * 2.0 / 3.0 ? 2 : 0);
    const double length = chord.beats * beat;
    const std::vector<int> notes = Voicing(tonic, chord);
    // The pad: held, or struck every two beats for the piano.
    const double strike = pad == kPiano ? 2 * beat : length;
    for (double s = 0.0; s < length - 1e-9; s += strike)
      for (int midi : notes)
        RenderNote(mix, t + s, std::min(strike, length - s), Hz(midi, piece.cents), pad, pad_gain / notes.size(),
                   dice.Range(-0.5, 0.5), dice);
    // The bass: the root (and sometimes the fifth on beat three) in octave 1 or 2, on every beat or eighth.
    const int root = 24 + ((tonic + chord.root) % 12) + (dice.Chance(0.5) ? 12 : 0);
    const double note = eighth_bass ? beat / 2 : beat;
    for (int k = 0; k * note < length - 1e-9; ++k) {
      const bool on_three = fifth_in_bass && std::fmod(k * note, 4 * beat) == 2 * beat;
      RenderNote(mix, t + k * note, note * 0.85, Hz(root + (on_three ? 7 : 0), piece.cents), bass, bass_gain, 0.0, dice);
    }
    // The melody: chord tones on the beat, scale tones between, the tonic at the end of each cycle.
    if (melody) {
      for (int b = 0; b < chord.beats; ++b) {
        if (dice.Chance(0.2)) continue;
        int pitch;
        const bool cycle_end = c % cycle.size() == cycle.size() - 1 && b >= chord.beats - 2;
        if (cycle_end) pitch = tonic;
        else if (b % 2 == 0) pitch = tonic + chord.root + kIntervals[chord.quality][dice.Int(3)];
        else pitch = tonic + chosen.scale[dice.Int(7)];
        const int midi = 60 + ((pitch % 12) + 12) % 12;
        const int divisions = dice.Chance(0.3) ? 2 : 1;
        for (int d = 0; d < divisions; ++d) {
          const int m = d == 0 ? midi : 60 + (tonic + chosen.scale[dice.Int(7)]) % 12;
          RenderNote(mix, t + (b + d / 2.0) * beat, beat / divisions * 0.9, Hz(m, piece.cents), lead, lead_gain,
                     0.3, dice);
        }
      }
    }
    t += length;
  }

  double peak = 1e-9;
  for (size_t f = 0; f < frames; ++f) peak = std::max({peak, std::fabs(mix.left[f]), std::fabs(mix.right[f])});
  Track drums;
  if (piece.drums) {
    static const char* kStyles[] = {"house", "hiphop-swing", "breakbeat", "slow", "live", "techno"};
    CorpusTrack spec;
    spec.style = kStyles[dice.Int(6)];
    spec.bpm = piece.bpm;
    spec.seconds = piece.seconds;
    spec.seed = piece.seed;
    spec.firstBeat = start;
    spec.tonal = false;
    drums = SynthesizeCorpusTrack(spec);
  }
  const double drum_gain = dice.Range(0.5, 1.0);
  std::vector<double> left(frames), right(frames);
  double mix_peak = 1e-9;
  for (size_t f = 0; f < frames; ++f) {
    left[f] = mix.left[f] / peak, right[f] = mix.right[f] / peak;
    if (2 * f + 1 < drums.samples.size()) {
      left[f] += drum_gain * drums.samples[2 * f];
      right[f] += drum_gain * drums.samples[2 * f + 1];
    }
    mix_peak = std::max({mix_peak, std::fabs(left[f]), std::fabs(right[f])});
  }
  Track track;
  track.sampleRate = kRate;
  track.frames = frames;
  track.samples.resize(2 * frames);
  const double scale = std::pow(10.0, piece.gainDb / 20.0) / mix_peak;
  for (size_t f = 0; f < frames; ++f) {
    track.samples[2 * f] = static_cast<float>(left[f] * scale);
    track.samples[2 * f + 1] = static_cast<float>(right[f] * scale);
  }
  return track;
}

KeyRelation RelateKey(int32_t found, int32_t truth) {
  if (found < 0 || found > 23 || truth < 0 || truth > 23) return KeyRelation::kOther;
  if (found == truth) return KeyRelation::kExact;
  const bool found_minor = found >= 12, truth_minor = truth >= 12;
  const int32_t ft = found % 12, tt = truth % 12;
  if (found_minor == truth_minor) {
    if (ft == (tt + 7) % 12) return KeyRelation::kFifthAbove;
    if (ft == (tt + 5) % 12) return KeyRelation::kFifthBelow;
    return KeyRelation::kOther;
  }
  if (ft == tt) return KeyRelation::kParallel;
  // The relative minor lies three semitones below its major.
  if ((truth_minor && ft == (tt + 3) % 12) || (!truth_minor && ft == (tt + 9) % 12)) return KeyRelation::kRelative;
  return KeyRelation::kOther;
}

double MirexWeight(KeyRelation relation) {
  switch (relation) {
    case KeyRelation::kExact: return 1.0;
    case KeyRelation::kFifthAbove:
    case KeyRelation::kFifthBelow: return 0.5;
    case KeyRelation::kRelative: return 0.3;
    case KeyRelation::kParallel: return 0.2;
    case KeyRelation::kOther: return 0.0;
  }
  return 0.0;
}
