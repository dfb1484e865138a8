// The visualiser's shared drawing primitives and the table of visuals.
#include <algorithm>
#include <cmath>

#include "broadcast/visual_draw.h"

VisualState Visuals;

namespace {

constexpr float kUnitScale = 1.0f / 16777216.0f;  // 2^-24
constexpr float kLevelFloor = 1e-5f;
constexpr float kLevelDb = 48.0f, kLevelRangeDb = 46.0f;
constexpr uint32_t kWhite = 0xFFFFFF;

Rgba ToRgba(uint32_t colour, float alpha) {
  return {((colour >> 16) & 0xFF) / 255.0f, ((colour >> 8) & 0xFF) / 255.0f, (colour & 0xFF) / 255.0f,
          std::clamp(alpha, 0.0f, 1.0f)};
}

struct VisualEntry {
  const wchar_t* name;
  void (*draw)(const VisualFrame&);
};
const VisualEntry kVisuals[kVisualCount] = {
    {L"RING", DrawRingVisual},         {L"BARS", DrawBarsVisual},
    {L"TUNNEL", DrawTunnelVisual},     {L"WARP", DrawWarpVisual},
    {L"WAVES", DrawWavesVisual},       {L"KALEIDOSCOPE", DrawKaleidoscopeVisual},
    {L"LASERS", DrawLasersVisual},     {L"SYNTHWAVE", DrawSynthwaveVisual},
    {L"SWARM", DrawSwarmVisual},       {L"COVER", DrawCoverVisual},
};

}  // namespace

float RandomUnit() { return static_cast<float>(Visuals.random() >> 8) * kUnitScale; }

float LevelOfMeter(float meter) {
  const float db = 20.0f * std::log10(std::max(meter, kLevelFloor));
  return std::clamp((db + kLevelDb) / kLevelRangeDb, 0.0f, 1.0f);
}

float BandLevel(const float* bands, float t) {
  const float x = std::clamp(t, 0.0f, 1.0f) * (kVisualBands - 1);
  const int i = std::min(static_cast<int>(x), kVisualBands - 1);
  const int j = std::min(i + 1, kVisualBands - 1);
  const float frac = x - static_cast<float>(i);
  return LevelOfMeter(bands[i] * (1 - frac) + bands[j] * frac);
}

uint32_t MixColor(uint32_t a, uint32_t b, float t) {
  t = std::clamp(t, 0.0f, 1.0f);
  uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const float ca = static_cast<float>((a >> shift) & 0xFF), cb = static_cast<float>((b >> shift) & 0xFF);
    out |= static_cast<uint32_t>(std::lround(ca * (1 - t) + cb * t)) << shift;
  }
  return out;
}

void SetVisualBrush(DrawSurface& target, uint32_t colour, float alpha) { target.SetColor(ToRgba(colour, alpha)); }

void DrawGlow(DrawSurface& target, float x, float y, float radius, uint32_t colour, float alpha) {
  if (!(radius > 0) || !(alpha > 0)) return;
  const GradientStop stops[2] = {{0.0f, ToRgba(colour, alpha)}, {1.0f, ToRgba(colour, 0.0f)}};
  GradientBrush brush(GradientBrush::Kind::Radial, stops, 2);
  brush.SetRadial(x, y, 0, 0, radius, radius);
  target.SetBrush(&brush);
  target.FillEllipse(x, y, radius, radius);
  target.SetBrush(nullptr);
}

void DrawNeonLine(DrawSurface& target, float x0, float y0, float x1, float y1, uint32_t colour, float alpha,
                  float width) {
  SetVisualBrush(target, colour, alpha * 0.12f);
  target.StrokeLine(x0, y0, x1, y1, width * 5.0f, LineCap::Round);
  SetVisualBrush(target, colour, alpha * 0.3f);
  target.StrokeLine(x0, y0, x1, y1, width * 2.2f, LineCap::Round);
  SetVisualBrush(target, MixColor(colour, kWhite, 0.45f), alpha);
  target.StrokeLine(x0, y0, x1, y1, width, LineCap::Round);
}

void FillVerticalGradient(DrawSurface& target, float x, float y, float w, float h, float y0, uint32_t colour0,
                          float y1, uint32_t colour1) {
  const GradientStop stops[2] = {{0.0f, ToRgba(colour0, 1)}, {1.0f, ToRgba(colour1, 1)}};
  GradientBrush brush(GradientBrush::Kind::Linear, stops, 2);
  brush.SetLinearPoints(0, y0, 0, y1);
  target.SetBrush(&brush);
  target.FillRect(x, y, w, h);
  target.SetBrush(nullptr);
}

void DrawVisual(int index, const VisualFrame& f) {
  kVisuals[index >= 0 && index < kVisualCount ? index : 0].draw(f);
}

const wchar_t* VisualName(int index) { return kVisuals[index >= 0 && index < kVisualCount ? index : 0].name; }
