#include "screens/auto_map_screen.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "base/palette.h"
#include "base/status_message.h"
#include "control/auto_map.h"
#include "control/control_ids.h"
#include "control/controller_devices.h"
#include "platform/clock.h"
#include "settings/mapping_preset.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/widgets.h"

namespace {

constexpr float kMaxPanelWidth = 720, kMaxPanelHeight = 520;
constexpr float kWindowMarginX = 40, kWindowMarginY = 24;
constexpr float kPad = 32;
constexpr float kTitleSize = 20, kDevicesSize = 12, kBodySize = 13, kPromptSize = 22, kHintSize = 12.5f;
constexpr float kCounterSize = 12, kHeardSize = 15, kButtonSize = 12, kDoneSize = 30;
constexpr float kCancelWidth = 110, kButtonHeight = 36, kButtonGap = 12;
constexpr float kBackWidth = 140, kSkipWidth = 140, kSaveWidth = 190, kUseWidth = 150, kStartWidth = 150;
constexpr float kLineStep = 24, kProgressHeight = 4;
constexpr double kPulsePerSecond = 4.0;

constexpr wchar_t kJoin[] = L", ";
constexpr const wchar_t* kIntroduction[] = {
    L"Veldmix asks for one control at a time \u2014 press it or move it and it's",
    L"mapped. Do the left deck, then just three controls on the right: the rest",
    L"of the right deck is worked out from the left. About two minutes.",
    L"No such control on yours, or it doesn't send anything? SKIP it.",
    L"This replaces your controller mapping (keyboard shortcuts stay).",
};

Rc Line(const Rc& panel, float y, float height) { return Rc{panel.x + kPad, y, panel.w - 2 * kPad, height}; }

// The bottom row of buttons, laid out right to left from the panel's right edge.
struct ButtonRow {
  float right, y;
  Rc Next(float width) {
    right -= width;
    const Rc r{right, y, width, kButtonHeight};
    right -= kButtonGap;
    return r;
  }
};

void Header(const Rc& panel) {
  DrawText(L"AUTO-MAP YOUR CONTROLLER", Line(panel, panel.y + 22, 28), kTitleSize, ColorOf(Pal.Text), kAlignLeft,
           true, kFontSegoeUi);
  std::wstring devices;
  for (const std::wstring& name : MidiInputDevices) devices += (devices.empty() ? L"" : kJoin) + name;
  DrawTextAsIs(devices, Line(panel, panel.y + 52, 18), kDevicesSize, ColorOf(Pal.Dim), kAlignLeft, false,
               kFontSegoeUi);
  if (Button(kAutoMapCancelId, Rc{panel.Right() - kPad - kCancelWidth, panel.y + 22, kCancelWidth, 32}, L"CANCEL",
             ColorOf(Pal.Text), false, kButtonSize))
    CloseAutoMap();
}

void Introduction(const Rc& panel, ButtonRow& buttons) {
  float y = panel.y + 100;
  for (const wchar_t* line : kIntroduction) {
    DrawText(line, Line(panel, y, 20), kBodySize, ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
    y += kLineStep;
  }
  if (MidiInputDevices.empty()) {
    DrawText(L"No MIDI controller found \u2014 plug one in (no restart needed).", Line(panel, y + 24, 22), kBodySize,
             ColorOf(Pal.Yellow), kAlignLeft, true, kFontSegoeUi);
    return;
  }
  if (Button(kAutoMapStartId, buttons.Next(kStartWidth), L"START  \u25B8", ColorOf(Pal.Green), true, kButtonSize))
    AutoMapGoToStep(0);
}

void PromptStep(const Rc& panel, ButtonRow& buttons, double now) {
  const AutoMapStateRecord& s = AutoMapState;
  const AutoMapPrompt& p = AutoMapPrompts[s.step];
  const Rc bar = Line(panel, panel.y + 92, kProgressHeight);
  FillRoundedRect(bar, 2, WithAlpha(ColorOf(Pal.Text), 0.08f));
  FillRoundedRect(Rc{bar.x, bar.y, bar.w * (s.step + 1) / kAutoMapSteps, bar.h}, 2, ColorOf(Pal.DeckA));
  DrawTextAsIs(std::to_wstring(s.step + 1) + L" / " + std::to_wstring(kAutoMapSteps), Line(panel, panel.y + 106, 18),
               kCounterSize, ColorOf(Pal.Dim), kAlignLeft, false, kFontBahnschrift);
  DrawText(p.prompt, Line(panel, panel.y + 134, 34), kPromptSize, ColorOf(Pal.Text), kAlignLeft, true, kFontSegoeUi);
  const wchar_t* hint = p.deck == 1    ? L"Just this one \u2014 Veldmix works out the rest of this side from the left deck."
                        : p.kind != 0 ? L"Leave it at the end: that's how Veldmix knows which way round it works."
                        : s.step == 4 ? L"Veldmix waits until the wheel has stopped."
                                      : L"";
  DrawText(hint, Line(panel, panel.y + 174, 20), kHintSize, ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
  const Rc heard = Line(panel, panel.y + 230, 26);
  if (s.lastText.empty()) {
    const float pulse = 0.55f + 0.45f * static_cast<float>(std::sin(now * kPulsePerSecond));
    DrawText(L"Listening\u2026", heard, kHeardSize, WithAlpha(ColorOf(Pal.DeckA), pulse), kAlignLeft, true,
             kFontSegoeUi);
  } else {
    DrawTextAsIs(s.lastText, heard, kHeardSize, ColorOf(Pal.Green), kAlignLeft, true, kFontSegoeUi);
  }
  DrawTextAsIs(s.warning, Line(panel, panel.y + 262, 20), kHintSize, ColorOf(Pal.Yellow), kAlignLeft, false,
               kFontSegoeUi);
  const bool jogTurned = s.step == 4 && s.lastCapture > 0.0;
  if (Button(kAutoMapSkipId, buttons.Next(kSkipWidth), jogTurned ? L"NEXT  \u25B8" : L"SKIP  \u25B8",
             ColorOf(Pal.DeckA), jogTurned, kButtonSize)) {
    AutoMapGoToStep(s.step + 1);
    return;
  }
  if (Button(kAutoMapBackId, buttons.Next(kBackWidth), L"\u25C2  BACK", ColorOf(Pal.Text), false, kButtonSize))
    AutoMapBack();
}

void Done(const Rc& panel, ButtonRow& buttons) {
  int derived = 0;
  for (const AutoMapCaptureRecord& c : AutoMapState.captures) derived += c.derived;
  const int mapped = static_cast<int>(AutoMapState.captures.size());
  DrawText(L"Done!", Line(panel, panel.y + 100, 44), kDoneSize, ColorOf(Pal.Green), kAlignLeft, true, kFontSegoeUi);
  DrawTextAsIs(TranslateFormat(L"{} controls mapped ({} of them worked out for you).", mapped, derived),
               Line(panel, panel.y + 156, 22), kHeardSize, ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
  DrawText(L"Try it out. Anything not quite right? Click MIDI and re-learn just that control.",
           Line(panel, panel.y + 194, 20), kBodySize, ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
  DrawText(L"SAVE AS PRESET keeps it, to load again or share.", Line(panel, panel.y + 218, 20), kBodySize,
           ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
  if (Button(kAutoMapUseId, buttons.Next(kUseWidth), L"USE IT  \u2713", ColorOf(Pal.Green), true, kButtonSize)) {
    ApplyAutoMap();
    CloseAutoMap();
    ShowStatus(L"Controller mapped \u2014 have a play");
    return;
  }
  if (Button(kAutoMapSaveId, buttons.Next(kSaveWidth), L"SAVE AS PRESET\u2026", ColorOf(Pal.DeckA), false,
             kButtonSize)) {
    ApplyAutoMap();
    CloseAutoMap();
    QueueDeferredAction(SaveMappingPresetDialog);
    return;
  }
  if (Button(kAutoMapBackId, buttons.Next(kBackWidth), L"\u25C2  BACK", ColorOf(Pal.Text), false, kButtonSize))
    AutoMapBack();
}

}  // namespace

void DrawAutoMap() { DrawAutoMapAt(MonotonicSeconds()); }

void DrawAutoMapAt(double now) {
  if (!AutoMapOpen) return;
  AutoMapCheckJogDone();
  const float w = std::min(TargetWidth() - kWindowMarginX, kMaxPanelWidth);
  const float h = std::min(TargetHeight() - kWindowMarginY, kMaxPanelHeight);
  const Rc panel = DrawModalBackdrop(w, h);
  Header(panel);
  if (!AutoMapOpen) return;
  ButtonRow buttons{panel.Right() - kPad, panel.Bottom() - kPad - kButtonHeight};
  if (AutoMapState.step < 0)
    Introduction(panel, buttons);
  else if (AutoMapState.step < kAutoMapSteps)
    PromptStep(panel, buttons, now);
  else
    Done(panel, buttons);
}
