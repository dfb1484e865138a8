#include "settings/demo_tracks.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "base/files.h"
#include "base/test_mode.h"
#include "engine/render_helpers.h"
#include "platform/folders.h"

std::atomic<int32_t> DemoTrackState{kDemoIdle};
std::wstring DemoTrackError;

std::wstring (*TestOutputPathHook)() = nullptr;

std::wstring DemoTracksFolder() {
  const std::wstring testOutput = TestOutputPathHook ? TestOutputPathHook() : std::wstring();
  return JoinPath(TestMode ? testOutput : AppDataDir(), L"Demo Tracks");
}

const std::array<DemoTrackSpec, 2> DemoTrackSpecs = {{
    {.title = L"Neon Drive",
     .tempo = 124.0,
     .bassRoots = {33, 29, 38, 40},
     .chords = {{{57, 60, 64}, {57, 60, 65}, {57, 62, 65}, {56, 59, 64}}},
     .bassSteps = {2, 6, 10, 14, -1, -1, -1, -1},
     .bassLength = 1.6,
     .stabSteps = {3, 6, 10, -1},
     .arpeggioPattern = {0, 1, 2, 1},
     .seed = 11},
    {.title = L"Midnight Run",
     .tempo = 126.0,
     .bassRoots = {28, 36, 33, 35},
     .chords = {{{55, 59, 64}, {55, 60, 64}, {57, 60, 64}, {54, 59, 63}}},
     .bassSteps = {2, 3, 6, 7, 10, 11, 14, 15},
     .bassLength = 0.8,
     .stabSteps = {2, 6, 10, 14},
     .arpeggioPattern = {0, 2, 1, 2},
     .seed = 23},
}};

namespace {

constexpr double kRate = kDemoSampleRate;
constexpr double kMinCutoffHz = 20.0;
constexpr double kMaxCutoffHz = 19845.0;  // 0.45 x the rate keeps tan() well away from its pole
constexpr size_t kCutoffStep = 16;        // moving cutoffs are recomputed every 16 samples

constexpr size_t kKickSamples = 18522;   // 0.42 s
constexpr size_t kClapSamples = 13230;   // 0.3 s
constexpr size_t kCrashSamples = 97020;  // 2.2 s
constexpr size_t kBassReleaseSamples = 400;

double Pitch(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }
double Frac(double x) { return x - std::floor(x); }
double Saw(double phase) { return 2.0 * Frac(phase) - 1.0; }
double Square(double phase) { return Frac(phase) < 0.5 ? 1.0 : -1.0; }
size_t SecondsToSamples(double seconds) { return seconds > 0.0 ? static_cast<size_t>(seconds * kRate) : 0; }

// Adds one stereo frame at sample i of a voice that starts at `first`; drops frames past the end.
struct VoiceOut {
  std::vector<float>* bus;
  size_t first;
  size_t frames;
  // Samples a voice may write before the bus ends.
  size_t Room(size_t length) const { return first >= frames ? 0 : std::min(length, frames - first); }
  void Add(size_t i, double left, double right) const {
    float* f = bus->data() + 2 * (first + i);
    f[0] += static_cast<float>(left);
    f[1] += static_cast<float>(right);
  }
};

VoiceOut Out(DemoRender& r, std::vector<float>& bus, double start) {
  return VoiceOut{&bus, SecondsToSamples(start), r.frames};
}

}  // namespace

DemoRender MakeDemoRender(size_t frames, uint32_t seed) {
  DemoRender r;
  r.frames = frames;
  r.drums.assign(2 * frames, 0.0f);
  r.music.assign(2 * frames, 0.0f);
  r.lead.assign(2 * frames, 0.0f);
  r.noise.seed(seed);
  return r;
}

double DemoNoise(DemoRender& render) {
  const uint64_t a = render.noise();
  const uint64_t b = render.noise();
  const double fraction = static_cast<double>((b << 21) + (a >> 11)) * 0x1.0p-53;
  return -1.0 + 2.0 * fraction;
}

void SetDemoFilter(DemoFilter& f, double hz, double q) {
  const double fc = std::clamp(hz, kMinCutoffHz, kMaxCutoffHz);
  f.k = 1.0 / q;
  const double g = std::tan(std::numbers::pi * fc / kRate);
  f.a1 = 1.0 / (1.0 + g * (g + f.k));
  f.a2 = g * f.a1;
  f.a3 = g * f.a2;
}

void ProcessDemoFilter(DemoFilter& f, double x) {
  const double d = x - f.s2;
  f.band = f.a1 * f.s1 + f.a2 * d;
  f.low = f.s2 + f.a2 * f.s1 + f.a3 * d;
  f.s1 = 2.0 * f.band - f.s1;
  f.s2 = 2.0 * f.low - f.s2;
  f.high = x - f.k * f.band - f.low;
}

// Noise is drawn only for samples that land in the bus, so a voice cut at the end draws fewer
// values; that keeps every voice's work bounded by the bus and is still deterministic.
void DemoKick(DemoRender& r, double start) {
  constexpr double kClickSeconds = 0.003;
  const VoiceOut out = Out(r, r.drums, start);
  r.kickTimes.push_back(start);
  double phase = 0.0;
  for (size_t i = 0, n = out.Room(kKickSamples); i < n; ++i) {
    const double t = i / kRate;
    double v = std::exp(-6.5 * t) * std::sin(kTwoPi * phase) * 0.95;
    if (t < kClickSeconds) v += DemoNoise(r) * 0.25 * (1.0 - t / kClickSeconds);
    phase += (46.0 + 115.0 * std::exp(-32.0 * t)) / kRate;
    out.Add(i, v, v);
  }
}

void DemoClap(DemoRender& r, double start) {
  struct Burst {
    double onset, rate;
  };
  static constexpr Burst kBursts[] = {{0.0, 220.0}, {0.009, 220.0}, {0.019, 18.0}};
  const VoiceOut out = Out(r, r.drums, start);
  DemoFilter f;
  SetDemoFilter(f, 1400.0, 1.2);
  for (size_t i = 0, n = out.Room(kClapSamples); i < n; ++i) {
    const double t = i / kRate;
    double env = 0.0;
    for (const Burst& b : kBursts)
      if (t >= b.onset) env = std::max(env, std::exp(-(t - b.onset) * b.rate));
    ProcessDemoFilter(f, DemoNoise(r));
    const double v = f.band * env * 0.85;
    out.Add(i, 0.9 * v, v);
  }
}

void DemoHat(DemoRender& r, double start, bool open, double level, double pan) {
  const VoiceOut out = Out(r, r.drums, start);
  DemoFilter f;
  SetDemoFilter(f, open ? 7500.0 : 9000.0, 0.8);
  const double decay = open ? 16.0 : 75.0;
  const double gain = level * (open ? 0.16 : 0.13);
  for (size_t i = 0, n = out.Room(SecondsToSamples(open ? 0.22 : 0.05)); i < n; ++i) {
    const double t = i / kRate;
    ProcessDemoFilter(f, DemoNoise(r));
    const double v = f.high * std::exp(-decay * t) * gain;
    out.Add(i, (1.0 - pan) * v, (1.0 + pan) * v);
  }
}

void DemoCrash(DemoRender& r, double start) {
  const VoiceOut out = Out(r, r.drums, start);
  DemoFilter f;
  SetDemoFilter(f, 5000.0, 0.7);
  for (size_t i = 0, n = out.Room(kCrashSamples); i < n; ++i) {
    const double env = std::exp(-2.2 * (i / kRate)) * 0.12;
    ProcessDemoFilter(f, DemoNoise(r));
    const double right = f.high * env;
    ProcessDemoFilter(f, DemoNoise(r));
    const double left = f.high * env;
    out.Add(i, left, right);
  }
}

void DemoRiser(DemoRender& r, double start, double length) {
  const VoiceOut out = Out(r, r.drums, start);
  const size_t n = SecondsToSamples(length);
  DemoFilter f;
  for (size_t i = 0, room = out.Room(n); i < room; ++i) {
    const double p = static_cast<double>(i) / n;
    if (i % kCutoffStep == 0) SetDemoFilter(f, 300.0 * std::pow(25.0, p), 2.5);
    ProcessDemoFilter(f, DemoNoise(r));
    const double v = f.band * p * p * 0.35;
    out.Add(i, v, v);
  }
}

void DemoBass(DemoRender& r, double start, double length, double note, double brightness) {
  const VoiceOut out = Out(r, r.music, start);
  const size_t n = SecondsToSamples(length);
  const double step = Pitch(note) / kRate;
  double phase = 0.0;
  DemoFilter f;
  for (size_t i = 0, room = out.Room(n + kBassReleaseSamples); i < room; ++i) {
    const double t = i / kRate;
    if (i % kCutoffStep == 0) SetDemoFilter(f, 180.0 + 1100.0 * brightness * std::exp(-14.0 * t), 1.4);
    ProcessDemoFilter(f, Saw(phase));
    const double release = i < n ? 1.0 : 1.0 - static_cast<double>(i - n) / kBassReleaseSamples;
    const double v = (0.45 * std::sin(kTwoPi * phase) + 0.55 * f.low) * std::min(t / 0.003, 1.0) * release * 0.42;
    phase += step;
    out.Add(i, v, v);
  }
}

void DemoChord(DemoRender& r, double start, double length, const std::array<double, 3>& chord, bool pad) {
  static constexpr double kDetune[3] = {-0.07, 0.0, 0.08};  // semitones
  const VoiceOut out = Out(r, r.music, start);
  const size_t n = SecondsToSamples(length);
  const size_t releaseSamples = SecondsToSamples(pad ? 0.6 : 0.08);
  double steps[9], phases[9] = {};
  for (int note = 0; note < 3; ++note)
    for (int d = 0; d < 3; ++d) steps[note * 3 + d] = Pitch(chord[note] + kDetune[d]) / kRate;
  const double q = pad ? 0.9 : 1.3;
  DemoFilter left, right;
  for (size_t i = 0, room = out.Room(n + releaseSamples); i < room; ++i) {
    const double t = i / kRate;
    if (i % kCutoffStep == 0) {
      const double m = pad ? std::sin(0.7 * t) : std::exp(-12.0 * t);
      const double c = pad ? 900.0 + 500.0 * m : 600.0 + 2600.0 * m;
      SetDemoFilter(left, c, q);
      SetDemoFilter(right, 1.03 * c, q);
    }
    double l = 0.0, rr = 0.0;
    for (int note = 0; note < 3; ++note) {
      const double lo = Saw(phases[note * 3]), mid = Saw(phases[note * 3 + 1]), hi = Saw(phases[note * 3 + 2]);
      l += lo + mid;
      rr += mid + hi;
    }
    for (int k = 0; k < 9; ++k) phases[k] += steps[k];
    ProcessDemoFilter(left, l);
    ProcessDemoFilter(right, rr);
    const double release = i < n ? 1.0 : 1.0 - static_cast<double>(i - n) / releaseSamples;
    const double level = pad ? std::min(t / 0.7, 1.0) * 0.035
                             : std::min(t / 0.004, 1.0) * std::exp(-4.5 * t) * 0.06;
    out.Add(i, left.low * level * release, right.low * level * release);
  }
}

void DemoLead(DemoRender& r, double start, double length, double note, double pan) {
  constexpr double kSounding = 1.8;  // notes ring past their step into the next
  const VoiceOut out = Out(r, r.lead, start);
  const double step = Pitch(note) / kRate;
  double phase = 0.0;
  DemoFilter f;
  for (size_t i = 0, room = out.Room(SecondsToSamples(kSounding * length)); i < room; ++i) {
    const double t = i / kRate;
    if (i % kCutoffStep == 0) SetDemoFilter(f, 500.0 + 4500.0 * std::exp(-22.0 * t), 1.6);
    ProcessDemoFilter(f, Square(phase));
    phase += step;
    const double v = f.low * std::exp(-9.0 * t) * std::min(t / 0.002, 1.0) * 0.09;
    out.Add(i, (1.0 - pan) * v, (1.0 + pan) * v);
  }
}

size_t DemoTrackFrames(double tempo) {
  // Summed in whole-song form so 126 BPM lands on its exact 5,486,250 rather than a hair below.
  const double seconds = kDemoBars * 4 * 60.0 / tempo + kDemoTailSeconds;
  return static_cast<size_t>(seconds * kRate + 1e-7);
}

namespace {

void RenderBar(DemoRender& r, const DemoTrackSpec& spec, int b) {
  const double beat = 60.0 / spec.tempo, sixteenth = beat / 4.0, bar = 4.0 * beat;
  const double T = b * bar;
  const int c = b % 4;
  const bool breakdown = b >= 32 && b <= 39;
  const bool peak = b >= 40 && b <= 55;
  if (!breakdown) {
    for (int k = 0; k < 4; ++k) DemoKick(r, T + k * beat);
    if (b >= 12 && b <= 59) {
      DemoClap(r, T + beat);
      DemoClap(r, T + 3 * beat);
    }
  }
  for (int s = 0; s < 16; ++s) {
    const double at = T + s * sixteenth;
    if (breakdown) {
      if (b >= 36 && s % 4 == 2) DemoHat(r, at, false, (b - 35) / 5.0, 0.2);
    } else if (b >= 4) {
      const bool even = s % 2 == 0;
      DemoHat(r, at, false, even ? 0.85 : 0.55, even ? 0.3 : -0.25);
      if (b >= 8 && s % 4 == 2) DemoHat(r, at, true, 1.0, 0.0);
    }
  }
  if (b == 16 || b == 40) DemoCrash(r, T);
  if (b == 36) DemoRiser(r, T, 4 * bar);
  if (b >= 8 && b <= 59 && !breakdown) {
    const double brightness = b < 16 ? (b - 8) * 0.0625 + 0.25 : peak ? 1.0 : 0.8;
    for (int32_t p : spec.bassSteps) {
      if (p < 0) continue;
      const double note = spec.bassRoots[c] + (peak && p == 14 ? 12.0 : 0.0);
      DemoBass(r, T + p * sixteenth, spec.bassLength * sixteenth, note, brightness);
    }
  }
  if ((b >= 16 && b <= 31) || peak)
    for (int32_t p : spec.stabSteps)
      if (p >= 0) DemoChord(r, T + p * sixteenth, 1.2 * sixteenth, spec.chords[c], false);
  if (b >= 32 && b <= 43) DemoChord(r, T, bar, spec.chords[c], true);
  if (b >= 32 && b <= 55)
    for (int s = 0; s < 16; ++s) {
      const int32_t index = std::clamp(spec.arpeggioPattern[s % 4], 0, 2);
      const double note = spec.chords[c][index] + 12.0 + (s >= 12 && b % 2 == 1 ? 12.0 : 0.0);
      DemoLead(r, T + s * sixteenth, sixteenth, note, s % 2 == 0 ? -0.35 : 0.35);
    }
}

}  // namespace

DemoAudio RenderDemoTrack(const DemoTrackSpec& spec) {
  const size_t frames = DemoTrackFrames(spec.tempo);
  DemoRender r = MakeDemoRender(frames, spec.seed);
  for (int b = 0; b < kDemoBars; ++b) RenderBar(r, spec, b);

  // Cross-channel feedback echo, in place so earlier echoes repeat.
  constexpr double kEchoFeedback = 0.4;
  const size_t d = static_cast<size_t>(3.0 * (60.0 / spec.tempo / 4.0) * kRate);
  float* lead = r.lead.data();
  for (size_t i = std::max<size_t>(d, 1); i < frames; ++i) {
    lead[2 * i] += static_cast<float>(kEchoFeedback * lead[2 * (i - d) + 1]);
    lead[2 * i + 1] += static_cast<float>(kEchoFeedback * lead[2 * (i - d)]);
  }

  // Sidechain ducking from the latest kick, then soft clip.
  constexpr double kNoKickSeconds = -10.0;
  DemoAudio audio;
  audio.frames = frames;
  audio.samples.resize(2 * frames);
  size_t nextKick = 0;
  double lastKick = kNoKickSeconds;
  for (size_t i = 0; i < frames; ++i) {
    const double t = i / kRate;
    while (nextKick < r.kickTimes.size() && r.kickTimes[nextKick] <= t) lastKick = r.kickTimes[nextKick++];
    const double duck = 1.0 - 0.65 * std::exp(-(t - lastKick) / 0.11);
    for (size_t ch = 0; ch < 2; ++ch) {
      const size_t k = 2 * i + ch;
      const double mixed = (static_cast<double>(r.music[k]) + r.lead[k]) * duck + r.drums[k];
      audio.samples[k] = static_cast<float>(std::tanh(mixed * 1.1));
    }
  }

  float peak = 0.0f;
  for (float s : audio.samples) peak = std::max(peak, std::fabs(s));
  if (peak > 0.0f) {
    const double scale = kDemoPeak / peak;
    for (float& s : audio.samples) s = static_cast<float>(s * scale);
  }
  return audio;
}
