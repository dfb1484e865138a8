#include "karaoke/karaoke_tick.h"

void KaraokeTick() {}
