#pragma once
// The sampler's banks: which bank sits on the engine's eight pads, and the store of the other
// banks' sounds. UI thread only.
#include <array>
#include <cstdint>
#include <string>

#include "base/track.h"

constexpr int kSamplerBanks = 4;
constexpr int kPadsPerBank = 8;
constexpr int kSamplerSlotCount = kSamplerBanks * kPadsPerBank;  // slot = bank x 8 + pad

// The bank whose eight sounds sit on the pads, 0..kSamplerBanks-1 ([Sampler] Bank).
extern int32_t SamplerBank;

// One stored sound of a bank that is not on the pads.
struct BankSound {
  TrackPtr track;     // empty = no sound
  std::wstring name;  // the pad's label
};
// All 32 slots. The current bank's entries are stale: the engine pads hold the truth, written
// back here when the bank changes.
extern std::array<BankSound, kSamplerSlotCount> SamplerBankStore;

// True for a pad 0..7 of a bank.
inline bool ValidPad(int pad) { return pad >= 0 && pad < kPadsPerBank; }
// The slot of the current bank's pad 0..7.
inline int CurrentSlot(int pad) { return SamplerBank * kPadsPerBank + pad; }

// "A" to "D".
inline wchar_t BankLetter(int bank) { return static_cast<wchar_t>(L'A' + bank); }
