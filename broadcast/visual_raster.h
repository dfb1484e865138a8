#pragma once
// The visualiser's own rasteriser for the shapes it draws by the hundred (thick lines, discs,
// circles): their antialiased coverage worked out per pixel from the distance to the shape and
// blended straight into the surface's premultiplied pixels, a span per row. Far cheaper than
// cairo's general path stroking for these few shapes; the look is the same within antialiasing.
// UI thread.
#include <cstdint>
#include <vector>

#include "platform/draw_surface.h"

#if defined(__SSE2__)
#include <emmintrin.h>
// The colour (0xRRGGBB, alpha 0xFF) as 16-bit lanes, twice: Blend4's `colour16`.
inline __m128i Unpacked(uint32_t colour) {
  return _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(0xFF000000u | colour)), _mm_setzero_si128());
}
// Four pixels, unpacked low (pixels 0-1) and high (2-3), moved towards the unpacked colour by
// their 32-bit weights 0..256, as BlendWeighted does.
inline __m128i Mix4(__m128i pLo, __m128i pHi, __m128i weights, __m128i colour16) {
  const __m128i all = _mm_set1_epi16(256);
  const __m128i k16 = _mm_packs_epi32(weights, weights);  // k0 k1 k2 k3 k0 k1 k2 k3
  const __m128i k2 = _mm_unpacklo_epi16(k16, k16);        // k0 k0 k1 k1 k2 k2 k3 k3
  const __m128i kLo = _mm_unpacklo_epi32(k2, k2), kHi = _mm_unpackhi_epi32(k2, k2);
  // At most 255 x 256 per channel: the sums fit 16 unsigned bits.
  const __m128i lo = _mm_srli_epi16(
      _mm_add_epi16(_mm_mullo_epi16(colour16, kLo), _mm_mullo_epi16(pLo, _mm_sub_epi16(all, kLo))), 8);
  const __m128i hi = _mm_srli_epi16(
      _mm_add_epi16(_mm_mullo_epi16(colour16, kHi), _mm_mullo_epi16(pHi, _mm_sub_epi16(all, kHi))), 8);
  return _mm_packus_epi16(lo, hi);
}
// Four pixels blended towards the unpacked colour by their 32-bit weights 0..256.
inline void Blend4(uint32_t* out, __m128i weights, __m128i colour16) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   Mix4(_mm_unpacklo_epi8(p, zero), _mm_unpackhi_epi8(p, zero), weights, colour16));
}
#endif

// Blends n pixels towards the opaque colour (0xRRGGBB) by weights 0..256 each:
// out = (colour x k + out x (256 - k)) / 256 per channel, alpha towards 0xFF alike.
void BlendWeighted(uint32_t* out, const int32_t* weights, int n, uint32_t colour);

// Fills the rectangle (user space) with a vertical gradient from c0 at y0 to c1 at y1, the end
// colours extended past them, over what is there, the rectangle's edges antialiased: each device
// row takes one colour, where the drawing library works the gradient out per pixel. False,
// nothing drawn, when the target's transform is not a plain uniform scale and shift.
bool FillVerticalRamp(DrawSurface& target, float x, float y, float w, float h, float y0, Rgba c0, float y1, Rgba c1);

// The ramp of FillVerticalRamp(target, 0, 0, w, h, y0, c0, y1, c1) drawn over a surface filled with
// the opaque backdrop (0xRRGGBB), row by row: out[row] takes what device row `row` then holds (each
// row is one colour when the ramp spans the whole width), for the first `rows` device rows at
// most. Returns how many rows the ramp touches, or -1 (out untouched) unless the transform is a
// plain uniform scale and shift, the clip is the whole surface and the ramp covers its full width
// from the top.
int VerticalRampRows(DrawSurface& target, float w, float h, float y0, Rgba c0, float y1, Rgba c1, uint32_t backdrop,
                     uint32_t* out, int rows);

// Writes into `sprite` (cleared first) the picture (opaque 32-bit pixels, width x height, rows
// packed) placed by `place` (picture pixels to sprite pixels: scale, mirror and shift only),
// sampled bilinearly with its edge pixels extended, inside the disc of radius r around (cx, cy)
// in sprite pixels, its rim antialiased; premultiplied, transparent outside. False, untouched,
// when the placement turns or is singular.
bool FillDiscWithPicture(const uint32_t* picture, int width, int height, const Affine& place, float cx, float cy,
                         float r, const PixelView& sprite);

// Darkens the target's pixels in the device rectangle [x0, x1) x [y0, y1) (within its clip)
// as black at alpha (0..1) over them does, leaving out those whose centres lie within `hole`
// device pixels of (hx, hy): pixels something opaque will cover anyway. Marks them dirty.
void DarkenPixels(DrawSurface& target, int x0, int y0, int x1, int y1, float alpha, float hx, float hy, float hole);

// Blends the premultiplied sprite over the target's device pixels with its top-left at (x, y), at
// opacity 0..1, within the target's clip: what drawing it pixel for pixel through the surface gives,
// within a step of rounding. Marks them dirty.
void BlendSprite(DrawSurface& target, const PixelView& sprite, int x, int y, float opacity);

// A set of shapes painted together in one colour: where they overlap the paint is applied once.
class VisualRaster {
 public:
  // Starts a set on the target. False (nothing to do) when its transform is not a plain uniform
  // scale and shift: the caller then draws through the surface instead.
  bool Begin(DrawSurface& target);
  // The same for one shape blended in the colour at alpha as it is worked out, with no coverage
  // kept: the pixels of Paint for a set of that shape alone. End() finishes it. Two shapes in
  // one such set are painted one over the other, not as a union.
  bool BeginDirect(DrawSurface& target, uint32_t colour, float alpha);
  void End();
  // In the target's user space. Round caps are half-discs on the ends; flat ones end at them.
  void Segment(float x0, float y0, float x1, float y1, float width, bool roundCaps);
  // The same with each end's cap chosen alone.
  void Segment(float x0, float y0, float x1, float y1, float width, bool roundStart, bool roundEnd);
  // A round-capped segment drawn several times over itself, widest first, each stroke in its
  // own width, colour and alpha (direct sets only): the pixels of as many single segments, with
  // each pixel's distance to the segment worked out once.
  struct Stroke {
    float width;
    uint32_t colour;
    float alpha;
  };
  void LayeredSegment(float x0, float y0, float x1, float y1, const Stroke* strokes, int count);
  void Disc(float cx, float cy, float r);
  void Ring(float cx, float cy, float r, float width);
  // Blends the union of the set in the colour at alpha (clamped to 0..1) and ends the set.
  void Paint(uint32_t colour, float alpha);

 private:
  struct Span {
    int y, x0, x1;  // pixels [x0, x1) of row y
  };
  // The pixel span of row y whose centres fall in [left, right), clipped and padded to whole
  // groups of four where the clip allows; false when empty. Recorded when `record`.
  bool RowSpan(int y, float left, float right, int* x0, int* x1, bool record = true);
  // Where row y's coverage goes: the coverage buffer, or (direct) the surface's pixels.
  struct Row {
    uint8_t* cover;
    uint32_t* line;
  };
  Row RowAt(int y);
  // Pixel x of the row takes a coverage byte: kept as the larger with what is there, or blended.
  void Put1(const Row& row, int x, uint8_t value) const;
#if defined(__SSE2__)
  // Pixels x .. x + 3 take coverages 0..1, as Put1 does.
  void Put4(const Row& row, int x, __m128 c) const;
#endif

  DrawSurface* target_ = nullptr;
  bool direct_ = false;
  int full_ = 0;  // direct: the paint's weight 0..256
  uint32_t colour_ = 0;
  PixelView pixels_{};
  float scale_ = 1, dx_ = 0, dy_ = 0;
  int clipX0_ = 0, clipY0_ = 0, clipX1_ = 0, clipY1_ = 0;
  int width_ = 0;                  // coverage row length: the surface's width
  std::vector<uint8_t> coverage_;  // 0..255 per pixel; all zero between sets
  std::vector<Span> spans_;
  int boxX0_ = 0, boxY0_ = 0, boxX1_ = 0, boxY1_ = 0;
};
