#pragma once
// The glow pass's pixel arithmetic: two pixels in one SIMD register, as eight 16-bit lanes (B, G,
// R, A of each) in fixed point, 128 steps per colour level. A channel at 255 is 32640, so the sum
// of two such still fits a lane, and a register holds twice the pixels that floats would.
#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace glow_lanes {

// Steps per level, as a shift.
constexpr int kShift = 7;

#if defined(__SSE2__)
using L8 = __m128i;
inline L8 Zero() { return _mm_setzero_si128(); }
inline L8 Splat(uint16_t v) { return _mm_set1_epi16(static_cast<short>(v)); }
inline L8 Load(const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint16_t* p, L8 v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
// The first pixel only.
inline void StoreOne(uint16_t* p, L8 v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v); }
inline L8 Add(L8 a, L8 b) { return _mm_add_epi16(a, b); }
inline L8 AddSat(L8 a, L8 b) { return _mm_adds_epu16(a, b); }
// a * w / 65536, rounded down: w is a weight in 1/65536ths.
inline L8 MulHi(L8 a, L8 w) { return _mm_mulhi_epu16(a, w); }
// (a + b + 1) / 2.
inline L8 Avg(L8 a, L8 b) { return _mm_avg_epu16(a, b); }
// The first pixels of a and b; the second pixels of a and b.
inline L8 Firsts(L8 a, L8 b) { return _mm_unpacklo_epi64(a, b); }
inline L8 Seconds(L8 a, L8 b) { return _mm_unpackhi_epi64(a, b); }
// One premultiplied ARGB word as a pixel (in the first half).
inline L8 FromWord(uint32_t p) {
  const __m128i bytes = _mm_cvtsi32_si128(static_cast<int>(p));
  return _mm_slli_epi16(_mm_unpacklo_epi8(bytes, _mm_setzero_si128()), kShift);
}
// Two premultiplied ARGB words as two pixels.
inline L8 FromWords(const uint32_t* p) {
  const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  return _mm_slli_epi16(_mm_unpacklo_epi8(bytes, _mm_setzero_si128()), kShift);
}
// Adds `count` (1..4) pixels, lo's two then hi's, onto dst, each channel rounded and saturated
// at 255. Pixels that round to nothing are not written.
inline void AddOnto(uint32_t* dst, L8 lo, L8 hi, int count) {
  const __m128i half = _mm_set1_epi16(1 << (kShift - 1));
  const __m128i bytes =
      _mm_packus_epi16(_mm_srli_epi16(_mm_adds_epu16(lo, half), kShift), _mm_srli_epi16(_mm_adds_epu16(hi, half), kShift));
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())) == 0xFFFF) return;
  if (count == 4) {
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_adds_epu8(d, bytes));
    return;
  }
  alignas(16) uint32_t add[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(add), bytes);
  for (int i = 0; i < count; ++i) {
    const __m128i sum = _mm_adds_epu8(_mm_cvtsi32_si128(static_cast<int>(dst[i])), _mm_cvtsi32_si128(static_cast<int>(add[i])));
    dst[i] = static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
  }
}
#else
struct L8 {
  uint16_t v[8];
};
inline L8 Zero() { return L8{}; }
inline L8 Splat(uint16_t v) { return L8{{v, v, v, v, v, v, v, v}}; }
inline L8 Load(const uint16_t* p) {
  L8 r;
  for (int i = 0; i < 8; ++i) r.v[i] = p[i];
  return r;
}
inline void Store(uint16_t* p, L8 v) {
  for (int i = 0; i < 8; ++i) p[i] = v.v[i];
}
inline void StoreOne(uint16_t* p, L8 v) {
  for (int i = 0; i < 4; ++i) p[i] = v.v[i];
}
template <typename F>
inline L8 Each(L8 a, L8 b, F f) {
  L8 r;
  for (int i = 0; i < 8; ++i) r.v[i] = static_cast<uint16_t>(f(uint32_t{a.v[i]}, uint32_t{b.v[i]}));
  return r;
}
inline L8 Add(L8 a, L8 b) { return Each(a, b, [](uint32_t x, uint32_t y) { return x + y; }); }
inline L8 AddSat(L8 a, L8 b) { return Each(a, b, [](uint32_t x, uint32_t y) { return x + y > 65535 ? 65535 : x + y; }); }
inline L8 MulHi(L8 a, L8 w) { return Each(a, w, [](uint32_t x, uint32_t y) { return (x * y) >> 16; }); }
inline L8 Avg(L8 a, L8 b) { return Each(a, b, [](uint32_t x, uint32_t y) { return (x + y + 1) >> 1; }); }
inline L8 Firsts(L8 a, L8 b) { return L8{{a.v[0], a.v[1], a.v[2], a.v[3], b.v[0], b.v[1], b.v[2], b.v[3]}}; }
inline L8 Seconds(L8 a, L8 b) { return L8{{a.v[4], a.v[5], a.v[6], a.v[7], b.v[4], b.v[5], b.v[6], b.v[7]}}; }
inline L8 FromWord(uint32_t p) {
  L8 r{};
  for (int c = 0; c < 4; ++c) r.v[c] = static_cast<uint16_t>(((p >> (8 * c)) & 255) << kShift);
  return r;
}
inline L8 FromWords(const uint32_t* p) {
  L8 r = FromWord(p[0]);
  const L8 second = FromWord(p[1]);
  for (int c = 0; c < 4; ++c) r.v[4 + c] = second.v[c];
  return r;
}
inline void AddOnto(uint32_t* dst, L8 lo, L8 hi, int count) {
  for (int i = 0; i < count; ++i) {
    const uint16_t* g = (i < 2 ? lo.v : hi.v) + 4 * (i & 1);
    uint32_t out = 0;
    for (int c = 0; c < 4; ++c) {
      const uint32_t add = std::min<uint32_t>(255, (uint32_t{g[c]} + (1u << (kShift - 1))) >> kShift);
      out |= std::min<uint32_t>(255, ((dst[i] >> (8 * c)) & 255) + add) << (8 * c);
    }
    dst[i] = out;
  }
}
#endif

}  // namespace glow_lanes
