#pragma once
// The karaoke panel's state and commands: whether it is shown (read by the main screen and the top
// bar's KARAOKE button), the toggle with its hint on the status line, and queueing a song for a
// singer. The panel's drawing is screens/karaoke_panel.h. UI thread.

// The karaoke panel is shown.
extern bool KaraokePanelShown;
// Shows or hides the panel and says so on the status line.
void ToggleKaraokePanel();
#include <string>

// Queues the file for singer `singer` (an index into the rotation) and saves the karaoke queue.
void KaraokeAddSong(int singer, const std::wstring& path);
// Opens the "New singer" form; the new singer gets the file queued.
void KaraokeNewSinger(const std::wstring& path);
