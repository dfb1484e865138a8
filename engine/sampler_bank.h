#pragma once
// The sampler's current bank. UI thread only.
#include <cstdint>

constexpr int kSamplerBanks = 4;

// The bank whose eight sounds sit on the pads, 0..kSamplerBanks-1 ([Sampler] Bank).
extern int32_t SamplerBank;
