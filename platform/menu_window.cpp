#include "platform/menu_window.h"

#include "platform/keymap.h"

#include <SDL.h>

#include "platform/sdl_events.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <vector>

struct MenuWindow {
  Uint32 id = 0;
  PixelRect rect;
};

namespace {

// The event watch runs on whichever thread pushes an event (timers and wake-ups push from their
// own threads), so everything it reads is behind this lock.
std::mutex g_lock;
std::vector<MenuWindow*> g_windows;
std::deque<MenuEvent> g_queue;
bool g_capture = false;
Uint32 g_swallowedButtons = 0;  // bit per SDL button whose press the menu took: its release goes too
Uint32 g_takenEvent = 0;  // the type a taken event is turned into: no window reads it

Uint32 ButtonBit(Uint8 button) { return button < 32 ? (1u << button) : 0u; }

MenuWindow* FindLocked(Uint32 id) {
  if (id == 0) return nullptr;
  for (MenuWindow* w : g_windows)
    if (w->id == id) return w;
  return nullptr;
}

bool KnownLocked(const MenuWindow* window) {
  return std::find(g_windows.begin(), g_windows.end(), window) != g_windows.end();
}


MenuEvent PointerEvent(MenuEventKind kind, MenuWindow* window, int x, int y) {
  MenuEvent m;
  m.kind = kind;
  m.window = window;
  m.x = static_cast<float>(x);
  m.y = static_cast<float>(y);
  return m;
}

// An event addressed to a menu window: what the menu looks at is queued, the rest dropped.
void TakeMenuWindowEvent(MenuWindow* window, const SDL_Event& e) {
  switch (e.type) {
    case SDL_MOUSEMOTION:
      g_queue.push_back(PointerEvent(MenuEventKind::MouseMove, window, e.motion.x, e.motion.y));
      break;
    case SDL_MOUSEBUTTONUP:
      // Items are chosen on the release of the left button.
      if (e.button.button == SDL_BUTTON_LEFT)
        g_queue.push_back(PointerEvent(MenuEventKind::LeftUp, window, e.button.x, e.button.y));
      break;
    case SDL_MOUSEWHEEL: {
      MenuEvent m = PointerEvent(MenuEventKind::Wheel, window, 0, 0);
      const int steps = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
      m.y = static_cast<float>(steps);
      if (steps != 0) g_queue.push_back(m);
      break;
    }
    case SDL_WINDOWEVENT:
      if (e.window.event == SDL_WINDOWEVENT_LEAVE)
        g_queue.push_back(PointerEvent(MenuEventKind::MouseLeave, window, 0, 0));
      else if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SHOWN)
        g_queue.push_back(PointerEvent(MenuEventKind::Exposed, window, 0, 0));
      break;
    default:
      break;
  }
}

// True for an event the menu takes (queued for it, or only kept from the windows).
bool TakeLocked(const SDL_Event& e) {
  switch (e.type) {
    case SDL_KEYDOWN:
      if (!g_capture) break;
      if (const int vk = VirtualKeyFor(e.key.keysym.sym, e.key.keysym.scancode)) {
        MenuEvent m;
        m.kind = MenuEventKind::Key;
        m.key = vk;
        g_queue.push_back(m);
      }
      return true;
    case SDL_KEYUP:
    case SDL_TEXTINPUT:
    case SDL_TEXTEDITING:
      if (g_capture) return true;
      break;
    default:
      break;
  }
  if (MenuWindow* window = FindLocked(SdlEventWindowId(e))) {
    TakeMenuWindowEvent(window, e);
    return true;
  }
  switch (e.type) {
    case SDL_MOUSEBUTTONDOWN:
      if (!g_capture) {
        g_swallowedButtons &= ~ButtonBit(e.button.button);  // a new press: the old release was lost
        break;
      }
      g_swallowedButtons |= ButtonBit(e.button.button);
      g_queue.push_back(PointerEvent(MenuEventKind::PressOutside, nullptr, e.button.x, e.button.y));
      return true;
    case SDL_MOUSEBUTTONUP:
      if (g_swallowedButtons & ButtonBit(e.button.button)) {
        g_swallowedButtons &= ~ButtonBit(e.button.button);
        return true;
      }
      // A left release still reaches the window: its press may have opened the menu.
      if (g_capture && e.button.button != SDL_BUTTON_LEFT) return true;
      break;
    case SDL_MOUSEWHEEL:
      if (g_capture) return true;
      break;
    default:
      break;
  }
  return false;
}

// An event watch sees every event before it is queued. SDL's event filter could drop events
// outright, but setting one empties the queue, losing a waiting timer tick for good; so a taken
// event is queued as a type that nothing reads instead.
int SDLCALL MenuWatch(void*, SDL_Event* e) {
  if (e->type >= SDL_USEREVENT) return 0;
  std::lock_guard<std::mutex> lock(g_lock);
  if (TakeLocked(*e)) e->type = g_takenEvent;
  return 0;
}

// Exactly one watch, also after SDL was started again.
void EnsureWatch() {
  if (g_takenEvent == 0) {
    // Without a type of its own a taken event becomes SDL's unused type 0, which nothing reads either.
    const Uint32 type = SDL_RegisterEvents(1);
    if (type != static_cast<Uint32>(-1)) g_takenEvent = type;
  }
  SDL_DelEventWatch(MenuWatch, nullptr);
  SDL_AddEventWatch(MenuWatch, nullptr);
}

SDL_Window* SdlWindowOf(const MenuWindow* window) {
  return window && SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetWindowFromID(window->id) : nullptr;
}

}  // namespace

// --- Windows ---

MenuWindow* OpenMenuWindow(const PixelRect& rect) {
  if (!SDL_WasInit(SDL_INIT_VIDEO) || rect.w < 1 || rect.h < 1) return nullptr;
  EnsureWatch();
  // The menu belongs to the window that has the keyboard, or else to the one under the pointer.
  SDL_Window* owner = SDL_GetKeyboardFocus();
  if (!owner) owner = SDL_GetMouseFocus();
  // A popup-menu window is override-redirect on X11: no frame, no task-bar entry, not managed.
  const Uint32 flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS | SDL_WINDOW_POPUP_MENU | SDL_WINDOW_ALWAYS_ON_TOP |
                       SDL_WINDOW_SKIP_TASKBAR;
  SDL_Window* sdl = SDL_CreateWindow("", rect.x, rect.y, rect.w, rect.h, flags);
  if (!sdl) return nullptr;
  // The first surface may make the native window again (and show it again, taking the focus);
  // made while hidden, that happens before the one showing below.
  SDL_GetWindowSurface(sdl);
  auto* window = new MenuWindow{SDL_GetWindowID(sdl), rect};
  {
    std::lock_guard<std::mutex> lock(g_lock);
    g_windows.push_back(window);  // before showing, so the first events already find it
  }
  SDL_ShowWindow(sdl);
  // Without a window manager SDL hands the keyboard to every window it shows; give it back, as
  // the menu must never take the focus from the window it belongs to.
  if (owner && owner != sdl) SDL_SetWindowInputFocus(owner);
  return window;
}

void CloseMenuWindow(MenuWindow* window) {
  if (!window) return;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    g_windows.erase(std::remove(g_windows.begin(), g_windows.end(), window), g_windows.end());
    g_queue.erase(std::remove_if(g_queue.begin(), g_queue.end(), [&](const MenuEvent& e) { return e.window == window; }),
                  g_queue.end());
  }
  if (SDL_Window* sdl = SdlWindowOf(window)) SDL_DestroyWindow(sdl);
  delete window;
}

PixelRect MenuWindowRect(const MenuWindow* window) { return window ? window->rect : PixelRect{}; }

void PresentMenuWindow(MenuWindow* window, const PixelView& pixels) {
  SDL_Window* sdl = SdlWindowOf(window);
  if (!sdl || !pixels.pixels) return;
  SDL_Surface* surface = SDL_GetWindowSurface(sdl);
  if (!surface) return;
  const int w = std::min(surface->w, pixels.width), h = std::min(surface->h, pixels.height);
  if (w < 1 || h < 1) return;
  if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return;
  SDL_ConvertPixels(w, h, SDL_PIXELFORMAT_ARGB8888, pixels.pixels, pixels.stride * 4, surface->format->format,
                    surface->pixels, surface->pitch);
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  SDL_UpdateWindowSurface(sdl);
}

// --- Input while a menu is open ---

void CaptureInputForMenus(bool on) {
  if (on && SDL_WasInit(SDL_INIT_VIDEO)) EnsureWatch();
  std::lock_guard<std::mutex> lock(g_lock);
  g_capture = on;
  if (!on) {
    // Keys and presses taken while the menu was open are not replayed to the windows.
    g_queue.erase(std::remove_if(g_queue.begin(), g_queue.end(), [](const MenuEvent& e) { return !e.window; }),
                  g_queue.end());
  }
}

bool NextMenuEvent(MenuEvent* event) {
  std::lock_guard<std::mutex> lock(g_lock);
  while (!g_queue.empty()) {
    MenuEvent e = g_queue.front();
    g_queue.pop_front();
    if (e.window && !KnownLocked(e.window)) continue;
    *event = e;
    return true;
  }
  return false;
}

void PostMenuEvent(const MenuEvent& event) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_queue.push_back(event);
}

// --- The desktop ---

bool PointerScreenPosition(int* x, int* y) {
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return false;
  int gx = 0, gy = 0;
  SDL_GetGlobalMouseState(&gx, &gy);
  if (x) *x = gx;
  if (y) *y = gy;
  return true;
}

bool ProgramHasFocus() { return SDL_WasInit(SDL_INIT_VIDEO) && SDL_GetKeyboardFocus() != nullptr; }
