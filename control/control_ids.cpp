#include "control/control_ids.h"

#include <iterator>

#include "control/action_table.h"
#include "engine/control_input.h"

const wchar_t* const PadModeNames[kPadModeCount] = {L"CUES",   L"ROLL", L"JUMP", L"SAMPLER",
                                                   L"LOOP",   L"SLICER", L"KEYS", L"STEMS"};

namespace {

// Mixer and top-bar widgets with a control id.
struct WidgetControl {
  int32_t widget;
  int32_t control;
};
constexpr WidgetControl kMixerWidgets[] = {
    {4, kAutomixControl},         {19, kCrossfaderControl},     {20, kMasterLevelControl},
    {21, kHeadphoneMixControl},   {22, kHeadphoneLevelControl}, {23, kSamplerLevelControl},
    {31, kBrowseControl},         {32, kBrowsePushControl},     {34, kSandboxControl},
};
// Deck widgets (k of 1000 + 100 x side + k) with a deck offset.
constexpr WidgetControl kDeckWidgets[] = {
    {2, kJogOffset},           {3, kPitchOffset},        {7, kCueOffset},
    {8, kPlayOffset},          {9, kSyncOffset},         {12, kLoopOffset},
    {13, kGainOffset},         {14, kHighOffset},        {15, kMidOffset},
    {16, kLowOffset},          {17, kFilterOffset},      {18, kVolumeOffset},
    {19, kHeadphoneCueOffset}, {20, kAcapellaOffset},    {21, kInstrumentalOffset},
    {22, kKeyLockOffset},      {27, kSlipOffset},        {28, kReverseOffset},
    {29, kTapOffset},          {60, kCensorOffset},      {73, kVinylOffset},
};

}  // namespace

ControlKind GetControlKind(int32_t id) {
  const ActionRow* row = FindAction(id);
  return row ? row->kind : kButtonControl;
}

std::wstring ActionName(int32_t id) {
  int32_t n = 0;
  const ActionRow* row = FindAction(id, &n);
  const std::wstring number = row && row->count > 1 ? std::to_wstring(n + 1) : std::wstring();
  if (IsMixerControl(id)) return row ? row->name + number : std::wstring();
  if (!IsDeckControl(id)) return {};
  const int32_t side = (id - kFirstDeckControl) / kDeckControlsPerSide;
  return (side == 0 ? L"Left deck " : L"Right deck ") + (row ? row->name + number : std::wstring(L"action"));
}

int32_t ControlIdFromUi(int32_t widgetId) {
  for (const WidgetControl& row : kMixerWidgets)
    if (row.widget == widgetId) return row.control;
  if (widgetId >= kMacroWidgetBase && widgetId < kMacroWidgetBase + 8)
    return kFirstMacroControl + widgetId - kMacroWidgetBase;
  if (widgetId < kDeckWidgetBase || widgetId >= kDeckWidgetBase + 2 * kDeckWidgetSideStep) return 0;
  const int side = (widgetId - kDeckWidgetBase) / kDeckWidgetSideStep;
  const int32_t k = (widgetId - kDeckWidgetBase) % kDeckWidgetSideStep;
  if (k >= kPadWidget && k < kPadWidget + 8) return DeckControl(side, kPadOffset + k - kPadWidget);
  for (const WidgetControl& row : kDeckWidgets)
    if (row.widget == k) return DeckControl(side, row.control);
  return 0;
}

ControlKind GetBindingKind(int32_t id) {
  if (const int32_t control = ControlIdFromUi(id); control != 0) return GetControlKind(control);
  if (IsMixerControl(id) || IsDeckControl(id)) return GetControlKind(id);
  const auto registered = controlKinds.find(id);
  if (registered == controlKinds.end()) return kButtonControl;
  if (registered->second == kControlKindAbsolute) return kAbsoluteControl;
  if (registered->second == kControlKindRelative) return kRelativeControl;
  return kButtonControl;
}
