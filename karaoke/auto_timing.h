#pragma once
// Automatic lyric timing: words without timing get guessed line starts. The sung stretches are
// found in the vocal stem (or, without one, the body of the track is taken), the sung time is
// shared out among the lines by their length, and line starts snap to the starts of sung phrases.
// The result is marked Estimated. UI thread, one synchronous pass.
#include <cstdint>
#include <string>
#include <vector>

#include "base/track.h"
#include "engine/stems.h"
#include "karaoke/lyrics.h"

// The vocal stem is judged in windows of this length.
inline constexpr double kVoiceWindowSeconds = 0.05;
// A window is voiced above max(kMinVoiceEnergy, kVoiceLevelShare x the 95th-percentile energy).
inline constexpr float kMinVoiceEnergy = 0.004f;
inline constexpr float kVoiceLevelShare = 0.2f;
inline constexpr int32_t kVoiceLevelPercentile = 95;
// A pause shorter than this inside a phrase is bridged; a phrase shorter than the other is dropped.
inline constexpr double kVoiceBridgeSeconds = 0.4;
inline constexpr double kMinPhraseSeconds = 0.3;

// One sung stretch, in seconds from the track's start.
struct VoicedSegment {
  double start = 0.0;
  double end = 0.0;
};

// The sung phrases of the vocal stem at `sampleRate`: empty when the stem is unusable (no frames,
// fewer samples than 2 x frames, shorter than one window, no usable rate) or nothing is voiced.
std::vector<VoicedSegment> FindVoicedSegments(const StemData& stems, int32_t sampleRate);

// Re-times Plain or Estimated lyrics in place from the vocal stem `stems` (may be null) and the
// track; Synced and other kinds are left alone. Afterwards every line has a start at least 0.3 s
// after the one before, no words, and the kind is Estimated.
void AutoTimeLyrics(Lyrics* lyrics, const StemData* stems, const Track& track);

// What fitting a deck's lyrics did.
struct LyricsFit {
  bool fitted = false;     // the lyrics were re-timed
  bool withStems = false;  // from the deck's vocal stem
  bool saved = false;      // and written to the track's existing cache file
};
// The body of fitting a deck's lyrics to its vocals: takes deck 0..3's track and stems under the
// engine lock, and when the track's path equals `lyricsPath` re-times *lyrics (AutoTimeLyrics).
// With stems, an existing cache file and outside test mode the result is saved over the cache
// (a guess is never the first thing written there). UI thread.
LyricsFit FitDeckLyrics(int deck, const std::wstring& lyricsPath, Lyrics* lyrics);
