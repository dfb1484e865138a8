#include "settings/tour.h"

bool TourOpen = false;

void DrawTour() {}
