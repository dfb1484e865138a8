#include "karaoke/karaoke_panel.h"

#include "app/status_message.h"

bool KaraokePanelShown = false;

void ToggleKaraokePanel() {
  KaraokePanelShown = !KaraokePanelShown;
  ShowStatus(KaraokePanelShown ? L"Karaoke: add singers, drag songs onto them, then SING.  F9 opens the screen"
                               : L"Karaoke panel closed");
}

// No singers exist until the karaoke queue is built.
void KaraokeAddSong(int, const std::wstring&) {}
void KaraokeNewSinger(const std::wstring&) {}
