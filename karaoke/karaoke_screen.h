#pragma once
// The karaoke screen window (F9). UI thread.

// Opens the karaoke screen window, or closes it when open; nothing until the window exists.
void ToggleKaraokeScreen();
