#pragma once
// The library browser as the main screen sees it: the panel it draws, its visible rows and the
// row pressed for a drag, the search box's rectangle for the focus rule, and the sidebar's list
// rows that a dragged row can be dropped on. Until the browser screen is built it shows no rows.
// UI thread.
#include <cstdint>
#include <string>
#include <vector>

#include "ui/draw.h"

// The browser's track rows; a press on one makes this the active control.
inline constexpr int32_t kBrowserRowsControlId = 17;

struct BrowserRow {
  std::wstring path;
  std::wstring title;
};

struct BrowserState {
  std::vector<BrowserRow> rows;  // the visible order
  int selectedRow = -1;          // index into rows; -1 none
  float pressX = 0, pressY = 0;  // where the last row press was (DIPs)
  Rc searchBox;                  // the quick-search box this frame; empty while it is not drawn
};
extern BrowserState Browser;

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
