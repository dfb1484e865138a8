#pragma once
// The settings screen's layout cursor and the row widgets every page is made of. A page is a
// sequence of calls (BeginColumn, SectionHeader, RowLabel + a control, HelpLine...) that advance
// one shared cursor down a column; each control saves its setting the moment it changes. Only
// valid while DrawSettings draws a page (it sets the cursor up first). UI thread only.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ui/draw.h"

// ---- sizes the pages share --------------------------------------------------------------------

inline constexpr float kSettingsSidebarDip = 214.0f;
inline constexpr float kSettingsMarginDip = 32.0f;
inline constexpr float kSettingsColumnGapDip = 44.0f;
inline constexpr float kSettingsLabelColumnDip = 158.0f;  // control x = column x + this
inline constexpr float kSettingsRowHeightDip = 30.0f;
inline constexpr float kSettingsRowStepDip = 40.0f;
inline constexpr float kSettingsPageTopDip = 88.0f;       // below the header's divider
inline constexpr float kSettingsButtonTextSize = 10.5f;   // the pages' action buttons

// ---- the cursor -------------------------------------------------------------------------------

// Where the page being drawn stands. DrawSettings fills panel, content, tab and the column width
// each frame; the row functions move the rest.
struct SettingsCursor {
  Rc panel;                    // the whole modal panel
  Rc content;                  // the panel right of the sidebar
  int tab = 0;
  int column = 0;              // 0 left, 1 right
  int section = 0;             // counts from 1 within a column
  float columnWidth = 0;       // (content width - 64 - 44) / 2
  float columnX = 0, columnRight = 0;
  float controlX = 0, controlWidth = 0;
  float y = 0;                 // the vertical cursor
  float sectionStart = -1;     // the open section's top; -1 when none is open
  float lowest = 0;            // the lowest y an earlier column reached
  float scroll = 0;            // how far the page is scrolled up: every row sits this much higher
};
extern SettingsCursor Cursor;

// Sets the cursor up for a page inside the panel: content = panel right of the sidebar, column
// width from it, column 0 at the page top less the scroll. DrawSettings calls it; tests may too.
void StartSettingsPage(Rc panel, int tab, float scroll = 0);
// Where the page's rows may lie: from the header's divider to just above the panel's foot.
Rc SettingsPageView(Rc panel);
// How far down the page being drawn reaches, unscrolled: the lowest row or card bottom so far.
float SettingsPageBottom();

// ---- section cards ----------------------------------------------------------------------------

// The remembered card heights: key (column + tab x 10) x 100 + section -> height. Run-long.
float RememberedSectionHeight(int key);
void ForgetSectionHeights();
// Closes the open section; then column c from the page top, section 0.
void BeginColumn(int c);
// Closes the open section and opens the next: its card (at the height it had when last closed,
// 48 the first time), a dot and the title in the accent colour; y += 18 + 10 + 26.
void SectionHeader(std::wstring_view title);
// Stores the open section's height (y - start + 6); nothing when none is open.
void EndSection();

// ---- rows -------------------------------------------------------------------------------------

// The row's label at the column x, 146 x 30, size 13; the cursor does not move.
void RowLabel(std::wstring_view text);
// One line of help across the column, size 11.5, Dim; y += 20.
void HelpLine(std::wstring_view text);
// HelpLine starting at the control x (under a row's control).
void ControlHelpLine(std::wstring_view text);
// Choice buttons across the control area (ids id, id + 1...); a click on another choice sets
// *value and saves the settings. y += 40. True when it changed.
bool ChoiceRow(int id, const std::vector<std::wstring>& labels, int32_t* value);
// A two-choice row, off first: the second sets *value, the first clears it; saves on change.
bool ToggleRow(int id, std::wstring_view offLabel, std::wstring_view onLabel, bool* value);
// A ◂ text ▸ stepper across the control area (ids id and id + 1), wrapping *index over
// 0..count - 1. The caller applies and saves on change. y += 40.
bool StepperRow(int id, std::wstring_view text, int* index, int count);
// An action button of the given width at x (size 10.5); true on the click. No cursor move.
bool RowButton(int id, float x, float width, std::wstring_view label, Color colour);
// RowLabel, then a ValueBox across the control area; a click queues EditField (label, value,
// masked, not digits-only) for after the frame. y += 40. True on the click.
bool TextRow(int id, std::wstring_view label, std::wstring* value, bool masked);
// A "CH a-b" stepper (96 wide at the control area's right end) over the output device's channel
// pairs; nothing (false) when the device is unknown or has fewer than two pairs. *pair is clamped
// into range. True when it changed.
bool ChannelPairRow(int id, const std::wstring& deviceName, int32_t* pair);

// ---- value boxes ------------------------------------------------------------------------------

// What a value box shows: one "•" per character up to 16 when masked; "(not set)" (masked) or
// "—" for an empty value; else the value.
std::wstring ValueBoxText(const std::wstring& value, bool masked);
// A text setting's box: rounded, Background fill, outlined in Deck A at 70 % when hovered, the
// text clipped to the box and a pencil at its right. True on the frame it is pressed (not while
// MIDI learn is on or another control is active).
bool ValueBox(int id, Rc r, const std::wstring* value, bool masked);

// EditField (the one-field "SAVE" form) lives with the modal form in ui/modal.h.
