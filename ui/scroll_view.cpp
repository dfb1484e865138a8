#include "ui/scroll_view.h"

#include <algorithm>
#include <cmath>

#include "base/palette.h"
#include "ui/glow.h"
#include "ui/widgets.h"

namespace {

constexpr float kMarkWidthDip = 2.0f, kMarkMinDip = 8.0f;

// A glow shape's extent before its transform: the shape itself, not its blur.
Rc GlowBounds(const GlowShape& s) {
  switch (s.kind) {
    case kGlowFilledRoundedRect:
    case kGlowOutlinedRoundedRect: {
      const float half = s.kind == kGlowOutlinedRoundedRect ? s.g6 / 2 : 0.0f;
      return Rc{s.g1 - half, s.g2 - half, s.g3 - s.g1 + 2 * half, s.g4 - s.g2 + 2 * half};
    }
    case kGlowFilledCircle: return Rc{s.g1 - s.g3, s.g2 - s.g3, 2 * s.g3, 2 * s.g3};
    case kGlowRing:
    case kGlowArc: {
      const float r = s.g3 + s.g6 / 2;
      return Rc{s.g1 - r, s.g2 - r, 2 * r, 2 * r};
    }
    case kGlowLine: {
      const float half = s.g6 / 2;
      const float x0 = std::min(s.g1, s.g3), y0 = std::min(s.g2, s.g4);
      return Rc{x0 - half, y0 - half, std::abs(s.g3 - s.g1) + 2 * half, std::abs(s.g4 - s.g2) + 2 * half};
    }
    case kGlowText: return Rc{s.g1, s.g2, s.g3, s.g4};
    case kGlowColumns: {
      float half = 0;
      for (float h : s.columns) half = std::max(half, h);
      return Rc{s.g1, s.g2 - half, static_cast<float>(s.columns.size()), 2 * half};
    }
    default: return Rc{0, 0, INFINITY, INFINITY};  // unknown: never counted as inside
  }
}

// r under m, as the box around its mapped corners.
Rc Mapped(const Affine& m, Rc r) {
  float x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
  for (const PointF c : {PointF{r.x, r.y}, PointF{r.Right(), r.y}, PointF{r.x, r.Bottom()}, PointF{r.Right(), r.Bottom()}}) {
    float x = 0, y = 0;
    MapPoint(m, c.x, c.y, &x, &y);
    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
  }
  return Rc{x0, y0, x1 - x0, y1 - y0};
}

bool WhollyInside(Rc inner, Rc outer) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.Right() <= outer.Right() && inner.Bottom() <= outer.Bottom();
}

}  // namespace

float MaxScroll(float contentHeight, float viewHeight) { return std::max(0.0f, contentHeight - viewHeight); }

float WheelScroll(Rc r, float offset, float maxOffset, float stepDip) {
  if (Input.wheel != 0 && std::isfinite(Input.wheel) && ActiveControlId == kNoActiveControl &&
      MouseOver(r))
    offset -= Input.wheel * stepDip;
  return std::clamp(offset, 0.0f, std::max(0.0f, maxOffset));
}

float RevealScroll(float offset, float top, float height, float viewHeight) {
  if (top < offset || height > viewHeight) return top;
  if (top + height > offset + viewHeight) return top + height - viewHeight;
  return offset;
}

Rc SeenPart(Rc r, Rc view) {
  const float x = std::max(r.x, view.x), y = std::max(r.y, view.y);
  return Rc{x, y, std::min(r.Right(), view.Right()) - x, std::min(r.Bottom(), view.Bottom()) - y};
}

void DrawScrollMark(Rc r, float offset, float maxOffset) {
  if (!(maxOffset > 0) || !(r.h > 0)) return;
  const float thumb = std::max(kMarkMinDip, r.h * r.h / (r.h + maxOffset));
  const float top = r.y + (r.h - thumb) * std::clamp(offset / maxOffset, 0.0f, 1.0f);
  FillRoundedRect(Rc{r.Right() - kMarkWidthDip, top, kMarkWidthDip, thumb}, kMarkWidthDip / 2, ColorOf(Pal.Faint));
}

MouseHidden::MouseHidden(bool hide) : hide_(hide), saved_(Input) {
  if (!hide_) return;
  Input.x = Input.y = kHiddenMouseDip;
  Input.pressed = Input.rightPressed = Input.doubleClicked = false;
  Input.wheel = 0.0f;
}

MouseHidden::~MouseHidden() {
  if (!hide_) return;
  Input.x = saved_.x, Input.y = saved_.y;
  Input.pressed = saved_.pressed, Input.rightPressed = saved_.rightPressed;
  Input.doubleClicked = saved_.doubleClicked, Input.wheel = saved_.wheel;
}

ScrollClip::ScrollClip(Rc r)
    : view_(Mapped(GetTransform(), r)),
      firstGlow_(GlowList.size()),
      hidden_(ActiveControlId == kNoActiveControl && !MouseOver(r)) {
  PushClip(r);
}

ScrollClip::~ScrollClip() {
  PopClip();
  const size_t first = std::min(firstGlow_, GlowList.size());
  GlowList.erase(std::remove_if(GlowList.begin() + static_cast<std::ptrdiff_t>(first), GlowList.end(),
                                [&](const GlowShape& s) { return !WhollyInside(Mapped(s.transform, GlowBounds(s)), view_); }),
                 GlowList.end());
}
