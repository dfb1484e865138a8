#pragma once
// Drawing kept as pixels. Most of a screen's text and controls look the same frame after frame:
// the same words or faces, at the same size and scale and the same place within a device pixel.
// Such a drawing is rasterised once into a small image and blended onto the target from then on,
// which costs a fraction of rasterising it through Pango and cairo again. UI thread only.
#include <cstddef>
#include <string_view>

#include "platform/draw_surface.h"

// What a kept image is drawn with: draw onto `onto` (whose transform places the box) what the
// direct drawing would draw.
using KeptDraw = void (*)(DrawSurface& onto, const void* context);
// Draws, from its kept image, what draw(target, context) draws: pixels only inside the box
// (x, y, width, height under the target's transform) grown by pad device pixels, the same pixels
// whenever key is the same. False, with nothing drawn, when the target's transform is not a move
// with one positive scale, or this key was not drawn in this box, at this scale and place within a
// device pixel, in a recent frame: the caller then draws directly, and the image is made when it
// comes again.
bool DrawKeptImage(DrawSurface& target, std::string_view key, float x, float y, float width, float height, int pad,
                   KeptDraw draw, const void* context);
// Draws the line as DrawSurface::DrawTextLine draws it in the colour, from its kept image; false
// as DrawKeptImage.
bool DrawKeptTextLine(DrawSurface& target, const TextFormat& format, std::string_view utf8, Rgba colour, float x,
                      float y, float width, float height, TextAlign align);
// Once a frame: images not drawn for about a second are dropped.
void EvictIdleKeptImages();
// Drops every image: what follows draws as after a start (for comparing two runs of frames).
void ForgetKeptImages();
// How many images are kept or waiting to be made.
size_t KeptImageCount();
