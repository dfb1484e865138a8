#pragma once
// The karaoke screen window (F9), as the rest of the program opens it. UI thread.
#include "karaoke/karaoke_screen_info.h"

// Opens the karaoke screen window, or closes it when open; when it is open afterwards a record
// is handed over at once, so its first frame is already current.
void ToggleKaraokeScreen();
