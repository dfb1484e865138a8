// RING, BARS, TUNNEL, WARP and WAVES.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "broadcast/visual_draw.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr uint32_t kWhite = 0xFFFFFF;

// Drops the entries that `dead` picks, keeping the others in order, without reallocating.
template <typename T, typename Dead>
void Compact(std::vector<T>& items, Dead dead) {
  items.erase(std::remove_if(items.begin(), items.end(), dead), items.end());
}

}  // namespace

// ---- 0 RING ---------------------------------------------------------------------------------------

void DrawRingVisual(const VisualFrame& f) {
  constexpr int kSpokes = 96, kSparksPerBeat = 14;
  constexpr uint32_t kDiscFill = 0x10131B;
  DrawSurface& t = *f.target;
  VisualState& s = Visuals;
  DrawGlow(t, f.cx, f.cy, (f.bass * 0.5f + 2.2f) * f.R, f.colourA, f.pulse * 0.35f + 0.18f);

  // Each half's spokes share their paint and never overlap: one stroke per half.
  const float inner = 1.05f * f.R;
  float spokes[kSpokes * 4];
  for (int i = 0; i < kSpokes; ++i) {
    const float u = static_cast<float>(i) / kSpokes;
    const float level = BandLevel(f.bands, u < 0.5f ? 2 * u : 2 * (1 - u));
    const float angle = 2 * kPi * u + s.rotation;
    const float outer = inner + 6 + level * f.R * 0.9f;
    const float c = std::cos(angle), sn = std::sin(angle);
    float* seg = spokes + 4 * i;
    seg[0] = f.cx + c * inner, seg[1] = f.cy + sn * inner, seg[2] = f.cx + c * outer, seg[3] = f.cy + sn * outer;
  }
  VisualLines(t, spokes, kSpokes / 2, 4, LineCap::Flat, f.colourA, 1);
  VisualLines(t, spokes + 2 * kSpokes, kSpokes / 2, 4, LineCap::Flat, f.colourB, 1);

  const float r1 = (f.pulse * 0.08f + 1) * f.R, r2 = ((1 - f.pulse) * 0.6f + 1.3f) * f.R;
  VisualCircle(t, f.cx, f.cy, r1, 2, kWhite, f.pulse * 0.5f + 0.25f);
  VisualCircle(t, f.cx, f.cy, r2, 3, kWhite, f.pulse * 0.5f + 0.25f);

  const float disc = 0.92f * f.R;
  if (f.cover) {
    // The cover turns with the rotation phase, 40 degrees per unit.
    const float side = 2 * disc;
    const float sx = side / f.cover->width(), sy = side / f.cover->height();
    const float a = s.rotation * 40.0f * kPi / 180.0f, c = std::cos(a), sn = std::sin(a);
    Affine m{sx * c, sx * sn, -sy * sn, sy * c, 0, 0};
    // Centre the bitmap on the disc: its middle maps to (cx, cy).
    const float hx = f.cover->width() * 0.5f, hy = f.cover->height() * 0.5f;
    m.dx = f.cx - (m.m11 * hx + m.m21 * hy);
    m.dy = f.cy - (m.m12 * hx + m.m22 * hy);
    t.FillEllipseWithBitmap(*f.cover, m, f.cx, f.cy, disc, disc, 1);
  } else {
    VisualDisc(t, f.cx, f.cy, disc, kDiscFill, 1);
    VisualDisc(t, f.cx, f.cy, disc * 0.25f, f.colourA, 0.9f);
  }
  VisualCircle(t, f.cx, f.cy, disc, 3, f.colourA, 1);

  if (f.beat && s.bassEnvelope > 0.5f) {
    for (int i = 0; i < kSparksPerBeat; ++i) {
      const float angle = RandomUnit() * 2 * kPi;
      const float speed = 180 + RandomUnit() * 360;
      const uint32_t colour = RandomUnit() < 0.5f ? kWhite : f.colourA;
      const float c = std::cos(angle), sn = std::sin(angle);
      s.sparks.push_back({f.cx + c * inner, f.cy + sn * inner, c * speed, sn * speed, 1.0f, colour});
    }
  }
  const float keep = std::pow(0.3f, f.dt);
  for (Spark& p : s.sparks) {
    p.x += p.vx * f.dt;
    p.y += p.vy * f.dt;
    p.vx *= keep;
    p.vy *= keep;
    p.life -= f.dt * 1.2f;
  }
  Compact(s.sparks, [](const Spark& p) { return p.life <= 0; });
  for (const Spark& p : s.sparks) VisualDisc(t, p.x, p.y, 2.5f, p.colour, p.life);
}

// ---- 1 BARS ---------------------------------------------------------------------------------------

void DrawBarsVisual(const VisualFrame& f) {
  constexpr int kBars = 48;
  DrawSurface& t = *f.target;
  const float span = 0.92f * f.w, b = span / kBars, gap = std::max(2.0f, b * 0.18f);
  const float left = (f.w - span) * 0.5f, floorY = f.h * 0.6f;
  for (int i = 0; i < kBars; ++i) {
    const float level = BandLevel(f.bands, std::fabs(i + 0.5f - kBars / 2) / (kBars / 2));
    float& peak = Visuals.barPeaks[static_cast<size_t>(i)];
    peak = std::max(peak - f.dt * 0.5f, level);
    const float height = f.h * 0.44f * level + 3;
    const float x = left + i * b + gap * 0.5f, width = b - gap;
    SetVisualBrush(t, f.colourA, level * 0.15f + 0.1f);
    t.FillRect(x - 2, floorY - height - 2, width + 4, height + 4);
    SetVisualBrush(t, MixColor(f.colourA, kWhite, level * 0.25f), level * 0.45f + 0.55f);
    t.FillRect(x, floorY - height, width, height);
    SetVisualBrush(t, f.colourA, level * 0.1f + 0.08f);
    t.FillRect(x, floorY + 4, width, height * 0.3f);
    SetVisualBrush(t, kWhite, peak * 0.6f + 0.4f);
    t.FillRect(x, floorY - (f.h * 0.44f * peak + 3) - 7, width, 3);
  }
  SetVisualBrush(t, kWhite, f.pulse * 0.4f + 0.12f);
  t.StrokeLine(left, floorY, left + span, floorY, 1.5f, LineCap::Flat);
}

// ---- 2 TUNNEL -------------------------------------------------------------------------------------

void DrawTunnelVisual(const VisualFrame& f) {
  constexpr int kFirstRings = 9;
  constexpr float kDeepest = 1.25f;
  DrawSurface& t = *f.target;
  VisualState& s = Visuals;
  if (s.rings.empty())
    for (int i = 0; i < kFirstRings; ++i) s.rings.push_back({1.1f - i * 0.12f, s.ringCounter++});
  s.spawnTimer -= f.dt;
  if (f.beat || s.spawnTimer <= 0) {
    s.rings.push_back({0.02f, s.ringCounter++});
    s.spawnTimer = f.beat ? 0.9f : 0.45f;
  }
  for (TunnelRing& r : s.rings) r.z += (f.bass * 0.6f + 0.3f) * f.dt * (r.z + 0.35f);
  Compact(s.rings, [](const TunnelRing& r) { return r.z > kDeepest; });

  const float reach = std::hypot(f.w, f.h) * 0.62f;
  const float turn = static_cast<float>(s.elapsed) * 0.25f;
  SetVisualBrush(t, f.colourA, f.mid * 0.08f + 0.07f);
  for (int k = 0; k < 6; ++k) {
    const float a = k * kPi / 3 + turn;
    t.StrokeLine(f.cx, f.cy, f.cx + std::cos(a) * reach, f.cy + std::sin(a) * reach, 1, LineCap::Flat);
  }
  for (const TunnelRing& r : s.rings) {
    const float radius = r.z * r.z * reach, spin = r.serial * 0.2f + turn;
    const float alpha = (f.mid * 0.45f + 0.55f) * std::min(1.0f, 5 * r.z) * std::clamp((kDeepest - r.z) / 0.35f, 0.0f, 1.0f);
    const uint32_t colour = r.serial % 2 == 0 ? f.colourA : f.colourB;
    for (int k = 0; k < 6; ++k) {
      const float a0 = spin + k * kPi / 3, a1 = spin + (k + 1) * kPi / 3;
      DrawNeonLine(t, f.cx + std::cos(a0) * radius, f.cy + std::sin(a0) * radius, f.cx + std::cos(a1) * radius,
                   f.cy + std::sin(a1) * radius, colour, alpha, 5 * r.z + 1);
    }
  }
}

// ---- 3 WARP ---------------------------------------------------------------------------------------

void DrawWarpVisual(const VisualFrame& f) {
  constexpr float kMargin = 50;
  DrawSurface& t = *f.target;
  VisualState& s = Visuals;
  while (static_cast<int>(s.stars.size()) < kStars) {
    const float x = RandomUnit() * 2 - 1, y = RandomUnit() * 2 - 1;
    s.stars.push_back({x, y, 0.05f + RandomUnit() * 0.95f});
  }
  FillWithGlow(t, f.backdrop, f.cx, f.cy, std::max(f.w, f.h) * 0.5f, f.colourA, f.pulse * 0.14f + 0.06f);
  const float speed = f.bass * 0.9f + 0.1f + f.pulse * 0.4f;
  const float scale = std::max(f.w, f.h) * 0.35f;
  auto project = [&](const Star& st, float z, float* x, float* y) {
    *x = st.x / std::max(z, 0.01f) * scale + f.cx;
    *y = st.y / std::max(z, 0.01f) * scale + f.cy;
  };
  for (int i = 0; i < kStars; ++i) {
    Star& st = s.stars[static_cast<size_t>(i)];
    st.z -= speed * f.dt;
    float x, y;
    project(st, st.z, &x, &y);
    if (st.z <= 0.02f || x < -kMargin || y < -kMargin || x > f.w + kMargin || y > f.h + kMargin) {
      st.x = RandomUnit() * 2 - 1;
      st.y = RandomUnit() * 2 - 1;
      st.z = 0.5f + RandomUnit() * 0.5f;
      project(st, st.z, &x, &y);
    }
    float tailX, tailY;
    project(st, st.z + speed * 0.12f + 0.03f, &tailX, &tailY);
    const int n = i + 1;
    const uint32_t colour = n % 7 == 0 ? f.colourA : (n % 7 == 1 && n > 1) ? f.colourB : kWhite;
    VisualLine(t, tailX, tailY, x, y, (1 - st.z) * 2.6f + 0.6f, LineCap::Round, colour, (1 - st.z) * 1.2f);
  }
}

// ---- 4 WAVES --------------------------------------------------------------------------------------

void DrawWavesVisual(const VisualFrame& f) {
  constexpr int kWaves = 6, kSegments = 120;
  DrawSurface& t = *f.target;
  VisualState& s = Visuals;
  s.scroll += (f.bass * 1.6f + 0.8f) * f.dt;
  float xy[2 * (kSegments + 1)];
  for (int k = 0; k < kWaves; ++k) {
    const float level = BandLevel(f.bands, (k + 0.5f) / kWaves);
    const float phase = (k * 0.17f + 0.6f) * s.scroll + k * 1.3f;
    const float freq = k * 0.45f + 1.2f;
    const float amplitude = (level * 0.16f + 0.03f) * f.h * (f.pulse * 0.25f + 1);
    for (int i = 0; i <= kSegments; ++i) {
      const float u = static_cast<float>(i) / kSegments;
      const float wave = std::sin(2 * kPi * freq * u + phase) + 0.35f * std::sin(4.7f * freq * u + 1.7f * phase);
      xy[2 * i] = u * f.w;
      xy[2 * i + 1] = f.h * 0.45f + wave * (0.7f * std::sin(kPi * u) + 0.3f) * amplitude;
    }
    const uint32_t colour = MixColor(f.colourA, f.colourB, k / 5.0f);
    VisualPolyline(t, xy, kSegments + 1, false, 14, colour, level * 0.1f + 0.06f);
    VisualPolyline(t, xy, kSegments + 1, false, 5, colour, level * 0.2f + 0.25f);
    VisualPolyline(t, xy, kSegments + 1, false, 2, MixColor(colour, kWhite, 0.4f), level * 0.4f + 0.6f);
  }
}
