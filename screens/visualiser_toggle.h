#pragma once
// The visualiser window (F10): a second-screen window that draws the visualiser's frame every
// 16 ms, and the feed each frame reads from the meters, the decks and the karaoke stage. UI thread.
#include "broadcast/visualiser.h"

struct SecondWindow;

// Opens the visualiser window (960 x 540, centred on another monitor than the main window's and
// full screen there, else centred on the main window's), or closes it when it is open. The main
// window keeps the keyboard.
void ToggleVisualiser();
// The open visualiser window, or null.
SecondWindow* VisualiserScreenWindow();
// Whether the open visualiser window is in full screen.
bool VisualiserFullScreen();
// The visualiser's view of the program now: master bands, each deck's audibility, level, beat
// pulse, colour and track, the palette's fallback colours and the UI language.
VisualiserFeed GatherVisualiserFeed();
