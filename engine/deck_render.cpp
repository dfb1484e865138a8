// One deck for one device period: transport, reading, channel strip and effects.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <tuple>

#include "engine/beat_grid.h"
#include "engine/key_lock.h"
#include "engine/render.h"

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
constexpr double kTwoPi = 6.283185307179586;

// The colour effects of the filter knob, by `colorFx` (0 = the plain filter).
constexpr int kColorEffects[6] = {-1, kFxReverb, kFxDubEcho, kFxNoise, kFxCrush, kFxEcho};

// Control values come from the UI, controllers and scripts: a non-finite one falls back.
float Sane(float value, float fallback, float lo, float hi) {
  return std::isfinite(value) ? std::clamp(value, lo, hi) : fallback;
}

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

template <typename T>
void GrowTo(std::vector<T>& v, size_t size) {
  if (v.size() < size) v.resize(size);  // only before PrepareRenderBuffers sized it
}

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

void RenderDeck(AudioEngine& engine, DeckState& deck, float xfGain, float* out, float* cue,
                float* deckOut, int32_t frames, int32_t rate) {
  if (frames <= 0 || rate <= 0) return;
  const Track* track = Usable(deck.track.get()) ? deck.track.get() : nullptr;
  const size_t stereo = static_cast<size_t>(frames) * 2;

  // --- Per block, before the frames ---
  if (deck.filterRate != rate) BuildFixedFilters(deck, rate);
  GrowTo(deck.stemScratch, stereo);
  GrowTo(deck.blockScratch, stereo);
  GrowTo(deck.blockPositions, static_cast<size_t>(frames));
  if (!std::isfinite(deck.position)) deck.position = 0.0;

  const double trackRate = track ? static_cast<double>(track->sampleRate) : 0.0;
  const double lastFrame = track ? static_cast<double>(PlayableFrames(*track) - 1) : 0.0;
  const double ratio = track ? trackRate / rate : 1.0;
  const double tempo = Sane(deck.tempo, 0.0f, -kMaxSpeedFactor, kMaxSpeedFactor);
  const double bend = Sane(deck.bend, 0.0f, -kMaxSpeedFactor, kMaxSpeedFactor);
  const double speedFactor = std::clamp(1.0 + tempo + bend, 0.0, kMaxSpeedFactor);
  const double keyShift = Sane(deck.keyShift, 0.0f, -kMaxKeyShiftSemitones, kMaxKeyShiftSemitones);
  const double pitch = std::pow(2.0, keyShift / 12.0) * ratio * (deck.keyLock ? 1.0 : speedFactor);

  // Target speed v of the block (source frames per output frame) and the stretcher choice.
  double v = 0.0;
  bool useStretch = false;
  if (!track) {
    v = 0.0;
  } else if (deck.jogTouched) {
    const double jogTarget = std::isfinite(deck.jogTarget) ? deck.jogTarget : deck.position;
    const double limit = kScratchMaxSpeed * ratio;
    const double wanted = std::clamp((jogTarget - deck.position) / (2.0 * frames), -limit, limit);
    if (!std::isfinite(deck.scratchSpeed)) deck.scratchSpeed = 0.0;
    deck.scratchSpeed += (wanted - deck.scratchSpeed) * kScratchFollow;
    v = deck.scratchSpeed;
  } else if (deck.externalSpeedOn) {
    v = ratio * Sane(deck.externalSpeed, 0.0f, -kExternalMaxSpeed, kExternalMaxSpeed);
  } else if (!deck.playing) {
    v = 0.0;
  } else if (deck.stopMode == 1 || deck.stopMode == 2) {
    const bool brake = deck.stopMode == 1;
    const double amount = Sane(deck.fxAmount[brake ? kFxBrake : kFxBackspin].load(std::memory_order_relaxed),
                               0.5f, 0.0f, 1.0f);
    const double seconds = brake ? amount * kBrakeSecondsPerAmount + kBrakeMinSeconds
                                 : amount * kBackspinSecondsPerAmount + kBackspinMinSeconds;
    if (!std::isfinite(deck.stopElapsed)) deck.stopElapsed = 0.0;
    const double f = std::max(1.0 - deck.stopElapsed / seconds, 0.0);
    v = (brake ? speedFactor : kBackspinSpeed) * ratio * f;
    deck.stopElapsed += static_cast<double>(frames) / rate;
    if (f <= 0.0) {
      deck.playing = false;
      deck.stopMode = 0;
      v = 0.0;
    }
  } else {
    v = deck.reverse ? -speedFactor * ratio : speedFactor * ratio;
    useStretch = !deck.reverse && (deck.keyLock || std::abs(keyShift) > kKeyShiftEngageSemitones);
  }
  const bool moves = deck.playing || deck.jogTouched || v != 0.0;

  if (useStretch != deck.stretch.stretchOn) {
    if (moves) StartDeclick(deck);
    else ResetStretch(deck.stretch);
    deck.stretch.stretchOn = useStretch;
  }

  // Stems count only while they belong to this track; otherwise every part sits at 1 and the
  // KICK/HI-HAT split and the effects target are off.
  const StemData* stems = track && StemsBelongTo(deck.stems.get(), *track) ? deck.stems.get() : nullptr;
  float stemTarget[kStemParts];
  for (int p = 0; p < kStemParts; ++p)
    stemTarget[p] = stems ? Sane(deck.stemGain[p].load(std::memory_order_relaxed), 1.0f, 0.0f, 1.0f) : 1.0f;
  const float kickTarget = Sane(deck.kickTarget, 1.0f, 0.0f, 1.0f);
  const float hatTarget = Sane(deck.hatTarget, 1.0f, 0.0f, 1.0f);
  // The split runs while a band is cut and while the deck fades into or out of its all-passes, so
  // neither a cut nor its end steps the sound.
  if (!stems) {
    deck.kickNow = deck.hatNow = 1.0f;
    deck.splitNow = 0.0f;
  }
  const bool cut = stems && (kickTarget < 1.0f || hatTarget < 1.0f || deck.kickNow < 1.0f || deck.hatNow < 1.0f);
  const float splitTarget = cut ? 1.0f : 0.0f;
  const bool kickPath = stems && (cut || deck.splitNow > 0.0f);
  if (kickPath && deck.splitNow == 0.0f) {
    for (int c = 0; c < 2; ++c) {
      ResetDrumSplit(deck.drumSplit[c]);
      ResetSplitPhase(deck.deckPhase[c]);
      ResetSplitPhase(deck.aimedPhase[c]);
    }
  }
  const int32_t stemFx = stems ? deck.stemFxTarget : -1;  // 0..2 one stem, 3+ MELODY, -1 the whole deck
  bool fullMix = true;  // every part at exactly 1 for the whole block: the main read is the plain mix
  for (int p = 0; p < kStemParts; ++p) fullMix = fullMix && stemTarget[p] == 1.0f && deck.stemGainNow[p] == 1.0f;
  const bool remix = stems && (!fullMix || stemFx >= 0 || kickPath);
  ReadSources sources;
  if (track) sources = SourcesOf(*track, remix ? stems : nullptr);
  const int32_t width = 2 * sources.count;
  const float stemStep = static_cast<float>(1.0 / (kStemSmoothSeconds * rate));

  // --- First pass: move and read, a chunk of frames at a time ---
  // Per chunk: the transport moves frame by frame and notes where each frame reads; then the
  // reads run (the stretcher grain by grain over whole runs); then the parts are mixed.
  const bool loopUsable = deck.loopOn && std::isfinite(deck.loopIn) && std::isfinite(deck.loopOut) &&
                          deck.loopOut > deck.loopIn;
  const float fadeStep = static_cast<float>(1.0 / (kJumpFadeSeconds * rate));
  const double startSpeed = std::isfinite(deck.speed) ? deck.speed : 0.0;
  float* scratch = deck.blockScratch.data();
  float* aimedOut = deck.stemScratch.data();
  double* positions = deck.blockPositions.data();
  bool moving = moves;
  float read[kReadChunk * 2 * kMaxReadSources];
  double readAt[kReadChunk];
  float fades[kReadChunk];
  float declick[kReadChunk * 2];
  bool wrapped[kReadChunk];
  for (int32_t first = 0; first < frames; first += kReadChunk) {
    const int32_t n = std::min(kReadChunk, frames - first);
    // The reads start from the grains as they are now; a loop wrap below resets deck.stretch at
    // once, and the reads replay that reset at its frame.
    StretchState grains = deck.stretch;
    int32_t reads = 0;  // frames 0..reads-1 of the chunk read the track (once stopped, it stays)
    for (int32_t j = 0; j < n; ++j) {
      const int32_t i = first + j;
      wrapped[j] = false;
      if (moving) {
        const double s = startSpeed + (v - startSpeed) * (i + 1) / frames;
        if (loopUsable) {
          const double length = deck.loopOut - deck.loopIn;
          if (s > 0.0 && deck.position >= deck.loopOut) {
            StartDeclick(deck);
            deck.position = std::fmod(deck.position - deck.loopIn, length) + deck.loopIn;
            wrapped[j] = true;
          } else if (s < 0.0 && deck.position < deck.loopIn && deck.position > deck.loopIn - length) {
            StartDeclick(deck);
            deck.position += length;
            wrapped[j] = true;
          }
        }
        if (!deck.jogTouched && s > 0.0 && deck.position >= lastFrame) {
          deck.playing = false;
          moving = false;
          deck.position = lastFrame;
          deck.speed = s;
        } else {
          readAt[j] = deck.position;
          deck.fadeIn = std::min(deck.fadeIn + fadeStep, 1.0f);
          fades[j] = deck.fadeIn;
          reads = j + 1;
          deck.position = std::max(deck.position + s, 0.0);
          deck.speed = s;
        }
      }
      if (deck.slipOn && deck.playing)
        deck.slipPosition = std::min(deck.slipPosition + speedFactor * ratio, lastFrame);
      declick[2 * j] = declick[2 * j + 1] = 0.0f;
      for (auto [position, speed, fade] : {std::tie(deck.oldPosition, deck.oldSpeed, deck.oldFade),
                                           std::tie(deck.olderPosition, deck.olderSpeed, deck.olderFade)}) {
        if (fade <= 0.0f) continue;
        float l = 0.0f, r = 0.0f;
        if (track) ReadTrackCubic(*track, position, l, r);
        fade = std::max(fade - fadeStep, 0.0f);
        declick[2 * j] += l * fade;
        declick[2 * j + 1] += r * fade;
        position += speed;
      }
      positions[i] = deck.position;
    }

    if (!grains.stretchOn) ReadSourcesCubicRun(sources, readAt, reads, read);
    for (int32_t j = 0; j < n;) {
      if (wrapped[j]) ResetStretch(grains);
      if (j >= reads || !grains.stretchOn) {
        ++j;
        continue;
      }
      int32_t run = std::min(reads - j, StretchRunLength(grains));
      for (int32_t k = j + 1; k < j + run; ++k)
        if (wrapped[k]) run = k - j;
      StretchBlock(grains, *track, sources, readAt[j], pitch, run, read + j * width);
      j += run;
    }
    deck.stretch = grains;

    for (int32_t j = 0; j < n; ++j) {
      const int32_t i = first + j;
      for (int p = 0; p < kStemParts; ++p) Smooth(deck.stemGainNow[p], stemTarget[p], stemStep);
      float main[2] = {0.0f, 0.0f}, aimed[2] = {0.0f, 0.0f}, drums[2] = {0.0f, 0.0f};
      if (j < reads) {
        const float* at = read + j * width;
        const float fade = fades[j];
        if (width == 2) {
          main[0] = at[0] * fade;
          main[1] = at[1] * fade;
        } else {
          // Parts: [melody, vocals - melody, drums - melody, bass - melody], MELODY being the rest.
          const float* g = deck.stemGainNow;
          const float m = g[3];
          for (int c = 0; c < 2; ++c) {
            const float mix = at[c], vocals = at[2 + c], drum = at[4 + c], bass = at[6 + c];
            main[c] = (m * mix + (g[0] - m) * vocals + (g[1] - m) * drum + (g[2] - m) * bass) * fade;
            if (stemFx >= 0 && stemFx < 3) aimed[c] = g[stemFx] * at[2 + 2 * stemFx + c] * fade;
            else if (stemFx >= 3) aimed[c] = m * (mix - vocals - drum - bass) * fade;
            drums[c] = g[1] * drum * fade;
          }
        }
      }
      main[0] += declick[2 * j];
      main[1] += declick[2 * j + 1];
      if (kickPath) {
        // The cut bands leave the deck as heard through the split's all-passes; the part aimed at
        // by the effects goes through them too, so taking it out stays exact.
        Smooth(deck.kickNow, kickTarget, stemStep);
        Smooth(deck.hatNow, hatTarget, stemStep);
        Smooth(deck.splitNow, splitTarget, stemStep);
        const double through = deck.splitNow;
        for (int c = 0; c < 2; ++c) {
          const DrumBands bands = SplitDrums(deck.drumSplit[c], drums[c]);
          const double split = ShiftLikeSplit(deck.deckPhase[c], main[c]) - bands.low * (1.0 - deck.kickNow) -
                               bands.high * (1.0 - deck.hatNow);
          main[c] = static_cast<float>(main[c] + through * (split - main[c]));
          if (stemFx >= 0)
            aimed[c] = static_cast<float>(aimed[c] + through * (ShiftLikeSplit(deck.aimedPhase[c], aimed[c]) - aimed[c]));
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
  if (!moves) deck.speed = 0.0;

  // --- Gains of the second pass (targets; each ramps from gainLast across the block) ---
  float target[6];  // low, mid, high, trim, fader, cue
  if (deckOut != nullptr) {
    std::fill(target, target + 6, 1.0f);
  } else {
    const float gainKnob = Sane(deck.gain, 0.5f, 0.0f, 1.0f);
    target[0] = EqGain(Sane(deck.eqLow, 0.5f, 0.0f, 1.0f));
    target[1] = EqGain(Sane(deck.eqMid, 0.5f, 0.0f, 1.0f));
    target[2] = EqGain(Sane(deck.eqHigh, 0.5f, 0.0f, 1.0f));
    target[3] = static_cast<float>(std::pow(10.0, (gainKnob - 0.5) * kTrimRangeDb / 20.0));
    const float fader = Sane(deck.fader, 0.0f, 0.0f, 1.0f);
    target[4] = fader * fader * Sane(xfGain, 0.0f, 0.0f, 1.0f);
    target[5] = deck.cue ? 1.0f : 0.0f;
  }
  float voiceTarget[2] = {deck.vocalMode == 1 ? 1.0f : 0.0f, deck.vocalMode == 2 ? 1.0f : 0.0f};
  const float voiceStep = static_cast<float>(1.0 / (kVoiceSmoothSeconds * rate));

  const float filter = Sane(deck.filter, 0.0f, -1.0f, 1.0f);
  const bool filterActive = std::abs(filter) > kFilterDeadZone;  // what the colour effect follows
  ChannelFilterGlide glide(deck, filter, rate);

  // Deck effects: GATE and AUTO-WAH follow the grid, so they need a track.
  float amounts[kEffectCount], params[kEffectCount];
  for (int k = 0; k < kEffectCount; ++k) {
    amounts[k] = Sane(deck.fxAmount[k].load(std::memory_order_relaxed), 0.5f, 0.0f, 1.0f);
    const float p = deck.fxParam[k].load(std::memory_order_relaxed);
    params[k] = std::isfinite(p) ? p : kDefaultFxParams[k];
  }
  uint32_t mask = deck.fxMask;
  if (!track) mask &= ~(EffectBit(kFxGate) | EffectBit(kFxAutoWah));
  const double beatLength = track ? BeatLengthAt(*track, positions[0] / trackRate) / std::max(speedFactor, kMinEffectSpeed)
                                  : kNoTrackBeatSeconds;
  UpdateEffectUnit(deck.fxUnit, mask, amounts, params, beatLength, rate);

  const int colorEffect = kColorEffects[std::clamp(deck.colorFx, 0, 5)];
  if (colorEffect >= 0) {
    float colorAmounts[kEffectCount], colorParams[kEffectCount];
    std::fill(colorAmounts, colorAmounts + kEffectCount, 0.5f);
    std::fill(colorParams, colorParams + kEffectCount, 0.0f);
    colorAmounts[colorEffect] = std::min(std::abs(filter) * kColorFxAmountScale, 1.0f);
    UpdateEffectUnit(deck.colorFxUnit, filterActive ? EffectBit(colorEffect) : 0u, colorAmounts, colorParams,
                     beatLength, rate);
  }

  const bool live = &deck >= engine.decks && &deck < engine.decks + kEngineDecks;
  const bool clicks = live && moves && track && (&deck - engine.decks) == engine.clickDeck;
  float* clickTarget = HeadphonesApart(engine) ? cue : out;
  const float clickDecay = static_cast<float>(std::exp(-1.0 / (kClickDecaySeconds * rate)));

  // --- Second pass: channel strip and effects ---
  float peak = 0.0f;
  for (int32_t i = 0; i < frames; ++i) {
    const float share = static_cast<float>(i + 1) / frames;
    float g[6];
    for (int k = 0; k < 6; ++k) g[k] = deck.gainLast[k] + (target[k] - deck.gainLast[k]) * share;
    const double beat = track ? BeatAtTime(*track, positions[i] / trackRate) : 0.0;

    // The stem the effects act on, processed alone and put back before the EQ.
    float aimed[2] = {0.0f, 0.0f};
    if (stemFx >= 0) {
      aimed[0] = g[3] * aimedOut[2 * i];
      aimed[1] = g[3] * aimedOut[2 * i + 1];
      ProcessEffectUnit(deck.fxUnit, aimed[0], aimed[1], beat);
    }
    float y[2];
    for (int c = 0; c < 2; ++c) {
      const double x = g[3] * scratch[2 * i + c] + aimed[c];
      const double low = ProcessBiquad(deck.eqAllPass2800[c],
                                       ProcessBiquad(deck.eqLowPass250[c][1], ProcessBiquad(deck.eqLowPass250[c][0], x)));
      const double rest = ProcessBiquad(deck.eqHighPass250[c][1], ProcessBiquad(deck.eqHighPass250[c][0], x));
      const double mid = ProcessBiquad(deck.eqLowPass2800[c][1], ProcessBiquad(deck.eqLowPass2800[c][0], rest));
      const double high = ProcessBiquad(deck.eqHighPass2800[c][1], ProcessBiquad(deck.eqHighPass2800[c][0], rest));
      y[c] = static_cast<float>(low * g[0] + mid * g[1] + high * g[2]);
    }

    for (int k = 0; k < 2; ++k) deck.voiceNow[k] += (voiceTarget[k] - deck.voiceNow[k]) * voiceStep;
    const float a = deck.voiceNow[0], b = deck.voiceNow[1];
    if (a > kVoiceAudible || b > kVoiceAudible) {
      const float band = static_cast<float>(
          ProcessBiquad(deck.voiceLowPass, ProcessBiquad(deck.voiceHighPass, (y[0] + y[1]) * 0.5)));
      for (float& c : y) c = band * a * kVoiceBandBoost + c * (1.0f - a - b) + (c - band) * b;
    }

    if (i % kFilterGlideFrames == 0) glide.Step(deck, std::min(kFilterGlideFrames, frames - i));
    glide.Process(deck, y);

    if (colorEffect >= 0) ProcessEffectUnit(deck.colorFxUnit, y[0], y[1], beat);
    if (stemFx < 0) ProcessEffectUnit(deck.fxUnit, y[0], y[1], beat);

    if (clicks) {
      if (beat > deck.clickLastBeat && std::floor(beat) > std::floor(deck.clickLastBeat) &&
          beat - deck.clickLastBeat < 1.0) {
        deck.clickLevel = 1.0f;
        deck.clickPhase = 0.0;
        deck.clickFrequency = static_cast<int64_t>(std::floor(beat)) % 4 == 0 ? kClickDownbeatHz : kClickBeatHz;
      }
      deck.clickLastBeat = beat;
      if (deck.clickLevel > kClickSilent) {
        const float tick = static_cast<float>(std::sin(deck.clickPhase)) * deck.clickLevel * kClickGain;
        deck.clickLevel *= clickDecay;
        deck.clickPhase = std::fmod(deck.clickPhase + kTwoPi * deck.clickFrequency / rate, kTwoPi);
        clickTarget[2 * i] += tick;
        clickTarget[2 * i + 1] += tick;
      }
    }

    peak = std::max(peak, std::max(std::abs(y[0]), std::abs(y[1])));
    out[2 * i] += g[4] * y[0];
    out[2 * i + 1] += g[4] * y[1];
    if (deckOut != nullptr) {
      deckOut[2 * i] += y[0];
      deckOut[2 * i + 1] += y[1];
    }
    cue[2 * i] += g[5] * y[0];
    cue[2 * i + 1] += g[5] * y[1];
  }
  glide.Finish(deck);
  std::copy(target, target + 6, deck.gainLast);
  float seen = deck.peak.load(std::memory_order_relaxed);
  while (peak > seen && !deck.peak.compare_exchange_weak(seen, peak, std::memory_order_relaxed)) {
  }
}
