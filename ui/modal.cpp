#include "ui/modal.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <utility>

#include "base/palette.h"
#include "base/settings.h"
#include "engine/control_input.h"
#include "library/track_view.h"
#include "platform/window.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/widgets.h"

std::vector<std::function<void()>> DeferredActions;
ModalForm Modal;
ConfirmPrompt Prompt;

namespace {

constexpr wchar_t kTab = 9, kReturn = 13, kEscape = 27;
constexpr wchar_t kBullet = L'\u2022';

// Backdrop and panel.
constexpr Color kBackdrop = Color{2 / 255.0f, 3 / 255.0f, 5 / 255.0f, 0.82f};
constexpr Color kPanelFill = ColorOf(0x14171E);      // rgb(20, 23, 30)
constexpr Color kPanelHeadTop = ColorOf(0x1B1F29);   // rgb(27, 31, 41)
constexpr float kPanelRadius = 10.0f;
constexpr float kPanelHeadDip = 80.0f;
constexpr float kPanelMinTopDip = 12.0f;
constexpr float kPanelEdgeAlpha = 0.5f, kPanelGlowAlpha = 0.45f, kPanelGlowWidth = 2.0f;
constexpr float kWindowMarginDip = 40.0f;  // both sides together

// The form.
constexpr float kFormMaxWidthDip = 560.0f;
constexpr float kFormRowDip = 58.0f, kFormChromeDip = 110.0f;
constexpr float kFormPadDip = 20.0f;
constexpr float kFormRowsTopDip = 50.0f;
constexpr float kFieldLabelWidthDip = 200.0f, kFieldLabelHeightDip = 16.0f, kFieldLabelSize = 10.0f;
constexpr float kBoxTopDip = 18.0f, kBoxHeightDip = 30.0f, kBoxRadius = 4.0f;
constexpr float kBoxTextInsetDip = 10.0f, kBoxTextSize = 13.0f;
constexpr float kCaretInsetDip = 7.0f, kCaretRightMarginDip = 8.0f;
constexpr uint64_t kCaretBlinkMs = 530;
constexpr float kTitleSize = 16.0f, kTitleTopDip = 14.0f, kTitleHeightDip = 26.0f;
constexpr float kHintSize = 11.0f, kHintUpDip = 40.0f, kHintHeightDip = 20.0f;
constexpr float kFormButtonHeightDip = 28.0f, kFormButtonsUpDip = 44.0f, kFormButtonSize = 11.0f;
constexpr float kCancelWidthDip = 84.0f, kCancelRightDip = 116.0f;
constexpr float kOkWidthDip = 86.0f, kOkRightDip = 20.0f;

// The question box.
constexpr float kAskMaxWidthDip = 580.0f;
constexpr float kAskTextLeftDip = 92.0f, kAskTextRightDip = 28.0f;
constexpr float kAskFixedHeightDip = 66.0f + 84.0f;
constexpr float kAskLineDip = 21.0f, kAskEmptyLineDip = 10.0f;
constexpr float kAskBodySize = 13.5f, kAskBodyAlpha = 0.85f;
constexpr float kAskTitleSize = 18.0f, kAskTitleTopDip = 24.0f, kAskTitleHeightDip = 28.0f, kAskTitleRightDip = 28.0f;
constexpr float kAskBodyTopDip = 62.0f;
constexpr float kAskEdgeAlpha = 0.7f, kAskGlowWidth = 3.0f;
constexpr float kAskPulseBase = 0.35f, kAskPulseDepth = 0.15f, kAskPulsePeriodMs = 400.0f;
constexpr float kIconX = 50.0f, kIconY = 46.0f, kIconRadius = 22.0f;
constexpr float kIconLighten = 0.15f, kIconEdgeShare = 0.65f;
constexpr float kIconHighlightX = -6.6f, kIconHighlightY = -8.8f;
constexpr float kIconGlowAlpha = 0.8f;
constexpr Color kGlyph = ColorOf(0x0B0D12);  // rgb(11, 13, 18)
constexpr float kGlyphStroke = 3.5f, kBangStroke = 4.0f, kBangDotRadius = 2.4f;
constexpr float kIconTextSize = 22.0f, kIconTextWidthDip = 44.0f, kIconTextHeightDip = 30.0f, kIconTextUpDip = 16.0f;
constexpr float kAskButtonHeightDip = 36.0f, kAskButtonsUpDip = 58.0f;
constexpr float kYesSize = 11.5f, kYesPadDip = 40.0f, kYesMinWidthDip = 130.0f, kYesRightDip = 28.0f;
constexpr float kNoSize = 11.0f, kNoPadDip = 36.0f, kNoMinWidthDip = 110.0f, kNoGapDip = 10.0f;
constexpr float kAskHintLeftDip = 28.0f, kAskHintWidthDip = 150.0f, kAskHintSize = 10.5f;

// Rises with every OpenModal, so CloseModal can tell whether its callback opened another form.
uint64_t FormSerial = 0;
// The Enter or Esc that answered a question from the keyboard; its character is not typed again.
wchar_t AnsweredKeyCharacter = 0;

// Every line of the text translated on its own, joined again with line feeds.
std::wstring TranslateLines(std::wstring_view text) {
  std::wstring out;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(L'\n', start);
    out += Translate(text.substr(start, end == std::wstring_view::npos ? std::wstring_view::npos : end - start));
    if (end == std::wstring_view::npos) return out;
    out += L'\n';
    start = end + 1;
  }
}

void DrawPromptIcon(const std::wstring& icon, float cx, float cy) {
  if (icon == L"\u2193") {
    DrawLine(cx, cy - 10, cx, cy + 9, kGlyph, kGlyphStroke);
    DrawLine(cx - 8, cy + 1, cx, cy + 10, kGlyph, kGlyphStroke);
    DrawLine(cx + 8, cy + 1, cx, cy + 10, kGlyph, kGlyphStroke);
  } else if (icon == L"\u2713") {
    DrawLine(cx - 9, cy + 1, cx - 3, cy + 8, kGlyph, kGlyphStroke);
    DrawLine(cx - 3, cy + 8, cx + 10, cy - 7, kGlyph, kGlyphStroke);
  } else if (icon == L"!") {
    DrawLine(cx, cy - 11, cx, cy + 3, kGlyph, kBangStroke);
    FillCircle(cx, cy + 10, kBangDotRadius, kGlyph);
  } else if (!icon.empty()) {
    DrawTextAsIs(icon, Rc{cx - kIconTextWidthDip / 2, cy - kIconTextUpDip, kIconTextWidthDip, kIconTextHeightDip},
                 kIconTextSize, kGlyph, kAlignCenter, true, kFontSegoeUi);
  }
}

}  // namespace

// ---- deferred actions -----------------------------------------------------------------------

void QueueDeferredAction(std::function<void()> action) {
  assert(action && "QueueDeferredAction needs a callable");
  if (action) DeferredActions.push_back(std::move(action));
}

void RunDeferredActions() {
  std::vector<std::function<void()>> actions = std::move(DeferredActions);
  DeferredActions.clear();
  for (std::function<void()>& action : actions) {
    assert(action && "an empty action was queued");
    if (action) action();
  }
}

// ---- the modal form -------------------------------------------------------------------------

void OpenModal(std::wstring title, std::vector<ModalField> fields, std::wstring okLabel, ModalCallback callback) {
  Modal.open = true;
  Modal.title = std::move(title);
  Modal.fields = std::move(fields);
  Modal.okLabel = std::move(okLabel);
  Modal.focused = 0;
  Modal.callback = std::move(callback);
  if (!Modal.fields.empty()) PlaceCaretAtEnd(&Modal.fields[0].value);
  ++FormSerial;
  SearchFocused = false;
}

void CloseModal(bool accept) {
  if (!Modal.open) return;
  Modal.open = false;
  ModalCallback callback = std::move(Modal.callback);
  Modal.callback = nullptr;
  if (!accept || !callback) return;
  // The callback gets the fields for its whole run even when it opens another form, which
  // replaces the form's fields; otherwise they go back into the form.
  const uint64_t serial = FormSerial;
  std::vector<ModalField> fields = std::move(Modal.fields);
  callback(fields);
  if (FormSerial == serial) Modal.fields = std::move(fields);
}

void EditField(std::wstring label, std::wstring* value, bool masked, bool digitsOnly) {
  assert(value && "EditField needs the setting it edits");
  if (!value) return;
  std::vector<ModalField> fields{ModalField{.label = label, .value = *value, .masked = masked}};
  OpenModal(std::move(label), std::move(fields), L"SAVE", [value, digitsOnly](const std::vector<ModalField>& f) {
    if (f.empty()) return;
    std::wstring text = f[0].value;
    if (digitsOnly) std::erase_if(text, [](wchar_t c) { return c < L'0' || c > L'9'; });
    *value = std::move(text);
    SaveSettings();
  });
}

// ---- the question box -----------------------------------------------------------------------

void ShowConfirmPrompt(std::wstring title, std::wstring body, std::wstring yesLabel, std::wstring noLabel,
                       std::function<void()> yesAction, std::function<void()> noAction, std::wstring icon,
                       uint32_t accent) {
  Prompt.pending = true;
  Prompt.title = std::move(title);
  Prompt.body = std::move(body);
  Prompt.yesLabel = std::move(yesLabel);
  Prompt.noLabel = std::move(noLabel);
  Prompt.icon = std::move(icon);
  Prompt.accent = accent;
  Prompt.yesAction = std::move(yesAction);
  Prompt.noAction = std::move(noAction);
  Prompt.escapeCancels = false;
}

void AnswerConfirmPrompt(bool yes) {
  if (!Prompt.pending) return;
  Prompt.pending = false;
  std::function<void()> action = std::move(yes ? Prompt.yesAction : Prompt.noAction);
  Prompt.yesAction = nullptr;
  Prompt.noAction = nullptr;
  if (action) action();
}

// ---- keys and text entry --------------------------------------------------------------------

bool PromptKeyDown(int virtualKey, bool repeat) {
  AnsweredKeyCharacter = 0;
  if (!Prompt.pending) return false;
  if (virtualKey == Vk::Return && !repeat) {
    AnsweredKeyCharacter = kReturn;
    AnswerConfirmPrompt(true);
  } else if (virtualKey == Vk::Escape) {
    AnsweredKeyCharacter = kEscape;
    if (Prompt.escapeCancels) {
      Prompt.pending = false;
      Prompt.yesAction = Prompt.noAction = nullptr;
    } else {
      AnswerConfirmPrompt(Prompt.noLabel.empty());
    }
  }
  return true;
}

bool ModalKeyDown(int virtualKey, bool shift) {
  if (!Modal.open) return false;
  const int n = static_cast<int>(Modal.fields.size());
  if (virtualKey == Vk::Tab && n > 0) {
    Modal.focused = ((Modal.focused + (shift ? -1 : 1)) % n + n) % n;
    PlaceCaretAtEnd(&Modal.fields[Modal.focused].value);
  } else if (Modal.focused >= 0 && Modal.focused < n) {
    FieldKeyDown(&Modal.fields[Modal.focused].value, virtualKey, shift);
  }
  return true;
}

bool ModalCharacter(wchar_t character) {
  if (Prompt.pending) return true;
  if (AnsweredKeyCharacter != 0 && character == AnsweredKeyCharacter) {
    AnsweredKeyCharacter = 0;
    return true;
  }
  if (!Modal.open) return false;
  if (character == kEscape) {
    CloseModal(false);
  } else if (character == kReturn) {
    CloseModal(true);
  } else if (character != kTab && Modal.focused >= 0 && Modal.focused < static_cast<int>(Modal.fields.size())) {
    ModalField& field = Modal.fields[Modal.focused];
    TypeIntoField(&field.value, character, field.masked);
  }
  return true;
}

// ---- drawing --------------------------------------------------------------------------------

Rc DrawModalBackdrop(float w, float h) {
  GlowStartIndex = GlowList.size();
  const float width = TargetWidth(), height = TargetHeight();
  FillRect(Rc{0, 0, width, height}, kBackdrop);
  const Rc panel{width / 2 - w / 2, std::max(height / 2 - h / 2, kPanelMinTopDip), w, h};
  const Color deckA = ColorOf(Pal.DeckA);
  FillRoundedRect(panel, kPanelRadius, kPanelFill);
  FillGradientRoundedRect(Rc{panel.x, panel.y, panel.w, kPanelHeadDip}, kPanelRadius, kPanelHeadTop, kPanelFill);
  StrokeRoundedRect(panel, kPanelRadius, WithAlpha(deckA, kPanelEdgeAlpha), 1);
  GlowOutline(panel, kPanelRadius, WithAlpha(deckA, kPanelGlowAlpha), kPanelGlowWidth);
  return panel;
}

void DrawModal() { DrawModalAt(FrameClockMs); }

void DrawModalAt(uint64_t nowMs) {
  if (!Modal.open) return;
  const int n = static_cast<int>(Modal.fields.size());
  const float width = std::min(TargetWidth() - kWindowMarginDip, kFormMaxWidthDip);
  const Rc panel = DrawModalBackdrop(width, kFormRowDip * n + kFormChromeDip);
  const float left = panel.x + kFormPadDip, inner = width - 2 * kFormPadDip;
  DrawText(Modal.title, Rc{left, panel.y + kTitleTopDip, inner, kTitleHeightDip}, kTitleSize, ColorOf(Pal.Text),
           kAlignLeft, true, kFontSegoeUi);

  for (int i = 0; i < n; ++i) {
    const ModalField& field = Modal.fields[i];
    const float rowY = panel.y + kFormRowsTopDip + kFormRowDip * i;
    if (n > 1)
      DrawText(field.label, Rc{left, rowY, kFieldLabelWidthDip, kFieldLabelHeightDip}, kFieldLabelSize,
               ColorOf(Pal.Dim), kAlignLeft, true, kFontBahnschrift);
    const Rc box{left, rowY + kBoxTopDip, inner, kBoxHeightDip};
    if (PressStarts(box)) {
      if (Modal.focused != i) PlaceCaretAtEnd(&field.value);
      Modal.focused = i;
      ActiveControlId = kModalFirstBoxId + i;
    }
    const bool focused = i == Modal.focused;
    FillRoundedRect(box, kBoxRadius, ColorOf(Pal.Background));
    StrokeRoundedRect(box, kBoxRadius, ColorOf(focused ? Pal.DeckA : Pal.Border), 1);
    const std::wstring shown = field.masked ? std::wstring(field.value.size(), kBullet) : field.value;
    const Rc textBox{box.x + kBoxTextInsetDip, box.y, box.w - 2 * kBoxTextInsetDip, kBoxHeightDip};
    if (n == 1 && field.value.empty())
      DrawText(field.label, textBox, kBoxTextSize, ColorOf(Pal.Faint), kAlignLeft, false, kFontSegoeUi);
    const FieldLook look{.box = textBox, .size = kBoxTextSize, .color = ColorOf(Pal.Text), .top = box.y + kCaretInsetDip,
                         .bottom = box.Bottom() - kCaretInsetDip, .maxX = box.Right() - kCaretRightMarginDip};
    DrawFieldText(field.value, shown, look, focused && (nowMs / kCaretBlinkMs) % 2 == 0);
  }

  const float buttonY = panel.Bottom() - kFormButtonsUpDip;
  if (n > 1)
    DrawText(L"Tab moves between fields", Rc{left, panel.Bottom() - kHintUpDip, kFieldLabelWidthDip, kHintHeightDip}, kHintSize,
             ColorOf(Pal.Faint), kAlignLeft, false, kFontSegoeUi);
  const Rc cancel{panel.Right() - kCancelRightDip - kCancelWidthDip, buttonY, kCancelWidthDip, kFormButtonHeightDip};
  if (Button(kModalCancelId, cancel, L"CANCEL", ColorOf(Pal.Dim), false, kFormButtonSize))
    QueueDeferredAction([] { CloseModal(false); });
  const Rc ok{panel.Right() - kOkRightDip - kOkWidthDip, buttonY, kOkWidthDip, kFormButtonHeightDip};
  if (Button(kModalOkId, ok, Modal.okLabel, ColorOf(Pal.DeckA), true, kFormButtonSize))
    QueueDeferredAction([] { CloseModal(true); });
}

void DrawAsk() { DrawAskAt(FrameClockMs); }

void DrawAskAt(uint64_t nowMs) {
  if (!Prompt.pending) return;
  const Color accent = ColorOf(Prompt.accent != 0 ? Prompt.accent : Pal.DeckA);
  const float width = std::min(TargetWidth() - kWindowMarginDip, kAskMaxWidthDip);
  const float textWidth = width - kAskTextLeftDip - kAskTextRightDip;
  const std::vector<std::wstring> lines = WrapText(TranslateLines(Prompt.body), kAskBodySize, textWidth);
  float height = kAskFixedHeightDip;
  for (const std::wstring& line : lines) height += line.empty() ? kAskEmptyLineDip : kAskLineDip;
  const Rc panel = DrawModalBackdrop(width, height);

  StrokeRoundedRect(panel, kPanelRadius, WithAlpha(accent, kAskEdgeAlpha), 1);
  const float pulse = kAskPulseBase + kAskPulseDepth * std::sin(static_cast<float>(nowMs) / kAskPulsePeriodMs);
  GlowOutline(panel, kPanelRadius, WithAlpha(accent, pulse), kAskGlowWidth);

  const float cx = panel.x + kIconX, cy = panel.y + kIconY;
  FillRadialEllipse(cx, cy, kIconRadius, Lighten(accent, kIconLighten), Darken(accent, 1 - kIconEdgeShare),
                    kIconHighlightX / kIconRadius, kIconHighlightY / kIconRadius);
  GlowCircle(cx, cy, kIconRadius, WithAlpha(accent, kIconGlowAlpha));
  DrawPromptIcon(Prompt.icon, cx, cy);

  const float textX = panel.x + kAskTextLeftDip;
  DrawText(Prompt.title, Rc{textX, panel.y + kAskTitleTopDip, width - kAskTextLeftDip - kAskTitleRightDip,
                            kAskTitleHeightDip},
           kAskTitleSize, ColorOf(Pal.Text), kAlignLeft, true, kFontSegoeUi);
  float y = panel.y + kAskBodyTopDip;
  for (const std::wstring& line : lines) {
    const float h = line.empty() ? kAskEmptyLineDip : kAskLineDip;
    DrawTextAsIs(line, Rc{textX, y, textWidth, h}, kAskBodySize, WithAlpha(ColorOf(Pal.Text), kAskBodyAlpha),
                 kAlignLeft, false, kFontSegoeUi);
    y += h;
  }

  const float buttonY = panel.Bottom() - kAskButtonsUpDip;
  const float yesWidth =
      std::max(TextWidth(Translate(Prompt.yesLabel), kYesSize, true, kFontBahnschrift) + kYesPadDip, kYesMinWidthDip);
  const Rc yes{panel.Right() - kYesRightDip - yesWidth, buttonY, yesWidth, kAskButtonHeightDip};
  if (Button(kPromptYesId, yes, Prompt.yesLabel, accent, true, kYesSize))
    QueueDeferredAction([] { AnswerConfirmPrompt(true); });
  if (!Prompt.noLabel.empty()) {
    const float noWidth =
        std::max(TextWidth(Translate(Prompt.noLabel), kNoSize, true, kFontBahnschrift) + kNoPadDip, kNoMinWidthDip);
    const Rc no{yes.x - kNoGapDip - noWidth, buttonY, noWidth, kAskButtonHeightDip};
    if (Button(kPromptNoId, no, Prompt.noLabel, ColorOf(Pal.Dim), false, kNoSize))
      QueueDeferredAction([] { AnswerConfirmPrompt(false); });
  }
  DrawText(Prompt.noLabel.empty() ? L"Enter" : L"Enter / Esc",
           Rc{panel.x + kAskHintLeftDip, buttonY, kAskHintWidthDip, kAskButtonHeightDip}, kAskHintSize,
           ColorOf(Pal.Faint), kAlignLeft, false, kFontBahnschrift);
}

std::vector<std::wstring> WrapText(std::wstring_view text, float size, float limit) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (bool last = false; !last;) {
    size_t end = text.find(L'\n', start);
    last = end == std::wstring_view::npos;
    if (last) end = text.size();
    const std::wstring_view paragraph = text.substr(start, end - start);
    std::wstring line;
    size_t wordStart = 0;
    for (bool lastWord = false; !lastWord;) {
      size_t wordEnd = paragraph.find(L' ', wordStart);
      lastWord = wordEnd == std::wstring_view::npos;
      if (lastWord) wordEnd = paragraph.size();
      const std::wstring_view word = paragraph.substr(wordStart, wordEnd - wordStart);
      std::wstring candidate = line;
      if (!line.empty()) candidate += L' ';
      candidate += word;
      if (!line.empty() && TextWidth(candidate, size, false, kFontSegoeUi) > limit) {
        lines.push_back(std::move(line));
        line = std::wstring(word);
      } else {
        line = std::move(candidate);
      }
      wordStart = wordEnd + 1;
    }
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

void DrawWrappingHint(std::wstring_view text, Rc r, float size, float wrappedSize, float lineDip, int maxLines,
                      Color color) {
  const std::wstring shown = Translate(text);
  if (TextWidth(shown, size, false, kFontSegoeUi) <= r.w) {
    DrawTextAsIs(shown, r, size, color, kAlignLeft, false, kFontSegoeUi);
    return;
  }
  const std::vector<std::wstring> lines = WrapText(shown, wrappedSize, r.w);
  for (size_t i = 0; i < lines.size() && i < static_cast<size_t>(std::max(maxLines, 0)); ++i)
    DrawTextAsIs(lines[i], Rc{r.x, r.y - 1 + lineDip * static_cast<float>(i), r.w, lineDip}, wrappedSize, color,
                 kAlignLeft, false, kFontSegoeUi);
}
