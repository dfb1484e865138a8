#pragma once
// The karaoke panel as the main screen sees it: the singer rows a dragged library row can be
// dropped on, and queueing that row's song for the singer. Until the panel is built it registers
// no rows. UI thread.
#include <vector>

#include "ui/draw.h"

// A singer row registered while the karaoke panel draws.
struct SingerDropRow {
  Rc rect;
  int singer = 0;  // the singer's id
};
// Emptied by the frame before the panels draw; filled by the karaoke panel.
extern std::vector<SingerDropRow> SingerRows;

// Queues the file of browser row `row` for the singer and saves the karaoke queue.
void KaraokeAddSong(int singer, int row);
