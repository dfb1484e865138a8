#include "platform/second_window.h"

#include <SDL.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/keymap.h"
#include "platform/sdl_events.h"
#include "platform/text.h"

struct SecondWindow {
  Uint32 id = 0;
  SecondWindowClient client;
  SDL_TimerID timer = 0;
  bool timerWaiting = false;  // under g_lock: a Timer event waits, so the timer queues no second one
  bool invalid = true;
  bool cursorHidden = false;
  bool pointerInside = false;
  Uint32 owner = 0;  // the window that had the keyboard when this one opened
  std::unique_ptr<DrawSurface> target;
};

namespace {

// One waiting event of a second window; `paint` and `enter`/`leave` are the loop's own.
struct Pending {
  SecondWindow* window = nullptr;
  bool paint = false, enter = false, leave = false;
  SecondWindowEvent e;
};

// The event watch and the timers run on the threads that push events, so the list and the queue
// are behind this lock. The windows themselves are touched only on the UI thread.
std::mutex g_lock;
std::vector<SecondWindow*> g_windows;
std::deque<Pending> g_queue;
Uint32 g_takenEvent = 0;  // what a taken event is turned into: no window reads it
Uint32 g_wakeEvent = 0;   // pushed by a timer to wake the loop
bool g_cursorHiddenHere = false;  // this module hid the cursor (and so must show it again)
bool g_pumping = false;

SecondWindow* FindLocked(Uint32 id) {
  if (id == 0) return nullptr;
  for (SecondWindow* w : g_windows)
    if (w->id == id) return w;
  return nullptr;
}

bool Known(const SecondWindow* window) {
  std::lock_guard<std::mutex> lock(g_lock);
  return std::find(g_windows.begin(), g_windows.end(), window) != g_windows.end();
}


Pending Pointer(SecondWindow* window, SecondWindowEventKind kind, int x, int y) {
  Pending p;
  p.window = window;
  p.e.kind = kind;
  p.e.x = static_cast<float>(x);
  p.e.y = static_cast<float>(y);
  return p;
}

// Queues what the window's handler looks at; everything else of the window is dropped.
void QueueLocked(SecondWindow* window, const SDL_Event& e) {
  Pending p;
  p.window = window;
  switch (e.type) {
    case SDL_WINDOWEVENT:
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE: p.e.kind = SecondWindowEventKind::Close; break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          p.e.kind = SecondWindowEventKind::Resized;
          p.e.width = e.window.data1;
          p.e.height = e.window.data2;
          break;
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SHOWN: p.paint = true; break;
        case SDL_WINDOWEVENT_ENTER: p.enter = true; break;
        case SDL_WINDOWEVENT_LEAVE: p.leave = true; break;
        default: return;
      }
      break;
    case SDL_MOUSEMOTION:
      p = Pointer(window, SecondWindowEventKind::MouseMove, e.motion.x, e.motion.y);
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (e.button.button == SDL_BUTTON_LEFT) {
        p = Pointer(window, SecondWindowEventKind::LeftDown, e.button.x, e.button.y);
        // As the main window counts them: clicks 2, 4, ... are doubles.
        p.e.doubleClick = e.button.clicks >= 2 && e.button.clicks % 2 == 0;
      } else if (e.button.button == SDL_BUTTON_RIGHT) {
        p = Pointer(window, SecondWindowEventKind::RightDown, e.button.x, e.button.y);
      } else {
        return;
      }
      break;
    case SDL_MOUSEBUTTONUP:
      if (e.button.button != SDL_BUTTON_LEFT) return;
      p = Pointer(window, SecondWindowEventKind::LeftUp, e.button.x, e.button.y);
      break;
    case SDL_MOUSEWHEEL:
      p.e.kind = SecondWindowEventKind::Wheel;
      p.e.wheel = e.wheel.preciseY * (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1.0f : 1.0f);
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      const SDL_Keysym& key = e.key.keysym;
      p.e.key = VirtualKeyFor(key.sym, key.scancode);
      if (p.e.key == 0) return;
      p.e.kind = e.type == SDL_KEYDOWN ? SecondWindowEventKind::KeyDown : SecondWindowEventKind::KeyUp;
      p.e.repeat = e.key.repeat != 0;
      p.e.alt = (key.mod & KMOD_ALT) != 0;
      p.e.ctrl = (key.mod & KMOD_CTRL) != 0;
      p.e.shift = (key.mod & KMOD_SHIFT) != 0;
      break;
    }
    default:
      return;  // typed text and the rest: nothing a second window reads
  }
  g_queue.push_back(p);
}

// Sees every event before it is queued; a second window's event is set aside for its handler and
// queued as a type that nothing reads (as the menu windows' watch does, for the same reason).
int SDLCALL SecondWindowWatch(void*, SDL_Event* e) {
  if (e->type >= SDL_USEREVENT) return 0;
  const Uint32 id = SdlEventWindowId(*e);
  if (id == 0) return 0;
  std::lock_guard<std::mutex> lock(g_lock);
  if (SecondWindow* window = FindLocked(id)) {
    QueueLocked(window, *e);
    e->type = g_takenEvent;
  }
  return 0;
}

void EnsureWatch() {
  if (g_takenEvent == 0) {
    const Uint32 base = SDL_RegisterEvents(2);
    if (base != static_cast<Uint32>(-1)) {
      g_takenEvent = base;
      g_wakeEvent = base + 1;
    }
  }
  SDL_DelEventWatch(SecondWindowWatch, nullptr);
  SDL_AddEventWatch(SecondWindowWatch, nullptr);
}

// The timer thread: queues one Timer event while none waits, then wakes the loop. The window is
// found by its id, so a timer that fires while its window closes touches nothing freed.
Uint32 SDLCALL OnSecondTimer(Uint32 interval, void* param) {
  const Uint32 id = static_cast<Uint32>(reinterpret_cast<uintptr_t>(param));
  {
    std::lock_guard<std::mutex> lock(g_lock);
    SecondWindow* window = FindLocked(id);
    if (!window || window->timerWaiting) return interval;
    window->timerWaiting = true;
    Pending p;
    p.window = window;
    p.e.kind = SecondWindowEventKind::Timer;
    g_queue.push_back(p);
  }
  SDL_Event wake{};
  wake.type = g_wakeEvent;
  SDL_PushEvent(&wake);
  return interval;
}

SDL_Window* SdlOf(const SecondWindow* window) {
  return window && SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetWindowFromID(window->id) : nullptr;
}

// The cursor is one for the whole program: hidden only while the pointer is over a window that
// hides it, shown again as soon as it is not.
void UpdateCursor() {
  bool hide = false;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    for (const SecondWindow* w : g_windows) hide = hide || (w->cursorHidden && w->pointerInside);
  }
  if (hide == g_cursorHiddenHere) return;
  g_cursorHiddenHere = hide;
  SDL_ShowCursor(hide ? SDL_DISABLE : SDL_ENABLE);
}

// True when the frame reached the window.
bool Present(SecondWindow* window) {
  SDL_Window* sdl = SdlOf(window);
  if (!sdl || !window->client.draw) return false;
  int w = 0, h = 0;
  SDL_GetWindowSize(sdl, &w, &h);
  w = std::max(w, 1);
  h = std::max(h, 1);
  const float scale = SecondWindowDpi(window) / kBaseDpi;
  if (!window->target || window->target->pixelWidth() != w || window->target->pixelHeight() != h ||
      window->target->dipScale() != scale) {
    window->target = DrawSurface::Create(w, h, scale);
    if (!window->target) return false;
  }
  window->client.draw(window->client.user, *window->target);
  if (!Known(window)) return false;  // the drawing closed it
  const PixelView pixels = window->target->Pixels();
  SDL_Surface* frame = SDL_CreateRGBSurfaceWithFormatFrom(pixels.pixels, pixels.width, pixels.height, 32,
                                                          pixels.stride * 4, SDL_PIXELFORMAT_ARGB8888);
  if (!frame) return false;
  SDL_SetSurfaceBlendMode(frame, SDL_BLENDMODE_NONE);
  bool shown = false;
  if (SDL_Surface* surface = SDL_GetWindowSurface(sdl))
    shown = SDL_BlitSurface(frame, nullptr, surface, nullptr) == 0 && SDL_UpdateWindowSurface(sdl) == 0;
  SDL_FreeSurface(frame);
  return shown;
}

}  // namespace

// --- Windows ---

SecondWindow* OpenSecondWindow(const std::wstring& title, const PixelRect& rect, unsigned timerMs,
                               const SecondWindowClient& client) {
  if (!SDL_WasInit(SDL_INIT_VIDEO) || rect.w < 1 || rect.h < 1) return nullptr;
  EnsureWatch();
  SDL_Window* owner = SDL_GetKeyboardFocus();
  SDL_Window* sdl = SDL_CreateWindow(WideToUtf8(title).c_str(), rect.x, rect.y, rect.w, rect.h,
                                     SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
  if (!sdl) return nullptr;
  // The first surface may make the native window again; made while hidden, nothing is seen of it.
  SDL_GetWindowSurface(sdl);
  auto* window = new SecondWindow;
  window->id = SDL_GetWindowID(sdl);
  window->client = client;
  window->owner = owner ? SDL_GetWindowID(owner) : 0;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    g_windows.push_back(window);  // before showing, so its first events already find it
  }
  SDL_ShowWindow(sdl);
  ReturnFocusFromSecondWindow(window);
  if (timerMs > 0)
    window->timer = SDL_AddTimer(timerMs, OnSecondTimer, reinterpret_cast<void*>(static_cast<uintptr_t>(window->id)));
  return window;
}

void CloseSecondWindow(SecondWindow* window) {
  if (!window || !Known(window)) return;
  if (window->timer) SDL_RemoveTimer(window->timer);
  {
    std::lock_guard<std::mutex> lock(g_lock);
    g_windows.erase(std::remove(g_windows.begin(), g_windows.end(), window), g_windows.end());
    g_queue.erase(std::remove_if(g_queue.begin(), g_queue.end(), [&](const Pending& p) { return p.window == window; }),
                  g_queue.end());
  }
  if (window->client.closed) window->client.closed(window->client.user);
  if (SDL_Window* sdl = SdlOf(window)) SDL_DestroyWindow(sdl);
  delete window;
  UpdateCursor();
}

void CloseAllSecondWindows() {
  for (;;) {
    SecondWindow* window = nullptr;
    {
      std::lock_guard<std::mutex> lock(g_lock);
      if (!g_windows.empty()) window = g_windows.back();
    }
    if (!window) return;
    CloseSecondWindow(window);
  }
}

TopWindow* SecondTopWindow(SecondWindow* window) { return reinterpret_cast<TopWindow*>(SdlOf(window)); }

void SecondWindowClientSize(SecondWindow* window, int* width, int* height) {
  int w = 0, h = 0;
  if (SDL_Window* sdl = SdlOf(window)) SDL_GetWindowSize(sdl, &w, &h);
  if (width) *width = w;
  if (height) *height = h;
}

float SecondWindowDpi(SecondWindow* window) {
  SDL_Window* sdl = SdlOf(window);
  float diagonal = 0.0f;
  if (!sdl || SDL_GetDisplayDPI(std::max(0, SDL_GetWindowDisplayIndex(sdl)), &diagonal, nullptr, nullptr) != 0)
    return kBaseDpi;
  return RoundedDpi(diagonal);
}

void InvalidateSecondWindow(SecondWindow* window) {
  if (window && Known(window)) window->invalid = true;
}

void SetSecondWindowCursorHidden(SecondWindow* window, bool hidden) {
  if (!window || !Known(window)) return;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    window->cursorHidden = hidden;
    // The pointer may already be over the window: SDL says so only on the next enter.
    if (SDL_Window* sdl = SdlOf(window)) window->pointerInside = SDL_GetMouseFocus() == sdl;
  }
  UpdateCursor();
}

void ReturnFocusFromSecondWindow(SecondWindow* window) {
  if (!window || window->owner == 0) return;
  if (SDL_Window* owner = SDL_GetWindowFromID(window->owner)) SDL_SetWindowInputFocus(owner);
}

bool SecondWindowOpen(const SecondWindow* window) { return window && Known(window); }

// --- The loop ---

void PumpSecondWindows() {
  if (g_pumping) return;  // a handler that runs a nested loop does not pump again
  g_pumping = true;
  for (;;) {
    Pending p;
    {
      std::lock_guard<std::mutex> lock(g_lock);
      if (g_queue.empty()) break;
      p = g_queue.front();
      g_queue.pop_front();
      if (p.e.kind == SecondWindowEventKind::Timer && !p.paint && !p.enter && !p.leave) p.window->timerWaiting = false;
    }
    SecondWindow* window = p.window;
    if (p.paint) {
      window->invalid = true;
    } else if (p.enter || p.leave) {
      {
        std::lock_guard<std::mutex> lock(g_lock);
        window->pointerInside = p.enter;
      }
      UpdateCursor();
    } else {
      if (p.e.kind == SecondWindowEventKind::Timer || p.e.kind == SecondWindowEventKind::Resized)
        window->invalid = true;
      if (window->client.event) window->client.event(window->client.user, window, p.e);
    }
  }
  std::vector<SecondWindow*> due;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    for (SecondWindow* w : g_windows)
      if (w->invalid) due.push_back(w);
  }
  for (SecondWindow* w : due) {
    if (!Known(w)) continue;
    w->invalid = false;
    Present(w);
  }
  g_pumping = false;
}

bool RedrawSecondWindowNow(SecondWindow* window) {
  if (!SecondWindowOpen(window)) return false;
  window->invalid = false;
  return Present(window);
}

bool PaintSecondWindowInto(SecondWindow* window, DrawSurface& target) {
  if (!SecondWindowOpen(window) || !window->client.draw) return false;
  window->client.draw(window->client.user, target);
  return Known(window);
}
