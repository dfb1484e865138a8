#pragma once
// Musical keys as one small integer: 0-11 major, 12-23 minor, the value mod 12 being the tonic's
// pitch class with C = 0; -1 (or anything outside 0..23) is an unknown key.
#include <cstdint>
#include <string>
#include <string_view>

constexpr int32_t kKeyUnknown = -1;
constexpr int32_t kKeyCount = 24;
constexpr int32_t kKeyDistanceUnknown = 99;  // KeyDistance when either key is unknown

// "C", "F#m", "Bbm" (notes) or "8B", "12A" (Camelot wheel); empty for a key outside 0..23.
std::wstring KeyName(int32_t key, bool camelot);
// Reads a key as other DJ programs store it: note names with #, b, U+266F or U+266D and an
// optional m/min/minor or maj/major, or a Camelot code ("8a"); spaces are ignored. -1 otherwise.
int32_t ParseKey(std::wstring_view text);
// The key moved by `semitones` (any value), keeping its mode; an unknown key stays unchanged.
int32_t TransposeKey(int32_t key, int32_t semitones);
// How well two keys mix: 0 same key, 1 relative or wheel neighbour, else steps round the Camelot
// wheel plus 2; 99 when either key is unknown.
int32_t KeyDistance(int32_t a, int32_t b);
