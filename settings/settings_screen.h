#pragma once
// The settings screen: its open flag and page, read by the frame and the top bar; the audio
// device lists it offers, refilled by whoever opens the screen so it never enumerates devices
// while it draws; the tab table; and drawing it. The rows the pages are made of are in
// settings/settings_rows.h. UI thread.
#include <array>
#include <cstdint>
#include <vector>

#include "platform/audio_devices.h"
#include "ui/draw.h"

inline constexpr int32_t kSettingsTabs = 10;
inline constexpr int32_t kSettingsPageLibrary = 2;
inline constexpr int32_t kSettingsPageBroadcast = 3;
inline constexpr int32_t kSettingsPageControllers = 4;
inline constexpr int32_t kSettingsPageLook = 5;
inline constexpr int32_t kSettingsPageKaraoke = 6;  // its camera preview keeps the camera running
inline constexpr int32_t kSettingsPageVideo = 7;    // its preview keeps the video feed running
inline constexpr int32_t kSettingsPageAbout = 9;

extern bool SettingsOpen;
extern int32_t SettingsPage;  // 0..9, clamped every frame; kept between openings

extern std::vector<AudioDevice> SettingsOutputDevices;  // render devices
extern std::vector<AudioDevice> SettingsInputDevices;   // capture devices

// One tab of the sidebar: its label, its "Segoe MDL2 Assets" glyph and the page's subtitle.
struct SettingsTab {
  const wchar_t* label;
  char32_t glyph;
  const wchar_t* subtitle;
};
extern const std::array<SettingsTab, kSettingsTabs> SettingsTabs;

// The panel's width and height for a window of that size in DIPs (at most 1240 x 800).
PointF SettingsPanelSize(float windowWidth, float windowHeight);

// Draws and handles one frame of the settings screen: the panel, the sidebar with its tabs, the
// page header with DONE and the selected page (the About page in its own area). A page too long
// for the panel scrolls: the wheel over it, a thin bar at its right, and a control pressed by a
// key or controller comes into view. Called by Frame while SettingsOpen is set.
void DrawSettings();

// How a key scrolls the page shown: a row, a view less a row, or to either end.
enum class PageMove : uint8_t { RowUp, RowDown, ViewUp, ViewDown, Top, Bottom };
// Scrolls the selected page as it was last drawn, kept within its height; nothing on a page that
// fits its panel or on About. The next DrawSettings shows it. UI thread.
void ScrollSettingsPage(PageMove move);
