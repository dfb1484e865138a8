#pragma once
// The first-run tour, a full-screen overlay. Until it is built it never opens. UI thread.

extern bool TourOpen;
// Draws and handles the tour while TourOpen is set.
void DrawTour();
