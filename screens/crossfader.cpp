#include "screens/crossfader.h"

float CrossfaderPosition = 0.5f;
CrossfaderGlide XfGlide;
