#pragma once
// The macros panel drawn: eight cards (run, script, EDIT), the language reference and DONE, over
// the frame while MacrosPanelOpen is set. UI thread.
#include "ui/draw.h"

// Where the panel's parts sit for a window of this size (device-independent pixels).
struct MacrosPanelLayout {
  Rc panel, title, hint, done;
  Rc cards[8];
  Rc run[8], script[8], edit[8];
  Rc reference;  // the column the reference lines start at the top of
};
MacrosPanelLayout LayoutMacrosPanel(float windowWidth, float windowHeight);
// Draws and handles the panel; a run button starts its macro, EDIT opens the slot's form after
// the frame, DONE closes the panel.
void DrawMacros();
// The form that edits slot 0..7 ("SAVE" stores it and saves the settings).
void OpenMacroEditor(int slot);
