#include "settings/settings_rows.h"

#include <algorithm>
#include <map>

#include "base/settings.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "settings/settings_screen.h"
#include "ui/modal.h"
#include "ui/widgets.h"

SettingsCursor Cursor;

namespace {

constexpr float kFirstCardHeightDip = 48.0f;  // a card never closed yet
constexpr float kSectionGapDip = 18.0f;       // above a card
constexpr float kCardTitleDropDip = 10.0f;    // card top to title
constexpr float kCardTitleStepDip = 26.0f;    // title to first row
constexpr float kCardBottomPadDip = 6.0f;
constexpr float kPageFootDip = 8.0f;          // between the last row and the panel's edge
constexpr float kCardOverhangDip = 16.0f;     // the card reaches this far beyond the column
constexpr float kCardRadius = 10.0f;
constexpr Color kCardTop{21 / 255.0f, 24 / 255.0f, 31 / 255.0f, 0.92f};
constexpr Color kCardBottom{27 / 255.0f, 31 / 255.0f, 40 / 255.0f, 0.92f};
constexpr Color kCardEdge{1, 1, 1, 0.07f};
constexpr Color kCardHighlight{1, 1, 1, 0.05f};
constexpr float kCardHighlightInsetDip = 10.0f;
constexpr float kTitleDotRadius = 3.0f, kTitleDotDx = 3.0f, kTitleDotDy = 8.0f;
constexpr float kTitleDx = 12.0f, kTitleHeightDip = 16.0f, kTitleSize = 10.5f;
constexpr int kSectionKeyTabs = 10, kSectionKeyColumns = 100;

constexpr float kRowLabelWidthDip = 146.0f, kRowLabelSize = 13.0f;
constexpr float kHelpHeightDip = 18.0f, kHelpStepDip = 20.0f, kHelpSize = 11.5f;

constexpr size_t kMaxBullets = 16;
constexpr float kBoxRadius = 4.0f, kBoxHoverAlpha = 0.7f;
constexpr float kBoxTextInsetDip = 10.0f, kBoxTextSize = 12.5f;
constexpr float kPencilWidthDip = 24.0f, kPencilSize = 11.0f;
// The pair stepper is narrow: its label and box use the whole room between the two arrow buttons,
// not the wider insets of the other steppers, so "CH 7-8" fits without taking the device's name room.
constexpr float kChannelStepperDip = 96.0f, kChannelArrowDip = 26.0f, kChannelTextSize = 12.0f;
constexpr int kChannelsPerPair = 2, kMinPairs = 2;

std::map<int, float> SectionHeights;

int SectionKey() {
  return (Cursor.column + Cursor.tab * kSectionKeyTabs) * kSectionKeyColumns + Cursor.section;
}

}  // namespace

void StartSettingsPage(Rc panel, int tab, float scroll) {
  Cursor = SettingsCursor{};
  Cursor.scroll = scroll;
  Cursor.panel = panel;
  Cursor.content = Rc{panel.x + kSettingsSidebarDip, panel.y, panel.w - kSettingsSidebarDip, panel.h};
  Cursor.tab = tab;
  Cursor.columnWidth = (Cursor.content.w - 2 * kSettingsMarginDip - kSettingsColumnGapDip) / 2;
  BeginColumn(0);
}

float RememberedSectionHeight(int key) {
  auto it = SectionHeights.find(key);
  return it == SectionHeights.end() ? kFirstCardHeightDip : it->second;
}

void ForgetSectionHeights() { SectionHeights.clear(); }

void BeginColumn(int c) {
  EndSection();
  Cursor.lowest = std::max(Cursor.lowest, Cursor.y);
  Cursor.column = c;
  Cursor.section = 0;
  Cursor.columnX = (Cursor.columnWidth + kSettingsColumnGapDip) * c + Cursor.content.x + kSettingsMarginDip;
  Cursor.columnRight = Cursor.columnX + Cursor.columnWidth;
  Cursor.controlX = Cursor.columnX + kSettingsLabelColumnDip;
  Cursor.controlWidth = Cursor.columnRight - Cursor.controlX;
  Cursor.y = Cursor.panel.y + kSettingsPageTopDip - Cursor.scroll;
}

Rc SettingsPageView(Rc panel) {
  const float top = panel.y + kSettingsPageTopDip;
  return Rc{panel.x + kSettingsSidebarDip, top, panel.w - kSettingsSidebarDip, panel.Bottom() - kPageFootDip - top};
}

float SettingsPageBottom() {
  // A column's last card reaches its padding below the cursor.
  return std::max(Cursor.y, Cursor.lowest) + kCardBottomPadDip + Cursor.scroll;
}

void EndSection() {
  if (Cursor.sectionStart < 0) return;
  SectionHeights[SectionKey()] = Cursor.y - Cursor.sectionStart + kCardBottomPadDip;
  Cursor.sectionStart = -1;
}

void SectionHeader(std::wstring_view title) {
  EndSection();
  Cursor.section += 1;
  Cursor.y += kSectionGapDip;
  Cursor.sectionStart = Cursor.y;
  // Drawn at last frame's height: the rows below are laid out in this same pass.
  const Rc card{Cursor.columnX - kCardOverhangDip, Cursor.y, Cursor.columnWidth + 2 * kCardOverhangDip,
                RememberedSectionHeight(SectionKey())};
  FillGradientRoundedRect(card, kCardRadius, kCardTop, kCardBottom);
  StrokeRoundedRect(card, kCardRadius, kCardEdge, 1);
  DrawLine(card.x + kCardHighlightInsetDip, card.y + 1, card.Right() - kCardHighlightInsetDip, card.y + 1,
           kCardHighlight, 1);
  Cursor.y += kCardTitleDropDip;
  const Color accent = ColorOf(Pal.DeckA);
  FillCircle(Cursor.columnX + kTitleDotDx, Cursor.y + kTitleDotDy, kTitleDotRadius, accent);
  DrawText(title, Rc{Cursor.columnX + kTitleDx, Cursor.y, Cursor.columnWidth - kTitleDx, kTitleHeightDip},
           kTitleSize, accent, kAlignLeft, true, kFontBahnschrift);
  Cursor.y += kCardTitleStepDip;
}

void RowLabel(std::wstring_view text) {
  DrawText(text, Rc{Cursor.columnX, Cursor.y, kRowLabelWidthDip, kSettingsRowHeightDip}, kRowLabelSize,
           ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
}

namespace {
// A line too long for a narrow column is drawn a little smaller rather than cut.
void HelpLineFrom(float x, std::wstring_view text) {
  const float width = Cursor.columnRight - x;
  DrawText(text, Rc{x, Cursor.y, width, kHelpHeightDip}, FittingSize(text, width, kHelpSize), ColorOf(Pal.Dim),
           kAlignLeft, false, kFontSegoeUi);
  Cursor.y += kHelpStepDip;
}
}  // namespace

void HelpLine(std::wstring_view text) { HelpLineFrom(Cursor.columnX, text); }

void ControlHelpLine(std::wstring_view text) { HelpLineFrom(Cursor.controlX, text); }

bool ChoiceRow(int id, const std::vector<std::wstring>& labels, int32_t* value) {
  int selected = *value;
  const bool changed =
      DrawTextRows(id, Rc{Cursor.controlX, Cursor.y, Cursor.controlWidth, kSettingsRowHeightDip}, labels, &selected);
  Cursor.y += kSettingsRowStepDip;
  if (!changed) return false;
  *value = selected;
  SaveSettings();
  return true;
}

bool ToggleRow(int id, std::wstring_view offLabel, std::wstring_view onLabel, bool* value) {
  // Two buttons drawn directly: a label vector per frame would allocate.
  const float gap = 4.0f;
  const float width = (Cursor.controlWidth - gap) / 2;
  const Color accent = ColorOf(Pal.DeckA);
  bool chosen = *value;
  if (Button(id, Rc{Cursor.controlX, Cursor.y, width, kSettingsRowHeightDip}, offLabel, accent, !*value,
             kSettingsButtonTextSize))
    chosen = false;
  if (Button(id + 1, Rc{Cursor.controlX + width + gap, Cursor.y, width, kSettingsRowHeightDip}, onLabel, accent,
             *value, kSettingsButtonTextSize))
    chosen = true;
  Cursor.y += kSettingsRowStepDip;
  if (chosen == *value) return false;
  *value = chosen;
  SaveSettings();
  return true;
}

bool StepperRow(int id, std::wstring_view text, int* index, int count) {
  const bool changed =
      DrawLabelledBox(id, Rc{Cursor.controlX, Cursor.y, Cursor.controlWidth, kSettingsRowHeightDip}, text, index, count);
  Cursor.y += kSettingsRowStepDip;
  return changed;
}

bool RowButton(int id, float x, float width, std::wstring_view label, Color colour) {
  return Button(id, Rc{x, Cursor.y, width, kSettingsRowHeightDip}, label, colour, false, kSettingsButtonTextSize);
}

bool TextRow(int id, std::wstring_view label, std::wstring* value, bool masked) {
  RowLabel(label);
  const bool clicked =
      ValueBox(id, Rc{Cursor.controlX, Cursor.y, Cursor.controlWidth, kSettingsRowHeightDip}, value, masked);
  if (clicked) {
    std::wstring title(label);
    QueueDeferredAction([title, value, masked] { EditField(title, value, masked, false); });
  }
  Cursor.y += kSettingsRowStepDip;
  return clicked;
}

bool ChannelPairRow(int id, const std::wstring& deviceName, int32_t* pair) {
  const AudioDevice* device = nullptr;
  for (const AudioDevice& d : SettingsOutputDevices)
    if (d.name == deviceName || d.id == deviceName) device = &d;
  if (!device) return false;
  const int pairs = device->channels / kChannelsPerPair;
  if (pairs < kMinPairs) return false;
  int index = std::clamp<int>(*pair, 0, pairs - 1);
  const bool clamped = index != *pair;
  wchar_t text[32];
  swprintf(text, 32, L"CH %d-%d", 2 * index + 1, 2 * index + 2);
  const float right = Cursor.controlX + Cursor.controlWidth;
  const Rc r{right - kChannelStepperDip, Cursor.y, kChannelStepperDip, kSettingsRowHeightDip};
  const bool changed = DrawLabelledBox(id, r, L"", &index, pairs);
  const Rc label{r.x + kChannelArrowDip, r.y, r.w - 2 * kChannelArrowDip, r.h};
  FillRoundedRect(Rc{label.x + 1, label.y, label.w - 2, label.h}, kBoxRadius, ColorOf(Pal.Background));
  DrawTextAsIs(text, label, kChannelTextSize, ColorOf(Pal.Text), kAlignCenter, false, kFontSegoeUi);
  *pair = index;
  return changed || clamped;
}

std::wstring ValueBoxText(const std::wstring& value, bool masked) {
  if (value.empty()) return masked ? L"(not set)" : L"\u2014";
  if (masked) return std::wstring(std::min(value.size(), kMaxBullets), L'\u2022');
  return value;
}

bool ValueBox(int id, Rc r, const std::wstring* value, bool masked) {
  if (OffScreen(r)) return false;
  controlKinds[id] = kControlKindButton;
  RecordWidgetRect(id, r);
  const bool hover = MouseIn(r);
  bool clicked = false;
  if (!midiLearnOn && hover && PressStarts(r)) {
    ActiveControlId = id;
    clicked = true;
  }
  FillRoundedRect(r, kBoxRadius, ColorOf(Pal.Background));
  StrokeRoundedRect(r, kBoxRadius, hover ? ColorOf(Pal.DeckA, kBoxHoverAlpha) : ColorOf(Pal.Border), 1);
  const Rc textBox{r.x + kBoxTextInsetDip, r.y, r.w - 2 * kBoxTextInsetDip - kPencilWidthDip, r.h};
  if (value->empty())
    DrawText(masked ? L"(not set)" : L"\u2014", textBox, kBoxTextSize, ColorOf(Pal.Faint), kAlignLeft, false,
             kFontSegoeUi);
  else if (masked)
    DrawTextAsIs(ValueBoxText(*value, true), textBox, kBoxTextSize, ColorOf(Pal.Text), kAlignLeft, false,
                 kFontSegoeUi);
  else
    DrawTextAsIs(*value, textBox, kBoxTextSize, ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
  DrawText(L"\u270E", Rc{r.Right() - kPencilWidthDip, r.y, kPencilWidthDip, r.h}, kPencilSize,
           hover ? ColorOf(Pal.Text) : ColorOf(Pal.Faint), kAlignCenter, false, kFontSegoeUi);
  return clicked;
}
