#include "ui/status_line.h"

#include <algorithm>

#include "platform/clock.h"

StatusLine Status;

void ShowStatus(const std::wstring& text, int ms) {
  Status.text = text;
  Status.expiresAtMs = MonotonicMs() + static_cast<uint64_t>(std::max(ms, 0));
}
