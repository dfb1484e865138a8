#pragma once
// The one text editor that the forms and the search box type into: a single line with a caret
// and a selection, edited as a standard edit control is. One field has the focus at a time, so
// the caret lives here and follows the text it was last used on; the text itself is the caller's.
// UI thread only.
#include <cstddef>
#include <string>

#include "ui/draw.h"

inline constexpr size_t kMaxFieldChars = 4096;
inline constexpr wchar_t kFieldSelectAll = 1, kFieldCopy = 3, kFieldPaste = 22, kFieldCut = 24;  // Ctrl+A/C/V/X

// Where Ctrl+V reads the clipboard: false when it cannot be read or holds no text. The shell sets
// it; unset reads as an empty clipboard.
inline bool (*ClipboardReadHook)(std::wstring* text) = nullptr;
// Where Ctrl+C and Ctrl+X put the selected text; unset copies nothing (a cut still deletes).
inline bool (*ClipboardWriteHook)(const std::wstring& text) = nullptr;

// The caret and the other end of the selection, in characters of the text; equal when nothing is
// selected.
struct FieldSelection {
  size_t caret = 0;
  size_t anchor = 0;
  size_t Start() const { return caret < anchor ? caret : anchor; }
  size_t End() const { return caret < anchor ? anchor : caret; }
};

// A typed character into the field. Backspace (8) deletes the selection or the character before
// the caret; Ctrl+A (1) selects everything; Ctrl+C (3) and Ctrl+X (24) copy and cut the selection
// (never from a masked field); Ctrl+V (22) puts the clipboard's text up to its first line break in
// place of the selection; characters from 32 up replace the selection. Other control characters
// (also inside pasted text) are dropped. Texts stop growing at kMaxFieldChars.
void TypeIntoField(std::wstring* text, wchar_t character, bool masked = false);
// An editing key (virtual-key code): Left, Right, Home and End move the caret (with Shift they
// move only the caret, selecting), Delete deletes the selection or the character after the caret.
// True when the key was one of these.
bool FieldKeyDown(std::wstring* text, int virtualKey, bool shift);
// The caret and selection on the text: at its end when the text is not the one last edited.
FieldSelection SelectionOf(const std::wstring* text);
// Puts the caret at the end of the text with nothing selected, and makes it the edited one (a
// field gaining the focus).
void PlaceCaretAtEnd(const std::wstring* text);

// How the field's text is drawn: in `box` (left-aligned, "Segoe UI", normal weight), the caret and
// the selection's highlight between top and bottom, neither further right than maxX.
struct FieldLook {
  Rc box;
  float size = 13;
  Color color;
  float top = 0, bottom = 0, maxX = 0;
};
// Draws the text with the selection's highlight behind it and, when caretOn, the caret. `shown` is
// what is drawn for `text` (bullets for a masked field), one character each.
void DrawFieldText(const std::wstring& text, const std::wstring& shown, const FieldLook& look, bool caretOn);
