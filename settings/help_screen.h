#pragma once
// The help screen, a full-screen overlay: the keyboard shortcuts, six tip cards and the way back
// into the tour. UI thread.
#include "ui/draw.h"

extern bool HelpOpen;

inline constexpr int kHelpTourId = 3594;

// One keyboard key at left edge x, centred on cy, h high; its width (at least h).
float DrawKeyCap(float x, float cy, std::wstring_view text, Color c, float h);
// A section title at y in r with a rule to its right.
void DrawHelpSectionHeader(Rc r, float y, std::wstring_view text, Color c);
// Columns and rows of the tip-card grid for a right area `width` wide: 2 x 3 when wider than 560,
// else 1 x 6.
struct HelpTipGrid {
  int columns, rows;
};
HelpTipGrid HelpTipGridFor(float width);
// The panel for a W x H window, and the tip cards' area inside it.
Rc HelpPanelRect(float W, float H);
Rc HelpTipArea(Rc panel);
// Draws and handles the help screen while HelpOpen is set.
void DrawHelp();
