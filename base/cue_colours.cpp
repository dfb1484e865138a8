#include "base/cue_colours.h"

#include <cstddef>
#include <limits>

namespace {
int32_t Channel(uint32_t rgb, int shift) { return static_cast<int32_t>((rgb >> shift) & 0xFF); }
}  // namespace

int32_t NearestTrackColour(uint32_t rgb) {
  int32_t best = 0;
  int64_t bestDistance = std::numeric_limits<int64_t>::max();
  for (int32_t i = 0; i < kHotCueColourCount; ++i) {
    int64_t distance = 0;
    for (int shift : {16, 8, 0}) {
      const int64_t d = Channel(rgb, shift) - Channel(HotCueColours[static_cast<std::size_t>(i)], shift);
      distance += d * d;
    }
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return best;
}
