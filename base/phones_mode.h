#pragma once
// How the headphones are heard: the [Audio] PhonesMode number in settings.ini, the routing handed
// to the outputs and the engine's copy of it.
#include <cstdint>

enum PhonesMode : int32_t {
  kPhonesNone = 0,
  kPhonesSplit = 1,       // master left, cue right, on the master output
  kPhonesOwnOutput = 2,   // a pair of their own, on the master's device or another
};
