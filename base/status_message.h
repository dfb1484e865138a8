#pragma once
// The status message: one short text the status pill near the top of the window shows until it
// expires. Any layer may set it (engine, library, control, broadcast, karaoke); ui/status_line
// draws it, translated into the UI language as it is drawn. A newer message replaces the shown one
// at once. UI thread.
#include <cstdint>
#include <string>

#include "base/ui_text.h"

inline constexpr int kStatusDefaultMs = 2800;

struct StatusLine {
  UiText message;            // English, translated and filled when drawn
  std::wstring text;         // the message filled in English (logs, tests)
  uint64_t expiresAtMs = 0;  // MonotonicMs() value; the message shows until then
};
extern StatusLine Status;

// Shows the message for `ms` milliseconds from now (a negative time shows nothing). A plain text
// or UiFormat(pattern, values...) for one holding numbers or names.
void ShowStatus(UiText message, int ms = kStatusDefaultMs);
// True while there is a message and nowMs is before its expiry.
bool StatusShowing(uint64_t nowMs);
