#include "settings/tour_steps.h"

int32_t TourStep = 0;
