#pragma once
// The key step's answer with how sure it is, for steps that weigh the key (the stored key stays
// the index alone).
#include <cstdint>

struct DecimatedMix;

struct KeyEstimate {
  int32_t key = -1;  // 0-11 major, 12-23 minor (C = 0), -1 for none
  // The best key's score over the best other key's (correlation plus the bass's tonic share):
  // near 0 when two keys, most often relatives or fifths, are as likely; 0 without a key.
  double margin = 0.0;
};
KeyEstimate EstimateKey(const DecimatedMix& mix);
