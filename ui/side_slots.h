#pragma once
// Which deck each side of the screen shows: SideSlots[0] the left (deck A or C), SideSlots[1]
// the right (deck B or D). UI thread.
#include <cstdint>

inline constexpr int kLeftSide = 0;
inline constexpr int kRightSide = 1;

extern int32_t SideSlots[2];
