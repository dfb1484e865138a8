#include "ui/status_line.h"

#include <algorithm>
#include <limits>

#include "platform/clock.h"
#include "settings/palette.h"
#include "ui/draw.h"
#include "ui/widgets.h"

StatusLine Status;

namespace {

constexpr float kPillTopDip = 100.0f, kPillHeightDip = 34.0f, kPillRadius = 17.0f;
constexpr float kPillPadDip = 36.0f;  // both sides together
constexpr Color kPillTop = ColorOf(0x2C313D, 0.97f);     // rgb(44, 49, 61)
constexpr Color kPillBottom = ColorOf(0x1B1E26, 0.97f);  // rgb(27, 30, 38)
constexpr float kEdgeAlpha = 0.7f, kGlowAlpha = 0.6f, kGlowWidth = 2.0f;
constexpr float kTextSize = 13.0f;

}  // namespace

void ShowStatus(const std::wstring& text, int ms) {
  Status.text = text;
  Status.expiresAtMs = MonotonicMs() + static_cast<uint64_t>(std::max(ms, 0));
}

bool StatusShowing(uint64_t nowMs) { return !Status.text.empty() && nowMs < Status.expiresAtMs; }

void DrawStatusLine(float windowWidth) { DrawStatusLineAt(windowWidth, MonotonicMs()); }

void DrawStatusLineAt(float windowWidth, uint64_t nowMs) {
  if (!StatusShowing(nowMs)) return;
  // Measured as shown: translated, at full size (no box to fit).
  const ShownText shown =
      TranslateToFit(Status.text, std::numeric_limits<float>::infinity(), kTextSize, true, kFontSegoeUi);
  const float width = TextWidth(shown.text, kTextSize, true, kFontSegoeUi) + kPillPadDip;
  const Rc pill{windowWidth / 2 - width / 2, kPillTopDip, width, kPillHeightDip};
  const Color yellow = ColorOf(Pal.Yellow);
  FillGradientRoundedRect(pill, kPillRadius, kPillTop, kPillBottom);
  StrokeRoundedRect(pill, kPillRadius, WithAlpha(yellow, kEdgeAlpha), 1);
  GlowOutline(pill, kPillRadius, WithAlpha(yellow, kGlowAlpha), kGlowWidth);
  DrawTextAsIs(shown.text, pill, kTextSize, ColorOf(Pal.Text), kAlignCenter, true, kFontSegoeUi);
}
