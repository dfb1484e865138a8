#include "engine/analysis.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numbers>

#include "base/musical_keys.h"

namespace {

// --- Band split and waveform ---
constexpr double kLowSplitHz = 180.0;           // two cascaded one-pole low-passes
constexpr double kMidSplitHz = 2200.0;          // one one-pole low-pass
constexpr size_t kSplitBlockFrames = 1024;
constexpr float kMinBandMaximum = 1e-6f;        // keeps silence from dividing by zero
constexpr double kWaveformGamma = 0.8;          // lifts quiet parts of the waveform
constexpr double kWaveformFullScale = 255.0;
// A decoded float file can hold any value; past +80 dBFS it is garbage, and clamping there keeps
// every sum and FFT below overflow. Non-finite samples count as silence.
constexpr float kSampleLimit = 1e4f;

// --- Key and onsets ---
constexpr int32_t kAnalysisRate = 11025;        // Hz; both read the mix decimated towards this rate

// --- Loudness and first sound ---
constexpr double kMinMeanPower = 1e-10;         // -100 dB floor for silence
constexpr float kFirstSoundLevel = 0.02f;       // linear sample level
constexpr double kFirstSoundLeadS = 0.01;       // cue this much before the first sound

// --- Tempo ---
constexpr size_t kTempoMinPoints = 600;         // 4 s
// The beat's contrast: every style of the tempo corpus and a bare click track over a bass measure
// 2.3 and up, speech over a held tone 1.3-1.4.
constexpr double kMinPeriodicity = 1.8;
// Fewer heard onsets than a bar of four beats (a tone's start is one) make no tempo.
constexpr size_t kMinHeardOnsets = 4;

float CleanSample(float s) {
  if (std::fabs(s) <= kSampleLimit) return s;
  if (!std::isfinite(s)) return 0.0f;
  return std::copysign(kSampleLimit, s);
}

using Double4 = double __attribute__((vector_size(32)));
using Double2 = double __attribute__((vector_size(16)));
using Long2 = int64_t __attribute__((vector_size(16)));

// CleanSample on four lanes.
Float4 CleanSamples(Float4 v) {
  const Float4 limit = {kSampleLimit, kSampleLimit, kSampleLimit, kSampleLimit};
  const Int4 sign_bit = {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN};
  const float inf = std::numeric_limits<float>::infinity();
  const Float4 infinity = {inf, inf, inf, inf};
  const Int4 bits = std::bit_cast<Int4>(v);
  const Float4 magnitude = std::bit_cast<Float4>(bits & ~sign_bit);
  const Float4 clamped = std::bit_cast<Float4>((bits & sign_bit) | std::bit_cast<Int4>(limit));
  // Non-finite samples (NaN fails every compare) count as silence.
  return magnitude <= limit ? v : (magnitude < infinity ? clamped : Float4{});
}

// Frames that really have samples: a track whose sample vector is short counts only those.
uint64_t UsableFrames(const Track& track) {
  return std::min<uint64_t>(track.frames, track.samples.size() / 2);
}

// DecimateMix's arithmetic, fed as the samples are read: each mean sums its frames in the same
// order whether DecimateMix or the band split's pass reads them.
struct Decimator {
  DecimatedMix& mix;
  const float* s;
  int32_t d = 1;
  double scale = 0.5;
  size_t next = 0;    // the next mean to write
  int32_t pairs = 0;  // frame pairs in `sum`
  Double4 sum = {};

  Decimator(const Track& track, DecimatedMix& out) : mix(out), s(track.samples.data()) {
    mix = DecimatedMix{};
    if (track.sampleRate <= 0) return;
    d = std::max(track.sampleRate / kAnalysisRate, 1);
    mix.factor = d;
    mix.rate = static_cast<double>(track.sampleRate) / d;
    mix.samples.resize(static_cast<size_t>(UsableFrames(track) / static_cast<uint64_t>(d)));
    scale = 1.0 / (2.0 * d);
  }
  bool Even() const { return d % 2 == 0; }
  // Even factors: the next two frames from frame 0 on, cleaned, as lanes L R L R.
  void AddPair(const Double4& v) {
    if (next == mix.samples.size()) return;
    sum += v;
    if (++pairs < d / 2) return;
    mix.samples[next++] = static_cast<float>(((sum[0] + sum[1]) + (sum[2] + sum[3])) * scale);
    sum = Double4{};
    pairs = 0;
  }
  // Odd factors: every mean whose frames all lie before frame `end`, sample by sample.
  void AddOddUpTo(uint64_t end) {
    for (; next < mix.samples.size() && (next + 1) * static_cast<uint64_t>(d) <= end; ++next) {
      double total = 0.0;
      for (size_t i = 2 * next * d; i < 2 * (next + 1) * d; ++i) total += CleanSample(s[i]);
      mix.samples[next] = static_cast<float>(total * scale);
    }
  }
};

}  // namespace

size_t WavePointCount(uint64_t frames, int32_t sampleRate) {
  if (sampleRate <= 0) return 0;
  return static_cast<size_t>(frames * kWavePointsPerSecond / static_cast<uint64_t>(sampleRate)) + 1;
}

BandSplit SplitBands(const Track& track, DecimatedMix* mix) {
  BandSplit bands;
  DecimatedMix unused;
  Decimator decimator(track, mix ? *mix : unused);
  const bool decimate_pairs = mix && decimator.Even(), decimate_odd = mix && !decimator.Even();
  const size_t n = WavePointCount(UsableFrames(track), track.sampleRate);
  if (n == 0) return bands;
  bands.lowPeak.assign(n, 0.0f);
  bands.midPeak.assign(n, 0.0f);
  bands.highPeak.assign(n, 0.0f);
  bands.count.assign(n, 0);

  const uint64_t rate = static_cast<uint64_t>(track.sampleRate);
  const double a180 = std::exp(-2.0 * std::numbers::pi * kLowSplitHz / track.sampleRate);
  const double a2200 = std::exp(-2.0 * std::numbers::pi * kMidSplitHz / track.sampleRate);
  // Each one-pole step as y a + x (1 - a): one multiply and one add wait on the last output.
  const double b180 = 1.0 - a180, b2200 = 1.0 - a2200;
  double lp1 = 0.0, low = 0.0, lp2 = 0.0, sum = 0.0;
  const uint64_t frames = UsableFrames(track);
  const float* s = track.samples.data();
  for (uint64_t f = 0; f < frames; ++f) {
    if (std::fabs(s[2 * f]) > kFirstSoundLevel || std::fabs(s[2 * f + 1]) > kFirstSoundLevel) {
      bands.firstSoundFrame = static_cast<int64_t>(f);
      break;
    }
  }

  // Points are contiguous runs of frames: each run's peaks gather in two lanes (even and odd
  // frames) and are stored when it ends. Peaks are exact whatever the order, as the filter
  // outputs are always finite.
  size_t point = 0;
  uint64_t next_start = (rate + kWavePointsPerSecond - 1) / kWavePointsPerSecond;
  Double2 low_peak = {}, mid_peak = {}, high_peak = {};
  uint32_t count = 0;
  auto store = [&] {
    bands.lowPeak[point] = static_cast<float>(std::max(low_peak[0], low_peak[1]));
    bands.midPeak[point] = static_cast<float>(std::max(mid_peak[0], mid_peak[1]));
    bands.highPeak[point] = static_cast<float>(std::max(high_peak[0], high_peak[1]));
    bands.count[point] = count;
  };
  // The filters frame by frame in a fixed order; the bands and their peaks two frames at once.
  auto filter = [&](double m) {
    sum += m * m;
    lp1 = lp1 * a180 + m * b180;
    low = low * a180 + lp1 * b180;
    lp2 = lp2 * a2200 + m * b2200;
  };
  const Double2 sign_bit = -Double2{0.0, 0.0};
  auto peaks = [&](Double2 m, Double2 lows, Double2 lp2s) {
    const Double2 mid = lp2s - lows, high = m - lp2s;
    const Double2 low_abs = std::bit_cast<Double2>(std::bit_cast<Long2>(lows) & ~std::bit_cast<Long2>(sign_bit));
    const Double2 mid_abs = std::bit_cast<Double2>(std::bit_cast<Long2>(mid) & ~std::bit_cast<Long2>(sign_bit));
    const Double2 high_abs = std::bit_cast<Double2>(std::bit_cast<Long2>(high) & ~std::bit_cast<Long2>(sign_bit));
    low_peak = low_abs > low_peak ? low_abs : low_peak;
    mid_peak = mid_abs > mid_peak ? mid_abs : mid_peak;
    high_peak = high_abs > high_peak ? high_abs : high_peak;
  };
  // The mono mix of a block of frames first, cleaned two frames at a time, so the filter loop
  // only reads it.
  std::array<double, kSplitBlockFrames> block;
  for (uint64_t start = 0; start < frames; start += kSplitBlockFrames) {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kSplitBlockFrames, frames - start));
    size_t k = 0;
    for (; k + 2 <= length; k += 2) {
      const Double4 v = __builtin_convertvector(CleanSamples(Load4(s + 2 * (start + k))), Double4);
      block[k] = (v[0] + v[1]) * 0.5;
      block[k + 1] = (v[2] + v[3]) * 0.5;
      if (decimate_pairs) decimator.AddPair(v);
    }
    for (; k < length; ++k)
      block[k] = (static_cast<double>(CleanSample(s[2 * (start + k)])) + CleanSample(s[2 * (start + k) + 1])) * 0.5;
    if (decimate_odd) decimator.AddOddUpTo(start + length);
    for (k = 0; k < length;) {
      if (start + k >= next_start) {
        store();
        point = static_cast<size_t>((start + k) * kWavePointsPerSecond / rate);
        next_start = ((point + 1) * rate + kWavePointsPerSecond - 1) / kWavePointsPerSecond;
        low_peak = mid_peak = high_peak = Double2{};
        count = 0;
      }
      const size_t run_end = static_cast<size_t>(std::min<uint64_t>(length, next_start - start));
      count += static_cast<uint32_t>(run_end - k);
      for (; k + 2 <= run_end; k += 2) {
        filter(block[k]);
        const double low0 = low, lp20 = lp2;
        filter(block[k + 1]);
        peaks(Double2{block[k], block[k + 1]}, Double2{low0, low}, Double2{lp20, lp2});
      }
      if (k < run_end) {
        filter(block[k]);
        // The other lane sees zeros, which no peak is below.
        peaks(Double2{block[k], 0.0}, Double2{low, 0.0}, Double2{lp2, 0.0});
        ++k;
      }
    }
  }
  if (frames > 0) store();
  bands.sumSquares = sum;
  return bands;
}

std::vector<WavePoint> WaveformFromBands(const BandSplit& bands) {
  const size_t n = bands.lowPeak.size();
  float low_max = kMinBandMaximum, mid_max = kMinBandMaximum, high_max = kMinBandMaximum;
  for (size_t i = 0; i < n; ++i) {
    low_max = std::max(low_max, bands.lowPeak[i]);
    mid_max = std::max(mid_max, bands.midPeak[i]);
    high_max = std::max(high_max, bands.highPeak[i]);
  }
  auto level = [](float peak, float maximum) {
    const double v = std::pow(static_cast<double>(peak) / maximum, kWaveformGamma) * kWaveformFullScale;
    return static_cast<uint8_t>(std::clamp(v, 0.0, kWaveformFullScale));
  };
  std::vector<WavePoint> waveform(n);
  for (size_t i = 0; i < n; ++i) {
    waveform[i].low = level(bands.lowPeak[i], low_max);
    waveform[i].mid = level(bands.midPeak[i], mid_max);
    waveform[i].high = level(bands.highPeak[i], high_max);
  }
  return waveform;
}

float LoudnessFromBands(const BandSplit& bands, uint64_t frames) {
  const double mean = bands.sumSquares / static_cast<double>(std::max<uint64_t>(frames, 1));
  return static_cast<float>(10.0 * std::log10(std::max(mean, kMinMeanPower)));
}

double FirstSoundFromBands(const BandSplit& bands, int32_t sampleRate) {
  if (bands.firstSoundFrame < 0 || sampleRate <= 0) return 0.0;
  return std::max(static_cast<double>(bands.firstSoundFrame) / sampleRate - kFirstSoundLeadS, 0.0);
}

namespace {

// The bit-reversed order and each stage's twiddles (stage of length L at [L/2, L)) of one FFT
// size, from double sines: the same tables, so the same spectra, on every run.
struct FftTables {
  std::vector<uint32_t> reverse;
  std::vector<float> cos, sin;
};

const FftTables& TablesFor(size_t n) {
  thread_local std::array<std::unique_ptr<FftTables>, 32> cache;
  std::unique_ptr<FftTables>& tables = cache[std::countr_zero(n)];
  if (tables) return *tables;
  tables = std::make_unique<FftTables>();
  tables->reverse.resize(n);
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    tables->reverse[i] = static_cast<uint32_t>(j);
  }
  tables->cos.assign(n, 1.0f);
  tables->sin.assign(n, 0.0f);
  for (size_t length = 2; length <= n; length <<= 1) {
    for (size_t k = 0; k < length / 2; ++k) {
      const double angle = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(length);
      tables->cos[length / 2 + k] = static_cast<float>(std::cos(angle));
      tables->sin[length / 2 + k] = static_cast<float>(std::sin(angle));
    }
  }
  return *tables;
}

}  // namespace

const uint32_t* FftReverseOrder(size_t n) { return TablesFor(n).reverse.data(); }

void FillReversed(const float* x, const float* w, size_t n, float* out) {
  const uint32_t* order = FftReverseOrder(n);
  if (n < 16) {
    for (size_t k = 0; k < n; ++k) out[order[k]] = x[k] * w[k];
    return;
  }
  // Index q Q + s (Q = n / 4) reverses to rev(s) 4 + (0, 2, 1, 3)[q]: four columns of the four
  // quarters, transposed, are four whole runs of the output.
  const size_t quarter = n / 4;
  for (size_t s = 0; s < quarter; s += 4) {
    const Float4 q0 = Load4(x + s) * Load4(w + s);
    const Float4 q1 = Load4(x + quarter + s) * Load4(w + quarter + s);
    const Float4 q2 = Load4(x + 2 * quarter + s) * Load4(w + 2 * quarter + s);
    const Float4 q3 = Load4(x + 3 * quarter + s) * Load4(w + 3 * quarter + s);
    const Float4 t0 = __builtin_shuffle(q0, q2, Int4{0, 4, 1, 5}), t1 = __builtin_shuffle(q1, q3, Int4{0, 4, 1, 5});
    const Float4 t2 = __builtin_shuffle(q0, q2, Int4{2, 6, 3, 7}), t3 = __builtin_shuffle(q1, q3, Int4{2, 6, 3, 7});
    Store4(out + 4 * order[4 * s], __builtin_shuffle(t0, t1, Int4{0, 1, 4, 5}));
    Store4(out + 4 * order[4 * (s + 1)], __builtin_shuffle(t0, t1, Int4{2, 3, 6, 7}));
    Store4(out + 4 * order[4 * (s + 2)], __builtin_shuffle(t2, t3, Int4{0, 1, 4, 5}));
    Store4(out + 4 * order[4 * (s + 3)], __builtin_shuffle(t2, t3, Int4{2, 3, 6, 7}));
  }
}

void AnalysisFft(float* re, float* im, size_t n) {
  if (n < 2 || (n & (n - 1)) != 0) return;
  const FftTables& t = TablesFor(n);
  for (size_t i = 1; i < n; ++i) {
    const size_t j = t.reverse[i];
    if (i < j) std::swap(re[i], re[j]), std::swap(im[i], im[j]);
  }
  AnalysisFftReordered(re, im, n);
}

void AnalysisFftReordered(float* re, float* im, size_t n) {
  if (n < 2 || (n & (n - 1)) != 0) return;
  const FftTables& t = TablesFor(n);
  // The first two stages multiply by 1 and -i only: both at once on each run of four values.
  if (n == 2) {
    const float ar = re[0], ai = im[0], br = re[1], bi = im[1];
    re[0] = ar + br, im[0] = ai + bi, re[1] = ar - br, im[1] = ai - bi;
    return;
  }
  const Float4 alternate = {1.0f, -1.0f, 1.0f, -1.0f}, halves = {1.0f, 1.0f, -1.0f, -1.0f};
  auto first_two = [&](size_t i, Float4& out_r, Float4& out_i) {
    const Float4 xr = Load4(re + i), xi = Load4(im + i);
    // Length 2: [x0 + x1, x0 - x1, x2 + x3, x2 - x3].
    const Float4 ar = __builtin_shuffle(xr, Int4{0, 0, 2, 2}) + __builtin_shuffle(xr, Int4{1, 1, 3, 3}) * alternate;
    const Float4 ai = __builtin_shuffle(xi, Int4{0, 0, 2, 2}) + __builtin_shuffle(xi, Int4{1, 1, 3, 3}) * alternate;
    // Length 4: a0 +- a2 and a1 +- (-i) a3, where (-i) a3 = a3i - i a3r.
    const Float4 pr = __builtin_shuffle(ar, ai, Int4{2, 7, 2, 7});
    const Float4 pi = __builtin_shuffle(ai, ar, Int4{2, 7, 2, 7}) * alternate;
    out_r = __builtin_shuffle(ar, Int4{0, 1, 0, 1}) + pr * halves;
    out_i = __builtin_shuffle(ai, Int4{0, 1, 0, 1}) + pi * halves;
  };
  // Four butterflies at a time from length 8 on, in plain float arithmetic: p + x w and p - x w.
  auto butterfly = [](Float4& pr, Float4& pi, Float4& xr, Float4& xi, const float* wr, const float* wi) {
    const Float4 tr = Load4(wr), ti = Load4(wi);
    const Float4 br = xr * tr - xi * ti, bi = xr * ti + xi * tr;
    xr = pr - br, xi = pi - bi;
    pr = pr + br, pi = pi + bi;
  };
  if (n == 4) {
    Float4 r, i;
    first_two(0, r, i);
    Store4(re, r), Store4(im, i);
    return;
  }
  // Lengths 2, 4 and 8 in one pass over each run of eight values.
  for (size_t i = 0; i < n; i += 8) {
    Float4 ar, ai, br, bi;
    first_two(i, ar, ai);
    first_two(i + 4, br, bi);
    butterfly(ar, ai, br, bi, t.cos.data() + 4, t.sin.data() + 4);
    Store4(re + i, ar), Store4(im + i, ai), Store4(re + i + 4, br), Store4(im + i + 4, bi);
  }
  // Then two stages per pass (lengths L and 2L on quarters a, b, c, d of each 2L run): the same
  // butterflies in the same order per value, with half the loads and stores.
  size_t length = 16;
  for (; 2 * length <= n; length <<= 2) {
    const size_t h = length / 2;
    const float* w1r = t.cos.data() + h;
    const float* w1i = t.sin.data() + h;
    const float* w2r = t.cos.data() + length;
    const float* w2i = t.sin.data() + length;
    for (size_t start = 0; start < n; start += 2 * length) {
      float* r = re + start;
      float* i = im + start;
      for (size_t k = 0; k < h; k += 4) {
        Float4 ar = Load4(r + k), ai = Load4(i + k), br = Load4(r + h + k), bi = Load4(i + h + k);
        Float4 cr = Load4(r + 2 * h + k), ci = Load4(i + 2 * h + k), dr = Load4(r + 3 * h + k), di = Load4(i + 3 * h + k);
        butterfly(ar, ai, br, bi, w1r + k, w1i + k);
        butterfly(cr, ci, dr, di, w1r + k, w1i + k);
        butterfly(ar, ai, cr, ci, w2r + k, w2i + k);
        butterfly(br, bi, dr, di, w2r + h + k, w2i + h + k);
        Store4(r + k, ar), Store4(i + k, ai), Store4(r + h + k, br), Store4(i + h + k, bi);
        Store4(r + 2 * h + k, cr), Store4(i + 2 * h + k, ci), Store4(r + 3 * h + k, dr), Store4(i + 3 * h + k, di);
      }
    }
  }
  if (length <= n) {  // an odd number of stages leaves the last on its own
    const size_t half = length / 2;
    for (size_t k = 0; k < half; k += 4) {
      Float4 pr = Load4(re + k), pi = Load4(im + k), xr = Load4(re + half + k), xi = Load4(im + half + k);
      butterfly(pr, pi, xr, xi, t.cos.data() + half + k, t.sin.data() + half + k);
      Store4(re + k, pr), Store4(im + k, pi), Store4(re + half + k, xr), Store4(im + half + k, xi);
    }
  }
}

void SplitMagnitudes(const float* re, const float* im, size_t n, float* a, float* b) {
  const size_t half = n / 2;
  // Bins k..k+3 and their mirrors n-k-3..n-k, loaded and reversed.
  size_t k = 1;
  for (; k + 4 <= half; k += 4) {
    const Float4 zr = Load4(re + k), zi = Load4(im + k);
    const Float4 wr = Reverse4(Load4(re + n - k - 3)), wi = -Reverse4(Load4(im + n - k - 3));
    const Float4 ar = 0.5f * (zr + wr), ai = 0.5f * (zi + wi);
    const Float4 br = 0.5f * (zi - wi), bi = 0.5f * (wr - zr);
    Store4(a + k, Sqrt4(ar * ar + ai * ai));
    Store4(b + k, Sqrt4(br * br + bi * bi));
  }
  for (; k < half; ++k) {
    const float zr = re[k], zi = im[k], wr = re[n - k], wi = -im[n - k];
    const float ar = 0.5f * (zr + wr), ai = 0.5f * (zi + wi);
    const float br = 0.5f * (zi - wi), bi = 0.5f * (wr - zr);
    a[k] = std::sqrt(ar * ar + ai * ai);
    b[k] = std::sqrt(br * br + bi * bi);
  }
}

void AnalysisFft(std::vector<std::complex<float>>& data) {
  const size_t n = data.size();
  if (n < 2 || (n & (n - 1)) != 0) return;
  std::vector<float> re(n), im(n);
  for (size_t k = 0; k < n; ++k) re[k] = data[k].real(), im[k] = data[k].imag();
  AnalysisFft(re.data(), im.data(), n);
  for (size_t k = 0; k < n; ++k) data[k] = {re[k], im[k]};
}

DecimatedMix DecimateMix(const Track& track) {
  DecimatedMix mix;
  Decimator decimator(track, mix);
  const uint64_t frames = UsableFrames(track);
  if (!decimator.Even()) {
    decimator.AddOddUpTo(frames);
    return mix;
  }
  // Two frames at a time, cleaned four lanes at once.
  const float* s = track.samples.data();
  for (uint64_t f = 0; f + 2 <= mix.samples.size() * static_cast<uint64_t>(mix.factor); f += 2)
    decimator.AddPair(__builtin_convertvector(CleanSamples(Load4(s + 2 * f)), Double4));
  return mix;
}

void AnalyzeTrack(Track& track) {
  const Track defaults;
  track.bpm = defaults.bpm;
  track.firstBeat = defaults.firstBeat;
  track.key = kKeyUnknown;
  if (track.sampleRate <= 0) {
    // Nothing can be measured without a rate; an empty waveform marks the track not analysed.
    track.waveform.clear();
    track.loudness = defaults.loudness;
    track.firstSound = defaults.firstSound;
    return;
  }
  DecimatedMix mix;
  const BandSplit bands = SplitBands(track, &mix);
  track.waveform = WaveformFromBands(bands);
  track.loudness = LoudnessFromBands(bands, UsableFrames(track));
  track.firstSound = FirstSoundFromBands(bands, track.sampleRate);
  track.key = DetectKey(mix);
  const OnsetBands onsets = SpectralOnsets(mix);
  // A held tone or silence has no beat, however long or short: no tempo (0) rather than a
  // made-up one that would put it in every search for that tempo.
  if (onsets.heardOnsets < kMinHeardOnsets) {
    track.bpm = 0.0;
    return;
  }
  if (track.waveform.size() < kTempoMinPoints) return;  // under 4 s: the defaults stand
  const TempoEstimate tempo = EstimateTempo(onsets);
  // Speech over a held tone has onsets but no beat: no tempo either.
  if (tempo.periodicity > 0.0 && tempo.periodicity < kMinPeriodicity) {
    track.bpm = 0.0;
    return;
  }
  track.bpm = tempo.bpm;
  track.firstBeat = tempo.firstBeat;
}
