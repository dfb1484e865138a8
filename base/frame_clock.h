#pragma once
// The frames' clock in milliseconds: MonotonicMs (the shell sets it), unless a test steps it by
// hand. Whatever a frame shows for a while reads it, the status message's expiry among them, so
// that a frame and what it draws never disagree on the time. UI thread.
#include <cstdint>

extern uint64_t (*FrameNowHook)();
