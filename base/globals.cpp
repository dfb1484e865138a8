// Global state objects built before main and destroyed after it, in this order.
#include "base/frame_clock.h"
#include "base/settings.h"
#include "base/test_mode.h"
#include "platform/clock.h"

uint64_t (*FrameNowHook)() = MonotonicMs;
bool TestMode = false;
SettingsRecord Settings;
