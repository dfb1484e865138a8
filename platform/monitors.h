#pragma once
// The monitors of the desktop and what the full-screen code does to a top-level window: its
// monitor, its client rectangle, its frame and its maximised state. Rectangles are screen pixels
// on the virtual desktop. UI thread only.
#include <vector>

#include "platform/window.h"

// A top-level window of the program as the platform made it; opaque outside platform/.
struct TopWindow;

struct MonitorInfo {
  PixelRect bounds;    // the whole monitor
  PixelRect workArea;  // without panels and task bars; the bounds when the desktop does not say
};

// --- Monitors ---

// The monitors in the desktop's own order; empty without a display connection.
std::vector<MonitorInfo> ListMonitors();
// Index of the monitor that holds most of the rectangle, else of the one nearest to its centre;
// -1 for an empty list.
int MonitorNearestRect(const std::vector<MonitorInfo>& monitors, const PixelRect& rect);
// Index of the monitor that holds the point, else of the nearest one; -1 for an empty list.
int MonitorNearestPoint(const std::vector<MonitorInfo>& monitors, int x, int y);

// --- Windows ---

// The main window; null while it is not open.
TopWindow* MainTopWindow();
// The window's client rectangle on the screen; false (and *out untouched) when it cannot be read.
bool TopWindowRect(TopWindow* window, PixelRect* out);
// Moves and sizes the client area to the rectangle.
void PlaceTopWindow(TopWindow* window, const PixelRect& rect);
bool TopWindowMaximised(TopWindow* window);
void MaximiseTopWindow(TopWindow* window);
// Back from maximised to the normal size the desktop remembers.
void RestoreTopWindow(TopWindow* window);
bool TopWindowBordered(TopWindow* window);
// Caption and frame on (true) or off.
void SetTopWindowBordered(TopWindow* window, bool on);
// To the top of the stacking order.
void RaiseTopWindow(TopWindow* window);
// The smallest client size the window may be given; 0 x 0 when it has none or cannot be read.
void TopWindowMinimumSize(TopWindow* window, int* width, int* height);
// Sets that smallest size (both at least 1); a window below it grows to it.
void SetTopWindowMinimumSize(TopWindow* window, int width, int height);

// --- Full screen through the desktop ---

// True when a window manager or compositor manages the window: it then keeps the frame, the
// stacking and the place of each window itself.
bool DesktopManagesWindows(TopWindow* window);
// Asks the desktop to show the window over the whole monitor it is on (on), or to give it back its
// earlier size and place (off).
void SetTopWindowDesktopFullScreen(TopWindow* window, bool on);
