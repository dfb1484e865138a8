#pragma once
// The video mix on screen: the video window ("Veldmix — Video", F8), the settings page's preview
// and the round picture in each deck panel. UI thread.
#include "platform/draw_surface.h"

// Opens the video window, or closes it when open.
void ToggleVideoWindow();
// True while the video window exists.
bool IsVideoWindowOpen();
// Closes the window when open. At exit.
void CloseVideoWindow();

// Draws the mix into the rectangle (DIPs, under the surface's transform) of a UI surface,
// composed at the surface's pixel density.
void DrawVideoPreview(DrawSurface* surface, float x, float y, float width, float height);
// Draws side's (0 left, 1 right; taken modulo 2) video frame cover-fitted into the circle of
// radius r around (cx, cy) in DIPs; false, drawing nothing, when the side has no video frame.
bool DrawDeckVideo(DrawSurface* surface, int side, float cx, float cy, float r, float opacity);
