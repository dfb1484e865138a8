#pragma once
// Cover pictures for drawing code. UI thread.
#include <memory>
#include <string>

#include "ui/draw.h"

// The track's cover as a bitmap of the current device, or null: none yet (the first request of a
// path queues its load; a later frame gets the picture), none at all, or an empty path. Call it
// every frame the picture is wanted; draw with DrawImage (the bitmap is at most 128 x 128).
std::shared_ptr<Bitmap> RequestArt(const std::wstring& path);
