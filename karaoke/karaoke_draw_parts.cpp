// The karaoke screen's drawing parts: text formats and layouts, outlined, centred and wiped text,
// the banner pill, the moving colour field and the bitmaps (cover, fitted, blurred).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "karaoke/karaoke_blur.h"
#include "karaoke/karaoke_draw.h"

std::wstring (*KaraokeTranslateHook)(std::wstring_view text) = nullptr;

namespace {

// Format cache: emptied before a new entry when it holds more than this many.
constexpr size_t kMaxFormats = 48;
// Layouts unused for this many frames are freed; the cache is swept every kSweepFrames.
constexpr uint64_t kBlockIdleFrames = 60;
constexpr uint64_t kSweepFrames = 30;
constexpr size_t kMaxBlocks = 256;
constexpr float kMinOpacity = 0.003f;

constexpr uint32_t kOutlineColour = 0x02030A;
constexpr float kOutlineOpacity = 0.8f, kShadowOpacity = 0.5f, kShadowDrop = 1.8f;
constexpr float kWipeMarginDip = 20.0f;

constexpr float kPillUnit = 0.022f;  // of H
constexpr float kPillLayoutWidthDip = 2000.0f;
constexpr uint32_t kPillFill = 0x05060C;
constexpr float kPillFillOpacity = 0.72f, kPillStrokeOpacity = 0.6f, kPillStrokeDip = 1.5f;

constexpr uint32_t kBackdropTop = 0x0A0C1C, kBackdropBottom = 0x020308, kGlowViolet = 0x7A4BFF;
constexpr int kSparkles = 70;
constexpr float kSparkleRadiusDip = 1.6f;
constexpr float kGlowDownscale = 8.0f;

float Channel(uint32_t rgb, int shift) { return static_cast<float>((rgb >> shift) & 0xFF) / 255.0f; }

const TextFormat* FormatFor(KaraokeDrawState& state, float size, bool heavy) {
  const int32_t halfPoints = static_cast<int32_t>(std::lround(size * 2.0f));
  if (halfPoints < 1) return nullptr;
  const int32_t key = halfPoints * 2 + (heavy ? 1 : 0);
  if (auto it = state.formats.find(key); it != state.formats.end()) return it->second.get();
  if (state.formats.size() > kMaxFormats) state.formats.clear();  // layouts keep copies of their fonts
  auto format = std::make_unique<TextFormat>(heavy ? "Segoe UI" : "Bahnschrift", heavy ? 900 : 600,
                                             static_cast<float>(halfPoints) / 2.0f);
  return state.formats.emplace(key, std::move(format)).first->second.get();
}

void SweepBlocks(KaraokeDrawState& state) {
  const bool full = state.blocks.size() >= kMaxBlocks;
  if (!full && state.frame % kSweepFrames != 0) return;
  for (auto it = state.blocks.begin(); it != state.blocks.end();) {
    if (it->second.lastUsed + kBlockIdleFrames < state.frame || (full && it->second.lastUsed < state.frame))
      it = state.blocks.erase(it);
    else
      ++it;
  }
}

}  // namespace

const KaraokeTheme& KaraokeThemeOf(int32_t palette) {
  constexpr int32_t last = static_cast<int32_t>(std::size(kKaraokeThemes)) - 1;
  return kKaraokeThemes[std::clamp(palette, 0, last)];
}

Rgba KaraokeColour(uint32_t rgb, float opacity) {
  return Rgba{Channel(rgb, 16), Channel(rgb, 8), Channel(rgb, 0), std::isfinite(opacity) ? std::clamp(opacity, 0.0f, 1.0f) : 0.0f};
}

// --- Text ---

const TextBlock* KaraokeTextLayout(KaraokeDrawState& state, std::wstring_view text, float size, bool heavy,
                                   float maxWidth) {
  if (!std::isfinite(size) || !std::isfinite(maxWidth) || maxWidth <= 0) return nullptr;
  const TextFormat* format = FormatFor(state, size, heavy);
  if (!format) return nullptr;
  const int32_t halfPoints = static_cast<int32_t>(std::lround(size * 2.0f));
  const int32_t width = static_cast<int32_t>(std::lround(maxWidth * 64.0f));
  std::string& key = state.keyScratch;
  key.clear();
  key.append(reinterpret_cast<const char*>(&halfPoints), sizeof halfPoints);
  key.append(reinterpret_cast<const char*>(&width), sizeof width);
  key.push_back(heavy ? 'H' : 'L');
  key.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  if (auto it = state.blocks.find(key); it != state.blocks.end()) {
    it->second.lastUsed = state.frame;
    return it->second.block.get();
  }
  SweepBlocks(state);
  std::unique_ptr<TextBlock> block = TextBlock::Create(*format, text, maxWidth);
  if (!block) return nullptr;
  KaraokeDrawState::CachedBlock& entry = state.blocks[key];
  entry.block = std::move(block);
  entry.lastUsed = state.frame;
  return entry.block.get();
}

void DrawOutlinedText(DrawSurface& target, const TextBlock& block, float x, float y, uint32_t rgb, float opacity,
                      float outline) {
  if (!(opacity > kMinOpacity)) return;
  if (outline > 0) {
    target.SetColor(KaraokeColour(kOutlineColour, kOutlineOpacity * opacity));
    // Eight offset copies: stroking the glyphs' path instead measured slower (it is tessellated
    // every frame), while the copies reuse cached glyph masks.
    for (int i = 0; i < 8; ++i) {
      const float angle = static_cast<float>(i) * std::numbers::pi_v<float> / 4.0f;
      block.Draw(target, x + std::cos(angle) * outline, y + std::sin(angle) * outline);
    }
    target.SetColor(KaraokeColour(0x000000, kShadowOpacity * opacity));
    block.Draw(target, x, y + outline * kShadowDrop);
  }
  target.SetColor(KaraokeColour(rgb, opacity));
  block.Draw(target, x, y);
}

float DrawCentredText(KaraokeDrawState& state, DrawSurface& target, std::wstring_view text, float centreX, float y,
                      float maxWidth, float size, bool heavy, uint32_t rgb, float opacity, float outline) {
  const TextBlock* block = KaraokeTextLayout(state, text, size, heavy, maxWidth);
  if (!block) return 0.0f;
  DrawOutlinedText(target, *block, centreX - maxWidth / 2.0f, y, rgb, opacity, outline);
  return block->height();
}

void DrawWipedLine(DrawSurface& target, const TextBlock& block, float x, float y, float fullWidth, double sung,
                   int textLength, uint32_t unsung, uint32_t sungColour, float opacity, float outline) {
  DrawOutlinedText(target, block, x, y, unsung, opacity, outline);
  if (!(sung > 0) || !(opacity > kMinOpacity)) return;
  if (sung >= textLength) {
    DrawOutlinedText(target, block, x, y, sungColour, opacity, 0.0f);
    return;
  }
  for (const TextBlock::Line& line : block.lines()) {
    if (sung < line.firstChar) break;
    const bool holds = sung < line.firstChar + line.charCount;
    float right = fullWidth;
    if (holds) {
      const int index = static_cast<int>(std::floor(sung));
      float left = 0, width = 0;
      if (!block.CharacterBox(index, &left, &width)) break;
      right = left + static_cast<float>(sung - index) * width;
    }
    target.PushClip(x - kWipeMarginDip, y + line.top - kWipeMarginDip, right + kWipeMarginDip,
                    line.bottom - line.top + 2 * kWipeMarginDip);
    DrawOutlinedText(target, block, x, y, sungColour, opacity, 0.0f);
    target.PopClip();
    if (holds) break;
  }
}

void DrawBannerPill(KaraokeDrawState& state, DrawSurface& target, std::wstring_view label, std::wstring_view name,
                    float x, float y, float h, uint32_t accent) {
  const float u = kPillUnit * h;
  const TextBlock* labelBlock = KaraokeTextLayout(state, label, u, false, kPillLayoutWidthDip);
  const TextBlock* nameBlock = KaraokeTextLayout(state, name, 1.2f * u, true, kPillLayoutWidthDip);
  if (!labelBlock || !nameBlock) return;
  const float pillW = labelBlock->width() + nameBlock->width() + 3 * u;
  const float pillH = std::max(labelBlock->height(), nameBlock->height()) + 0.6f * u;
  target.SetColor(KaraokeColour(kPillFill, kPillFillOpacity));
  target.FillRoundedRect(x, y, pillW, pillH, pillH / 2);
  target.SetColor(KaraokeColour(accent, kPillStrokeOpacity));
  target.StrokeRoundedRect(x, y, pillW, pillH, pillH / 2, kPillStrokeDip);
  // The layouts centre their one line in their width: the ink starts at the line's left.
  const auto leftOf = [](const TextBlock& b) { return b.lines().empty() ? 0.0f : b.lines().front().left; };
  target.SetColor(KaraokeColour(accent, 1.0f));
  labelBlock->Draw(target, x + u - leftOf(*labelBlock), y + (pillH - labelBlock->height()) / 2);
  target.SetColor(KaraokeColour(0xFFFFFF, 1.0f));
  nameBlock->Draw(target, x + 2 * u + labelBlock->width() - leftOf(*nameBlock), y + (pillH - nameBlock->height()) / 2);
}

// --- Backgrounds ---

void DrawMovingColour(KaraokeDrawState& state, DrawSurface& target, float w, float h, double clock,
                      const KaraokeScreenInfo& info) {
  // The gradient and the soft circles have no detail: they are drawn at an eighth of the size and
  // stretched, which costs a few hundredths of what full-size radial gradients do.
  const int smallW = std::max(1, static_cast<int>(std::ceil(w * target.dipScale() / kGlowDownscale)));
  const int smallH = std::max(1, static_cast<int>(std::ceil(h * target.dipScale() / kGlowDownscale)));
  if (!state.glowSurface || state.glowSurface->pixelWidth() != smallW || state.glowSurface->pixelHeight() != smallH ||
      state.glowSurface->dipScale() != static_cast<float>(smallW) / w)
    state.glowSurface = DrawSurface::Create(smallW, smallH, static_cast<float>(smallW) / w);
  if (!state.glowSurface) {
    target.Clear(Rgba{0, 0, 0, 1});
    return;
  }
  DrawSurface& glow = *state.glowSurface;
  if (!state.backdrop) {
    const GradientStop stops[2] = {{0.0f, KaraokeColour(kBackdropTop, 1)}, {1.0f, KaraokeColour(kBackdropBottom, 1)}};
    state.backdrop = std::make_unique<GradientBrush>(GradientBrush::Kind::Linear, stops, 2);
  }
  state.backdrop->SetLinearPoints(0, 0, 0, h);
  glow.SetBrush(state.backdrop.get());
  glow.FillRect(0, 0, w, h);

  const float pulse = std::isfinite(info.beatPulse) ? std::clamp(info.beatPulse, 0.0f, 1.0f) : 0.0f;
  const float bass = std::isfinite(info.bassLevel) ? std::clamp(info.bassLevel, 0.0f, 1.0f) : 0.0f;
  const uint32_t colours[3] = {info.accent1 & 0xFFFFFF, kGlowViolet, info.accent2 & 0xFFFFFF};
  const double c = std::isfinite(clock) ? clock : 0.0;
  for (int i = 0; i < 3; ++i) {
    if (!state.glow[i] || state.glowColour[i] != colours[i]) {
      const GradientStop stops[2] = {{0.0f, KaraokeColour(colours[i], 1)}, {1.0f, KaraokeColour(colours[i], 0)}};
      state.glow[i] = std::make_unique<GradientBrush>(GradientBrush::Kind::Radial, stops, 2);
      state.glowColour[i] = colours[i];
    }
    const double u = (0.02 * i + 0.05) * c + 2.1 * i;
    const float cx = static_cast<float>((std::sin(1.3 * u + i) * 0.38 + 0.5) * w);
    const float cy = static_cast<float>((std::cos(2.0 * i + 0.9 * u) * 0.32 + 0.5) * h);
    const float r = (bass * 0.1f + 0.55f + pulse * 0.04f) * std::min(w, h);
    state.glow[i]->SetRadial(cx, cy, 0, 0, r, r);
    state.glow[i]->SetOpacity(pulse * 0.12f + 0.22f);
    glow.SetBrush(state.glow[i].get());
    glow.FillEllipse(cx, cy, r, r);
  }
  glow.SetBrush(nullptr);
  // The field is opaque and covers the target: nothing needs clearing under it.
  target.DrawPixelsIn(glow.Pixels(), true, 0, 0, w, h, 1.0f, 0.0f, false);

  for (int j = 0; j < kSparkles; ++j) {
    double whole = 0;
    const double f = std::modf(std::sin(12.9898 * j) * 43758.5453, &whole);
    const double fr = f < 0 ? f + 1.0 : f;  // the fractional part, in 0..1
    const float x = static_cast<float>(fr * w);
    const double speed = std::fmod(7.0 * fr, 1.0) * 0.03 + 0.01;
    const float y = static_cast<float>(h * std::fmod(c * speed + 3.0 * fr, 1.0));
    const double twinkle = (std::sin((2.0 * fr + 1.0) * c + j) * 0.5 + 0.5) * 0.35 + 0.15;
    target.SetColor(KaraokeColour(0xFFFFFF, static_cast<float>(twinkle * (pulse * 0.4 + 0.6))));
    target.FillEllipse(x, y < 0 ? y + h : y, kSparkleRadiusDip, kSparkleRadiusDip);
  }
}

void DrawCoverPixels(KaraokeDrawState& state, DrawSurface& target, const PixelView& pixels, bool opaque, float w,
                     float h, double clock, bool moving, bool blur, int64_t source) {
  if (pixels.width < 1 || pixels.height < 1) return;
  const float bw = static_cast<float>(pixels.width), bh = static_cast<float>(pixels.height);
  float k = std::max(h / bh, w / bw);
  const double c = std::isfinite(clock) ? clock : 0.0;
  if (moving) k *= static_cast<float>(std::sin(0.05 * c) * 0.04 + 1.08);
  const float sw = bw * k, sh = bh * k;
  float left = (w - sw) / 2, top = (h - sh) / 2;
  if (moving) {
    left += static_cast<float>(std::sin(0.031 * c) * (sw - w) * 0.4);
    top += static_cast<float>(std::cos(0.027 * c) * (sh - h) * 0.4);
  }
  if (blur) {
    const float deviation = 3.5f / std::max(k, 0.2f) + 2.0f;
    if (const DrawBitmap* blurred = BlurredPicture(state, pixels, source, deviation)) {
      target.DrawBitmapIn(*blurred, left, top, sw, sh, 1.0f, 0.0f);
      return;
    }
  }
  target.DrawPixelsIn(pixels, opaque, left, top, sw, sh, 1.0f, 0.0f, false);
}

void DrawFittedPixels(DrawSurface& target, const PixelView& pixels, bool opaque, float w, float h, float aspect,
                      bool nearest) {
  if (pixels.width < 1 || pixels.height < 1) return;
  const float a = aspect > 0 ? aspect : static_cast<float>(pixels.width) / static_cast<float>(pixels.height);
  float fw = w, fh = w / a;
  if (fh > h) {
    fh = h;
    fw = h * a;
  }
  target.DrawPixelsIn(pixels, opaque, (w - fw) / 2, (h - fh) / 2, fw, fh, 1.0f, 0.0f, nearest);
}
