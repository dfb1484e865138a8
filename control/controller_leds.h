#pragma once
// Controller button lights: once per frame every mapped note or controller button whose control
// has a light is sent to every MIDI output when its lit state changed. UI thread.
#include <cstddef>
#include <cstdint>

// Whether a button control (5000-5599) is lit by the deck and mixer state; false for the rest.
bool ControlState(int32_t id);
// False when the target (control or widget id) has no light; else true with *lit set.
bool GetControlLed(int32_t target, bool* lit);
// At the end of every drawn frame: sends the lights that changed to every open MIDI output but the
// clock output. Nothing while [Midi] Leds is off.
void SendControllerLeds();
// The same over `outputs` outputs through send, skipping clockOutput (-1 none).
void SendControllerLedsTo(size_t outputs, int clockOutput, void (*send)(size_t output, uint32_t message));
// Forgets what was sent, so every light goes out again on the next frame.
void ClearControllerLedCache();
