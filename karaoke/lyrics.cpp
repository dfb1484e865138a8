#include "karaoke/lyrics.h"

#include <algorithm>

namespace {

constexpr double kNoNextLineSeconds = 1e9;     // the "next start" of the last line
constexpr double kGapBeforeNextSeconds = 0.1;  // a line ends this long before the next starts
constexpr double kMinLineSeconds = 0.3;        // and never sooner than this after its own start
// A line without words lasts max(kPlainMinSeconds, kPlainBaseSeconds + kPlainPerChar x length).
constexpr double kPlainMinSeconds = 1.2;
constexpr double kPlainBaseSeconds = 0.8;
constexpr double kPlainPerCharSeconds = 0.07;
// The last word of a word-timed line lasts max(kLastWordMin, kLastWordBase + kLastWordPerChar x count).
constexpr double kLastWordMinSeconds = 0.35;
constexpr double kLastWordBaseSeconds = 0.15;
constexpr double kLastWordPerCharSeconds = 0.09;
// The wipe crosses a word in at most kWipeBase + kWipePerChar x count, and at least kWipeMin.
constexpr double kWipeBaseSeconds = 0.35;
constexpr double kWipePerCharSeconds = 0.1;
constexpr double kWipeMinSeconds = 0.05;
constexpr double kMinPlainWipeSeconds = 0.1;
constexpr double kTapSpacingSeconds = 0.3;  // later lines keep at least this after a tapped one

bool InRange(const Lyrics& lyrics, int32_t i) {
  return i >= 0 && static_cast<size_t>(i) < lyrics.lines.size();
}

}  // namespace

const char* LyricsKindName(LyricsKind kind) {
  for (const LyricsKindRow& row : kLyricsKinds)
    if (row.kind == kind) return row.name;
  return "Unknown";
}

bool IsTimedLyrics(LyricsKind kind) {
  for (const LyricsKindRow& row : kLyricsKinds)
    if (row.kind == kind) return row.timed;
  return false;
}

int32_t LyricsLineAt(const Lyrics& lyrics, double t) {
  const double local = t - lyrics.offset;
  int32_t found = -1;
  for (size_t i = 0; i < lyrics.lines.size(); ++i) {
    if (lyrics.lines[i].start > local) break;
    found = static_cast<int32_t>(i);
  }
  return found;
}

double LyricsLineStart(const Lyrics& lyrics, int32_t i) {
  return InRange(lyrics, i) ? lyrics.lines[static_cast<size_t>(i)].start + lyrics.offset : 0.0;
}

double LyricsLineEnd(const Lyrics& lyrics, int32_t i) {
  return InRange(lyrics, i) ? LyricsLineEndRaw(lyrics, i) + lyrics.offset : 0.0;
}

double LyricsLineEndRaw(const Lyrics& lyrics, int32_t i) {
  if (!InRange(lyrics, i)) return 0.0;
  const size_t index = static_cast<size_t>(i);
  const LyricLine& line = lyrics.lines[index];
  const double next = index + 1 < lyrics.lines.size() ? lyrics.lines[index + 1].start : kNoNextLineSeconds;
  double estimate;
  if (line.words.empty()) {
    estimate = line.start + std::max(kPlainMinSeconds,
                                     kPlainBaseSeconds + kPlainPerCharSeconds * static_cast<double>(line.text.size()));
  } else {
    const LyricWord& last = line.words.back();
    estimate = last.start + std::max(kLastWordMinSeconds, kLastWordBaseSeconds + kLastWordPerCharSeconds * last.count);
  }
  return std::max(std::min(estimate, next - kGapBeforeNextSeconds), line.start + kMinLineSeconds);
}

double LyricsSungChars(const Lyrics& lyrics, int32_t i, double t) {
  if (!InRange(lyrics, i)) return 0.0;
  const LyricLine& line = lyrics.lines[static_cast<size_t>(i)];
  const double local = t - lyrics.offset;
  if (!(local > line.start)) return 0.0;
  if (line.words.empty()) {
    const double end = LyricsLineEndRaw(lyrics, i);
    const double fraction = std::clamp((local - line.start) / std::max(end - line.start, kMinPlainWipeSeconds), 0.0, 1.0);
    return static_cast<double>(line.text.size()) * fraction;
  }
  size_t current = line.words.size();  // none yet
  for (size_t w = 0; w < line.words.size(); ++w) {
    if (line.words[w].start > local) break;
    current = w;
  }
  if (current == line.words.size()) return 0.0;
  const LyricWord& word = line.words[current];
  const double spanEnd = current + 1 < line.words.size() ? line.words[current + 1].start : LyricsLineEndRaw(lyrics, i);
  const double duration = std::max(std::min(spanEnd - word.start, kWipeBaseSeconds + kWipePerCharSeconds * word.count),
                                   kWipeMinSeconds);
  const double fraction = std::clamp((local - word.start) / duration, 0.0, 1.0);
  return word.offset + word.count * fraction;
}

void TapLyricLine(Lyrics* lyrics, int32_t i, double trackSeconds) {
  if (!InRange(*lyrics, i)) return;
  std::vector<LyricLine>& lines = lyrics->lines;
  size_t index = static_cast<size_t>(i);
  // A large positive offset would put the line before the track starts.
  lines[index].start = std::max(0.0, trackSeconds - lyrics->offset);
  for (++index; index < lines.size(); ++index)
    lines[index].start = std::max(lines[index - 1].start + kTapSpacingSeconds, lines[index].start);
}
