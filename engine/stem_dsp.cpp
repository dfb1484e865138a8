#include "engine/stem_dsp.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <exception>
#include <map>
#include <mutex>
#include <numbers>
#include <system_error>
#include <thread>

namespace StemDsp {

namespace {

constexpr float kSqrt3Half = 0.8660254f;        // sin(2 pi / 3), the radix-3 rotation
constexpr double kMinOverlapWeight = 1e-11;     // below this a sample had no window over it
constexpr double kResampleTaps = 32.0;          // half-width in input samples at fc = 1
constexpr double kSincCentre = 1e-9;            // |pi fc d| below this counts as the centre tap
constexpr double kMinWeightSum = 1e-9;          // a resampled frame with less weight stays 0

// Per-thread scratch of the complex FFT and the overlap-add.
struct Scratch {
  std::vector<float> re, im;        // one STFT frame
  std::vector<float> copyRe, copyIm;  // ComplexFft's input copy
  std::vector<double> sum, weight;  // Istft's accumulators
};

Scratch& ThreadScratch() {
  thread_local Scratch scratch;
  return scratch;
}

bool OnlyTwosAndThrees(int64_t n) {
  if (n < 1) return false;
  while (n % 2 == 0) n /= 2;
  while (n % 3 == 0) n /= 3;
  return n == 1;
}

}  // namespace

bool ValidGeometry(const Geometry& g) {
  if (g.nFft < 2 || g.nFft % 2 != 0 || !OnlyTwosAndThrees(g.nFft)) return false;
  if (g.hop < 1 || g.dimF < 1 || g.dimF > g.nFft / 2 + 1 || g.dimT < 2) return false;
  return ChunkStep(g) >= 1;
}

int32_t WorkerCount() {
  const unsigned hardware = std::thread::hardware_concurrency();
  return static_cast<int32_t>(std::clamp<uint64_t>(hardware, 1, kMaxThreads));
}

const std::vector<float>& Window(int32_t n) {
  thread_local std::map<int32_t, std::vector<float>> windows;
  auto [it, made] = windows.try_emplace(n);
  if (made) {
    it->second.resize(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k) {
      it->second[k] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * k / n));
    }
  }
  return it->second;
}

const TwiddleTable& Twiddles(int32_t n) {
  thread_local std::map<int32_t, TwiddleTable> tables;
  auto [it, made] = tables.try_emplace(n);
  if (made) {
    it->second.cos.resize(static_cast<size_t>(n));
    it->second.sin.resize(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k) {
      const double angle = -2.0 * std::numbers::pi * k / n;
      it->second.cos[k] = static_cast<float>(std::cos(angle));
      it->second.sin[k] = static_cast<float>(std::sin(angle));
    }
  }
  return it->second;
}

void Fft(const float* inRe, const float* inIm, size_t stride, size_t n, float* outRe, float* outIm,
         const float* twCos, const float* twSin, size_t twStride) {
  if (n == 1) {
    outRe[0] = inRe[0];
    outIm[0] = inIm[0];
    return;
  }
  if (n == 2) {  // the last radix-2 level written out: half the calls of recursing to n = 1
    const float ar = inRe[0], ai = inIm[0], br = inRe[stride], bi = inIm[stride];
    outRe[0] = ar + br;
    outIm[0] = ai + bi;
    outRe[1] = ar - br;
    outIm[1] = ai - bi;
    return;
  }
  if (n == 3) {  // the radix-3 butterfly with all twiddles 1
    const float ar = inRe[0], ai = inIm[0];
    const float sr = inRe[stride] + inRe[2 * stride], si = inIm[stride] + inIm[2 * stride];
    const float dr = inRe[stride] - inRe[2 * stride], di = inIm[stride] - inIm[2 * stride];
    const float tr = ar - 0.5f * sr, ti = ai - 0.5f * si;
    outRe[0] = ar + sr;
    outIm[0] = ai + si;
    outRe[1] = tr + kSqrt3Half * di;
    outIm[1] = ti - kSqrt3Half * dr;
    outRe[2] = tr - kSqrt3Half * di;
    outIm[2] = ti + kSqrt3Half * dr;
    return;
  }
  if (n % 2 == 1) {
    assert(n % 3 == 0 && "FFT sizes must be products of 2s and 3s");
    const size_t m = n / 3;
    for (size_t r = 0; r < 3; ++r) {
      Fft(inRe + r * stride, inIm + r * stride, stride * 3, m, outRe + r * m, outIm + r * m, twCos,
          twSin, twStride * 3);
    }
    for (size_t k = 0; k < m; ++k) {
      const float c1 = twCos[k * twStride], s1 = twSin[k * twStride];
      const float c2 = twCos[2 * k * twStride], s2 = twSin[2 * k * twStride];
      const float ar = outRe[k], ai = outIm[k];
      const float br = outRe[k + m] * c1 - outIm[k + m] * s1;
      const float bi = outRe[k + m] * s1 + outIm[k + m] * c1;
      const float cr = outRe[k + 2 * m] * c2 - outIm[k + 2 * m] * s2;
      const float ci = outRe[k + 2 * m] * s2 + outIm[k + 2 * m] * c2;
      const float sr = br + cr, si = bi + ci;
      const float dr = br - cr, di = bi - ci;
      const float tr = ar - 0.5f * sr, ti = ai - 0.5f * si;
      outRe[k] = ar + sr;
      outIm[k] = ai + si;
      outRe[k + m] = tr + kSqrt3Half * di;
      outIm[k + m] = ti - kSqrt3Half * dr;
      outRe[k + 2 * m] = tr - kSqrt3Half * di;
      outIm[k + 2 * m] = ti + kSqrt3Half * dr;
    }
    return;
  }
  const size_t m = n / 2;
  Fft(inRe, inIm, stride * 2, m, outRe, outIm, twCos, twSin, twStride * 2);
  Fft(inRe + stride, inIm + stride, stride * 2, m, outRe + m, outIm + m, twCos, twSin, twStride * 2);
  for (size_t k = 0; k < m; ++k) {
    const float c = twCos[k * twStride], s = twSin[k * twStride];
    const float orr = outRe[k + m] * c - outIm[k + m] * s;
    const float oi = outRe[k + m] * s + outIm[k + m] * c;
    const float er = outRe[k], ei = outIm[k];
    outRe[k] = er + orr;
    outIm[k] = ei + oi;
    outRe[k + m] = er - orr;
    outIm[k + m] = ei - oi;
  }
}

void ComplexFft(std::vector<float>& re, std::vector<float>& im, bool inverse) {
  assert(re.size() == im.size() && "ComplexFft needs real and imaginary parts of equal length");
  const size_t n = std::min(re.size(), im.size());
  if (n == 0) return;
  assert(OnlyTwosAndThrees(static_cast<int64_t>(n)) && "FFT sizes must be products of 2s and 3s");
  Scratch& scratch = ThreadScratch();
  scratch.copyRe.assign(re.begin(), re.begin() + n);
  scratch.copyIm.assign(im.begin(), im.begin() + n);
  if (inverse) {
    for (float& v : scratch.copyIm) v = -v;
  }
  const TwiddleTable& tw = Twiddles(static_cast<int32_t>(n));
  Fft(scratch.copyRe.data(), scratch.copyIm.data(), 1, n, re.data(), im.data(), tw.cos.data(),
      tw.sin.data(), 1);
  if (inverse) {
    for (size_t k = 0; k < n; ++k) im[k] = -im[k];
  }
}

void Stft(const Geometry& g, const float* left, const float* right, float* spectrogram) {
  const int64_t length = ChunkLength(g);
  const int64_t pad = Pad(g);
  const size_t n = static_cast<size_t>(g.nFft);
  const size_t plane = static_cast<size_t>(g.dimF) * static_cast<size_t>(g.dimT);
  const std::vector<float>& window = Window(g.nFft);
  Scratch& scratch = ThreadScratch();
  // ComplexFft uses the copy vectors of the same scratch, so the frame lives in re/im only.
  std::vector<float>& re = scratch.re;
  std::vector<float>& im = scratch.im;
  for (int channel = 0; channel < 2; ++channel) {
    const float* x = channel == 0 ? left : right;
    float* planeRe = spectrogram + (2 * channel) * plane;
    float* planeIm = spectrogram + (2 * channel + 1) * plane;
    for (int32_t t = 0; t < g.dimT; ++t) {
      re.assign(n, 0.0f);
      im.assign(n, 0.0f);
      for (size_t k = 0; k < n; ++k) {
        const int64_t q = int64_t(t) * g.hop + int64_t(k) - pad;
        int64_t i = q < 0 ? -q : q;
        if (i >= length) i = 2 * length - i - 2;  // mirror about the last sample
        re[k] = window[k] * x[i];
      }
      ComplexFft(re, im, false);
      for (int32_t f = 0; f < g.dimF; ++f) {
        planeRe[size_t(f) * g.dimT + t] = re[f];
        planeIm[size_t(f) * g.dimT + t] = im[f];
      }
    }
  }
}

void Istft(const Geometry& g, const float* spectrogram, float* left, float* right) {
  const int64_t length = ChunkLength(g);
  const int64_t pad = Pad(g);
  const size_t n = static_cast<size_t>(g.nFft);
  const size_t half = n / 2;
  const size_t bins = std::min<size_t>(static_cast<size_t>(g.dimF), half + 1);
  const size_t plane = static_cast<size_t>(g.dimF) * static_cast<size_t>(g.dimT);
  const std::vector<float>& window = Window(g.nFft);
  Scratch& scratch = ThreadScratch();
  std::vector<float>& re = scratch.re;
  std::vector<float>& im = scratch.im;
  const size_t span = static_cast<size_t>(length) + n;
  for (int channel = 0; channel < 2; ++channel) {
    const float* planeRe = spectrogram + (2 * channel) * plane;
    const float* planeIm = spectrogram + (2 * channel + 1) * plane;
    float* out = channel == 0 ? left : right;
    scratch.sum.assign(span, 0.0);
    scratch.weight.assign(span, 0.0);
    for (int32_t t = 0; t < g.dimT; ++t) {
      re.assign(n, 0.0f);
      im.assign(n, 0.0f);
      for (size_t f = 0; f < bins; ++f) {
        re[f] = planeRe[f * g.dimT + t];
        im[f] = planeIm[f * g.dimT + t];
      }
      im[0] = 0.0f;
      im[half] = 0.0f;
      for (size_t k = 1; k < half; ++k) {
        re[n - k] = re[k];
        im[n - k] = -im[k];
      }
      ComplexFft(re, im, true);
      const size_t at = size_t(t) * g.hop;
      for (size_t k = 0; k < n; ++k) {
        scratch.sum[at + k] += (double(re[k]) / double(n)) * window[k];
        scratch.weight[at + k] += double(window[k]) * window[k];
      }
    }
    for (int64_t i = 0; i < length; ++i) {
      const double w = scratch.weight[i + pad];
      out[i] = w > kMinOverlapWeight ? static_cast<float>(scratch.sum[i + pad] / w) : 0.0f;
    }
  }
}

void ParallelFor(int32_t count, const std::function<void(int32_t)>& fn) {
  if (count <= 0) return;
  std::mutex failureLock;
  std::exception_ptr failure;
  auto guarded = [&](int32_t index) {
    try {
      fn(index);
    } catch (...) {
      std::lock_guard<std::mutex> hold(failureLock);
      if (!failure) failure = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  std::vector<int32_t> inline_;
  threads.reserve(static_cast<size_t>(count));
  for (int32_t i = 1; i < count; ++i) {
    try {
      threads.emplace_back(guarded, i);
    } catch (const std::system_error&) {
      inline_.push_back(i);  // no thread to be had: this index runs here
    }
  }
  guarded(0);
  for (int32_t i : inline_) guarded(i);
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
}

bool Demix(const Geometry& g, const float* input, uint64_t frames, const Model& model,
           const std::atomic<bool>& cancel, const Progress& progress, std::vector<float>& out) {
  out.assign(2 * frames, 0.0f);
  if (!ValidGeometry(g) || (input == nullptr && frames > 0) || !model) {
    assert(!"Demix needs a valid geometry, an input and a model");
    return false;
  }
  const uint64_t length = static_cast<uint64_t>(ChunkLength(g));
  const uint64_t pad = static_cast<uint64_t>(Pad(g));
  const uint64_t step = static_cast<uint64_t>(ChunkStep(g));
  const uint64_t rem = step - frames % step;  // 1..step: the last chunk is always padded
  const uint64_t padded = 2 * pad + frames + rem;
  std::vector<float> left(padded, 0.0f), right(padded, 0.0f);
  for (uint64_t i = 0; i < frames; ++i) {
    left[pad + i] = input[2 * i];
    right[pad + i] = input[2 * i + 1];
  }
  const uint64_t chunks = std::max<uint64_t>((frames + rem) / step, 1);
  const uint64_t workers = std::min<uint64_t>(static_cast<uint64_t>(WorkerCount()), chunks);
  const size_t specFloats = SpectrogramFloats(g);
  std::vector<std::vector<float>> specIn(workers, std::vector<float>(specFloats));
  std::vector<std::vector<float>> specOut(workers, std::vector<float>(specFloats));
  std::vector<std::vector<float>> chunkLeft(workers, std::vector<float>(length));
  std::vector<std::vector<float>> chunkRight(workers, std::vector<float>(length));

  for (uint64_t done = 0; done < chunks; done += workers) {
    if (cancel.load()) return false;
    const uint64_t batch = std::min(chunks - done, workers);
    ParallelFor(static_cast<int32_t>(batch), [&](int32_t k) {
      const uint64_t start = (done + k) * step;
      Stft(g, left.data() + start, right.data() + start, specIn[k].data());
    });
    for (uint64_t k = 0; k < batch; ++k) {
      if (cancel.load()) return false;
      if (!model(specIn[k].data(), specOut[k].data())) return false;
    }
    ParallelFor(static_cast<int32_t>(batch), [&](int32_t k) {
      Istft(g, specOut[k].data(), chunkLeft[k].data(), chunkRight[k].data());
      const uint64_t first = (done + k) * step;
      const uint64_t count = std::min(step, frames - std::min(frames, first));
      for (uint64_t j = 0; j < count; ++j) {
        out[2 * (first + j)] = chunkLeft[k][pad + j];
        out[2 * (first + j) + 1] = chunkRight[k][pad + j];
      }
    });
    if (progress) progress(static_cast<double>(done + batch) / static_cast<double>(chunks));
  }
  return true;
}

std::vector<float> Resample(const float* input, uint64_t inFrames, int32_t inRate, int32_t outRate,
                            uint64_t outFrames) {
  std::vector<float> out(2 * outFrames, 0.0f);
  if (inRate < 1 || outRate < 1 || outFrames == 0 || input == nullptr || inFrames == 0) return out;
  if (inRate == outRate) {
    // Every tap but the centre one has a sinc of zero: the sum is the input itself.
    std::copy_n(input, 2 * std::min(inFrames, outFrames), out.begin());
    return out;
  }
  const double step = static_cast<double>(inRate) / outRate;
  const double fc = std::min(static_cast<double>(outRate) / inRate, 1.0);
  const int64_t half = static_cast<int64_t>(std::ceil(kResampleTaps / fc));
  const double taps = static_cast<double>(half);
  const double sincStep = std::numbers::pi * fc;   // the sinc's angle per input sample
  const double windowStep = std::numbers::pi / taps;  // the Hann window's angle per input sample
  const int64_t lastInput = static_cast<int64_t>(inFrames) - 1;

  auto range = [&](uint64_t begin, uint64_t end) {
    for (uint64_t j = begin; j < end; ++j) {
      const double x = static_cast<double>(j) * step;
      const int64_t c = static_cast<int64_t>(std::floor(x));
      const int64_t first = c - half + 1;
      // Angles advance by a fixed step per tap: rotate instead of calling sin and cos 4T times.
      const double d0 = x - static_cast<double>(first);
      double sinA = std::sin(sincStep * d0), cosA = std::cos(sincStep * d0);
      double sinW = std::sin(windowStep * d0), cosW = std::cos(windowStep * d0);
      const double rotSinA = std::sin(sincStep), rotCosA = std::cos(sincStep);
      const double rotSinW = std::sin(windowStep), rotCosW = std::cos(windowStep);
      double weightSum = 0.0, sumL = 0.0, sumR = 0.0;
      for (int64_t k = first; k <= c + half; ++k) {
        const double d = x - static_cast<double>(k);
        if (std::abs(d) < taps) {
          const double angle = sincStep * d;
          const double s = std::abs(angle) < kSincCentre ? 1.0 : sinA / angle;
          const double weight = (0.5 + 0.5 * cosW) * s;
          weightSum += weight;
          if (k >= 0 && k <= lastInput) {
            sumL += weight * input[2 * k];
            sumR += weight * input[2 * k + 1];
          }
        }
        // angle(d - 1) = angle(d) - step
        const double nextSinA = sinA * rotCosA - cosA * rotSinA;
        cosA = cosA * rotCosA + sinA * rotSinA;
        sinA = nextSinA;
        const double nextSinW = sinW * rotCosW - cosW * rotSinW;
        cosW = cosW * rotCosW + sinW * rotSinW;
        sinW = nextSinW;
      }
      if (weightSum > kMinWeightSum) {
        out[2 * j] = static_cast<float>(sumL / weightSum);
        out[2 * j + 1] = static_cast<float>(sumR / weightSum);
      }
    }
  };
  const uint64_t workers = std::min<uint64_t>(static_cast<uint64_t>(WorkerCount()), outFrames);
  ParallelFor(static_cast<int32_t>(workers), [&](int32_t i) {
    range(i * outFrames / workers, (i + 1) * outFrames / workers);
  });
  return out;
}

}  // namespace StemDsp
