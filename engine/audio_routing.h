#pragma once
// The audio routing from the settings ([Audio] and [Options] FourDecks) into the OutputConfig the
// outputs take, restarting the outputs with it, and the one automatic choice: a controller's
// 4-output sound card with the main mix on outputs 1-2 and the headphones on 3-4.
#include <string>

#include "engine/engine.h"

inline constexpr int kAutoPickStatusMs = 6000;

// The routing as the settings describe it. UI thread (reads Settings).
OutputConfig CurrentOutputConfig();
// Takes CurrentOutputConfig, then SaveSettings. Restarts only the outputs whose device, channels
// or buffer changed: a new headphone or booth routing leaves a running master playing. UI thread.
void ResetAudioRouting();
// Routes the master to pair 0 and the headphones to pair 1 of the first render device with 4 or
// more channels whose normalised name contains the normalised `name` (empty: any such device),
// restarts the outputs and saves the settings; with announce, says so on the status line for
// 6 s. False, changing nothing, when no device fits. UI thread.
bool AutoPickOutput(const std::wstring& name, bool announce);
// The letters and digits of name, lower-cased; everything else dropped. Letters beyond ASCII
// follow the process's UTF-8 character locale.
std::wstring NormaliseDeviceName(const std::wstring& name);

