#pragma once
// Each deck's lyrics: looked up on a worker per request (local sources, then the online service
// when allowed), applied on the UI thread when the reply is still the latest, timed from the
// vocals when they carry no timing, nudged earlier or later, and saved to the lyrics cache.
// UI thread unless said otherwise.
#include <cstdint>
#include <memory>
#include <string>

#include "base/track.h"
#include "base/ui_text.h"
#include "karaoke/lyrics.h"

// The completion number of a lyrics lookup.
inline constexpr int kLyricsReadyPost = 15;
inline constexpr double kNudgeStepSeconds = 0.1;

struct DeckLyrics {
  std::shared_ptr<Lyrics> lyrics;  // null when none
  std::wstring path;               // the track the record belongs to
  uint32_t serial = 0;             // the latest request's
  bool busy = false;
  bool online = false;             // the latest request asked the online service
  bool onlineTried = false;        // an online request was made for this track
  bool fittedWithStems = false;    // timed automatically from the vocal stem
  // A fit ran while the stems were ready: a stem too short or silent falls back, and is not
  // tried again every frame.
  bool stemFitTried = false;
  UiText status;                   // the last lookup's outcome
};
extern DeckLyrics DeckLyricsState[kEngineDecks];

// Handed to the worker, which frees it.
struct LyricsRequest {
  int32_t deck = 0;
  uint32_t serial = 0;
  std::wstring path, artist, title;
  double duration = 0.0;  // seconds
  bool online = false;
};
// Handed to the UI thread with kLyricsReadyPost; OnLyricsReady frees it.
struct LyricsReply {
  int32_t deck = 0;
  uint32_t serial = 0;
  std::wstring path;
  UiText message;
  Lyrics lyrics;
  bool online = false;
};

// Starts a lookup for the deck's track on a new worker; a record of another track is cleared
// first. A worker that cannot start leaves the record not busy and says so.
void FetchLyrics(int deck, bool online);
// The worker body: looks up, posts the reply (freeing it when the post is refused), frees the
// request. Any thread but the UI's.
void LyricsWorker(LyricsRequest* request);
// The completion: applies the latest reply, times Plain lyrics at once, caches timed online words,
// follows a local miss with one online lookup when allowed. Frees the reply.
void OnLyricsReady(LyricsReply* reply);
// Moves the deck's lyrics later (positive) or earlier, in whole tenths; saved to the cache.
void NudgeLyrics(int deck, double seconds);
// Times the deck's lyrics from its vocal stem (or the track's body without stems).
void FitLyricsToVocals(int deck);
// The lyrics wait for a fit to the vocals: guessed, and not yet timed from the stems.
bool LyricsWaitForFit(const DeckLyrics& record);
// Forgets the deck's lyrics (no lyrics, no path, flags zero).
void ClearDeckLyrics(int deck);
// The record holds lyrics for exactly this track path.
bool LyricsBelongTo(const DeckLyrics& record, const std::wstring& path);
