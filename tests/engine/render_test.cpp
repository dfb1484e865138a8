// The mixer and deck render on real signals over many consecutive periods.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "engine/engine.h"
#include "engine/render.h"
#include "engine/render_script.h"
#include "engine/stem_controls.h"
#include "engine/wav_file.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace {

constexpr int kRate = 48000;
constexpr int kPeriod = 480;
constexpr double kPi = 3.141592653589793;

TrackPtr MakeTrack(int rate, double seconds, const std::function<float(double)>& wave) {
  auto track = std::make_shared<Track>();
  track->sampleRate = rate;
  track->frames = static_cast<uint64_t>(seconds * rate);
  track->samples.resize(track->frames * 2);
  for (uint64_t i = 0; i < track->frames; ++i)
    track->samples[2 * i] = track->samples[2 * i + 1] = wave(static_cast<double>(i) / rate);
  return track;
}

TrackPtr Sine(double hz, float amplitude, double seconds = 10.0, int rate = kRate) {
  return MakeTrack(rate, seconds, [=](double t) { return amplitude * static_cast<float>(std::sin(2 * kPi * hz * t)); });
}

std::unique_ptr<AudioEngine> NewEngine() {
  auto engine = std::make_unique<AudioEngine>();
  PrepareRenderBuffers(*engine, kPeriod, kRate);
  return engine;
}

// A deck already running at its natural speed with the channel strip neutral and the fader up,
// so every frame is read at a whole source position.
void PlayNeutral(DeckState& deck, TrackPtr track) {
  deck.speed = static_cast<double>(track->sampleRate) / kRate;
  deck.track = std::move(track);
  deck.playing = true;
  deck.fadeIn = 1.0f;
  deck.fader = 1.0f;
}

std::vector<float> Render(AudioEngine& engine, double seconds) {
  const int blocks = static_cast<int>(std::lround(seconds * kRate / kPeriod));
  std::vector<float> out(static_cast<size_t>(blocks) * kPeriod * 2);
  for (int b = 0; b < blocks; ++b) RenderMix(engine, out.data() + static_cast<size_t>(b) * kPeriod * 2, kPeriod, kRate);
  return out;
}

// Left channel, from frame `from` on.
std::vector<float> Left(const std::vector<float>& stereo, size_t from = 0) {
  std::vector<float> left;
  for (size_t i = from; i < stereo.size() / 2; ++i) left.push_back(stereo[2 * i]);
  return left;
}

double Rms(const std::vector<float>& x) {
  double sum = 0;
  for (float v : x) sum += static_cast<double>(v) * v;
  return std::sqrt(sum / static_cast<double>(x.size()));
}

double Db(double ratio) { return 20.0 * std::log10(ratio); }

// Frequency from rising zero crossings, interpolated between samples.
double Frequency(const std::vector<float>& x) {
  std::vector<double> crossings;
  for (size_t i = 0; i + 1 < x.size(); ++i)
    if (x[i] <= 0.0f && x[i + 1] > 0.0f) crossings.push_back(static_cast<double>(i) + x[i] / (x[i] - x[i + 1]));
  if (crossings.size() < 3) return 0.0;
  return (crossings.size() - 1) * kRate / (crossings.back() - crossings.front());
}

float MaxStep(const std::vector<float>& x) {
  float step = 0.0f;
  for (size_t i = 0; i + 1 < x.size(); ++i) step = std::max(step, std::abs(x[i + 1] - x[i]));
  return step;
}

float MaxAbs(const std::vector<float>& x) {
  float peak = 0.0f;
  for (float v : x) peak = std::max(peak, std::abs(v));
  return peak;
}

// Output RMS of a tone through one deck, with `setup` applied to the deck first.
// A quarter of full scale leaves room for a +6 dB boost below the limiter.
constexpr float kToneAmplitude = 0.25f;
const double kToneRms = kToneAmplitude / std::sqrt(2.0);

double ToneLevel(double hz, const std::function<void(DeckState&)>& setup) {
  auto engine = NewEngine();
  PlayNeutral(engine->decks[0], Sine(hz, kToneAmplitude));
  setup(engine->decks[0]);
  return Rms(Left(Render(*engine, 1.0), kRate / 2));
}

TEST(DeckRender, NeutralDeckPassesItsInputThrough) {
  // DC comes through sample for sample once the crossover has settled.
  auto engine = NewEngine();
  PlayNeutral(engine->decks[0], MakeTrack(kRate, 2.0, [](double) { return 0.4f; }));
  const std::vector<float> out = Render(*engine, 0.5);
  for (size_t i = kRate / 10 * 2; i < out.size(); ++i) ASSERT_NEAR(out[i], 0.4f, 1e-4) << "sample " << i;
  // Tones keep their level across the bands (the crossover only shifts phase).
  for (double hz : {60.0, 1000.0, 10000.0}) {
    const double level = ToneLevel(hz, [](DeckState&) {});
    EXPECT_NEAR(level / kToneRms, 1.0, 1e-4) << hz << " Hz";
  }
}

TEST(DeckRender, EqKnobsCutAndBoostTheirBand) {
  const double unity = kToneRms;
  EXPECT_LT(Db(ToneLevel(50, [](DeckState& d) { d.eqLow = 0.0f; }) / unity), -40.0);
  EXPECT_LT(Db(ToneLevel(12000, [](DeckState& d) { d.eqHigh = 0.0f; }) / unity), -40.0);
  // The 250 Hz / 2800 Hz crossover leaves about 36 dB at the centre of the mid band.
  EXPECT_LT(Db(ToneLevel(837, [](DeckState& d) { d.eqMid = 0.0f; }) / unity), -35.0);
  // A killed band leaves the others alone, and a knob at 1 adds 6 dB.
  EXPECT_NEAR(Db(ToneLevel(12000, [](DeckState& d) { d.eqLow = 0.0f; }) / unity), 0.0, 0.1);
  EXPECT_NEAR(Db(ToneLevel(50, [](DeckState& d) { d.eqLow = 1.0f; }) / unity), 6.0, 0.2);
  EXPECT_NEAR(Db(ToneLevel(1000, [](DeckState& d) { d.gain = 0.0f; }) / unity), -12.0, 0.1);
}

TEST(DeckRender, ChannelFilterRangeAndDeadZone) {
  const double unity = kToneRms;
  EXPECT_NEAR(ToneLevel(10000, [](DeckState& d) { d.filter = -0.01f; }) / unity, 1.0, 1e-4);
  EXPECT_NEAR(ToneLevel(60, [](DeckState& d) { d.filter = 0.01f; }) / unity, 1.0, 1e-4);
  EXPECT_LT(Db(ToneLevel(1000, [](DeckState& d) { d.filter = -1.0f; }) / unity), -40.0);  // 150 Hz low-pass
  EXPECT_LT(Db(ToneLevel(1000, [](DeckState& d) { d.filter = 1.0f; }) / unity), -40.0);   // 6 kHz high-pass
  EXPECT_NEAR(Db(ToneLevel(100, [](DeckState& d) { d.filter = -1.0f; }) / unity), 0.0, 3.0);
}

TEST(DeckRender, ChannelFilterChangesGlideWithoutAClick) {
  // A 200 Hz tone; the knob jumps between periods: on, across zero, further, and off again. The
  // output may move from sample to sample no faster than the tone does through the filter's
  // largest gain near 200 Hz on the way (two stages of Q 0.9: at most 1.35).
  constexpr float kAmplitude = 0.5f;
  const float ownStep = kAmplitude * static_cast<float>(2 * kPi * 200.0 / kRate);
  auto engine = NewEngine();
  DeckState& deck = engine->decks[0];
  PlayNeutral(deck, Sine(200.0, kAmplitude));
  Render(*engine, 0.1);
  for (float knob : {-0.6f, 0.3f, -0.45f, 0.0f, 0.25f, 0.0f, 1.0f, -1.0f, 0.0f}) {
    deck.filter = knob;
    const std::vector<float> out = Left(Render(*engine, 0.3));
    EXPECT_LE(MaxStep(out), 1.35f * ownStep) << "filter to " << knob;
    EXPECT_NEAR(deck.filterLast, knob, 1e-6);  // settled within the 0.3 s
  }
  // The sounding value moves gradually: 50 ms after -1 is asked for it is about halfway.
  deck.filter = -1.0f;
  Render(*engine, 0.05);
  EXPECT_GT(deck.filterLast, -0.75f);
  EXPECT_LT(deck.filterLast, -0.25f);
}

TEST(DeckRender, KeyLockKeepsThePitchWhileTheTempoRises) {
  for (bool keyLock : {true, false}) {
    auto engine = NewEngine();
    DeckState& deck = engine->decks[0];
    PlayNeutral(deck, Sine(440.0, 0.5f, 20.0));
    deck.tempo = 0.08f;
    deck.keyLock = keyLock;
    Render(*engine, 1.0);
    const double before = deck.position;
    const std::vector<float> out = Render(*engine, 1.0);
    EXPECT_NEAR(deck.position - before, 1.08 * kRate, 1.0);
    EXPECT_NEAR(Frequency(Left(out)), keyLock ? 440.0 : 475.2, 0.5) << "key lock " << keyLock;
    EXPECT_EQ(deck.stretch.stretchOn, keyLock);
  }
}

// Tempo 0 at the track's rate plays the samples as they are, after a start (the speed ramps
// across the first block) and through key lock: flat to 20 kHz, not read half a frame off through
// the interpolation.
TEST(DeckRender, TempoZeroAtTheTracksRatePlaysTheSamplesAsTheyAre) {
  for (bool keyLock : {false, true}) {
    for (double hz : {15000.0, 20000.0}) {
      auto engine = NewEngine();
      DeckState& deck = engine->decks[0];
      PlayNeutral(deck, Sine(hz, kToneAmplitude));
      deck.speed = 0.0;  // starting
      deck.keyLock = keyLock;
      const double level = Rms(Left(Render(*engine, 1.0), kRate / 2));
      EXPECT_NEAR(Db(level / kToneRms), 0.0, 0.1) << hz << " Hz, key lock " << keyLock;
    }
  }
}

// A record held under the hand is silent, not the sample it stands on as a DC level; a slow
// scratch sounds at the tone's level.
TEST(DeckRender, AHeldDeckIsSilentAndASlowScratchSounds) {
  auto engine = NewEngine();
  DeckState& deck = engine->decks[0];
  PlayNeutral(deck, MakeTrack(kRate, 10.0, [](double t) { return 0.3f + 0.2f * static_cast<float>(std::sin(2 * kPi * 2000 * t)); }));
  Render(*engine, 0.2);
  deck.jogTouched = true;
  deck.jogTarget = deck.position;
  deck.scratchSpeed = 0.0;
  deck.jogStopping = true;
  // The touch stops the record where it is: silent 20 ms on.
  Render(*engine, 0.02);
  const std::vector<float> held = Left(Render(*engine, 0.5));
  EXPECT_LT(MaxAbs(held), 0.001f) << "held: the sample it stands on reaches the master";
  // Moving a tenth of the speed: the 2 kHz tone sounds at 200 Hz, near its level.
  std::vector<float> slow;
  for (int b = 0; b < 50; ++b) {
    deck.jogTarget = deck.position + 0.1 * 2 * kPeriod;
    std::vector<float> block(2 * kPeriod);
    RenderMix(*engine, block.data(), kPeriod, kRate);
    if (b >= 25) slow.insert(slow.end(), block.begin(), block.end());
  }
  std::vector<float> tone = Left(slow);
  double mean = 0.0;
  for (float v : tone) mean += v / tone.size();
  for (float& v : tone) v -= static_cast<float>(mean);
  EXPECT_NEAR(Frequency(tone), 200.0, 5.0);
  EXPECT_GT(Rms(tone), 0.8 * 0.2 / std::sqrt(2.0));
}

TEST(DeckRender, KeyShiftEngagesTheStretcherAboveAHundredthOfASemitone) {
  for (float shift : {0.005f, 0.02f}) {
    auto engine = NewEngine();
    PlayNeutral(engine->decks[0], Sine(440.0, 0.5f));
    engine->decks[0].keyShift = shift;
    Render(*engine, 0.05);
    EXPECT_EQ(engine->decks[0].stretch.stretchOn, shift > 0.01f);
  }
  // Reverse never stretches.
  auto engine = NewEngine();
  PlayNeutral(engine->decks[0], Sine(440.0, 0.5f));
  engine->decks[0].position = kRate;
  engine->decks[0].keyLock = true;
  engine->decks[0].reverse = true;
  Render(*engine, 0.05);
  EXPECT_FALSE(engine->decks[0].stretch.stretchOn);
  EXPECT_LT(engine->decks[0].position, kRate);
}

TEST(DeckRender, LoopWrapsAndSeeksAreDeclicked) {
  // A 1 kHz sine: the loop jumps from a peak (frame 12 + 48k) back to a zero crossing (48k).
  constexpr float kAmplitude = 0.5f;
  const float ownStep = kAmplitude * static_cast<float>(2 * kPi * 1000.0 / kRate);
  auto engine = NewEngine();
  DeckState& deck = engine->decks[0];
  PlayNeutral(deck, Sine(1000.0, kAmplitude));
  deck.loopIn = 48 * 10;
  deck.loopOut = 12 + 48 * 37;
  deck.loopOn = true;
  std::vector<float> out = Render(*engine, 0.2);
  EXPECT_LT(deck.position, deck.loopOut);
  EXPECT_LE(MaxStep(Left(out)), 1.25f * ownStep);

  deck.loopOn = false;
  for (double target : {12.0 + 48 * 500, 48.0 * 900, 7.0 + 48 * 2000}) {
    SeekDeck(*engine, 0, target);
    out = Render(*engine, 0.05);
    EXPECT_LE(MaxStep(Left(out)), 1.25f * ownStep) << "seek to " << target;
  }
}

TEST(DeckRender, BrakeBackspinAndTrackEndStopTheDeck) {
  auto engine = NewEngine();
  DeckState& deck = engine->decks[0];
  PlayNeutral(deck, Sine(440.0, 0.5f));
  deck.stopMode = kStopBrake;
  deck.fxAmount[kFxBrake].store(0.0f);
  Render(*engine, 0.29);
  EXPECT_TRUE(deck.playing);
  Render(*engine, 0.02);
  EXPECT_FALSE(deck.playing);
  EXPECT_EQ(deck.stopMode, kStopNone);

  deck.playing = true;
  deck.stopMode = kStopBackspin;
  deck.stopElapsed = 0.0;
  deck.fxAmount[kFxBackspin].store(1.0f);
  const double start = deck.position;
  Render(*engine, 1.99);
  EXPECT_TRUE(deck.playing);
  EXPECT_LT(deck.position, start);  // spins backwards
  Render(*engine, 0.02);
  EXPECT_FALSE(deck.playing);

  deck.playing = true;
  deck.position = static_cast<double>(deck.track->frames) - 100.0;
  Render(*engine, 0.02);
  EXPECT_FALSE(deck.playing);
  EXPECT_EQ(deck.position, static_cast<double>(deck.track->frames - 1));
  const std::vector<float> silent = Render(*engine, 0.05);
  EXPECT_LT(MaxAbs(silent), 1e-5f);  // only the EQ's decaying tail
}

TEST(DeckRender, NonFiniteControlsNeverReachTheOutput) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  auto engine = NewEngine();
  DeckState& deck = engine->decks[0];
  PlayNeutral(deck, Sine(440.0, 0.5f));
  deck.tempo = nan;
  deck.bend = inf;
  deck.keyShift = nan;
  deck.gain = inf;
  deck.eqLow = nan;
  deck.filter = nan;
  deck.fxMask = EffectBit(kFxEcho) | EffectBit(kFxFlanger);
  deck.fxAmount[kFxEcho].store(nan);
  deck.fxParam[kFxFlanger].store(inf);
  engine->xfPosition = nan;
  engine->masterVolume = inf;
  engine->masterFxMask = EffectBit(kFxPhaser);
  engine->masterFxParam = nan;
  const std::vector<float> out = Render(*engine, 0.5);
  for (float v : out) ASSERT_TRUE(std::isfinite(v));
  EXPECT_GT(Rms(Left(out)), 0.05);
  EXPECT_TRUE(std::isfinite(deck.position));
}

TEST(MixRender, CrossfaderCurves) {
  struct Row {
    int curve;
    float x, left, right;
  };
  const float c = static_cast<float>(std::cos(kPi / 4));
  const Row rows[] = {
      {0, 0.0f, 1.0f, 0.0f}, {0, 0.5f, 1.0f, 1.0f}, {0, 1.0f, 0.0f, 1.0f}, {0, 0.25f, 1.0f, 0.5f},
      {1, 0.0f, 1.0f, 0.0f}, {1, 0.5f, 1.0f, 1.0f}, {1, 1.0f, 0.0f, 1.0f}, {1, 0.03f, 1.0f, 0.5f},
      {2, 0.0f, 1.0f, 0.0f}, {2, 0.5f, c, c},       {2, 1.0f, 0.0f, 1.0f},
      {0, -3.0f, 1.0f, 0.0f}, {2, 7.0f, 0.0f, 1.0f},  // positions outside 0..1 are clamped
  };
  for (const Row& row : rows) {
    float left = -1, right = -1;
    CrossfaderGains(row.x, row.curve, left, right);
    EXPECT_NEAR(left, row.left, 1e-6) << "curve " << row.curve << " at " << row.x;
    EXPECT_NEAR(right, row.right, 1e-6) << "curve " << row.curve << " at " << row.x;
  }
  // Through the mix: DC on a left and a right deck, constant power in the middle.
  auto engine = NewEngine();
  PlayNeutral(engine->decks[0], MakeTrack(kRate, 2.0, [](double) { return 0.3f; }));
  PlayNeutral(engine->decks[1], MakeTrack(kRate, 2.0, [](double) { return 0.2f; }));
  engine->decks[1].xfAssign = 2;
  engine->xfCurve = 2;
  const std::vector<float> out = Render(*engine, 0.3);
  EXPECT_NEAR(out[out.size() - 2], 0.5f * c, 1e-4);
  engine->xfPosition = 1.0f;
  const std::vector<float> right = Render(*engine, 0.1);
  EXPECT_NEAR(right[right.size() - 2], 0.2f, 1e-4);
}

TEST(MixRender, LimiterAndSoftClipKeepAHotSquareBelowFullScale) {
  const auto hot = [](bool limiter, float gain, const std::function<float(double)>& wave) {
    auto engine = NewEngine();
    PlayNeutral(engine->decks[0], MakeTrack(kRate, 5.0, wave));
    engine->decks[0].gain = gain;
    engine->decks[0].gainLast[3] = static_cast<float>(std::pow(10.0, (gain - 0.5) * 24 / 20));
    engine->limiterOn = limiter;
    const float peak = MaxAbs(Render(*engine, 1.0));
    return std::make_tuple(peak, engine->limiterReductionDb.load(), engine->clipped.load());
  };
  const auto square = [](double t) { return std::fmod(t * 100, 1.0) < 0.5 ? 1.0f : -1.0f; };
  const auto sine = [](double t) { return static_cast<float>(std::sin(2 * kPi * 1000 * t)); };
  // +12 dB: at most 0.97 before the soft knee; a limiter digging below half gain counts as clipping.
  auto [peak, reduction, clipped] = hot(true, 1.0f, square);
  EXPECT_LE(peak, SoftClip(0.97f));
  EXPECT_GT(reduction, 10.0f);
  EXPECT_TRUE(clipped);
  // +3 dB on a sine: the limiter holds it without a clip warning; without the limiter the soft
  // knee alone keeps it at or below full scale and the block is marked clipped.
  std::tie(peak, reduction, clipped) = hot(true, 0.625f, sine);
  EXPECT_LE(peak, SoftClip(0.97f));
  EXPECT_GT(reduction, 20 * std::log10(std::sqrt(2.0) / 0.97) - 0.01);  // at least the sine's own 3.3 dB
  EXPECT_FALSE(clipped);
  std::tie(peak, reduction, clipped) = hot(false, 0.625f, sine);
  EXPECT_GT(peak, 0.97f);
  EXPECT_LT(peak, 1.0f);
  EXPECT_TRUE(clipped);
  EXPECT_EQ(SoftClip(0.5f), 0.5f);
  EXPECT_NEAR(SoftClip(-1.5f), -(0.9f + 0.1f * std::tanh(6.0f)), 1e-6);
}

TEST(MixRender, MetersAndAnalyserFollowTheMaster) {
  auto engine = NewEngine();
  PlayNeutral(engine->decks[0], Sine(1000.0, 0.5f));
  Render(*engine, 0.2);  // past the crossover's start-up overshoot
  engine->masterPeakL.store(0.0f);
  engine->decks[0].peak.store(0.0f);
  for (auto& band : engine->spectrum) band.store(0.0f);
  Render(*engine, 0.1);
  EXPECT_NEAR(engine->masterPeakL.load(), 0.5f, 0.01f);
  EXPECT_NEAR(engine->decks[0].peak.load(), 0.5f, 0.01f);
  // Band 8 is centred at 976 Hz; the 40 Hz and 16 kHz bands hear little of a 1 kHz tone.
  EXPECT_GT(engine->spectrum[8].load(), 0.4f);
  EXPECT_GT(engine->spectrum[8].load(), 4 * engine->spectrum[0].load());
  EXPECT_GT(engine->spectrum[8].load(), 4 * engine->spectrum[15].load());
}

TEST(MixRender, HeadphoneSplitPutsMonoMasterLeftAndMonoCueRight) {
  auto engine = NewEngine();
  PlayNeutral(engine->decks[0], MakeTrack(kRate, 2.0, [](double) { return 0.5f; }));
  engine->decks[0].fader = 0.0f;
  engine->decks[0].gainLast[4] = 0.0f;
  engine->decks[0].cue = true;
  engine->phonesMode = kPhonesSplit;
  const std::vector<float> out = Render(*engine, 0.2);
  const float phonesGain = 0.8f * 0.8f * 1.5f;
  EXPECT_NEAR(out[out.size() - 2], 0.0f, 1e-6);
  EXPECT_NEAR(out[out.size() - 1], 0.5f * phonesGain, 1e-4);
}

TEST(MixRender, ExternalMixerGivesEachDeckItsOwnOutput) {
  auto engine = NewEngine();
  engine->externalMixer = true;
  engine->phonesMode = kPhonesSplit;  // ignored: an external mixer makes the headphone mix
  PlayNeutral(engine->decks[0], MakeTrack(kRate, 2.0, [](double) { return 0.3f; }));
  PlayNeutral(engine->decks[1], MakeTrack(kRate, 2.0, [](double) { return 0.95f; }));
  engine->decks[0].fader = 0.0f;  // the strip does not act on a deck output
  engine->decks[0].eqLow = 0.0f;
  engine->pads[0].track = MakeTrack(kRate, 1.0, [](double) { return 0.5f; });
  engine->pads[0].playing = true;
  Render(*engine, 0.2);
  const size_t last = 2 * kPeriod - 2;
  EXPECT_NEAR(engine->deckOutBuffers[0][last], 0.3f, 1e-4);
  EXPECT_NEAR(engine->deckOutBuffers[1][last], SoftClip(0.95f), 1e-4);
  EXPECT_EQ(engine->deckOutBuffers[2][last], 0.0f);
  EXPECT_NEAR(engine->extraBuffer[last], 0.8f * 0.8f * 0.5f, 1e-5);
}

TEST(MixRender, SamplerPadsStopOrWrapInsideTheBlock) {
  auto engine = NewEngine();
  TrackPtr blip = MakeTrack(kRate, 100.0 / kRate, [](double) { return 0.5f; });
  engine->pads[0].track = blip;
  engine->pads[0].playing = true;
  std::vector<float> out = Render(*engine, 0.01);
  const float level = 0.8f * 0.8f * 0.5f;
  EXPECT_NEAR(out[2 * 50], level, 1e-5);
  EXPECT_EQ(out[2 * 150], 0.0f);
  EXPECT_FALSE(engine->pads[0].playing);

  engine->pads[0].position = 0.0;
  engine->pads[0].playing = true;
  engine->pads[0].loop = true;
  out = Render(*engine, 0.01);
  EXPECT_TRUE(engine->pads[0].playing);
  EXPECT_NEAR(out[2 * 350], level, 1e-5);
  EXPECT_LT(engine->pads[0].position, 100.0);
}

TEST(MixRender, MicrophoneResyncsBehindTheWriterAndDucksTheMusic) {
  auto engine = NewEngine();
  engine->inputRing.assign(2 * kInputRingFrames, 0.25f);
  engine->inputCapacity = kInputRingFrames;
  engine->inputWritten.store(10000);
  engine->inputRate.store(kRate);
  engine->inputOn.store(true);
  engine->inputCapturing.store(true);
  engine->inputResync.store(true);
  engine->inputReadPos = 9999.0;
  const std::vector<float> out = Render(*engine, 0.01);
  EXPECT_NEAR(engine->inputReadPos, 10000 - 2048 + kPeriod, 1e-6);
  const float micLevel = 2.0f * 0.8f * 0.8f * 0.25f;
  EXPECT_NEAR(out[2 * 100], micLevel, 1e-5);
  EXPECT_NEAR(engine->micBuffer[2 * 100], micLevel, 1e-5);
  EXPECT_NEAR(engine->duckGain, 1.0f + 0.35f * (0.28f - 1.0f), 1e-6);
}

// A microphone whose capture writes 1024-frame blocks: the reader steps at the rate ratio every
// period instead of leaning on the fill it happens to see between two blocks.
TEST(MixRender, MicrophoneHoldsItsPitchWhileTheCaptureWritesInBlocks) {
  auto engine = NewEngine();
  engine->inputRing.assign(2 * kInputRingFrames, 0.25f);
  engine->inputCapacity = kInputRingFrames;
  engine->inputRate.store(kRate);
  engine->inputOn.store(true);
  engine->inputCapturing.store(true);
  engine->inputResync.store(true);
  constexpr uint64_t kBlock = 1024;
  uint64_t written = 4 * kBlock;
  engine->inputWritten.store(written);
  std::vector<float> out(2 * kPeriod);
  double writeAt = 0.0, readAt = 0.0, worst = 0.0;
  for (int period = 0; readAt < 10.0;) {
    if (writeAt <= readAt) {
      written += kBlock;
      engine->inputWritten.store(written);
      writeAt += static_cast<double>(kBlock) / kRate;
      continue;
    }
    const double before = engine->inputReadPos;
    RenderMix(*engine, out.data(), kPeriod, kRate);
    readAt += static_cast<double>(kPeriod) / kRate;
    if (++period > 1) worst = std::max(worst, std::abs((engine->inputReadPos - before) / kPeriod - 1.0));
  }
  EXPECT_LT(worst, 3e-4) << "half a cent";
  EXPECT_NEAR(out[2 * 100], 2.0f * 0.8f * 0.8f * 0.25f, 1e-5) << "still heard";
}

TEST(MixRender, PadRecordingTakesTheMasterUntilFullOrStopped) {
  auto engine = NewEngine();
  PlayNeutral(engine->decks[0], MakeTrack(kRate, 2.0, [](double t) { return static_cast<float>(t); }));
  engine->padRecordBuffer.assign(2 * 1000, 0.0f);
  engine->padRecordState.store(kPadRecordArmed);
  const std::vector<float> out = Render(*engine, 0.03);
  EXPECT_EQ(engine->padRecordState.load(), kPadRecordDone);
  EXPECT_EQ(engine->padRecordFrames, 1000u);
  EXPECT_EQ(engine->padRecordBuffer[2 * 999], out[2 * 999]);

  engine->padRecordState.store(kPadRecordArmed);
  StopPadRecording(*engine);
  EXPECT_EQ(engine->padRecordState.load(), kPadRecordIdle);
  engine->padRecordState.store(kPadRecordRunning);
  StopPadRecording(*engine);
  EXPECT_EQ(engine->padRecordState.load(), kPadRecordDone);
  StopPadRecording(*engine);
  EXPECT_EQ(engine->padRecordState.load(), kPadRecordDone);
}

TEST(MixRender, TapsTakeTheFinishedMasterAndDropWhatDoesNotFit) {
  auto engine = NewEngine();
  PlayNeutral(engine->decks[0], MakeTrack(kRate, 2.0, [](double) { return 0.25f; }));
  RingResize(engine->streamRing, 1000);
  engine->tapStream.store(true);
  const std::vector<float> out = Render(*engine, 0.03);  // 1440 frames into a 1000-frame ring
  EXPECT_EQ(RingFill(engine->streamRing), 1000u);
  std::vector<float> read(2 * 1000);
  EXPECT_EQ(RingRead(engine->streamRing, read.data(), 1000), 1000u);
  EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 2000), read);
  EXPECT_EQ(RingRead(engine->streamRing, read.data(), 1), 0u);
  EXPECT_EQ(RingFill(engine->recordRing), 0u);  // not recording: untouched
}

// --- The render waits for a short hold of the engine lock, and only a long one costs a block ---

// Renders one period while another thread holds the engine lock, which it keeps until the render
// has returned. False when the render kept waiting (the holder gives up after 5 s, failing the
// test instead of hanging it).
bool RenderWhileLockHeld(AudioEngine& engine, float* out) {
  std::mutex m;
  std::condition_variable changed;
  bool held = false, rendered = false, gaveUp = false;
  std::thread holder([&] {
    std::lock_guard<RealtimeMutex> lock(engine.lock);
    std::unique_lock<std::mutex> wait(m);
    held = true;
    changed.notify_all();
    gaveUp = !changed.wait_for(wait, std::chrono::seconds(5), [&] { return rendered; });
  });
  {
    std::unique_lock<std::mutex> wait(m);
    changed.wait(wait, [&] { return held; });
  }
  RenderMix(engine, out, kPeriod, kRate);
  {
    std::lock_guard<std::mutex> wait(m);
    rendered = true;
  }
  changed.notify_all();
  holder.join();
  return !gaveUp;
}

TEST(RenderLock, WaitsForAHoldShorterThanTheBlock) {
  auto engine = NewEngine();
  PlayNeutral(engine->decks[0], Sine(440.0, kToneAmplitude));
  std::vector<float> before(2 * kPeriod);
  for (int b = 0; b < 5; ++b) RenderMix(*engine, before.data(), kPeriod, kRate);
  // A slow rate gives the render a patience of seconds, so a loaded machine's late wake-ups of
  // the holder still fall inside it.
  constexpr int32_t kSlowRate = 1000;
  constexpr int32_t kLongBlock = 4096;
  std::vector<float> block(2 * kLongBlock, 1.0f);
  std::atomic<bool> started{false};
  std::thread render;
  {
    std::lock_guard<RealtimeMutex> hold(engine->lock);
    render = std::thread([&] {
      started.store(true);
      RenderMix(*engine, block.data(), kLongBlock, kSlowRate);
    });
    while (!started.load()) std::this_thread::yield();
    // Long enough for the render to reach the lock while it is held, far inside its patience.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  render.join();
  EXPECT_EQ(engine->renderLockMisses.load(), 0u) << "a hold released within the block cost the block";
  EXPECT_GT(MaxAbs(block), 0.5f * kToneAmplitude) << "the block is the deck's, rendered after the hold";
  EXPECT_NE(block[0], 1.0f);
}

TEST(RenderLock, HoldPastTheBlockRepeatsTheLastBlock) {
  auto engine = NewEngine();
  std::vector<float> before(2 * kPeriod), busy(2 * kPeriod, 1.0f), after(2 * kPeriod);
  // Nothing played yet: silence.
  ASSERT_TRUE(RenderWhileLockHeld(*engine, busy.data())) << "RenderMix kept waiting for the lock";
  EXPECT_EQ(MaxAbs(busy), 0.0f);

  PlayNeutral(engine->decks[0], Sine(440.0, kToneAmplitude));
  for (int b = 0; b < 5; ++b) RenderMix(*engine, before.data(), kPeriod, kRate);
  const double positionBefore = engine->decks[0].position;
  ASSERT_TRUE(RenderWhileLockHeld(*engine, busy.data())) << "RenderMix kept waiting for the lock";
  EXPECT_EQ(engine->renderLockMisses.load(), 2u);
  EXPECT_EQ(engine->dropouts.load(), 0u) << "a lost block is not a late device wake-up";
  EXPECT_EQ(engine->decks[0].position, positionBefore) << "nothing of the engine moved";
  // The last block again: it starts where that block ended and ends as it did, so it joins the
  // blocks either side of it without a step; past the seam it is the block itself.
  EXPECT_EQ(busy[0], before[2 * kPeriod - 2]);
  EXPECT_EQ(std::vector<float>(busy.begin() + 128, busy.end()), std::vector<float>(before.begin() + 128, before.end()));
  const float toneStep = static_cast<float>(kToneAmplitude * 2 * kPi * 440.0 / kRate);
  EXPECT_LT(MaxStep(Left(busy)), 2.0f * toneStep);

  RenderMix(*engine, after.data(), kPeriod, kRate);
  EXPECT_LT(std::abs(after[0] - busy[2 * kPeriod - 2]), 1.5f * toneStep) << "the next block continues the tone";
  EXPECT_NEAR(Frequency(Left(after)), 440.0, 1.0);
}

// --- The offline render script ---

class RenderScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<float> tone(2 * kRate * 3);
    for (size_t i = 0; i < tone.size() / 2; ++i)
      tone[2 * i] = tone[2 * i + 1] = 0.5f * static_cast<float>(std::sin(2 * kPi * 440.0 * i / kRate));
    ASSERT_TRUE(WriteWavFile(Utf8ToWide(home_.path() + "/tone.wav"), tone.data(), tone.size() / 2, kRate));
  }
  bool Parse(const std::string& text, RenderScript& script, std::string& error) {
    return ParseRenderScript(text, Utf8ToWide(home_.path()), script, error);
  }
  std::string ParseError(const std::string& text) {
    RenderScript script;
    std::string error;
    EXPECT_FALSE(Parse(text, script, error)) << text;
    return error;
  }
  TempHome home_;
};

TEST_F(RenderScriptTest, CommandsDriveTheDecksAtTheirTimes) {
  RenderScript script;
  std::string error;
  ASSERT_TRUE(Parse("duration 2  # seconds\nload A tone.wav\nfader A 1\nplay A\n"
                    "at 1.0 tempo A +8\nat 0.5 pause A\nat 0.7 play A\n",
                    script, error))
      << error;
  ASSERT_EQ(script.commands.size(), 6u);
  EXPECT_EQ(script.commands[3].op, ScriptOp::Pause);  // sorted by time
  auto engine = std::make_unique<AudioEngine>();
  std::vector<float> out;
  ASSERT_TRUE(RunRenderScript(*engine, script, out, error)) << error;
  ASSERT_EQ(out.size(), 2u * 2 * kRate);
  const std::vector<float> left = Left(out);
  EXPECT_NEAR(Frequency(std::vector<float>(left.begin() + kRate / 10, left.begin() + kRate / 2)), 440.0, 0.5);
  EXPECT_NEAR(Frequency(std::vector<float>(left.begin() + kRate * 11 / 10, left.end())), 475.2, 0.5);
  EXPECT_LT(Rms(std::vector<float>(left.begin() + kRate * 55 / 100, left.begin() + kRate * 65 / 100)), 1e-6);
  // Pause and play are de-clicked: no step beyond the tone's own plus the 4 ms fades.
  EXPECT_LT(MaxStep(left), 0.5f * 2 * kPi * 475.2 / kRate * 1.3f);
}

TEST_F(RenderScriptTest, ErrorsNameTheLine) {
  EXPECT_EQ(ParseError("duration 1\nplay E\n"), "line 2: \"E\" is not a deck (A, B, C or D)");
  EXPECT_EQ(ParseError("duration 1\n\neq A treble 0.5\n"), "line 3: the EQ band is high, mid or low, not \"treble\"");
  EXPECT_EQ(ParseError("duration 1\nfader A 1.5\n"), "line 2: the value 1.5 lies outside 0..1");
  EXPECT_EQ(ParseError("duration 1\nfx A on WARP\n"), "line 2: no effect is called \"WARP\"");
  EXPECT_EQ(ParseError("duration 1\nat 2 play A\n"),
            "line 2: the time lies at or past the end of the render (duration 1 s)");
  EXPECT_EQ(ParseError("duration 1\nload B missing.wav\n"), "line 2: missing.wav: no such file");
  EXPECT_EQ(ParseError("rate 1000\n"), "line 1: the rate must be a whole number from 8000 to 192000");
  EXPECT_EQ(ParseError("play A\n"), "the script gives no duration (add a line \"duration SECONDS\")");
  EXPECT_EQ(ParseError("duration 1\nat nan play A\n"), "line 2: the time must be a number of seconds, 0 or more");
  RenderScript script;
  std::string error;
  ASSERT_TRUE(Parse("duration 1\nfx a amount dub echo 0.3\nload A tone.wav\nplay A\nat 0.5 load A tone.wav\n", script, error));
  EXPECT_EQ(script.commands[0].index, kFxDubEcho);
  auto engine = std::make_unique<AudioEngine>();
  std::vector<float> out;
  EXPECT_FALSE(RunRenderScript(*engine, script, out, error));
  EXPECT_EQ(error, "line 5: deck A is playing — pause it before loading");
}

TEST_F(RenderScriptTest, LoadsThroughTheDecoderAndReadsTheStemLines) {
  // The deck's own decoder: a damaged file gives its message, named with its line.
  WriteRaw(home_.path() + "/junk.wav", "RIFF....WAVEfmt not really");
  EXPECT_EQ(ParseError("duration 1\nload A junk.wav\n"), "line 2: junk.wav: Can't open this file");
  RenderScript script;
  std::string error;
  ASSERT_TRUE(Parse("duration 1\nload A tone.wav\nstemgain A Drums 0.25\nkick a 0\nhat A 0.5\n"
                    "fx A target bass\nfx A target all\nstempreset A instrumental\n",
                    script, error))
      << error;
  ASSERT_EQ(script.commands.size(), 7u);
  EXPECT_EQ(script.commands[0].track->frames, 3u * kRate);
  EXPECT_NEAR(script.commands[0].track->samples[2 * 12], 0.5f * std::sin(2 * kPi * 440.0 * 12 / kRate), 2.0 / 32768);
  EXPECT_EQ(script.commands[1].op, ScriptOp::StemGain);
  EXPECT_EQ(script.commands[1].index, 1);
  EXPECT_EQ(script.commands[4].index, 2);
  EXPECT_EQ(script.commands[5].index, -1);
  EXPECT_EQ(script.commands[6].index, static_cast<int>(kStemPresetInstrumental));
  EXPECT_EQ(ParseError("duration 1\nstemgain A voice 0\n"), "line 2: the stem is vocals, drums, bass or melody, not \"voice\"");
  EXPECT_EQ(ParseError("duration 1\nfx B target everything\n"),
            "line 2: the effects target is vocals, drums, bass, melody or all, not \"everything\"");
  EXPECT_EQ(ParseError("duration 1\nkick A 2\n"), "line 2: the value 2 lies outside 0..1");
  EXPECT_EQ(ParseError("duration 1\nstempreset A karaoke\n"),
            "line 2: the preset is none, vocals or instrumental, not \"karaoke\"");
  EXPECT_EQ(ParseError("duration 1\nstems\n"), "line 2: usage: stems DECK");
  // Without stems the instrumental preset works through the voice band.
  auto engine = std::make_unique<AudioEngine>();
  std::vector<float> out;
  ASSERT_TRUE(RunRenderScript(*engine, script, out, error)) << error;
  EXPECT_EQ(engine->decks[0].vocalMode, static_cast<int32_t>(kStemPresetInstrumental));
  EXPECT_EQ(engine->decks[0].stemGain[1].load(), 0.25f);
  EXPECT_EQ(engine->decks[0].stemFxTarget, -1);
  EXPECT_EQ(engine->decks[0].kickTarget, 0.0f);
  // A separation needs a track on the deck.
  ASSERT_TRUE(Parse("duration 1\nat 0.5 stems C\n", script, error));
  EXPECT_FALSE(RunRenderScript(*engine, script, out, error));
  EXPECT_EQ(error, "line 2: deck C has no track");
}

}  // namespace
