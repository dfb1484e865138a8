#include "karaoke/karaoke_panel_toggle.h"

#include "app/status_message.h"

bool KaraokePanelShown = false;

void ToggleKaraokePanel() {
  KaraokePanelShown = !KaraokePanelShown;
  ShowStatus(KaraokePanelShown ? L"Karaoke: add singers, drag songs onto them, then SING.  F9 opens the screen"
                               : L"Karaoke panel closed");
}
