#include "broadcast/video_compositor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "broadcast/video_effects.h"
#include "broadcast/video_feed.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace {

constexpr int kMaxSide = 16384;
constexpr float kLayerMinOpacity = 0.003f;
constexpr uint32_t kCardColour = 0x05060A;
constexpr uint32_t kArtistColour = 0xC8CDD9;
constexpr float kBackdropBlurSigma = 30.0f;  // art pixels
constexpr int kBlurredArtSide = 64;          // the backdrop blur runs on a copy this small
constexpr float kBlurTransitionSigma = 18.0f;
constexpr float kMinBlurSigma = 0.5f;        // below this the blur would not show
constexpr float kMinSmallSigma = 2.0f;       // the shrunk copy keeps the blur this wide
constexpr int kMaxBlurShrink = 8;

// The process-wide announcement: every renderer shows the same band at the same time.
std::wstring lastAnnouncedPath;
double announcedAt = 0.0;

Rgba ColourOf(uint32_t rgb, float alpha) {
  return Rgba{((rgb >> 16) & 0xFF) / 255.0f, ((rgb >> 8) & 0xFF) / 255.0f, (rgb & 0xFF) / 255.0f,
              std::isfinite(alpha) ? std::clamp(alpha, 0.0f, 1.0f) : 0.0f};
}

PixelView ViewOf(const std::vector<uint32_t>& pixels, uint32_t width, uint32_t height) {
  return PixelView{const_cast<uint32_t*>(pixels.data()), static_cast<int>(width), static_cast<int>(height),
                   static_cast<int>(width)};
}

bool Holds(const std::vector<uint32_t>& pixels, uint32_t width, uint32_t height) {
  return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
         pixels.size() == static_cast<size_t>(width) * height;
}

// The surface in *slot, remade when its size differs; null when it cannot be made.
DrawSurface* SurfaceOfSize(std::unique_ptr<DrawSurface>* slot, int width, int height) {
  if (!*slot || (*slot)->pixelWidth() != width || (*slot)->pixelHeight() != height)
    *slot = DrawSurface::Create(width, height, 1.0f);
  return slot->get();
}

TextFormat& VideoTextFormat(VideoRenderer& r, float size, bool bold) {
  const int halfPoints = std::max(1, static_cast<int>(std::lround(size * 2)));
  const int key = halfPoints * 2 + (bold ? 1 : 0);
  std::unique_ptr<TextFormat>& format = r.textFormats[key];
  if (!format) format = std::make_unique<TextFormat>("Segoe UI", bold ? 900 : 600, halfPoints / 2.0f);
  return *format;
}

// Draws the pixels cover-fitted into W x H: scaled to fill, centred, the overflow cut.
void DrawCoverFitted(DrawSurface& s, const PixelView& image, bool opaque, float W, float H, float opacity) {
  const float scale = std::max(W / image.width, H / image.height);
  const float fw = image.width * scale, fh = image.height * scale;
  s.DrawPixelsIn(image, opaque, (W - fw) / 2, (H - fh) / 2, fw, fh, opacity, 0, false);
}

// The side's frame cover-fitted to W x H, scaled once per new frame: a layer drawn without
// scaling is a plain copy, also through an opacity. The frame itself when it is that size.
PixelView FittedFrame(VideoRenderer& r, int side, const VideoDeck& deck, float W, float H) {
  const PixelView frame = ViewOf(deck.frame, deck.frameWidth, deck.frameHeight);
  const int w = static_cast<int>(W), h = static_cast<int>(H);
  if (frame.width == w && frame.height == h) return frame;
  const DrawSurface* before = r.fitted[side].get();
  DrawSurface* fitted = SurfaceOfSize(&r.fitted[side], w, h);
  if (!fitted) return frame;
  if (fitted != before || r.fittedVersion[side] != deck.frameVersion || !r.fittedMade[side]) {
    fitted->Clear(Rgba{0, 0, 0, 1});
    DrawCoverFitted(*fitted, frame, true, W, H, 1);
    r.fittedVersion[side] = deck.frameVersion;
    r.fittedMade[side] = true;
  }
  return fitted->Pixels();
}

// The side's art blurred for its card's backdrop, made again when the art changes.
const std::vector<uint32_t>& BlurredArt(VideoRenderer& r, int side, const VideoDeck& deck) {
  if (!r.blurredArtMade[side] || r.blurredArtVersion[side] != deck.artVersion) {
    const int longest = static_cast<int>(std::max(deck.artWidth, deck.artHeight));
    const int factor = std::max(1, longest / kBlurredArtSide);
    std::vector<uint32_t> scratch;
    BlurSmallCopy(ViewOf(deck.art, deck.artWidth, deck.artHeight), factor, kBackdropBlurSigma / factor,
                  &r.blurredArt[side], &scratch, &r.blurredArtWidth[side], &r.blurredArtHeight[side]);
    r.blurredArtVersion[side] = deck.artVersion;
    r.blurredArtMade[side] = true;
  }
  return r.blurredArt[side];
}

void DrawCard(VideoRenderer& r, DrawSurface& s, int side, const VideoFeedEntry& e, float W, float H, float opacity,
              float pulse) {
  const VideoDeck& deck = VideoDecks[side];
  const bool art = Holds(deck.art, deck.artWidth, deck.artHeight);
  s.SetColor(ColourOf(kCardColour, opacity));
  s.FillRect(0, 0, W, H);
  if (art) {
    const std::vector<uint32_t>& blurred = BlurredArt(r, side, deck);
    DrawCoverFitted(s, ViewOf(blurred, r.blurredArtWidth[side], r.blurredArtHeight[side]), false, W, H,
                    0.6f * opacity);
  } else {
    std::unique_ptr<GradientBrush>& brush = r.backdrops[e.colour];
    if (!brush) {
      const GradientStop stops[2] = {{0.0f, ColourOf(e.colour, 0.35f)}, {1.0f, ColourOf(kCardColour, 1.0f)}};
      brush = std::make_unique<GradientBrush>(GradientBrush::Kind::Radial, stops, 2);
    }
    brush->SetRadial(W / 2, H / 2, 0, 0, 0.6f * W, 0.8f * H);
    brush->SetOpacity(opacity);
    s.SetBrush(brush.get());
    s.FillRect(0, 0, W, H);
    s.SetBrush(nullptr);
  }
  const float half = (1 + 0.03f * pulse) * 0.46f * H * 0.5f;
  const float cx = W / 2, cy = 0.36f * H;
  if (art) {
    s.DrawPixelsIn(ViewOf(deck.art, deck.artWidth, deck.artHeight), false, cx - half, cy - half, 2 * half, 2 * half,
                   opacity, 0, false);
  } else {
    s.SetColor(ColourOf(e.colour, (0.5f + 0.5f * pulse) * opacity));
    s.StrokeEllipse(cx, cy, half, half, 0.012f * H);
  }
  s.SetColor(ColourOf(0xFFFFFF, opacity));
  s.DrawTextLine(VideoTextFormat(r, 0.055f * H, true), WideToUtf8(e.title), 0.05f * W, 0.66f * H, 0.9f * W,
                 0.09f * H, TextAlign::Center);
  s.SetColor(ColourOf(kArtistColour, opacity));
  s.DrawTextLine(VideoTextFormat(r, 0.035f * H, false), WideToUtf8(e.artist), 0.05f * W, 0.75f * H, 0.9f * W,
                 0.06f * H, TextAlign::Center);
}

// One side's picture: its video frame when it has one, else its card.
void DrawDeckLayer(VideoRenderer& r, DrawSurface& s, int side, float W, float H, float opacity, float pulse) {
  const VideoFeedEntry& e = PublishedVideoFeed.entries[side];
  if (opacity <= kLayerMinOpacity || e.path.empty()) return;
  const VideoDeck& deck = VideoDecks[side];
  if (deck.hasVideo && Holds(deck.frame, deck.frameWidth, deck.frameHeight)) {
    const Affine& m = s.transform();
    if (m.m11 == 1 && m.m22 == 1 && m.m12 == 0 && m.m21 == 0) {
      s.DrawPixelsIn(FittedFrame(r, side, deck, W, H), true, 0, 0, W, H, opacity, 0, false);
    } else {
      DrawCoverFitted(s, ViewOf(deck.frame, deck.frameWidth, deck.frameHeight), true, W, H, opacity);
    }
    return;
  }
  DrawCard(r, s, side, e, W, H, opacity, pulse);
}

Affine ScaledAbout(float k, float cx, float cy) { return Affine{k, 0, 0, k, cx * (1 - k), cy * (1 - k)}; }
Affine Shifted(float dx) { return Affine{1, 0, 0, 1, std::round(dx), 0}; }  // whole pixels: a plain copy

// Where the side's video frame lands for an enlargement straight into the surface's pixels under
// `transform`: cover-fitted to W x H, then transformed. False when that does not apply: a card, a
// clip, a scaled surface, or a transform that leaves part of the target uncovered. (A frame that
// would be shrunk is refused later, by the enlargement.)
bool FramePlacement(DrawSurface& s, int side, float W, float H, const Affine& transform, EnlargedPicture* p) {
  const VideoDeck& deck = VideoDecks[side];
  const int w = static_cast<int>(W), h = static_cast<int>(H);
  if (!deck.hasVideo || !Holds(deck.frame, deck.frameWidth, deck.frameHeight) || s.dipScale() != 1.0f ||
      s.clipDepth() != 0 || !(s.transform() == Affine{}) || w != W || h != H || s.pixelWidth() < w ||
      s.pixelHeight() < h || transform.m12 != 0 || transform.m21 != 0 || transform.dx > 0 || transform.dy > 0 ||
      transform.dx + transform.m11 * W < W || transform.dy + transform.m22 * H < H)
    return false;
  const PixelView frame = ViewOf(deck.frame, deck.frameWidth, deck.frameHeight);
  const float fit = std::max(W / frame.width, H / frame.height);
  const float ox = (W - frame.width * fit) / 2, oy = (H - frame.height * fit) / 2;
  *p = EnlargedPicture{frame, transform.m11 * fit, transform.m22 * fit, transform.m11 * ox + transform.dx,
                       transform.m22 * oy + transform.dy, 256};
  return true;
}

uint32_t Weight(float share) { return static_cast<uint32_t>(std::lround(std::clamp(share, 0.0f, 1.0f) * 256)); }

// The target's W x H pixels.
PixelView TargetPixels(DrawSurface& s, float W, float H) {
  const PixelView all = s.Pixels();
  return PixelView{all.pixels, static_cast<int>(W), static_cast<int>(H), all.stride};
}

// One side's video frame enlarged straight into the surface's pixels at an opacity, darkened by
// `shade` (black over it at that alpha): one pass, where the drawing library takes two or three.
// False, nothing drawn, when FramePlacement refuses or the frame would be shrunk.
bool EnlargeFrameInto(DrawSurface& s, int side, float W, float H, float opacity, float shade,
                      const Affine& transform) {
  EnlargedPicture p;
  if (!FramePlacement(s, side, W, H, transform, &p) ||
      !EnlargeInto(p.src, p.scaleX, p.scaleY, p.dx, p.dy, TargetPixels(s, W, H), Weight(opacity * (1 - shade)),
                   256 - Weight(opacity)))
    return false;
  s.MarkDirty(0, 0, static_cast<int>(W), static_cast<int>(H));
  return true;
}

// A zoom mid-way with video on both sides in one pass: the left enlarged and darkened by t / 2,
// the right enlarged over it at opacity t. False, nothing drawn, when either side cannot be.
bool ZoomBothInto(DrawSurface& s, float W, float H, float t, const Affine& left, const Affine& right) {
  EnlargedPicture a, b;
  if (!FramePlacement(s, 0, W, H, left, &a) || !FramePlacement(s, 1, W, H, right, &b)) return false;
  b.weight = Weight(t);
  a.weight = (Weight(1 - 0.5f * t) * (256 - b.weight) + 128) >> 8;
  if (!EnlargeBothInto(a, b, TargetPixels(s, W, H))) return false;
  s.MarkDirty(0, 0, static_cast<int>(W), static_cast<int>(H));
  return true;
}

// One side's layer under a transform at an opacity, then darkened by `shade` where it lies (the
// left layer of a zoom covers the frame). A see-through scaled layer is drawn whole into the
// renderer's layer surface and that is drawn over unscaled: a scaled draw through an opacity is
// several times slower in the drawing library than the two.
void DrawLayer(VideoRenderer& r, DrawSurface& s, int side, float W, float H, float opacity, float pulse,
               const Affine& transform, float shade = 0) {
  if (opacity <= kLayerMinOpacity || PublishedVideoFeed.entries[side].path.empty()) return;
  const bool scaled = transform.m11 != 1 || transform.m22 != 1 || transform.m12 != 0 || transform.m21 != 0;
  if (scaled && (opacity >= 1 - kLayerMinOpacity || shade == 0) &&
      EnlargeFrameInto(s, side, W, H, std::min(opacity, 1.0f), shade, transform))
    return;
  auto darken = [&] {
    if (shade <= 0) return;
    s.SetColor(Rgba{0, 0, 0, shade});
    s.FillRect(0, 0, W, H);
  };
  if (opacity >= 1 - kLayerMinOpacity || !scaled) {
    s.SetTransform(transform);
    DrawDeckLayer(r, s, side, W, H, std::min(opacity, 1.0f), pulse);
    s.SetTransform(Affine{});
    darken();
    return;
  }
  DrawSurface* layer = SurfaceOfSize(&r.layer, s.pixelWidth(), s.pixelHeight());
  if (!layer) return;
  // Enlarged about the centre, a deck layer (a cover-fitted frame or a filled card) still covers
  // the whole frame with opaque pixels: nothing to clear, and the blend needs no alpha.
  const bool covers = transform.m12 == 0 && transform.m21 == 0 && transform.m11 >= 1 && transform.m22 >= 1 &&
                      std::fabs(transform.dx - W / 2 * (1 - transform.m11)) < 0.5f &&
                      std::fabs(transform.dy - H / 2 * (1 - transform.m22)) < 0.5f;
  if (!covers) layer->Clear(Rgba{0, 0, 0, 0});
  layer->SetTransform(transform);
  DrawDeckLayer(r, *layer, side, W, H, 1, pulse);
  layer->SetTransform(Affine{});
  s.DrawPixelsIn(layer->Pixels(), covers, 0, 0, W, H, opacity, 0, false);
  darken();
}

void DrawVideoTransition(VideoRenderer& r, DrawSurface& s, float W, float H, float t, float pulse) {
  s.ResetClips();
  s.SetTransform(Affine{});
  const bool leftEmpty = PublishedVideoFeed.entries[0].path.empty();
  const bool rightEmpty = PublishedVideoFeed.entries[1].path.empty();
  // The first layer drawn is opaque and covers every pixel when it is a side drawn whole at full
  // opacity, in place or enlarged (all but a slide, whose sides are shifted): then the black under
  // it would be painted for nothing.
  const int transition = PublishedVideoFeed.transition;
  const bool whole = s.dipScale() == 1.0f && s.pixelWidth() == W && s.pixelHeight() == H;
  const bool firstCovers = whole && !(leftEmpty && rightEmpty) &&
                           (transition == kTransitionCut || (transition != kTransitionSlide && !leftEmpty));
  if (!firstCovers) s.Clear(Rgba{0, 0, 0, 1});
  if (leftEmpty && rightEmpty) return;
  if (leftEmpty) t = 1;
  if (rightEmpty) t = 0;
  const Affine identity;
  switch (transition) {
    case kTransitionWipe:
      DrawLayer(r, s, 0, W, H, 1, pulse, identity);
      s.PushClip((1 - t) * W, 0, t * W, H);
      DrawLayer(r, s, 1, W, H, 1, pulse, identity);
      s.PopClip();
      break;
    case kTransitionSlide:
      DrawLayer(r, s, 0, W, H, 1, pulse, Shifted(-t * W));
      DrawLayer(r, s, 1, W, H, 1, pulse, Shifted((1 - t) * W));
      break;
    case kTransitionZoom:
      // The left layer covers the black frame whole: drawn opaque and then darkened is the same as
      // drawn see-through over black, and much cheaper enlarged.
      if (!leftEmpty && !rightEmpty && t > kLayerMinOpacity && t < 1 - kLayerMinOpacity &&
          ZoomBothInto(s, W, H, t, ScaledAbout(1 + 0.6f * t, W / 2, H / 2), ScaledAbout(1.6f - 0.6f * t, W / 2, H / 2)))
        break;
      DrawLayer(r, s, 0, W, H, 1, pulse, ScaledAbout(1 + 0.6f * t, W / 2, H / 2), 0.5f * t);
      DrawLayer(r, s, 1, W, H, t, pulse, ScaledAbout(1.6f - 0.6f * t, W / 2, H / 2));
      break;
    case kTransitionCut:
      DrawLayer(r, s, t >= 0.5f ? 1 : 0, W, H, 1, pulse, identity);
      break;
    default:  // FADE, BLUR and anything unknown
      DrawLayer(r, s, 0, W, H, 1, pulse, identity);
      DrawLayer(r, s, 1, W, H, t, pulse, identity);
      break;
  }
}

// The effect stage: the composition onto the target.
// W x H are pixels; the target's drawing calls take DIPs, Wd x Hd.
void DrawEffect(VideoRenderer& r, DrawSurface& comp, DrawSurface& target, int W, int H, float t, double beat,
                float pulse) {
  const int effect = PublishedVideoFeed.effect;
  const float Wd = W / target.dipScale(), Hd = H / target.dipScale();
  PixelView src = comp.Pixels();
  PixelView dst = target.Pixels();
  auto copyPlain = [&] {
    for (int y = 0; y < H; ++y)
      std::memcpy(dst.pixels + static_cast<ptrdiff_t>(y) * dst.stride, src.pixels + static_cast<ptrdiff_t>(y) * src.stride,
                  sizeof(uint32_t) * W);
    target.MarkDirty(0, 0, W, H);
  };
  switch (effect) {
    case kEffectMono:
      ApplyColorMatrix(kMonoMatrix, src, dst);
      target.MarkDirty(0, 0, W, H);
      return;
    case kEffectInvert:
      ApplyColorMatrix(kInvertMatrix, src, dst);
      target.MarkDirty(0, 0, W, H);
      return;
    case kEffectMirror:
      MirrorLeftHalf(src, dst);
      target.MarkDirty(0, 0, W, H);
      return;
    case kEffectStrobe:
      if (std::fmod(2 * beat, 1.0) < 0.5) copyPlain();
      return;
    case kEffectBeatZoom: {
      const float k = 1 + 0.07f * pulse;
      target.DrawPixelsIn(src, true, (Wd - k * Wd) / 2, (Hd - k * Hd) / 2, k * Wd, k * Hd, 1, 0, false);
      return;
    }
    case kEffectRgbSplit:
      SplitChannels(src, dst, static_cast<int>(std::lround((0.004f + 0.012f * pulse) * W)));
      target.MarkDirty(0, 0, W, H);
      return;
    case kEffectPixelate: {
      const float cell = (1 - pulse) * 22 + 10;
      const int rows = std::max(2, static_cast<int>(H / cell)), columns = std::max(2, static_cast<int>(W / cell));
      AverageCells(src, columns, rows, &r.small);
      target.DrawPixelsIn(ViewOf(r.small, columns, rows), true, 0, 0, Wd, Hd, 1, 0, true);
      return;
    }
    default:
      break;
  }
  // NONE and BEAT FLASH; through the blur in the middle of a BLUR transition.
  const float b = 1 - 2 * std::fabs(t - 0.5f);
  const float sigma = kBlurTransitionSigma * b * b;
  if (PublishedVideoFeed.transition == kTransitionBlur && sigma >= kMinBlurSigma) {
    // The blur runs on a copy shrunk by a power of two that leaves it at least 2 small pixels.
    int factor = 1;
    while (factor < kMaxBlurShrink && sigma / (factor * 2) >= kMinSmallSigma) factor *= 2;
    int sw = 0, sh = 0;
    BlurSmallCopy(src, factor, sigma / factor, &r.small, &r.smallScratch, &sw, &sh);
    // Enlarged back straight into the target's pixels where its transform and clip are plain.
    const PixelView all = dst;
    if (target.clipDepth() == 0 && target.transform() == Affine{} &&
        EnlargeInto(ViewOf(r.small, sw, sh), static_cast<float>(W) / sw, static_cast<float>(H) / sh, 0, 0,
                    PixelView{all.pixels, W, H, all.stride}, 256, 0))
      target.MarkDirty(0, 0, W, H);
    else
      target.DrawPixelsIn(ViewOf(r.small, sw, sh), false, 0, 0, Wd, Hd, 1, 0, false);
  } else {
    copyPlain();
  }
  if (effect == kEffectBeatFlash) {
    target.SetColor(Rgba{1, 1, 1, 0.45f * pulse * pulse});
    target.FillRect(0, 0, Wd, Hd);
  }
}

void DrawTitleBand(VideoRenderer& r, DrawSurface& s, float W, float H, double now) {
  const auto& entries = PublishedVideoFeed.entries;
  const VideoFeedEntry& e = entries[1].level > entries[0].level ? entries[1] : entries[0];
  if (!e.path.empty() && e.path != lastAnnouncedPath && e.level > kAnnounceLevel) {
    lastAnnouncedPath = e.path;
    announcedAt = now;
  }
  const double d = now - announcedAt;
  if (!PublishedVideoFeed.overlay || d >= kTitleBandSeconds || lastAnnouncedPath != e.path || e.path.empty()) return;
  const float a = static_cast<float>(
      std::clamp(std::min(d / kTitleBandFadeInSeconds, (kTitleBandSeconds - d) / kTitleBandFadeOutSeconds), 0.0, 1.0));
  s.SetColor(Rgba{0, 0, 0, 0.55f * a});
  s.FillRect(0, 0.85f * H, W, 0.12f * H);
  s.SetColor(ColourOf(e.colour, a));
  s.FillRect(0, 0.85f * H, 0.006f * W, 0.12f * H);
  std::wstring text = e.title;
  if (!e.artist.empty()) text += L"  \u2014  " + e.artist;
  s.SetColor(Rgba{1, 1, 1, a});
  s.DrawTextLine(VideoTextFormat(r, 0.045f * H, true), WideToUtf8(text), 0.03f * W, 0.85f * H, 0.94f * W, 0.12f * H,
                 TextAlign::Center);
}

}  // namespace

void ReleaseVideoRenderer(VideoRenderer* r) { *r = VideoRenderer{}; }

void ResetVideoAnnouncement() {
  lastAnnouncedPath.clear();
  announcedAt = 0.0;
}

void ComposeVideoFrame(VideoRenderer* r, DrawSurface* target, int width, int height, double now) {
  const auto& entries = PublishedVideoFeed.entries;
  const float sum = entries[0].level + entries[1].level;
  float t = sum > 0.0001f ? entries[1].level / sum : (entries[0].path.empty() ? 1.0f : 0.0f);
  if (!std::isfinite(t)) t = 0;
  const double beat = std::isfinite(PublishedVideoFeed.beat) ? PublishedVideoFeed.beat : 0.0;
  const float pulse = static_cast<float>(std::exp(-5.0 * (beat - std::floor(beat))));
  const int W = std::max(2, width), H = std::max(2, height);
  if (target->pixelWidth() < W || target->pixelHeight() < H) return;
  const int effect = PublishedVideoFeed.effect;
  const float b = 1 - 2 * std::fabs(t - 0.5f);
  const bool blurred = PublishedVideoFeed.transition == kTransitionBlur && kBlurTransitionSigma * b * b >= kMinBlurSigma;
  // Effects that draw the composition plain compose straight onto a target of the same pixels:
  // the same picture without a copy of it.
  const bool plain = (effect == kEffectNone || effect == kEffectBeatFlash || effect == kEffectStrobe) && !blurred &&
                     target->dipScale() == 1.0f && target->pixelWidth() == W && target->pixelHeight() == H;
  if (plain) {
    if (effect == kEffectStrobe && !(std::fmod(2 * beat, 1.0) < 0.5)) {
      target->ResetClips();
      target->SetTransform(Affine{});
      target->Clear(Rgba{0, 0, 0, 1});
    } else {
      DrawVideoTransition(*r, *target, static_cast<float>(W), static_cast<float>(H), t, pulse);
    }
    if (effect == kEffectBeatFlash) {
      target->SetColor(Rgba{1, 1, 1, 0.45f * pulse * pulse});
      target->FillRect(0, 0, static_cast<float>(W), static_cast<float>(H));
    }
  } else {
    DrawSurface* comp = SurfaceOfSize(&r->composition, W, H);
    if (!comp) return;
    DrawVideoTransition(*r, *comp, static_cast<float>(W), static_cast<float>(H), t, pulse);
    target->ResetClips();
    target->SetTransform(Affine{});
    // Every effect but the strobe writes each pixel of a target of the composition's size.
    if (effect == kEffectStrobe || target->dipScale() != 1.0f || target->pixelWidth() != W ||
        target->pixelHeight() != H)
      target->Clear(Rgba{0, 0, 0, 1});
    DrawEffect(*r, *comp, *target, W, H, t, beat, pulse);
  }
  DrawTitleBand(*r, *target, W / target->dipScale(), H / target->dipScale(), now);
}

bool RenderVideoFrameAt(VideoRenderer* r, int width, int height, double now, std::vector<uint32_t>* out) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return false;
  if (width >= 2 && height >= 2) {
    // Drawn straight into the caller's vector: no copy of the finished frame.
    std::vector<uint32_t> pixels = std::move(*out);
    pixels.resize(static_cast<size_t>(width) * height);
    std::unique_ptr<DrawSurface> target = DrawSurface::Wrap(pixels.data(), width, height, width, 1.0f);
    if (target) {
      ComposeVideoFrame(r, target.get(), width, height, now);
      target->Pixels();  // finishes the drawing
      target.reset();
      *out = std::move(pixels);
      return true;
    }
    *out = std::move(pixels);
  }
  // The composition is at least 2 x 2; a smaller frame is its top-left corner.
  DrawSurface* target = SurfaceOfSize(&r->output, std::max(2, width), std::max(2, height));
  if (!target) return false;
  ComposeVideoFrame(r, target, width, height, now);
  const PixelView v = target->Pixels();
  out->resize(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    std::memcpy(out->data() + static_cast<size_t>(y) * width, v.pixels + static_cast<ptrdiff_t>(y) * v.stride,
                sizeof(uint32_t) * width);
  return true;
}

bool RenderVideoFrame(VideoRenderer* r, int width, int height, std::vector<uint32_t>* out) {
  return RenderVideoFrameAt(r, width, height, static_cast<double>(MonotonicMs()) / 1000.0, out);
}
