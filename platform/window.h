#pragma once
// The main window in the terms the shell works in: one window with a caption and a minimum size,
// numbered timers, input turned into window events (mouse in client pixels, keys as Windows
// virtual-key codes, typed characters, file drops), invalidation and paint, wake-ups of the loop
// from other threads, message boxes and keep-awake. UI thread unless a function says otherwise.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/draw_surface.h"

// The density a UI scale of 1 stands for.
inline constexpr float kBaseDpi = 96.0f;

// Virtual-key codes the shell itself looks at (the key table below maps every key).
namespace Vk {
inline constexpr int Back = 0x08, Tab = 0x09, Return = 0x0D, Escape = 0x1B;
inline constexpr int F4 = 0x73, F10 = 0x79;
inline constexpr int Oem2 = 0xBF;  // "/" and "?" on US keyboards
}  // namespace Vk

enum class WindowEventKind {
  None,         // the wait ended without anything happening
  Paint,        // the window was invalid and nothing else was queued; it counts as valid again
  Close,        // the user asked to close the window
  SessionEnd,   // the desktop session is ending
  Resized,      // width, height: the new client size in pixels
  DpiChanged,   // dpi: the window moved to a display of another density
  Timer,        // timerId
  MouseMove,    // x, y
  LeftDown,     // x, y, doubleClick
  LeftUp,       // x, y
  RightDown,    // x, y
  CaptureLost,  // the window lost the pointer (a held button no longer reports its release)
  Wheel,        // wheel
  KeyDown,      // key, repeat, alt, ctrl, shift, symbol
  KeyUp,        // key
  Character,    // character: one typed character; Backspace, Tab, Enter, Esc and Ctrl+letter
                // give their control codes (8, 9, 13, 27, 1-26)
  DropFile,     // path: the first file of one drop; x, y: where it was dropped
  Notice,       // notice: a wake-up posted by another thread
};

enum class WindowNotice {
  UiPosts,       // worker results wait in the UI post queue
  HandOff,       // a second start's message waits
  DeviceChange,  // devices came or went
};

struct WindowEvent {
  WindowEventKind kind = WindowEventKind::None;
  float x = 0.0f, y = 0.0f;   // client pixels, signed
  bool doubleClick = false;
  float wheel = 0.0f;         // notches, positive away from the user
  int key = 0;                // virtual-key code
  bool repeat = false, alt = false, ctrl = false;
  bool shift = false;         // a Shift key was down when the key, mouse or window event happened
  wchar_t symbol = 0;         // the key's unshifted character, 0 for keys without one
  wchar_t character = 0;
  std::wstring path;
  int timerId = 0;
  int width = 0, height = 0;
  float dpi = kBaseDpi;
  WindowNotice notice = WindowNotice::UiPosts;
};

struct PixelRect {
  int x = 0, y = 0, w = 0, h = 0;
};

enum class MessageBoxIcon { Info, Warning, Error };

// --- Start and end ---

// Connects to the display. False with *error when there is none or it cannot be used.
bool StartWindowing(std::wstring* error);
// Closes the window when open, stops the timers and disconnects. After the loop has ended.
void StopWindowing();
// When the connection to the display breaks for good, `saveWork` runs on the thread that noticed
// (the UI thread) and the process then ends with exit code 1. `saveWork` must not touch a window.
// Without it the display library would end the process through exit(), tearing down objects
// that running threads still use. After StartWindowing; on displays other than X11, nothing.
void OnDisplayLost(void (*saveWork)());
// What a broken connection runs, on whichever thread noticed it: the first runs `saveWork` and
// ends the process with 1; another thread waits for that (20 s at most) rather than ending the
// process halfway through the save. Never returns.
[[noreturn]] void DisplayConnectionBroken();
// A modal message box with one OK button; blocks until dismissed. Works before StartWindowing;
// without any display the text goes to standard error.
void ShowMessageBox(const std::wstring& caption, const std::wstring& text, MessageBoxIcon icon);

// --- The window ---

// Creates the main window hidden, resizable, at the size in pixels. False when that fails.
bool OpenMainWindow(const std::wstring& title, int width, int height);
// Destroys the window; events that refer to it stop.
void CloseMainWindow();
bool MainWindowOpen();
void SetWindowCaption(const std::wstring& text);
// The usable area (without panels) of the display that holds most of the window.
PixelRect WindowWorkArea();
// The density of the window's display, rounded to the 25 % steps Windows offers; kBaseDpi
// when the display does not say.
float WindowDpi();
// A display's density rounded as WindowDpi rounds it; kBaseDpi for a value that is not positive.
float RoundedDpi(float dpi);
void PlaceWindow(const PixelRect& rect);
// The minimum client size; never more than the work area leaves once the window manager's frame
// is around the window (the frame is known from ShowMainWindow on).
void SetWindowMinimumSize(int width, int height);
// Shows the window, maximised or at its size shrunk to fit the work area with its frame.
void ShowMainWindow(bool maximised);
// Restores a minimised window and brings it to the front.
void RestoreAndRaiseWindow();
bool WindowMinimised();
void WindowClientSize(int* width, int* height);
// Lets file drops through (true) or not.
void AcceptFileDrops(bool on);
// Fills the whole client area with one 0xRRGGBB colour and shows it.
void PresentSolidFrame(uint32_t rgb);
// Shows a finished frame (premultiplied ARGB words) in the window, or only its pixels in
// `changed` (the rest is as the window shows it); false when it could not be shown.
bool PresentFrameImage(const PixelView& image, const PixelBox& changed);

// --- Timers ---

// Starts or restarts timer `id` (any number above 0): a Timer event every periodMs until killed.
// A timer never queues a second event while its last one waits.
void SetWindowTimer(int id, unsigned periodMs);
void KillWindowTimer(int id);

// --- The loop ---

// Asks for a Paint event once nothing else is queued.
void InvalidateWindow();
// The next event; waits at most maxWaitMs, then gives kind None. False once PostQuit ran.
bool NextWindowEvent(WindowEvent* event, unsigned maxWaitMs);
// Ends the loop: NextWindowEvent gives false from now on; QuitCode() is exitCode.
void PostQuit(int exitCode);
int QuitCode();
// Wakes the loop with a Notice event; notices of one kind that wait are merged. Any thread;
// nothing before StartWindowing or after StopWindowing.
void PostWindowNotice(WindowNotice notice);

// --- Keep awake ---

// True keeps the system and the display awake; false lets them sleep again.
void KeepAwake(bool on);

// --- Keyboard ---

// Key codes come from platform/keymap.h (VirtualKeyFor), the one key table.

// The clipboard's text; false when it holds none.
bool ReadClipboardText(std::wstring* text);
// Puts the text on the clipboard; false when the system refused it.
bool WriteClipboardText(const std::wstring& text);
