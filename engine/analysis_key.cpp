// The key step: the loudest spectral peaks of up to 300 windows spread over the track, a tuning
// measured from them, a pitch-class profile per window with the bass's and pads' upper partials
// folded back to their fundamentals and peaks weighed by how near they lie to a note, each window
// normalised, and the sum correlated with a weighted blend of three families of key profiles.
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "engine/analysis_key.h"

#include "base/musical_keys.h"
#include "engine/analysis.h"

namespace {

constexpr size_t kKeyFftSize = 4096;
constexpr size_t kKeyBinCount = kKeyFftSize / 2;
constexpr uint64_t kKeyMinSamples = 16384;  // decimated samples; about 1.5 s
constexpr uint64_t kKeyMaxWindows = 300;
constexpr double kKeyLowHz = 55.0;
constexpr double kKeyHighHz = 2100.0;
constexpr double kConcertAHz = 440.0;
constexpr double kNoScore = -1.0;  // correlation of a flat chroma
constexpr double kStartingBestScore = -2.0;
// Tonal content: a bin counts as part of a spectral peak when it stands this far above the
// median of its neighbourhood (a Hann main lobe is 4 bins wide, so 17 bins see its shoulders).
// Noise of any colour puts almost nothing in peaks; a chord puts nearly everything there.
constexpr int32_t kBackgroundHalfWidthBins = 8;
constexpr double kPeakOverBackground = 2.0;
constexpr double kMinTonalShare = 0.02;  // of the key band's summed magnitude
// Peaks: local maxima above this share of their window's loudest bin; windows whose summed peaks
// are under this share of the loudest window's are too quiet to count. Both are relative, so the
// key does not depend on the level.
constexpr float kPeakFloor = 1e-3f;
constexpr float kQuietWindow = 1e-2f;
// Only a window's loudest peaks count: the rest are mostly sidelobes, reverb tails and the
// partials of noise, which spread weight over every class and blur the scale.
constexpr size_t kMaxPeaksPerWindow = 80;
// Peaks are weighed by this power of their magnitude: quiet chord tones still count beside a
// loud bass, without lifting every weak partial to the level of its note.
constexpr double kMagnitudePower = 0.4;
constexpr double kTuningLowHz = 150.0;        // lower peaks are too coarse in frequency to tune by
constexpr double kHarmonicTolerance = 0.35;   // semitones between a peak and a harmonic's place
constexpr double kBassHighSemitones = -12.0;  // below A3 (220 Hz): the bass's notes
constexpr double kBassTonicWeight = 1.0;      // of the bass's share of the chroma
// A peak weighs cos^2(pi d / w), d its distance in semitones from the tuned note and w this
// window: on the note it counts fully, half-way between two notes (a slide, a stretched or
// inharmonic partial) half as much.
constexpr double kNoteWindowSemitones = 2.0;

using Profile = std::array<double, 12>;
// Krumhansl-Kessler probe-tone profiles, from the tonic up: alone they lean to the fifth above
// and to the relative key on real pieces.
constexpr Profile kKrumhanslMajor = {6.35, 2.23, 3.48, 2.33, 4.38, 4.09, 2.52, 5.19, 2.39, 3.66, 2.29, 2.88};
constexpr Profile kKrumhanslMinor = {6.33, 2.68, 3.52, 5.38, 2.60, 3.53, 2.54, 4.75, 3.98, 2.69, 3.34, 3.17};
// Sha'ath's profiles, Krumhansl's retuned on recorded music: a stronger tonic, and in minor a
// stronger minor seventh, which holds minor pieces that borrow their relative major's chords.
constexpr Profile kShaathMajor = {6.6, 2.0, 3.5, 2.3, 4.6, 4.0, 2.5, 5.2, 2.4, 3.7, 2.3, 3.4};
constexpr Profile kShaathMinor = {6.5, 2.7, 3.5, 5.4, 2.6, 3.5, 2.5, 5.2, 4.0, 2.7, 4.3, 3.2};
// Aarden's profiles, counted by duration from the notes of a large corpus of folk melodies: next
// to no weight off the scale, so pieces that pass through other keys pull less towards the fifth
// above. Alone they lean to the fifth below and read minor chord progressions as their relative
// major, so they weigh a quarter of the others in the blend.
constexpr Profile kAardenMajor = {17.77, 0.15, 14.93, 0.16, 19.80, 11.36, 0.29, 22.06, 0.15, 8.15, 0.23, 4.95};
constexpr Profile kAardenMinor = {18.26, 0.74, 14.05, 16.86, 0.70, 14.44, 0.70, 18.62, 4.57, 1.93, 7.38, 1.76};
// The families' weights in the blend: Krumhansl's, Sha'ath's, Aarden's.
constexpr std::array<double, 3> kProfileWeights = {1.0, 1.0, 0.25};
// The summed chroma is compressed by this power before it is correlated: a few loud, long notes
// (a held bass, a drone) then outweigh the scale less.
constexpr double kChromaPower = 0.75;

// Profiles blended by weight: each centred and scaled to unit length, then summed (the
// correlation does not see a profile's offset or scale, so the weighted sum is all that matters).
Profile BlendProfiles(const std::array<const Profile*, 3>& profiles) {
  Profile sum{};
  for (size_t k = 0; k < profiles.size(); ++k) {
    const Profile& p = *profiles[k];
    double mean = 0.0, norm = 0.0;
    for (double v : p) mean += v / 12.0;
    for (double v : p) norm += (v - mean) * (v - mean);
    for (int32_t i = 0; i < 12; ++i) sum[i] += kProfileWeights[k] * (p[i] - mean) / std::sqrt(norm);
  }
  return sum;
}

// Pearson correlation of chroma rotated to `tonic` with a profile; -1 for a flat chroma.
double CorrelateKey(const std::array<double, 12>& chroma, int32_t tonic, const Profile& profile) {
  double mean_c = 0.0, mean_p = 0.0;
  for (int32_t i = 0; i < 12; ++i) {
    mean_c += chroma[(tonic + i) % 12];
    mean_p += profile[i];
  }
  mean_c /= 12.0;
  mean_p /= 12.0;
  double cov = 0.0, var_c = 0.0, var_p = 0.0;
  for (int32_t i = 0; i < 12; ++i) {
    const double dc = chroma[(tonic + i) % 12] - mean_c;
    const double dp = profile[i] - mean_p;
    cov += dc * dp;
    var_c += dc * dc;
    var_p += dp * dp;
  }
  const double denominator = std::sqrt(var_c * var_p);
  if (!(denominator > 0.0) || !std::isfinite(denominator)) return kNoScore;
  return cov / denominator;
}

// Share of the key band's summed magnitude that lies in spectral peaks (see kPeakOverBackground).
double TonalShare(const std::vector<double>& spectrum, size_t lowBin, size_t highBin) {
  double total = 0.0, in_peaks = 0.0;
  std::array<double, 2 * kBackgroundHalfWidthBins + 1> neighbourhood;
  const int32_t last = static_cast<int32_t>(kKeyBinCount) - 1;
  for (int32_t bin = static_cast<int32_t>(lowBin); bin <= static_cast<int32_t>(highBin); ++bin) {
    const int32_t from = std::max(1, bin - kBackgroundHalfWidthBins);
    const int32_t to = std::min(last, bin + kBackgroundHalfWidthBins);
    size_t count = 0;
    for (int32_t k = from; k <= to; ++k) neighbourhood[count++] = spectrum[k];
    auto middle = neighbourhood.begin() + count / 2;
    std::nth_element(neighbourhood.begin(), middle, neighbourhood.begin() + count);
    total += spectrum[bin];
    if (spectrum[bin] > kPeakOverBackground * *middle) in_peaks += spectrum[bin];
  }
  return total > 0.0 ? in_peaks / total : 0.0;
}

// A spectral peak: its pitch in semitones above A 440 (fractional) and its magnitude.
struct Peak {
  float semitones;
  float magnitude;
};

// Upper partials that are not octaves of their fundamental, in semitones above it. A note's 3rd
// harmonic is its fifth and its 5th its third: left where they fall, they pull the key a fifth up
// and minor towards major.
struct Partial {
  int number;
  double semitones;
};
constexpr std::array<Partial, 5> kFoldedPartials = {{{3, 19.02}, {5, 27.86}, {6, 31.02}, {7, 33.69}, {9, 38.04}}};

}  // namespace

int32_t DetectKey(const Track& track) { return DetectKey(DecimateMix(track)); }

int32_t DetectKey(const DecimatedMix& mix) { return EstimateKey(mix).key; }

KeyEstimate EstimateKey(const DecimatedMix& mix) {
  const KeyEstimate none;
  if (!(mix.rate > 0.0)) return none;
  const double r = mix.rate;
  const uint64_t m = mix.samples.size();
  if (m < kKeyMinSamples) return none;

  const size_t low_bin = std::max<size_t>(2, static_cast<size_t>(std::ceil(kKeyLowHz * kKeyFftSize / r)));
  const size_t high_bin = std::min(kKeyBinCount - 2, static_cast<size_t>(kKeyHighHz * kKeyFftSize / r));
  if (low_bin >= high_bin) return none;
  std::vector<float> window(kKeyFftSize);
  for (size_t k = 0; k < kKeyFftSize; ++k)
    window[k] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * k / (kKeyFftSize - 1)));

  const uint64_t window_count = (m - kKeyFftSize) / kKeyFftSize;
  const uint64_t stride = std::max<uint64_t>(window_count / kKeyMaxWindows, 1);
  std::vector<float> re(kKeyFftSize), im(kKeyFftSize);
  std::vector<double> spectrum(kKeyBinCount, 0.0);  // summed magnitude per bin, for the tonal share
  std::vector<Peak> peaks;
  std::vector<size_t> window_start;  // each analysed window's first peak
  std::vector<float> window_level;   // each window's summed peak magnitude
  const double semitones_per_octave = 12.0;
  auto take_peaks = [&](const std::vector<float>& magnitude) {
    window_start.push_back(peaks.size());
    float loudest = 0.0f;
    for (size_t bin = low_bin; bin <= high_bin; ++bin) {
      spectrum[bin] += magnitude[bin];
      loudest = std::max(loudest, magnitude[bin]);
    }
    const float floor = static_cast<float>(loudest * kPeakFloor);
    float level = 0.0f;
    for (size_t bin = low_bin; bin <= high_bin; ++bin) {
      const float a = magnitude[bin - 1], b = magnitude[bin], c = magnitude[bin + 1];
      if (!(b > a && b >= c && b > floor)) continue;
      // Parabolic interpolation of the peak's position and height.
      const float curve = a - 2.0f * b + c;
      const float offset = curve < 0.0f ? 0.5f * (a - c) / curve : 0.0f;
      const double hz = (static_cast<double>(bin) + offset) * r / kKeyFftSize;
      const float height = b - 0.25f * (a - c) * offset;
      peaks.push_back({static_cast<float>(semitones_per_octave * std::log2(hz / kConcertAHz)), height});
    }
    const auto first = peaks.begin() + static_cast<ptrdiff_t>(window_start.back());
    if (peaks.end() - first > static_cast<ptrdiff_t>(kMaxPeaksPerWindow)) {
      const auto keep = first + kMaxPeaksPerWindow;
      std::nth_element(first, keep, peaks.end(), [](const Peak& x, const Peak& y) { return x.magnitude > y.magnitude; });
      peaks.erase(keep, peaks.end());
      // The harmonic fold walks each window's peaks from low to high.
      std::sort(first, peaks.end(), [](const Peak& x, const Peak& y) { return x.semitones < y.semitones; });
    }
    for (auto p = first; p != peaks.end(); ++p) level += p->magnitude;
    window_level.push_back(level);
  };
  std::vector<float> magnitudes[2] = {std::vector<float>(kKeyBinCount + 3), std::vector<float>(kKeyBinCount + 3)};
  auto fill = [&](uint64_t w, float* out) {
    FillReversed(mix.samples.data() + w * kKeyFftSize, window.data(), kKeyFftSize, out);
  };
  // Two windows per complex FFT: one in the real part, the next in the imaginary part.
  for (uint64_t w = 0; w < window_count; w += 2 * stride) {
    const bool second = w + stride < window_count;
    fill(w, re.data());
    if (second) fill(w + stride, im.data());
    else std::fill(im.begin(), im.end(), 0.0f);
    AnalysisFftReordered(re.data(), im.data(), kKeyFftSize);
    SplitMagnitudes(re.data(), im.data(), kKeyFftSize, magnitudes[0].data(), magnitudes[1].data());
    take_peaks(magnitudes[0]);
    if (second) take_peaks(magnitudes[1]);
  }
  window_start.push_back(peaks.size());
  for (const Peak& p : peaks)
    if (!std::isfinite(p.semitones) || !std::isfinite(p.magnitude)) return none;
  // Silence and noise have no key; the profiles would still name one.
  if (TonalShare(spectrum, low_bin, high_bin) < kMinTonalShare) return none;

  // Tuning: the mean offset of the peaks from the equal-tempered grid, as an angle so that offsets
  // near half a semitone do not cancel. Low peaks are too coarse in frequency to count.
  const size_t windows = window_level.size();
  const float loudest_window = *std::max_element(window_level.begin(), window_level.end());
  const double tune_low = semitones_per_octave * std::log2(kTuningLowHz / kConcertAHz);
  double tune_x = 0.0, tune_y = 0.0;
  for (size_t w = 0; w < windows; ++w) {
    if (!(window_level[w] > 0.0f)) continue;
    for (size_t i = window_start[w]; i < window_start[w + 1]; ++i) {
      if (peaks[i].semitones < tune_low) continue;
      const double angle = 2.0 * std::numbers::pi * peaks[i].semitones;
      const double weight = peaks[i].magnitude / window_level[w];
      tune_x += weight * std::cos(angle), tune_y += weight * std::sin(angle);
    }
  }
  const double tuning = std::atan2(tune_y, tune_x) / (2.0 * std::numbers::pi);  // semitones, -0.5..0.5

  // Pitch classes per window, each window normalised to its largest class so that loud and
  // quiet passages count alike.
  std::array<double, 12> chroma{}, bass{};
  std::vector<double> residual, on_note;
  std::vector<int32_t> class_of;
  std::vector<double> octave_ratio;  // each peak's octave over it, at most 1
  for (size_t w = 0; w < windows; ++w) {
    if (!(window_level[w] > kQuietWindow * loudest_window)) continue;
    const size_t from = window_start[w], to = window_start[w + 1];
    residual.assign(to - from, 0.0);
    on_note.assign(to - from, 0.0);
    class_of.assign(to - from, 0);
    for (size_t i = from; i < to; ++i) {
      const double tuned = peaks[i].semitones - tuning;
      const long note = std::lround(tuned);
      const double off_note = tuned - static_cast<double>(note);
      on_note[i - from] = std::pow(std::cos(std::numbers::pi * off_note / kNoteWindowSemitones), 2);
      residual[i - from] = on_note[i - from] * std::pow(peaks[i].magnitude / loudest_window, kMagnitudePower);
      class_of[i - from] = static_cast<int32_t>((((note + 9) % 12) + 12) % 12);  // C = 0
    }
    std::array<double, 12> frame{}, frame_bass{};
    // A peak where a lower peak's 3rd, 5th, 6th, 7th or 9th harmonic falls gives back that
    // harmonic's expected weight to the fundamental. The expectation follows the fundamental's
    // own octave: partials falling as r per octave give the h-th r^log2(h) of the fundamental, so
    // a sine's neighbours keep their weight and a sawtooth's partials go home.
    octave_ratio.assign(to - from, 0.0);
    for (size_t i = from; i < to; ++i)
      for (size_t j = i + 1; j < to; ++j) {
        const double interval = peaks[j].semitones - peaks[i].semitones;
        if (interval > 12.0 + kHarmonicTolerance) break;
        if (interval >= 12.0 - kHarmonicTolerance)
          octave_ratio[i - from] =
              std::max(octave_ratio[i - from], std::min(1.0, static_cast<double>(peaks[j].magnitude / peaks[i].magnitude)));
      }
    for (size_t j = from; j < to; ++j) {
      double& rest = residual[j - from];
      for (size_t i = from; i < j && rest > 0.0; ++i) {
        const double interval = peaks[j].semitones - peaks[i].semitones;
        for (const Partial& partial : kFoldedPartials) {
          if (std::fabs(interval - partial.semitones) > kHarmonicTolerance) continue;
          const double expected = std::pow(octave_ratio[i - from], std::log2(partial.number));
          const double share =
              std::min(rest, expected * on_note[i - from] * std::pow(peaks[i].magnitude / loudest_window, kMagnitudePower));
          rest -= share;
          frame[class_of[i - from]] += share;
          break;
        }
      }
      frame[class_of[j - from]] += rest;
      if (peaks[j].semitones < kBassHighSemitones) frame_bass[class_of[j - from]] += rest;
    }
    const double top = *std::max_element(frame.begin(), frame.end());
    if (!(top > 0.0)) continue;
    for (int32_t c = 0; c < 12; ++c) chroma[c] += frame[c] / top, bass[c] += frame_bass[c] / top;
  }
  double total = 0.0;
  for (double& c : chroma) total += c, c = std::pow(c, kChromaPower);

  static const Profile major = BlendProfiles({&kKrumhanslMajor, &kShaathMajor, &kAardenMajor});
  static const Profile minor = BlendProfiles({&kKrumhanslMinor, &kShaathMinor, &kAardenMinor});
  KeyEstimate estimate;
  double best = kStartingBestScore, second = kStartingBestScore;
  auto consider = [&](double score, double tonic_bass, int32_t key) {
    if (!(score > kNoScore)) return;
    const double total_score = score + tonic_bass;
    if (total_score > best) second = best, best = total_score, estimate.key = key;
    else if (total_score > second) second = total_score;
  };
  for (int32_t tonic = 0; tonic < 12; ++tonic) {
    const double tonic_bass = total > 0.0 ? kBassTonicWeight * bass[tonic] / total : 0.0;
    consider(CorrelateKey(chroma, tonic, major), tonic_bass, tonic);
    consider(CorrelateKey(chroma, tonic, minor), tonic_bass, tonic + 12);
  }
  if (estimate.key != kKeyUnknown && second > kStartingBestScore) estimate.margin = best - second;
  return estimate;
}
