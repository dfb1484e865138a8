#include "settings/about_page.h"

#include <algorithm>
#include <array>

#include "base/log.h"
#include "base/palette.h"
#include "base/status_message.h"
#include "engine/deck_view.h"
#include "engine/side_slots.h"
#include "platform/desktop_open.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "settings/update_client.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/widgets.h"

namespace {

struct Chip {
  const wchar_t* label;
  uint32_t Palette::*colour;
};
constexpr std::array<Chip, 5> kChips = {{
    {L"4 DECKS", &Palette::DeckA},
    {L"BEAT-SYNCED FX", &Palette::Purple},
    {L"SMART AUTOMIX", &Palette::Green},
    {L"LIVE STREAMING", &Palette::Red},
    {L"STUDIO RECORDING", &Palette::DeckB},
}};

constexpr Color kLogoGlow = ColorOf(0x8FD3FF, 0.45f);
constexpr Color kMakerGlow = ColorOf(0x8A5CFF);
constexpr Color kLogoEdge = ColorOf(0x7FD8FF, 0.55f);

float Measure(std::wstring_view text, float size, bool bold, int font) {
  return MeasureTextWidth(Translate(text), size, bold, font);
}

// The level of the deck shown on a side (0..1).
float SideLevel(int side) {
  const int deck = SideSlots[side];
  return deck >= 0 && deck < 4 ? std::clamp(LiveDeckViews[deck].meterLevel, 0.0f, 1.0f) : 0.0f;
}

void Open(const std::wstring& target) {
  std::wstring error;
  if (!OpenWithDesktop(target, &error)) {
    WriteLog(L"About: couldn't open {} ({})", target, error);
    ShowStatus(UiFormat(L"Couldn't open {}", target));
  }
}

}  // namespace

UiText BuildDate() { return StampText(BuildStamp()); }

void OpenMakerSite() { Open(kMakerSite); }

void OpenSupportFolder() {
  CreateFolderTree(SupportFolder());  // the log keeps it, but a removed one opens as nothing
  Open(SupportFolder());
}

void OpenLicences() {
  const std::wstring notices = JoinPath(ProgramFolder(), kNoticesFileName);
  if (!FileExists(notices)) {
    ShowStatus(UiFormat(L"{} is missing beside the program", kNoticesFileName));
    return;
  }
  Open(notices);
}

void DrawAbout(Rc rc) {
  const float cx = rc.x + rc.w / 2;
  const float t = rc.y + std::max((rc.h - 500) / 2, 24.0f);
  const Color deckA = ColorOf(Pal.DeckA), deckB = ColorOf(Pal.DeckB);
  const float left = SideLevel(kLeftSide), right = SideLevel(kRightSide);

  // Backdrop.
  FillGradientRoundedRect(rc, 10, ColorOf(0x191C25), ColorOf(0x0F1117));
  SoftGlow(rc.x + 0.18f * rc.w, rc.y + 0.35f * rc.h, 0.45f * rc.w, 0.8f * rc.h, WithAlpha(deckA, 0.1f + 0.06f * left));
  SoftGlow(rc.Right() - 0.18f * rc.w, rc.y + 0.35f * rc.h, 0.45f * rc.w, 0.8f * rc.h,
           WithAlpha(deckB, 0.1f + 0.06f * right));
  StrokeRoundedRect(Rc{rc.x + 0.5f, rc.y + 0.5f, rc.w - 1, rc.h - 1}, 10, ColorOf(0xFFFFFF, 0.06f), 1);

  // The two discs.
  SoftGlow(cx - 16, t + 26, 40, 40, WithAlpha(deckA, 0.18f + 0.12f * left));
  SoftGlow(cx + 16, t + 26, 40, 40, WithAlpha(deckB, 0.18f + 0.12f * right));
  FillCircle(cx - 16, t + 26, 26, WithAlpha(deckA, 0.95f));
  FillCircle(cx + 16, t + 26, 26, WithAlpha(deckB, 0.85f));
  GlowCircle(cx - 16, t + 26, 26, WithAlpha(deckA, 0.7f + 0.3f * left));
  GlowCircle(cx + 16, t + 26, 26, WithAlpha(deckB, 0.7f + 0.3f * right));

  const Rc logo{rc.x, t + 74, rc.w, 48};
  GlowText(Translate(L"VELDMIX"), logo, 40, kLogoGlow, kAlignCenter, true);
  DrawText(L"VELDMIX", logo, 40, ColorOf(Pal.Text), kAlignCenter, true, kFontBahnschrift);
  DrawText(L"Mix like it matters.", Rc{rc.x, t + 124, rc.w, 24}, 15, ColorOf(Pal.Dim), kAlignCenter, false, kFontSegoeUi);

  // Version pill.
  const wchar_t* version = L"VERSION " VELDMIX_VERSION;
  const float pw = Measure(version, 11, true, kFontBahnschrift) + 34;
  const Rc pill{cx - pw / 2, t + 158, pw, 26};
  FillRoundedRect(pill, 13, LinearGradientBrush(WithAlpha(deckA, 0.22f), WithAlpha(deckB, 0.22f), PointF{0, pill.y},
                                                PointF{0, pill.Bottom()}, false));
  StrokeRoundedRect(pill, 13, ColorOf(0xFFFFFF, 0.25f), 1);
  GlowOutline(pill, 13, WithAlpha(deckA, 0.35f), 1.5f);
  DrawText(version, pill, 11, ColorOf(Pal.Text), kAlignCenter, true, kFontBahnschrift);

  // Feature chips, the row centred.
  std::array<float, kChips.size()> widths{};
  float row = 10.0f * (kChips.size() - 1);
  for (size_t i = 0; i < kChips.size(); ++i) row += widths[i] = Measure(kChips[i].label, 9.5f, true, kFontBahnschrift) + 34;
  float x = cx - row / 2;
  for (size_t i = 0; i < kChips.size(); ++i) {
    const Color c = ColorOf(Pal.*kChips[i].colour);
    const Rc chip{x, t + 198, widths[i], 22};
    FillRoundedRect(chip, 11, WithAlpha(c, 0.12f));
    StrokeRoundedRect(chip, 11, WithAlpha(c, 0.45f), 1);
    FillCircle(chip.x + 12, chip.y + 11, 2.5f, c);
    DrawText(kChips[i].label, Rc{chip.x + 20, chip.y, chip.w - 26, chip.h}, 9.5f, Lighten(c, 0.3f), kAlignCenter, true,
             kFontBahnschrift);
    x += widths[i] + 10;
  }

  DrawLine(cx - 160, t + 252, cx + 160, t + 252, ColorOf(0xFFFFFF, 0.08f), 1);
  DrawText(L"CRAFTED BY", Rc{rc.x, t + 272, rc.w, 16}, 9.5f, ColorOf(Pal.Faint), kAlignCenter, true, kFontBahnschrift);

  // The maker block: logo, 16 gap, name; centred as a whole.
  const wchar_t* maker = L"Orrelby";
  const float nameWidth = Measure(maker, 28, true, kFontBahnschrift);
  const float bx = cx - (72 + 16 + nameWidth) / 2, by = t + 292;
  const Rc mark{bx, by, 72, 72};
  SoftGlow(mark.x + 36, mark.y + 36, 68.4f, 68.4f, WithAlpha(kMakerGlow, 0.22f));
  DrawImage(LoadLogoBitmap(), mark, 1.0f, 12);
  StrokeRoundedRect(mark, 12, kLogoEdge, 1.5f);
  GlowOutline(mark, 12, WithAlpha(kMakerGlow, 0.6f), 2);
  const Rc name{bx + 88, by, nameWidth + 8, 72};
  GlowText(Translate(maker), name, 28, WithAlpha(kMakerGlow, 0.55f), kAlignLeft, true);
  DrawText(maker, name, 28, ColorOf(Pal.Text), kAlignLeft, true, kFontBahnschrift);

  // The link and its two neighbours.
  const std::wstring caption = std::wstring(kMakerHost) + L"  \u2197";
  const float lw = Measure(caption, 11, false, kFontSegoeUi) + 44;
  const Rc link{cx - lw / 2, t + 380, lw, 32};
  if (Button(kAboutSiteId, link, caption, deckA, false, 11)) QueueDeferredAction(OpenMakerSite);
  const float sw = Measure(L"SUPPORT FILES", 10, false, kFontSegoeUi) + 32;
  if (Button(kAboutSupportId, Rc{link.x - 12 - sw, t + 383, sw, 26}, L"SUPPORT FILES", ColorOf(Pal.Dim), false, 10))
    QueueDeferredAction(OpenSupportFolder);
  const float cw = Measure(L"LICENCES", 10, false, kFontSegoeUi) + 32;
  if (Button(kAboutLicencesId, Rc{link.Right() + 12, t + 383, cw, 26}, L"LICENCES", ColorOf(Pal.Dim), false, 10))
    QueueDeferredAction(OpenLicences);

  DrawText(TranslateFormat(L"\u00A9 2026 Orrelby. All rights reserved.  \u00B7  Built {}", BuildDate()),
           Rc{rc.x, rc.Bottom() - 34, rc.w, 20}, 11, ColorOf(Pal.Faint), kAlignCenter, false, kFontSegoeUi);
}
