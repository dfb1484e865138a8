#pragma once
// The deck's eight performance pads, acting by the deck's pad mode. Shared by the keys, the
// controllers and the on-screen pads. UI thread.
#include <cstdint>

inline constexpr int kPadsPerDeck = 8;

enum PadMode : uint32_t {
  kPadCues = 0,
  kPadRoll = 1,
  kPadJump = 2,
  kPadSampler = 3,
  kPadLoop = 4,
  kPadSlicer = 5,
  kPadKeys = 6,
  kPadStems = 7,
};

// One pad press (pad 0..7) in the deck's pad mode: hot cue, roll, beat jump, loop, slicer, key
// shift, stem or sampler pad.
void PressPad(int deck, int pad);
