#include "selftest/selftest_tick.h"

void SelfTestTick() {}
