// Drawing speed of a 1920 x 1080 DJ-like frame: top bar, two waveform lanes written into the
// pixels, two deck panels, the mixer and a browser list; about 120 labels and 37 glows. The
// whole frame is timed, and each kind of work alone: widgets, text, waveforms, the glow pass.
// Times are the drawing thread's CPU time, so that other work on a shared machine does not count.
// With VELDMIX_DRAW_SAMPLE=path.png the frame is also written there once.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "base/palette.h"
#include "engine/deck_view.h"
#include "ui/draw.h"
#include "ui/glow.h"
#include "ui/offscreen.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr unsigned kWidgets = 1, kText = 2, kWaves = 4, kGlows = 8, kAll = 15;
constexpr double kFrameSeconds = 0.015;

struct Parts {
  unsigned mask;
  bool widgets() const { return mask & kWidgets; }
  bool text() const { return mask & kText; }
  bool waves() const { return mask & kWaves; }
  bool glows() const { return mask & kGlows; }
};

Color Deck(int deck) { return ColorOf(deck == 0 ? Pal.DeckA : Pal.DeckB); }

void Label(const Parts& p, std::wstring_view text, Rc r, float size, Color c, int align = kAlignLeft,
           bool bold = false, int font = kFontSegoeUi) {
  if (p.text()) DrawText(text, r, size, c, align, bold, font);
}

void Glow(const Parts& p, GlowShape&& s) {
  if (p.glows()) QueueGlow(std::move(s));
}

GlowShape Outline(Rc r, float radius, float width, Color c) {
  GlowShape s;
  s.kind = kGlowOutlinedRoundedRect;
  s.g1 = r.x, s.g2 = r.y, s.g3 = r.Right(), s.g4 = r.Bottom(), s.g5 = radius, s.g6 = width;
  s.color = c;
  return s;
}

// A button in the widget look: gradient body, outline, label; lit ones glow.
void Button(const Parts& p, Rc r, std::wstring_view label, Color c, bool lit, float size = 11) {
  const float radius = std::min(r.h * 0.25f, 6.0f);
  if (p.widgets()) {
    FillGradientRoundedRect(r, radius, ColorOf(0x222630), ColorOf(0x181B22));
    if (lit) {
      StrokeRoundedRect(r.Inset(0.75f, 0.75f), radius, Lighten(c, 0.25f), 1.5f);
    } else {
      StrokeRoundedRect(r.Inset(0.5f, 0.5f), radius, ColorOf(0x2B303C), 1);
      DrawLine(r.x + radius, r.y + 1, r.Right() - radius, r.y + 1, Color{1, 1, 1, 0.05f}, 1);
    }
  }
  if (lit) Glow(p, Outline(r, radius, 2, WithAlpha(c, 0.6f)));
  Label(p, label, r, size, lit ? Lighten(c, 0.35f) : ColorOf(Pal.Text), kAlignCenter, true, kFontBahnschrift);
}

void Knob(const Parts& p, float cx, float cy, float r, float value, Color c, std::wstring_view label) {
  const float end = -135 + 270 * value;
  if (p.widgets()) {
    DrawArc(cx, cy, r, -135, 135, ColorOf(Pal.Panel3), 3.5f);
    DrawArc(cx, cy, r, value < 0.5f ? end : 0, value < 0.5f ? 0 : end, c, 3.5f);
    FillRadialEllipse(cx, cy, r - 6, ColorOf(0x3A4050), ColorOf(0x161920), -0.3f, -0.4f);
    const float t = end * static_cast<float>(M_PI) / 180;
    DrawLine(cx + (r - 14) * std::sin(t), cy - (r - 14) * std::cos(t), cx + (r - 7) * std::sin(t),
             cy - (r - 7) * std::cos(t), ColorOf(Pal.Text), 2);
  }
  if (std::fabs(value - 0.5f) > 0.02f) {
    GlowShape g;
    g.kind = kGlowArc;
    g.g1 = cx, g.g2 = cy, g.g3 = r, g.g4 = value < 0.5f ? end : 0, g.g5 = value < 0.5f ? 0 : end, g.g6 = 3.5f;
    g.color = WithAlpha(c, 0.7f);
    Glow(p, std::move(g));
  }
  Label(p, label, Rc{cx - 30, cy + r + 2, 60, 14}, 9.5f, ColorOf(Pal.Dim), kAlignCenter, true, kFontBahnschrift);
}

// Level meter of `n` segments from the bottom of r; the top lit segment glows.
void Meter(const Parts& p, Rc r, float level, int n) {
  const float seg = r.h / n;
  const int lit = static_cast<int>(level * n);
  if (p.widgets()) {
    for (int i = 0; i < n; ++i) {
      const Color c = i >= n - 2 ? ColorOf(Pal.Red) : i >= n - 6 ? ColorOf(Pal.Yellow) : ColorOf(Pal.Green);
      FillRect(Rc{r.x, r.Bottom() - (i + 1) * seg + 1, r.w, seg - 2}, i < lit ? c : WithAlpha(c, 0.12f));
    }
  }
  if (lit > 0) {
    GlowShape g;
    g.kind = kGlowFilledRoundedRect;
    g.g1 = r.x, g.g2 = r.Bottom() - lit * seg + 1, g.g3 = r.Right(), g.g4 = r.Bottom(), g.g5 = 1;
    g.color = ColorOf(Pal.Green, 0.35f);
    Glow(p, std::move(g));
  }
}

// A synthetic track: three band levels at time t.
void Bands(double t, float* low, float* mid, float* high) {
  const double beat = std::fmod(t * 2.1333, 1.0);
  const double kick = std::exp(-beat * 7);
  const double phrase = 0.65 + 0.35 * std::sin(t * 0.21);
  const double n = std::sin(t * 91.7) * std::sin(t * 37.3 + 1.3);
  *low = static_cast<float>(std::clamp(phrase * (0.35 + 0.6 * kick + 0.08 * n), 0.0, 1.0));
  *mid = static_cast<float>(std::clamp(phrase * (0.45 + 0.25 * std::fabs(n) + 0.2 * std::sin(t * 5.3)), 0.0, 1.0));
  *high = static_cast<float>(std::clamp(0.3 + 0.5 * std::fabs(std::sin(t * 163.1 + n)) * (1 - kick * 0.5), 0.0, 1.0));
}

struct Lane {
  std::vector<float> low, mid, high;
};
Lane Lanes[2];

void Waveform(const Parts& p, int deck, Rc r, double pos) {
  const Color dc = Deck(deck);
  const float cx = r.CenterX(), cy = r.CenterY(), a = r.h / 2 - 5;
  if (p.widgets()) {
    FillGradientRoundedRect(r, 6, ColorOf(0x0C0F17), ColorOf(0x05060A));
    FillGradientRoundedRect(Rc{r.x, r.y, r.w, r.h / 2}, 6, Color{1, 1, 1, 0.03f}, Color{1, 1, 1, 0});
    StrokeRoundedRect(Rc{r.x + 0.5f, r.y + 0.5f, r.w - 1, r.h - 1}, 6, WithAlpha(dc, 0.3f), 1);
  }
  Glow(p, Outline(r, 6, 1.5f, WithAlpha(dc, 0.2f)));
  PushClip(r);
  const double spp = 8.0 / r.w;
  if (p.widgets()) {
    const double beat_len = 60.0 / 128;
    const double t0 = pos - (cx - r.x) * spp;
    for (double b = std::ceil(t0 / beat_len); b * beat_len < pos + (r.Right() - cx) * spp; ++b) {
      const float sx = static_cast<float>((b * beat_len - pos) / spp + cx);
      if (static_cast<long>(b) % 4 == 0)
        DrawLine(sx, r.y + 3, sx, r.Bottom() - 3, Color{1, 1, 1, 0.14f}, 1);
      else
        DrawLine(sx, r.y + 2, sx, r.y + 7, Color{1, 1, 1, 0.22f}, 1);
    }
  }
  if (p.waves()) {
    Lane& lane = Lanes[deck];
    const int n = static_cast<int>(r.w);
    lane.low.resize(n), lane.mid.resize(n), lane.high.resize(n);
    for (int i = 0; i < n; ++i) {
      const double t = (i + r.x - cx) * spp + pos;
      float l, m, h;
      Bands(t, &l, &m, &h);
      const bool inside = t >= 0;
      lane.low[i] = inside ? std::max(0.4f, l * a) : -1;
      lane.mid[i] = inside ? std::max(0.4f, m * a * 0.66f) : -1;
      lane.high[i] = inside ? std::max(0.4f, h * a * 0.3f) : -1;
    }
    for (int half = 0; half < 2; ++half) {
      const float opacity = half == 0 ? 0.38f : 1.0f;
      PushClip(half == 0 ? Rc{r.x, r.y, cx - r.x, r.h} : Rc{cx, r.y, r.Right() - cx, r.h});
      FillWaveColumns(lane.low.data(), 0, n - 1, r.x, cy, a, ColorOf(0x1650D8), ColorOf(0x5CD0FF), opacity);
      FillWaveColumns(lane.mid.data(), 0, n - 1, r.x, cy, a * 0.66f, ColorOf(0xD9480F, 0.85f),
                      ColorOf(0xFFB347, 0.9f), opacity);
      FillWaveColumns(lane.high.data(), 0, n - 1, r.x, cy, a * 0.3f, Color{1, 1, 1, 0.25f}, Color{1, 1, 1, 0.8f},
                      opacity);
      PopClip();
    }
  }
  if (p.widgets()) {
    GradientBrush* fade = LinearGradientBrush(ColorOf(0x080A10, 0.95f), ColorOf(0x080A10, 0), PointF{r.x + 1, 0},
                                              PointF{r.x + 81, 0}, false);
    FillRect(Rc{r.x + 1, r.y + 1, 80, r.h - 2}, fade);
    fade = LinearGradientBrush(ColorOf(0x080A10, 0), ColorOf(0x080A10, 0.95f), PointF{r.Right() - 81, 0},
                               PointF{r.Right() - 1, 0}, false);
    FillRect(Rc{r.Right() - 81, r.y + 1, 80, r.h - 2}, fade);
  }
  // Two cue flags.
  for (int cue = 0; cue < 2; ++cue) {
    const float sx = cx + (cue == 0 ? -310.0f : 260.0f);
    const Color c = cue == 0 ? ColorOf(Pal.Yellow) : ColorOf(0xFF3D6E);
    if (p.widgets()) {
      DrawLine(sx, r.y, sx, r.Bottom(), c, 1.5f);
      FillRoundedRect(Rc{sx, r.y, 14, 13}, 2, c);
    }
    Label(p, cue == 0 ? L"C" : L"1", Rc{sx, r.y, 14, 13}, 9, ColorOf(Pal.Background), kAlignCenter, true, 1);
    if (cue == 1) Label(p, L"DROP", Rc{sx + 17, r.y, 110, 13}, 9, c, kAlignLeft, true, 1);
    GlowShape g;
    g.kind = kGlowLine;
    g.g1 = sx, g.g2 = r.y, g.g3 = sx, g.g4 = r.Bottom(), g.g6 = 1.5f;
    g.color = WithAlpha(c, 0.7f);
    Glow(p, std::move(g));
  }
  PopClip();
  if (p.widgets()) {
    SoftGlow(cx, cy, 34, r.h * 0.75f, WithAlpha(dc, 0.25f));
    DrawLine(cx, r.y + 1, cx, r.Bottom() - 1, Color{1, 1, 1, 1}, 2);
    FillTriangle(PointF{cx - 6, r.y + 1}, PointF{cx + 6, r.y + 1}, PointF{cx, r.y + 8}, Color{1, 1, 1, 1});
    FillTriangle(PointF{cx - 6, r.Bottom() - 1}, PointF{cx + 6, r.Bottom() - 1}, PointF{cx, r.Bottom() - 8},
                 Color{1, 1, 1, 1});
  }
  if (p.glows()) {
    GlowLine(cx, r.y + 1, cx, r.Bottom() - 1, Color{1, 1, 1, 0.85f}, 3);
    GlowLine(cx, r.y + 1, cx, r.Bottom() - 1, WithAlpha(dc, 0.7f), 8);
    GlowCircle(cx, r.y + 4, 4, Color{1, 1, 1, 0.8f});
    GlowCircle(cx, r.Bottom() - 4, 4, Color{1, 1, 1, 0.8f});
  }
}

void TopBar(const Parts& p, int frame) {
  const Rc bar{0, 0, kWidth, 40};
  if (p.widgets()) {
    FillGradientRoundedRect(bar, 0, ColorOf(0x151821), ColorOf(0x0E1016));
    DrawLine(0, 39.5f, kWidth, 39.5f, ColorOf(Pal.Border), 1);
  }
  Label(p, L"VELDMIX", Rc{16, 0, 120, 40}, 18, ColorOf(Pal.Text), kAlignLeft, true, kFontBahnschrift);
  const wchar_t* names[] = {L"FULL", L"LIBRARY", L"PERFORM", L"REC", L"LIVE", L"MIDI"};
  for (int i = 0; i < 6; ++i)
    Button(p, Rc{150.0f + i * 74, 7, 68, 26}, names[i], i == 3 ? ColorOf(Pal.Red) : ColorOf(Pal.DeckA), i == 3 || i == 0,
           10);
  Label(p, L"\xE713", Rc{1880, 0, 32, 40}, 17, ColorOf(Pal.Dim), kAlignCenter, false, kFontIcons);
  Label(p, L"\xE767", Rc{1220, 0, 24, 40}, 16, ColorOf(Pal.Dim), kAlignCenter, false, kFontIcons);
  // A clock that changes every frame, as a recording timer does.
  Label(p, L"REC " + FormatTime(312.4 + frame * kFrameSeconds, true), Rc{760, 0, 140, 40}, 15, ColorOf(Pal.Red),
        kAlignLeft, true, kFontBahnschrift);
  Label(p, L"CPU 7%", Rc{1560, 0, 80, 40}, 11, ColorOf(Pal.Dim), kAlignRight, true, kFontBahnschrift);
  Label(p, L"22:41", Rc{1650, 0, 60, 40}, 14, ColorOf(Pal.Text), kAlignRight, true, kFontBahnschrift);
  Meter(p, Rc{1250, 10, 300, 20}.Inset(0, 0), 0, 1);
  if (p.widgets()) {
    for (int ch = 0; ch < 2; ++ch) {
      FillRoundedRect(Rc{1250, 12.0f + ch * 9, 300, 6}, 3, ColorOf(Pal.Panel2));
      GradientBrush* level = LinearGradientBrush(ColorOf(Pal.Green), ColorOf(Pal.Yellow), PointF{1250, 0},
                                                 PointF{1550, 0}, false);
      FillRoundedRect(Rc{1250, 12.0f + ch * 9, 210.0f + ch * 14, 6}, 3, level);
    }
  }
}

void DeckPanel(const Parts& p, int deck, Rc r, double pos, int frame) {
  const Color dc = Deck(deck);
  if (p.widgets()) {
    DrawPanel(r, 8);
    FillGradientRoundedRect(Rc{r.x + 1, r.y + 1, r.w - 2, 70}, 8, WithAlpha(dc, 0.12f), WithAlpha(dc, 0));
    FillRoundedRect(Rc{r.x + 14, r.y, r.w - 28, 2}, 1, Lighten(dc, 0.2f));
  }
  if (deck == 0) Glow(p, Outline(r, 8, 1.5f, WithAlpha(dc, 0.25f)));
  const float L = r.x + 10, W = r.w - 20;
  // Header.
  const Rc badge{L, r.y + 15, 32, 32};
  if (p.widgets()) FillGradientRoundedRect(badge, 6, Lighten(dc, 0.3f), Darken(dc, 0.15f));
  Label(p, deck == 0 ? L"A" : L"B", badge, 18, ColorOf(0x06070A), kAlignCenter, true, kFontBahnschrift);
  Label(p, deck == 0 ? L"Midnight Drive (Extended Mix)" : L"Glass Horizon — Original Mix", Rc{L + 44, r.y + 11, W - 290, 22},
        15, ColorOf(Pal.Text), kAlignLeft, true);
  Label(p, deck == 0 ? L"Kaleo Vance" : L"Mira Solenne & The Tides", Rc{L + 44, r.y + 32, W - 360, 18}, 12,
        ColorOf(Pal.Dim));
  Label(p, FormatTime(pos, true), Rc{r.Right() - 240, r.y + 10, 118, 24}, 20, ColorOf(Pal.Text), kAlignRight, false,
        kFontBahnschrift);
  Label(p, L"-" + FormatTime(372.0 - pos, true), Rc{r.Right() - 240, r.y + 33, 118, 18}, 13, ColorOf(Pal.Dim),
        kAlignRight, false, kFontBahnschrift);
  const Rc bpm{r.Right() - 110, r.y + 10, 100, 26};
  Label(p, deck == 0 ? L"128.00" : L"127.40", bpm, 23, Lighten(dc, 0.2f), kAlignRight, true, kFontBahnschrift);
  if (p.glows()) GlowText(deck == 0 ? L"128.00" : L"127.40", bpm, 23, WithAlpha(dc, 0.6f), kAlignRight, true);
  Label(p, deck == 0 ? L"+0.0%   8A" : L"-0.5%   9A", Rc{r.Right() - 140, r.y + 35, 130, 16}, 11, ColorOf(Pal.Dim),
        kAlignRight, true, kFontBahnschrift);
  // Overview strip.
  const Rc ov{L, r.y + 58, W, 36};
  const float played = static_cast<float>(pos / 372.0);
  if (p.widgets()) FillRoundedRect(ov, 4, ColorOf(Pal.WaveBg));
  if (p.waves()) {
    static std::vector<float> overview[2];
    std::vector<float>& levels = overview[deck];
    if (levels.empty()) {
      for (int i = 0; i < static_cast<int>(W); ++i) {
        float l, m, h;
        Bands(i * 372.0 / W, &l, &m, &h);
        levels.push_back(i % 3 == 2 ? -1 : std::max(0.5f, l * 15));
      }
    }
    const int split = static_cast<int>(played * W);
    FillWaveColumns(levels.data(), 0, split, L, ov.CenterY(), 15, WithAlpha(dc, 0.35f), WithAlpha(dc, 0.35f), 1);
    FillWaveColumns(levels.data(), split + 1, static_cast<int>(W) - 1, L, ov.CenterY(), 15, WithAlpha(dc, 0.8f),
                    Lighten(dc, 0.3f), 1);
  }
  if (p.widgets()) DrawLine(L + played * W, ov.y, L + played * W, ov.Bottom(), Color{1, 1, 1, 1}, 1.5f);
  // Tools row.
  const wchar_t* tools[] = {L"KEY LOCK", L"−", L"8A", L"+", L"MATCH", L"SLIP", L"QUANT"};
  float tx = L;
  for (int i = 0; i < 7; ++i) {
    const float w = (i == 1 || i == 3) ? 22 : 64;
    Button(p, Rc{tx, r.y + 100, w, 24}, tools[i], i == 0 || i == 5 ? ColorOf(Pal.Purple) : dc, i == 0 && deck == 0,
           10);
    tx += w + 4;
  }
  // Jog wheel and pitch fader.
  const float T = r.y + 134, B = r.Bottom() - 50, M = B - 10 - T;
  const float J = std::min(176.0f, M);
  const float jog_x = deck == 0 ? L : r.Right() - 10 - (J + 54);
  const float fader_x = deck == 0 ? L : jog_x + J + 10;
  const float jcx = deck == 0 ? L + J + 54 - J / 2 : jog_x + J / 2, jcy = T + M / 2;
  if (p.widgets()) {
    FillRoundedRect(Rc{fader_x + 18, T + 6, 8, M - 12}, 4, ColorOf(Pal.Panel3));
    for (int i = 0; i <= 8; ++i) DrawLine(fader_x + 4, T + 8 + i * (M - 16) / 8, fader_x + 12, T + 8 + i * (M - 16) / 8, ColorOf(Pal.Faint), 1);
    FillGradientRoundedRect(Rc{fader_x + 6, T + M / 2 - 9, 32, 18}, 4, ColorOf(0x3A4050), ColorOf(0x222630));
    DrawLine(fader_x + 8, T + M / 2, fader_x + 36, T + M / 2, dc, 2);
    FillRadialEllipse(jcx, jcy, J / 2, ColorOf(0x2A2F3B), ColorOf(0x0E1015), -0.25f, -0.3f);
    StrokeCircle(jcx, jcy, J / 2 - 1, ColorOf(0x343A48), 2);
    StrokeCircle(jcx, jcy, J / 2 - 14, ColorOf(0x1A1D25), 6);
    FillCircle(jcx, jcy, J / 4, ColorOf(0x12141A));
  }
  const float angle = static_cast<float>(std::fmod(pos * 200, 360.0));
  if (p.widgets()) DrawArc(jcx, jcy, J / 2 - 6, angle - 20, angle + 20, dc, 4);
  if (p.glows()) {
    GlowArc(jcx, jcy, J / 2 - 6, angle - 20, angle + 20, WithAlpha(dc, 0.9f), 4);
  }
  Label(p, FormatTime(pos, false), Rc{jcx - 40, jcy - 12, 80, 24}, 16, ColorOf(Pal.Text), kAlignCenter, true,
        kFontBahnschrift);
  // Pads.
  const float px = deck == 0 ? L + J + 54 + 14 : L;
  const float pw = deck == 0 ? r.Right() - 10 - px : jog_x - 14 - L;
  const wchar_t* tabs[] = {L"HOT CUE", L"LOOP", L"ROLL", L"SAMPLER"};
  for (int i = 0; i < 4; ++i)
    Button(p, Rc{px + i * (pw / 4), T, pw / 4 - 4, 22}, tabs[i], dc, i == 0, 9.5f);
  const uint32_t pad_colours[] = {0xFF3D6E, 0x2BF5A0, 0xFFC83D, 0x9D6BFF, 0x22D3FF, 0xFF8A2B, 0xFF4FD8, 0xB6FF3D};
  const float pad_w = pw / 4 - 6, pad_h = (M - 40) / 2 - 6;
  for (int i = 0; i < 8; ++i) {
    const Rc pad{px + (i % 4) * (pad_w + 6), T + 30 + (i / 4) * (pad_h + 6), pad_w, pad_h};
    const Color c = ColorOf(pad_colours[i]);
    const bool set = i < 5, pressed = (frame / 20 + deck) % 8 == i;
    if (p.widgets()) {
      FillGradientRoundedRect(pad, 6, set ? WithAlpha(c, pressed ? 0.55f : 0.22f) : ColorOf(0x1D2029),
                              set ? WithAlpha(c, 0.1f) : ColorOf(0x16181F));
      StrokeRoundedRect(pad, 6, set ? WithAlpha(c, 0.8f) : ColorOf(0x2B303C), 1);
    }
    if (set && pressed && p.glows()) GlowRoundedRect(pad, 6, WithAlpha(c, 0.35f));
    if (set) Label(p, std::to_wstring(i + 1), Rc{pad.x + 8, pad.y + 6, 20, 16}, 12, c, kAlignLeft, true, 1);
  }
  // Transport and loops.
  const Rc tr{jog_x, B, J + 54, 40};
  Button(p, Rc{tr.x, tr.y, tr.w / 3 - 4, 40}, L"CUE", ColorOf(Pal.Yellow), false, 13);
  Button(p, Rc{tr.x + tr.w / 3, tr.y, tr.w / 3 - 4, 40}, L"", ColorOf(Pal.Green), deck == 0, 16);
  Label(p, L"\xE768", Rc{tr.x + tr.w / 3, tr.y, tr.w / 3 - 4, 40}, 18, ColorOf(Pal.Green), kAlignCenter, false,
        kFontIcons);
  Button(p, Rc{tr.x + 2 * tr.w / 3, tr.y, tr.w / 3 - 4, 40}, L"SYNC", dc, deck == 1, 13);
  const wchar_t* loops[] = {L"1/2", L"1", L"4", L"8", L"LOOP"};
  for (int i = 0; i < 5; ++i)
    Button(p, Rc{px + i * (pw / 5), B + 6, pw / 5 - 4, 28}, loops[i], ColorOf(Pal.Green), false, 11);
}

void Mixer(const Parts& p, Rc r, int frame) {
  if (p.widgets()) DrawPanel(r, 8);
  Label(p, L"MIXER", Rc{r.x, r.y + 6, r.w, 18}, 11, ColorOf(Pal.Dim), kAlignCenter, true, kFontBahnschrift);
  const wchar_t* knobs[] = {L"GAIN", L"HIGH", L"MID", L"LOW", L"FILTER"};
  const float values[2][5] = {{0.55f, 0.5f, 0.62f, 0.28f, 0.5f}, {0.5f, 0.71f, 0.5f, 0.5f, 0.35f}};
  for (int side = 0; side < 2; ++side) {
    const float kx = side == 0 ? r.x + 52 : r.Right() - 52;
    for (int k = 0; k < 5; ++k)
      Knob(p, kx, r.y + 52 + k * 56, 18, values[side][k], Deck(side), knobs[k]);
    const float level = 0.55f + 0.3f * static_cast<float>(std::fabs(std::sin(frame * 0.37 + side)));
    Meter(p, Rc{side == 0 ? r.x + 100 : r.Right() - 108, r.y + 30, 8, 250}, level, 20);
    // Channel fader.
    const Rc fader{side == 0 ? r.x + 130 : r.Right() - 160, r.y + 40, 30, 230};
    if (p.widgets()) {
      FillRoundedRect(Rc{fader.CenterX() - 3, fader.y, 6, fader.h}, 3, ColorOf(Pal.Panel3));
      FillGradientRoundedRect(Rc{fader.x, fader.y + 40, fader.w, 20}, 4, ColorOf(0x4A5163), ColorOf(0x282C37));
      DrawLine(fader.x + 3, fader.y + 50, fader.Right() - 3, fader.y + 50, ColorOf(Pal.Text), 2);
    }
    Button(p, Rc{fader.x - 4, r.Bottom() - 84, 38, 24}, L"CUE", ColorOf(Pal.Yellow), side == 1, 10);
  }
  Meter(p, Rc{r.CenterX() - 5, r.y + 30, 10, 250}, 0, 24);
  Label(p, L"MASTER", Rc{r.CenterX() - 40, r.y + 282, 80, 14}, 9.5f, ColorOf(Pal.Dim), kAlignCenter, true, 1);
  // Cross-fader.
  const Rc xf{r.x + 40, r.Bottom() - 44, r.w - 80, 30};
  if (p.widgets()) {
    FillRoundedRect(Rc{xf.x, xf.CenterY() - 3, xf.w, 6}, 3, ColorOf(Pal.Panel3));
    FillGradientRoundedRect(Rc{xf.CenterX() - 30, xf.y, 24, xf.h}, 4, ColorOf(0x4A5163), ColorOf(0x282C37));
  }
  Label(p, L"A", Rc{r.x + 16, xf.y, 20, xf.h}, 12, Deck(0), kAlignCenter, true, 1);
  Label(p, L"B", Rc{r.Right() - 36, xf.y, 20, xf.h}, 12, Deck(1), kAlignCenter, true, 1);
}

void Browser(const Parts& p, Rc r) {
  if (p.widgets()) {
    DrawPanel(r, 8);
    FillRoundedRect(Rc{r.x + 10, r.y + 10, 300, 30}, 6, ColorOf(Pal.Panel2));
  }
  Label(p, L"\xE721", Rc{r.x + 16, r.y + 10, 22, 30}, 14, ColorOf(Pal.Dim), kAlignCenter, false, kFontIcons);
  Label(p, L"Search tracks, artists, keys…", Rc{r.x + 42, r.y + 10, 260, 30}, 12.5f, ColorOf(Pal.Faint));
  const wchar_t* heads[] = {L"TITLE", L"ARTIST", L"BPM", L"KEY"};
  const float cols[] = {r.x + 20, r.x + 700, r.x + 1200, r.x + 1320};
  const float widths[] = {660, 480, 100, 80};
  for (int c = 0; c < 4; ++c)
    Label(p, heads[c], Rc{cols[c], r.y + 50, widths[c], 20}, 10, ColorOf(Pal.Dim), kAlignLeft, true, 1);
  const wchar_t* titles[] = {L"Midnight Drive (Extended Mix)", L"Glass Horizon", L"Afterglow Protocol",
                             L"Low Tide Lights", L"Signal & Noise (Dub)"};
  const wchar_t* artists[] = {L"Kaleo Vance", L"Mira Solenne & The Tides", L"Dax Orin", L"Nuria Fell", L"Kestrel"};
  for (int i = 0; i < 5; ++i) {
    const float y = r.y + 74 + i * 28;
    const bool selected = i == 2;
    if (p.widgets()) {
      if (selected)
        FillRoundedRect(Rc{r.x + 10, y, r.w - 20, 26}, 5, ColorOf(Pal.DeckA, 0.16f));
      else if (i % 2)
        FillRect(Rc{r.x + 10, y, r.w - 20, 26}, Color{1, 1, 1, 0.02f});
    }
    if (selected) Glow(p, Outline(Rc{r.x + 10, y, r.w - 20, 26}, 5, 1, ColorOf(Pal.DeckA, 0.4f)));
    Label(p, titles[i], Rc{cols[0], y, widths[0], 26}, 12.5f, ColorOf(Pal.Text), kAlignLeft, selected);
    Label(p, artists[i], Rc{cols[1], y, widths[1], 26}, 12, ColorOf(Pal.Dim));
    const std::wstring bpm = std::to_wstring(120 + (i * 7) % 14) + L".00";
    Label(p, bpm, Rc{cols[2], y, widths[2], 26}, 12, ColorOf(Pal.Text), kAlignLeft, false, 1);
    const std::wstring key = std::to_wstring(1 + (i * 5) % 12) + (i % 2 ? L"A" : L"B");
    Label(p, key, Rc{cols[3], y, widths[3], 26}, 12, ColorOf(Pal.Purple), kAlignLeft, true, 1);
  }
}

// One whole frame of the parts in `mask`; the positions move with `frame`.
void DjFrame(int frame, unsigned mask) {
  const Parts p{mask};
  const double pos_a = 94.2 + frame * kFrameSeconds, pos_b = 211.7 + frame * kFrameSeconds * 0.995;
  if (p.widgets()) {
    FillGradientRoundedRect(Rc{0, 0, kWidth, kHeight}, 0, ColorOf(0x0B0D14), ColorOf(0x040508));
    SoftGlow(8 + 382, 204 + 186, 573, 353, ColorOf(Pal.DeckA, 0.13f));
    SoftGlow(1156 + 382, 204 + 186, 573, 353, ColorOf(Pal.DeckB, 0.07f));
    SoftGlow(kWidth / 2.0f, 121, kWidth * 0.6f, 120, ColorOf(0x6A5BFF, 0.06f));
  }
  TopBar(p, frame);
  Waveform(p, 0, Rc{8, 46, kWidth - 16, 66}, pos_a);
  Waveform(p, 1, Rc{8, 130, kWidth - 16, 66}, pos_b);
  if (p.widgets()) {
    FillRoundedRect(Rc{8, 112, kWidth - 16, 18}, 4, ColorOf(Pal.Panel));
    for (int i = 0; i < 16; ++i) FillRoundedRect(Rc{700.0f + i * 32, 117, 26, 8}, 2, i == frame / 8 % 16 ? ColorOf(Pal.DeckA) : ColorOf(Pal.Panel3));
  }
  DeckPanel(p, 0, Rc{8, 204, 764, 372}, pos_a, frame);
  Mixer(p, Rc{788, 204, 360, 372}, frame);
  DeckPanel(p, 1, Rc{1156, 204, 764, 372}, pos_b, frame);
  Browser(p, Rc{8, 584, kWidth - 16, kHeight - 592});
}

double ThreadMs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Times `frames` whole frames of the parts in `mask`, optionally only their EndFrame.
void RunFrames(benchmark::State& state, unsigned mask, bool timeEndOnly) {
  static bool sample_written = false;
  if (const char* path = std::getenv("VELDMIX_DRAW_SAMPLE"); path && !sample_written) {
    sample_written = true;
    std::string p(path);
    RenderFrameToPng(kWidth, kHeight, [] { DjFrame(40, kAll); }, std::wstring(p.begin(), p.end()));
  }
  if (!CreateDevice(kWidth, kHeight, 1)) {
    state.SkipWithError("no device");
    return;
  }
  std::vector<double> ms;
  int frame = 0;
  for (auto _ : state) {
    const double start = ThreadMs();
    ResetGlowLayer();
    BeginDraw();
    Clear(ColorOf(Pal.Background));
    DjFrame(frame++, mask);
    const double drawn = ThreadMs();
    EndFrame();
    const double spent = ThreadMs() - (timeEndOnly ? drawn : start);
    ms.push_back(spent);
    state.SetIterationTime(spent / 1e3);
  }
  ReleaseDevice();
  std::sort(ms.begin(), ms.end());
  if (!ms.empty()) {
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
  }
}

void BM_DjFrame(benchmark::State& state) { RunFrames(state, kAll, false); }
void BM_DjFrameWidgetsOnly(benchmark::State& state) { RunFrames(state, kWidgets, false); }
void BM_DjFrameTextOnly(benchmark::State& state) { RunFrames(state, kText, false); }
void BM_DjFrameWaveformsOnly(benchmark::State& state) { RunFrames(state, kWaves, false); }
void BM_DjFrameGlowPass(benchmark::State& state) { RunFrames(state, kAll, true); }

}  // namespace

BENCHMARK(BM_DjFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(300);
BENCHMARK(BM_DjFrameWidgetsOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(300);
BENCHMARK(BM_DjFrameTextOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(300);
BENCHMARK(BM_DjFrameWaveformsOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(300);
BENCHMARK(BM_DjFrameGlowPass)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(300);
