// KALEIDOSCOPE, LASERS, SYNTHWAVE, SWARM and COVER.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "broadcast/visual_draw.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr uint32_t kWhite = 0xFFFFFF, kBlack = 0x000000;

float Frac(float v) { return v - std::floor(v); }

// The fully saturated colour of a hue (0..1).
uint32_t HueColour(float hue) {
  auto channel = [&](float n) {
    const float v = std::clamp(std::fabs(std::fmod(6 * hue + n, 6.0f) - 3) - 1, 0.0f, 1.0f);
    return static_cast<uint32_t>(std::lround(v * 255));
  };
  return channel(0) << 16 | channel(4) << 8 | channel(2);
}

}  // namespace

// ---- 5 KALEIDOSCOPE -------------------------------------------------------------------------------

void DrawKaleidoscopeVisual(const VisualFrame& f) {
  constexpr int kRings = 7, kSpokes = 12;
  DrawSurface& t = *f.target;
  const float elapsed = static_cast<float>(Visuals.elapsed);
  DrawGlow(t, f.cx, f.cy, 1.6f * f.R, f.colourA, f.pulse * 0.3f + 0.12f);
  float previous[kSpokes][2][2] = {};  // the ring inside: per spoke, per side, x and y
  for (int k = 0; k < kRings; ++k) {
    const float level = BandLevel(f.bands, k / 6.0f);
    const float radius = (k * 0.21f + 0.3f) * f.R * (f.bass * 0.12f + 1);
    const uint32_t colour = MixColor(HueColour(Frac(k * 0.08f + elapsed * 0.04f)), f.colourA, 0.35f);
    const float turn = (k % 2 == 0 ? 1 : -1) * elapsed * 0.15f;
    const float open = 0.8f * (kPi / 12) * std::sin((k * 0.13f + 0.4f) * elapsed + k);
    const float dot = level * f.R * 0.09f + 2.5f;
    float points[kSpokes][2][2];
    for (int j = 0; j < kSpokes; ++j) {
      for (int side = 0; side < 2; ++side) {
        const float a = 2 * kPi * j / kSpokes + turn + (side == 0 ? open : -open);
        const float x = f.cx + std::cos(a) * radius, y = f.cy + std::sin(a) * radius;
        points[j][side][0] = x;
        points[j][side][1] = y;
        if (k > 0)
          VisualLine(t, previous[j][side][0], previous[j][side][1], x, y, 1.5f, LineCap::Round, colour,
                     level * 0.35f + 0.12f);
        if (side == 1)
          VisualLine(t, points[j][0][0], points[j][0][1], x, y, 1, LineCap::Round, colour, level * 0.25f + 0.08f);
        DrawGlow(t, x, y, dot * 2.2f, colour, level * 0.12f + 0.06f);
        VisualDisc(t, x, y, dot, MixColor(colour, kWhite, 0.3f), level * 0.5f + 0.5f);
      }
    }
    std::copy(&points[0][0][0], &points[0][0][0] + kSpokes * 4, &previous[0][0][0]);
  }
}

// ---- 6 LASERS -------------------------------------------------------------------------------------

void DrawLasersVisual(const VisualFrame& f) {
  constexpr int kBeams = 7;
  DrawSurface& t = *f.target;
  VisualState& s = Visuals;
  s.scroll += (f.mid * 1.4f + 0.6f) * f.dt;
  s.flash = std::max(0.0f, s.flash - f.dt * 2.5f);
  if (f.beat) s.flash = 1;
  struct Emitter {
    float x, y, aim, spread;
    uint32_t colour;
  };
  const Emitter emitters[3] = {{f.cx, f.h + 8, -kPi / 2, 1.0f, f.colourA},
                               {-8, -8, kPi / 4, 0.55f, f.colourB},
                               {f.w + 8, -8, 3 * kPi / 4, 0.55f, f.colourB}};
  const float length = 1.3f * std::hypot(f.w, f.h);
  for (int e = 0; e < 3; ++e) {
    const Emitter& m = emitters[e];
    for (int j = 0; j < kBeams; ++j) {
      const float a = m.aim + (j / 6.0f - 0.5f) * m.spread * (s.flash * 0.7f + 1) +
                      0.25f * std::sin(j * 0.7f + s.scroll + e * 2.1f);
      const float level = BandLevel(f.bands, j / 6.0f);
      DrawNeonLine(t, m.x, m.y, m.x + std::cos(a) * length, m.y + std::sin(a) * length,
                   MixColor(m.colour, kWhite, s.flash * 0.5f), level * 0.45f + 0.25f + s.flash * 0.3f, 1.6f);
    }
    DrawGlow(t, m.x, m.y, s.flash * 50 + 30, m.colour, 0.6f);
  }
  if (f.pulse > 0.9f && f.bass > 0.65f) {
    SetVisualBrush(t, kWhite, 0.06f);
    t.FillRect(0, 0, f.w, f.h);
  }
}

// ---- 7 SYNTHWAVE ----------------------------------------------------------------------------------

void DrawSynthwaveVisual(const VisualFrame& f) {
  constexpr uint32_t kSkyTop = 0x05020F, kSkyHorizon = 0x3A0C4A, kPink = 0xFF3CAC, kSunTop = 0xFFD23F;
  constexpr uint32_t kSkyline = 0x0B0418, kFloor = 0x07020E;
  constexpr int kSkylinePoints = 64, kStripes = 7, kRows = 14, kColumns = 14;
  DrawSurface& t = *f.target;
  VisualState& s = Visuals;
  const float horizon = f.h * 0.58f;
  s.scroll += (f.bass * 1.1f + 0.45f) * f.dt;
  const float sun = (f.bass * 0.08f + 1.25f) * f.R, sunY = horizon - 0.35f * f.R;
  const float glow = f.pulse * 0.25f + 0.25f;
  // Whatever lies below the sky is covered by the floor.
  if (!FillSkyWithGlow(t, f.w, f.h, f.backdrop, horizon, kSkyTop, kSkyHorizon, f.cx, sunY, sun * 1.7f, kPink, glow)) {
    t.Clear(VisualRgba(f.backdrop, 1));
    FillVerticalGradient(t, 0, 0, f.w, horizon, 0, kSkyTop, horizon, kSkyHorizon);
    DrawGlow(t, f.cx, sunY, sun * 1.7f, kPink, glow);
  }
  {
    const GradientStop stops[2] = {{0, VisualRgba(kSunTop, 1)}, {1, VisualRgba(kPink, 1)}};
    GradientBrush brush(GradientBrush::Kind::Linear, stops, 2);
    brush.SetLinearPoints(0, sunY - sun, 0, sunY + 0.6f * sun);
    t.SetBrush(&brush);
    t.FillEllipse(f.cx, sunY, sun, sun);
    t.SetBrush(nullptr);
  }
  const float stripeTop = sunY - 0.45f * sun, stripeSpan = horizon - stripeTop;
  for (int n = 0; n < kStripes; ++n) {
    const float top = stripeTop + (n + Frac(s.scroll * 0.5f)) * stripeSpan / kStripes;
    const float height = 2 + 9 * (top - stripeTop) / stripeSpan;
    FillVerticalGradient(t, f.cx - sun - 2, top, 2 * sun + 4, height, 0, kSkyTop, horizon, kSkyHorizon);
  }

  float xy[2 * (kSkylinePoints + 2)];
  xy[0] = -2;
  xy[1] = horizon;
  for (int i = 0; i < kSkylinePoints; ++i) {
    const float x = f.w * i / (kSkylinePoints - 1);
    const float d = std::fabs(x - f.cx) / (f.w * 0.5f);
    xy[2 * (i + 1)] = x;
    xy[2 * (i + 1) + 1] = horizon - (BandLevel(f.bands, d) * f.h * 0.17f + f.h * 0.02f) * (d * 0.85f + 0.15f);
  }
  xy[2 * (kSkylinePoints + 1)] = f.w + 2;
  xy[2 * (kSkylinePoints + 1) + 1] = horizon;
  SetVisualBrush(t, kSkyline, 1);
  t.FillPolygon(xy, kSkylinePoints + 2);
  VisualPolyline(t, xy, kSkylinePoints + 2, true, 6, f.colourA, 0.2f);
  VisualPolyline(t, xy, kSkylinePoints + 2, true, 1.8f, MixColor(f.colourA, kWhite, 0.3f), 0.85f);

  SetVisualBrush(t, kFloor, 1);
  t.FillRect(0, horizon, f.w, f.h - horizon);
  const uint32_t grid = MixColor(kPink, f.colourB, 0.4f);
  for (int n = 0; n < kRows; ++n) {
    const float u = (n + Frac(s.scroll)) / kRows;
    const float y = horizon + (f.h - horizon) * u * u;
    VisualLine(t, 0, y, f.w, y, u * 1.5f + 1, LineCap::Flat, grid, u * 0.7f + 0.15f);
  }
  for (int m = -kColumns; m <= kColumns; ++m)
    VisualLine(t, f.cx + m * f.w * 0.012f, horizon, f.cx + m * f.w * 0.11f, f.h, 1.2f, LineCap::Flat, grid, 0.55f);
  DrawNeonLine(t, 0, horizon, f.w, horizon, kPink, f.pulse * 0.4f + 0.6f, 2);
}

// ---- 8 SWARM --------------------------------------------------------------------------------------

void DrawSwarmVisual(const VisualFrame& f) {
  constexpr int kParticles = 360;
  DrawSurface& t = *f.target;
  VisualState& s = Visuals;
  while (static_cast<int>(s.swarm.size()) < kParticles) {
    const int i = static_cast<int>(s.swarm.size());
    SwarmParticle p;
    p.angle = RandomUnit() * 2 * kPi;
    p.radius = 0.35f + RandomUnit() * 0.9f;
    p.speed = (0.15f + RandomUnit() * 0.5f) * (i % 3 == 0 ? -1 : 1);
    p.size = 1.2f + RandomUnit() * 1.8f;
    p.band = i % kVisualBands;
    s.swarm.push_back(p);
  }
  s.flash = std::max(0.0f, s.flash - f.dt * 1.8f);
  if (f.beat && f.bass > 0.45f) s.flash = 1;
  DrawGlow(t, f.cx, f.cy, 1.5f * f.R, f.colourA, f.pulse * 0.2f + 0.12f);
  for (SwarmParticle& p : s.swarm) {
    const float level = LevelOfMeter(f.bands[p.band]);
    p.angle += p.speed * f.dt * (2 * f.bass + 1) / p.radius;
    const float d = (s.flash * 0.5f * p.radius + level * 0.35f + 1) * p.radius * f.R;
    const float x = f.cx + std::cos(p.angle) * d * 1.3f, y = f.cy + std::sin(p.angle) * d;
    const float back = p.angle - (p.speed < 0 ? -0.12f : 0.12f);
    const uint32_t colour = MixColor(f.colourA, f.colourB, p.band / 15.0f);
    VisualLine(t, f.cx + std::cos(back) * d * 1.3f, f.cy + std::sin(back) * d, x, y, p.size, LineCap::Round, colour,
               level * 0.25f);
    const float core = (level * 1.2f + 1.3f) * p.size;
    DrawGlow(t, x, y, core * 2.5f, colour, level * 0.1f + 0.05f);
    VisualDisc(t, x, y, core, MixColor(colour, kWhite, 0.35f), level * 0.5f + 0.5f);
  }
}

// ---- 9 COVER --------------------------------------------------------------------------------------

void DrawCoverVisual(const VisualFrame& f) {
  if (!f.cover) {
    DrawRingVisual(f);
    return;
  }
  DrawSurface& t = *f.target;
  const DrawBitmap& cover = *f.cover;
  const float scale = std::max(f.w / cover.width(), f.h / cover.height()) * (f.pulse * 0.05f + 1.1f);
  const float bw = cover.width() * scale, bh = cover.height() * scale;
  t.DrawBitmapIn(cover, f.cx - bw * 0.5f, f.h * 0.5f - bh * 0.5f, bw, bh, 0.4f, 0);
  SetVisualBrush(t, kBlack, 0.55f);
  t.FillRect(0, 0, f.w, f.h);
  DrawGlow(t, f.cx, f.cy, 2.2f * f.R, f.colourA, f.pulse * 0.35f + 0.15f);

  const float side = std::min(f.w, f.h) * 0.4f * (f.pulse * 0.03f + 1);
  const float x = f.cx - side * 0.5f, y = f.cy - side * 0.5f;
  for (int i = 3; i >= 1; --i) {
    SetVisualBrush(t, f.colourA, (f.pulse * 0.2f + 0.12f) / i);
    const float out = 4.0f * i;
    t.StrokeRoundedRect(x - out, y - out, side + 2 * out, side + 2 * out, 0, 3);
  }
  t.DrawBitmapIn(cover, x, y, side, side, 1, 0);
  SetVisualBrush(t, MixColor(f.colourA, kWhite, 0.4f), 0.9f);
  t.StrokeRoundedRect(x, y, side, side, 0, 2);
  // The band bars stand on the square's lower edge, up to a third of its height.
  const float bar = side / kVisualBands;
  for (int b = 0; b < kVisualBands; ++b) {
    const float level = LevelOfMeter(f.bands[b]);
    const float height = level * side * 0.33f;
    SetVisualBrush(t, MixColor(f.colourA, f.colourB, b / 15.0f), 0.85f);
    t.FillRect(x + b * bar + 1, y + side - height, bar - 2, height);
  }
}
