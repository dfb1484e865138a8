#include "platform/monitors.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/extensions/Xinerama.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>

namespace {

// Window ids are handed out in creation order from 1; the main window is made before any other
// top-level window, so it is the first normal one found. Past this many ids there is none.
constexpr Uint32 kMaxWindowIdScan = 4096;
constexpr Uint32 kNotTopLevel = SDL_WINDOW_POPUP_MENU | SDL_WINDOW_TOOLTIP | SDL_WINDOW_UTILITY;

SDL_Window* SdlOf(TopWindow* window) { return reinterpret_cast<SDL_Window*>(window); }

int64_t OverlapArea(const PixelRect& a, const PixelRect& b) {
  const int64_t w = std::min<int64_t>(int64_t{a.x} + a.w, int64_t{b.x} + b.w) - std::max(a.x, b.x);
  const int64_t h = std::min<int64_t>(int64_t{a.y} + a.h, int64_t{b.y} + b.h) - std::max(a.y, b.y);
  return w > 0 && h > 0 ? w * h : 0;
}

// Squared distance from the point to the nearest point of the rectangle (0 inside).
int64_t DistanceSquared(const PixelRect& r, int64_t x, int64_t y) {
  const int64_t dx = x < r.x ? r.x - x : (x >= int64_t{r.x} + r.w ? x - (int64_t{r.x} + r.w - 1) : 0);
  const int64_t dy = y < r.y ? r.y - y : (y >= int64_t{r.y} + r.h ? y - (int64_t{r.y} + r.h - 1) : 0);
  return dx * dx + dy * dy;
}

// Squared distance between the centres (doubled coordinates keep it whole).
int64_t CentreDistanceSquared(const PixelRect& a, const PixelRect& b) {
  const int64_t dx = (2 * int64_t{a.x} + a.w) - (2 * int64_t{b.x} + b.w);
  const int64_t dy = (2 * int64_t{a.y} + a.h) - (2 * int64_t{b.y} + b.h);
  return dx * dx + dy * dy;
}

PixelRect RectOf(const SDL_Rect& r) { return {r.x, r.y, r.w, r.h}; }

std::vector<MonitorInfo> SdlDisplays() {
  std::vector<MonitorInfo> monitors;
  const int count = SDL_GetNumVideoDisplays();
  for (int i = 0; i < count; ++i) {
    SDL_Rect bounds{}, usable{};
    if (SDL_GetDisplayBounds(i, &bounds) != 0) continue;
    if (SDL_GetDisplayUsableBounds(i, &usable) != 0) usable = bounds;
    monitors.push_back({RectOf(bounds), RectOf(usable)});
  }
  return monitors;
}

// The few Xlib calls made here, loaded at run time: SDL loads Xlib itself and the program is not
// linked against it; a system without these libraries still starts, with SDL's monitors only.
struct XCalls {
  bool ok = false;
  int (*xfree)(void*) = nullptr;
  Atom (*internAtom)(Display*, const char*, Bool) = nullptr;
  Window (*defaultRoot)(Display*) = nullptr;
  int (*getProperty)(Display*, Window, Atom, long, long, Bool, Atom, Atom*, int*, unsigned long*, unsigned long*,
                     unsigned char**) = nullptr;
  Display* (*openDisplay)(const char*) = nullptr;
  Bool (*xineramaActive)(Display*) = nullptr;
  XineramaScreenInfo* (*xineramaScreens)(Display*, int*) = nullptr;
};

const XCalls& X() {
  static const XCalls calls = [] {
    XCalls c;
    void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!xlib) return c;
    c.xfree = reinterpret_cast<decltype(c.xfree)>(dlsym(xlib, "XFree"));
    c.internAtom = reinterpret_cast<decltype(c.internAtom)>(dlsym(xlib, "XInternAtom"));
    c.defaultRoot = reinterpret_cast<decltype(c.defaultRoot)>(dlsym(xlib, "XDefaultRootWindow"));
    c.getProperty = reinterpret_cast<decltype(c.getProperty)>(dlsym(xlib, "XGetWindowProperty"));
    c.openDisplay = reinterpret_cast<decltype(c.openDisplay)>(dlsym(xlib, "XOpenDisplay"));
    c.ok = c.xfree && c.internAtom && c.defaultRoot && c.getProperty;
    if (void* xinerama = dlopen("libXinerama.so.1", RTLD_NOW | RTLD_LOCAL)) {
      c.xineramaActive = reinterpret_cast<decltype(c.xineramaActive)>(dlsym(xinerama, "XineramaIsActive"));
      c.xineramaScreens = reinterpret_cast<decltype(c.xineramaScreens)>(dlsym(xinerama, "XineramaQueryScreens"));
    }
    return c;
  }();
  return calls;
}

// The X display of the program's windows; null on other video drivers or without a window.
Display* XDisplayOf(TopWindow* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!window || SDL_GetWindowWMInfo(SdlOf(window), &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11)
    return nullptr;
  return info.info.x11.display;
}

// The window that _NET_SUPPORTING_WM_CHECK on `owner` names; 0 when there is none.
Window WmCheckWindow(Display* display, Window owner, Atom check) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  Window found = 0;
  if (X().getProperty(display, owner, check, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data) ==
          Success &&
      data && type == XA_WINDOW && format == 32 && count == 1)
    found = *reinterpret_cast<Window*>(data);
  if (data) X().xfree(data);
  return found;
}

// A connection of our own to SDL's X display, for a program with no window yet (a second-screen
// window must know the heads before it is made); opened once and kept.
Display* OwnXDisplay() {
  static Display* display = nullptr;
  static bool tried = false;
  const char* driver = SDL_GetCurrentVideoDriver();
  if (tried || !driver || std::string_view(driver) != "x11" || !X().openDisplay) return display;
  tried = true;
  display = X().openDisplay(nullptr);
  return display;
}

// SDL reads monitors through RandR only, which does not see the heads of a multi-screen server
// joined by Xinerama; the Xinerama list has them, in the server's order.
std::vector<PixelRect> XineramaHeads() {
  std::vector<PixelRect> heads;
  Display* display = XDisplayOf(MainTopWindow());
  if (!display) display = OwnXDisplay();
  const XCalls& x = X();
  if (!display || !x.ok || !x.xineramaActive || !x.xineramaScreens || !x.xineramaActive(display)) return heads;
  int count = 0;
  XineramaScreenInfo* list = x.xineramaScreens(display, &count);
  if (!list) return heads;
  for (int i = 0; i < count; ++i) {
    if (list[i].width > 0 && list[i].height > 0) heads.push_back({list[i].x_org, list[i].y_org, list[i].width, list[i].height});
  }
  x.xfree(list);
  return heads;
}

}  // namespace

// --- Monitors ---

std::vector<MonitorInfo> ListMonitors() {
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return {};
  std::vector<MonitorInfo> displays = SdlDisplays();
  const std::vector<PixelRect> heads = XineramaHeads();
  if (heads.size() <= displays.size()) return displays;
  std::vector<MonitorInfo> monitors;
  for (const PixelRect& head : heads) {
    MonitorInfo m{head, head};
    // A head that SDL also knows keeps the work area SDL read for it.
    for (const MonitorInfo& d : displays) {
      if (d.bounds.x == head.x && d.bounds.y == head.y && d.bounds.w == head.w && d.bounds.h == head.h)
        m.workArea = d.workArea;
    }
    monitors.push_back(m);
  }
  return monitors;
}

int MonitorNearestRect(const std::vector<MonitorInfo>& monitors, const PixelRect& rect) {
  int best = -1;
  int64_t bestArea = 0, bestCentre = std::numeric_limits<int64_t>::max();
  for (size_t i = 0; i < monitors.size(); ++i) {
    const int64_t area = OverlapArea(monitors[i].bounds, rect);
    const int64_t centre = CentreDistanceSquared(monitors[i].bounds, rect);
    // Most overlap first; between equal overlaps (heads that lie on each other) the closer centre.
    if (best < 0 || area > bestArea || (area == bestArea && centre < bestCentre)) {
      best = static_cast<int>(i);
      bestArea = area;
      bestCentre = centre;
    }
  }
  if (best >= 0 && bestArea == 0) {
    const int64_t cx = rect.x + rect.w / 2, cy = rect.y + rect.h / 2;
    int64_t nearest = std::numeric_limits<int64_t>::max();
    for (size_t i = 0; i < monitors.size(); ++i) {
      const int64_t d = DistanceSquared(monitors[i].bounds, cx, cy);
      if (d < nearest) {
        nearest = d;
        best = static_cast<int>(i);
      }
    }
  }
  return best;
}

int MonitorNearestPoint(const std::vector<MonitorInfo>& monitors, int x, int y) {
  int best = -1;
  int64_t nearest = std::numeric_limits<int64_t>::max();
  for (size_t i = 0; i < monitors.size(); ++i) {
    const int64_t d = DistanceSquared(monitors[i].bounds, x, y);
    if (d < nearest) {
      nearest = d;
      best = static_cast<int>(i);
    }
  }
  return best;
}

// --- Windows ---

TopWindow* MainTopWindow() {
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return nullptr;
  for (Uint32 id = 1; id <= kMaxWindowIdScan; ++id) {
    SDL_Window* w = SDL_GetWindowFromID(id);
    if (w && (SDL_GetWindowFlags(w) & kNotTopLevel) == 0) return reinterpret_cast<TopWindow*>(w);
  }
  return nullptr;
}

bool TopWindowRect(TopWindow* window, PixelRect* out) {
  if (!window || !out) return false;
  PixelRect r;
  SDL_GetWindowPosition(SdlOf(window), &r.x, &r.y);
  SDL_GetWindowSize(SdlOf(window), &r.w, &r.h);
  if (r.w < 1 || r.h < 1) return false;
  *out = r;
  return true;
}

void PlaceTopWindow(TopWindow* window, const PixelRect& rect) {
  if (!window || rect.w < 1 || rect.h < 1) return;
  SDL_SetWindowSize(SdlOf(window), rect.w, rect.h);
  SDL_SetWindowPosition(SdlOf(window), rect.x, rect.y);
}

bool TopWindowMaximised(TopWindow* window) {
  return window && (SDL_GetWindowFlags(SdlOf(window)) & SDL_WINDOW_MAXIMIZED) != 0;
}

void MaximiseTopWindow(TopWindow* window) {
  if (window) SDL_MaximizeWindow(SdlOf(window));
}

void RestoreTopWindow(TopWindow* window) {
  if (window) SDL_RestoreWindow(SdlOf(window));
}

bool TopWindowBordered(TopWindow* window) {
  return window && (SDL_GetWindowFlags(SdlOf(window)) & SDL_WINDOW_BORDERLESS) == 0;
}

void SetTopWindowBordered(TopWindow* window, bool on) {
  if (window) SDL_SetWindowBordered(SdlOf(window), on ? SDL_TRUE : SDL_FALSE);
}

void RaiseTopWindow(TopWindow* window) {
  if (window) SDL_RaiseWindow(SdlOf(window));
}

void TopWindowMinimumSize(TopWindow* window, int* width, int* height) {
  *width = *height = 0;
  if (window) SDL_GetWindowMinimumSize(SdlOf(window), width, height);
}

void SetTopWindowMinimumSize(TopWindow* window, int width, int height) {
  if (window && width >= 1 && height >= 1) SDL_SetWindowMinimumSize(SdlOf(window), width, height);
}

bool DesktopManagesWindows(TopWindow* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!window || SDL_GetWindowWMInfo(SdlOf(window), &info) != SDL_TRUE) return false;
  if (info.subsystem != SDL_SYSWM_X11) return info.subsystem != SDL_SYSWM_UNKNOWN;
  // A window manager names its check window on the root, and the check window names itself.
  Display* display = info.info.x11.display;
  const XCalls& x = X();
  if (!display || !x.ok) return false;
  const Atom check = x.internAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  const Window wm = WmCheckWindow(display, x.defaultRoot(display), check);
  return wm != 0 && WmCheckWindow(display, wm, check) == wm;
}

void SetTopWindowDesktopFullScreen(TopWindow* window, bool on) {
  if (window) SDL_SetWindowFullscreen(SdlOf(window), on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
}
