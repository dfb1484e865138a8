// The deck render with separated stems: the remix, the effects target, stems that do not belong,
// and the block-wise stretcher against a frame-by-frame reading of the same algorithm.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "engine/engine.h"
#include "engine/key_lock.h"
#include "engine/render.h"
#include "engine/stems.h"

namespace {

constexpr int kRate = 48000;
constexpr int kTrackRate = 44100;
constexpr int kPeriod = 480;
constexpr double kPi = 3.141592653589793;

// Three seconds with different left and right content, and three stems that are not parts of it
// (the render must not care), each with its own tones.
struct Material {
  TrackPtr track;
  StemDataPtr stems;
};

Material MakeMaterial(uint64_t frames = 3 * kTrackRate) {
  auto track = std::make_shared<Track>();
  track->sampleRate = kTrackRate;
  track->frames = frames;
  track->samples.resize(frames * 2);
  auto stems = std::make_shared<StemData>();
  stems->track = track.get();
  stems->frames = frames;
  for (auto* stem : {&stems->vocals, &stems->drums, &stems->bass}) stem->resize(frames * 2);
  uint32_t noise = 7;
  for (uint64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kTrackRate;
    noise = noise * 1664525u + 1013904223u;
    const float hiss = 0.05f * (static_cast<float>(noise >> 8) / 16777216.0f - 0.5f);
    track->samples[2 * i] = 0.3f * static_cast<float>(std::sin(2 * kPi * 330 * t)) + hiss;
    track->samples[2 * i + 1] = 0.25f * static_cast<float>(std::sin(2 * kPi * 520 * t)) - hiss;
    for (int c = 0; c < 2; ++c) {
      stems->vocals[2 * i + c] = static_cast<int16_t>(9000 * std::sin(2 * kPi * (700 + 50 * c) * t));
      stems->drums[2 * i + c] = static_cast<int16_t>(8000 * std::sin(2 * kPi * (90 + 10 * c) * t));
      stems->bass[2 * i + c] = static_cast<int16_t>(7000 * std::sin(2 * kPi * (55 + 5 * c) * t));
    }
  }
  return {track, stems};
}

// --- The algorithm read frame by frame: the literal search, two grains, one read per part ---

double LiteralOverlap(const Track& track, double target, double reference, double step) {
  if (std::fabs(reference - target) < 0.5) return reference;
  // Both sides on whole frames; the start keeps the reference's fraction.
  const double within = reference - std::floor(reference);
  OverlapContext context;
  context.track = &track;
  context.target = std::floor(target);
  context.step = step;
  for (int k = 0; k < kOverlapWindow; ++k) {
    const double at = std::floor(reference - within + k * step);
    context.reference[k] = at >= 0 && at < static_cast<double>(track.frames)
                               ? track.samples[2 * static_cast<size_t>(at)] + track.samples[2 * static_cast<size_t>(at) + 1]
                               : 0.0f;
  }
  int best = 0;
  double bestScore = -1e30;
  // A tie goes to the lag nearer 0.
  const auto better = [&](double score, int lag) {
    return score > bestScore || (score == bestScore && std::abs(lag) < std::abs(best));
  };
  for (int lag = -kOverlapSearchFrames; lag <= kOverlapSearchFrames; lag += 4) {
    const double score = OverlapScore(context, lag);
    if (better(score, lag)) bestScore = score, best = lag;
  }
  const int coarse = best;
  for (int lag = coarse - 3; lag <= coarse + 3; ++lag) {
    if (lag == coarse) continue;
    const double score = OverlapScore(context, lag);
    if (better(score, lag)) bestScore = score, best = lag;
  }
  return context.target + within + best;
}

// One output frame per part: out[2 * part], out[2 * part + 1].
void LiteralStretchFrame(StretchState& s, const Track& track, double position, double pitch, double speed,
                         const Remix* parts, int partCount, float* out) {
  if (s.grainCounter == 0) {
    const int g = s.activeGrain;
    const int o = 1 - g;
    s.activeGrain = o;
    double start = position;
    // A continuing grain meets the deck at its middle.
    if (s.grainPhase[o] < kGrainFrames)
      start = LiteralOverlap(track, position + (speed - pitch) * (kGrainFrames / 2), s.grainPos[o], s.grainStep[o]);
    if (pitch == std::round(pitch)) start = std::round(start);
    s.grainPos[g] = start;
    s.grainStep[g] = pitch;
    s.grainPhase[g] = 0;
  }
  s.grainCounter = (s.grainCounter + 1) % kGrainHopFrames;
  for (int i = 0; i < 2 * partCount; ++i) out[i] = 0.0f;
  for (int g = 0; g < 2; ++g) {
    if (s.grainPhase[g] >= kGrainFrames) continue;
    const double x = std::sin(s.grainPhase[g] * kPi / kGrainFrames);
    const float weight = static_cast<float>(x * x);
    for (int p = 0; p < partCount; ++p) {
      float l, r;
      ReadTrackCubic(track, s.grainPos[g], l, r, &parts[p]);
      out[2 * p] += l * weight;
      out[2 * p + 1] += r * weight;
    }
    s.grainPos[g] += s.grainStep[g];
    s.grainPhase[g] += 1;
  }
}

std::unique_ptr<AudioEngine> NewEngine() {
  auto engine = std::make_unique<AudioEngine>();
  PrepareRenderBuffers(*engine, kPeriod, kRate);
  return engine;
}

void Attach(DeckState& deck, const Material& m, const float gains[4]) {
  deck.track = m.track;
  deck.stems = m.stems;
  for (int p = 0; p < kStemParts; ++p) {
    deck.stemGain[p].store(gains[p]);
    deck.stemGainNow[p] = gains[p];
  }
}

}  // namespace

TEST(StemRender, BlockwiseStretcherMatchesTheFrameByFrameAlgorithm) {
  // Key lock at +6 %, the vocals out, drums at half, bass at a quarter, the effects aimed at the
  // drums, and a loop that wraps in the eighth period; ten periods cross several grain hops.
  const Material m = MakeMaterial();
  auto engine = NewEngine();
  DeckState& deck = engine->decks[0];
  const float gains[4] = {0.0f, 0.5f, 0.25f, 0.8f};
  Attach(deck, m, gains);
  const double ratio = static_cast<double>(kTrackRate) / kRate;
  const double v = (1.0 + static_cast<double>(0.06f)) * ratio;
  deck.playing = true;
  deck.keyLock = true;
  deck.tempo = 0.06f;
  deck.speed = v;
  deck.fadeIn = 1.0f;
  deck.stretch.stretchOn = true;
  deck.stemFxTarget = 1;
  deck.position = 29000.25;
  deck.loopIn = 30000.0;
  deck.loopOut = 33500.0;
  deck.loopOn = true;

  const float g3 = gains[3];
  const Remix parts[2] = {{{g3, gains[0] - g3, gains[1] - g3, gains[2] - g3}, m.stems.get()},
                          {{0.0f, 0.0f, gains[1], 0.0f}, m.stems.get()}};
  StretchState ref;
  double position = deck.position, oldPosition = 0.0;
  float fadeIn = 1.0f, oldFade = 0.0f;
  const float fadeStep = static_cast<float>(1.0 / (0.004 * kRate));
  std::vector<float> out(2 * kPeriod), cue(2 * kPeriod);
  int wraps = 0;
  double worst = 0.0;
  for (int call = 0; call < 10; ++call) {
    RenderDeck(*engine, deck, 1.0f, out.data(), cue.data(), nullptr, kPeriod, kRate);
    for (int i = 0; i < kPeriod; ++i) {
      if (position >= 33500.0) {
        oldPosition = position;
        oldFade = fadeIn;
        fadeIn = 0.0f;
        ResetStretch(ref);
        position = std::fmod(position - 30000.0, 3500.0) + 30000.0;
        ++wraps;
      }
      float read[4];
      LiteralStretchFrame(ref, *m.track, position, ratio, v, parts, 2, read);
      fadeIn = std::min(fadeIn + fadeStep, 1.0f);
      float main[2] = {read[0] * fadeIn, read[1] * fadeIn};
      const float aimed[2] = {read[2] * fadeIn, read[3] * fadeIn};
      position += v;
      if (oldFade > 0.0f) {
        float l, r;
        ReadTrackCubic(*m.track, oldPosition, l, r);
        oldFade = std::max(oldFade - fadeStep, 0.0f);
        main[0] += l * oldFade;
        main[1] += r * oldFade;
        oldPosition += v;
      }
      for (int c = 0; c < 2; ++c) {
        worst = std::max(worst, static_cast<double>(std::fabs(deck.blockScratch[2 * i + c] - (main[c] - aimed[c]))));
        worst = std::max(worst, static_cast<double>(std::fabs(deck.stemScratch[2 * i + c] - aimed[c])));
      }
    }
    ASSERT_NEAR(deck.position, position, 1e-6) << "call " << call;
  }
  EXPECT_EQ(wraps, 1);
  EXPECT_LT(worst, 2e-6);
}

TEST(StemRender, StemsCountOnlyForTheirOwnTrackAndLength) {
  const Material m = MakeMaterial();
  const float silent[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  const auto render = [&](const StemDataPtr& stems) {
    auto engine = NewEngine();
    DeckState& deck = engine->decks[0];
    Attach(deck, m, silent);
    deck.stems = stems;
    deck.playing = true;
    deck.fader = 1.0f;
    deck.kickTarget = 0.0f;
    deck.stemFxTarget = 2;
    std::vector<float> all, out(2 * kPeriod);
    for (int b = 0; b < 20; ++b) {
      std::fill(out.begin(), out.end(), 0.0f);
      RenderMix(*engine, out.data(), kPeriod, kRate);
      all.insert(all.end(), out.begin(), out.end());
    }
    return all;
  };
  const std::vector<float> plain = render(nullptr);
  double level = 0.0;
  for (float x : plain) level = std::max(level, static_cast<double>(std::fabs(x)));
  ASSERT_GT(level, 0.2);
  // Their own stems, every part at 0: silence.
  for (float x : render(m.stems)) ASSERT_EQ(x, 0.0f);
  // Stems made of another track, or of this one at another length, change nothing.
  const Material other = MakeMaterial();
  auto foreign = std::make_shared<StemData>(*other.stems);
  EXPECT_EQ(render(foreign), plain);
  auto shorter = std::make_shared<StemData>(*m.stems);
  shorter->frames -= 1;
  EXPECT_EQ(render(shorter), plain);
  auto truncated = std::make_shared<StemData>(*m.stems);
  truncated->bass.resize(10);  // damaged: fewer values than frames
  EXPECT_EQ(render(truncated), plain);
}

namespace {

// Amplitude of a tone in one channel over frames [from, from + count) of a stereo render: the
// window holds whole cycles of every tone used, so the tones do not leak into each other.
double ToneLevel(const std::vector<float>& out, int channel, double hz, size_t from, size_t count) {
  double s = 0.0, c = 0.0;
  for (size_t i = 0; i < count; ++i) {
    const double phase = 2 * kPi * hz * static_cast<double>(from + i) / kRate;
    s += out[2 * (from + i) + static_cast<size_t>(channel)] * std::sin(phase);
    c += out[2 * (from + i) + static_cast<size_t>(channel)] * std::cos(phase);
  }
  return 2.0 * std::hypot(s, c) / static_cast<double>(count);
}

}  // namespace

TEST(StemRender, KickAndHatAtZeroTakeOutTheirBandAndLeaveTheRest) {
  // The mix is its drums stem alone: 60 Hz, 1 kHz and 9 kHz at the device rate.
  const uint64_t frames = 6 * kRate;
  auto track = std::make_shared<Track>();
  track->sampleRate = kRate;
  track->frames = frames;
  track->samples.resize(frames * 2);
  auto stems = std::make_shared<StemData>();
  stems->track = track.get();
  stems->frames = frames;
  for (auto* stem : {&stems->vocals, &stems->drums, &stems->bass}) stem->assign(frames * 2, 0);
  for (uint64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double drum = 0.3 * std::sin(2 * kPi * 60 * t) + 0.2 * std::sin(2 * kPi * 1000 * t) +
                        0.15 * std::sin(2 * kPi * 9000 * t);
    for (int c = 0; c < 2; ++c) {
      stems->drums[2 * i + c] = static_cast<int16_t>(std::lround(drum * 32767));
      track->samples[2 * i + c] = static_cast<float>(stems->drums[2 * i + c]) / 32767.0f;
    }
  }
  const Material m{track, stems};
  const float full[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  // Half a second per setting: (kick, hat) for each step.
  const auto render = [&](const std::vector<std::pair<float, float>>& steps) {
    auto engine = NewEngine();
    DeckState& deck = engine->decks[0];
    Attach(deck, m, full);
    deck.playing = true;
    deck.fader = 1.0f;
    std::vector<float> all, out(2 * kPeriod);
    for (auto [kick, hat] : steps) {
      deck.kickTarget = kick;
      deck.hatTarget = hat;
      for (int b = 0; b < kRate / 2 / kPeriod; ++b) {
        std::fill(out.begin(), out.end(), 0.0f);
        RenderMix(*engine, out.data(), kPeriod, kRate);
        all.insert(all.end(), out.begin(), out.end());
      }
    }
    return all;
  };
  const size_t half = kRate / 2, window = kRate / 4;  // the last quarter second of each step
  const std::vector<float> plain = render({{1, 1}, {1, 1}, {1, 1}, {1, 1}});
  const std::vector<float> cut = render({{1, 1}, {0, 1}, {1, 0}, {1, 1}});
  for (int c = 0; c < 2; ++c) {
    const auto level = [&](const std::vector<float>& out, int step, double hz) {
      return ToneLevel(out, c, hz, step * half + half - window, window);
    };
    for (double hz : {60.0, 1000.0, 9000.0}) ASSERT_GT(level(plain, 1, hz), 0.1) << hz;
    // KICK at 0: the 60 Hz tone goes (the two-stage split keeps 8 % at 60 Hz); the rest stays.
    EXPECT_LT(level(cut, 1, 60), 0.1 * level(plain, 1, 60));
    EXPECT_NEAR(level(cut, 1, 1000), level(plain, 1, 1000), 0.002);
    EXPECT_NEAR(level(cut, 1, 9000), level(plain, 1, 9000), 0.002);
    // HI-HAT at 0: the 9 kHz tone, 1.3 x above the split, falls to about a quarter; the rest stays.
    EXPECT_LT(level(cut, 2, 9000), 0.3 * level(plain, 2, 9000));
    EXPECT_NEAR(level(cut, 2, 60), level(plain, 2, 60), 0.002);
    EXPECT_NEAR(level(cut, 2, 1000), level(plain, 2, 1000), 0.002);
  }
  // Both back at 1: once the fade out of the split is over, the deck is exactly its plain self.
  for (size_t i = 2 * (3 * half + 3 * half / 5); i < cut.size(); ++i) ASSERT_EQ(cut[i], plain[i]) << i;
  // No step anywhere: the largest change between two frames stays what the tones alone make.
  float steepest = 0.0f, steepestPlain = 0.0f;
  for (size_t i = 2; i < cut.size(); ++i) {
    steepest = std::max(steepest, std::fabs(cut[i] - cut[i - 2]));
    steepestPlain = std::max(steepestPlain, std::fabs(plain[i] - plain[i - 2]));
  }
  EXPECT_LT(steepest, 1.1f * steepestPlain);
}
