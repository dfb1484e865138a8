#pragma once
// The video mix's per-pixel passes over opaque premultiplied ARGB words (cairo's ARGB32): a
// colour matrix, a blur through box passes on a smaller copy, cell averages for pixelation, a
// mirrored half and a channel split. Sources and destinations are distinct and of equal size
// unless a function says otherwise. UI thread (no shared state).
#include <cstdint>
#include <vector>

#include "platform/draw_surface.h"

// Rows R, G, B, A say how each input channel feeds the output R, G, B, A; the fifth row is an
// offset (0..1 per channel).
struct ColorMatrix {
  float m[5][4];
};
inline constexpr ColorMatrix kMonoMatrix{{{0.3f, 0.3f, 0.3f, 0}, {0.59f, 0.59f, 0.59f, 0},
                                          {0.11f, 0.11f, 0.11f, 0}, {0, 0, 0, 1}, {0, 0, 0, 0}}};
inline constexpr ColorMatrix kInvertMatrix{{{-1, 0, 0, 0}, {0, -1, 0, 0}, {0, 0, -1, 0}, {0, 0, 0, 1}, {1, 1, 1, 0}}};

// dst = the matrix applied to src. The source is opaque (every frame of the mix is), so the alpha
// row is not applied and alpha stays 0xFF.
void ApplyColorMatrix(const ColorMatrix& matrix, const PixelView& src, const PixelView& dst);

// Left half of src into dst as it is, the right half its mirror image.
void MirrorLeftHalf(const PixelView& src, const PixelView& dst);

// Red taken `shift` pixels to the right, blue `shift` to the left, green in place (each pass
// shifted and added over black); pixels beyond the edge give 0 for that channel.
void SplitChannels(const PixelView& src, const PixelView& dst, int shift);

// The colour of each of columns x rows cells of src (cell j spans src columns
// [j W / columns, (j + 1) W / columns)) into `cells`, row by row: the average of up to 4 x 4
// samples spread evenly over the cell (all its pixels when it is that small).
void AverageCells(const PixelView& src, int columns, int rows, std::vector<uint32_t>* cells);

// src shrunk by about `factor` (AverageCells into ceil(W / factor) x ceil(H / factor) cells) into
// `small`, then blurred by three
// box passes each way approximating a Gaussian of `sigma` small pixels. `scratch` is working space.
void BlurSmallCopy(const PixelView& src, int factor, float sigma, std::vector<uint32_t>* small,
                   std::vector<uint32_t>* scratch, int* smallWidth, int* smallHeight);

// The opaque src enlarged (or kept) onto dst's whole area, bilinear, its edge pixels extended:
// src pixel coordinates map to dst ones by x' = scaleX x + dx, y' = scaleY y + dy. Each dst
// pixel becomes (sample x weight + dst x keep) / 256 per colour channel, alpha 0xFF: black shows
// through what the two leave out (weight + keep <= 256; keep 0 does not read dst). False, dst untouched, when a scale is below 1 (a shrink would need a wider
// filter) or not finite.
bool EnlargeInto(const PixelView& src, float scaleX, float scaleY, float dx, float dy, const PixelView& dst,
                 uint32_t weight, uint32_t keep);

// A picture to enlarge onto a target: x' = scaleX x + dx, y' = scaleY y + dy, at a weight 0..256.
struct EnlargedPicture {
  PixelView src;
  float scaleX = 1, scaleY = 1, dx = 0, dy = 0;
  uint32_t weight = 256;
};
// Both pictures enlarged as EnlargeInto does and mixed in one pass over dst, which is not read:
// (a x a.weight + b x b.weight) / 256 per colour channel, alpha 0xFF. False, dst untouched, when
// either cannot be (see EnlargeInto) or the weights sum over 256.
bool EnlargeBothInto(const EnlargedPicture& a, const EnlargedPicture& b, const PixelView& dst);
