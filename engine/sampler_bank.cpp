#include "engine/sampler_bank.h"

int32_t SamplerBank = 0;
std::array<BankSound, kSamplerSlotCount> SamplerBankStore;
