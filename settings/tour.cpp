#include "settings/tour.h"

bool TourOpen = false;
int32_t TourStep = 0;

void DrawTour() {}
