#pragma once
// The twelve hot-cue colours (pads and waveform markers share them) and the nearest of them to
// any colour.
#include <array>
#include <cstdint>

inline constexpr int kHotCueColourCount = 12;
inline constexpr std::array<uint32_t, kHotCueColourCount> HotCueColours = {
    0xFF3D6E, 0xFF8A2B, 0xFFC83D, 0xB6FF3D, 0x2BF5A0, 0x22D3FF,
    0x1F7BFF, 0x9D6BFF, 0xFF4FD8, 0xFFFFFF, 0xA0A8B8, 0xE0503C};

// The index (0-11) of the hot-cue colour nearest to 0xRRGGBB by squared RGB distance; the lower
// index on a tie.
int32_t NearestTrackColour(uint32_t rgb);
