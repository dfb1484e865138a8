#pragma once
// The self-tests' per-frame step. UI thread.

// Called last in every tick; does nothing outside test mode. Dispatches to the test the switch
// asked for, and ends any run still going its switch's cap after its first tick as a failure.
void SelfTestTick();
// The same at `nowSeconds` on the MonotonicMs clock, in seconds.
void SelfTestTickAt(double nowSeconds);
// Points the shell's self-test hooks (the tick's last step, the exit code's failure count) here.
void InstallSelfTestHooks();
// The cap of the switch this run was started with, in seconds.
double SelfTestCapSeconds();
