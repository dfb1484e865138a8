#pragma once
// The ten visuals of the projector visualiser, the frame they are handed, the state they keep
// between frames, and the drawing primitives they share (glows, neon lines, polylines, colour
// mixing, the spectrum read on a 0..1 scale). UI thread.
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "platform/draw_surface.h"

inline constexpr int kVisualCount = 10;
inline constexpr int kStars = 500;
inline constexpr int kVisualBands = 16;

// What one visual draws from, for one frame.
struct VisualFrame {
  DrawSurface* target = nullptr;
  float w = 0, h = 0;     // DIPs
  float cx = 0, cy = 0;   // w x 0.5, h x 0.42
  float R = 0;            // min(w, h) x 0.19
  float dt = 0;           // seconds since the last frame
  float pulse = 0;        // the shown deck's beat pulse, 0..1
  float bass = 0;         // the bass envelope, 0..1
  float mid = 0, high = 0;
  uint32_t colourA = 0, colourB = 0;  // 0xRRGGBB
  bool beat = false;      // a beat starts in this frame
  const float* bands = nullptr;       // the 16 master band meters, linear, band 0 lowest
  const DrawBitmap* cover = nullptr;  // the shown track's cover art; null without
  uint32_t backdrop = 0;  // 0xRRGGBB: what the frame is cleared to, or what a visual that paints
                          // its own backdrop fills it with
};

struct Spark {
  float x, y, vx, vy, life;
  uint32_t colour;
};
struct TunnelRing {
  float z;
  int serial;
};
struct Star {
  float x, y, z;
};
struct SwarmParticle {
  float angle, radius, speed, size;
  int band;
};

// Everything the visuals keep between frames; it lives for the whole process, so closing and
// reopening the window leaves rings and stars where they were.
struct VisualState {
  std::mt19937 random{7};
  double elapsed = 0;       // seconds of visualiser frames
  float rotation = 0;       // the rotation phase
  float bassEnvelope = 0;
  std::vector<Spark> sparks;
  std::array<float, 48> barPeaks = {};
  std::vector<TunnelRing> rings;
  int ringCounter = 0;
  float spawnTimer = 0;
  std::vector<Star> stars;
  std::vector<SwarmParticle> swarm;
  float scroll = 0;
  float flash = 0;
};
extern VisualState Visuals;

// --- Primitives ---

// A uniform number in 0..1: the top 24 bits of one 32-bit draw of the visualiser's generator.
float RandomUnit();
// The spectrum at t (0..1) on a 0..1 scale: the band meters interpolated, then
// (20 log10(v) + 48) / 46 clamped.
float BandLevel(const float* bands, float t);
// A meter value on that same scale.
float LevelOfMeter(float meter);
// Per channel a x (1 - t) + b x t, rounded; t clamped to 0..1.
uint32_t MixColor(uint32_t a, uint32_t b, float t);
// The colour (0xRRGGBB) as the surface's colour, alpha clamped to 0..1.
Rgba VisualRgba(uint32_t colour, float alpha);
// The colour as the surface's paint, alpha clamped to 0..1.
void SetVisualBrush(DrawSurface& target, uint32_t colour, float alpha);
// A disc fading from the colour at alpha in the centre to nothing on the rim.
void DrawGlow(DrawSurface& target, float x, float y, float radius, uint32_t colour, float alpha);
// Lines, polylines, discs and circles in a colour at an alpha, drawn by the visualiser's own
// rasteriser where the target's transform allows it, else through the surface. The segments of
// one call are painted once where they overlap; a polyline bends with round joins.
void VisualLine(DrawSurface& target, float x0, float y0, float x1, float y1, float width, LineCap cap,
                uint32_t colour, float alpha);
void VisualLines(DrawSurface& target, const float* xyxy, int count, float width, LineCap cap, uint32_t colour,
                 float alpha);
void VisualPolyline(DrawSurface& target, const float* xy, int points, bool closed, float width, uint32_t colour,
                    float alpha);
void VisualDisc(DrawSurface& target, float cx, float cy, float r, uint32_t colour, float alpha);
void VisualCircle(DrawSurface& target, float cx, float cy, float r, float width, uint32_t colour, float alpha);
// Fills the whole target with the opaque backdrop (as Clear) and draws the glow over it, in one
// pass over the pixels where the transform allows.
void FillWithGlow(DrawSurface& target, uint32_t backdrop, float x, float y, float radius, uint32_t colour,
                  float alpha);
// The frame (w x h) cleared to the opaque backdrop, a vertical gradient from `top` at y 0 to
// `bottom` at skyBottom filled across it above skyBottom, and the glow drawn over that, in one
// pass over the rows the gradient touches; the rows below are left as they are, for the caller to
// cover with something opaque. False, nothing drawn, unless the transform is a plain uniform scale
// and shift and the frame covers the whole surface.
bool FillSkyWithGlow(DrawSurface& target, float w, float h, uint32_t backdrop, float skyBottom, uint32_t top,
                     uint32_t bottom, float x, float y, float radius, uint32_t colour, float alpha);
// A disc (user space) that something opaque covers once the visual is drawn, antialiasing margin
// taken off: glows, the Visual* shapes, neon lines and vertical gradients wholly inside it are
// not drawn. Radius 0: none.
void SetCoveredDisc(float cx, float cy, float radius);
// The line three times: wide and faint, narrower, then thin and whitened.
void DrawNeonLine(DrawSurface& target, float x0, float y0, float x1, float y1, uint32_t colour, float alpha,
                  float width);
// Fills a rectangle with a vertical gradient between two opaque colours, from y0 to y1.
void FillVerticalGradient(DrawSurface& target, float x, float y, float w, float h, float y0, uint32_t colour0,
                          float y1, uint32_t colour1);

// --- The visuals, in index order ---

void DrawRingVisual(const VisualFrame& f);
void DrawBarsVisual(const VisualFrame& f);
void DrawTunnelVisual(const VisualFrame& f);
void DrawWarpVisual(const VisualFrame& f);
void DrawWavesVisual(const VisualFrame& f);
void DrawKaleidoscopeVisual(const VisualFrame& f);
void DrawLasersVisual(const VisualFrame& f);
void DrawSynthwaveVisual(const VisualFrame& f);
void DrawSwarmVisual(const VisualFrame& f);
void DrawCoverVisual(const VisualFrame& f);
// The visual of an index (RING for one out of range) and the name its banner shows.
void DrawVisual(int index, const VisualFrame& f);
// True for a visual that fills the frame with f.backdrop itself: the frame need not be cleared.
bool VisualPaintsBackdrop(int index);
const wchar_t* VisualName(int index);
