#pragma once
// What the keyboard asks of the library browser: moving its selection, loading the selected
// track, and the quick-search text with the scroll offset that typing resets. UI thread.
#include <string>

// The quick-search text.
extern std::wstring SearchText;
// The browser's scroll offset in rows; 0 shows the top.
extern float BrowserScroll;

// Loads the selected row's file onto the deck; with deck -1 onto the first stopped deck in use
// that holds no track and is not loading, else the first stopped one. Nothing without a
// selection or a deck.
void LoadSelectedTrack(int deck);
// Moves the selection by a signed step within the visible rows, clamped.
void MoveSelection(int step);
