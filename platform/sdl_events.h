#pragma once
// What the platform's SDL windows share about SDL's events (the sources that use it include SDL).
#include <cstdint>

union SDL_Event;

// The window an input or window event belongs to; 0 for the other events.
uint32_t SdlEventWindowId(const SDL_Event& e);
