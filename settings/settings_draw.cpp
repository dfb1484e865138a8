#include "settings/settings_draw.h"

void DrawSettings() {}
