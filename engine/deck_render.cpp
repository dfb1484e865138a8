// One deck for one device period: transport, reading, channel strip and effects.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <tuple>

#include "base/beat_grid.h"
#include "engine/key_lock.h"
#include "engine/render.h"
#include "engine/render_helpers.h"

namespace {

// Fixed filters.
constexpr double kEqLowHz = 250.0;
constexpr double kEqHighHz = 2800.0;
constexpr double kVoiceHighPassHz = 180.0;
constexpr double kVoiceLowPassHz = 6000.0;
constexpr double kVoiceQ = 0.7;

// Channel strip.
constexpr double kTrimRangeDb = 24.0;     // gain knob 0..1 spans -12..+12 dB
constexpr double kEqBoostDb = 6.0;        // EQ knob at 1
constexpr float kFilterDeadZone = 0.02f;  // |filter| at or below: off
constexpr double kFilterQ = 0.9;
constexpr double kFilterLowPassTopHz = 20000.0;
constexpr double kFilterLowPassCurve = 0.0075;  // low-pass at -1: 20 kHz x 0.0075 = 150 Hz
constexpr double kFilterLowPassMaxOfRate = 0.45;
constexpr double kFilterHighPassBottomHz = 25.0;
constexpr double kFilterHighPassCurve = 240.0;  // high-pass at +1: 25 Hz x 240 = 6 kHz
constexpr double kFilterMaxOfRate = 0.49;       // keeps tan() of the tuning finite
constexpr float kFilterFadeWidth = 0.06f;       // beyond the dead zone, the span of the dry/wet crossfade
constexpr int32_t kFilterGlideFrames = 32;      // the filter is retuned this often while it moves
constexpr double kFilterGlideSeconds = 0.1;     // time the sounding value takes to move by 1
constexpr double kVoiceSmoothSeconds = 0.003;
constexpr float kVoiceBandBoost = 1.4f;
constexpr float kVoiceAudible = 0.0001f;

// Transport.
constexpr double kJumpFadeSeconds = 0.004;  // de-click and fade-in after a jump
// A record's sound falls with its speed, and a deck held still must not hand out the sample it
// stands on as a DC level: below 5 % of its normal speed a deck's level follows its speed, and a
// block that moves less than a frame fades to silence within 5 ms. A slow scratch stays above.
constexpr double kAudibleSpeed = 0.05;      // x the rate ratio
constexpr double kStillFadeSeconds = 0.005;
constexpr double kStillFrames = 1.0;        // a block moving less is held still
constexpr double kWholeFrameSlack = 1e-6;   // a position this near a whole frame is on it
constexpr double kScratchMaxSpeed = 6.0;    // x the rate ratio
constexpr double kScratchFollow = 0.6;      // share of the wanted speed taken per block
constexpr double kExternalMaxSpeed = 6.0;
constexpr double kBrakeSecondsPerAmount = 2.2, kBrakeMinSeconds = 0.3;
constexpr double kBackspinSecondsPerAmount = 1.6, kBackspinMinSeconds = 0.4;
constexpr double kBackspinSpeed = -3.5;
constexpr double kKeyShiftEngageSemitones = 0.01;
constexpr double kMaxKeyShiftSemitones = 48.0;  // sanity bound: keeps 2^(shift / 12) finite
constexpr double kMaxSpeedFactor = 6.0;         // sanity bound on 1 + tempo + bend
constexpr double kStemSmoothSeconds = 0.01;
constexpr int32_t kReadChunk = 128;  // frames whose reads are gathered on the stack at once
constexpr float kStemSnap = 1e-5f;

// Effects and the beat click.
constexpr double kNoTrackBeatSeconds = 0.5;
constexpr double kMinEffectSpeed = 0.1;
constexpr float kColorFxAmountScale = 1.1f;
constexpr double kClickDecaySeconds = 0.025;
constexpr float kClickGain = 0.3f;
constexpr float kClickDownbeatHz = 1760.0f;
constexpr float kClickBeatHz = 1175.0f;
constexpr float kClickSilent = 0.001f;

// The colour effects of the filter knob, by `colorFx` (0 = the plain filter).
constexpr int kColorEffects[6] = {-1, kFxReverb, kFxDubEcho, kFxNoise, kFxCrush, kFxEcho};

// Frames of the track that really hold samples (a malformed Track never reads past its vector).
uint64_t PlayableFrames(const Track& track) {
  return std::min<uint64_t>(track.frames, track.samples.size() / 2);
}

bool Usable(const Track* track) { return track != nullptr && track->sampleRate > 0 && PlayableFrames(*track) > 0; }

void BuildFixedFilters(DeckState& deck, int32_t rate) {
  for (int c = 0; c < 2; ++c) {
    for (int s = 0; s < 2; ++s) {
      DesignLowPass(deck.eqLowPass250[c][s], kEqLowHz, kButterworthQ, rate);
      DesignHighPass(deck.eqHighPass250[c][s], kEqLowHz, kButterworthQ, rate);
      DesignLowPass(deck.eqLowPass2800[c][s], kEqHighHz, kButterworthQ, rate);
      DesignHighPass(deck.eqHighPass2800[c][s], kEqHighHz, kButterworthQ, rate);
    }
    DesignAllPass(deck.eqAllPass2800[c], kEqHighHz, kButterworthQ, rate);
    DesignDrumSplit(deck.drumSplit[c], rate);
    DesignSplitPhase(deck.deckPhase[c], rate);
    DesignSplitPhase(deck.aimedPhase[c], rate);
  }
  DesignHighPass(deck.voiceHighPass, kVoiceHighPassHz, kVoiceQ, rate);
  DesignLowPass(deck.voiceLowPass, kVoiceLowPassHz, kVoiceQ, rate);
  deck.filterRate = rate;
  // The channel filter is designed again at the new rate, starting from silence.
  deck.filterActive = false;
  for (auto& channel : deck.channelFilter)
    for (Biquad& stage : channel) ResetBiquad(stage);
}

// Knob 0..1 to a band gain: a squared cut below the middle (silent at 0), up to +6 dB above.
float EqGain(float knob) {
  if (knob < 0.5f) return (2.0f * knob) * (2.0f * knob);
  return static_cast<float>(std::pow(10.0, 2.0 * (knob - 0.5) * kEqBoostDb / 20.0));
}

// The mix of a track and, when given, its three stems, as the readers take them.
ReadSources SourcesOf(const Track& track, const StemData* stems) {
  ReadSources sources;
  sources.mix = track.samples.data();
  sources.frames = static_cast<int64_t>(PlayableFrames(track));
  if (stems != nullptr) {
    sources.stems[0] = stems->vocals.data();
    sources.stems[1] = stems->drums.data();
    sources.stems[2] = stems->bass.data();
    sources.count = kMaxReadSources;
  }
  return sources;
}

// Moves a smoothed gain toward its target by one frame's share, snapping when close, and also
// where the share falls below a float's resolution: near 1 it would otherwise stall short of it.
void Smooth(float& now, float target, float step) {
  const float next = now + (target - now) * step;
  now = std::abs(target - next) < kStemSnap || next == now ? target : next;
}

// The channel filter's stages run as state-variable filters with trapezoidal integrators: the same
// response as the cookbook low-pass and high-pass at the same frequency and Q, but their states
// are signals rather than blends of coefficients, so retuning them every few frames adds no step.
// Each stage's Biquad holds its tuning (b0, b1, b2: the filter's a1, a2, a3; a1: 1 / Q; a2: 1 for
// a high-pass) and its two integrator states (z1, z2).
void DesignChannelFilter(DeckState& deck, float value, int32_t rate) {
  const double f = std::abs(value);
  const double hz = value < 0.0f ? std::min(kFilterLowPassMaxOfRate * rate, kFilterLowPassTopHz * std::pow(kFilterLowPassCurve, f))
                                 : kFilterHighPassBottomHz * std::pow(kFilterHighPassCurve, f);
  const double g = std::tan(kTwoPi / 2.0 * std::clamp(hz, 1.0, kFilterMaxOfRate * rate) / rate);
  const double k = 1.0 / kFilterQ;
  const double a1 = 1.0 / (1.0 + g * (g + k));
  for (auto& channel : deck.channelFilter) {
    for (Biquad& stage : channel) {
      stage.b0 = a1;
      stage.b1 = g * a1;
      stage.b2 = g * g * a1;
      stage.a1 = k;
      stage.a2 = value < 0.0f ? 0.0 : 1.0;
    }
  }
}

inline double ProcessChannelStage(Biquad& stage, double x) {
  const double v3 = x - stage.z2;
  const double v1 = stage.b0 * stage.z1 + stage.b1 * v3;
  const double v2 = stage.z2 + stage.b1 * stage.z1 + stage.b2 * v3;
  stage.z1 = 2.0 * v1 - stage.z1;
  stage.z2 = 2.0 * v2 - stage.z2;
  return stage.a2 == 0.0 ? v2 : x - stage.a1 * v1 - v2;
}

// The channel filter follows its knob without a click: the value it sounds at (filterLast)
// glides toward the knob, retuning the stages every kFilterGlideFrames; near the dead zone the
// output crossfades between the dry and the filtered signal; and the stages start as if
// they had been passing the signal, not from silence. While the filter is off, the first stage's
// first state keeps the last dry sample (it is free then).
class ChannelFilterGlide {
 public:
  ChannelFilterGlide(DeckState& deck, float knob, int32_t rate)
      : knob_(knob), rate_(rate), stepSize_(static_cast<float>(kFilterGlideFrames / (kFilterGlideSeconds * rate))) {
    if (!std::isfinite(deck.filterLast)) deck.filterLast = 0.0f;
    running_ = deck.filterActive;
    for (int c = 0; c < 2; ++c) last_[c] = running_ ? 0.0f : static_cast<float>(deck.channelFilter[c][0].z1);
  }

  // At the start of each glide step of `length` frames.
  void Step(DeckState& deck, int32_t length) {
    wet_ = Wet(deck.filterLast);
    wetStep_ = 0.0f;
    running_ = deck.filterActive;
    if (deck.filterLast == knob_) return;
    const float distance = knob_ - deck.filterLast;
    deck.filterLast = std::abs(distance) <= stepSize_ ? knob_ : deck.filterLast + std::copysign(stepSize_, distance);
    const bool active = std::abs(deck.filterLast) > kFilterDeadZone;
    if (active) {
      DesignChannelFilter(deck, deck.filterLast, rate_);
      if (!deck.filterActive) Prime(deck);
    }
    wetStep_ = (Wet(deck.filterLast) - wet_) / static_cast<float>(length);
    running_ = deck.filterActive || active;
    deck.filterActive = active;
  }

  void Process(DeckState& deck, float* y) {
    last_[0] = y[0];
    last_[1] = y[1];
    if (!running_) return;
    wet_ += wetStep_;
    for (int c = 0; c < 2; ++c) {
      const float filtered =
          static_cast<float>(ProcessChannelStage(deck.channelFilter[c][1], ProcessChannelStage(deck.channelFilter[c][0], y[c])));
      y[c] += (filtered - y[c]) * wet_;
    }
  }

  // After the block: an idle filter keeps the last dry sample for the next start.
  void Finish(DeckState& deck) {
    if (deck.filterActive) return;
    for (int c = 0; c < 2; ++c) deck.channelFilter[c][0].z1 = last_[c];
  }

 private:
  // A low-pass that has been passing the signal holds it in its second integrator; a high-pass
  // that has been passing it holds nothing.
  void Prime(DeckState& deck) {
    for (int c = 0; c < 2; ++c) {
      for (Biquad& stage : deck.channelFilter[c]) {
        stage.z1 = 0.0;
        stage.z2 = stage.a2 == 0.0 ? last_[c] : 0.0;
      }
    }
  }

  // The filtered share of the output: it rises smoothly across the edge of the dead zone, where
  // the filter is nearly transparent but still shifts the phase.
  static float Wet(float value) {
    const float x = std::clamp((std::abs(value) - kFilterDeadZone) / kFilterFadeWidth, 0.0f, 1.0f);
    return x * x * (3.0f - 2.0f * x);
  }

  float knob_;
  int32_t rate_;
  float stepSize_;
  bool running_ = false;
  float wet_ = 0.0f, wetStep_ = 0.0f;
  float last_[2];
};

}  // namespace

bool StemsBelongTo(const StemData* stems, const Track& track) {
  if (stems == nullptr || stems->track != &track || stems->frames != track.frames) return false;
  const size_t values = static_cast<size_t>(PlayableFrames(track)) * 2;
  return stems->vocals.size() >= values && stems->drums.size() >= values && stems->bass.size() >= values;
}

void ReadTrackCubic(const Track& track, double position, float& left, float& right, const Remix* remix) {
  const bool stems = remix != nullptr && StemsBelongTo(remix->stems, track);
  ReadSources sources = SourcesOf(track, stems ? remix->stems : nullptr);
  float read[2 * kMaxReadSources];
  ReadSourcesCubic(sources, position, read);
  if (remix == nullptr) {
    left = read[0];
    right = read[1];
    return;
  }
  const float* w = remix->weights;
  float v[2];
  for (int c = 0; c < 2; ++c) {
    v[c] = w[0] * read[c];
    if (stems) v[c] += (w[1] * read[2 + c] + w[2] * read[4 + c] + w[3] * read[6 + c]);
  }
  left = v[0];
  right = v[1];
}


namespace {

// The block's speeds: what the track, the tempo, bend and key make of one output frame.
struct DeckSpeeds {
  double trackRate = 0.0;
  double lastFrame = 0.0;
  double ratio = 1.0;        // track frames per device frame at normal speed
  double speedFactor = 1.0;  // 1 + tempo + bend
  double keyShift = 0.0;     // semitones
  double pitch = 1.0;        // the stretcher's pitch factor
};

DeckSpeeds SpeedsOf(const DeckState& deck, const Track* track, int32_t rate) {
  DeckSpeeds s;
  s.trackRate = track ? static_cast<double>(track->sampleRate) : 0.0;
  s.lastFrame = track ? static_cast<double>(PlayableFrames(*track) - 1) : 0.0;
  s.ratio = track ? s.trackRate / rate : 1.0;
  const double tempo = ClampFiniteOr(deck.tempo, 0.0f, -kMaxSpeedFactor, kMaxSpeedFactor);
  const double bend = ClampFiniteOr(deck.bend, 0.0f, -kMaxSpeedFactor, kMaxSpeedFactor);
  s.speedFactor = std::clamp(1.0 + tempo + bend, 0.0, kMaxSpeedFactor);
  s.keyShift = ClampFiniteOr(deck.keyShift, 0.0f, -kMaxKeyShiftSemitones, kMaxKeyShiftSemitones);
  s.pitch = std::pow(2.0, s.keyShift / 12.0) * s.ratio * (deck.keyLock ? 1.0 : s.speedFactor);
  return s;
}

// Where the transport heads in this block.
struct DeckMotion {
  double v = 0.0;           // target speed (source frames per output frame)
  bool useStretch = false;  // read through the key-lock stretcher
  bool moves = false;
  bool wholeFrames = false;  // plays at a whole number of track frames per frame: lands on whole frames
  bool stopping = false;     // a jog touch stops the deck: it fades out as a held deck does
};

// Deck read: the block's target speed from the jog, an external timecode, a stop effect or play,
// and the stretcher switched (de-clicked) when key lock or a key shift starts or ends.
DeckMotion DecideMotion(DeckState& deck, const Track* track, const DeckSpeeds& s, int32_t frames, int32_t rate) {
  DeckMotion m;
  if (!track) {
    m.v = 0.0;
  } else if (deck.jogTouched && deck.jogStopping) {
    // The touch: the speed ramps to 0 across this block, and where that leaves the deck is where
    // the hand holds it.
    const double speed = std::isfinite(deck.speed) ? deck.speed : 0.0;
    if (std::isfinite(deck.jogTarget)) deck.jogTarget += speed * (frames - 1) / 2.0;
    deck.jogStopping = false;
    deck.scratchSpeed = 0.0;
    m.v = 0.0;
    m.stopping = true;
  } else if (deck.jogTouched) {
    const double jogTarget = std::isfinite(deck.jogTarget) ? deck.jogTarget : deck.position;
    const double limit = kScratchMaxSpeed * s.ratio;
    const double wanted = std::clamp((jogTarget - deck.position) / (2.0 * frames), -limit, limit);
    if (!std::isfinite(deck.scratchSpeed)) deck.scratchSpeed = 0.0;
    deck.scratchSpeed += (wanted - deck.scratchSpeed) * kScratchFollow;
    m.v = deck.scratchSpeed;
  } else if (deck.externalSpeedOn) {
    m.v = s.ratio * ClampFiniteOr(deck.externalSpeed, 0.0f, -kExternalMaxSpeed, kExternalMaxSpeed);
  } else if (!deck.playing) {
    m.v = 0.0;
  } else if (deck.stopMode == kStopBrake || deck.stopMode == kStopBackspin) {
    const bool brake = deck.stopMode == kStopBrake;
    const double amount = ClampFiniteOr(deck.fxAmount[brake ? kFxBrake : kFxBackspin].load(std::memory_order_relaxed),
                                        0.5f, 0.0f, 1.0f);
    const double seconds = brake ? amount * kBrakeSecondsPerAmount + kBrakeMinSeconds
                                 : amount * kBackspinSecondsPerAmount + kBackspinMinSeconds;
    if (!std::isfinite(deck.stopElapsed)) deck.stopElapsed = 0.0;
    const double f = std::max(1.0 - deck.stopElapsed / seconds, 0.0);
    m.v = (brake ? s.speedFactor : kBackspinSpeed) * s.ratio * f;
    deck.stopElapsed += static_cast<double>(frames) / rate;
    if (f <= 0.0) {
      deck.playing = false;
      deck.stopMode = kStopNone;
      m.v = 0.0;
    }
  } else {
    m.v = deck.reverse ? -s.speedFactor * s.ratio : s.speedFactor * s.ratio;
    m.useStretch = !deck.reverse && (deck.keyLock || std::abs(s.keyShift) > kKeyShiftEngageSemitones);
    m.wholeFrames = m.v != 0.0 && m.v == std::round(m.v);
  }
  m.moves = deck.playing || deck.jogTouched || m.v != 0.0;
  if (m.useStretch != deck.stretch.stretchOn) {
    if (m.moves) StartDeclick(deck);
    else ResetStretch(deck.stretch);
    deck.stretch.stretchOn = m.useStretch;
  }
  return m;
}

// How the block's stems are read and mixed.
struct StemPlan {
  const StemData* stems = nullptr;
  float target[kStemParts];
  float kickTarget = 1.0f, hatTarget = 1.0f, splitTarget = 0.0f;
  bool kickPath = false;  // the KICK/HI-HAT split runs
  int32_t stemFx = -1;    // 0..2 one stem, 3+ MELODY, -1 the whole deck
  ReadSources sources;
  int32_t width = 2;      // floats per read frame
  float step = 0.0f;      // smoothing share per frame
};

// Stems: they count only while they belong to this track; otherwise every part sits at 1 and the
// KICK/HI-HAT split and the effects target are off.
StemPlan PlanStems(DeckState& deck, const Track* track, int32_t rate) {
  StemPlan p;
  p.stems = track && StemsBelongTo(deck.stems.get(), *track) ? deck.stems.get() : nullptr;
  for (int k = 0; k < kStemParts; ++k)
    p.target[k] = p.stems ? ClampFiniteOr(deck.stemGain[k].load(std::memory_order_relaxed), 1.0f, 0.0f, 1.0f) : 1.0f;
  p.kickTarget = ClampFiniteOr(deck.kickTarget, 1.0f, 0.0f, 1.0f);
  p.hatTarget = ClampFiniteOr(deck.hatTarget, 1.0f, 0.0f, 1.0f);
  // The split runs while a band is cut and while the deck fades into or out of its all-passes, so
  // neither a cut nor its end steps the sound.
  if (!p.stems) {
    deck.kickNow = deck.hatNow = 1.0f;
    deck.splitNow = 0.0f;
  }
  const bool cut =
      p.stems && (p.kickTarget < 1.0f || p.hatTarget < 1.0f || deck.kickNow < 1.0f || deck.hatNow < 1.0f);
  p.splitTarget = cut ? 1.0f : 0.0f;
  p.kickPath = p.stems && (cut || deck.splitNow > 0.0f);
  if (p.kickPath && deck.splitNow == 0.0f) {
    for (int c = 0; c < 2; ++c) {
      ResetDrumSplit(deck.drumSplit[c]);
      ResetSplitPhase(deck.deckPhase[c]);
      ResetSplitPhase(deck.aimedPhase[c]);
    }
  }
  p.stemFx = p.stems ? deck.stemFxTarget : -1;
  bool fullMix = true;  // every part at exactly 1 for the whole block: the main read is the plain mix
  for (int k = 0; k < kStemParts; ++k) fullMix = fullMix && p.target[k] == 1.0f && deck.stemGainNow[k] == 1.0f;
  const bool remix = p.stems && (!fullMix || p.stemFx >= 0 || p.kickPath);
  if (track) p.sources = SourcesOf(*track, remix ? p.stems : nullptr);
  p.width = 2 * p.sources.count;
  p.step = static_cast<float>(1.0 / (kStemSmoothSeconds * rate));
  return p;
}

// One chunk of the first pass: where each frame reads, its fade, the de-click tails and whether
// a loop wrapped there.
struct ReadChunk {
  float read[kReadChunk * 2 * kMaxReadSources];
  double readAt[kReadChunk];
  float fades[kReadChunk];
  float declick[kReadChunk * 2];
  bool wrapped[kReadChunk];
  int32_t reads = 0;  // frames 0..reads-1 of the chunk read the track (once stopped, it stays)
};

// Deck read, transport: moves the deck frame by frame through frames first..first+n-1 (loops,
// the end of the track, slip), noting where each reads and mixing the de-click tails of jumps.
// The speed ramps from startSpeed (the last block's) to the motion's v across the block, each frame moving
// `landing` frames more.
void MoveChunk(DeckState& deck, const Track* track, const DeckSpeeds& s, const DeckMotion& motion, double startSpeed,
               double landing, bool& moving, int32_t first, int32_t n, int32_t frames, int32_t rate, ReadChunk& c) {
  const double v = motion.v;
  const bool loopUsable = deck.loopOn && std::isfinite(deck.loopIn) && std::isfinite(deck.loopOut) &&
                          deck.loopOut > deck.loopIn;
  const float fadeStep = static_cast<float>(1.0 / (kJumpFadeSeconds * rate));
  const float stillStep = static_cast<float>(1.0 / (kStillFadeSeconds * rate));
  // The stretcher plays grains at the key's pitch whatever the speed: no DC to keep out.
  const bool followSpeed = !deck.stretch.stretchOn;
  const bool still = motion.stopping || std::max(std::abs(startSpeed), std::abs(v)) * frames < kStillFrames;
  const double audibleSpeed = kAudibleSpeed * s.ratio;
  double* positions = deck.blockPositions.data();
  c.reads = 0;
  for (int32_t j = 0; j < n; ++j) {
    const int32_t i = first + j;
    c.wrapped[j] = false;
    if (moving) {
      const double sp = startSpeed + (v - startSpeed) * (i + 1) / frames + landing;
      if (loopUsable) {
        const double length = deck.loopOut - deck.loopIn;
        if (sp > 0.0 && deck.position >= deck.loopOut) {
          StartDeclick(deck);
          deck.position = std::fmod(deck.position - deck.loopIn, length) + deck.loopIn;
          c.wrapped[j] = true;
        } else if (sp < 0.0 && deck.position < deck.loopIn && deck.position > deck.loopIn - length) {
          StartDeclick(deck);
          deck.position += length;
          c.wrapped[j] = true;
        }
      }
      if (!deck.jogTouched && sp > 0.0 && deck.position >= s.lastFrame) {
        deck.playing = false;
        moving = false;
        deck.position = s.lastFrame;
        deck.speed = sp;
      } else {
        c.readAt[j] = deck.position;
        deck.fadeIn = std::min(deck.fadeIn + fadeStep, 1.0f);
        const float wanted =
            still ? 0.0f : followSpeed ? static_cast<float>(std::min(std::abs(sp) / audibleSpeed, 1.0)) : 1.0f;
        if (!std::isfinite(deck.motionGain)) deck.motionGain = wanted;
        deck.motionGain += std::clamp(wanted - deck.motionGain, -stillStep, stillStep);
        c.fades[j] = deck.fadeIn * deck.motionGain;
        c.reads = j + 1;
        deck.position = std::max(deck.position + sp, 0.0);
        deck.speed = sp;
      }
    }
    if (deck.slipOn && deck.playing)
      deck.slipPosition = std::min(deck.slipPosition + s.speedFactor * s.ratio, s.lastFrame);
    c.declick[2 * j] = c.declick[2 * j + 1] = 0.0f;
    for (auto [position, speed, fade] : {std::tie(deck.oldPosition, deck.oldSpeed, deck.oldFade),
                                         std::tie(deck.olderPosition, deck.olderSpeed, deck.olderFade)}) {
      if (fade <= 0.0f) continue;
      float l = 0.0f, r = 0.0f;
      if (track) ReadTrackCubic(*track, position, l, r);
      fade = std::max(fade - fadeStep, 0.0f);
      c.declick[2 * j] += l * fade;
      c.declick[2 * j + 1] += r * fade;
      position += speed;
    }
    positions[i] = deck.position;
  }
}

// Stretch: the chunk's reads, cubic or through the stretcher grain by grain over whole runs,
// starting from `grains` (the stretcher before the chunk moved) and replaying a loop wrap's reset
// at its frame.
void ReadChunkSources(DeckState& deck, const Track* track, const StemPlan& plan, double pitch, StretchState grains,
                      int32_t n, ReadChunk& c) {
  if (!grains.stretchOn) ReadSourcesCubicRun(plan.sources, c.readAt, c.reads, c.read);
  for (int32_t j = 0; j < n;) {
    if (c.wrapped[j]) ResetStretch(grains);
    if (j >= c.reads || !grains.stretchOn) {
      ++j;
      continue;
    }
    int32_t run = std::min(c.reads - j, StretchRunLength(grains));
    for (int32_t k = j + 1; k < j + run; ++k)
      if (c.wrapped[k]) run = k - j;
    StretchBlock(grains, *track, plan.sources, c.readAt[j], pitch, deck.speed, run, c.read + j * plan.width);
    j += run;
  }
  deck.stretch = grains;
}

// Stems: the chunk's parts mixed at their smoothed gains into the deck's main signal (scratch)
// and the part the effects aim at (aimedOut), through the KICK/HI-HAT split when it runs.
void MixChunkStems(DeckState& deck, const StemPlan& plan, const ReadChunk& c, int32_t first, int32_t n) {
  float* scratch = deck.blockScratch.data();
  float* aimedOut = deck.stemScratch.data();
  const int32_t stemFx = plan.stemFx;
  for (int32_t j = 0; j < n; ++j) {
    const int32_t i = first + j;
    for (int p = 0; p < kStemParts; ++p) Smooth(deck.stemGainNow[p], plan.target[p], plan.step);
    float main[2] = {0.0f, 0.0f}, aimed[2] = {0.0f, 0.0f}, drums[2] = {0.0f, 0.0f};
    if (j < c.reads) {
      const float* at = c.read + j * plan.width;
      const float fade = c.fades[j];
      if (plan.width == 2) {
        main[0] = at[0] * fade;
        main[1] = at[1] * fade;
      } else {
        // Parts: [melody, vocals - melody, drums - melody, bass - melody], MELODY being the rest.
        const float* g = deck.stemGainNow;
        const float m = g[3];
        for (int ch = 0; ch < 2; ++ch) {
          const float mix = at[ch], vocals = at[2 + ch], drum = at[4 + ch], bass = at[6 + ch];
          main[ch] = (m * mix + (g[0] - m) * vocals + (g[1] - m) * drum + (g[2] - m) * bass) * fade;
          if (stemFx >= 0 && stemFx < 3) aimed[ch] = g[stemFx] * at[2 + 2 * stemFx + ch] * fade;
          else if (stemFx >= 3) aimed[ch] = m * (mix - vocals - drum - bass) * fade;
          drums[ch] = g[1] * drum * fade;
        }
      }
    }
    main[0] += c.declick[2 * j];
    main[1] += c.declick[2 * j + 1];
    if (plan.kickPath) {
      // The cut bands leave the deck as heard through the split's all-passes; the part aimed at
      // by the effects goes through them too, so taking it out stays exact.
      Smooth(deck.kickNow, plan.kickTarget, plan.step);
      Smooth(deck.hatNow, plan.hatTarget, plan.step);
      Smooth(deck.splitNow, plan.splitTarget, plan.step);
      const double through = deck.splitNow;
      for (int ch = 0; ch < 2; ++ch) {
        const DrumBands bands = SplitDrums(deck.drumSplit[ch], drums[ch]);
        const double split = ShiftLikeSplit(deck.deckPhase[ch], main[ch]) - bands.low * (1.0 - deck.kickNow) -
                             bands.high * (1.0 - deck.hatNow);
        main[ch] = static_cast<float>(main[ch] + through * (split - main[ch]));
        if (stemFx >= 0)
          aimed[ch] = static_cast<float>(aimed[ch] + through * (ShiftLikeSplit(deck.aimedPhase[ch], aimed[ch]) - aimed[ch]));
      }
    }
    if (stemFx >= 0) {
      main[0] -= aimed[0];
      main[1] -= aimed[1];
      aimedOut[2 * i] = aimed[0];
      aimedOut[2 * i + 1] = aimed[1];
    }
    scratch[2 * i] = main[0];
    scratch[2 * i + 1] = main[1];
  }
}

// The first pass, a chunk of frames at a time: the transport moves frame by frame and notes
// where each frame reads; then the reads run; then the parts are mixed into the deck's scratch.
void MoveAndRead(DeckState& deck, const Track* track, const DeckSpeeds& s, const DeckMotion& motion,
                 const StemPlan& plan, int32_t frames, int32_t rate) {
  bool moving = motion.moves;
  const double startSpeed = std::isfinite(deck.speed) ? deck.speed : 0.0;
  // At a whole number of frames per frame (tempo 0 at the track's rate) every read falls where
  // the block starts between two frames: the start ramp's half frame, or a seek's fraction, would
  // read the whole track through the interpolation and dull its top octave. The block that finds
  // the position off a whole frame moves it onto one, spread over its frames (at most half a
  // frame in a block, inaudible).
  double landing = 0.0;
  if (motion.wholeFrames) {
    if (std::abs(deck.position - std::round(deck.position)) < kWholeFrameSlack) deck.position = std::round(deck.position);
    const double end = deck.position + startSpeed * frames + (motion.v - startSpeed) * (frames + 1) / 2.0;
    landing = (std::round(end) - end) / frames;
  }
  ReadChunk chunk;
  for (int32_t first = 0; first < frames; first += kReadChunk) {
    const int32_t n = std::min(kReadChunk, frames - first);
    // The reads start from the grains as they are now; a loop wrap while moving resets
    // deck.stretch at once, and the reads replay that reset at its frame.
    const StretchState grains = deck.stretch;
    MoveChunk(deck, track, s, motion, startSpeed, landing, moving, first, n, frames, rate, chunk);
    ReadChunkSources(deck, track, plan, s.pitch, grains, n, chunk);
    MixChunkStems(deck, plan, chunk, first, n);
  }
  if (!motion.moves) deck.speed = 0.0;
}

// Gains of the strip, ramped across the block from gainLast: low, mid, high, trim, fader, cue.
constexpr int kStripGains = 6;
void StripTargets(const DeckState& deck, float xfGain, bool ownOutput, float* target) {
  if (ownOutput) {
    std::fill(target, target + kStripGains, 1.0f);
    return;
  }
  const float gainKnob = ClampFiniteOr(deck.gain, 0.5f, 0.0f, 1.0f);
  target[0] = EqGain(ClampFiniteOr(deck.eqLow, 0.5f, 0.0f, 1.0f));
  target[1] = EqGain(ClampFiniteOr(deck.eqMid, 0.5f, 0.0f, 1.0f));
  target[2] = EqGain(ClampFiniteOr(deck.eqHigh, 0.5f, 0.0f, 1.0f));
  target[3] = static_cast<float>(std::pow(10.0, (gainKnob - 0.5) * kTrimRangeDb / 20.0));
  const float fader = ClampFiniteOr(deck.fader, 0.0f, 0.0f, 1.0f);
  target[4] = fader * fader * ClampFiniteOr(xfGain, 0.0f, 0.0f, 1.0f);
  target[5] = deck.cue ? 1.0f : 0.0f;
}

// Effects, per block: the deck unit (GATE and AUTO-WAH follow the grid, so they need a track) and
// the filter knob's colour effect. Returns the colour effect's row, -1 for the plain filter.
int UpdateDeckEffects(DeckState& deck, const Track* track, const DeckSpeeds& s, float filter, int32_t rate) {
  float amounts[kEffectCount], params[kEffectCount];
  for (int k = 0; k < kEffectCount; ++k) {
    amounts[k] = ClampFiniteOr(deck.fxAmount[k].load(std::memory_order_relaxed), 0.5f, 0.0f, 1.0f);
    const float p = deck.fxParam[k].load(std::memory_order_relaxed);
    params[k] = std::isfinite(p) ? p : kDefaultFxParams[k];
  }
  uint32_t mask = deck.fxMask;
  if (!track) mask &= ~(EffectBit(kFxGate) | EffectBit(kFxAutoWah));
  const double beatLength =
      track ? BeatLengthAt(*track, deck.blockPositions[0] / s.trackRate) / std::max(s.speedFactor, kMinEffectSpeed)
            : kNoTrackBeatSeconds;
  UpdateEffectUnit(deck.fxUnit, mask, amounts, params, beatLength, rate);

  const int colorEffect = kColorEffects[std::clamp(deck.colorFx, 0, 5)];
  if (colorEffect >= 0) {
    const bool filterActive = std::abs(filter) > kFilterDeadZone;  // what the colour effect follows
    float colorAmounts[kEffectCount], colorParams[kEffectCount];
    std::fill(colorAmounts, colorAmounts + kEffectCount, 0.5f);
    std::fill(colorParams, colorParams + kEffectCount, 0.0f);
    colorAmounts[colorEffect] = std::min(std::abs(filter) * kColorFxAmountScale, 1.0f);
    UpdateEffectUnit(deck.colorFxUnit, filterActive ? EffectBit(colorEffect) : 0u, colorAmounts, colorParams,
                     beatLength, rate);
  }
  return colorEffect;
}

// EQ: the three-band crossover of one channel's sample at the band gains g[0..2].
float ThreeBandEq(DeckState& deck, int c, double x, const float* g) {
  const double low =
      ProcessBiquad(deck.eqAllPass2800[c], ProcessBiquad(deck.eqLowPass250[c][1], ProcessBiquad(deck.eqLowPass250[c][0], x)));
  const double rest = ProcessBiquad(deck.eqHighPass250[c][1], ProcessBiquad(deck.eqHighPass250[c][0], x));
  const double mid = ProcessBiquad(deck.eqLowPass2800[c][1], ProcessBiquad(deck.eqLowPass2800[c][0], rest));
  const double high = ProcessBiquad(deck.eqHighPass2800[c][1], ProcessBiquad(deck.eqHighPass2800[c][0], rest));
  return static_cast<float>(low * g[0] + mid * g[1] + high * g[2]);
}

// The voice modes: the voice band alone (a) or taken out (b), each smoothed in and out.
void ApplyVoiceModes(DeckState& deck, float* y, const float* voiceTarget, float voiceStep) {
  for (int k = 0; k < 2; ++k) deck.voiceNow[k] += (voiceTarget[k] - deck.voiceNow[k]) * voiceStep;
  const float a = deck.voiceNow[0], b = deck.voiceNow[1];
  if (a <= kVoiceAudible && b <= kVoiceAudible) return;
  const float band =
      static_cast<float>(ProcessBiquad(deck.voiceLowPass, ProcessBiquad(deck.voiceHighPass, (y[0] + y[1]) * 0.5)));
  for (int c = 0; c < 2; ++c) y[c] = band * a * kVoiceBandBoost + y[c] * (1.0f - a - b) + (y[c] - band) * b;
}

// The beat click: a decaying tick on each beat crossed (higher on the downbeat) added to target.
void AddBeatClick(DeckState& deck, double beat, float clickDecay, int32_t rate, float* target) {
  if (beat > deck.clickLastBeat && std::floor(beat) > std::floor(deck.clickLastBeat) && beat - deck.clickLastBeat < 1.0) {
    deck.clickLevel = 1.0f;
    deck.clickPhase = 0.0;
    deck.clickFrequency = static_cast<int64_t>(std::floor(beat)) % 4 == 0 ? kClickDownbeatHz : kClickBeatHz;
  }
  deck.clickLastBeat = beat;
  if (deck.clickLevel <= kClickSilent) return;
  const float tick = static_cast<float>(std::sin(deck.clickPhase)) * deck.clickLevel * kClickGain;
  deck.clickLevel *= clickDecay;
  deck.clickPhase = std::fmod(deck.clickPhase + kTwoPi * deck.clickFrequency / rate, kTwoPi);
  target[0] += tick;
  target[1] += tick;
}

// Where the second pass sends the deck.
struct StripOutputs {
  float* out;
  float* cue;
  float* deckOut;      // the deck's own output (external mixer), or null
  float* clickTarget;  // the beat click's destination, or null for no click
};

// The second pass, frame by frame: trim, the aimed stem's effects, EQ, voice modes, filter,
// colour effect, deck effects and the beat click; the result goes to out, cue and deckOut.
// Returns the block's peak.
float RenderStrip(DeckState& deck, const Track* track, const DeckSpeeds& s, int32_t stemFx, float xfGain,
                  const StripOutputs& to, int32_t frames, int32_t rate) {
  float target[kStripGains];
  StripTargets(deck, xfGain, to.deckOut != nullptr, target);
  const float voiceTarget[2] = {deck.vocalMode == 1 ? 1.0f : 0.0f, deck.vocalMode == 2 ? 1.0f : 0.0f};
  const float voiceStep = static_cast<float>(1.0 / (kVoiceSmoothSeconds * rate));
  const float filter = ClampFiniteOr(deck.filter, 0.0f, -1.0f, 1.0f);
  ChannelFilterGlide glide(deck, filter, rate);
  const int colorEffect = UpdateDeckEffects(deck, track, s, filter, rate);
  const float clickDecay = static_cast<float>(std::exp(-1.0 / (kClickDecaySeconds * rate)));
  const float* scratch = deck.blockScratch.data();
  const float* aimedOut = deck.stemScratch.data();
  const double* positions = deck.blockPositions.data();

  float peak = 0.0f;
  for (int32_t i = 0; i < frames; ++i) {
    const float share = static_cast<float>(i + 1) / frames;
    float g[kStripGains];
    for (int k = 0; k < kStripGains; ++k) g[k] = deck.gainLast[k] + (target[k] - deck.gainLast[k]) * share;
    const double beat = track ? BeatAtTime(*track, positions[i] / s.trackRate) : 0.0;

    // The stem the effects act on, processed alone and put back before the EQ.
    float aimed[2] = {0.0f, 0.0f};
    if (stemFx >= 0) {
      aimed[0] = g[3] * aimedOut[2 * i];
      aimed[1] = g[3] * aimedOut[2 * i + 1];
      ProcessEffectUnit(deck.fxUnit, aimed[0], aimed[1], beat);
    }
    float y[2];
    for (int c = 0; c < 2; ++c) y[c] = ThreeBandEq(deck, c, g[3] * scratch[2 * i + c] + aimed[c], g);
    ApplyVoiceModes(deck, y, voiceTarget, voiceStep);
    if (i % kFilterGlideFrames == 0) glide.Step(deck, std::min(kFilterGlideFrames, frames - i));
    glide.Process(deck, y);
    if (colorEffect >= 0) ProcessEffectUnit(deck.colorFxUnit, y[0], y[1], beat);
    if (stemFx < 0) ProcessEffectUnit(deck.fxUnit, y[0], y[1], beat);
    if (to.clickTarget != nullptr) AddBeatClick(deck, beat, clickDecay, rate, to.clickTarget + 2 * i);

    peak = std::max(peak, std::max(std::abs(y[0]), std::abs(y[1])));
    to.out[2 * i] += g[4] * y[0];
    to.out[2 * i + 1] += g[4] * y[1];
    if (to.deckOut != nullptr) {
      to.deckOut[2 * i] += y[0];
      to.deckOut[2 * i + 1] += y[1];
    }
    to.cue[2 * i] += g[5] * y[0];
    to.cue[2 * i + 1] += g[5] * y[1];
  }
  glide.Finish(deck);
  std::copy(target, target + kStripGains, deck.gainLast);
  return peak;
}

}  // namespace

void RenderDeck(AudioEngine& engine, DeckState& deck, float xfGain, float* out, float* cue,
                float* deckOut, int32_t frames, int32_t rate) {
  if (frames <= 0 || rate <= 0) return;
  const Track* track = Usable(deck.track.get()) ? deck.track.get() : nullptr;
  const size_t stereo = static_cast<size_t>(frames) * 2;
  if (deck.filterRate != rate) BuildFixedFilters(deck, rate);
  GrowTo(deck.stemScratch, stereo);
  GrowTo(deck.blockScratch, stereo);
  GrowTo(deck.blockPositions, static_cast<size_t>(frames));
  if (!std::isfinite(deck.position)) deck.position = 0.0;

  const DeckSpeeds speeds = SpeedsOf(deck, track, rate);
  const DeckMotion motion = DecideMotion(deck, track, speeds, frames, rate);
  const StemPlan plan = PlanStems(deck, track, rate);
  MoveAndRead(deck, track, speeds, motion, plan, frames, rate);

  const bool live = &deck >= engine.decks && &deck < engine.decks + kEngineDecks;
  const bool clicks = live && motion.moves && track && (&deck - engine.decks) == engine.clickDeck;
  const StripOutputs to{out, cue, deckOut, clicks ? (HeadphonesApart(engine) ? cue : out) : nullptr};
  RaiseAtomic(deck.peak, RenderStrip(deck, track, speeds, plan.stemFx, xfGain, to, frames, rate));
}
