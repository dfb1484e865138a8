#pragma once
// Content taller than the area that shows it: an offset that the wheel moves, a thin bar at the
// area's right edge that says where the view lies, and a guard that keeps the hidden parts of
// the content from drawing or taking the mouse. The browser's sidebar, the settings pages and
// the karaoke panel scroll this way. UI thread.
#include <cstddef>

#include "engine/control_input.h"
#include "ui/draw.h"

// How far content of that height can scroll in a view of that height; 0 when it fits.
float MaxScroll(float contentHeight, float viewHeight);
// The offset after this frame's wheel: each notch away from the user moves the content down by
// stepDip while the mouse is over r and no control is held; always clamped into 0..maxOffset.
float WheelScroll(Rc r, float offset, float maxOffset, float stepDip);
// The offset nearest to `offset` that shows [top, top + height) (content coordinates) whole in a
// view viewHeight high; a part taller than the view shows its top.
float RevealScroll(float offset, float top, float height, float viewHeight);
// The part of r inside view; its height is 0 or less when none is.
Rc SeenPart(Rc r, Rc view);
// The position bar at r's right edge: its length is the view's share of the content, its place
// the offset's share of maxOffset. Nothing when maxOffset is 0.
void DrawScrollMark(Rc r, float offset, float maxOffset);

// Where hidden code sees the mouse: far off every screen.
inline constexpr float kHiddenMouseDip = -1000000.0f;

// While an overlay or a scrolled view hides part of the screen, the code drawing that part sees
// the mouse far away, with no press, right press, double click or wheel; held and released stay,
// so a drag begun elsewhere still ends. Restores the input when it goes.
class MouseHidden {
 public:
  explicit MouseHidden(bool hide);
  ~MouseHidden();
  MouseHidden(const MouseHidden&) = delete;
  MouseHidden& operator=(const MouseHidden&) = delete;

 private:
  bool hide_;
  UiInput saved_;
};

// While it lives the content drawn is clipped to r, sees the mouse only over r (unless a control
// is held: its drag keeps the real pointer) and its glows, which the glow pass draws unclipped,
// are dropped unless they lie wholly inside r.
class ScrollClip {
 public:
  explicit ScrollClip(Rc r);
  ~ScrollClip();
  ScrollClip(const ScrollClip&) = delete;
  ScrollClip& operator=(const ScrollClip&) = delete;

 private:
  Rc view_;
  size_t firstGlow_;
  MouseHidden hidden_;
};
