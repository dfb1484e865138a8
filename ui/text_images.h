#pragma once
// Text kept as pixels. Most of a screen's text is drawn the same way frame after frame: the same
// words in the same format, box, colour and scale, at the same place within a device pixel. Such
// a line is rasterised once into a small image and blended onto the target from then on, which
// costs a fraction of rasterising it through Pango and cairo again. UI thread only.
#include <cstddef>
#include <string_view>

#include "platform/draw_surface.h"

// Draws the line as DrawSurface::DrawTextLine draws it in the colour, from its kept image. False,
// with nothing drawn, when the target's transform is not a move with one positive scale, or the
// line was not drawn this way in a recent frame: the caller then draws it directly, and the line
// is kept when it comes again.
bool DrawKeptTextLine(DrawSurface& target, const TextFormat& format, std::string_view utf8, Rgba colour, float x,
                      float y, float width, float height, TextAlign align);
// Once a frame: lines not drawn for about a second are dropped.
void EvictIdleTextImages();
// How many lines are kept or waiting to be kept.
size_t KeptTextLineCount();
