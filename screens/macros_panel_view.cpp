#include "screens/macros_panel_view.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/palette.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "control/macros.h"
#include "control/macros_panel.h"
#include "control/pad_macros.h"
#include "screens/top_bar.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/widgets.h"

namespace {

constexpr float kMaxPanelWidth = 1100, kMaxPanelHeight = 600;
constexpr float kWindowMarginX = 40, kWindowMarginY = 24;
constexpr float kPad = 24;
constexpr float kCardColumnsShare = 0.62f;  // of the panel's width
constexpr int kCardColumns = 4;
constexpr float kCardGap = 10, kRowStep = 130, kCardHeight = 120, kCardRadius = 8;
constexpr float kCardFillAlpha = 0.35f;
constexpr float kCardsTop = 84;
constexpr float kRunHeight = 28, kScriptHeight = 30;
constexpr float kEditWidth = 56, kEditHeight = 20;
constexpr float kDoneWidth = 110, kDoneHeight = 30;
constexpr float kTitleSize = 20, kHintSize = 12, kRunSize = 11.5f, kScriptSize = 10.5f, kEditSize = 9.5f;
constexpr float kDoneSize = 12.5f;
constexpr float kHeadingSize = 11.5f, kHeadingStep = 24, kLineSize = 11, kLineStep = 20;
constexpr int kScriptLines = 2;
constexpr float kScriptLineStep = 14;
constexpr int kSaveFailedMs = 4000;

}  // namespace

MacrosPanelLayout LayoutMacrosPanel(float windowWidth, float windowHeight) {
  MacrosPanelLayout l;
  const float w = std::min(windowWidth - kWindowMarginX, kMaxPanelWidth);
  const float h = std::min(windowHeight - kWindowMarginY, kMaxPanelHeight);
  // As DrawModalBackdrop centres it.
  l.panel = Rc{windowWidth / 2 - w / 2, std::max(windowHeight / 2 - h / 2, 12.0f), w, h};
  const Rc& p = l.panel;
  l.title = Rc{p.x + kPad, p.y + 16, p.w - 2 * kPad, 28};
  l.hint = Rc{p.x + kPad, p.y + 46, p.w - 2 * kPad, 18};
  const float gridWidth = p.w * kCardColumnsShare - kPad;
  const float cardWidth = (gridWidth - (kCardColumns - 1) * kCardGap) / kCardColumns;
  for (int i = 0; i < kMacroCards; ++i) {
    const Rc card{p.x + kPad + (i % kCardColumns) * (cardWidth + kCardGap), p.y + kCardsTop + (i / kCardColumns) * kRowStep,
                  cardWidth, kCardHeight};
    l.cards[i] = card;
    l.run[i] = Rc{card.x + 8, card.y + 8, card.w - 16, kRunHeight};
    l.script[i] = Rc{card.x + 10, card.y + 8 + kRunHeight + 6, card.w - 20, kScriptHeight};
    l.edit[i] = Rc{card.Right() - kEditWidth - 8, card.Bottom() - kEditHeight - 8, kEditWidth, kEditHeight};
  }
  const float referenceX = p.x + p.w * kCardColumnsShare + 16;
  l.done = Rc{p.CenterX() - kDoneWidth / 2, p.Bottom() - kDoneHeight - 14, kDoneWidth, kDoneHeight};
  l.reference = Rc{referenceX, p.y + kCardsTop, p.Right() - kPad - referenceX, l.done.y - 8 - (p.y + kCardsTop)};
  return l;
}

void OpenMacroEditor(int slot) {
  const int i = std::clamp(slot, 0, kMacroSlots - 1);
  OpenModal(Translate(L"Macro") + L" " + std::to_wstring(i + 1),
            {{.label = L"Name", .value = Settings.MacroName[i]}, {.label = L"Commands", .value = Settings.MacroScript[i]}},
            L"SAVE", [i](const std::vector<ModalField>& fields) {
              if (fields.size() < 2) return;
              if (!SaveMacroSlot(i, fields[0].value, fields[1].value))
                ShowStatus(L"Couldn't save the macro \u2014 is the disk full?", kSaveFailedMs);
            });
}

void DrawMacros() {
  if (!MacrosPanelOpen) return;
  const MacrosPanelLayout l = LayoutMacrosPanel(TargetWidth(), TargetHeight());
  DrawModalBackdrop(l.panel.w, l.panel.h);
  // The hint's own steps: MIDI stays usable above the panel, so a macro can be learned here.
  DrawTopBarMidiButton(Rc{0, 0, TargetWidth(), kTopBarHeight});
  DrawText(L"Macros", l.title, kTitleSize, ColorOf(Pal.Text), kAlignLeft, true, kFontSegoeUi);
  DrawText(L"Click to run \u00b7 Ctrl+1\u20138 \u00b7 map them with MIDI learn (open this panel, click MIDI, click a macro)",
           l.hint, kHintSize, ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);

  for (int i = 0; i < kMacroCards; ++i) {
    const Color colour = ColorOf(kMacroSlotColours[i]);
    FillRoundedRect(l.cards[i], kCardRadius, WithAlpha(colour, kCardFillAlpha));
    if (Button(kMacroRunWidgetBase + i, l.run[i], MacroCardLabel(i), colour, MacroSlotRunning(i), kRunSize))
      RunPadMacro(i);
    const std::wstring& script = Settings.MacroScript[i];
    if (!script.empty()) {
      PushClip(l.script[i]);
      const std::vector<std::wstring> lines = WrapText(script, kScriptSize, l.script[i].w);
      for (size_t n = 0; n < lines.size() && n < kScriptLines; ++n)
        DrawTextAsIs(lines[n], Rc{l.script[i].x, l.script[i].y + n * kScriptLineStep, l.script[i].w, kScriptLineStep},
                     kScriptSize, ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
      PopClip();
    }
    if (Button(kMacroEditWidgetBase + i, l.edit[i], L"EDIT", colour, false, kEditSize))
      QueueDeferredAction([i] { OpenMacroEditor(i); });
  }

  float y = l.reference.y;
  for (int n = 0; n < kMacroReferenceLines; ++n) {
    const bool heading = n == 0;
    const float step = heading ? kHeadingStep : kLineStep;
    if (y + step > l.reference.Bottom()) break;
    DrawText(kMacroReference[n], Rc{l.reference.x, y, l.reference.w, step}, heading ? kHeadingSize : kLineSize,
             ColorOf(heading ? Pal.Text : Pal.Dim), kAlignLeft, heading, kFontSegoeUi);
    y += step;
  }
  if (Button(kMacroDoneWidget, l.done, L"DONE", ColorOf(Pal.Green), true, kDoneSize)) MacrosPanelOpen = false;
}
