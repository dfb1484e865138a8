#pragma once
// The auto-map wizard's full-window screen: the introduction, one prompt at a time with what was
// heard, and the result with SAVE AS PRESET… and USE IT. UI thread.
#include "ui/draw.h"

inline constexpr int32_t kAutoMapCancelId = 3650, kAutoMapStartId = 3651, kAutoMapBackId = 3652;
inline constexpr int32_t kAutoMapSkipId = 3653, kAutoMapSaveId = 3654, kAutoMapUseId = 3655;

// Draws and handles one frame of the wizard while it is open (and moves on from the jog row once
// the wheel has stopped).
void DrawAutoMap();
// The same at a given clock (seconds), which only pulses "Listening…".
void DrawAutoMapAt(double nowSeconds);
