#pragma once
// The browser's track table: the rows from ScrollRow on, their stars and prelisten icons, the
// wheel and the scrollbar, the list as a MIDI learn target and the empty-view text. UI thread.
#include "screens/browser_screen.h"

// Draws the table into the layout's list area and handles its mouse input; writes VisibleRows and
// keeps ScrollRow within 0 .. max(0, rows - VisibleRows).
void DrawTrackTable(const BrowserLayout& l);
// ScrollRow moved by wheel notches (3 rows a notch, away from the user scrolls up), clamped.
int ScrollRowAfterWheel(int scrollRow, float wheel, int rows, int visibleRows);
