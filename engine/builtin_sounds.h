#pragma once
// The sampler's eight synthesised sounds, rendered at 44100 Hz. The same number always gives
// exactly the same samples (fixed-seed noise).
#include <cstdint>
#include <string>

#include "base/track.h"

constexpr int32_t kBuiltinSoundCount = 8;  // sounds 0..7: HORN SIREN LASER KICK CLAP RISER BOOM HAT
constexpr int32_t kBuiltinSoundRate = 44100;  // Hz

// Renders sound n into a new Track (stereo, left = right, title = the name, no path or analysis)
// and writes the name through `name` when it is not null. Any n outside 0..7 renders HAT (with
// its own noise seed). Allocates and takes up to ~4 s of audio: call off the audio thread.
TrackPtr MakeBuiltinSound(int32_t n, std::wstring* name);
