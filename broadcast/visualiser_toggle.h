#pragma once
// Opening and closing the projector visualiser window (F10). UI thread.

// Opens the visualiser window, or closes it when open; nothing until the window exists.
void ToggleVisualiser();
