#include "karaoke/auto_timing.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "base/test_mode.h"
#include "engine/engine.h"
#include "karaoke/lrc.h"
#include "platform/folders.h"

namespace {

constexpr float kStereoToMonoScale = 1.0f / 65536.0f;  // (L + R) of two 16-bit samples to -1..1
constexpr int32_t kPercentDivisor = 100;
// Without a vocal stem the words are spread from the first sound to this share of the track,
// and over at least this long.
constexpr double kBodyShareOfTrack = 0.9;
constexpr double kMinBodySeconds = 1.0;
constexpr double kNoPreviousStart = -1.0;
constexpr double kLineSpacingSeconds = 0.3;  // a line starts at least this long after the one before
constexpr double kSnapSeconds = 1.5;         // a phrase start nearer than this pulls the line to it
constexpr double kLineWeightExtra = 10.0;    // a line weighs its length plus this

// The RMS of the mono mix of `window` frames from `first`.
float WindowEnergy(const int16_t* vocals, uint64_t first, uint64_t window) {
  double sum = 0.0;
  for (uint64_t f = first; f < first + window; ++f) {
    const float mono = static_cast<float>(vocals[2 * f] + vocals[2 * f + 1]) * kStereoToMonoScale;
    sum += static_cast<double>(mono) * mono;
  }
  return static_cast<float>(std::sqrt(sum / static_cast<double>(window)));
}

double RunSeconds(size_t windows) { return static_cast<double>(windows) * kVoiceWindowSeconds; }

// Where the line sits in the sung time: `target` seconds into the segments laid end to end; the
// end of the last segment when the target lies beyond them all.
double PlaceInSegments(const std::vector<VoicedSegment>& segments, double target) {
  for (const VoicedSegment& s : segments) {
    const double length = s.end - s.start;
    if (target < length) return s.start + target;
    target -= length;
  }
  return segments.back().end;
}

}  // namespace

std::vector<VoicedSegment> FindVoicedSegments(const StemData& stems, int32_t sampleRate) {
  if (sampleRate <= 0 || stems.frames == 0 || stems.vocals.size() / 2 < stems.frames) return {};
  const uint64_t window = std::max<uint64_t>(1, static_cast<uint64_t>(sampleRate * kVoiceWindowSeconds));
  const size_t windows = static_cast<size_t>(stems.frames / window);
  if (windows == 0) return {};  // shorter than one window: nothing can be judged

  std::vector<float> energy(windows);
  for (size_t w = 0; w < windows; ++w) energy[w] = WindowEnergy(stems.vocals.data(), w * window, window);
  std::vector<float> sorted = energy;
  const size_t levelIndex = windows * kVoiceLevelPercentile / kPercentDivisor;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<ptrdiff_t>(levelIndex), sorted.end());
  const float threshold = std::max(kMinVoiceEnergy, kVoiceLevelShare * sorted[levelIndex]);

  std::vector<uint8_t> voiced(windows);
  for (size_t w = 0; w < windows; ++w) voiced[w] = energy[w] > threshold;
  // Short pauses between voiced windows belong to the phrase (a breath, a consonant).
  for (size_t a = 0; a < windows;) {
    if (voiced[a]) {
      ++a;
      continue;
    }
    size_t b = a;
    while (b < windows && !voiced[b]) ++b;
    if (a > 0 && b < windows && RunSeconds(b - a) < kVoiceBridgeSeconds)
      std::fill(voiced.begin() + static_cast<ptrdiff_t>(a), voiced.begin() + static_cast<ptrdiff_t>(b), 1);
    a = b;
  }
  std::vector<VoicedSegment> segments;
  for (size_t a = 0; a < windows;) {
    if (!voiced[a]) {
      ++a;
      continue;
    }
    size_t b = a;
    while (b < windows && voiced[b]) ++b;
    if (RunSeconds(b - a) >= kMinPhraseSeconds) segments.push_back({RunSeconds(a), RunSeconds(b)});
    a = b;
  }
  return segments;
}

void AutoTimeLyrics(Lyrics* lyrics, const StemData* stems, const Track& track) {
  if (lyrics->lines.empty() || (lyrics->kind != LyricsKind::Estimated && lyrics->kind != LyricsKind::Plain)) return;
  std::vector<VoicedSegment> segments;
  if (stems) segments = FindVoicedSegments(*stems, track.sampleRate);
  if (segments.empty()) {
    const double duration = track.sampleRate > 0 ? static_cast<double>(track.frames) / track.sampleRate : 0.0;
    const double firstSound = std::isfinite(track.firstSound) ? track.firstSound : 0.0;
    segments.push_back(
        {std::max(firstSound, 0.0), std::max(kBodyShareOfTrack * duration, firstSound + kMinBodySeconds)});
  }

  double sung = 0.0;  // V: seconds of singing
  for (const VoicedSegment& s : segments) sung += s.end - s.start;
  double totalWeight = 0.0;  // W
  for (const LyricLine& line : lyrics->lines) totalWeight += static_cast<double>(line.text.size()) + kLineWeightExtra;

  std::vector<uint8_t> used(segments.size());
  double weight = 0.0;
  double previous = kNoPreviousStart;
  for (LyricLine& line : lyrics->lines) {
    double t = PlaceInSegments(segments, weight * sung / totalWeight);
    size_t nearest = segments.size();
    for (size_t i = 0; i < segments.size(); ++i) {
      const double distance = std::fabs(segments[i].start - t);
      if (used[i] || distance >= kSnapSeconds) continue;
      if (nearest == segments.size() || distance < std::fabs(segments[nearest].start - t)) nearest = i;
    }
    if (nearest < segments.size() && segments[nearest].start > previous + kLineSpacingSeconds) {
      used[nearest] = 1;
      t = segments[nearest].start;
    }
    line.start = std::max(previous + kLineSpacingSeconds, t);
    previous = line.start;
    line.words.clear();
    weight += static_cast<double>(line.text.size()) + kLineWeightExtra;
  }
  lyrics->kind = LyricsKind::Estimated;
}

LyricsFit FitDeckLyrics(int deck, const std::wstring& lyricsPath, Lyrics* lyrics) {
  LyricsFit fit;
  if (deck < 0 || deck >= kEngineDecks || !lyrics) return fit;
  TrackPtr track;
  StemDataPtr stems;
  {
    std::lock_guard<RealtimeMutex> hold(Engine.lock);
    track = Engine.decks[deck].track;
    stems = Engine.decks[deck].stems;
  }
  if (!track || track->path != lyricsPath) return fit;
  // Stems made from another track (or before its length changed) say nothing about this one.
  const bool stemsMatch = stems && stems->track == track.get() && stems->frames == track->frames;
  AutoTimeLyrics(lyrics, stemsMatch ? stems.get() : nullptr, *track);
  fit.fitted = true;
  fit.withStems = stemsMatch;
  if (stemsMatch && !TestMode && FileExists(LyricsCachePath(track->path))) fit.saved = SaveLyrics(track->path, *lyrics);
  return fit;
}
