#include "karaoke/tap_sync.h"

int32_t TapSyncIndex = kTapSyncOff;

void TapSyncLine() {}
