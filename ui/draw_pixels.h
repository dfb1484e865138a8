#pragma once
// The drawing layer's pixel writers: fills written straight into a surface's pixels where cairo
// would take several times longer (gradients over large areas, waveform columns). Each draws
// under the surface's current transform and clip, blending over what is there, and returns false
// when the transform is one it does not handle: the caller then draws through cairo. UI thread
// only.
#include <utility>
#include <vector>

#include "platform/draw_surface.h"

// The ellipse filled with its radial brush, whose ellipse must be this one (SoftGlow,
// FillRadialEllipse). Handles transforms that only scale and move.
bool FillRadialPixels(DrawSurface& target, float cx, float cy, float rx, float ry, const GradientBrush& brush);
// The rectangle, corners rounded by radius, filled with a linear brush that runs straight down or
// straight across. Handles transforms that only scale and move.
bool FillLinearBoxPixels(DrawSurface& target, float x, float y, float w, float h, float radius,
                         const GradientBrush& brush);
// Waveform columns as FillWaveColumns (ui/draw.h) describes them, with opacity in 0..1. Handles
// transforms that scale and move, and quarter turns (the upright deck strips); under the former a
// large lane's rows are shared among the draw workers.
bool FillColumnPixels(DrawSurface& target, const float* half, int first, int last, float x0, float centreY,
                      float extent, Rgba outer, Rgba inner, float opacity);
// One colour over the band of a rounded box's outline: the box centred on cx, cy with half sides
// hx, hy and corner radius radius (kept to the shorter half side), the band width wide and centred
// on the edge. A circle is a box whose half sides are its radius; a line with round caps is a box
// with one half side 0 and radius 0. Each pixel is covered by the part of the band across it, as
// though the edge ran straight past it. Handles transforms that move and scale alike on both axes.
bool StrokeRoundedBoxPixels(DrawSurface& target, float cx, float cy, float hx, float hy, float radius, float width,
                            Rgba colour);
// The rounded box filled in one colour, edge pixels covered as StrokeRoundedBoxPixels covers them.
// Same transforms.
bool FillRoundedBoxPixels(DrawSurface& target, float cx, float cy, float hx, float hy, float radius, Rgba colour);
// An arc of the circle about cx, cy with round caps, as DrawSurface::StrokeArc draws it, covered as
// StrokeRoundedBoxPixels covers its band. Handles transforms that move and scale alike, unflipped.
bool StrokeArcPixels(DrawSurface& target, float cx, float cy, float r, float startRad, float endRad, bool clockwise,
                     float width, Rgba colour);

// Runs of pixels that are not wholly transparent, row by row: row y's runs are
// spans[rowStart[y]] .. spans[rowStart[y + 1]] - 1, each [x0, x1) in the image's columns.
struct PixelRuns {
  std::vector<uint32_t> rowStart;  // height + 1 entries
  std::vector<std::pair<int, int>> spans;
};
// The runs of the image (rows width words apart) whose pixels are not 0.
void FindLitRuns(const uint32_t* pixels, int width, int height, PixelRuns* runs);

// A premultiplied image laid 1:1 over device pixels: its top-left pixel lands on the device pixel
// under the user point x, y. An opaque image (every alpha 255) drawn at full opacity replaces the
// pixels under it.
struct PixelImage {
  const uint32_t* pixels = nullptr;
  int width = 0, height = 0;  // rows are width words apart
  float x = 0, y = 0;
  bool opaque = false;
  // Optional: the only pixels that are not transparent, as runs (FindLitRuns). A light mostly
  // hidden under panels is then read and blended only where it shows.
  const PixelRuns* lit = nullptr;
};
// The images in order, each over what is there at its opacity (0..1), one device row at a time so
// every row is written while it is in cache; the rows are shared among the draw workers. Handles transforms that scale and move alike on both
// axes with every image's corner on a whole device pixel; returns false (drawing nothing) otherwise.
bool DrawPixelImages(DrawSurface& target, const PixelImage* images, const float* opacity, int count);
// Images are blended eight pixels a register where the processor has AVX2, four otherwise; both
// give the very same pixels. False forces four (to compare them); returns whether eight are used.
bool UseWideBlends(bool wide);

// A premultiplied image (rows width words apart) over the target's pixels with its top-left pixel
// on device pixel (left, top), inside the target's clip, ignoring the transform. On the calling
// thread alone: for small images drawn often (kept text).
void BlendImagePixels(DrawSurface& target, const uint32_t* pixels, int width, int height, int left, int top);
