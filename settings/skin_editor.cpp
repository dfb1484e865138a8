#include "settings/skin_editor.h"

#include <algorithm>
#include <cwchar>

#include "base/files.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "settings/skins.h"
#include "ui/draw.h"
#include "ui/widgets.h"

bool SkinEditorOpen = false;

namespace {

constexpr float kMaxWidthDip = 1000.0f, kSideMarginDip = 40.0f;
constexpr float kMaxHeightDip = 640.0f, kTopMarginDip = 24.0f;
constexpr float kPadDip = 28.0f;
constexpr float kTitleTopDip = 18.0f, kTitleWidthDip = 600.0f, kTitleHeightDip = 28.0f, kTitleSize = 20.0f;
constexpr float kHintTopDip = 48.0f, kHintHeightDip = 18.0f, kHintSize = 12.0f;
constexpr wchar_t kHint[] =
    L"Click a colour to change it (RRGGBB). Changes show straight away; SAVE AS keeps them as your own skin.";
constexpr int kColumns = 3;
constexpr float kCellGapDip = 12.0f, kCellsTopDip = 84.0f, kCellStepDip = 44.0f, kCellHeightDip = 36.0f;
constexpr float kCellTextSize = 10.0f;
constexpr Rc kSwatch{8, 7, 36, 22};
constexpr float kSwatchRadius = 4.0f;
constexpr Color kSwatchEdge{1, 1, 1, 0.25f};
constexpr float kLabelDx = 54.0f, kLabelRoomDip = 130.0f, kLabelSize = 12.5f;
constexpr float kValueRightDip = 80.0f, kValueWidthDip = 70.0f, kValueSize = 11.5f;
constexpr float kSeparatorRiseDip = 64.0f;
constexpr Color kSeparator = ColorOf(0x2A2F3B);
constexpr float kButtonsDropDip = 16.0f, kButtonHeightDip = 34.0f;
constexpr int32_t kFirstColourId = 3500, kSaveAsId = 3530, kUndoId = 3531, kDoneId = 3532;
constexpr float kSaveAsWidthDip = 150.0f, kUndoXDip = 188.0f, kUndoWidthDip = 120.0f;
constexpr float kDoneRightDip = 138.0f, kDoneWidthDip = 110.0f;
constexpr float kButtonSize = 11.0f, kDoneSize = 12.5f;
constexpr int kHexDigits = 6;
constexpr uint32_t kRgbMask = 0xFFFFFF;

bool SameNameIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return std::towlower(x) == std::towlower(y);
         });
}

}  // namespace

void OpenColourEntry(int i) {
  if (i < 0 || i >= kPaletteColours) return;
  wchar_t hex[8];
  std::swprintf(hex, 8, L"%06X", Pal.*SkinColourKeys[i].colour & kRgbMask);
  OpenModal(SkinColourKeys[i].label, {ModalField{.label = L"Colour (RRGGBB)", .value = hex}}, L"SET",
            [i](const std::vector<ModalField>& fields) { ApplyColourEntry(i, fields); });
}

bool ApplyColourEntry(int i, const std::vector<ModalField>& fields) {
  if (i < 0 || i >= kPaletteColours || fields.empty()) return false;
  std::wstring_view text = fields[0].value;
  if (!text.empty() && text.front() == L'#') text.remove_prefix(1);
  if (text.size() != kHexDigits || !std::all_of(text.begin(), text.end(), [](wchar_t c) { return HexDigitValue(c) >= 0; })) {
    ShowStatus(L"Six hex digits, like 1FA8FF");
    return false;
  }
  Pal.*SkinColourKeys[i].colour = static_cast<uint32_t>(std::wcstoul(std::wstring(text).c_str(), nullptr, 16));
  return true;
}

void OpenSaveSkinForm() {
  const std::wstring name = Settings.Skin == L"Veldmix" ? L"My skin" : Settings.Skin;
  OpenModal(L"Save as a skin", {ModalField{.label = L"Name", .value = name}}, L"SAVE",
            [](const std::vector<ModalField>& fields) { SaveSkinAs(fields); });
}

bool SaveSkinAs(const std::vector<ModalField>& fields) {
  if (fields.empty()) return false;
  std::wstring name = SkinFileName(fields[0].value);
  if (name.empty()) return false;
  for (const BuiltinSkin& skin : BuiltinSkins())
    if (SameNameIgnoringCase(name, skin.name)) {
      name += L" (mine)";
      break;
    }
  // A skin that could not be written is not selected: the next start would lose its colours.
  const std::wstring path = JoinPath(SkinsFolder(), name + L".vxskin");
  std::wstring error;
  if (!TestMode && !SaveSkin(path, name, &error)) {
    ShowStatus(WriteFailedText(path, error));
    return false;
  }
  Settings.Skin = name;
  SaveSettings();
  ShowStatus(L"Saved the skin \u201C" + name + L"\u201D");
  return true;
}

void DrawSkinEditor() {
  const float w = std::min(TargetWidth() - kSideMarginDip, kMaxWidthDip);
  const float h = std::min(TargetHeight() - kTopMarginDip, kMaxHeightDip);
  const Rc panel = DrawModalBackdrop(w, h);
  const float x = panel.x, y = panel.y;
  DrawText(L"Skin colours \u2014 " + Settings.Skin, Rc{x + kPadDip, y + kTitleTopDip, kTitleWidthDip, kTitleHeightDip},
           kTitleSize, ColorOf(Pal.Text), kAlignLeft, true, kFontSegoeUi);
  DrawText(kHint, Rc{x + kPadDip, y + kHintTopDip, w - 2 * kPadDip, kHintHeightDip}, kHintSize, ColorOf(Pal.Dim),
           kAlignLeft, false, kFontSegoeUi);

  const float cw = (w - 2 * kPadDip - 2 * kCellGapDip) / kColumns;
  for (int i = 0; i < kPaletteColours; ++i) {
    const Rc cell{x + kPadDip + (i % kColumns) * (cw + kCellGapDip), y + kCellsTopDip + (i / kColumns) * kCellStepDip,
                  cw, kCellHeightDip};
    if (Button(kFirstColourId + i, cell, L"", ColorOf(Pal.Text), false, kCellTextSize))
      QueueDeferredAction([i] { OpenColourEntry(i); });
    const uint32_t rgb = Pal.*SkinColourKeys[i].colour & kRgbMask;
    const Rc swatch{cell.x + kSwatch.x, cell.y + kSwatch.y, kSwatch.w, kSwatch.h};
    FillRoundedRect(swatch, kSwatchRadius, ColorOf(rgb));
    StrokeRoundedRect(swatch, kSwatchRadius, kSwatchEdge, 1);
    DrawText(SkinColourKeys[i].label, Rc{cell.x + kLabelDx, cell.y, cw - kLabelRoomDip, kCellHeightDip}, kLabelSize,
             ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
    wchar_t hex[8];
    std::swprintf(hex, 8, L"%06X", rgb);
    DrawTextAsIs(hex, Rc{cell.x + cw - kValueRightDip, cell.y, kValueWidthDip, kCellHeightDip}, kValueSize,
                 ColorOf(Pal.Dim), kAlignRight, false, kFontBahnschrift);
  }

  const float line = y + h - kSeparatorRiseDip;
  DrawLine(x + kPadDip, line, x + w - kPadDip, line, kSeparator, 1);
  const float by = line + kButtonsDropDip;
  if (Button(kSaveAsId, Rc{x + kPadDip, by, kSaveAsWidthDip, kButtonHeightDip}, L"SAVE AS SKIN\u2026",
             ColorOf(Pal.Green), false, kButtonSize))
    QueueDeferredAction(OpenSaveSkinForm);
  if (Button(kUndoId, Rc{x + kUndoXDip, by, kUndoWidthDip, kButtonHeightDip}, L"UNDO CHANGES", ColorOf(Pal.Text),
             false, kButtonSize))
    LoadSkin();
  if (Button(kDoneId, Rc{x + w - kDoneRightDip, by, kDoneWidthDip, kButtonHeightDip}, L"DONE", ColorOf(Pal.DeckA),
             true, kDoneSize))
    SkinEditorOpen = false;
}
