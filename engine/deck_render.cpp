// One deck for one device period: transport, reading, channel strip and effects.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <tuple>

#include "engine/beat_grid.h"
#include "engine/render.h"

namespace {

// Fixed filters.
constexpr double kEqLowHz = 250.0;
constexpr double kEqHighHz = 2800.0;
constexpr double kVoiceHighPassHz = 180.0;
constexpr double kVoiceLowPassHz = 6000.0;
constexpr double kVoiceQ = 0.7;
constexpr double kKickHz = 110.0;
constexpr double kHatHz = 7000.0;

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
      DesignLowPass(deck.kickLowPass[c][s], kKickHz, kButterworthQ, rate);
      DesignHighPass(deck.hatHighPass[c][s], kHatHz, kButterworthQ, rate);
    }
    DesignAllPass(deck.eqAllPass2800[c], kEqHighHz, kButterworthQ, rate);
  }
  DesignHighPass(deck.voiceHighPass, kVoiceHighPassHz, kVoiceQ, rate);
  DesignLowPass(deck.voiceLowPass, kVoiceLowPassHz, kVoiceQ, rate);
  deck.filterRate = rate;
  deck.filterActive = false;  // the channel filter is designed again at the new rate
}

// Knob 0..1 to a band gain: a squared cut below the middle (silent at 0), up to +6 dB above.
float EqGain(float knob) {
  if (knob < 0.5f) return (2.0f * knob) * (2.0f * knob);
  return static_cast<float>(std::pow(10.0, 2.0 * (knob - 0.5) * kEqBoostDb / 20.0));
}

template <typename T>
void GrowTo(std::vector<T>& v, size_t size) {
  if (v.size() < size) v.resize(size);  // only before PrepareRenderBuffers sized it
}

}  // namespace

void ReadTrackCubic(const Track& track, double position, float& left, float& right) {
  left = right = 0.0f;
  const int64_t frames = static_cast<int64_t>(PlayableFrames(track));
  if (!(position >= 0.0) || position >= static_cast<double>(frames)) return;
  const int64_t whole = static_cast<int64_t>(position);
  const float t = static_cast<float>(position - static_cast<double>(whole));
  const float* s = track.samples.data();
  float p[4][2];
  if (whole >= 1 && whole + 2 < frames) {
    const float* f = s + (whole - 1) * 2;
    for (int k = 0; k < 4; ++k) {
      p[k][0] = f[2 * k];
      p[k][1] = f[2 * k + 1];
    }
  } else {
    for (int k = 0; k < 4; ++k) {
      const int64_t at = whole - 1 + k;
      const bool inside = at >= 0 && at < frames;
      p[k][0] = inside ? s[at * 2] : 0.0f;
      p[k][1] = inside ? s[at * 2 + 1] : 0.0f;
    }
  }
  float v[2];
  for (int c = 0; c < 2; ++c) {
    const float a = (p[1][c] - p[2][c]) * 1.5f + (p[3][c] - p[0][c]) * 0.5f;
    const float b = p[0][c] - 2.5f * p[1][c] + 2.0f * p[2][c] - 0.5f * p[3][c];
    const float d = (p[2][c] - p[0][c]) * 0.5f;
    v[c] = ((a * t + b) * t + d) * t + p[1][c];
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

  // Stems: the StemData record is not defined yet, so no deck has usable stems; the stem gains
  // settle at 1 and the KICK/HI-HAT split stays open.
  deck.kickNow = 1.0f;
  deck.hatNow = 1.0f;
  const bool stemGainsSettled = std::all_of(std::begin(deck.stemGainNow), std::end(deck.stemGainNow),
                                            [](float g) { return g == 1.0f; });
  const float stemStep = static_cast<float>(1.0 / (kStemSmoothSeconds * rate));

  // --- First pass: move and read ---
  const bool loopUsable = deck.loopOn && std::isfinite(deck.loopIn) && std::isfinite(deck.loopOut) &&
                          deck.loopOut > deck.loopIn;
  const float fadeStep = static_cast<float>(1.0 / (kJumpFadeSeconds * rate));
  const double startSpeed = std::isfinite(deck.speed) ? deck.speed : 0.0;
  float* scratch = deck.blockScratch.data();
  double* positions = deck.blockPositions.data();
  bool moving = moves;
  for (int32_t i = 0; i < frames; ++i) {
    if (!stemGainsSettled) {
      for (float& now : deck.stemGainNow) {
        now += (1.0f - now) * stemStep;
        if (std::abs(1.0f - now) < kStemSnap) now = 1.0f;
      }
    }
    float main[2] = {0.0f, 0.0f};
    if (moving) {
      const double s = startSpeed + (v - startSpeed) * (i + 1) / frames;
      if (loopUsable) {
        const double length = deck.loopOut - deck.loopIn;
        if (s > 0.0 && deck.position >= deck.loopOut) {
          StartDeclick(deck);
          deck.position = std::fmod(deck.position - deck.loopIn, length) + deck.loopIn;
        } else if (s < 0.0 && deck.position < deck.loopIn && deck.position > deck.loopIn - length) {
          StartDeclick(deck);
          deck.position += length;
        }
      }
      if (!deck.jogTouched && s > 0.0 && deck.position >= lastFrame) {
        deck.playing = false;
        moving = false;
        deck.position = lastFrame;
        deck.speed = s;
      } else {
        if (deck.stretch.stretchOn) {
          auto readPart = [track](int32_t, double at, float& l, float& r) { ReadTrackCubic(*track, at, l, r); };
          StretchBlock(deck.stretch, *track, deck.position, pitch, readPart, 1, main);
        } else {
          ReadTrackCubic(*track, deck.position, main[0], main[1]);
        }
        deck.fadeIn = std::min(deck.fadeIn + fadeStep, 1.0f);
        main[0] *= deck.fadeIn;
        main[1] *= deck.fadeIn;
        deck.position = std::max(deck.position + s, 0.0);
        deck.speed = s;
      }
    }
    if (deck.slipOn && deck.playing)
      deck.slipPosition = std::min(deck.slipPosition + speedFactor * ratio, lastFrame);
    for (auto [position, speed, fade] : {std::tie(deck.oldPosition, deck.oldSpeed, deck.oldFade),
                                         std::tie(deck.olderPosition, deck.olderSpeed, deck.olderFade)}) {
      if (fade <= 0.0f) continue;
      float l = 0.0f, r = 0.0f;
      if (track) ReadTrackCubic(*track, position, l, r);
      fade = std::max(fade - fadeStep, 0.0f);
      main[0] += l * fade;
      main[1] += r * fade;
      position += speed;
    }
    scratch[2 * i] = main[0];
    scratch[2 * i + 1] = main[1];
    positions[i] = deck.position;
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
  const bool filterActive = std::abs(filter) > kFilterDeadZone;
  if (filterActive && (!deck.filterActive || filter != deck.filterLast)) {
    if (!deck.filterActive)
      for (auto& channel : deck.channelFilter)
        for (Biquad& stage : channel) ResetBiquad(stage);
    const double f = std::abs(filter);
    for (auto& channel : deck.channelFilter) {
      for (Biquad& stage : channel) {
        if (filter < 0.0f)
          DesignLowPass(stage, std::min(kFilterLowPassMaxOfRate * rate, kFilterLowPassTopHz * std::pow(kFilterLowPassCurve, f)),
                        kFilterQ, rate);
        else
          DesignHighPass(stage, kFilterHighPassBottomHz * std::pow(kFilterHighPassCurve, f), kFilterQ, rate);
      }
    }
    deck.filterLast = filter;
  }
  deck.filterActive = filterActive;

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

    float y[2];
    for (int c = 0; c < 2; ++c) {
      const double x = g[3] * scratch[2 * i + c];
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

    if (filterActive)
      for (int c = 0; c < 2; ++c)
        y[c] = static_cast<float>(ProcessBiquad(deck.channelFilter[c][1], ProcessBiquad(deck.channelFilter[c][0], y[c])));

    if (colorEffect >= 0) ProcessEffectUnit(deck.colorFxUnit, y[0], y[1], beat);
    ProcessEffectUnit(deck.fxUnit, y[0], y[1], beat);

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
  std::copy(target, target + 6, deck.gainLast);
  float seen = deck.peak.load(std::memory_order_relaxed);
  while (peak > seen && !deck.peak.compare_exchange_weak(seen, peak, std::memory_order_relaxed)) {
  }
}
