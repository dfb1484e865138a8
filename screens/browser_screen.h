#pragma once
// The library browser as the main screen draws it: the panel, where a row was pressed for a drag,
// the search box's rectangle for the focus rule, and the sidebar's list rows that a dragged row
// can be dropped on. Its rows and selection are the browser's view (library/track_view.h).
// UI thread.
#include <cstdint>
#include <vector>

#include "ui/draw.h"

// The browser's track rows; a press on one makes this the active control.
inline constexpr int32_t kBrowserRowsControlId = 17;

// What the browser drew this frame and where its last row press was.
struct BrowserScreenState {
  float pressX = 0, pressY = 0;  // where the last row press was (DIPs)
  Rc searchBox;                  // the quick-search box this frame; empty while it is not drawn
};
extern BrowserScreenState BrowserScreen;

// A sidebar list row registered while the browser draws: a dragged row released on it is added
// to that list.
struct ListDropRow {
  Rc rect;
  int list = 0;  // index into TrackLists
};
// Emptied by the frame before the panels draw; filled by the browser's sidebar.
extern std::vector<ListDropRow> SidebarListRows;

// Draws the browser into r (rows, sidebar, search box); a row press selects the row, records the
// press point and makes kBrowserRowsControlId the active control.
void DrawBrowser(Rc r);
