#pragma once
// The one numbering of controller actions: every controller mapping, keyboard binding, phone-remote
// command and macro names its target with a ControlId. 5000-5012 are mixer and global actions,
// 5013-5020 run user macros 1-8, 5200-5599 are deck actions of the left (5200-5399) and right
// (5400-5599) side, acting on whichever deck that side shows. Every other number is a widget id,
// which a mapping may drive as if the mouse used the widget.
#include <cstdint>
#include <string>

using ControlId = uint16_t;

enum ControlKind : int {
  kButtonControl = 0,    // press and release edges
  kAbsoluteControl = 1,  // a position 0..1
  kRelativeControl = 2,  // a signed step count
};

inline constexpr int32_t kFirstMixerControl = 5000;
inline constexpr int32_t kLastMixerControl = 5020;
inline constexpr int32_t kFirstMacroControl = 5013;
inline constexpr int32_t kFirstDeckControl = 5200;
inline constexpr int32_t kDeckControlsPerSide = 200;
inline constexpr int32_t kLastDeckControl = 5599;

// Mixer and global actions.
enum MixerControl : int32_t {
  kCrossfaderControl = 5000,
  kMasterLevelControl = 5001,
  kHeadphoneLevelControl = 5002,
  kHeadphoneMixControl = 5003,
  kSamplerLevelControl = 5004,
  kBrowseControl = 5005,
  kBrowsePushControl = 5006,
  kShiftControl = 5007,
  kAutomixControl = 5008,
  kGlideControl = 5009,
  kRecordControl = 5010,
  kQuantizeControl = 5011,
  kSandboxControl = 5012,
};

// Deck action offsets (side base + offset).
enum DeckOffset : int32_t {
  kPlayOffset = 0, kCueOffset = 1, kSyncOffset = 2, kSyncLockOffset = 3, kHeadphoneCueOffset = 4,
  kLoadOffset = 5, kPlayFromCueOffset = 6, kPitchOffset = 7, kVolumeOffset = 8, kGainOffset = 9,
  kHighOffset = 10, kMidOffset = 11, kLowOffset = 12, kFilterOffset = 13, kJogOffset = 14,
  kJogTouchOffset = 15, kJogTouchedOffset = 16, kJogSearchOffset = 17, kVinylOffset = 18,
  kBendUpOffset = 19, kBendDownOffset = 20, kKeyLockOffset = 21, kLoopOffset = 22, kLoopInOffset = 23,
  kLoopOutOffset = 24, kReloopOffset = 25, kLoopHalfOffset = 26, kLoopDoubleOffset = 27,
  kPadModeStepOffset = 28, kAcapellaOffset = 29, kInstrumentalOffset = 30, kCensorOffset = 31,
  kReverseOffset = 32, kSlipOffset = 33, kTapOffset = 34, kPitchRangeOffset = 35,
  kEffectOnOffset = 40,      // 3 in a row
  kEffectAmountOffset = 44,  // 3
  kPadOffset = 60,           // 8
  kHotCueOffset = 70,        // 8
  kClearHotCueOffset = 80,   // 8
  kBeatLoopOffset = 90,      // 8
  kBeatJumpOffset = 100,     // 8
  kLoopRollOffset = 110,     // 8
  kSamplerOffset = 120,      // 8
  kPadModeOffset = 130,      // 8
};

// The control id of a deck action on side 0 (left) or 1 (right).
constexpr int32_t DeckControl(int side, int32_t offset) {
  return kFirstDeckControl + kDeckControlsPerSide * side + offset;
}
constexpr bool IsMixerControl(int32_t id) { return id >= kFirstMixerControl && id <= kLastMixerControl; }
constexpr bool IsDeckControl(int32_t id) { return id >= kFirstDeckControl && id <= kLastDeckControl; }

// Widget ids that take part in the controller layer.
inline constexpr int32_t kShiftWidget = 33;         // the top bar's SHIFT button
inline constexpr int32_t kDeckWidgetBase = 1000;    // + 100 x side + k
inline constexpr int32_t kDeckWidgetSideStep = 100;
inline constexpr int32_t kBendDownWidget = 5;       // k of the pitch-bend minus button
inline constexpr int32_t kBendUpWidget = 6;
inline constexpr int32_t kPadWidget = 38;           // k of pad 1 (8 in a row)
inline constexpr int32_t kMacroWidgetBase = 3600;   // macro buttons 1-8

// The pad modes in their stored order, and the order the pad-mode button steps through.
inline constexpr int kPadModeCount = 8;
extern const wchar_t* const PadModeNames[kPadModeCount];  // CUES, ROLL, JUMP, ...
inline constexpr uint32_t kPadModeDisplayOrder[kPadModeCount] = {0, 4, 1, 2, 5, 6, 7, 3};

// The kind of a control id: 5000-5004 absolute, 5005 relative, deck offsets 7-13 and 44-46
// absolute, 14, 16 and 17 relative; every other id (and any id outside the ranges) a button.
ControlKind GetControlKind(int32_t id);
// The display name ("Left deck play", "Macro 3"); empty for an id that is no action.
std::wstring ActionName(int32_t id);
// The control id a widget stands for; 0 when it has none.
int32_t ControlIdFromUi(int32_t widgetId);
// The kind of a mapping target: a widget with a control id takes that id's kind, a control id
// its own, any other widget what it registered when last drawn (button when none or unknown).
ControlKind GetBindingKind(int32_t id);
