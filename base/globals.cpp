// Global state objects built before main and destroyed after it, in this order.
#include "base/settings.h"
#include "base/test_mode.h"

bool TestMode = false;
SettingsRecord Settings;
