#pragma once
// Controller button lights: once per frame every mapped note or controller button whose control
// has a light is sent to every MIDI output when its lit state changed. UI thread.
#include <cstdint>

// Whether a button control (5000-5599) is lit by the deck and mixer state; false for the rest.
bool ControlState(int32_t id);
// False when the target (control or widget id) has no light; else true with *lit set.
bool GetControlLed(int32_t target, bool* lit);
// At the end of every drawn frame: sends the lights that changed.
void SendControllerLeds();
// Forgets what was sent, so every light goes out again on the next frame.
void ClearControllerLedCache();
