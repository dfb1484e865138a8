#include "karaoke/karaoke_panel.h"

#include <algorithm>

#include "base/settings.h"
#include "base/status_message.h"
#include "engine/deck_view.h"
#include "karaoke/deck_lyrics.h"
#include "karaoke/tap_sync.h"

namespace {
constexpr int32_t kFullLayout = 0, kPerformanceLayout = 2;  // [Look] Layout
}  // namespace

bool KaraokePanelShown = false;
int32_t KaraokePanelScroll = 0;
float KaraokePanelBodyScroll = 0;

void ToggleKaraokePanel() {
  KaraokePanelShown = !KaraokePanelShown;
  if (KaraokePanelShown && Settings.Layout == kPerformanceLayout) {
    Settings.Layout = kFullLayout;
    SaveSettings();
  }
  ShowStatus(KaraokePanelShown ? L"Karaoke: add singers, drag songs onto them, then SING.  F9 opens the screen"
                               : L"Karaoke panel closed");
}

UiText LyricsStatusText(int deck) {
  if (!ValidDeck(deck)) return L"No words yet";
  const DeckLyrics& record = DeckLyricsState[deck];
  const Lyrics* lyrics = record.lyrics.get();
  if (TapSyncIndex != kTapSyncOff && TapSyncDeck == deck && lyrics)
    return UiFormat(L"Press T as line {} of {} starts", TapSyncIndex + 1, lyrics->lines.size());
  if (record.busy) return record.online ? L"Asking LRCLIB for the words…" : L"Looking for the words…";
  if (!lyrics) return record.status.empty() ? UiText(L"No words yet") : record.status;
  const auto withSource = [&](const wchar_t* lead) { return UiFormat(L"{}{}", UiText(lead), lyrics->source); };
  switch (lyrics->kind) {
    case LyricsKind::Synced: {
      const bool words = std::any_of(lyrics->lines.begin(), lyrics->lines.end(),
                                     [](const LyricLine& line) { return !line.words.empty(); });
      return withSource(words ? L"Word-timed · " : L"Timed · ");
    }
    case LyricsKind::Estimated:
      return withSource(record.fittedWithStems ? L"Timing guessed from the vocals · " : L"Timing guessed · ");
    case LyricsKind::Plain: return withSource(L"No timing · ");
    case LyricsKind::CdgGraphics: return UiFormat(L"{}", lyrics->source);
    case LyricsKind::KaraokeVideo: return L"Karaoke video: the words are in the picture";
    default: return L"No words";
  }
}
