#include "engine/phrases.h"

#include <algorithm>
#include <cmath>

#include "engine/analysis.h"

namespace {

constexpr double kSecondsPerMinute = 60.0;
constexpr double kPointsPerSecond = kWavePointsPerSecond;
constexpr double kMidWeight = 0.7;           // block energy = low + 0.7 mid + 0.3 high
constexpr double kHighWeight = 0.3;
constexpr double kMinBlocks = 3.0;
constexpr double kLoudBlock = 0.72;          // of the loudest block
constexpr double kJump = 0.16;               // energy change that makes a drop or a break

}  // namespace

const char* PhraseKindName(int32_t kind) {
  switch (kind) {
    case kPhraseIntro: return "INTRO";
    case kPhraseDrop: return "DROP";
    case kPhraseBreak: return "BREAK";
    default: return "OUTRO";
  }
}

std::vector<Phrase> AnalyzePhrases(const Track& track) {
  std::vector<Phrase> phrases;
  const size_t points = track.waveform.size();
  if (points == 0 || !(track.bpm > 0.0) || !std::isfinite(track.bpm) || track.sampleRate <= 0 ||
      !std::isfinite(track.firstBeat))
    return phrases;
  const double block_s = kSecondsPerMinute / track.bpm * kPhraseBeats;
  const double seconds = static_cast<double>(track.frames) / track.sampleRate;
  const double blocks = std::trunc((seconds - track.firstBeat) / block_s);
  // A block shorter than a waveform point measures nothing; such a grid is unusable.
  if (!(blocks >= kMinBlocks) || blocks > static_cast<double>(points)) return phrases;
  const size_t n = static_cast<size_t>(blocks);

  std::vector<double> energy(n, 0.0);
  double loudest = 0.0;
  for (size_t b = 0; b < n; ++b) {
    const double from = std::max((b * block_s + track.firstBeat) * kPointsPerSecond, 0.0);
    const double to = std::min(((b + 1) * block_s + track.firstBeat) * kPointsPerSecond,
                               static_cast<double>(points));
    const size_t first = static_cast<size_t>(from);
    const size_t end = to > 0.0 ? static_cast<size_t>(to) : 0;
    double sum = 0.0;
    for (size_t i = first; i < end; ++i) {
      const WavePoint& p = track.waveform[i];
      sum += p.low + kMidWeight * p.mid + kHighWeight * p.high;
    }
    energy[b] = end > first ? sum / static_cast<double>(end - first) : 0.0;
    loudest = std::max(loudest, energy[b]);
  }
  if (!(loudest > 0.0)) return phrases;
  for (double& e : energy) e /= loudest;

  if (energy[0] < kLoudBlock) phrases.push_back({0.0, kPhraseIntro});
  size_t outro = n;
  while (outro > n / 2 && energy[outro - 1] < kLoudBlock) --outro;
  for (size_t b = 1; b < std::min(n, outro); ++b) {
    const double d = energy[b] - energy[b - 1];
    const double beat = static_cast<double>(b * kPhraseBeats);
    if (d > kJump && energy[b] >= kLoudBlock) phrases.push_back({beat, kPhraseDrop});
    else if (d < -kJump && energy[b] < kLoudBlock) phrases.push_back({beat, kPhraseBreak});
  }
  if (outro < n) phrases.push_back({static_cast<double>(outro * kPhraseBeats), kPhraseOutro});
  return phrases;
}
