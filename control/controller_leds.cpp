#include "control/controller_leds.h"

void SendControllerLeds() {}
