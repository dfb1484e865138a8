#include "platform/screen_placement.h"

#include <algorithm>

int PickSecondMonitor(const std::vector<MonitorInfo>& monitors, int own) {
  for (size_t i = 0; i < monitors.size(); ++i)
    if (static_cast<int>(i) != own) return static_cast<int>(i);
  return -1;
}

bool SecondMonitorRect(TopWindow* window, PixelRect* out) {
  const std::vector<MonitorInfo> monitors = ListMonitors();
  PixelRect rect;
  int own = monitors.empty() ? -1 : 0;
  if (window && TopWindowRect(window, &rect)) own = MonitorNearestRect(monitors, rect);
  const int other = PickSecondMonitor(monitors, own);
  if (other >= 0) {
    *out = monitors[other].workArea;
    return true;
  }
  *out = own >= 0 ? monitors[own].workArea : kFallbackScreenRect;
  return false;
}

void SetFullScreen(TopWindow* window, bool on, WindowPlacement* saved) {
  if (!window || !saved) return;
  if (!on) {
    if (saved->valid && saved->byDesktop) {
      SetTopWindowDesktopFullScreen(window, false);
      if (saved->maximised) MaximiseTopWindow(window);
      return;
    }
    SetTopWindowBordered(window, !saved->valid || saved->bordered);
    if (!saved->valid) return;
    SetTopWindowMinimumSize(window, saved->minWidth, saved->minHeight);
    PlaceTopWindow(window, saved->normal);
    if (saved->maximised) MaximiseTopWindow(window);
    return;
  }
  PixelRect now;
  const bool placed = TopWindowRect(window, &now);
  WindowPlacement placement;
  placement.maximised = TopWindowMaximised(window);
  placement.bordered = TopWindowBordered(window);
  if (DesktopManagesWindows(window)) {
    // The manager keeps the normal size of a maximised window and gives it back itself.
    placement.byDesktop = true;
    placement.normal = now;
    placement.valid = placed;
    *saved = placement;
    SetTopWindowDesktopFullScreen(window, true);
    return;
  }
  const std::vector<MonitorInfo> monitors = ListMonitors();
  const int monitor = placed ? MonitorNearestRect(monitors, now) : -1;
  // The size to come back to is the normal one, which a maximised window shows only once restored.
  if (placement.maximised) RestoreTopWindow(window);
  if (!TopWindowRect(window, &placement.normal)) placement.normal = now;
  placement.valid = placement.normal.w > 0 && placement.normal.h > 0;
  TopWindowMinimumSize(window, &placement.minWidth, &placement.minHeight);
  *saved = placement;
  if (monitor < 0) return;
  SetTopWindowBordered(window, false);
  // A monitor smaller than the window's minimum would otherwise leave the window sticking out of it.
  const PixelRect& bounds = monitors[monitor].bounds;
  SetTopWindowMinimumSize(window, std::min(placement.minWidth, bounds.w), std::min(placement.minHeight, bounds.h));
  PlaceTopWindow(window, bounds);
  RaiseTopWindow(window);
}
