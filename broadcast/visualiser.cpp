#include "broadcast/visualiser.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include <fmt/xchar.h>

#include "base/settings.h"
#include "broadcast/camera.h"
#include "broadcast/visual_raster.h"
#include "platform/keymap.h"
#include "platform/text.h"

bool VisualiserWindowOpen = false;

namespace {

constexpr int kBeatsPerChange = 64;          // 16 bars of four
constexpr double kSecondsPerChange = 30;     // with no deck shown
constexpr float kBannerSeconds = 2.5f;
constexpr float kFadeRate = 2.5f, kCameraFadeRate = 2.5f;
constexpr double kMaxFrameSeconds = 0.1;
constexpr float kBeatRise = 0.3f;
constexpr uint32_t kWhite = 0xFFFFFF, kSubText = 0xB8C0D0, kHintText = 0x8A93A6;
constexpr uint32_t kBackdropColour = 0x020308;
// The key hint's line, from its top to the window's bottom margin, and the track overlay's lines
// below its top: the name ends at 84, the song or artist at 120, the tempo at 150.
constexpr float kHintTop = 34, kEdgeMargin = 10, kHintGap = 4;
constexpr float kOverlayNameBottom = 84, kOverlaySongBottom = 120, kOverlayBpmBottom = 150;
constexpr Rgba kBackdrop{2 / 255.0f, 3 / 255.0f, 8 / 255.0f, 1};

const wchar_t* const kAutoOn = L"AUTO: A NEW VISUAL EVERY 16 BARS";
const wchar_t* const kAutoOff = L"AUTO OFF";
const wchar_t* const kHint =
    L"Double-click for full screen  \u2022  \u2190 \u2192 change the visual  \u2022  A auto  \u2022  T track name  "
    L"\u2022  Esc to exit";

struct VisualiserState {
  int current = 0;
  int lastSeenStyle = -1;
  int lastDrawn = -1;
  float fade = 0;
  std::wstring banner;
  float bannerTime = 0;
  float lastPulse = 0;
  double secondsSinceChange = 0;
  int beatsSinceChange = 0;
  int shownDeck = -1;
  // The newest camera picture, copied once per new frame; a bitmap of it is made only for a
  // turned or stretched target.
  std::vector<uint32_t> cameraPixels;
  int cameraWidth = 0, cameraHeight = 0;
  uint64_t cameraSerial = 0;
  std::unique_ptr<DrawBitmap> cameraBitmap;
  uint64_t bitmapSerial = 0;
  float cameraAlpha = 0;
  // The picture already cut to the circle, in device pixels, redrawn only when the frame or the
  // circle's place changes; the frames between only blend it in.
  std::unique_ptr<DrawSurface> cameraSprite;
  uint64_t spriteSerial = 0;
  Affine spritePlace;  // picture to sprite pixels: the circle's place, size and mirror
  bool spriteStale = true;
  // 44 DIP Bahnschrift 600, 26 DIP Segoe UI 400, 16 DIP Bahnschrift 600.
  std::unique_ptr<TextFormat> large, medium, small;
};
VisualiserState V;

int Wrap(int i) { return ((i % kVisualCount) + kVisualCount) % kVisualCount; }

void ResetCounters() {
  V.secondsSinceChange = 0;
  V.beatsSinceChange = 0;
}

// 0..8, uniform, without the bias of a plain modulo.
int RandomOfNine() {
  while (true) {
    const uint64_t product = static_cast<uint64_t>(Visuals.random()) * 9u;
    if (static_cast<uint32_t>(product) >= 4u) return static_cast<int>(product >> 32);
  }
}

void ShowBanner(const std::wstring& text) {
  V.banner = text;
  V.bannerTime = kBannerSeconds;
}

std::wstring Shown(const VisualiserFeed& feed, std::wstring_view text) {
  return feed.translate ? feed.translate(text) : std::wstring(text);
}

void DrawCentred(DrawSurface& t, const TextFormat* format, const std::wstring& text, float x0, float x1, float y0,
                 float y1, uint32_t colour, float alpha) {
  if (!format || text.empty()) return;
  SetVisualBrush(t, colour, alpha);
  t.DrawTextLine(*format, WideToUtf8(text), x0, y0, x1 - x0, y1 - y0, TextAlign::Center);
}

// Takes a new camera frame (its memory kept while the size stays) and moves the circle's opacity
// towards showing it or not.
void FollowCamera(bool takesPart, float dt) {
  if (takesPart) TakeCameraFrame(&V.cameraPixels, &V.cameraWidth, &V.cameraHeight, &V.cameraSerial);
  const bool picture = V.cameraSerial != 0 && V.cameraWidth > 0 && V.cameraHeight > 0 &&
                       V.cameraPixels.size() == static_cast<size_t>(V.cameraWidth) * V.cameraHeight;
  const float step = dt * kCameraFadeRate;
  V.cameraAlpha = std::clamp(V.cameraAlpha + (takesPart && picture ? step : -step), 0.0f, 1.0f);
}

// The camera picture as a bitmap, made again when a new frame came.
const DrawBitmap* CameraBitmap() {
  if (V.cameraBitmap && V.bitmapSerial == V.cameraSerial) return V.cameraBitmap.get();
  if (!(V.cameraBitmap && V.cameraBitmap->Replace(V.cameraPixels.data(), V.cameraWidth, V.cameraHeight)))
    V.cameraBitmap = DrawBitmap::FromPixels(V.cameraPixels.data(), V.cameraWidth, V.cameraHeight);
  V.bitmapSerial = V.cameraSerial;
  return V.cameraBitmap.get();
}

bool HasCameraPicture() {
  return !V.cameraPixels.empty() && V.cameraPixels.size() == static_cast<size_t>(V.cameraWidth) * V.cameraHeight;
}
float CameraCircleRadius(const VisualFrame& f) { return std::min(f.w * 0.26f, f.h * 0.29f); }
bool Pixelled(const Affine& d) { return d.m12 == 0 && d.m21 == 0 && d.m11 > 0 && d.m11 == d.m22; }

// The disc the camera's picture will cover opaquely this frame, less its antialiased rim and a
// pixel's reach either way (user space); 0 unless the picture is fully faded in and blended pixel
// for pixel.
float CameraCoverRadius(const DrawSurface& t, const VisualFrame& f) {
  constexpr float kMarginPixels = 4;
  const Affine d = t.DeviceTransform();
  if (V.cameraAlpha < 1 || !HasCameraPicture() || !Pixelled(d)) return 0;
  return std::max(0.0f, CameraCircleRadius(f) - kMarginPixels / d.m11);
}

void DrawCameraCircle(DrawSurface& t, const VisualFrame& f) {
  if (V.cameraAlpha <= 0.01f || !HasCameraPicture()) return;
  const float a = V.cameraAlpha;
  const float r = CameraCircleRadius(f);
  const Affine d = t.DeviceTransform();
  const bool pixelled = Pixelled(d);
  if (pixelled) {
    // Inside r - 1.5 the opaque picture at full opacity covers every pixel: no need to darken them.
    DarkenPixels(t, static_cast<int>(std::lround(d.dx)), static_cast<int>(std::lround(d.dy)),
                 static_cast<int>(std::lround(d.m11 * f.w + d.dx)), static_cast<int>(std::lround(d.m22 * f.h + d.dy)),
                 a * 0.35f, d.m11 * f.cx + d.dx, d.m22 * f.cy + d.dy, a >= 1 ? d.m11 * r - 1.5f : 0);
  } else {
    SetVisualBrush(t, 0x000000, a * 0.35f);
    t.FillRect(0, 0, f.w, f.h);
  }
  for (int i = 4; i >= 1; --i) {
    const float radius = (f.pulse * 3 + 3) * i + r;
    VisualCircle(t, f.cx, f.cy, radius, 6, f.colourA, (f.pulse * 0.12f + 0.1f) * a / i);
  }
  const int pw = V.cameraWidth, ph = V.cameraHeight;
  // The shorter side spans the circle; mirrored, the picture's left edge lands on the right.
  const float scale = 2 * r / static_cast<float>(std::min(pw, ph));
  const float sx = Settings.CameraMirror ? -scale : scale;
  Affine m{sx, 0, 0, scale, 0, 0};
  m.dx = f.cx - sx * pw * 0.5f;
  m.dy = f.cy - scale * ph * 0.5f;
  if (d.m12 != 0 || d.m21 != 0 || !(d.m11 > 0) || !(d.m22 > 0)) {
    if (const DrawBitmap* picture = CameraBitmap()) t.FillEllipseWithBitmap(*picture, m, f.cx, f.cy, r, r, a);
    return;
  }
  // The sprite covers the circle's device box with a pixel to spare on each side.
  const float px = d.m11 * f.cx + d.dx, py = d.m22 * f.cy + d.dy, rx = d.m11 * r, ry = d.m22 * r;
  const int x0 = static_cast<int>(std::floor(px - rx)) - 1, y0 = static_cast<int>(std::floor(py - ry)) - 1;
  const int sw = static_cast<int>(std::ceil(px + rx)) + 2 - x0, sh = static_cast<int>(std::ceil(py + ry)) + 2 - y0;
  const Affine toSprite{d.m11, 0, 0, d.m22, d.dx - static_cast<float>(x0), d.dy - static_cast<float>(y0)};
  const Affine place = Compose(m, toSprite);
  if (!V.cameraSprite || V.cameraSprite->pixelWidth() != sw || V.cameraSprite->pixelHeight() != sh) {
    V.cameraSprite = DrawSurface::Create(sw, sh, 1.0f);
    V.spriteStale = true;
    if (!V.cameraSprite) return;
  }
  if (V.spriteStale || V.spriteSerial != V.cameraSerial || !(V.spritePlace == place)) {
    DrawSurface& sprite = *V.cameraSprite;
    const PixelView pixels = sprite.Pixels();
    if (d.m11 == d.m22 && FillDiscWithPicture(V.cameraPixels.data(), pw, ph, place, px - static_cast<float>(x0),
                                              py - static_cast<float>(y0), rx, pixels)) {
      sprite.MarkDirty(0, 0, sw, sh);
    } else if (const DrawBitmap* picture = CameraBitmap()) {
      sprite.Clear({0, 0, 0, 0});
      sprite.SetTransform(toSprite);
      sprite.FillEllipseWithBitmap(*picture, m, f.cx, f.cy, r, r, 1);
    }
    V.spriteSerial = V.cameraSerial;
    V.spritePlace = place;
    V.spriteStale = false;
  }
  // Pixel for pixel onto the device box (nearest: the mapping is a whole-pixel shift).
  if (pixelled) {
    BlendSprite(t, V.cameraSprite->Pixels(), x0, y0, a);
    return;
  }
  t.DrawPixelsIn(V.cameraSprite->Pixels(), false, (static_cast<float>(x0) - d.dx) / d.m11,
                 (static_cast<float>(y0) - d.dy) / d.m22, static_cast<float>(sw) / d.m11,
                 static_cast<float>(sh) / d.m22, a, 0, true);
}

// How far below the overlay's top its lowest line ends.
float TrackOverlayExtent(const VisualiserFeed& feed) {
  if (feed.singerOnStage) return feed.songHasTrack ? kOverlaySongBottom : kOverlayNameBottom;
  if (V.shownDeck < 0) return kOverlayNameBottom;
  const VisualiserDeck& deck = feed.decks[static_cast<size_t>(V.shownDeck)];
  return std::isfinite(deck.bpm) && deck.bpm > 0 ? kOverlayBpmBottom : kOverlaySongBottom;
}

// The overlay's lines sit at 80 % of the height, raised where that would cut the lowest one at
// the window's edge or put it under the key hint.
void DrawTrackOverlay(DrawSurface& t, const VisualFrame& f, const VisualiserFeed& feed) {
  const float bottom = f.h - (feed.fullScreen ? kEdgeMargin : kHintTop + kHintGap);
  const float y0 = std::max(0.0f, std::min(f.h * 0.8f, bottom - TrackOverlayExtent(feed)));
  const GradientStop stops[2] = {{0, {0, 0, 0, 0}}, {1, {0, 0, 0, 0.75f}}};
  if (!FillVerticalRamp(t, 0, y0 - 50, f.w, f.h - (y0 - 50), y0 - 50, stops[0].color, y0 + 60, stops[1].color)) {
    GradientBrush shade(GradientBrush::Kind::Linear, stops, 2);
    shade.SetLinearPoints(0, y0 - 50, 0, y0 + 60);
    t.SetBrush(&shade);
    t.FillRect(0, y0 - 50, f.w, f.h - (y0 - 50));
    t.SetBrush(nullptr);
  }
  if (feed.singerOnStage) {
    DrawCentred(t, V.small.get(), Shown(feed, L"NOW SINGING"), 0, f.w, y0, y0 + 24, feed.accent, 1);
    DrawCentred(t, V.large.get(), feed.singerName, 20, f.w - 20, y0 + 26, y0 + 84, kWhite, 1);
    if (feed.songHasTrack) {
      const std::wstring song = feed.songArtist.empty() ? feed.songTitle : feed.songTitle + L"  \u00b7  " + feed.songArtist;
      DrawCentred(t, V.medium.get(), song, 0, f.w, y0 + 84, y0 + 120, kSubText, 1);
    }
    return;
  }
  if (V.shownDeck >= 0) {
    const VisualiserDeck& deck = feed.decks[static_cast<size_t>(V.shownDeck)];
    DrawCentred(t, V.small.get(), Shown(feed, L"NOW PLAYING"), 0, f.w, y0, y0 + 24, f.colourA, 1);
    DrawCentred(t, V.large.get(), deck.title, 20, f.w - 20, y0 + 26, y0 + 84, kWhite, 1);
    DrawCentred(t, V.medium.get(), deck.artist, 0, f.w, y0 + 84, y0 + 120, kSubText, 1);
    if (std::isfinite(deck.bpm) && deck.bpm > 0)
      DrawCentred(t, V.small.get(), fmt::format(L"{:.0f} BPM", deck.bpm), 0, f.w, y0 + 124, y0 + 150, kSubText, 1);
    return;
  }
  DrawCentred(t, V.large.get(), L"VELDMIX", 0, f.w, y0 + 26, y0 + 84, kWhite, 0.7f);
}

}  // namespace

// ---- the visual ---------------------------------------------------------------------------------

int VisualIndex() { return VisualiserWindowOpen ? V.current : Settings.VisualiserStyle; }

void SetVisualIndex(int i) {
  V.current = Wrap(i);
  ResetCounters();
  V.lastSeenStyle = Settings.VisualiserStyle = V.current;
  SaveSettings();
}

// ---- keys ---------------------------------------------------------------------------------------

VisualiserAction VisualiserKey(int key, bool shift, bool fullScreen) {
  if (key == KeyCode::Escape) return fullScreen ? VisualiserAction::LeaveFullScreen : VisualiserAction::Close;
  if (key == KeyCode::F11) return VisualiserAction::ToggleFullScreen;
  if (key == KeyCode::F10) {
    if (!shift) return VisualiserAction::Close;
    SetVisualIndex(V.current + 1);
  } else if (key == KeyCode::Space || key == KeyCode::Right) {
    SetVisualIndex(V.current + 1);
  } else if (key == KeyCode::Left) {
    SetVisualIndex(V.current - 1);
  } else if (key >= '1' && key <= '9') {
    SetVisualIndex(key - '1');
  } else if (key == '0') {
    SetVisualIndex(9);
  } else if (key == 'A') {
    Settings.VisualiserAuto = !Settings.VisualiserAuto;
    SaveSettings();
    ShowBanner(Settings.VisualiserAuto ? kAutoOn : kAutoOff);
  } else if (key == 'T') {
    Settings.VisualiserTrack = !Settings.VisualiserTrack;
    SaveSettings();
  }
  return VisualiserAction::None;
}

void VisualiserRightClick() { SetVisualIndex(V.current + 1); }

// ---- one frame ----------------------------------------------------------------------------------

int ShownVisualiserDeck(const VisualiserFeed& feed) {
  int shown = -1;
  for (int d = 0; d < kEngineDecks; ++d) {
    const VisualiserDeck& deck = feed.decks[static_cast<size_t>(d)];
    if (deck.audible && (shown < 0 || deck.level > feed.decks[static_cast<size_t>(shown)].level)) shown = d;
  }
  return shown;
}

void DrawVisualiserFrame(DrawSurface& t, float w, float h, double frameSeconds, const VisualiserFeed& feed) {
  if (!V.large) {
    V.large = std::make_unique<TextFormat>("Bahnschrift", 600, 44.0f);
    V.medium = std::make_unique<TextFormat>("Segoe UI", 400, 26.0f);
    V.small = std::make_unique<TextFormat>("Bahnschrift", 600, 16.0f);
  }
  w = std::max(w, 1.0f);
  h = std::max(h, 1.0f);
  const float dt = static_cast<float>(std::clamp(std::isfinite(frameSeconds) ? frameSeconds : 0.0, 0.0, kMaxFrameSeconds));
  VisualState& s = Visuals;
  s.elapsed += dt;

  V.shownDeck = ShownVisualiserDeck(feed);
  VisualFrame f;
  f.target = &t;
  f.w = w;
  f.h = h;
  f.cx = w * 0.5f;
  f.cy = h * 0.42f;
  f.R = std::min(w, h) * 0.19f;
  f.dt = dt;
  f.bands = feed.bands.data();
  f.cover = feed.cover;
  if (V.shownDeck >= 0) {
    f.pulse = std::clamp(feed.decks[static_cast<size_t>(V.shownDeck)].pulse, 0.0f, 1.0f);
    f.colourA = feed.decks[static_cast<size_t>(V.shownDeck)].colour;
    f.colourB = feed.decks[static_cast<size_t>(V.shownDeck ^ 1)].colour;
  } else {
    f.colourA = feed.paletteDeckA;
    f.colourB = feed.paletteDeckB;
  }
  const auto& b = feed.bands;
  const float bass = std::max({b[0], b[1], b[2], b[3]});
  const float mid = std::max({b[5], b[6], b[7], b[8], b[9]});
  const float high = std::max({b[11], b[12], b[13], b[14], b[15]});
  const float bassLevel = std::clamp((20 * std::log10(std::max(bass, 1e-5f)) + 40) / 38, 0.0f, 1.0f);
  s.bassEnvelope = std::max(s.bassEnvelope * std::pow(0.9f, dt * 60), bassLevel);
  s.rotation += (s.bassEnvelope * 0.01f + 0.002f) * dt * 60;
  f.bass = s.bassEnvelope;
  f.mid = LevelOfMeter(mid);
  f.high = LevelOfMeter(high);
  f.beat = f.pulse - V.lastPulse > kBeatRise;
  V.lastPulse = f.pulse;

  if (Settings.VisualiserStyle != V.lastSeenStyle) {
    V.lastSeenStyle = Settings.VisualiserStyle;
    V.current = Wrap(Settings.VisualiserStyle);
    ResetCounters();
  }
  V.secondsSinceChange += dt;
  if (f.beat) ++V.beatsSinceChange;
  if (Settings.VisualiserAuto && (V.beatsSinceChange >= kBeatsPerChange ||
                                  (V.shownDeck < 0 && V.secondsSinceChange > kSecondsPerChange))) {
    V.current = (V.current + 1 + RandomOfNine()) % kVisualCount;
    ResetCounters();
  }
  if (V.current != V.lastDrawn) {
    if (V.lastDrawn >= 0) V.fade = 1;
    ShowBanner(VisualName(V.current));
    V.lastDrawn = V.current;
  }

  f.backdrop = kBackdropColour;
  FollowCamera(Settings.CameraOn && CameraRunning() && (Settings.CameraShow == 1 || feed.singerOnStage), dt);
  if (!VisualPaintsBackdrop(V.current)) t.Clear(kBackdrop);
  // What the camera's picture will hide is not drawn.
  SetCoveredDisc(f.cx, f.cy, CameraCoverRadius(t, f));
  DrawVisual(V.current, f);
  SetCoveredDisc(0, 0, 0);
  if (V.fade > 0) {
    SetVisualBrush(t, 0x000000, V.fade);
    t.FillRect(0, 0, w, h);
    V.fade = std::max(0.0f, V.fade - dt * kFadeRate);
  }
  DrawCameraCircle(t, f);
  if (Settings.VisualiserTrack) DrawTrackOverlay(t, f, feed);
  if (V.bannerTime > 0) {
    std::wstring text = Shown(feed, V.banner);
    if (Settings.VisualiserAuto && V.banner == VisualName(V.current)) text += L"   \u2022   AUTO";
    DrawCentred(t, V.small.get(), text, 0, w, 22, 48, kWhite, std::min(V.bannerTime, 1.0f) * 0.85f);
    V.bannerTime -= dt;
  }
  if (!feed.fullScreen)
    DrawCentred(t, V.small.get(), Shown(feed, kHint), 0, w, h - kHintTop, h - kEdgeMargin, kHintText, 0.9f);
}

void ForgetVisualiserWindow() {
  V.cameraBitmap.reset();
  V.cameraSprite.reset();
  V.cameraPixels.clear();
  V.cameraWidth = V.cameraHeight = 0;
  V.cameraSerial = V.bitmapSerial = 0;
  V.cameraAlpha = 0;
}

float VisualiserCameraAlpha() { return V.cameraAlpha; }

int VisualiserShownDeck() { return V.shownDeck; }
