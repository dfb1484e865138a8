#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <set>
#include <stdexcept>
#include <vector>

#include "engine/stem_dsp.h"
#include "engine/stems.h"

namespace {

using StemDsp::Geometry;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Small enough to run many chunks fast; all bins kept, so the round trip is exact.
constexpr Geometry kSmall{.nFft = 256, .hop = 64, .dimF = 129, .dimT = 40};

std::vector<float> Noise(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
  std::vector<float> v(count);
  for (float& x : v) x = uniform(random);
  return v;
}

// Interleaved stereo: left a sum of (amplitude, hertz) tones, right another.
struct Tone {
  double amplitude, hertz;
};
std::vector<float> Tones(uint64_t frames, double rate, const std::vector<Tone>& left,
                         const std::vector<Tone>& right) {
  std::vector<float> v(2 * frames);
  for (uint64_t i = 0; i < frames; ++i) {
    double l = 0, r = 0;
    for (const Tone& t : left) l += t.amplitude * std::sin(kTwoPi * t.hertz * i / rate);
    for (const Tone& t : right) r += t.amplitude * std::sin(kTwoPi * t.hertz * i / rate);
    v[2 * i] = static_cast<float>(l);
    v[2 * i + 1] = static_cast<float>(r);
  }
  return v;
}

std::vector<std::complex<double>> DirectDft(const std::vector<float>& re, const std::vector<float>& im) {
  const size_t n = re.size();
  std::vector<std::complex<double>> out(n);
  for (size_t k = 0; k < n; ++k) {
    std::complex<double> sum = 0;
    for (size_t j = 0; j < n; ++j) {
      sum += std::complex<double>(re[j], im[j]) * std::polar(1.0, -kTwoPi * double((j * k) % n) / double(n));
    }
    out[k] = sum;
  }
  return out;
}

// One output frame (left channel) of the windowed-sinc resampler, every tap computed with its own
// sin and cos: the reference for the resampler's rotating angles and its ends.
double DirectResampledFrame(const std::vector<float>& input, int64_t inFrames, double inRate,
                            double outRate, uint64_t j) {
  const double step = inRate / outRate, fc = std::min(outRate / inRate, 1.0);
  const double taps = std::ceil(32.0 / fc);
  const double x = j * step;
  const int64_t c = static_cast<int64_t>(std::floor(x));
  double weightSum = 0, sum = 0;
  for (int64_t k = c - int64_t(taps) + 1; k <= c + int64_t(taps); ++k) {
    const double d = x - k;
    if (std::abs(d) >= taps) continue;
    const double a = std::numbers::pi * fc * d;
    const double w = (0.5 + 0.5 * std::cos(std::numbers::pi * d / taps)) * (std::abs(a) < 1e-9 ? 1.0 : std::sin(a) / a);
    weightSum += w;
    if (k >= 0 && k < inFrames) sum += w * input[2 * k];
  }
  return sum / weightSum;
}

StemDsp::Model Identity(const Geometry& g, int* calls = nullptr) {
  return [g, calls](const float* in, float* out) {
    if (calls) ++*calls;
    std::copy_n(in, StemDsp::SpectrogramFloats(g), out);
    return true;
  };
}

}  // namespace

TEST(StemDspFft, MatchesDirectDftAndInvertsForMixedRadixSizes) {
  for (size_t n : {2u, 3u, 6u, 12u, 96u, 768u, 4096u, 6144u}) {
    std::vector<float> re = Noise(n, 1), im = Noise(n, 2);
    const auto expected = DirectDft(re, im);
    std::vector<float> fre = re, fim = im;
    StemDsp::ComplexFft(fre, fim, false);
    double worst = 0;
    for (size_t k = 0; k < n; ++k) worst = std::max(worst, std::abs(std::complex<double>(fre[k], fim[k]) - expected[k]));
    // Float rounding grows with log n over values of size about sqrt(n).
    EXPECT_LT(worst, 2e-5 * std::sqrt(double(n)) * std::log2(double(n) + 1)) << "n = " << n;

    // The inverse is unscaled: forward then inverse gives n times the input.
    StemDsp::ComplexFft(fre, fim, true);
    for (size_t k = 0; k < n; ++k) {
      ASSERT_NEAR(fre[k] / n, re[k], 1e-5) << "n = " << n << ", k = " << k;
      ASSERT_NEAR(fim[k] / n, im[k], 1e-5) << "n = " << n << ", k = " << k;
    }
  }
}

TEST(StemDspFft, SixteenThousandPointToneLandsInItsBin) {
  constexpr size_t n = 16384;
  constexpr size_t bin = 1234;
  std::vector<float> re(n), im(n, 0.0f);
  for (size_t k = 0; k < n; ++k) re[k] = static_cast<float>(std::cos(kTwoPi * bin * k / n));
  StemDsp::ComplexFft(re, im, false);
  EXPECT_NEAR(re[bin], n / 2.0, 0.05);
  EXPECT_NEAR(re[n - bin], n / 2.0, 0.05);
  float other = 0;
  for (size_t k = 0; k < n; ++k) {
    if (k != bin && k != n - bin) other = std::max(other, std::hypot(re[k], im[k]));
  }
  EXPECT_LT(other, 0.05f);
}

TEST(StemDspStft, LayoutPutsPlanesBinsAndFramesWhereTheModelExpectsThem) {
  // A constant left channel: the periodic Hann window's spectrum is n/2 at bin 0 and -n/4 at bin
  // 1 in every frame (mirroring keeps the edges constant); everything else is zero.
  const size_t length = StemDsp::ChunkLength(kSmall);
  std::vector<float> left(length, 1.0f), right(length, 0.0f);
  std::vector<float> spec(StemDsp::SpectrogramFloats(kSmall), 99.0f);
  StemDsp::Stft(kSmall, left.data(), right.data(), spec.data());
  const size_t dimF = kSmall.dimF, dimT = kSmall.dimT;
  for (size_t p = 0; p < 4; ++p) {
    for (size_t f = 0; f < dimF; ++f) {
      for (size_t t = 0; t < dimT; ++t) {
        double expected = 0;
        if (p == 0 && f == 0) expected = kSmall.nFft / 2.0;
        if (p == 0 && f == 1) expected = -kSmall.nFft / 4.0;
        ASSERT_NEAR(spec[(p * dimF + f) * dimT + t], expected, 1e-3) << "plane " << p << " bin " << f << " frame " << t;
      }
    }
  }
}

TEST(StemDspStft, RoundTripReconstructsTheChunk) {
  // All bins kept: any signal comes back, edges included.
  {
    const size_t length = StemDsp::ChunkLength(kSmall);
    const std::vector<float> left = Noise(length, 3), right = Noise(length, 4);
    std::vector<float> spec(StemDsp::SpectrogramFloats(kSmall));
    std::vector<float> outL(length), outR(length);
    StemDsp::Stft(kSmall, left.data(), right.data(), spec.data());
    StemDsp::Istft(kSmall, spec.data(), outL.data(), outR.data());
    for (size_t i = 0; i < length; ++i) {
      ASSERT_NEAR(outL[i], left[i], 1e-4) << i;
      ASSERT_NEAR(outR[i], right[i], 1e-4) << i;
    }
  }
  // The models' own sizes keep 2048 bins: tones well below the highest kept bin come back.
  for (const StemModel& model : kStemModels) {
    const Geometry& g = model.geometry;
    const size_t length = StemDsp::ChunkLength(g);
    const std::vector<float> stereo = Tones(length, 44100, {{0.4, 220}, {0.2, 3000}}, {{0.3, 330.5}});
    std::vector<float> left(length), right(length);
    for (size_t i = 0; i < length; ++i) {
      left[i] = stereo[2 * i];
      right[i] = stereo[2 * i + 1];
    }
    std::vector<float> spec(StemDsp::SpectrogramFloats(g));
    std::vector<float> outL(length), outR(length);
    StemDsp::Stft(g, left.data(), right.data(), spec.data());
    StemDsp::Istft(g, spec.data(), outL.data(), outR.data());
    const size_t pad = StemDsp::Pad(g);
    // Mirroring at the chunk's ends makes a kink whose overtones pass the kept bins; Demix only
    // uses the samples from pad on, so that is where the round trip must hold.
    double worst = 0;
    for (size_t i = pad; i < length - pad; ++i) {
      worst = std::max({worst, double(std::abs(outL[i] - left[i])), double(std::abs(outR[i] - right[i]))});
    }
    EXPECT_LT(worst, 1e-4) << "nFft " << g.nFft;
  }
}

TEST(StemDspDemix, ChunkSizesFollowTheGeometry) {
  const Geometry vocals = kStemModels[0].geometry, drums = kStemModels[1].geometry, bass = kStemModels[2].geometry;
  EXPECT_EQ(StemDsp::ChunkLength(vocals), 261120);
  EXPECT_EQ(StemDsp::Pad(vocals), 3072);
  EXPECT_EQ(StemDsp::ChunkStep(vocals), 254976);
  EXPECT_EQ(StemDsp::ChunkLength(drums), 130048);
  EXPECT_EQ(StemDsp::ChunkStep(drums), 125952);
  EXPECT_EQ(StemDsp::ChunkLength(bass), 261120);
  EXPECT_EQ(StemDsp::ChunkStep(bass), 244736);
  for (const StemModel& model : kStemModels) EXPECT_TRUE(StemDsp::ValidGeometry(model.geometry)) << model.file;

  EXPECT_FALSE(StemDsp::ValidGeometry({.nFft = 250, .hop = 64, .dimF = 100, .dimT = 40}));  // factor 5
  EXPECT_FALSE(StemDsp::ValidGeometry({.nFft = 256, .hop = 64, .dimF = 130, .dimT = 40}));  // past Nyquist
  EXPECT_FALSE(StemDsp::ValidGeometry({.nFft = 256, .hop = 64, .dimF = 129, .dimT = 5}));   // step below 1
  EXPECT_FALSE(StemDsp::ValidGeometry({.nFft = 256, .hop = 0, .dimF = 129, .dimT = 40}));
}

TEST(StemDspDemix, IdentityModelReproducesTheTrackAcrossChunkBoundaries) {
  const uint64_t step = StemDsp::ChunkStep(kSmall);
  std::atomic<bool> cancel{false};
  // Lengths: one short chunk, an exact multiple of the step (one extra padded chunk), and enough
  // chunks for several batches of workers.
  for (uint64_t frames : {uint64_t(100), 3 * step, 37 * step + 11}) {
    const std::vector<float> input = Noise(2 * frames, 5);
    int calls = 0;
    std::vector<double> fractions;
    std::vector<float> out(7, 1.0f);
    ASSERT_TRUE(StemDsp::Demix(kSmall, input.data(), frames, Identity(kSmall, &calls), cancel,
                               [&](double f) { fractions.push_back(f); }, out));
    ASSERT_EQ(out.size(), 2 * frames);
    const uint64_t rem = step - frames % step;
    EXPECT_EQ(uint64_t(calls), (frames + rem) / step) << frames;
    for (uint64_t i = 0; i < 2 * frames; ++i) ASSERT_NEAR(out[i], input[i], 1e-4) << "sample " << i;
    ASSERT_FALSE(fractions.empty());
    EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
    for (size_t i = 1; i < fractions.size(); ++i) EXPECT_GT(fractions[i], fractions[i - 1]);
  }
}

TEST(StemDspDemix, ModelSizedChunksMeetWithoutSeams) {
  // Real geometries, several chunks each: a band-limited signal passes an identity model, with
  // the frames on either side of every chunk boundary checked explicitly.
  std::atomic<bool> cancel{false};
  for (int m : {0, 1}) {
    const Geometry g = kStemModels[m].geometry;
    const uint64_t step = StemDsp::ChunkStep(g);
    const uint64_t frames = 2 * step + step / 2;
    const std::vector<float> input = Tones(frames, 44100, {{0.4, 220}, {0.2, 3000}}, {{0.3, 330.5}});
    std::vector<float> out;
    ASSERT_TRUE(StemDsp::Demix(g, input.data(), frames, Identity(g), cancel, {}, out));
    ASSERT_EQ(out.size(), 2 * frames);
    double worstBoundary = 0, worstInside = 0;
    const uint64_t edge = 5000;  // the track's own start and end, past the zero padding's kink
    for (uint64_t i = edge; i < frames - edge; ++i) {
      const double e = std::max(std::abs(out[2 * i] - input[2 * i]), std::abs(out[2 * i + 1] - input[2 * i + 1]));
      const bool nearBoundary = (i % step) < 64 || (i % step) > step - 64;
      (nearBoundary ? worstBoundary : worstInside) = std::max(nearBoundary ? worstBoundary : worstInside, e);
    }
    EXPECT_LT(worstBoundary, 1e-4) << "nFft " << g.nFft;
    EXPECT_LT(worstInside, 1e-4) << "nFft " << g.nFft;
  }
}

TEST(StemDspDemix, StopsOnCancelAndOnModelFailure) {
  const uint64_t step = StemDsp::ChunkStep(kSmall);
  const uint64_t frames = 40 * step;  // 41 chunks: several batches
  const std::vector<float> input = Noise(2 * frames, 6);
  std::vector<float> out;

  // Cancel set during the first model call: no further model call happens.
  std::atomic<bool> cancel{false};
  int calls = 0;
  auto cancelling = [&](const float* in, float* o) {
    ++calls;
    cancel = true;
    std::copy_n(in, StemDsp::SpectrogramFloats(kSmall), o);
    return true;
  };
  EXPECT_FALSE(StemDsp::Demix(kSmall, input.data(), frames, cancelling, cancel, {}, out));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(out.size(), 2 * frames);

  // Cancelled before the start: the model never runs, the output is all zeros.
  calls = 0;
  EXPECT_FALSE(StemDsp::Demix(kSmall, input.data(), frames, cancelling, cancel, {}, out));
  EXPECT_EQ(calls, 0);
  for (float v : out) ASSERT_EQ(v, 0.0f);

  // A failing model stops the run at once.
  cancel = false;
  calls = 0;
  auto failing = [&](const float*, float*) { return ++calls < 3; };
  EXPECT_FALSE(StemDsp::Demix(kSmall, input.data(), frames, failing, cancel, {}, out));
  EXPECT_EQ(calls, 3);
}

TEST(StemDspResample, EqualRatesReturnTheInput) {
  const std::vector<float> input = Noise(2 * 1000, 7);
  const std::vector<float> out = StemDsp::Resample(input.data(), 1000, 48000, 48000, 1000);
  EXPECT_EQ(out, input);
  // Asked for more frames than there are: the rest is silence.
  const std::vector<float> longer = StemDsp::Resample(input.data(), 1000, 48000, 48000, 1010);
  ASSERT_EQ(longer.size(), 2020u);
  EXPECT_TRUE(std::equal(input.begin(), input.end(), longer.begin()));
  for (size_t i = 2000; i < 2020; ++i) EXPECT_EQ(longer[i], 0.0f);
}

TEST(StemDspResample, KeepsToneFrequencyUpAndDown) {
  struct Case {
    int32_t from, to;
  };
  for (const Case c : {Case{48000, 44100}, Case{44100, 48000}, Case{22050, 44100}, Case{96000, 44100}}) {
    const uint64_t inFrames = c.from / 2;  // half a second
    const uint64_t outFrames = static_cast<uint64_t>(std::llround(double(inFrames) * c.to / c.from));
    const std::vector<float> input = Tones(inFrames, c.from, {{0.5, 1000}}, {{0.25, 5000}});
    const std::vector<float> out = StemDsp::Resample(input.data(), inFrames, c.from, c.to, outFrames);
    ASSERT_EQ(out.size(), 2 * outFrames);
    // Away from the ends the output is the same tones sampled at the new rate, in phase.
    const std::vector<float> expected = Tones(outFrames, c.to, {{0.5, 1000}}, {{0.25, 5000}});
    double worst = 0;
    for (uint64_t j = 200; j < outFrames - 200; ++j) {
      worst = std::max({worst, double(std::abs(out[2 * j] - expected[2 * j])),
                        double(std::abs(out[2 * j + 1] - expected[2 * j + 1]))});
    }
    EXPECT_LT(worst, 2e-3) << c.from << " -> " << c.to;
  }
}

TEST(StemDspResample, RemovesWhatTheNewRateCannotHoldAndWeighsTheEnds) {
  // A 30 kHz tone at 96 kHz has no place at 44.1 kHz: it must not alias to 14.1 kHz.
  const uint64_t inFrames = 48000;
  const uint64_t outFrames = 22050;
  const std::vector<float> high = Tones(inFrames, 96000, {{0.5, 30000}}, {{0.5, 30000}});
  const std::vector<float> out = StemDsp::Resample(high.data(), inFrames, 96000, 44100, outFrames);
  double peak = 0;
  for (uint64_t j = 200; j < outFrames - 200; ++j) peak = std::max(peak, double(std::abs(out[2 * j])));
  EXPECT_LT(peak, 0.5 * 0.01);  // at least 40 dB down

  // A constant: weights are normalised, so the middle is exact. Near the ends the taps beyond the
  // input still count in the weight sum: every frame there must match the windowed-sinc formula
  // evaluated directly, tap by tap.
  const std::vector<float> ones(2 * 4800, 1.0f);
  const std::vector<float> dc = StemDsp::Resample(ones.data(), 4800, 48000, 44100, 4410);
  EXPECT_NEAR(dc[2 * 2205], 1.0f, 1e-5);
  for (uint64_t j : {0, 1, 2, 17, 4400, 4409}) {
    EXPECT_NEAR(dc[2 * j], DirectResampledFrame(ones, 4800, 48000, 44100, j), 1e-5) << "frame " << j;
  }
  EXPECT_LT(dc[0], 0.99f);  // some weight of the first frame lies before the input
}

TEST(StemDspParallelFor, RunsEveryIndexOnceAndRethrows) {
  std::vector<std::atomic<int>> hits(8);
  StemDsp::ParallelFor(8, [&](int32_t i) { hits[i]++; });
  for (auto& h : hits) EXPECT_EQ(h.load(), 1);
  EXPECT_THROW(StemDsp::ParallelFor(4, [](int32_t i) {
                 if (i == 2) throw std::runtime_error("worker failed");
               }),
               std::runtime_error);
}
