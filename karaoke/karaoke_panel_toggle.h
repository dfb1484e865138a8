#pragma once
// Showing and hiding the karaoke panel: the flag the main screen and the top bar's KARAOKE
// button read, and the toggle with its hint on the status line. UI thread.

// The karaoke panel is shown.
extern bool KaraokePanelShown;
// Shows or hides the panel and says so on the status line.
void ToggleKaraokePanel();
