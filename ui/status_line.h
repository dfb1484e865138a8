#pragma once
// The status pill: draws the status message (base/status_message.h) translated into the UI
// language, until it expires. UI thread.
#include <cstdint>

#include "base/status_message.h"

// Draws the message, centred across a window windowWidth DIPs wide, while it shows. Called by the
// frame routine after the overlays; the At form takes the clock.
void DrawStatusLine(float windowWidth);
void DrawStatusLineAt(float windowWidth, uint64_t nowMs);
