#include "engine/tempo_harmony.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "engine/analysis.h"

namespace {

// Pitch classes from the low octaves up to where partials crowd the classes evenly. The window is
// the largest power of two inside an eighth, at most this long, so neighbouring eighths do not
// share samples.
constexpr double kChromaLowHz = 80.0;
constexpr double kChromaHighHz = 2000.0;
constexpr size_t kMinWindow = 512;
constexpr size_t kMaxWindow = 2048;
constexpr size_t kMinEighths = 8;
constexpr double kConcertAHz = 440.0;
// The mean cosine distance between neighbouring eighths under which the harmony holds still.
constexpr double kLeastChange = 0.02;

using Chroma = std::array<double, 12>;

double CosineDistance(const Chroma& a, const Chroma& b) {
  double ab = 0.0, aa = 0.0, bb = 0.0;
  for (size_t c = 0; c < 12; ++c) ab += a[c] * b[c], aa += a[c] * a[c], bb += b[c] * b[c];
  return aa > 0.0 && bb > 0.0 ? 1.0 - ab / std::sqrt(aa * bb) : 0.0;
}

}  // namespace

double HarmonicChangeContrast(const std::vector<float>& mix, double mixRate, double onSeconds, double beatSeconds) {
  if (!(mixRate > 0.0) || !std::isfinite(mixRate) || !std::isfinite(beatSeconds) || !std::isfinite(onSeconds)) return 0.0;
  const double eighth = beatSeconds / 2.0;
  // Eighths shorter than the smallest window would share samples (and be countless).
  if (!(eighth * mixRate >= static_cast<double>(kMinWindow))) return 0.0;
  size_t n = kMinWindow;
  while (2 * n <= kMaxWindow && static_cast<double>(2 * n) <= eighth * mixRate) n *= 2;
  const size_t half = n / 2;
  // Each bin's pitch class, -1 outside the chroma's range.
  std::vector<int> pitch_class(half, -1);
  for (size_t k = 1; k < half; ++k) {
    const double hz = static_cast<double>(k) * mixRate / static_cast<double>(n);
    if (hz < kChromaLowHz || hz > kChromaHighHz) continue;
    const long note = std::lround(12.0 * std::log2(hz / kConcertAHz));
    pitch_class[k] = static_cast<int>(((note + 9) % 12 + 12) % 12);
  }
  std::vector<float> window(n);
  for (size_t k = 0; k < n; ++k)
    window[k] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n)));

  // Eighth k starts at the candidate's first beat in the mix plus k eighths: even k are its beats.
  double first = std::fmod(onSeconds, beatSeconds);
  if (first < 0.0) first += beatSeconds;
  auto window_at = [&](size_t k) {  // the window's first sample, centred in eighth k
    return std::lround((first + (static_cast<double>(k) + 0.5) * eighth) * mixRate - static_cast<double>(half));
  };
  size_t eighths = 0;
  while (window_at(eighths) >= 0 && static_cast<size_t>(window_at(eighths)) + n <= mix.size()) ++eighths;
  if (eighths < kMinEighths) return 0.0;

  std::vector<Chroma> chroma(eighths);
  std::vector<float> re(n), im(n), a(half + 3), b(half + 3);
  auto fold = [&](const std::vector<float>& magnitude, Chroma& out) {
    out.fill(0.0);
    for (size_t k = 1; k < half; ++k)
      if (pitch_class[k] >= 0) out[static_cast<size_t>(pitch_class[k])] += static_cast<double>(magnitude[k]) * magnitude[k];
  };
  // Two eighths per complex transform.
  for (size_t k = 0; k < eighths; k += 2) {
    FillReversed(mix.data() + window_at(k), window.data(), n, re.data());
    if (k + 1 < eighths) FillReversed(mix.data() + window_at(k + 1), window.data(), n, im.data());
    else std::fill(im.begin(), im.end(), 0.0f);
    AnalysisFftReordered(re.data(), im.data(), n);
    SplitMagnitudes(re.data(), im.data(), n, a.data(), b.data());
    fold(a, chroma[k]);
    if (k + 1 < eighths) fold(b, chroma[k + 1]);
  }
  // Each change weighs by the quieter eighth's level: between a click's ringing tail and the
  // dither before the next one the classes differ wholly, yet nothing was played.
  auto level = [](const Chroma& c) {
    double sum = 0.0;
    for (double v : c) sum += v;
    return std::sqrt(sum);
  };
  double change[2] = {}, weight = 0.0;
  for (size_t k = 1; k < eighths; ++k) {
    const double w = std::min(level(chroma[k - 1]), level(chroma[k]));
    change[k % 2] += w * CosineDistance(chroma[k - 1], chroma[k]);
    weight += w;
  }
  // A held tone's classes still wobble a little from eighth to eighth: that is no change at all.
  const double scale = std::max(change[0] + change[1], kLeastChange * weight);
  return scale > 0.0 ? (change[0] - change[1]) / scale : 0.0;
}
