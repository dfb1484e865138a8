#pragma once
// The first-run tour, a full-screen overlay: whether it is open and where it stands. Until it is
// built it never opens. UI thread.
#include <cstdint>

inline constexpr int32_t kTourSteps = 8;

extern bool TourOpen;
// The step shown, 0 .. kTourSteps - 1.
extern int32_t TourStep;
// Draws and handles the tour while TourOpen is set.
void DrawTour();
