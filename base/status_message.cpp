#include "base/status_message.h"

#include <algorithm>
#include <utility>

#include "base/frame_clock.h"

StatusLine Status;

void ShowStatus(UiText message, int ms) {
  Status.text = EnglishText(message);
  Status.message = std::move(message);
  Status.undrawnMs = std::max(ms, 0);
  Status.expiresAtMs = FrameNowHook() + static_cast<uint64_t>(Status.undrawnMs);
}

bool StatusShowing(uint64_t nowMs) {
  return !Status.message.empty() && (nowMs < Status.expiresAtMs || Status.undrawnMs > 0);
}

void NoteStatusDrawn(uint64_t nowMs) {
  if (Status.undrawnMs < 0) return;
  Status.expiresAtMs = std::max(Status.expiresAtMs, nowMs + static_cast<uint64_t>(Status.undrawnMs));
  Status.undrawnMs = -1;
}

void HideStatus() {
  Status.expiresAtMs = 0;
  Status.undrawnMs = -1;
}
