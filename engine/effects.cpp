#include "engine/effects.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <numbers>
#include <utility>

#include "engine/engine.h"  // AssertNotAudioThread
#include "engine/render_helpers.h"

int NearestBeatLength(float beats) {
  int best = 0;
  for (int k = 1; k < kBeatLengthCount; ++k)
    if (std::fabs(kBeatLengths[k] - beats) < std::fabs(kBeatLengths[best] - beats)) best = k;
  return best;
}

float StepBeatLength(float beats, bool back) {
  return kBeatLengths[(NearestBeatLength(beats) + (back ? kBeatLengthCount - 1 : 1)) % kBeatLengthCount];
}

namespace {

// Line sizes.
constexpr double kLongLineSeconds = 8.0;  // echo, stutter capture, dub echo
constexpr int32_t kFlangerLineDivisor = 50;  // rate / 50 frames = 20 ms
constexpr int32_t kChorusLineDivisor = 20;   // rate / 20 frames = 50 ms
constexpr int32_t kMinShortLineFrames = 4;
constexpr int32_t kMaxEffectRate = 384000;   // Hz; above it a unit stays off rather than allocate GBs
constexpr double kReverbReferenceRate = 44100.0;  // Hz the comb lengths are given at
constexpr int32_t kReverbCombSamples[4] = {1116, 1188, 1277, 1356};
constexpr int32_t kReverbAllPassSamples[2] = {556, 441};
constexpr int32_t kReverbStereoSpread = 23;  // samples the right channel's lines are longer
constexpr float kReverbInputGain = 0.015f;
constexpr float kReverbAllPassFeedback = 0.5f;
constexpr double kReverbTailSeconds = 8.0;

// Timing.
constexpr double kMinBeatSeconds = 0.2, kMaxBeatSeconds = 2.0, kFallbackBeatSeconds = 0.5;
constexpr int32_t kMinStutterSamples = 64;
constexpr double kGateRampSeconds = 0.003;
constexpr float kGateSettled = 0.999f;
constexpr float kLevelStepPerFrame = 0.002f;  // smoothed levels: ~10 ms from 0 to 1 at 48 kHz
constexpr float kLevelAudible = 0.0005f;      // an effect runs while its level is above this
constexpr int32_t kRetuneFrames = 16;         // the swept filters are re-tuned this often

// FLANGER.
constexpr double kFlangerMinDelaySeconds = 0.0007, kFlangerSweepSeconds = 0.0045;
constexpr float kFlangerFeedback = 0.6f, kFlangerMix = 0.75f;
// PHASER.
constexpr double kPhaserLowHz = 250.0, kPhaserSweepHz = 2600.0;
constexpr double kPhaserMaxOfRate = 0.45;  // keeps tan(pi f / rate) finite at low rates
constexpr double kPhaserFeedback = 0.55;
constexpr float kPhaserMix = 0.85f;
// AUTO-WAH.
constexpr double kAutoWahBaseHz = 280.0, kAutoWahRange = 18.0, kAutoWahMaxOfRate = 0.4;
constexpr double kAutoWahDamping = 0.4, kAutoWahGain = 0.9;
// NOISE: high-pass at 400 x 30^amount Hz.
constexpr double kNoiseHighPassHz = 400.0, kNoiseHighPassRange = 30.0, kNoiseMaxOfRate = 0.45;
constexpr double kNoiseQ = 0.8;
constexpr uint32_t kLcgMultiplier = 1664525u, kLcgIncrement = 1013904223u;
// STUTTER.
constexpr int32_t kStutterFadeFrames = 64;
// CHORUS.
constexpr double kChorusLfoHz = 0.8, kChorusBaseSeconds = 0.012, kChorusSweepSeconds = 0.01;
constexpr double kChorusVoiceOffset = 0.25;  // LFO cycles between the two voices
constexpr float kChorusNormalise = 0.5f;
// DRIVE, ROBOT, TELEPHONE.
constexpr float kDriveCeiling = 0.85f;
constexpr float kRobotSaturation = 2.0f;
constexpr double kTelephoneLowHz = 450.0, kTelephoneHighHz = 3200.0, kTelephoneQ = 0.7;
constexpr float kTelephoneSaturation = 2.5f, kTelephoneGain = 0.6f;
// SWEEP.
constexpr double kSweepBaseHz = 150.0, kSweepRange = 80.0, kSweepMaxOfRate = 0.42;
constexpr double kSweepDamping = 1.0 / 3.0;
// DUB ECHO.
constexpr float kDubFollow = 0.22f;

// --- Sizes for a rate (monotonic in rate, so storage for a higher rate fits a lower one) ---

int32_t LongLineFrames(int32_t rate) { return static_cast<int32_t>(kLongLineSeconds * rate); }
int32_t FlangerFrames(int32_t rate) { return std::max(rate / kFlangerLineDivisor, kMinShortLineFrames); }
int32_t ChorusFrames(int32_t rate) { return std::max(rate / kChorusLineDivisor, kMinShortLineFrames); }
int32_t ReverbSamples(int32_t base, int channel, int32_t rate) {
  const double scaled = (base + channel * kReverbStereoSpread) * (rate / kReverbReferenceRate);
  return std::max(1, static_cast<int32_t>(std::lround(scaled)));
}

double Frac(double x) { return x - std::floor(x); }

float MoveToward(float now, float target, float step) {
  if (now < target) return std::min(now + step, target);
  if (now > target) return std::max(now - step, target);
  return now;
}

float SmoothLevel(EffectUnit& u, int effect) {
  u.levelNow[effect] = MoveToward(u.levelNow[effect], u.levelTarget[effect], kLevelStepPerFrame);
  return u.levelNow[effect];
}

bool On(const EffectUnit& u, int effect) { return (u.mask & EffectBit(effect)) != 0; }

// Linear read `delay` samples behind the write position of an interleaved stereo line.
float ReadLine(const std::vector<float>& line, int32_t frames, int32_t write, double delay, int channel) {
  double pos = write - delay;
  while (pos < 0.0) pos += frames;
  const int32_t i0 = static_cast<int32_t>(pos) % frames;
  const int32_t i1 = (i0 + 1) % frames;
  const float t = static_cast<float>(pos - std::floor(pos));
  const float a = line[2 * i0 + channel];
  return a + (line[2 * i1 + channel] - a) * t;
}

void TuneSvf(StateVariableFilter& f, double hz, double damping, int32_t rate) {
  const double g = std::tan(std::numbers::pi * hz / rate);
  f.a1 = 1.0 / (1.0 + g * (g + damping));
  f.a2 = g * f.a1;
  f.a3 = g * f.a2;
}

// One sample through the state-variable filter; returns its low-pass output.
double SvfLowPass(StateVariableFilter& f, int channel, double x) {
  const double v3 = x - f.ic2[channel];
  const double v1 = f.a1 * f.ic1[channel] + f.a2 * v3;
  const double v2 = f.ic2[channel] + f.a2 * f.ic1[channel] + f.a3 * v3;
  f.ic1[channel] = 2.0 * v1 - f.ic1[channel];
  f.ic2[channel] = 2.0 * v2 - f.ic2[channel];
  return v2;
}

float NextNoise(uint32_t& state) {
  state = state * kLcgMultiplier + kLcgIncrement;
  return static_cast<float>(state * (2.0 / 4294967296.0) - 1.0);
}

void ClearFrames(std::vector<float>& line, int32_t frames) {
  std::fill_n(line.begin(), 2 * static_cast<size_t>(frames), 0.0f);
}

// Lays the lines out for rate inside the prepared storage and returns every state to its start.
// No allocation: the storage is moved out and back around a fresh unit.
void LayOut(EffectUnit& u, int32_t rate) {
  EffectUnit fresh;
  fresh.capacityRate = u.capacityRate;
  fresh.echoLine = std::move(u.echoLine);
  fresh.flangerLine = std::move(u.flangerLine);
  fresh.chorusLine = std::move(u.chorusLine);
  fresh.stutterCapture = std::move(u.stutterCapture);
  fresh.dubLine = std::move(u.dubLine);
  for (int c = 0; c < 2; ++c) {
    for (int k = 0; k < 4; ++k) fresh.reverb.comb[c][k] = std::move(u.reverb.comb[c][k]);
    for (int k = 0; k < 2; ++k) fresh.reverb.allPass[c][k] = std::move(u.reverb.allPass[c][k]);
  }
  u = std::move(fresh);

  u.rate = rate;
  u.echoFrames = LongLineFrames(rate);
  u.stutterFrames = LongLineFrames(rate);
  u.dubFrames = LongLineFrames(rate);
  u.flangerFrames = FlangerFrames(rate);
  u.chorusFrames = ChorusFrames(rate);
  ClearFrames(u.echoLine, u.echoFrames);
  ClearFrames(u.stutterCapture, u.stutterFrames);
  ClearFrames(u.dubLine, u.dubFrames);
  ClearFrames(u.flangerLine, u.flangerFrames);
  ClearFrames(u.chorusLine, u.chorusFrames);
  for (int c = 0; c < 2; ++c) {
    for (int k = 0; k < 4; ++k) {
      u.reverb.combLength[c][k] = ReverbSamples(kReverbCombSamples[k], c, rate);
      std::fill_n(u.reverb.comb[c][k].begin(), u.reverb.combLength[c][k], 0.0f);
    }
    for (int k = 0; k < 2; ++k) {
      u.reverb.allPassLength[c][k] = ReverbSamples(kReverbAllPassSamples[k], c, rate);
      std::fill_n(u.reverb.allPass[c][k].begin(), u.reverb.allPassLength[c][k], 0.0f);
    }
    DesignHighPass(u.telephoneHighPass[c], kTelephoneLowHz, kTelephoneQ, rate);
    DesignLowPass(u.telephoneLowPass[c], kTelephoneHighHz, kTelephoneQ, rate);
  }
  u.reverbTail = static_cast<uint64_t>(kReverbTailSeconds * rate);  // no tail yet
}

}  // namespace

void PrepareEffectUnit(EffectUnit& unit, int32_t rate) {
  if (rate <= 0 || rate > kMaxEffectRate) {
    unit.rate = 0;
    return;
  }
  if (rate > unit.capacityRate) {
    AssertNotAudioThread();
    const size_t longFloats = 2 * static_cast<size_t>(LongLineFrames(rate));
    unit.echoLine.assign(longFloats, 0.0f);
    unit.stutterCapture.assign(longFloats, 0.0f);
    unit.dubLine.assign(longFloats, 0.0f);
    unit.flangerLine.assign(2 * static_cast<size_t>(FlangerFrames(rate)), 0.0f);
    unit.chorusLine.assign(2 * static_cast<size_t>(ChorusFrames(rate)), 0.0f);
    for (int c = 0; c < 2; ++c) {
      for (int k = 0; k < 4; ++k)
        unit.reverb.comb[c][k].assign(ReverbSamples(kReverbCombSamples[k], c, rate), 0.0f);
      for (int k = 0; k < 2; ++k)
        unit.reverb.allPass[c][k].assign(ReverbSamples(kReverbAllPassSamples[k], c, rate), 0.0f);
    }
    unit.capacityRate = rate;
  }
  LayOut(unit, rate);
}

void UpdateEffectUnit(EffectUnit& u, uint32_t mask, const float amounts[kEffectCount],
                      const float params[kEffectCount], double beatLength, int32_t rate) {
  if (rate != u.rate) {
    if (rate > 0 && rate <= u.capacityRate) {
      LayOut(u, rate);
    } else {
      u.rate = 0;  // not prepared for this rate: pass the signal through
      return;
    }
  }
  const double beatSeconds = std::isfinite(beatLength)
                                 ? std::clamp(beatLength, kMinBeatSeconds, kMaxBeatSeconds)
                                 : kFallbackBeatSeconds;
  u.mask = 0;
  float amount[kEffectCount];
  float level[kEffectCount];
  float extra[kEffectCount];
  double beats[kEffectCount];
  for (int i = 0; i < kEffectCount; ++i) {
    const EffectInfo& info = kEffects[i];
    const float a = std::isfinite(amounts[i]) ? std::clamp(amounts[i], 0.0f, 1.0f) : 0.0f;
    amount[i] = a;
    level[i] = info.levelBase + info.levelSpan * a;
    extra[i] = info.extraBase + info.extraSpan * a;
    beats[i] = params[i] > 0.0f && std::isfinite(params[i]) ? params[i] : info.defaultBeats;
    if (info.inUnit && (mask & EffectBit(i))) u.mask |= EffectBit(i);
    u.levelTarget[i] = On(u, i) ? level[i] : 0.0f;
  }
  const double samplesPerBeat = beatSeconds * u.rate;
  auto samples = [&](int effect, int32_t lowest, int32_t highest) {
    const double wanted = std::round(beats[effect] * samplesPerBeat);
    return static_cast<int32_t>(std::clamp<double>(wanted, lowest, highest));
  };

  // The echoes keep their wet level and feedback while off so their tails ring out.
  u.echoWet = level[kFxEcho];
  u.echoFeedback = extra[kFxEcho];
  u.echoDelay = samples(kFxEcho, 1, u.echoFrames);
  u.dubWet = level[kFxDubEcho];
  u.dubFeedback = extra[kFxDubEcho];
  u.dubDelay = samples(kFxDubEcho, 1, u.dubFrames);
  u.reverbWet = level[kFxReverb];
  if (On(u, kFxReverb)) u.reverbTail = 0;

  u.flangerStep = 1.0 / (beats[kFxFlanger] * samplesPerBeat);
  u.phaserStep = 1.0 / (beats[kFxPhaser] * beatSeconds);
  u.crushLevels = std::exp2(level[kFxCrush]);
  u.crushHold = static_cast<int32_t>(std::floor(extra[kFxCrush]));
  u.gateDepth = level[kFxGate];
  u.gatePeriod = beats[kFxGate];
  u.gateStep = static_cast<float>(1.0 / (kGateRampSeconds * u.rate));
  u.autoWahPeriod = beats[kFxAutoWah];
  u.tremoloPeriod = beats[kFxTremolo];
  u.tremoloDepth = extra[kFxTremolo];
  u.drive = extra[kFxDrive];
  u.robotHz = extra[kFxRobot];
  u.sweepPeriod = beats[kFxSweep];

  const double noiseHz = std::min(kNoiseHighPassHz * std::pow(kNoiseHighPassRange, amount[kFxNoise]),
                                  kNoiseMaxOfRate * u.rate);
  if (noiseHz != u.noiseHz) {
    u.noiseHz = noiseHz;
    for (int c = 0; c < 2; ++c) DesignHighPass(u.noiseHighPass[c], noiseHz, kNoiseQ, u.rate);
  }

  u.stutterBeats = beats[kFxStutter];
  u.stutterSlice = samples(kFxStutter, std::min(kMinStutterSamples, u.stutterFrames), u.stutterFrames);
  if (On(u, kFxStutter)) {
    if (u.stutterMode == kStutterOff) {
      u.stutterMode = kStutterWaiting;
      u.stutterNoted = false;
    }
  } else if (u.stutterMode == kStutterWaiting || u.stutterMode == kStutterRecording) {
    u.stutterMode = kStutterOff;  // nothing heard yet: stop at once
  }
}

namespace {

// --- One function per effect: runs one stereo frame x[0], x[1] through it in place ---
// Inlined into ProcessEffectUnit, which calls them in a fixed order, as one loop body would be.

// GATE: square gain in the beat, ramped over 3 ms; after switching off it ramps back to 1.
[[gnu::always_inline]] inline void RunGate(EffectUnit& u, float* x, double beat) {
  if (!On(u, kFxGate) && u.gateGain == 1.0f) return;
  float target = 1.0f;
  if (On(u, kFxGate) && Frac(beat / u.gatePeriod) >= 0.5) target = 1.0f - u.gateDepth;
  u.gateGain = MoveToward(u.gateGain, target, u.gateStep);
  if (!On(u, kFxGate) && u.gateGain >= kGateSettled) u.gateGain = 1.0f;
  x[0] *= u.gateGain;
  x[1] *= u.gateGain;
}

// CRUSH: fewer levels, sample and hold.
[[gnu::always_inline]] inline void RunCrush(EffectUnit& u, float* x, double) {
  if (!On(u, kFxCrush)) return;
  if (u.crushCounter <= 0) {
    for (int c = 0; c < 2; ++c) u.crushHeld[c] = std::round(x[c] * u.crushLevels) / u.crushLevels;
    u.crushCounter = u.crushHold;
  }
  u.crushCounter -= 1;
  x[0] = u.crushHeld[0];
  x[1] = u.crushHeld[1];
}

// ECHO: ping-pong; the line always runs so a switched-off echo fades out.
[[gnu::always_inline]] inline void RunEcho(EffectUnit& u, float* x, double) {
  const bool on = On(u, kFxEcho);
  int32_t read = u.echoWrite - u.echoDelay;
  if (read < 0) read += u.echoFrames;
  const float readL = u.echoLine[2 * read];
  const float readR = u.echoLine[2 * read + 1];
  u.echoLine[2 * u.echoWrite] = readR * u.echoFeedback + (on ? x[0] : 0.0f);
  u.echoLine[2 * u.echoWrite + 1] = readL * u.echoFeedback + (on ? x[1] : 0.0f);
  if (++u.echoWrite >= u.echoFrames) u.echoWrite = 0;
  x[0] += readL * u.echoWet;
  x[1] += readR * u.echoWet;
}

// REVERB while on and for its tail afterwards.
[[gnu::always_inline]] inline void RunReverb(EffectUnit& u, float* x, double) {
  const uint64_t tailSamples = static_cast<uint64_t>(kReverbTailSeconds * static_cast<double>(u.rate));
  const bool on = On(u, kFxReverb);
  if (!on && u.reverbTail >= tailSamples) return;
  float wetL = 0.0f, wetR = 0.0f;
  ReverbTick(u.reverb, on ? x[0] : 0.0f, on ? x[1] : 0.0f, wetL, wetR);
  x[0] += wetL * u.reverbWet;
  x[1] += wetR * u.reverbWet;
  u.reverbTail += 1;
}

// FLANGER: 0.7..5.2 ms swept delay with feedback.
[[gnu::always_inline]] inline void RunFlanger(EffectUnit& u, float* x, double) {
  const float level = SmoothLevel(u, kFxFlanger);
  if (level <= kLevelAudible) return;
  const double rate = u.rate;
  u.flangerPhase += u.flangerStep;
  if (u.flangerPhase >= 1.0) u.flangerPhase -= std::floor(u.flangerPhase);
  const double sweep = (1.0 - std::cos(kTwoPi * u.flangerPhase)) / 2.0;
  const double delay = std::max((sweep * kFlangerSweepSeconds + kFlangerMinDelaySeconds) * rate, 1.0);
  for (int c = 0; c < 2; ++c) {
    const float read = ReadLine(u.flangerLine, u.flangerFrames, u.flangerWrite, delay, c);
    u.flangerLine[2 * u.flangerWrite + c] = x[c] + read * kFlangerFeedback;
    x[c] += read * kFlangerMix * level;
  }
  if (++u.flangerWrite >= u.flangerFrames) u.flangerWrite = 0;
}

// PHASER: four first-order all-passes swept 250..2850 Hz, with feedback.
[[gnu::always_inline]] inline void RunPhaser(EffectUnit& u, float* x, double) {
  const float level = SmoothLevel(u, kFxPhaser);
  if (level <= kLevelAudible) return;
  const double rate = u.rate;
  u.phaserPhase += u.phaserStep / rate;
  if (u.phaserPhase >= 1.0) u.phaserPhase -= std::floor(u.phaserPhase);
  const double hz = std::min((1.0 - std::cos(kTwoPi * u.phaserPhase)) / 2.0 * kPhaserSweepHz + kPhaserLowHz,
                             kPhaserMaxOfRate * rate);
  const double t = std::tan(std::numbers::pi * hz / rate);
  const double coefficient = (t - 1.0) / (t + 1.0);
  for (int c = 0; c < 2; ++c) {
    double v = x[c] + u.phaserLast[c] * kPhaserFeedback;
    for (int s = 0; s < 4; ++s) {
      const double y = coefficient * v + u.phaserIn[c][s] - coefficient * u.phaserOut[c][s];
      u.phaserIn[c][s] = v;
      u.phaserOut[c][s] = y;
      v = y;
    }
    u.phaserLast[c] = v;
    x[c] += static_cast<float>(v) * level * kPhaserMix;
  }
}

// AUTO-WAH: resonant low-pass swept with the beat.
[[gnu::always_inline]] inline void RunAutoWah(EffectUnit& u, float* x, double beat) {
  const float level = SmoothLevel(u, kFxAutoWah);
  if (level <= kLevelAudible) {
    u.autoWahCounter = 0;
    return;
  }
  if (u.autoWahCounter++ % kRetuneFrames == 0) {
    const double sweep = (1.0 - std::cos(kTwoPi * Frac(beat / u.autoWahPeriod))) / 2.0;
    const double hz = std::min(kAutoWahMaxOfRate * u.rate, kAutoWahBaseHz * std::pow(kAutoWahRange, sweep));
    TuneSvf(u.autoWah, hz, kAutoWahDamping, u.rate);
  }
  for (int c = 0; c < 2; ++c) {
    const double low = SvfLowPass(u.autoWah, c, x[c]);
    x[c] += level * (static_cast<float>(kAutoWahGain * low) - x[c]);
  }
}

// NOISE: high-passed white noise.
[[gnu::always_inline]] inline void RunNoise(EffectUnit& u, float* x, double) {
  const float level = SmoothLevel(u, kFxNoise);
  if (level <= kLevelAudible) return;
  for (int c = 0; c < 2; ++c) {
    const float noise = NextNoise(u.noiseState);
    x[c] += static_cast<float>(ProcessBiquad(u.noiseHighPass[c], noise)) * level;
  }
}

// STUTTER: capture the slice after switching on, then loop it. The mix level ramps in and out
// so neither the start of the replay nor switching off clicks.
[[gnu::always_inline]] inline void RunStutter(EffectUnit& u, float* x, double beat) {
  if (u.stutterMode == kStutterWaiting) {
    const double slice = std::floor(beat / u.stutterBeats);
    if (!u.stutterNoted) {
      u.stutterNotedSlice = slice;
      u.stutterNoted = true;
    } else if (slice != u.stutterNotedSlice) {
      u.stutterMode = kStutterRecording;
      u.stutterLength = u.stutterSlice;
      u.stutterPos = 0;
    }
  }
  if (u.stutterMode == kStutterRecording) {
    u.stutterCapture[2 * u.stutterPos] = x[0];
    u.stutterCapture[2 * u.stutterPos + 1] = x[1];
    if (++u.stutterPos >= u.stutterLength) {
      u.stutterMode = kStutterReplaying;
      u.stutterPos = 0;
    }
  } else if (u.stutterMode == kStutterReplaying) {
    const float level = SmoothLevel(u, kFxStutter);
    const int32_t edge = std::min(u.stutterLength - u.stutterPos, u.stutterPos);
    const float fade = std::min(static_cast<float>(edge) / kStutterFadeFrames, 1.0f);
    for (int c = 0; c < 2; ++c)
      x[c] = x[c] * (1.0f - level) + level * u.stutterCapture[2 * u.stutterPos + c] * fade;
    if (++u.stutterPos >= u.stutterLength) u.stutterPos = 0;
    if (!On(u, kFxStutter) && level <= kLevelAudible) {
      u.stutterMode = kStutterOff;
      u.levelNow[kFxStutter] = 0.0f;
    }
  }
}

// TREMOLO: raised-cosine amplitude dip each period.
[[gnu::always_inline]] inline void RunTremolo(EffectUnit& u, float* x, double beat) {
  const float level = SmoothLevel(u, kFxTremolo);
  if (level <= kLevelAudible) return;
  const double dip = (1.0 - std::cos(kTwoPi * Frac(beat / u.tremoloPeriod))) / 2.0;
  const float gain = 1.0f - level * u.tremoloDepth * static_cast<float>(dip);
  x[0] *= gain;
  x[1] *= gain;
}

// CHORUS: one slowly swept voice per channel, a quarter cycle apart.
[[gnu::always_inline]] inline void RunChorus(EffectUnit& u, float* x, double) {
  const float level = SmoothLevel(u, kFxChorus);
  if (level <= kLevelAudible) return;
  const double rate = u.rate;
  u.chorusPhase += kChorusLfoHz / rate;
  if (u.chorusPhase >= 1.0) u.chorusPhase -= std::floor(u.chorusPhase);
  for (int c = 0; c < 2; ++c) {
    const double sweep = (1.0 + std::sin(kTwoPi * (u.chorusPhase + c * kChorusVoiceOffset))) / 2.0;
    const double delay = (kChorusBaseSeconds + kChorusSweepSeconds * sweep) * rate;
    const float voice = ReadLine(u.chorusLine, u.chorusFrames, u.chorusWrite, delay, c);
    u.chorusLine[2 * u.chorusWrite + c] = x[c];
    x[c] = (x[c] + level * voice) / (1.0f + kChorusNormalise * level);
  }
  if (++u.chorusWrite >= u.chorusFrames) u.chorusWrite = 0;
}

// DRIVE: tanh saturation normalised to the drive.
[[gnu::always_inline]] inline void RunDrive(EffectUnit& u, float* x, double) {
  const float level = SmoothLevel(u, kFxDrive);
  if (level <= kLevelAudible) return;
  const float norm = kDriveCeiling / std::tanh(u.drive);
  for (int c = 0; c < 2; ++c) x[c] += level * (std::tanh(u.drive * x[c]) * norm - x[c]);
}

// ROBOT: ring modulation by a low carrier, saturated.
[[gnu::always_inline]] inline void RunRobot(EffectUnit& u, float* x, double) {
  const float level = SmoothLevel(u, kFxRobot);
  if (level <= kLevelAudible) return;
  u.robotPhase += kTwoPi * u.robotHz / static_cast<double>(u.rate);
  if (u.robotPhase >= kTwoPi) u.robotPhase -= kTwoPi * std::floor(u.robotPhase / kTwoPi);
  const float carrier = static_cast<float>(std::sin(u.robotPhase));
  for (int c = 0; c < 2; ++c) x[c] += level * (std::tanh(kRobotSaturation * x[c] * carrier) - x[c]);
}

// TELEPHONE: 450..3200 Hz band, saturated.
[[gnu::always_inline]] inline void RunTelephone(EffectUnit& u, float* x, double) {
  const float level = SmoothLevel(u, kFxTelephone);
  if (level <= kLevelAudible) return;
  for (int c = 0; c < 2; ++c) {
    const double band = ProcessBiquad(u.telephoneLowPass[c], ProcessBiquad(u.telephoneHighPass[c], x[c]));
    x[c] += level * (std::tanh(kTelephoneSaturation * static_cast<float>(band)) * kTelephoneGain - x[c]);
  }
}

// SWEEP: low-pass swept 150 Hz..12 kHz with the beat.
[[gnu::always_inline]] inline void RunSweep(EffectUnit& u, float* x, double beat) {
  const float level = SmoothLevel(u, kFxSweep);
  if (level <= kLevelAudible) {
    u.sweepCounter = 0;
    return;
  }
  if (u.sweepCounter++ % kRetuneFrames == 0) {
    const double sweep = (1.0 - std::cos(kTwoPi * Frac(beat / u.sweepPeriod))) / 2.0;
    const double hz = std::min(kSweepMaxOfRate * u.rate, kSweepBaseHz * std::pow(kSweepRange, sweep));
    TuneSvf(u.sweep, hz, kSweepDamping, u.rate);
  }
  for (int c = 0; c < 2; ++c) {
    const double low = SvfLowPass(u.sweep, c, x[c]);
    x[c] += level * (static_cast<float>(low) - x[c]);
  }
}

// DUB ECHO: darkening feedback delay; the line always runs so its tail rings out.
[[gnu::always_inline]] inline void RunDubEcho(EffectUnit& u, float* x, double) {
  const bool on = On(u, kFxDubEcho);
  int32_t read = u.dubWrite - u.dubDelay;
  if (read < 0) read += u.dubFrames;
  for (int c = 0; c < 2; ++c) {
    const float delayed = u.dubLine[2 * read + c];
    u.dubState[c] += kDubFollow * (delayed - u.dubState[c]);
    u.dubLine[2 * u.dubWrite + c] = u.dubState[c] * u.dubFeedback + (on ? x[c] : 0.0f);
    x[c] += delayed * u.dubWet;
  }
  if (++u.dubWrite >= u.dubFrames) u.dubWrite = 0;
}

// The order the unit runs its effects in on each frame: every row with a function, once.
constexpr int kEffectOrder[] = {kFxGate,  kFxCrush, kFxEcho,  kFxReverb, kFxFlanger,   kFxPhaser, kFxAutoWah, kFxNoise,
                                kFxStutter, kFxTremolo, kFxChorus, kFxDrive, kFxRobot, kFxTelephone, kFxSweep, kFxDubEcho};
constexpr size_t kUnitEffects = std::size(kEffectOrder);

}  // namespace

// clang-format off
const EffectInfo kEffects[kEffectCount] = {
    {.name = L"ECHO",      .defaultBeats = 0.5f,  .levelBase = 0.35f, .levelSpan = 0.45f, .extraBase = 0.25f, .extraSpan = 0.45f,   .inUnit = true, .process = RunEcho},
    {.name = L"REVERB",    .defaultBeats = 0.0f,  .levelBase = 0.15f, .levelSpan = 0.55f, .extraBase = 0.0f,  .extraSpan = 0.0f,    .inUnit = true, .process = RunReverb},
    {.name = L"FLANGER",   .defaultBeats = 8.0f,  .levelBase = 0.4f,  .levelSpan = 0.6f,  .extraBase = 0.0f,  .extraSpan = 0.0f,    .inUnit = true, .process = RunFlanger},
    {.name = L"PHASER",    .defaultBeats = 4.0f,  .levelBase = 0.4f,  .levelSpan = 0.6f,  .extraBase = 0.0f,  .extraSpan = 0.0f,    .inUnit = true, .process = RunPhaser},
    {.name = L"CRUSH",     .defaultBeats = 0.0f,  .levelBase = 12.0f, .levelSpan = -9.0f, .extraBase = 1.0f,  .extraSpan = 12.0f,   .inUnit = true, .process = RunCrush},
    {.name = L"GATE",      .defaultBeats = 0.25f, .levelBase = 0.4f,  .levelSpan = 0.6f,  .extraBase = 0.0f,  .extraSpan = 0.0f,    .inUnit = true, .process = RunGate},
    {.name = L"NOISE",     .defaultBeats = 0.0f,  .levelBase = 0.03f, .levelSpan = 0.22f, .extraBase = 0.0f,  .extraSpan = 0.0f,    .inUnit = true, .process = RunNoise},
    {.name = L"AUTO-WAH",  .defaultBeats = 1.0f,  .levelBase = 0.5f,  .levelSpan = 0.5f,  .extraBase = 0.0f,  .extraSpan = 0.0f,    .inUnit = true, .process = RunAutoWah},
    {.name = L"BRAKE",     .defaultBeats = 0.0f,  .levelBase = 0.3f,  .levelSpan = 2.2f,  .extraBase = 0.0f,  .extraSpan = 0.0f,    .inUnit = false, .process = nullptr},
    {.name = L"BACKSPIN",  .defaultBeats = 0.0f,  .levelBase = 0.4f,  .levelSpan = 1.6f,  .extraBase = 0.0f,  .extraSpan = 0.0f,    .inUnit = false, .process = nullptr},
    {.name = L"TREMOLO",   .defaultBeats = 0.25f, .levelBase = 1.0f,  .levelSpan = 0.0f,  .extraBase = 0.35f, .extraSpan = 0.65f,   .inUnit = true, .process = RunTremolo},
    {.name = L"CHORUS",    .defaultBeats = 0.0f,  .levelBase = 0.35f, .levelSpan = 0.55f, .extraBase = 0.0f,  .extraSpan = 0.0f,    .inUnit = true, .process = RunChorus},
    {.name = L"DRIVE",     .defaultBeats = 0.0f,  .levelBase = 1.0f,  .levelSpan = 0.0f,  .extraBase = 1.0f,  .extraSpan = 14.0f,   .inUnit = true, .process = RunDrive},
    {.name = L"STUTTER",   .defaultBeats = 0.25f, .levelBase = 0.6f,  .levelSpan = 0.4f,  .extraBase = 0.0f,  .extraSpan = 0.0f,    .inUnit = true, .process = RunStutter},
    {.name = L"ROBOT",     .defaultBeats = 0.0f,  .levelBase = 0.55f, .levelSpan = 0.45f, .extraBase = 180.0f, .extraSpan = -140.0f, .inUnit = true, .process = RunRobot},
    {.name = L"TELEPHONE", .defaultBeats = 0.0f,  .levelBase = 0.6f,  .levelSpan = 0.4f,  .extraBase = 0.0f,  .extraSpan = 0.0f,    .inUnit = true, .process = RunTelephone},
    {.name = L"SWEEP",     .defaultBeats = 8.0f,  .levelBase = 0.5f,  .levelSpan = 0.5f,  .extraBase = 0.0f,  .extraSpan = 0.0f,    .inUnit = true, .process = RunSweep},
    {.name = L"DUB ECHO",  .defaultBeats = 0.75f, .levelBase = 0.4f,  .levelSpan = 0.4f,  .extraBase = 0.5f,  .extraSpan = 0.35f,   .inUnit = true, .process = RunDubEcho},
};
// clang-format on

void ProcessEffectUnit(EffectUnit& u, float& left, float& right, double beat) {
  if (u.rate == 0) return;
  // A non-finite sample would circulate in the feedback lines for good.
  float x[2] = {std::isfinite(left) ? left : 0.0f, std::isfinite(right) ? right : 0.0f};
  if (!std::isfinite(beat)) beat = 0.0;
  // Unrolled over the fixed order, so each row's function is called directly.
  [&]<size_t... k>(std::index_sequence<k...>) {
    (kEffects[kEffectOrder[k]].process(u, x, beat), ...);
  }(std::make_index_sequence<kUnitEffects>{});
  left = x[0];
  right = x[1];
}

void ReverbTick(ReverbState& s, float left, float right, float& outLeft, float& outRight) {
  if (s.combLength[0][0] == 0) {  // never laid out
    outLeft = outRight = 0.0f;
    return;
  }
  const float input = (left + right) * kReverbInputGain;
  float out[2];
  for (int c = 0; c < 2; ++c) {
    float sum = 0.0f;
    for (int k = 0; k < 4; ++k) {
      float* line = s.comb[c][k].data();
      int32_t& index = s.combIndex[c][k];
      const float read = line[index];
      s.combDamp[c][k] = s.damping * s.combDamp[c][k] + (1.0f - s.damping) * read;
      line[index] = s.combDamp[c][k] * s.feedback + input;
      if (++index >= s.combLength[c][k]) index = 0;
      sum += read;
    }
    for (int k = 0; k < 2; ++k) {
      float* line = s.allPass[c][k].data();
      int32_t& index = s.allPassIndex[c][k];
      const float buffered = line[index];
      line[index] = sum + buffered * kReverbAllPassFeedback;
      sum = buffered - sum;
      if (++index >= s.allPassLength[c][k]) index = 0;
    }
    out[c] = sum;
  }
  outLeft = out[0];
  outRight = out[1];
}
