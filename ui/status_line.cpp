#include "ui/status_line.h"

#include "base/palette.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/language.h"
#include "ui/widgets.h"

namespace {

constexpr float kPillTopDip = 100.0f, kPillHeightDip = 34.0f, kPillRadius = 17.0f;
constexpr float kPillPadDip = 36.0f;  // both sides together
constexpr Color kPillTop = ColorOf(0x2C313D, 0.97f);     // rgb(44, 49, 61)
constexpr Color kPillBottom = ColorOf(0x1B1E26, 0.97f);  // rgb(27, 30, 38)
constexpr float kEdgeAlpha = 0.7f, kGlowAlpha = 0.6f, kGlowWidth = 2.0f;
constexpr float kTextSize = 13.0f;

}  // namespace

void DrawStatusLine(float windowWidth) { DrawStatusLineAt(windowWidth, FrameClockMs); }

void DrawStatusLineAt(float windowWidth, uint64_t nowMs) {
  if (!StatusShowing(nowMs)) return;
  NoteStatusDrawn(nowMs);
  RedrawAt(Status.expiresAtMs);
  // Translated on every frame, so a change of language shows at once; at full size (no box to fit).
  const std::wstring shown = TranslateFilled(Status.message);
  const float width = TextWidth(shown, kTextSize, true, kFontSegoeUi) + kPillPadDip;
  const Rc pill{windowWidth / 2 - width / 2, kPillTopDip, width, kPillHeightDip};
  const Color yellow = ColorOf(Pal.Yellow);
  FillGradientRoundedRect(pill, kPillRadius, kPillTop, kPillBottom);
  StrokeRoundedRect(pill, kPillRadius, WithAlpha(yellow, kEdgeAlpha), 1);
  GlowOutline(pill, kPillRadius, WithAlpha(yellow, kGlowAlpha), kGlowWidth);
  DrawTextAsIs(shown, pill, kTextSize, ColorOf(Pal.Text), kAlignCenter, true, kFontSegoeUi);
}
