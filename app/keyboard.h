#pragma once
// Keyboard shortcuts and text entry. Every key of the main window passes through OnKeyDown and
// OnKeyUp (Windows virtual-key codes, platform/keymap.h) and every typed character through
// OnCharacter. The keyboard is a two-handed DJ surface: the left hand plays the deck shown on the
// left side, the right hand the deck on the right; keys the user mapped to a control act as
// controller buttons and override the built-in shortcut. UI thread only.
#include <cstdint>
#include <set>

#include "engine/pads.h"  // PressPad, shared with the controllers

// ---- keys -----------------------------------------------------------------------------------

// A key went down. repeat: auto-repeat of a key already down; ctrl and shift: those keys are
// held. In order: the question box, the modal form, the window keys (F8-F11, F1), tap sync, the
// auto-map wizard and the tour, key learning, Esc closing an overlay, the Ctrl table, mapped
// keys, the settings page's scroll keys (Up, Down, PageUp, PageDown, Home, End while the settings
// screen is shown), the browser selection, the search box, the deck keys.
void OnKeyDown(int virtualKey, bool repeat, bool ctrl, bool shift);
// A key went up: a mapped key releases its control; an unmapped Z / "," ends CUE, Q / P ends
// CENSOR and a pad key ends a roll or slicer loop on its side's deck.
void OnKeyUp(int virtualKey);
// A typed character (control codes as Windows sends them: 8 Backspace, 13 Enter, 27 Esc, 22
// Ctrl+V): to the open form's focused field, else to the focused search box, else dropped.
void OnCharacter(wchar_t character);

// Mapping targets held down by mapped keys, from key down to key up.
extern std::set<int32_t> KeyHeldIds;

// ---- pads -----------------------------------------------------------------------------------

inline constexpr float kCrossfaderKeyStep = 0.05f;  // Left / Right move the cross-fader this far
