#pragma once
// One track's words, whatever their source (LRC file, lyrics cache, tags, online service, tap
// sync, automatic timing), and the timing queries every reader of lyrics uses: which line plays
// at a time, when a line starts and ends, how much of it is sung (the colour wipe).
// Characters are the units of the line's wide text. UI thread only; a worker builds a new object
// and hands it over whole.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class LyricsKind : uint32_t {
  None = 0,          // nothing found; lines empty
  Synced = 1,        // lines carry real start times
  Estimated = 2,     // start times were guessed (automatic timing, unfinished tap sync, marked LRC)
  Plain = 3,         // words without timing; every line starts at 0.0
  CdgGraphics = 4,   // the words are CD+G graphics in `cdg`; lines empty
  KaraokeVideo = 5,  // the words are in the track's own video picture; lines empty
};

// What each kind is: its name as the tool prints it, and whether its lines carry times.
struct LyricsKindRow {
  LyricsKind kind;
  const char* name;
  bool timed;
};
inline constexpr LyricsKindRow kLyricsKinds[] = {
    {.kind = LyricsKind::None, .name = "None", .timed = false},
    {.kind = LyricsKind::Synced, .name = "Synced", .timed = true},
    {.kind = LyricsKind::Estimated, .name = "Estimated", .timed = true},
    {.kind = LyricsKind::Plain, .name = "Plain", .timed = false},
    {.kind = LyricsKind::CdgGraphics, .name = "CdgGraphics", .timed = false},
    {.kind = LyricsKind::KaraokeVideo, .name = "KaraokeVideo", .timed = false},
};
const char* LyricsKindName(LyricsKind kind);
// Synced or Estimated: the kinds the lyrics cache holds.
bool IsTimedLyrics(LyricsKind kind);

// Limits on what any source may put into one Lyrics object; text beyond them is refused whole
// by the parsers, so hostile input cannot exhaust memory.
inline constexpr size_t kMaxLyricLines = 10000;
inline constexpr size_t kMaxLyricLineChars = 4096;
inline constexpr size_t kMaxLyricsChars = size_t(1) << 20;  // all lines' text together
// A time beyond this (24 h) is no time.
inline constexpr double kMaxLyricSeconds = 86400.0;

struct LyricWord {
  double start = 0.0;  // seconds, before the offset
  int32_t offset = 0;  // first character of the word in the line's text
  int32_t count = 0;   // characters of the word (usually with the spaces after it)
};

struct LyricLine {
  double start = 0.0;  // seconds from the track's start, before the offset; never negative
  std::wstring text;   // may be empty: an empty timed line marks a gap
  std::vector<LyricWord> words;  // empty without per-word timing; ordered by start
};

struct Lyrics {
  LyricsKind kind = LyricsKind::None;
  std::vector<LyricLine> lines;  // ordered by start; equal starts keep their source order
  std::shared_ptr<const std::vector<uint8_t>> cdg;  // the whole ".cdg" file, kind CdgGraphics only
  std::wstring source;  // where the words came from, shown to the user
  double offset = 0.0;  // seconds added to every line and word time when queried (nudging)
};
using LyricsPtr = std::shared_ptr<Lyrics>;

// --- Timing queries (t is the deck's playback position in seconds) ---
// The line playing at t: the last line whose start (plus offset) is not after t; -1 when there are
// no lines or the first starts after t.
int32_t LyricsLineAt(const Lyrics& lyrics, double t);
// Line i's start plus the offset; 0.0 when i is out of range.
double LyricsLineStart(const Lyrics& lyrics, int32_t i);
// Line i's end plus the offset; 0.0 when i is out of range.
double LyricsLineEnd(const Lyrics& lyrics, int32_t i);
// Line i's end before the offset: its estimated length (from its text, or its last word), cut 0.1 s
// before the next line, never less than 0.3 s after its start. i must be in range.
double LyricsLineEndRaw(const Lyrics& lyrics, int32_t i);
// Characters of line i sung at t, fractional, for the colour wipe; 0.0 when i is out of range or
// the line (or its first word) has not started.
double LyricsSungChars(const Lyrics& lyrics, int32_t i, double t);

// --- Changing times ---
// Tap sync: line i starts at the track position `trackSeconds` less the offset (never before 0),
// and every later line moves to at least 0.3 s after the line before it. Nothing when i is out
// of range.
void TapLyricLine(Lyrics* lyrics, int32_t i, double trackSeconds);
