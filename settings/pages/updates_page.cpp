// The Updates page: which build runs and when an update was last installed, the automatic-check
// switch, and a status card that follows the update flow with one button whose meaning follows
// its phase. The page keeps no state: the card is rebuilt from the flow every frame.
#include <algorithm>
#include <cmath>

#include "base/settings.h"
#include "settings/pages/settings_pages.h"
#include "settings/settings_rows.h"
#include "settings/updates.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/widgets.h"

namespace {

constexpr int32_t kCheckToggleId = 3124;
constexpr int32_t kCardButtonId = 3123;
constexpr wchar_t kDownloadGlyph = 0xE896, kWarningGlyph = 0xE7BA, kCheckGlyph = 0xE73E;

constexpr float kValueSize = 13.0f;
constexpr float kHelpSpaceDip = 8.0f;
// The card.
constexpr float kCircleOffsetDip = 22.0f;
constexpr float kDiscRadiusDip = 20.0f;
constexpr float kRingRadiusDip = 21.0f;
constexpr float kGlowRadiusDip = 30.0f;
constexpr float kPulseAmplitude = 0.5f;
constexpr float kPulsePeriodMs = 250.0f;  // sin(t / this)
constexpr float kGlowAlpha = 0.18f, kGlowPulse = 0.15f;
constexpr float kRingAlpha = 0.7f, kRingPulse = 0.3f;
constexpr float kDiscLighten = 0.15f, kDiscDarken = 0.35f;
constexpr float kDiscOriginX = -0.3f, kDiscOriginY = -0.4f;
constexpr float kGlyphBoxDip = 40.0f, kGlyphSize = 20.0f, kGlyphShiftDip = 0.4f;
constexpr Color kGlyphInk = ColorOf(0x0B0D12);
constexpr float kTextXDip = 56.0f;
constexpr float kTitleSize = 16.0f, kDetailSize = 11.5f;
constexpr float kCardStepDip = 60.0f;
constexpr float kBarHeightDip = 8.0f, kBarRadiusDip = 4.0f, kBarMinFillDip = 8.0f;
constexpr float kBarShownFrom = 0.005f;
constexpr float kBarLighten = 0.2f, kBarGlowAlpha = 0.6f;
constexpr Color kBarBack = ColorOf(0x0B0D12, 0.8f);
constexpr float kPercentRiseDip = 12.0f, kPercentHeightDip = 18.0f, kPercentSize = 11.5f;
constexpr float kBarStepDip = 34.0f;
constexpr float kButtonMaxDip = 260.0f, kButtonHeightDip = 36.0f, kButtonTextSize = 11.0f;
constexpr float kButtonStepDip = 48.0f;

struct Card {
  std::wstring title, detail, button;
  wchar_t glyph = kDownloadGlyph;
  Color accent;
  bool lit = false;
};

Card ChooseCard() {
  const std::wstring host = UpdateSiteHost();
  Card card{.title = {}, .detail = TranslateFilled(Updates.statusText), .button = Translate(L"CHECK FOR UPDATES"),
            .glyph = kDownloadGlyph, .accent = ColorOf(Pal.DeckA), .lit = false};
  const Color green = ColorOf(Pal.Green);
  switch (Updates.phase) {
    case kUpdateChecking:
      card.title = Translate(L"Checking ") + host + L"\u2026";
      card.detail = Translate(L"Asking for the newest version");
      card.button = Translate(L"CHECKING\u2026");
      return card;
    case kUpdateDownloading:
      card.title = Translate(L"Downloading the update");
      card.button = Translate(L"CANCEL THE DOWNLOAD");
      card.accent = green;
      return card;
    case kUpdateReady:
      card.title = Translate(L"Ready to install");
      card.detail = Translate(L"Veldmix will close and show the update's folder \u2014 stop the music first");
      card.button = Translate(L"INSTALL THE UPDATE");
      card.accent = green;
      card.lit = true;
      return card;
    case kUpdateIdle:
      break;
  }
  if (Updates.offered.stamp != 0) {
    card.title = Translate(L"A new version is available");
    card.button = Translate(L"DOWNLOAD THE UPDATE");
    card.accent = green;
    card.lit = true;
  } else if (Updates.lastCheckFailed) {
    card.title = Translate(L"Couldn't reach ") + host;
    card.glyph = kWarningGlyph;
    card.accent = ColorOf(Pal.Yellow);
  } else if (Updates.lastCheck != 0) {
    card.title = Translate(L"Veldmix is up to date");
    card.detail = Translate(L"Checked ") + TranslateFilled(StampText(Updates.lastCheck));
    card.glyph = kCheckGlyph;
  } else {
    card.title = Translate(L"Not checked yet");
    card.detail = Settings.UpdatesCheck ? Translate(L"The first check is shortly after Veldmix starts")
                                        : Translate(L"Press CHECK FOR UPDATES to ask ") + host;
  }
  return card;
}

void DrawCardCircle(const Card& card, float cx, float cy) {
  const bool busy = Updates.phase == kUpdateChecking || Updates.phase == kUpdateDownloading;
  const float p =
      busy ? kPulseAmplitude + kPulseAmplitude * std::sin(static_cast<float>(FrameClockMs) / kPulsePeriodMs) : 0.0f;
  SoftGlow(cx, cy, kGlowRadiusDip, kGlowRadiusDip, WithAlpha(card.accent, kGlowAlpha + kGlowPulse * p));
  FillRadialEllipse(cx, cy, kDiscRadiusDip, Lighten(card.accent, kDiscLighten), Darken(card.accent, kDiscDarken),
                    kDiscOriginX, kDiscOriginY);
  const Color ring = WithAlpha(card.accent, kRingAlpha + kRingPulse * p);
  StrokeCircle(cx, cy, kRingRadiusDip, ring, 1.0f);
  GlowRing(cx, cy, kRingRadiusDip, ring, 1.0f);
  // Above the glow pass, so the glow never washes the glyph out.
  const wchar_t glyph[2] = {card.glyph, 0};
  const Rc box{cx - kGlyphBoxDip / 2, cy - kGlyphBoxDip / 2, kGlyphBoxDip, kGlyphBoxDip};
  QueueOverlay([glyph0 = glyph[0], box] {
    const wchar_t text[2] = {glyph0, 0};
    for (const float dx : {-kGlyphShiftDip, kGlyphShiftDip})
      DrawTextAsIs(text, Rc{box.x + dx, box.y, box.w, box.h}, kGlyphSize, kGlyphInk, kAlignCenter, false, kFontIcons);
  });
}

void DrawProgressBar(float x, float w) {
  const float q = Updates.progress ? std::clamp(Updates.progress->load(), 0.0f, 1.0f) : 0.0f;
  const Rc bar{x, Cursor.y, w, kBarHeightDip};
  FillRoundedRect(bar, kBarRadiusDip, kBarBack);
  if (q > kBarShownFrom) {
    const Rc filled{x, Cursor.y, std::max(kBarMinFillDip, w * q), kBarHeightDip};
    const Color green = ColorOf(Pal.Green);
    FillRoundedRect(filled, kBarRadiusDip,
                    Brush(LinearGradientBrush(green, Lighten(green, kBarLighten), PointF{filled.x, filled.y},
                                              PointF{filled.Right(), filled.y}, false)));
    GlowRoundedRect(filled, kBarRadiusDip, WithAlpha(green, kBarGlowAlpha));
  }
  DrawTextAsIs(std::to_wstring(static_cast<int>(std::lround(q * 100.0f))) + L"%",
               Rc{x, Cursor.y + kPercentRiseDip, w, kPercentHeightDip}, kPercentSize, ColorOf(Pal.Text), kAlignLeft,
               false, kFontSegoeUi);
  Cursor.y += kBarStepDip;
}

void DrawStatusCard() {
  const Card card = ChooseCard();
  const float x = Cursor.columnX, w = Cursor.columnRight - Cursor.columnX;
  DrawCardCircle(card, x + kCircleOffsetDip, Cursor.y + kCircleOffsetDip);
  DrawTextAsIs(card.title, Rc{x + kTextXDip, Cursor.y + 4, w - kTextXDip, 24}, kTitleSize, ColorOf(Pal.Text),
               kAlignLeft, false, kFontSegoeUi);
  DrawTextAsIs(card.detail, Rc{x + kTextXDip, Cursor.y + 28, w - kTextXDip, 18}, kDetailSize, ColorOf(Pal.Dim),
               kAlignLeft, false, kFontSegoeUi);
  Cursor.y += kCardStepDip;
  if (Updates.phase == kUpdateDownloading) DrawProgressBar(x, w);
  if (Button(kCardButtonId, Rc{x, Cursor.y, std::min(w, kButtonMaxDip), kButtonHeightDip}, card.button, card.accent,
             card.lit, kButtonTextSize))
    QueueDeferredAction(UpdateButtonAction);
  Cursor.y += kButtonStepDip;
}

void ValueRow(std::wstring_view label, const std::wstring& value, Color colour, float size) {
  RowLabel(label);
  DrawTextAsIs(value, Rc{Cursor.controlX, Cursor.y, Cursor.controlWidth, kSettingsRowHeightDip}, size, colour,
               kAlignLeft, false, kFontSegoeUi);
  Cursor.y += kSettingsRowStepDip;
}

}  // namespace

void DrawUpdatesPage() {
  BeginColumn(0);
  SectionHeader(L"THIS COPY");
  ValueRow(L"Version", L"" VELDMIX_VERSION, ColorOf(Pal.Text), kValueSize);
  ValueRow(L"Built", TranslateFilled(StampText(BuildStamp())), ColorOf(Pal.Dim), kDetailSize);
  ValueRow(L"Last update",
           Settings.Installed != 0 ? TranslateFilled(StampText(Settings.Installed)) : Translate(L"None yet \u2014 installed by hand"),
           ColorOf(Pal.Dim), kDetailSize);
  SectionHeader(L"AUTOMATIC CHECKS");
  RowLabel(L"Look for updates");
  ToggleRow(kCheckToggleId, L"WHEN I ASK", L"EVERY 6 HOURS", &Settings.UpdatesCheck);
  HelpLine(L"Nothing is installed until you say so \u2014 and never while");
  HelpLine(L"music's playing, a mix is recording or a stream is live.");
  Cursor.y += kHelpSpaceDip;

  BeginColumn(1);
  SectionHeader(L"STATUS");
  DrawStatusCard();
}
