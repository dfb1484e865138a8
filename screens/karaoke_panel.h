#pragma once
// The karaoke panel as the main screen draws it: the singer rows a dragged library row can be
// dropped on. Until the panel is drawn it registers no rows. UI thread.
#include <vector>

#include "ui/draw.h"

// A singer row registered while the karaoke panel draws.
struct SingerDropRow {
  Rc rect;
  int singer = 0;  // the singer's id
};
// Emptied by the frame before the panels draw; filled by the karaoke panel.
extern std::vector<SingerDropRow> SingerRows;

// Draws the karaoke panel into r, the browser's right-hand column while the panel is shown.
void DrawKaraokePanel(Rc r);
// Opens the "New singer" form; on ADD the singer joins the rotation with the file (if any) queued.
#include <string>
void KaraokeNewSinger(const std::wstring& path);
