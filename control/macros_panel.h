#pragma once
// The macros panel's state and contents: whether it is open, the slot colours, the language
// reference it shows, and saving an edited slot. It is drawn by screens/macros_panel_view. UI thread.
#include <cstdint>
#include <string>

extern bool MacrosPanelOpen;

inline constexpr int kMacroCards = 8;
inline constexpr int32_t kMacroRunWidgetBase = 3600;   // + slot: the run buttons (control ids 5013 + slot)
inline constexpr int32_t kMacroEditWidgetBase = 3610;  // + slot
inline constexpr int32_t kMacroDoneWidget = 3630;
// 0xRRGGBB, slot 1 to 8.
inline constexpr uint32_t kMacroSlotColours[kMacroCards] = {0xFF3D6E, 0x2BF5A0, 0xFFC83D, 0x9D6BFF,
                                                            0x22D3FF, 0xFF8A2B, 0xFF4FD8, 0xB6FF3D};
// The reference beside the cards; the first line is its heading.
inline constexpr int kMacroReferenceLines = 16;
extern const wchar_t* const kMacroReference[kMacroReferenceLines];

// The run button's text: "3  BASS SWAP".
std::wstring MacroCardLabel(int slot);
// Stores the edited name and script of slot 0..7 and saves the settings; copies already running
// keep their steps. False when the settings file could not be written (the values stay set).
bool SaveMacroSlot(int slot, const std::wstring& name, const std::wstring& script);
