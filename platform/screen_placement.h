#pragma once
// Borderless full screen and second-monitor placement of any top-level window of the program: the
// main window (F11) and the second-screen windows (karaoke screen, video output, visualiser), which
// open on another monitor than the main window's when there is one. UI thread only.
#include "platform/monitors.h"

// Where a window was before it went full screen; the caller keeps one per window between the
// two SetFullScreen calls.
struct WindowPlacement {
  bool valid = false;      // filled by a switch to full screen
  PixelRect normal;        // the client area when neither maximised nor full screen (screen pixels)
  bool maximised = false;
  bool bordered = true;    // had a caption and frame
  bool byDesktop = false;  // the window manager's own full screen was used
  int minWidth = 0, minHeight = 0;  // the window's minimum size, lowered to fit the monitor meanwhile
};

// The fixed rectangle a second-screen window falls back to when no monitor can be read.
inline constexpr PixelRect kFallbackScreenRect{100, 100, 960, 540};

// --- Second monitor ---

// Index into `monitors` of the first monitor in their order that is not `own`; -1 when there is
// none (one monitor, or an empty list).
int PickSecondMonitor(const std::vector<MonitorInfo>& monitors, int own);
// The work area of a monitor other than the window's (true); else the work area of the window's
// own monitor (false); when no monitor can be read, kFallbackScreenRect (false). A null window
// counts as lying on the first monitor.
bool SecondMonitorRect(TopWindow* window, PixelRect* out);

// --- Full screen ---

// On: saves the window's placement into *saved, takes away caption and frame and covers the whole
// rectangle (not the work area) of the monitor the window is on, raised; a minimum size larger
// than that monitor is lowered to it meanwhile. Off: puts caption, frame and minimum size back and
// restores the saved size, position and maximised state. Off without a valid saved
// placement only puts the frame back. Nothing for a null window. Under a window manager the
// manager's own full screen does this (it alone knows its frames); without one it is done here.
void SetFullScreen(TopWindow* window, bool on, WindowPlacement* saved);
