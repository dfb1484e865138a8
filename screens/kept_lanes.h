#pragma once
// A lane's body (its waveform, grid, markers and frame, without the playhead and status chip) kept
// as a whole frame drew it: its device pixels and the glows it queued. A frame drawn in small parts
// for something else (the other deck's motion, whose glows reach over a paused lane) copies the
// body back instead of drawing it again, while what it is drawn from holds. UI thread only.
#include <cstddef>
#include <cstdint>

#include "base/track.h"
#include "platform/draw_surface.h"

// What a lane's body is drawn from beyond what the main screen's signature folds (a change of any
// of that draws a whole frame, which keeps the body afresh).
struct LaneKey {
  const Track* track = nullptr;
  const WavePoint* waveform = nullptr;  // the track's summary, which analysis may replace
  size_t wavePoints = 0;
  double position = 0, slipPosition = 0, secondsPerPixel = 0;
  float pulse = 0;
  float x = 0, y = 0, w = 0, h = 0;  // the lane, DIPs
  Affine device;  // the frame's transform to device pixels
  int frameWidth = 0, frameHeight = 0;
  size_t phrases = 0, memoryCues = 0;
  bool operator==(const LaneKey&) const = default;
};

// Draws deck `deck`'s lane body with draw(context), or from its kept pixels and glows. The body
// must stay inside the lane and round only its corners (radius, DIPs) over what lies under it:
// a corner whose underlay changed since is drawn afresh inside its square alone. A whole frame
// keeps the body only when asked (`keep`): a lane that moves every frame, or whose screen draws no
// frames in parts, is not worth the copy.
void DrawLaneBodyKept(int deck, const LaneKey& key, float radius, bool keep, void (*draw)(const void* context),
                      const void* context);
