#include "base/status_message.h"

#include <algorithm>
#include <utility>

#include "platform/clock.h"

StatusLine Status;

void ShowStatus(UiText message, int ms) {
  Status.text = EnglishText(message);
  Status.message = std::move(message);
  Status.expiresAtMs = MonotonicMs() + static_cast<uint64_t>(std::max(ms, 0));
}

bool StatusShowing(uint64_t nowMs) { return !Status.message.empty() && nowMs < Status.expiresAtMs; }
