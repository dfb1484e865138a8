// One device period of the whole mix: decks, pads, prelisten, master effects, microphone, master
// chain, meters, analyser, pad recording, taps and the headphone and booth mixes.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "base/beat_grid.h"
#include "engine/render.h"
#include "engine/render_helpers.h"

namespace {

// Mixer.
constexpr float kCutCurveEdge = 0.06f;  // the cut curve fades over the outer 6 % of the travel
constexpr double kHalfPi = 1.5707963267948966;
constexpr float kPrelistenGain = 0.8f;
constexpr float kUnityMasterVolume = 0.8f;
constexpr float kSecondaryVolumeBoost = 1.5f;  // headphone and booth volume^2 x 1.5

// Free-running beat clock: 120 BPM when the leader deck gives no beat.
constexpr double kFreeBeatSeconds = 0.5;
constexpr double kFreeBeatWrap = 1e6;
constexpr double kMinLeaderSpeed = 0.1;

// Microphone.
constexpr float kDuckedMusicGain = 0.28f;
constexpr float kDuckFollow = 0.35f;  // share of the way to the target per block
constexpr float kDuckSnap = 0.002f;
constexpr float kMicEffectAmount = 0.45f;
constexpr float kMicEchoBeats = 0.75f;
constexpr uint32_t kMicEffectBits = 3;  // ECHO and REVERB only
constexpr double kInputLagFrames = 2048.0;
constexpr double kInputMaxFillShare = 0.75;
constexpr double kInputMaxDrift = 0.01;

// Pad recording: padRecordLastBeat below this means armed and no beat seen yet.
constexpr double kJustArmedBelow = -1e8;

// Master chain.
constexpr float kLimiterCeiling = 0.97f;
constexpr double kLimiterReleaseSeconds = 0.15;
constexpr float kMinEnvelope = 0.0001f;
constexpr float kLimiterClipEnvelope = 0.5f;  // a block clips audibly when the limiter dug deeper
constexpr float kSoftClipKnee = 0.9f;
constexpr float kSoftClipRange = 0.1f;

// Analyser: 16 band-passes from 40 Hz to 16 kHz.
constexpr double kAnalyserLowHz = 40.0;
constexpr double kAnalyserSpan = 400.0;
constexpr double kAnalyserAlphaScale = 0.25;

// The gain of frame i of a block that ramps from `from` to `to`: (i + 1) / frames of the way, so
// the block ends exactly on the target.
float RampAt(float from, float to, int32_t i, int32_t frames) {
  return from + (to - from) * static_cast<float>(i + 1) / static_cast<float>(frames);
}

// Where a ramp starts: the value the last block reached, or the target on the first block.
float RampStart(float last, float target) { return std::isfinite(last) && last >= 0.0f ? last : target; }

bool Plays(const TrackPtr& track) {
  return track && track->sampleRate > 0 && std::min<uint64_t>(track->frames, track->samples.size() / 2) > 0;
}

float DeckGain(int32_t xfAssign, float left, float right) {
  if (xfAssign == 0) return left;
  if (xfAssign == 2) return right;
  return 1.0f;
}

// Adds a one-shot or looping sound into target at a gain ramping from gainFrom to gain across
// the block; false when a one-shot reached its end.
bool AddSound(const Track& sound, double& position, bool loop, float gainFrom, float gainTo, double step,
              float* target, float* extra, int32_t frames) {
  const double length = static_cast<double>(std::min<uint64_t>(sound.frames, sound.samples.size() / 2));
  for (int32_t i = 0; i < frames; ++i) {
    if (position >= length) {
      if (!loop || length <= 0.0) return false;
      position = std::fmod(position, length);
    }
    const float gain = RampAt(gainFrom, gainTo, i, frames);
    float l, r;
    ReadTrackCubic(sound, position, l, r);
    target[2 * i] += l * gain;
    target[2 * i + 1] += r * gain;
    if (extra != nullptr) {
      extra[2 * i] += l * gain;
      extra[2 * i + 1] += r * gain;
    }
    position += step;
  }
  return true;
}

void BuildAnalyser(AudioEngine& engine, int32_t rate) {
  for (int i = 0; i < kSpectrumBands; ++i) {
    const double f = kAnalyserLowHz * std::pow(kAnalyserSpan, i / 15.0);
    const double w = kTwoPi * f / rate;
    const double alpha = std::sin(w) * kAnalyserAlphaScale;
    Biquad& band = engine.analyserBands[i];
    band.b0 = alpha / (1.0 + alpha);
    band.b1 = 0.0;
    band.b2 = -alpha / (1.0 + alpha);
    band.a1 = -2.0 * std::cos(w) / (1.0 + alpha);
    band.a2 = (1.0 - alpha) / (1.0 + alpha);
    ResetBiquad(band);
  }
  engine.analyserRate = rate;
}

// Flushes denormals to zero for the render (effect tails decay through them) and restores the
// caller's setting afterwards.
struct DenormalGuard {
#if defined(__SSE__)
  unsigned int saved = _mm_getcsr();
  DenormalGuard() { _mm_setcsr(saved | 0x8040u); }  // FTZ | DAZ
  ~DenormalGuard() { _mm_setcsr(saved); }
#endif
};

// Reads the input ring behind its writer with drift correction into micBuffer and adds it to out
// (and extra), then publishes where it got to (inputReadFrame) for the writer. Nothing unless the
// input captures into a sized ring. Engine lock held.
void RenderMicrophone(AudioEngine& engine, float* out, float* extra, int32_t frames, int32_t rate) {
  float* mic = engine.micBuffer.data();
  const double capacity = static_cast<double>(engine.inputCapacity);
  const bool ringReady = engine.inputCapacity > 0 && engine.inputRing.size() >= 2 * engine.inputCapacity;
  const int32_t inputRate = engine.inputRate.load();
  const bool live = engine.inputOn.load() && engine.inputCapturing.load() && inputRate > 0 && ringReady;
  if (!live) return;

  double beatLength = 0.5;
  const double beat0 = LeaderBeatPosition(engine, 0, rate, beatLength);
  float amounts[kEffectCount], params[kEffectCount] = {};
  std::fill(amounts, amounts + kEffectCount, kMicEffectAmount);
  params[kFxEcho] = kMicEchoBeats;
  const uint32_t mask = engine.micEffectMask & kMicEffectBits;
  UpdateEffectUnit(engine.micEffects, mask, amounts, params, beatLength, rate);

  const float micGain = ClampFiniteOr(engine.micGain, 0.8f, 0.0f, 1.0f);
  const float readGain = 2.0f * micGain * micGain;
  const double written = static_cast<double>(engine.inputWritten.load(std::memory_order_acquire));
  double fill = written - engine.inputReadPos;
  if (fill < 0.0 || fill > kInputMaxFillShare * capacity || engine.inputReadPos == 0.0) {
    // Never back past the frame last published: the writer may already be filling what lies before it.
    const double published = static_cast<double>(engine.inputReadFrame.load(std::memory_order_relaxed));
    double to = std::max(written - kInputLagFrames, 0.0);
    if (published <= written) to = std::max(to, published);
    engine.inputReadPos = to;
    engine.inputFollower = {};
    fill = written - engine.inputReadPos;
  }
  const double adj = FollowRing(engine.inputFollower, fill, static_cast<uint32_t>(frames), rate, kInputLagFrames,
                                kInputMaxDrift);
  const double step = static_cast<double>(inputRate) / rate * (1.0 + adj);
  const float* ring = engine.inputRing.data();
  const uint64_t cap = engine.inputCapacity;
  for (int32_t i = 0; i < frames; ++i) {
    float l = 0.0f, r = 0.0f;
    const uint64_t at = static_cast<uint64_t>(engine.inputReadPos);
    if (static_cast<double>(at + 1) < written) {
      const float t = static_cast<float>(engine.inputReadPos - static_cast<double>(at));
      const float* a = ring + (at % cap) * 2;
      const float* b = ring + ((at + 1) % cap) * 2;
      l = (a[0] + (b[0] - a[0]) * t) * readGain;
      r = (a[1] + (b[1] - a[1]) * t) * readGain;
      engine.inputReadPos += step;
    }
    if (mask != 0) ProcessEffectUnit(engine.micEffects, l, r, beat0 + i / (rate * beatLength));
    mic[2 * i] = l;
    mic[2 * i + 1] = r;
    out[2 * i] += l;
    out[2 * i + 1] += r;
    if (extra != nullptr) {
      extra[2 * i] += l;
      extra[2 * i + 1] += r;
    }
  }
  // Release: the frames passed are read before the writer may reuse their place.
  engine.inputReadFrame.store(static_cast<uint64_t>(engine.inputReadPos), std::memory_order_release);
}

// Advances an armed or running pad recording by one block of the master (or the microphone):
// a synced recording starts on the leader's next bar and ends after its beats; any recording
// ends when the buffer is full. Engine lock held.
void RecordPad(AudioEngine& engine, const float* out, int32_t frames, int32_t rate) {
  PadRecordStep state = engine.padRecordState.load();
  if (state != kPadRecordArmed && state != kPadRecordRunning) return;
  const float* source = engine.padRecordSource == 1 ? engine.micBuffer.data() : out;
  const uint64_t capacity = engine.padRecordBuffer.size() / 2;
  const DeckState& leader = engine.decks[std::clamp(engine.leaderDeck, 0, kEngineDecks - 1)];
  const bool synced = engine.padRecordBeats > 0 && Plays(leader.track) && leader.playing;
  for (int32_t i = 0; i < frames; ++i) {
    double beatLength = 0.5;
    const double beat = synced ? LeaderBeatPosition(engine, i, rate, beatLength) : 0.0;
    if (state == kPadRecordArmed) {
      if (synced) {
        if (engine.padRecordLastBeat < kJustArmedBelow ||
            std::floor(beat / 4.0) == std::floor(engine.padRecordLastBeat / 4.0)) {
          engine.padRecordLastBeat = beat;
          continue;
        }
        engine.padRecordStartBeat = std::floor(beat / 4.0) * 4.0;
      } else {
        engine.padRecordStartBeat = 0.0;
      }
      state = kPadRecordRunning;
    }
    if (engine.padRecordFrames >= capacity ||
        (synced && beat >= engine.padRecordStartBeat + engine.padRecordBeats)) {
      state = kPadRecordDone;
      break;
    }
    engine.padRecordBuffer[2 * engine.padRecordFrames] = source[2 * i];
    engine.padRecordBuffer[2 * engine.padRecordFrames + 1] = source[2 * i + 1];
    ++engine.padRecordFrames;
  }
  // A StopPadRecording from another thread cannot interleave: it takes the lock we hold.
  engine.padRecordState.store(state);
}

}  // namespace

float SoftClip(float x) {
  const float magnitude = std::abs(x);
  if (magnitude < kSoftClipKnee) return x;
  const float bent = kSoftClipKnee + kSoftClipRange * std::tanh((magnitude - kSoftClipKnee) / kSoftClipRange);
  return x < 0.0f ? -bent : bent;
}

void CrossfaderGains(float position, int32_t curve, float& left, float& right) {
  const float x = ClampFiniteOr(position, 0.5f, 0.0f, 1.0f);
  switch (curve) {
    case 1:
      left = x < 1.0f - kCutCurveEdge ? 1.0f : (1.0f - x) / kCutCurveEdge;
      right = x > kCutCurveEdge ? 1.0f : x / kCutCurveEdge;
      break;
    case 2:
      left = static_cast<float>(std::cos(x * kHalfPi));
      right = static_cast<float>(std::sin(x * kHalfPi));
      break;
    default:
      left = std::min(2.0f * (1.0f - x), 1.0f);
      right = std::min(2.0f * x, 1.0f);
      break;
  }
}

bool HeadphonesApart(const AudioEngine& engine) {
  if (engine.externalMixer) return false;
  if (engine.phonesMode == kPhonesSplit) return true;
  if (engine.phonesMode != kPhonesOwnOutput) return false;
  return engine.phonesOnMaster ? engine.outputRunning.load() : engine.phones.running.load();
}

double LeaderBeatPosition(const AudioEngine& engine, int32_t frame, int32_t rate, double& beatLength) {
  const DeckState& leader = engine.decks[std::clamp(engine.leaderDeck, 0, kEngineDecks - 1)];
  // blockPositions holds at least the current block once the deck rendered it; callers ask only
  // for frames of the block being rendered.
  if (Plays(leader.track) && leader.playing && frame >= 0 &&
      static_cast<size_t>(frame) < leader.blockPositions.size()) {
    const Track& track = *leader.track;
    const double t = leader.blockPositions[frame] / track.sampleRate;
    const double tempo = std::isfinite(leader.tempo) ? leader.tempo : 0.0;
    beatLength = BeatLengthAt(track, t) / std::max(1.0 + tempo, kMinLeaderSpeed);
    return BeatAtTime(track, t);
  }
  beatLength = kFreeBeatSeconds;
  return frame / (rate * kFreeBeatSeconds) + engine.freeBeatClock;
}

void StopPadRecording(AudioEngine& engine) {
  std::lock_guard<RealtimeMutex> guard(engine.lock);
  const PadRecordStep state = engine.padRecordState.load();
  if (state == kPadRecordArmed) engine.padRecordState.store(kPadRecordIdle);
  if (state == kPadRecordRunning) engine.padRecordState.store(kPadRecordDone);
}


namespace {

constexpr double kLockPatienceShare = 0.75;  // of the block's time, waited for the engine lock
constexpr double kMicrosPerSecond = 1e6;

std::atomic<uint64_t> gMixedFrames{0};
constexpr int32_t kRepeatSeamFrames = 64;  // the repeat starts on the last block's mirrored tail

// Where one period's sound goes; the buffers are the engine's, sized for the period.
struct MixTargets {
  float* out;
  float* cue;
  float* extra;   // the external mixer's extra output, or null
  bool external;  // external-mixer mode: each deck has its own output
  bool apart;     // the headphones leave the master
  size_t stereo;  // floats in the period
};

// Sizes (only before PrepareRenderBuffers did) and clears the period's work buffers.
MixTargets PrepareMixBuffers(AudioEngine& engine, float* out, int32_t frames) {
  const size_t stereo = static_cast<size_t>(frames) * 2;
  for (std::vector<float>* buffer : {&engine.cueBuffer, &engine.phonesBuffer, &engine.boothBuffer, &engine.extraBuffer})
    GrowTo(*buffer, stereo);
  for (std::vector<float>& buffer : engine.deckOutBuffers) GrowTo(buffer, stereo);
  float* cue = engine.cueBuffer.data();
  std::fill(cue, cue + stereo, 0.0f);
  const bool external = engine.externalMixer;
  float* extra = external ? engine.extraBuffer.data() : nullptr;
  if (external) {
    for (std::vector<float>& buffer : engine.deckOutBuffers) std::fill(buffer.begin(), buffer.begin() + stereo, 0.0f);
    std::fill(extra, extra + stereo, 0.0f);
  }
  return {out, cue, extra, external, HeadphonesApart(engine), stereo};
}

// The decks through the cross-fader; with the sandbox on, the saved decks play to the master
// and the live ones to the headphones' live mix.
void RenderDecks(AudioEngine& engine, const MixTargets& t, int32_t frames, int32_t rate) {
  float left, right;
  CrossfaderGains(engine.xfPosition, engine.xfCurve, left, right);
  const bool sandbox = engine.sandboxOn.load() && !t.external;
  if (!sandbox) {
    for (int d = 0; d < kEngineDecks; ++d) {
      DeckState& deck = engine.decks[d];
      if (deck.track)
        RenderDeck(engine, deck, DeckGain(deck.xfAssign, left, right), t.out, t.cue,
                   t.external ? engine.deckOutBuffers[d].data() : nullptr, frames, rate);
    }
    return;
  }
  GrowTo(engine.liveMixBuffer, t.stereo);
  GrowTo(engine.sandboxCueBuffer, t.stereo);
  std::fill(engine.liveMixBuffer.begin(), engine.liveMixBuffer.begin() + t.stereo, 0.0f);
  std::fill(engine.sandboxCueBuffer.begin(), engine.sandboxCueBuffer.begin() + t.stereo, 0.0f);
  float savedLeft, savedRight;
  CrossfaderGains(engine.sandboxXfPosition, engine.xfCurve, savedLeft, savedRight);
  for (int d = 0; d < kEngineDecks; ++d) {
    DeckState& saved = engine.sandboxDecks[d];
    if (saved.track)
      RenderDeck(engine, saved, DeckGain(saved.xfAssign, savedLeft, savedRight), t.out, engine.sandboxCueBuffer.data(),
                 nullptr, frames, rate);
    DeckState& live = engine.decks[d];
    if (live.track)
      RenderDeck(engine, live, DeckGain(live.xfAssign, left, right), engine.liveMixBuffer.data(), t.cue, nullptr,
                 frames, rate);
  }
}

// The sampler pads. A pad that is silent starts at its target: its own start is the fade-in; a
// sounding pad ramps.
void RenderPads(AudioEngine& engine, const MixTargets& t, int32_t frames, int32_t rate) {
  const float samplerVolume = ClampFiniteOr(engine.samplerVolume, 0.8f, 0.0f, 1.0f);
  for (int p = 0; p < kEnginePads; ++p) {
    SamplerPad& pad = engine.pads[p];
    const float gain = samplerVolume * samplerVolume * (std::isfinite(pad.gain) ? pad.gain : 1.0f);
    const float from = RampStart(engine.padGainLast[p], gain);
    engine.padGainLast[p] = gain;
    if (!pad.playing || !pad.track) {
      engine.padGainLast[p] = -1.0f;
      continue;
    }
    if (pad.track->sampleRate <= 0 || !std::isfinite(pad.position) || pad.position < 0.0) {
      pad.playing = false;
      engine.padGainLast[p] = -1.0f;
      continue;
    }
    const double step = static_cast<double>(pad.track->sampleRate) / rate;
    if (!AddSound(*pad.track, pad.position, pad.loop, from, gain, step, t.out, t.extra, frames)) {
      pad.playing = false;
      engine.padGainLast[p] = -1.0f;
    }
  }
}

// The browser's prelisten player: in the headphones when they are apart, else in the master.
void RenderPrelisten(AudioEngine& engine, const MixTargets& t, int32_t frames, int32_t rate) {
  if (!engine.prelistenPlaying || !engine.prelistenTrack || engine.prelistenTrack->sampleRate <= 0) return;
  float* target = t.apart ? t.cue : (t.external ? t.extra : t.out);
  const double step = static_cast<double>(engine.prelistenTrack->sampleRate) / rate;
  if (!std::isfinite(engine.prelistenPosition) || engine.prelistenPosition < 0.0) engine.prelistenPosition = 0.0;
  if (!AddSound(*engine.prelistenTrack, engine.prelistenPosition, false, kPrelistenGain, kPrelistenGain, step, target,
                nullptr, frames))
    engine.prelistenPlaying = false;
}

// The master effects, timed by the leader deck.
void RenderMasterEffects(AudioEngine& engine, float* out, int32_t frames, int32_t rate) {
  float amounts[kEffectCount], params[kEffectCount];
  std::fill(amounts, amounts + kEffectCount, ClampFiniteOr(engine.masterFxAmount, 0.5f, 0.0f, 1.0f));
  std::fill(params, params + kEffectCount, std::isfinite(engine.masterFxParam) ? engine.masterFxParam : 0.5f);
  double beatLength = 0.5;
  LeaderBeatPosition(engine, 0, rate, beatLength);
  UpdateEffectUnit(engine.masterFx, engine.masterFxMask, amounts, params, beatLength, rate);
  for (int32_t i = 0; i < frames; ++i) {
    double unused;
    ProcessEffectUnit(engine.masterFx, out[2 * i], out[2 * i + 1], LeaderBeatPosition(engine, i, rate, unused));
  }
}

// The music ducks under a live microphone: it follows its target block by block.
void DuckUnderMicrophone(AudioEngine& engine, float* out, int32_t frames) {
  const bool micLive = engine.inputOn.load() && engine.inputCapturing.load() && engine.inputRate.load() > 0;
  const float duckTarget = micLive && engine.micDuck ? kDuckedMusicGain : 1.0f;
  if (!std::isfinite(engine.duckGain)) engine.duckGain = 1.0f;
  if (engine.duckGain != duckTarget) {
    const float from = engine.duckGain;
    float to = from + kDuckFollow * (duckTarget - from);
    if (std::abs(to - duckTarget) < kDuckSnap) to = duckTarget;
    for (int32_t i = 0; i < frames; ++i) {
      const float g = from + (to - from) * static_cast<float>(i + 1) / frames;
      out[2 * i] *= g;
      out[2 * i + 1] *= g;
    }
    engine.duckGain = to;
  } else if (duckTarget != 1.0f) {
    // Settled under a live microphone: the music stays down, not only during the ramp.
    for (int32_t i = 0; i < 2 * frames; ++i) out[i] *= duckTarget;
  }
}

// Master gain, limiter and soft clip on out, then the master meters and the clip light.
void RenderMasterChain(AudioEngine& engine, float* out, int32_t frames, int32_t rate) {
  const float volume = ClampFiniteOr(engine.masterVolume, kUnityMasterVolume, 0.0f, 1.0f) / kUnityMasterVolume;
  const float masterTarget = volume * volume;
  if (!std::isfinite(engine.masterGainLast)) engine.masterGainLast = masterTarget;
  if (!std::isfinite(engine.limiterEnvelope)) engine.limiterEnvelope = 1.0f;
  const float release = static_cast<float>(1.0 - std::exp(-1.0 / (kLimiterReleaseSeconds * rate)));
  bool blockClipped = false;
  float lowestEnvelope = 1.0f, peakL = 0.0f, peakR = 0.0f;
  for (int32_t i = 0; i < frames; ++i) {
    const float g = RampAt(engine.masterGainLast, masterTarget, i, frames);
    float l = out[2 * i] * g, r = out[2 * i + 1] * g;
    if (std::abs(l) > 1.0f || std::abs(r) > 1.0f) blockClipped = true;
    if (engine.limiterOn) {
      const float peak = std::max(std::abs(l), std::abs(r));
      const float wanted = peak > kLimiterCeiling ? kLimiterCeiling / peak : 1.0f;
      // Recovery stops at the gain this sample needs, so the ceiling holds on sustained peaks.
      if (engine.limiterEnvelope > wanted)
        engine.limiterEnvelope = wanted;
      else
        engine.limiterEnvelope = std::min(engine.limiterEnvelope + (1.0f - engine.limiterEnvelope) * release, wanted);
      l *= engine.limiterEnvelope;
      r *= engine.limiterEnvelope;
      lowestEnvelope = std::min(lowestEnvelope, engine.limiterEnvelope);
    }
    l = SoftClip(l);
    r = SoftClip(r);
    out[2 * i] = l;
    out[2 * i + 1] = r;
    peakL = std::max(peakL, std::abs(l));
    peakR = std::max(peakR, std::abs(r));
  }
  engine.masterGainLast = masterTarget;

  RaiseAtomic(engine.masterPeakL, peakL);
  RaiseAtomic(engine.masterPeakR, peakR);
  RaiseAtomic(engine.limiterReductionDb, -20.0f * std::log10(std::max(lowestEnvelope, kMinEnvelope)));
  if (blockClipped && (!engine.limiterOn || lowestEnvelope < kLimiterClipEnvelope)) engine.clipped.store(true);
}

// The spectrum analyser's band peaks of the finished master.
void RenderAnalyser(AudioEngine& engine, const float* out, int32_t frames, int32_t rate) {
  if (engine.analyserRate != rate) BuildAnalyser(engine, rate);
  for (int b = 0; b < kSpectrumBands; ++b) {
    Biquad& band = engine.analyserBands[b];
    float bandPeak = 0.0f;
    for (int32_t i = 0; i < frames; ++i)
      bandPeak = std::max(bandPeak, static_cast<float>(std::abs(ProcessBiquad(band, (out[2 * i] + out[2 * i + 1]) * 0.5))));
    RaiseAtomic(engine.spectrum[b], bandPeak);
  }
}

// The master into the recorder, stream and video rings that are tapping it. One look at the
// recorder's switch serves both recordings, so an MP4 beside the WAV gets the very same blocks.
void WriteTaps(AudioEngine& engine, const float* out, int32_t frames) {
  const auto count = static_cast<uint64_t>(frames);
  const bool recording = engine.recording.load();
  if (recording) RingWrite(engine.recordRing, out, count);
  if (engine.tapStream.load()) RingWrite(engine.streamRing, out, count);
  if (engine.tapVideoRecord.load() && (recording || !engine.videoRecordBesideWav.load()))
    RingWrite(engine.videoRecordRing, out, count);
  if (engine.tapLiveVideo.load()) RingWrite(engine.liveVideoRing, out, count);
}

// The booth mix: the master at the booth volume, to its own output or the master's channels.
void RenderBooth(AudioEngine& engine, const float* out, int32_t frames) {
  const bool boothThread = engine.booth.wanted.load();
  if (!boothThread && !engine.boothOnMaster) {
    engine.boothVolumeLast = -1.0f;
    return;
  }
  const float boothVolume = ClampFiniteOr(engine.boothVolume, 0.8f, 0.0f, 1.0f);
  const float gain = boothVolume * boothVolume * kSecondaryVolumeBoost;
  const float from = RampStart(engine.boothVolumeLast, gain);
  float* booth = engine.boothBuffer.data();
  for (int32_t i = 0; i < frames; ++i) {
    const float g = RampAt(from, gain, i, frames);
    booth[2 * i] = SoftClip(out[2 * i] * g);
    booth[2 * i + 1] = SoftClip(out[2 * i + 1] * g);
  }
  engine.boothVolumeLast = gain;
  if (boothThread) RingWrite(engine.booth.ring, booth, static_cast<uint64_t>(frames));
}

// The headphone mix (cue against master, or the live decks while the sandbox plays), to its own
// output or split onto the master's two channels.
void RenderPhones(AudioEngine& engine, const MixTargets& t, int32_t frames) {
  if (engine.phonesMode == kPhonesNone) {
    engine.phonesVolumeLast = -1.0f;
    engine.phonesMixLast = -1.0f;
    return;
  }
  float* out = t.out;
  const float* cue = t.cue;
  const float phonesVolume = ClampFiniteOr(engine.headphoneVolume, 0.8f, 0.0f, 1.0f);
  const float volume = phonesVolume * phonesVolume * kSecondaryVolumeBoost;
  const float volumeFrom = RampStart(engine.phonesVolumeLast, volume);
  const float m = ClampFiniteOr(engine.headphoneMix, 0.0f, 0.0f, 1.0f);
  const float mixFrom = RampStart(engine.phonesMixLast, m);
  float* phones = engine.phonesBuffer.data();
  if (engine.sandboxOn.load() && engine.liveMixBuffer.size() >= t.stereo) {
    const float* liveMix = engine.liveMixBuffer.data();
    for (int32_t i = 0; i < frames; ++i) {
      const float g = engine.masterGainLast * RampAt(volumeFrom, volume, i, frames);
      phones[2 * i] = SoftClip(liveMix[2 * i] * g);
      phones[2 * i + 1] = SoftClip(liveMix[2 * i + 1] * g);
    }
  } else {
    for (int32_t i = 0; i < frames; ++i) {
      const float g = RampAt(volumeFrom, volume, i, frames);
      const float mi = RampAt(mixFrom, m, i, frames);
      for (size_t k = 2 * static_cast<size_t>(i); k < 2 * static_cast<size_t>(i) + 2; ++k)
        phones[k] = SoftClip((mi * out[k] + (1.0f - mi) * cue[k]) * g);
    }
  }
  engine.phonesVolumeLast = volume;
  engine.phonesMixLast = m;
  if (engine.phonesMode == kPhonesSplit) {
    for (int32_t i = 0; i < frames; ++i) {
      out[2 * i] = (out[2 * i] + out[2 * i + 1]) * 0.5f;
      out[2 * i + 1] = (phones[2 * i] + phones[2 * i + 1]) * 0.5f;
    }
  } else if (engine.phonesMode == kPhonesOwnOutput && !engine.phonesOnMaster) {
    RingWrite(engine.phones.ring, phones, static_cast<uint64_t>(frames));
  }
}

// External mixer: each deck output and the extra output get the master's soft knee.
void SoftClipExternal(AudioEngine& engine, const MixTargets& t) {
  for (std::vector<float>& buffer : engine.deckOutBuffers)
    for (size_t k = 0; k < t.stereo; ++k) buffer[k] = SoftClip(buffer[k]);
  for (size_t k = 0; k < t.stereo; ++k) t.extra[k] = SoftClip(t.extra[k]);
}

// The period mixed with the engine lock held.
void MixLocked(AudioEngine& engine, float* out, int32_t frames, int32_t rate) {
  DenormalGuard denormals;
  engine.mixingFrames.store(frames);
  const MixTargets t = PrepareMixBuffers(engine, out, frames);
  RenderDecks(engine, t, frames, rate);
  RenderPads(engine, t, frames, rate);
  RenderPrelisten(engine, t, frames, rate);
  RenderMasterEffects(engine, out, frames, rate);
  DuckUnderMicrophone(engine, out, frames);

  if (engine.inputResync.exchange(false)) engine.inputReadPos = 0.0;
  GrowTo(engine.micBuffer, t.stereo);
  std::fill(engine.micBuffer.begin(), engine.micBuffer.begin() + t.stereo, 0.0f);
  RenderMicrophone(engine, out, t.extra, frames, rate);

  // Free-running beat clock.
  engine.freeBeatClock += frames / (rate * kFreeBeatSeconds);
  if (engine.freeBeatClock > kFreeBeatWrap) engine.freeBeatClock = 0.0;

  RenderMasterChain(engine, out, frames, rate);
  RenderAnalyser(engine, out, frames, rate);
  RecordPad(engine, out, frames, rate);
  WriteTaps(engine, out, frames);
  engine.mixingFrames.store(0);

  if (t.external) {
    SoftClipExternal(engine, t);
    return;
  }
  RenderBooth(engine, out, frames);
  RenderPhones(engine, t, frames);
}

// The render's own copy of the master block it played last, for a repeat.
void KeepBlock(AudioEngine& engine, const float* out, int32_t frames) {
  const bool fits = frames <= kRepeatMaxFrames;
  engine.repeatFrames = fits ? frames : 0;
  if (fits) std::copy(out, out + 2 * static_cast<size_t>(frames), engine.repeatBlock);
}

// With the lock busy: the last block again, its start crossfaded from its own mirrored end so it
// joins what was heard, and its end meeting the next real block as the last one did. Silence
// when there is no last block of this length.
void RepeatBlock(AudioEngine& engine, float* out, int32_t frames) {
  engine.renderLockMisses.fetch_add(1, std::memory_order_relaxed);
  if (engine.repeatFrames != frames) return;
  const float* last = engine.repeatBlock;
  const int32_t seam = std::min(kRepeatSeamFrames, frames);
  for (int32_t i = 0; i < frames; ++i) {
    for (int c = 0; c < 2; ++c) {
      float v = last[2 * i + c];
      if (i < seam) {
        const float w = static_cast<float>(i) / static_cast<float>(seam);
        v = last[2 * (frames - 1 - i) + c] * (1.0f - w) + v * w;
      }
      out[2 * i + c] = v;
    }
  }
}

}  // namespace

MasterRouting TakeMasterRouting(const AudioEngine& engine) {
  return MasterRouting{.externalMixer = engine.externalMixer,
                       .deckCount = engine.deckCount,
                       .masterPair = engine.masterPair,
                       .phonesMode = engine.phonesMode,
                       .phonesOnMaster = engine.phonesOnMaster,
                       .phonesPair = engine.phonesPair,
                       .boothOnMaster = engine.boothOnMaster,
                       .boothPair = engine.boothPair};
}

uint64_t MixedFrames() { return gMixedFrames.load(std::memory_order_relaxed); }

void RenderMix(AudioEngine& engine, float* out, int32_t frames, int32_t rate, MasterRouting* routing) {
  if (frames <= 0) return;
  std::fill(out, out + 2 * static_cast<size_t>(frames), 0.0f);
  if (rate <= 0) return;
  // Every other hold of the lock is short and, through the lock, runs at this thread's priority
  // while it waits: the render waits for it. Only a hold longer than most of the block's time
  // costs the block, which is then the last one again rather than a gap.
  const auto patience = static_cast<int64_t>(kLockPatienceShare * frames * kMicrosPerSecond / rate);
  if (!engine.lock.LockWithin(patience)) {
    RepeatBlock(engine, out, frames);
    return;
  }
  std::unique_lock<RealtimeMutex> guard(engine.lock, std::adopt_lock);
  MixLocked(engine, out, frames, rate);
  if (routing != nullptr) *routing = TakeMasterRouting(engine);
  gMixedFrames.fetch_add(static_cast<uint64_t>(frames), std::memory_order_relaxed);
  KeepBlock(engine, out, frames);
}
