#include "engine/builtin_sounds.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>

// Each sound below is one formula of time; its frequencies (Hz), times (s) and decay rates (per s)
// are the sound's design and stay beside it, where they read as one recipe.

namespace {

constexpr double kRateHz = kBuiltinSoundRate;
constexpr uint32_t kNoiseSeedBase = 1234;  // + the sound number
constexpr int kNoiseShiftBits = 8;         // keep the top 24 bits of each 32-bit draw
constexpr double kNoiseScale = 1.0 / 16777216.0;  // 2^-24

// Everything a sound carries from one frame to the next; all of it starts at 0.
struct SynthState {
  std::mt19937 noise;
  double phase[3] = {};
  double lowPass = 0.0, highPass = 0.0, previous = 0.0;
};

double Sin2Pi(double phase) { return std::sin(2.0 * std::numbers::pi * phase); }
double Saw(double phase) { return 2.0 * (phase - std::floor(phase)) - 1.0; }
double DrawNoise(SynthState& s) {
  const double u = static_cast<double>(s.noise() >> kNoiseShiftBits) * kNoiseScale;
  return 2.0 * u - 1.0;
}
// Returns the phase for this frame, then advances it by one frame at `hz`. The phase is kept in
// [0, 1) so long sounds keep their precision.
double Step(double& phase, double hz) {
  const double now = phase;
  phase += hz / kRateHz;
  phase -= std::floor(phase);
  return now;
}

// 0. HORN: four notes of three detuned sawtooths with a slight vibrato.
constexpr std::array<double, 4> kHornNoteStartS = {0.0, 0.22, 0.44, 0.7};
constexpr std::array<double, 4> kHornNoteLengthS = {0.16, 0.16, 0.16, 1.15};
constexpr double kHornAttackS = 0.01, kHornReleaseS = 0.03;
double Horn(SynthState& s, double t) {
  double envelope = 0.0;
  for (size_t i = 0; i < kHornNoteStartS.size(); ++i) {
    const double start = kHornNoteStartS[i], end = start + kHornNoteLengthS[i];
    if (t >= start && t < end) envelope = std::min({1.0, (t - start) / kHornAttackS, (end - t) / kHornReleaseS});
  }
  const double f = 415.0 * (1.0 + 0.01 * std::sin(2.0 * std::numbers::pi * 6.0 * t));
  const double a = Saw(Step(s.phase[0], f));
  const double b = Saw(Step(s.phase[1], 1.5 * f));
  const double c = Saw(Step(s.phase[2], 1.006 * f));
  return (a + 0.7 * b + c) * envelope * 0.28;
}

// 1. SIREN: a sine swept by a slow sine, faded out over the last 0.2 s.
double Siren(SynthState& s, double t) {
  const double f = 750.0 + 450.0 * std::sin(2.0 * std::numbers::pi * 1.6 * t);
  return 0.5 * Sin2Pi(Step(s.phase[0], f)) * std::min((2.4 - t) / 0.2, 1.0);
}

// 2. LASER: a falling square wave.
double Laser(SynthState& s, double t) {
  const double f = 90.0 + 3200.0 * std::exp(-7.0 * t);
  const double square = Sin2Pi(Step(s.phase[0], f)) > 0.0 ? 0.55 : -0.55;
  return square * std::exp(-5.0 * t) * 0.6;
}

// 3. KICK: a sine whose pitch drops fast.
double Kick(SynthState& s, double t) {
  const double f = 48.0 + 120.0 * std::exp(-30.0 * t);
  return 0.95 * Sin2Pi(Step(s.phase[0], f)) * std::exp(-6.0 * t);
}

// 4. CLAP: three bursts of band-limited noise; the last one rings longer.
constexpr std::array<double, 3> kClapHitS = {0.0, 0.011, 0.023};
constexpr double kClapShortHitBeforeS = 0.02;
constexpr double kClapShortDecayPerS = 180.0, kClapLongDecayPerS = 22.0;
double Clap(SynthState& s, double t) {
  double envelope = 0.0;
  for (double hit : kClapHitS)
    if (t >= hit) {
      const double rate = hit < kClapShortHitBeforeS ? kClapShortDecayPerS : kClapLongDecayPerS;
      envelope = std::max(envelope, std::exp(-(t - hit) * rate));
    }
  const double previous = s.lowPass;
  s.lowPass += (DrawNoise(s) - s.lowPass) * 0.35;
  s.highPass = (s.highPass + s.lowPass - previous) * 0.9;
  return s.highPass * envelope * 1.4;
}

// 5. RISER: a sine and noise rising together over four seconds.
double Riser(SynthState& s, double t) {
  const double u = t / 4.0;
  const double f = 200.0 * std::pow(20.0, u);
  s.lowPass += (DrawNoise(s) - s.lowPass) * (0.5 * u + 0.02);
  return (0.2 * Sin2Pi(Step(s.phase[0], f)) + 0.35 * s.lowPass) * u * std::min((4.0 - t) / 0.05, 1.0);
}

// 6. BOOM: a low falling sine with a noise attack.
double Boom(SynthState& s, double t) {
  const double f = 30.0 + 70.0 * std::exp(-3.0 * t);
  const double noise = DrawNoise(s);
  return 0.4 * noise * std::exp(-40.0 * t) + 0.9 * Sin2Pi(Step(s.phase[0], f)) * std::exp(-1.6 * t);
}

// 7. HAT: a short burst of high-passed noise.
double Hat(SynthState& s, double t) {
  const double noise = DrawNoise(s);
  s.highPass = (s.highPass + noise - s.previous) * 0.7;
  s.previous = noise;
  return std::exp(-30.0 * t) * s.highPass * 0.5;
}

struct BuiltinSound {
  const wchar_t* name;
  double seconds;
  double (*sample)(SynthState&, double t);  // one mono value per frame, in frame order
};

constexpr std::array<BuiltinSound, kBuiltinSoundCount> kBuiltinSounds = {{
    {.name = L"HORN", .seconds = 1.9, .sample = Horn},
    {.name = L"SIREN", .seconds = 2.4, .sample = Siren},
    {.name = L"LASER", .seconds = 0.6, .sample = Laser},
    {.name = L"KICK", .seconds = 0.5, .sample = Kick},
    {.name = L"CLAP", .seconds = 0.35, .sample = Clap},
    {.name = L"RISER", .seconds = 4.0, .sample = Riser},
    {.name = L"BOOM", .seconds = 2.5, .sample = Boom},
    {.name = L"HAT", .seconds = 0.2, .sample = Hat},
}};
constexpr int32_t kFallbackSound = 7;  // HAT stands in for every number outside the table

}  // namespace

TrackPtr MakeBuiltinSound(int32_t n, std::wstring* name) {
  const BuiltinSound& sound = kBuiltinSounds[n >= 0 && n < kBuiltinSoundCount ? n : kFallbackSound];
  SynthState state;
  // Unsigned arithmetic: every n, negative ones too, gets a well-defined seed.
  state.noise.seed(kNoiseSeedBase + static_cast<uint32_t>(n));

  auto track = std::make_shared<Track>();
  track->title = sound.name;
  track->sampleRate = kBuiltinSoundRate;
  track->frames = static_cast<uint64_t>(sound.seconds * kRateHz);
  track->samples.resize(2 * track->frames);
  for (uint64_t frame = 0; frame < track->frames; ++frame) {
    const double t = static_cast<double>(frame) / kRateHz;
    const float value = static_cast<float>(std::clamp(sound.sample(state, t), -1.0, 1.0));
    track->samples[2 * frame] = value;
    track->samples[2 * frame + 1] = value;
  }
  if (name) *name = sound.name;
  return track;
}
