#pragma once
// The video mix on screen: the video window ("Veldmix — Video", F8), the settings page's preview
// and the round picture in each deck panel. UI thread.
#include "platform/draw_surface.h"

struct SecondWindow;

inline constexpr wchar_t kVideoWindowTitle[] = L"Veldmix \u2014 Video";
inline constexpr int kVideoWindowWidth = 960, kVideoWindowHeight = 540;
inline constexpr unsigned kVideoFrameMs = 16;

// Opens the video window, or closes it when open. It opens full screen on another monitor when
// there is one, else windowed and centred on the main window's; the main window keeps the
// keyboard. In the window: double-click toggles full screen, Esc leaves full screen or closes,
// F8 closes.
void ToggleVideoWindow();
// True while the video window exists.
bool IsVideoWindowOpen();
// The video window while it exists, else null.
SecondWindow* VideoScreenWindow();
// True while it covers its monitor.
bool VideoWindowFullScreen();
// Closes the window when open. At exit.
void CloseVideoWindow();

// Draws the mix into the rectangle (DIPs, under the surface's transform) of a UI surface,
// composed at the surface's pixel density.
void DrawVideoPreview(DrawSurface* surface, float x, float y, float width, float height);
// Draws side's (0 left, 1 right; taken modulo 2) video frame cover-fitted into the circle of
// radius r around (cx, cy) in DIPs; false, drawing nothing, when the side has no video frame.
bool DrawDeckVideo(DrawSurface* surface, int side, float cx, float cy, float r, float opacity);
