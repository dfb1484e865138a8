#include "karaoke/tap_sync.h"

#include "base/status_message.h"
#include "base/test_mode.h"
#include "engine/deck_view.h"
#include "karaoke/deck_lyrics.h"
#include "karaoke/karaoke_show.h"
#include "karaoke/lrc.h"

int32_t TapSyncIndex = kTapSyncOff;
int32_t TapSyncDeck = -1;

void StopTapSync() {
  TapSyncIndex = kTapSyncOff;
  TapSyncDeck = -1;
}

void StartTapSync(int deck) {
  if (!ValidDeck(deck) || !DeckLyricsState[deck].lyrics || DeckLyricsState[deck].lyrics->lines.empty()) {
    ShowStatus(L"There are no words to sync on that deck");
    return;
  }
  TapSyncDeck = deck;
  TapSyncIndex = 0;
  ShowStatus(L"Tap sync: play the song and press T as each line starts (Esc stops)", kTapSyncHintMs);
}

void TapSyncLine() {
  if (TapSyncIndex == kTapSyncOff || !ValidDeck(TapSyncDeck)) return;
  const ShowDeck shot = ReadShowDeck(TapSyncDeck);
  if (!shot.track || shot.track->sampleRate <= 0) return;
  DeckLyrics& record = DeckLyricsState[TapSyncDeck];
  if (!LyricsBelongTo(record, shot.track->path) || static_cast<size_t>(TapSyncIndex) >= record.lyrics->lines.size()) {
    StopTapSync();
    return;
  }
  Lyrics& lyrics = *record.lyrics;
  TapLyricLine(&lyrics, TapSyncIndex, shot.position / shot.track->sampleRate);
  lyrics.lines[static_cast<size_t>(TapSyncIndex)].words.clear();
  if (lyrics.kind == LyricsKind::Plain) lyrics.kind = LyricsKind::Estimated;
  ++TapSyncIndex;
  if (static_cast<size_t>(TapSyncIndex) < lyrics.lines.size()) return;
  lyrics.kind = LyricsKind::Synced;
  lyrics.source = kTapSyncedSource;
  StopTapSync();
  if (TestMode || SaveLyricsOrSay(record.path, lyrics)) ShowStatus(L"Every line synced — saved for next time");
}
