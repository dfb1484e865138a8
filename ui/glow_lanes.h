#pragma once
// The glow pass's pixel arithmetic: two pixels in one SIMD register, as eight 16-bit lanes (B, G,
// R, A of each) in fixed point, 128 steps per colour level. A channel at 255 is 32640, so the sum
// of two such still fits a lane, and a register holds twice the pixels that floats would.
#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
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

// The lanes as the glow kernels (ui/glow_kernels.inc) take them: two pixels a register.
struct Pairs {
  using T = L8;
  static constexpr int kPixels = 2;
  static T Load(const uint16_t* p) { return glow_lanes::Load(p); }
  static void Store(uint16_t* p, T v) { glow_lanes::Store(p, v); }
  // The first `count` (1..2) pixels.
  static void Put(uint16_t* p, T v, int count) { count > 1 ? glow_lanes::Store(p, v) : StoreOne(p, v); }
  static T Splat(uint16_t v) { return glow_lanes::Splat(v); }
  static T Add(T a, T b) { return glow_lanes::Add(a, b); }
  static T AddSat(T a, T b) { return glow_lanes::AddSat(a, b); }
  static T MulHi(T a, T w) { return glow_lanes::MulHi(a, w); }
  static T Avg(T a, T b) { return glow_lanes::Avg(a, b); }
  // `count` (1..2) premultiplied ARGB words as pixels.
  static T FromWords(const uint32_t* p, int count) { return count > 1 ? glow_lanes::FromWords(p) : FromWord(p[0]); }
  // Pixels e0 e1 and o0 o1 as e0 o0 and e1 o1.
  static void Interleave(T even, T odd, T* first, T* second) { *first = Firsts(even, odd), *second = Seconds(even, odd); }
  // `count` (1..4) pixels, first's then second's, added onto dst as glow_lanes::AddOnto does.
  static void AddOnto(uint32_t* dst, T first, T second, int count) { glow_lanes::AddOnto(dst, first, second, count); }
};

#if defined(__x86_64__) && defined(__GNUC__)
// Four pixels a register, for processors with AVX2 (callers are compiled for it and chosen at run
// time). The same lane arithmetic as Pairs.
#define GLOW_AVX2 __attribute__((target("avx2"), always_inline)) inline
struct Quads {
  using T = __m256i;
  static constexpr int kPixels = 4;
  static GLOW_AVX2 T Load(const uint16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static GLOW_AVX2 void Store(uint16_t* p, T v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  // The first `count` (1..4) pixels: a pixel is one 64-bit element.
  static GLOW_AVX2 void Put(uint16_t* p, T v, int count) {
    if (count >= 4) return Store(p, v);
    const __m256i mask = _mm256_cmpgt_epi64(_mm256_set1_epi64x(count), _mm256_setr_epi64x(0, 1, 2, 3));
    _mm256_maskstore_epi64(reinterpret_cast<long long*>(p), mask, v);
  }
  static GLOW_AVX2 T Splat(uint16_t v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static GLOW_AVX2 T Add(T a, T b) { return _mm256_add_epi16(a, b); }
  static GLOW_AVX2 T AddSat(T a, T b) { return _mm256_adds_epu16(a, b); }
  static GLOW_AVX2 T MulHi(T a, T w) { return _mm256_mulhi_epu16(a, w); }
  static GLOW_AVX2 T Avg(T a, T b) { return _mm256_avg_epu16(a, b); }
  // `count` (1..4) words; nothing past them is read.
  static GLOW_AVX2 T FromWords(const uint32_t* p, int count) {
    alignas(16) uint32_t words[4] = {};
    const uint32_t* from = p;
    if (count < 4) {
      for (int i = 0; i < count; ++i) words[i] = p[i];
      from = words;
    }
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    return _mm256_slli_epi16(_mm256_cvtepu8_epi16(bytes), kShift);
  }
  // Pixels e0..e3 and o0..o3 as e0 o0 e1 o1 and e2 o2 e3 o3.
  static GLOW_AVX2 void Interleave(T even, T odd, T* first, T* second) {
    const __m256i lo = _mm256_unpacklo_epi64(even, odd), hi = _mm256_unpackhi_epi64(even, odd);  // e0 o0 e2 o2, e1 o1 e3 o3
    *first = _mm256_permute2x128_si256(lo, hi, 0x20);
    *second = _mm256_permute2x128_si256(lo, hi, 0x31);
  }
  // `count` (1..8) pixels, first's then second's, added onto dst as glow_lanes::AddOnto does.
  static GLOW_AVX2 void AddOnto(uint32_t* dst, T first, T second, int count) {
    const __m256i half = _mm256_set1_epi16(1 << (kShift - 1));
    const __m256i packed = _mm256_packus_epi16(_mm256_srli_epi16(_mm256_adds_epu16(first, half), kShift),
                                               _mm256_srli_epi16(_mm256_adds_epu16(second, half), kShift));
    const __m256i bytes = _mm256_permute4x64_epi64(packed, 0xD8);  // pixels 0 1 4 5 2 3 6 7 back in order
    if (_mm256_testz_si256(bytes, bytes)) return;
    if (count >= 8) {
      const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_adds_epu8(d, bytes));
      return;
    }
    alignas(32) uint32_t add[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(add), bytes);
    for (int i = 0; i < count; ++i) {
      const __m128i sum = _mm_adds_epu8(_mm_cvtsi32_si128(static_cast<int>(dst[i])), _mm_cvtsi32_si128(static_cast<int>(add[i])));
      dst[i] = static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
    }
  }
};
#undef GLOW_AVX2
#endif

}  // namespace glow_lanes
