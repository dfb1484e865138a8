#pragma once
// Where the first-run tour stands (its open flag is in settings/tour.h). UI thread.
#include <cstdint>

inline constexpr int32_t kTourSteps = 8;

// The step shown, 0 .. kTourSteps - 1.
extern int32_t TourStep;
