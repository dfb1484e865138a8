#pragma once
// Popup-menu windows: borderless top-most windows that never take the focus from the program's
// window, and the input the menu takes while it is open. The menu's events are set aside from the
// main window's: they are read with NextMenuEvent inside the main loop's frames, so the program
// keeps drawing while a menu is open. UI thread only, except where a contract says otherwise.
#include <cstdint>

#include "platform/draw_surface.h"
#include "platform/window.h"

// One open menu window; opaque outside platform/.
struct MenuWindow;

enum class MenuEventKind {
  MouseMove,     // x, y: window pixels
  LeftUp,        // x, y
  MouseLeave,    // the pointer left the window
  Exposed,       // the window must be shown again
  Key,           // key: a key went down (autorepeats too), as a Windows virtual-key code
  PressOutside,  // a mouse button went down outside every menu window
  Wheel,         // y: wheel steps over the window, positive away from the user (scroll up)
};

struct MenuEvent {
  MenuEventKind kind = MenuEventKind::MouseMove;
  MenuWindow* window = nullptr;  // null for Key and PressOutside
  float x = 0.0f, y = 0.0f;
  int key = 0;
};

// --- Windows ---

// Creates a menu window over the screen rectangle and shows it above every other window without
// activating it: the window that had the keyboard keeps it. Null when it cannot be made.
MenuWindow* OpenMenuWindow(const PixelRect& rect);
// Destroys the window; its waiting events are dropped. Nothing for null.
void CloseMenuWindow(MenuWindow* window);
// The window's rectangle on the screen, as opened.
PixelRect MenuWindowRect(const MenuWindow* window);
// Shows the pixels (premultiplied ARGB) in the window, from its top-left corner; what lies
// outside either is left out.
void PresentMenuWindow(MenuWindow* window, const PixelView& pixels);

// --- Input while a menu is open ---

// On: the program's keys and typed characters, button presses outside the menu windows (with
// their releases), right and middle releases and wheel turns outside them go to the menu queue or
// are dropped instead of reaching the windows; pointer motion and left releases elsewhere still
// pass. Off: all input goes to the windows again. Events the menu windows get are queued either way.
void CaptureInputForMenus(bool on);
// The next waiting menu event, oldest first; false when none waits. Events of a window closed
// meanwhile are skipped.
bool NextMenuEvent(MenuEvent* event);
// Puts an event at the back of the menu queue, as the windows do. Any thread.
void PostMenuEvent(const MenuEvent& event);

// --- The desktop ---

// The pointer on the screen; false when there is no display.
bool PointerScreenPosition(int* x, int* y);
// True while one of the program's windows has the keyboard focus.
bool ProgramHasFocus();
