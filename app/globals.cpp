// Global state objects built before main and destroyed after it, in this order.
#include "app/settings.h"
#include "app/test_mode.h"

bool TestMode = false;
SettingsRecord Settings;
