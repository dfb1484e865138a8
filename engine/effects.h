#pragma once
// Effect units: a rack of 18 fixed effects that can run together on one stereo signal, timed in
// beats. Each deck owns two (its own effects and the filter knob's colour effect), the mixer two
// (master and microphone).
//
// Buffer rule (the render never allocates): a unit's delay lines are sized by PrepareEffectUnit,
// outside the render. Prepare every unit for the device rate before the render first runs at that
// rate (when the output opens or reopens at a new rate), either on a unit the render cannot reach
// yet, or on a fresh unit swapped in under the engine lock with the old one freed after unlocking.
// In the render, UpdateEffectUnit re-lays the lines for a new rate only inside storage already
// prepared for at least that rate; a unit not prepared for the rate passes its signal unchanged.
// The render thread should run with denormals flushed to zero (the tails decay through them).
#include <cstdint>
#include <vector>

#include "engine/biquad.h"

inline constexpr int kEffectCount = 18;

// Bit i of every effect mask is row i of kEffects.
enum EffectIndex : int {
  kFxEcho = 0,
  kFxReverb,
  kFxFlanger,
  kFxPhaser,
  kFxCrush,
  kFxGate,
  kFxNoise,
  kFxAutoWah,
  kFxBrake,
  kFxBackspin,
  kFxTremolo,
  kFxChorus,
  kFxDrive,
  kFxStutter,
  kFxRobot,
  kFxTelephone,
  kFxSweep,
  kFxDubEcho,
};

inline constexpr uint32_t EffectBit(int index) { return 1u << index; }

// Where the stutter stands: switched on it waits for the next slice, records it, then replays it.
enum StutterStep : int32_t { kStutterOff = 0, kStutterWaiting = 1, kStutterRecording = 2, kStutterReplaying = 3 };

struct EffectUnit;

// One row of the effect table. Both formulas are base + span x amount (amount 0..1).
struct EffectInfo {
  const wchar_t* name;  // shown by the UI, upper case
  float defaultBeats;   // beat parameter used when the given one is 0 or less; 0 = takes none
  float levelBase;      // wet level or depth; CRUSH: bits; BRAKE, BACKSPIN: stop seconds
  float levelSpan;
  float extraBase;      // feedback (ECHO, DUB ECHO), depth (TREMOLO), drive (DRIVE), ring Hz
  float extraSpan;      // (ROBOT), hold samples (CRUSH, floored); 0, 0 when unused
  bool inUnit;          // false: a deck stop effect, read by the deck render, not processed here
  // Runs one stereo frame (frame[0], frame[1]) through the effect in place at a beat position;
  // null for the deck stop effects. Engine lock held, no allocation.
  void (*process)(EffectUnit& unit, float* frame, double beat);
};

extern const EffectInfo kEffects[kEffectCount];

// The beat lengths an effect's beat button steps through (master and deck effects), and their labels.
inline constexpr int kBeatLengthCount = 10;
inline constexpr float kBeatLengths[kBeatLengthCount] = {0.125f, 0.25f, 0.375f, 0.5f, 0.75f, 1, 2, 4, 8, 16};
inline constexpr const wchar_t* kBeatLengthLabels[kBeatLengthCount] = {L"1/8", L"1/4", L"3/8", L"1/2", L"3/4",
                                                                       L"1",   L"2",   L"4",   L"8",   L"16"};
// Index of the entry of kBeatLengths nearest to beats; ties go to the earlier entry.
int NearestBeatLength(float beats);
// The entry after the one nearest to beats, or the one before it when back, wrapping round.
float StepBeatLength(float beats, bool back);

// Freeverb-style stereo reverb: four damped combs and two all-passes per channel.
struct ReverbState {
  std::vector<float> comb[2][4];
  std::vector<float> allPass[2][2];
  int32_t combLength[2][4] = {};
  int32_t combIndex[2][4] = {};
  float combDamp[2][4] = {};
  int32_t allPassLength[2][2] = {};
  int32_t allPassIndex[2][2] = {};
  float feedback = 0.84f;
  float damping = 0.25f;
};

// Topology-preserving state-variable filter (two integrator states per channel).
struct StateVariableFilter {
  double a1 = 0.0, a2 = 0.0, a3 = 0.0;
  double ic1[2] = {0.0, 0.0};
  double ic2[2] = {0.0, 0.0};
};

struct EffectUnit {
  // Sizes: capacityRate is what the storage holds, rate what the lines are laid out for (0 = off).
  int32_t capacityRate = 0;
  int32_t rate = 0;
  uint32_t mask = 0;

  // Computed each block by UpdateEffectUnit.
  float levelTarget[kEffectCount] = {};  // the table's level when on, 0 when off
  float levelNow[kEffectCount] = {};     // smoothed toward levelTarget
  float echoFeedback = 0.0f, echoWet = 0.0f;
  int32_t echoDelay = 1;  // samples
  float reverbWet = 0.0f;
  double flangerStep = 0.0;  // LFO cycles per sample
  double phaserStep = 0.0;   // LFO cycles per second
  float crushLevels = 4096.0f;
  int32_t crushHold = 1;  // samples
  double gatePeriod = 0.25, autoWahPeriod = 1.0, tremoloPeriod = 0.25, sweepPeriod = 8.0;  // beats
  float gateDepth = 0.0f, tremoloDepth = 0.0f;
  float gateStep = 0.0f;  // gain change per sample
  float drive = 1.0f;
  double stutterBeats = 0.25;
  int32_t stutterSlice = 64;  // samples
  double robotHz = 180.0;
  float dubFeedback = 0.0f, dubWet = 0.0f;
  int32_t dubDelay = 1;  // samples

  // Delay lines (interleaved stereo) and their write positions.
  std::vector<float> echoLine;
  int32_t echoFrames = 0, echoWrite = 0;
  std::vector<float> flangerLine;
  int32_t flangerFrames = 0, flangerWrite = 0;
  std::vector<float> chorusLine;
  int32_t chorusFrames = 0, chorusWrite = 0;
  std::vector<float> stutterCapture;
  int32_t stutterFrames = 0;  // capacity of the capture in frames at the current rate
  std::vector<float> dubLine;
  int32_t dubFrames = 0, dubWrite = 0;
  ReverbState reverb;
  uint64_t reverbTail = 0;  // samples run since REVERB was last on

  // Effect states.
  float gateGain = 1.0f;
  int32_t crushCounter = 0;
  float crushHeld[2] = {0.0f, 0.0f};
  double flangerPhase = 0.0, phaserPhase = 0.0, chorusPhase = 0.0, robotPhase = 0.0;
  double phaserIn[2][4] = {};   // previous input of each all-pass stage
  double phaserOut[2][4] = {};  // previous output of each all-pass stage
  double phaserLast[2] = {0.0, 0.0};
  StateVariableFilter autoWah;
  int32_t autoWahCounter = 0;
  StateVariableFilter sweep;
  int32_t sweepCounter = 0;
  Biquad noiseHighPass[2];
  double noiseHz = 0.0;  // the frequency noiseHighPass was designed for
  uint32_t noiseState = 0x9E3779B9u;  // linear congruential generator, fixed seed
  Biquad telephoneHighPass[2];
  Biquad telephoneLowPass[2];
  StutterStep stutterMode = kStutterOff;
  double stutterNotedSlice = 0.0;  // floor(beat / slice beats), kept as f64: beats are unbounded
  bool stutterNoted = false;
  int32_t stutterLength = 0, stutterPos = 0;  // frames captured, replay or record position
  float dubState[2] = {0.0f, 0.0f};
};

// --- Preparation (outside the render) ---
// Allocates every line for rate (keeping larger storage), lays them out and clears all state.
// Never on the audio thread. After it, the unit processes at rate without allocating.
void PrepareEffectUnit(EffectUnit& unit, int32_t rate);

// --- Render (engine lock held; no allocation) ---
// Once per block: turns the mask, 18 amounts (0..1), 18 beat parameters (0 or less = default),
// the beat length in seconds (clamped to 0.2..2) and the rate into working parameters. A new rate
// within the prepared storage re-lays and clears the lines (no allocation).
void UpdateEffectUnit(EffectUnit& unit, uint32_t mask, const float amounts[kEffectCount],
                      const float params[kEffectCount], double beatLength, int32_t rate);
// Runs one stereo frame through every running effect at the given beat position. ECHO, DUB ECHO
// and REVERB tails keep sounding after their bits clear; a non-finite input sample counts as 0.
void ProcessEffectUnit(EffectUnit& unit, float& left, float& right, double beat);
// One reverb frame from the mono sum of the input; the outputs are the wet signal only.
void ReverbTick(ReverbState& state, float left, float right, float& outLeft, float& outRight);
