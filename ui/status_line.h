#pragma once
// The status line: one short message shown as a pill near the top of the window until it
// expires. A newer message replaces the shown one at once. UI thread.
#include <cstdint>
#include <string>

inline constexpr int kStatusDefaultMs = 2800;

struct StatusLine {
  std::wstring text;
  uint64_t expiresAtMs = 0;  // MonotonicMs() value; the message shows until then
};
extern StatusLine Status;

// Shows `text` for `ms` milliseconds from now (a negative time shows nothing).
void ShowStatus(const std::wstring& text, int ms = kStatusDefaultMs);
// True while there is a message and nowMs is before its expiry.
bool StatusShowing(uint64_t nowMs);
// Draws the message, centred across a window windowWidth DIPs wide, while it shows. Called by the
// frame routine after the overlays; the At form takes the clock.
void DrawStatusLine(float windowWidth);
void DrawStatusLineAt(float windowWidth, uint64_t nowMs);
