#pragma once
// The visualiser window (F10): a second-screen window that draws the visualiser's frame every
// 16 ms, and the feed each frame reads from the meters, the decks and the karaoke stage. UI thread.
#include "broadcast/visualiser.h"

// Opens the visualiser window, or closes it when it is open.
void ToggleVisualiser();
// The visualiser's view of the program now: master bands, each deck's audibility, level, beat
// pulse, colour and track, the palette's fallback colours and the UI language.
VisualiserFeed GatherVisualiserFeed();
