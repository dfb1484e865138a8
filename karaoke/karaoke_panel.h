#pragma once
// The karaoke panel's state and commands: whether it is shown (read by the browser, the main
// screen and the top bar's KARAOKE button), its scroll row, the toggle, and the one-line lyrics
// state of a deck. The panel's drawing is screens/karaoke_panel.h. UI thread.
#include <cstdint>

#include "base/ui_text.h"

// The karaoke panel is shown.
extern bool KaraokePanelShown;
// The first rotation row shown; kept while the panel is closed.
extern int32_t KaraokePanelScroll;
// How far a panel too short for its list scrolls its card and rotation as one column (DIPs).
extern float KaraokePanelBodyScroll;
// Shows or hides the panel and says so; opening it in the PERFORMANCE layout switches to FULL.
void ToggleKaraokePanel();
// The deck's lyrics state in one line: tap sync, a lookup, none, or the kind and its source.
UiText LyricsStatusText(int deck);
