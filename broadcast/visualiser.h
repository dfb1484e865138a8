#pragma once
// The projector visualiser window: whether it exists, and opening and closing it (F10). UI thread.

// True while the visualiser window exists.
extern bool VisualiserWindowOpen;
// Opens the visualiser window, or closes it when open; nothing until the window exists.
void ToggleVisualiser();
