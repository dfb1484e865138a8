#pragma once
// The two shared overlays that talk to the user, one instance each (a newer call replaces the
// shown one): the modal form (a titled list of text fields with CANCEL and a confirm button) and
// the question box (one yes/no question with an icon). Their buttons never act mid-frame: a click
// queues a deferred action, run after the frame is presented. UI thread only.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/draw.h"
#include "ui/text_field.h"

// ---- deferred actions -----------------------------------------------------------------------

// Changes that must not happen mid-frame, run once each, in order, after the frame is presented.
extern std::vector<std::function<void()>> DeferredActions;
// Appends an action; it must not be empty.
void QueueDeferredAction(std::function<void()> action);
// Runs the queued actions and empties the queue. Actions they queue run after the next frame.
void RunDeferredActions();

// ---- the modal form -------------------------------------------------------------------------

inline constexpr int32_t kModalCancelId = 3200;
inline constexpr int32_t kModalOkId = 3201;
inline constexpr int32_t kModalFirstBoxId = 3210;  // + field index

struct ModalField {
  std::wstring label;
  std::wstring value;   // the edited text
  bool masked = false;  // shown as one "•" per character
};
using ModalCallback = std::function<void(const std::vector<ModalField>&)>;

struct ModalForm {
  bool open = false;
  std::wstring title;
  std::vector<ModalField> fields;
  std::wstring okLabel;
  int focused = 0;
  ModalCallback callback;
};
extern ModalForm Modal;

// Opens the form with field 0 focused and takes the focus from the search box. An open form is
// replaced without its callback being run.
void OpenModal(std::wstring title, std::vector<ModalField> fields, std::wstring okLabel, ModalCallback callback);
// Closes an open form; with accept, runs its callback with the fields (which stay in the form
// until the next OpenModal). Nothing when no form is open.
void CloseModal(bool accept);
// A one-field form ("SAVE") editing a text setting: on accept the value (only its digits 0-9
// with digitsOnly) is written to *value and the settings are saved. value must outlive the form.
void EditField(std::wstring label, std::wstring* value, bool masked, bool digitsOnly);

// ---- the question box -----------------------------------------------------------------------

inline constexpr int32_t kPromptYesId = 3220;
inline constexpr int32_t kPromptNoId = 3221;

struct ConfirmPrompt {
  bool pending = false;
  std::wstring title, body, yesLabel, noLabel;  // no button when noLabel is empty
  std::wstring icon;     // "↓", "✓", "!" draw built-in glyphs, other text is drawn, empty none
  uint32_t accent = 0;   // 0xRRGGBB; 0 = deck A's colour
  std::function<void()> yesAction, noAction;
  bool escapeCancels = false;  // Esc closes the question with neither action (set after showing it)
};
extern ConfirmPrompt Prompt;

// Raises the question, replacing a pending one (whose actions are destroyed unrun).
void ShowConfirmPrompt(std::wstring title, std::wstring body, std::wstring yesLabel, std::wstring noLabel,
                       std::function<void()> yesAction, std::function<void()> noAction, std::wstring icon = L"",
                       uint32_t accent = 0);
// Answers a pending question: it is cleared first and the chosen action runs last, so the action
// may raise the next question or open a form. Nothing when no question is pending.
void AnswerConfirmPrompt(bool yes);

// ---- keys and text entry --------------------------------------------------------------------

// A key went down (virtual-key code). With a question pending, Enter (not a repeat) answers yes
// and Esc answers no (yes without a no button; neither with escapeCancels); every key is then
// taken: true means the key handler stops here.
bool PromptKeyDown(int virtualKey, bool repeat);
// With a form open, Tab and Shift+Tab move the focus through the fields (wrapping), the editing
// keys of ui/text_field act on the focused field, and every key is taken: true means the key
// handler stops here.
bool ModalKeyDown(int virtualKey, bool shift);
// A typed character. With a form open: Esc cancels, Enter accepts (at once), Tab is ignored and
// other characters edit the focused field. While a question is pending characters are dropped,
// and the Enter or Esc that answered it is not typed again into a form. True when taken.
bool ModalCharacter(wchar_t character);

// ---- drawing (the frame routine) ------------------------------------------------------------

// Dims the whole frame, hides the glows queued so far and draws an empty w x h panel, centred
// (never above y = 12); returns the panel. Used by every full-screen overlay.
Rc DrawModalBackdrop(float w, float h);
// The open form and the pending question; nothing when closed. The At forms take the clock in
// milliseconds (caret blink, glow pulse).
void DrawModal();
void DrawModalAt(uint64_t nowMs);
void DrawAsk();
void DrawAskAt(uint64_t nowMs);
// Word wrap at single spaces into lines no wider than limit (text size `size`, normal weight,
// "Segoe UI"); line feeds start new lines; a word wider than the limit keeps a line of its own.
std::vector<std::wstring> WrapText(std::wstring_view text, float size, float limit);
// A hint translated and drawn left-aligned in "Segoe UI": on one line in r at `size` when it fits
// r's width, else wrapped at wrappedSize onto at most maxLines lines lineDip apart from r's top.
void DrawWrappingHint(std::wstring_view text, Rc r, float size, float wrappedSize, float lineDip, int maxLines,
                      Color color);
