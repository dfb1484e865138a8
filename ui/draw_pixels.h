#pragma once
// The drawing layer's pixel writers: fills written straight into a surface's pixels where cairo
// would take several times longer (gradients over large areas, waveform columns). Each draws
// under the surface's current transform and clip, blending over what is there, and returns false
// when the transform is one it does not handle: the caller then draws through cairo. UI thread
// only.
#include "platform/draw_surface.h"

// The ellipse filled with its radial brush, whose ellipse must be this one (SoftGlow,
// FillRadialEllipse). Handles transforms that only scale and move.
bool FillRadialPixels(DrawSurface& target, float cx, float cy, float rx, float ry, const GradientBrush& brush);
// The rectangle, corners rounded by radius, filled with a linear brush that runs straight down or
// straight across. Handles transforms that only scale and move.
bool FillLinearBoxPixels(DrawSurface& target, float x, float y, float w, float h, float radius,
                         const GradientBrush& brush);
// Waveform columns as FillWaveColumns (ui/draw.h) describes them, with opacity in 0..1. Handles
// transforms that scale and move, and quarter turns (the upright deck strips).
bool FillColumnPixels(DrawSurface& target, const float* half, int first, int last, float x0, float centreY,
                      float extent, Rgba outer, Rgba inner, float opacity);
