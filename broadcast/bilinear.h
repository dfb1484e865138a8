#pragma once
// Bilinear sampling of BGRA pictures with 8-bit weights, shared by the video compositor's
// enlarging and the visualiser's camera disc. Any thread; no allocation.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// A sample position's two source indices (edge extended) and the weight of the second, 0..256.
struct Tap {
  int i0, i1;
  uint32_t f;
};
inline Tap TapAt(float u, int size) {
  const float base = std::floor(u);
  const int i = static_cast<int>(base);
  const uint32_t f = static_cast<uint32_t>(std::lround((u - base) * 256));
  return {std::clamp(i, 0, size - 1), std::clamp(i + 1, 0, size - 1), f};
}

// Per channel (a x (256 - f) + b x f) / 256, two channels per multiply.
inline uint32_t MixPixels(uint32_t a, uint32_t b, uint32_t f) {
  const uint32_t g = 256 - f;
  return ((((a & 0xFF00FF) * g + (b & 0xFF00FF) * f) >> 8) & 0xFF00FF) |
         ((((a >> 8) & 0xFF00FF) * g + ((b >> 8) & 0xFF00FF) * f) & 0xFF00FF00);
}

#if defined(__SSE2__)
// Four pixels of a and b mixed as MixPixels does, left in 16-bit lanes: pixels 0-1 in *lo with
// weights fLo (of b) in their lanes, 2-3 in *hi with fHi.
inline void MixUnpacked(__m128i a, __m128i b, __m128i fLo, __m128i fHi, __m128i* lo, __m128i* hi) {
  const __m128i zero = _mm_setzero_si128(), all = _mm_set1_epi16(256);
  *lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), _mm_sub_epi16(all, fLo)),
                                     _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), fLo)),
                       8);
  *hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), _mm_sub_epi16(all, fHi)),
                                     _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), fHi)),
                       8);
}
#endif

// out[c] = MixPixels(top[c], bottom[c], f) for c in [c0, c1): two source rows mixed once, so each
// output pixel then mixes two neighbours of the result.
inline void MixRows(const uint32_t* top, const uint32_t* bottom, uint32_t f, uint32_t* out, int c0, int c1) {
  int c = c0;
#if defined(__SSE2__)
  const __m128i fV = _mm_set1_epi16(static_cast<short>(f));
  for (; c + 4 <= c1; c += 4) {
    __m128i lo, hi;
    MixUnpacked(_mm_loadu_si128(reinterpret_cast<const __m128i*>(top + c)),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + c)), fV, fV, &lo, &hi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c), _mm_packus_epi16(lo, hi));
  }
#endif
  for (; c < c1; ++c) out[c] = MixPixels(top[c], bottom[c], f);
}
