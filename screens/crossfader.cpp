#include "screens/crossfader.h"

float CrossfaderPosition = 0.5f;
CrossfaderGlide XfGlide;

void StartCrossfaderGlide(float target, double nowSeconds) {
  XfGlide = CrossfaderGlide{.active = true, .start = CrossfaderPosition, .target = target, .startTime = nowSeconds};
}

bool GlidingTowards(float target) { return XfGlide.active && XfGlide.target == target; }
