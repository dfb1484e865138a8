#include "karaoke/deck_lyrics.h"

#include <cmath>
#include <system_error>
#include <thread>
#include <utility>

#include "base/log.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "engine/deck_view.h"
#include "karaoke/auto_timing.h"
#include "karaoke/karaoke_show.h"
#include "karaoke/lrc.h"
#include "karaoke/lyrics_online.h"
#include "karaoke/lyrics_sources.h"
#include "platform/ui_post.h"

DeckLyrics DeckLyricsState[kEngineDecks];

namespace {

uint32_t RequestCounter = 0;
constexpr double kTenths = 10.0;

}  // namespace

bool LyricsBelongTo(const DeckLyrics& record, const std::wstring& path) { return record.lyrics && record.path == path; }

bool LyricsWaitForFit(const DeckLyrics& record) {
  return record.lyrics && record.lyrics->kind == LyricsKind::Estimated && !record.fittedWithStems &&
         !record.stemFitTried;
}

void ClearDeckLyrics(int deck) {
  if (ValidDeck(deck)) DeckLyricsState[deck] = DeckLyrics{};
}

void FetchLyrics(int deck, bool online) {
  if (!ValidDeck(deck)) return;
  const TrackPtr track = ReadShowDeck(deck).track;
  if (!track) return;
  DeckLyrics& record = DeckLyricsState[deck];
  if (record.path != track->path) {
    record = DeckLyrics{};
    record.path = track->path;
  }
  record.serial = ++RequestCounter;
  record.busy = true;
  record.online = online;
  if (online) record.onlineTried = true;
  record.status = UiText();
  auto* request = new LyricsRequest{deck, record.serial, track->path, track->artist, track->title, 0.0, online};
  if (track->sampleRate > 0) request->duration = static_cast<double>(track->frames) / track->sampleRate;
  try {
    std::thread(LyricsWorker, request).detach();
  } catch (const std::system_error& e) {
    WriteLog(L"Lyrics: couldn't start a lookup thread ({})", e.code().value());
    delete request;
    record.busy = false;
    record.status = L"Couldn't look for the words — the system is out of threads.";
    ShowStatus(record.status);
  }
}

void LyricsWorker(LyricsRequest* request) {
  auto* reply = new LyricsReply{request->deck, request->serial, request->path, UiText(), Lyrics(), request->online};
  if (request->online)
    reply->lyrics = LookUpLrclib(request->artist, request->title, request->duration, &reply->message);
  else
    reply->lyrics = FindLyrics(request->path);
  if (!PostToUi(kLyricsReadyPost, 0, reply)) delete reply;
  delete request;
}

void OnLyricsReady(LyricsReply* reply) {
  if (!reply) return;
  const int deck = reply->deck;
  if (!ValidDeck(deck) || reply->serial != DeckLyricsState[deck].serial || reply->path != DeckLyricsState[deck].path) {
    delete reply;
    return;
  }
  DeckLyrics& record = DeckLyricsState[deck];
  record.busy = false;
  if (reply->lyrics.kind != LyricsKind::None) {
    // The kind is read before the fit, which turns Plain words into guessed timing: a guess is
    // never cached as the track's words.
    const bool plain = reply->lyrics.kind == LyricsKind::Plain;
    record.lyrics = std::make_shared<Lyrics>(std::move(reply->lyrics));
    record.fittedWithStems = record.stemFitTried = false;
    if (plain) FitLyricsToVocals(deck);
    if (reply->online) {
      ShowStatus(plain ? L"Words found at LRCLIB — no timing, so it's guessed from the vocals"
                       : L"Timed words found at LRCLIB");
      if (!plain && !TestMode) SaveLyricsOrSay(record.path, *record.lyrics);
    }
  } else if (!reply->online) {
    record.status = L"No words found for this track";
    if (Settings.KaraokeOnline && !record.onlineTried && !TestMode) FetchLyrics(deck, true);
  } else {
    record.status = reply->message;
    ShowStatus(reply->message);
  }
  delete reply;
}

void NudgeLyrics(int deck, double seconds) {
  if (!ValidDeck(deck)) return;
  DeckLyrics& record = DeckLyricsState[deck];
  if (!record.lyrics || record.lyrics->lines.empty()) return;
  record.lyrics->offset = std::round((record.lyrics->offset + seconds) * kTenths) / kTenths;
  if (!TestMode) SaveLyricsOrSay(record.path, *record.lyrics);
}

void FitLyricsToVocals(int deck) {
  if (!ValidDeck(deck)) return;
  DeckLyrics& record = DeckLyricsState[deck];
  if (!record.lyrics) return;
  if (LiveDeckViews[deck].stemsReady) record.stemFitTried = true;
  const LyricsFit fit = FitDeckLyrics(deck, record.path, record.lyrics.get());
  if (!fit.fitted) return;
  record.fittedWithStems = fit.withStems;
}
