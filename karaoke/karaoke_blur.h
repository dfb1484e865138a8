#pragma once
// The background picture's blur: a Gaussian approximated by three box passes over a copy scaled
// down by a whole factor (the blur hides the lost detail), with the edge pixels repeated (a hard
// border). The copy is cached per picture and per deviation quantised to half a pixel, so a slowly
// drifting deviation recomputes it only now and then. UI thread.
#include <cstdint>
#include <vector>

#include "karaoke/karaoke_draw.h"

// The pixels blurred with the deviation (in their own pixels), cached in the state by `source` and
// the deviation's step; null when there are no pixels or the deviation is not positive and finite.
const DrawBitmap* BlurredPicture(KaraokeDrawState& state, const PixelView& pixels, int64_t source, float deviation);

// In place: a box-approximated Gaussian of the deviation (pixels) over premultiplied ARGB pixels,
// edges repeated. Nothing for a deviation below half a pixel.
void BoxBlurPixels(std::vector<uint32_t>* pixels, int width, int height, float deviation);
