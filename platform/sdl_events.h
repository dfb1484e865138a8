#pragma once
// What the platform's SDL windows share about SDL's events. Platform-internal: only platform/
// includes SDL.
#include <SDL.h>

// The window an input or window event belongs to; 0 for the other events.
Uint32 SdlEventWindowId(const SDL_Event& e);
