#pragma once
// The self-tests' per-frame step. UI thread.

// Called last in every tick; does nothing outside test mode, and nothing until the self-test
// runners exist.
void SelfTestTick();
