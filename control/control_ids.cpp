#include "control/control_ids.h"

#include <iterator>

#include "engine/control_input.h"

const wchar_t* const PadModeNames[kPadModeCount] = {L"CUES",   L"ROLL", L"JUMP", L"SAMPLER",
                                                   L"LOOP",   L"SLICER", L"KEYS", L"STEMS"};

namespace {

struct NamedControl {
  const wchar_t* name;
  ControlKind kind;
};

constexpr NamedControl kGlobalActions[] = {
    {L"Cross-fader", kAbsoluteControl},     {L"Master level", kAbsoluteControl},
    {L"Headphone level", kAbsoluteControl}, {L"Headphone cue/master", kAbsoluteControl},
    {L"Sampler level", kAbsoluteControl},   {L"Browse", kRelativeControl},
    {L"Browse push (load)", kButtonControl}, {L"Shift", kButtonControl},
    {L"Automix", kButtonControl},           {L"Cross-fader glide", kButtonControl},
    {L"Record", kButtonControl},            {L"Quantize", kButtonControl},
    {L"Sandbox", kButtonControl},
};

constexpr NamedControl kDeckActions[] = {
    {L"play", kButtonControl},         {L"cue", kButtonControl},
    {L"sync", kButtonControl},         {L"sync lock", kButtonControl},
    {L"headphone cue", kButtonControl}, {L"load", kButtonControl},
    {L"play from cue", kButtonControl}, {L"pitch", kAbsoluteControl},
    {L"volume", kAbsoluteControl},     {L"gain", kAbsoluteControl},
    {L"high", kAbsoluteControl},       {L"mid", kAbsoluteControl},
    {L"low", kAbsoluteControl},        {L"filter", kAbsoluteControl},
    {L"jog", kRelativeControl},        {L"jog touch", kButtonControl},
    {L"jog (touched)", kRelativeControl}, {L"jog search", kRelativeControl},
    {L"vinyl mode", kButtonControl},   {L"pitch bend +", kButtonControl},
    {L"pitch bend -", kButtonControl}, {L"key lock", kButtonControl},
    {L"loop", kButtonControl},         {L"loop in", kButtonControl},
    {L"loop out", kButtonControl},     {L"reloop", kButtonControl},
    {L"loop \u00BD", kButtonControl},  {L"loop \u00D72", kButtonControl},
    {L"pad mode", kButtonControl},     {L"acapella", kButtonControl},
    {L"instrumental", kButtonControl}, {L"censor", kButtonControl},
    {L"reverse", kButtonControl},      {L"slip", kButtonControl},
    {L"tap", kButtonControl},          {L"pitch range", kButtonControl},
};
static_assert(std::size(kGlobalActions) == 13 && std::size(kDeckActions) == 36);

struct NumberedAction {
  int32_t first;
  int32_t count;
  const wchar_t* name;
  ControlKind kind;
};
constexpr NumberedAction kNumberedActions[] = {
    {kEffectOnOffset, 3, L"effect on ", kButtonControl},
    {kEffectAmountOffset, 3, L"effect amount ", kAbsoluteControl},
    {kPadOffset, 8, L"pad ", kButtonControl},
    {kHotCueOffset, 8, L"hot cue ", kButtonControl},
    {kClearHotCueOffset, 8, L"clear hot cue ", kButtonControl},
    {kBeatLoopOffset, 8, L"beat loop ", kButtonControl},
    {kBeatJumpOffset, 8, L"beat jump ", kButtonControl},
    {kLoopRollOffset, 8, L"loop roll ", kButtonControl},
    {kSamplerOffset, 8, L"sampler ", kButtonControl},
    {kPadModeOffset, 8, L"pad mode ", kButtonControl},
};

const NumberedAction* NumberedRow(int32_t offset) {
  for (const NumberedAction& row : kNumberedActions)
    if (offset >= row.first && offset < row.first + row.count) return &row;
  return nullptr;
}

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
  if (IsMixerControl(id)) {
    const int32_t index = id - kFirstMixerControl;
    return index < static_cast<int32_t>(std::size(kGlobalActions)) ? kGlobalActions[index].kind : kButtonControl;
  }
  if (!IsDeckControl(id)) return kButtonControl;
  const int32_t offset = (id - kFirstDeckControl) % kDeckControlsPerSide;
  if (offset < static_cast<int32_t>(std::size(kDeckActions))) return kDeckActions[offset].kind;
  const NumberedAction* row = NumberedRow(offset);
  return row ? row->kind : kButtonControl;
}

std::wstring ActionName(int32_t id) {
  if (id >= kFirstMixerControl && id < kFirstMacroControl) return kGlobalActions[id - kFirstMixerControl].name;
  if (id >= kFirstMacroControl && id <= kLastMixerControl)
    return L"Macro " + std::to_wstring(id - kFirstMacroControl + 1);
  if (!IsDeckControl(id)) return {};
  const int32_t side = (id - kFirstDeckControl) / kDeckControlsPerSide;
  const int32_t offset = (id - kFirstDeckControl) % kDeckControlsPerSide;
  std::wstring name = side == 0 ? L"Left deck " : L"Right deck ";
  if (offset < static_cast<int32_t>(std::size(kDeckActions))) return name + kDeckActions[offset].name;
  if (const NumberedAction* row = NumberedRow(offset))
    return name + row->name + std::to_wstring(offset - row->first + 1);
  return name + L"action";
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
