#pragma once
// The video output window (F8). UI thread.

// Opens the video output window, or closes it when open; nothing until the window exists.
void ToggleVideoWindow();
