#pragma once
// The library browser as the main screen draws it: the sidebar, the toolbar (search box, LOAD,
// ANALYZE, MATCH, the AI menu, MACROS, the prelisten strip, the count line), the column header and
// the track table, and the karaoke panel on the right while it is open. Its rows and selection are
// the browser's view (library/track_view.h); where a row was pressed for a drag and the sidebar's
// list rows a dragged row can be dropped on are kept here for the frame's drag. UI thread.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/draw.h"

// --- Control ids: widgets and mouse captures ---
inline constexpr int32_t kBrowserLoadLeftId = 11;
inline constexpr int32_t kBrowserLoadRightId = 12;
inline constexpr int32_t kBrowserAnalyzeId = 13;
inline constexpr int32_t kBrowserStopPrelistenId = 14;
inline constexpr int32_t kBrowserPrelistenSeekId = 15;
inline constexpr int32_t kBrowserScrollbarId = 16;
inline constexpr int32_t kBrowserRowsControlId = 17;  // a row press; the frame's drag follows it
inline constexpr int32_t kBrowserRowPlayId = 18;
inline constexpr int32_t kBrowserMatchId = 27;
inline constexpr int32_t kBrowserStarsId = 30;
inline constexpr int32_t kBrowserListId = 31;  // the track list as a mapped browse knob
inline constexpr int32_t kBrowserHeaderFirstId = 40;  // + column
inline constexpr int32_t kBrowserAiId = 59;
inline constexpr int32_t kBrowserMacrosId = 3631;

// What the browser drew this frame and where its last row press was.
struct BrowserScreenState {
  float pressX = 0, pressY = 0;  // where the last row press was (DIPs)
  Rc searchBox;                  // the search box this frame; empty while it is not drawn
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

// --- Layout ---

inline constexpr int kBrowserColumns = 7;  // TITLE, ARTIST, BPM, KEY, ENERGY, RATING, TIME
inline constexpr float kBrowserRowDip = 24.0f;
inline constexpr float kBrowserStarDip = 12.0f;
inline constexpr int kBrowserStars = 5;
inline constexpr float kBrowserCountTextSize = 11.5f;

// Where everything of the browser lies for a browser rectangle, in DIPs. Empty rectangles are not
// drawn (the karaoke column while closed, the prelisten strip without a prelisten).
struct BrowserLayout {
  Rc sidebar;
  Rc karaoke;
  float contentX = 0, contentRight = 0;
  Rc searchBox;
  Rc loadLeft, loadRight, analyze, match, ai, macros;
  Rc stopPrelisten, prelistenBar;
  Rc countLine;  // empty when the count line does not fit
  bool compact = false;
  Rc header;
  Rc firstCell;                                 // the "#" or icon column of the header
  std::array<Rc, kBrowserColumns> headerCells;  // TITLE .. TIME
  Rc list;                                      // the rows' area
  float tableWidth = 0;
  int visibleRows = 1;
  Rc scrollTrack;  // the scrollbar's track (shown only when the rows do not all fit)
};
// The layout for the browser rectangle r. countWidth is the count line's drawn width (without
// the 12 DIP gap); prelisten: the prelisten strip is shown.
BrowserLayout LayOutBrowser(Rc r, float countWidth, bool karaokeOpen, bool prelisten);
// The SortKey of header cell `column` (0 TITLE .. 6 TIME).
int HeaderSortKey(int column);
// The screen rectangle of visible row i (0 = the row at ScrollRow).
Rc BrowserRowRect(const BrowserLayout& l, int i);
// The star cells of a row: the first star's rectangle (each next one kBrowserStarDip further).
Rc BrowserStarsRect(const BrowserLayout& l, Rc row);
// The first cell of a row (prelisten icon, number).
Rc BrowserPlayCell(const BrowserLayout& l, Rc row);
// The thumb of the scrollbar for n rows: its height and top for the scroll row.
struct ScrollThumb {
  float top = 0, height = 0;
};
ScrollThumb ScrollbarThumb(const BrowserLayout& l, int rows, int scrollRow);
// The scroll row for a thumb dragged (or a track pressed) at pointer y; a list whose thumb is as
// tall as the list never moves (startRow comes back).
int ScrollRowForDrag(const BrowserLayout& l, int rows, int startRow, float startY, float pointerY);
int ScrollRowForJump(const BrowserLayout& l, int rows, float pointerY);

// --- Texts ---

// "N tracks" (or " track"), the scan and analysis progress and the sort by a menu key, in English
// (translated as it is drawn).
std::wstring BrowserCountLine();
// The centred text of an empty view, the first that applies.
std::wstring EmptyViewText();
// Energy level 1..10 of a loudness value.
int EnergyLevel(float loudness);
// The star a pointer at x hovers, 1..5, for stars starting at starsX.
int HoveredStar(float starsX, float pointerX);
// The new rating after a click on star `star`: the same star as the rating clears it.
int RatingAfterClick(int rating, int star);

// --- Drawing ---

// Draws the browser into r and handles its mouse input for this frame.
void DrawBrowser(Rc r);
// The AI tools menu at the pointer (from a deferred action).
void AiToolsMenu();
