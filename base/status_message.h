#pragma once
// The status message: one short text the status pill near the top of the window shows until it
// expires. Any layer may set it (engine, library, control, broadcast, karaoke); ui/status_line
// draws it, translated into the UI language as it is drawn. A newer message replaces the shown one
// at once. Its time counts from the first frame that draws it, so one set before the window's
// first frame or while a busy machine holds the frames back is still seen for its full time.
// UI thread.
#include <cstdint>
#include <string>

#include "base/ui_text.h"

inline constexpr int kStatusDefaultMs = 2800;

struct StatusLine {
  UiText message;            // English, translated and filled when drawn
  std::wstring text;         // the message filled in English (logs, tests)
  uint64_t expiresAtMs = 0;  // on the frames' clock (FrameNowHook); the message shows until then
  int undrawnMs = -1;        // until a frame first draws it: how long it shows from then
};
extern StatusLine Status;

// Shows the message for `ms` milliseconds from the frame that first draws it (a negative time
// shows nothing). A plain text or UiFormat(pattern, values...) for one holding numbers or names.
void ShowStatus(UiText message, int ms = kStatusDefaultMs);
// True while there is a message that no frame has drawn yet or nowMs is before its expiry.
bool StatusShowing(uint64_t nowMs);
// Called by the frame that draws the message: the first one moves the expiry to its time plus
// the message's own.
void NoteStatusDrawn(uint64_t nowMs);
// Takes the message away at once, drawn or not.
void HideStatus();
