#pragma once
// The status line: one message and the time it expires. A newer message replaces the shown one.
// UI thread.
#include <cstdint>
#include <string>

inline constexpr int kStatusDefaultMs = 2800;

struct StatusLine {
  std::wstring text;
  uint64_t expiresAtMs = 0;  // MonotonicMs() value; the message shows until then
};
extern StatusLine Status;

// Shows `text` for `ms` milliseconds from now.
void ShowStatus(const std::wstring& text, int ms = kStatusDefaultMs);
