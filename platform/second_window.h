#pragma once
// Second-screen windows (karaoke screen, video output, visualiser): ordinary top-level windows in
// the one UI loop, each with its own frame timer, drawing callback and input handler. Their input
// is set aside from the main window's, as the menu windows' is: the main loop hands it to the
// window's handler through PumpSecondWindows, and the main window never sees it. UI thread only.
#include <string>

#include "platform/draw_surface.h"
#include "platform/monitors.h"
#include "platform/window.h"

// One open second-screen window; opaque outside platform/.
struct SecondWindow;

enum class SecondWindowEventKind {
  Timer,      // the window's timer ticked (a paint follows)
  Close,      // the user asked to close the window (its close button or the desktop)
  Resized,    // width, height: the new client size in pixels
  KeyDown,    // key (Windows virtual-key code), repeat, alt, ctrl, shift
  KeyUp,      // key
  LeftDown,   // x, y, doubleClick
  LeftUp,     // x, y
  RightDown,  // x, y
  MouseMove,  // x, y
  Wheel,      // wheel: notches, positive away from the user
};

struct SecondWindowEvent {
  SecondWindowEventKind kind = SecondWindowEventKind::Timer;
  float x = 0.0f, y = 0.0f;  // client pixels
  bool doubleClick = false;
  float wheel = 0.0f;
  int key = 0;
  bool repeat = false, alt = false, ctrl = false, shift = false;
  int width = 0, height = 0;
};

// What a window's owner does for it. Every callback runs on the UI thread from PumpSecondWindows
// (draw and event) or from CloseSecondWindow (closed); event may close the window it is called for.
struct SecondWindowClient {
  void* user = nullptr;
  // Draws one frame over the whole target: pixelWidth() x pixelHeight() pixels, which are that
  // size / dipScale() in DIPs. The target keeps the last frame's pixels; it is not cleared.
  void (*draw)(void* user, DrawSurface& target) = nullptr;
  // One input or window event. Optional.
  void (*event)(void* user, SecondWindow* window, const SecondWindowEvent& e) = nullptr;
  // The window is going away (whoever closed it): the owner forgets its handle. Optional.
  void (*closed)(void* user) = nullptr;
};

// --- Windows ---

// Creates a resizable, framed window with the title (UTF-8 on the desktop) whose client area is
// `rect` on the screen, shows it and starts its timer (a Timer event and a paint every timerMs,
// 0 for none). The window that had the keyboard keeps it. Null when it cannot be made (no display).
SecondWindow* OpenSecondWindow(const std::wstring& title, const PixelRect& rect, unsigned timerMs,
                               const SecondWindowClient& client);
// Stops the timer, calls the client's closed, destroys the window and drops its waiting events.
// Nothing for null or a window already closed.
void CloseSecondWindow(SecondWindow* window);
// Closes every second-screen window (the main window is going away).
void CloseAllSecondWindows();
// The window as the placement and full-screen code sees it (platform/screen_placement.h).
TopWindow* SecondTopWindow(SecondWindow* window);
// The client size in pixels (0 x 0 for null).
void SecondWindowClientSize(SecondWindow* window, int* width, int* height);
// The density of the window's display, rounded as WindowDpi rounds it.
float SecondWindowDpi(SecondWindow* window);
// Asks for a paint at the next pump.
void InvalidateSecondWindow(SecondWindow* window);
// On: the mouse cursor is hidden while it is over this window (and only there). Off: shown.
void SetSecondWindowCursorHidden(SecondWindow* window, bool hidden);
// Gives the keyboard focus back to the window that had it when this one opened (the main window),
// without raising it: the second window stays in sight.
void ReturnFocusFromSecondWindow(SecondWindow* window);
// True while the window exists.
bool SecondWindowOpen(const SecondWindow* window);
// Draws the window and shows the frame at once, without waiting for the next pump. True when the
// frame reached the window; false for null or a closed window, or when the drawing closed it.
bool RedrawSecondWindowNow(SecondWindow* window);
// Has the window's client draw one frame into `target` instead of its own surface (a
// screenshot); the window's shown frame is left alone. False for null, a closed window or one
// without a draw callback, or when the drawing closed the window.
bool PaintSecondWindowInto(SecondWindow* window, DrawSurface& target);

// --- The loop ---

// Hands every waiting event to its window's handler, then draws and shows each window that is due
// a paint. Called by the main loop after each of its own events; returns at once when none waits.
void PumpSecondWindows();
