#include "platform/window.h"

#include "platform/keymap.h"

#include <SDL.h>

#include <dlfcn.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/monitors.h"
#include "platform/text.h"

namespace {

// Windows offers display scales in steps of a quarter.
constexpr float kDpiStep = kBaseDpi / 4.0f;
constexpr int kNoticeKinds = 3;
constexpr int kControlLetterBase = 0x40;  // Ctrl+A gives 1, as on Windows


SDL_Window* g_window = nullptr;
bool g_started = false;
// The SDL user event of notices, 0 until StartWindowing; read by posting threads.
std::atomic<Uint32> g_noticeEvent{0};
std::atomic<bool> g_noticeWaiting[kNoticeKinds] = {};
bool g_invalid = false;
bool g_quit = false;
int g_quitCode = 0;
bool g_dropTaken = false;   // the first file of the running drop was passed on
// A Shift key is down, as the key events taken from the queue so far say. SDL's own modifier
// state already counts the events still queued, so a click read with it could see a Shift
// released after the click; it is only read once the queue is empty.
bool g_shiftDown = false;
// Events read and not yet taken: taken from the front, and the whole emptied once all are, so its
// storage stays and the loop allocates nothing.
struct EventQueue {
  std::vector<WindowEvent> events;
  size_t next = 0;
  bool empty() const { return next == events.size(); }
  void push_back(WindowEvent e) { events.push_back(std::move(e)); }
  WindowEvent take() {
    WindowEvent e = std::move(events[next++]);
    if (empty()) clear();
    return e;
  }
  void clear() { events.clear(), next = 0; }
};
EventQueue g_queued;

// One numbered timer, kept by the loop itself: NextWindowEvent sleeps until the earliest one is
// due, so no thread wakes to tell it.
struct WindowTimer {
  uint64_t periodMs = 1;
  uint64_t dueMs = 0;    // MonotonicMs of its next event
  bool waiting = false;  // its event is queued and not yet taken
};
std::map<int, WindowTimer> g_timers;

// The first due time after nowMs on the timer's beat: periods missed while the loop was busy are
// dropped, not made up in a burst.
void StepPast(WindowTimer& timer, uint64_t nowMs) {
  if (timer.dueMs <= nowMs) timer.dueMs += ((nowMs - timer.dueMs) / timer.periodMs + 1) * timer.periodMs;
}

// Queues the event of every timer that is due and has none waiting.
void QueueDueTimers(uint64_t nowMs) {
  for (auto& [id, timer] : g_timers) {
    if (timer.waiting || nowMs < timer.dueMs) continue;
    WindowEvent e;
    e.kind = WindowEventKind::Timer;
    e.timerId = id;
    e.shift = g_shiftDown;
    g_queued.push_back(e);
    timer.waiting = true;
    StepPast(timer, nowMs);
  }
}

// How long the loop may sleep before the next timer is due (at most maxWaitMs).
unsigned MsUntilNextTimer(uint64_t nowMs, unsigned maxWaitMs) {
  uint64_t wait = maxWaitMs;
  for (const auto& [id, timer] : g_timers)
    if (!timer.waiting) wait = std::min(wait, timer.dueMs > nowMs ? timer.dueMs - nowMs : 0);
  return static_cast<unsigned>(wait);
}

// A timer event taken from the queue: false when its timer was killed meanwhile.
bool TakeTimerEvent(const WindowEvent& e) {
  const auto it = g_timers.find(e.timerId);
  if (it == g_timers.end()) return false;
  it->second.waiting = false;
  StepPast(it->second, MonotonicMs());
  return true;
}

std::string Utf8(const std::wstring& text) { return WideToUtf8(text); }

WindowEvent MouseEvent(WindowEventKind kind, int x, int y) {
  WindowEvent e;
  e.kind = kind;
  e.x = static_cast<float>(x);
  e.y = static_cast<float>(y);
  return e;
}

WindowEvent CharacterEvent(wchar_t c) {
  WindowEvent e;
  e.kind = WindowEventKind::Character;
  e.character = c;
  return e;
}

// The control code Windows would send as WM_CHAR for this key press, 0 for none.
wchar_t ControlCharacterOf(const SDL_Keysym& key) {
  switch (key.sym) {
    case SDLK_BACKSPACE: return 8;
    case SDLK_TAB: return 9;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return 13;
    case SDLK_ESCAPE: return 27;
    default: break;
  }
  const bool ctrl = (key.mod & KMOD_CTRL) != 0, alt = (key.mod & KMOD_ALT) != 0;
  if (ctrl && !alt && key.sym >= SDLK_a && key.sym <= SDLK_z)
    return static_cast<wchar_t>('A' + (key.sym - SDLK_a) - kControlLetterBase);
  return 0;
}

// Turns one SDL event into window events at the back of g_queued.
void Translate(const SDL_Event& sdl) {
  WindowEvent e;
  switch (sdl.type) {
    case SDL_QUIT:
    case SDL_APP_TERMINATING:
      e.kind = WindowEventKind::SessionEnd;
      break;
    case SDL_WINDOWEVENT:
      switch (sdl.window.event) {
        case SDL_WINDOWEVENT_CLOSE: e.kind = WindowEventKind::Close; break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          e.kind = WindowEventKind::Resized;
          e.width = sdl.window.data1;
          e.height = sdl.window.data2;
          g_invalid = true;
          break;
        case SDL_WINDOWEVENT_EXPOSED: g_invalid = true; return;
        case SDL_WINDOWEVENT_FOCUS_LOST: e.kind = WindowEventKind::CaptureLost; break;
        case SDL_WINDOWEVENT_DISPLAY_CHANGED:
          e.kind = WindowEventKind::DpiChanged;
          e.dpi = WindowDpi();
          break;
        default: return;
      }
      break;
    case SDL_MOUSEMOTION:
      e = MouseEvent(WindowEventKind::MouseMove, sdl.motion.x, sdl.motion.y);
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (sdl.button.button == SDL_BUTTON_LEFT) {
        e = MouseEvent(WindowEventKind::LeftDown, sdl.button.x, sdl.button.y);
        // Windows starts a new pair after each double click: clicks 2, 4, ... are doubles.
        e.doubleClick = sdl.button.clicks >= 2 && sdl.button.clicks % 2 == 0;
      } else if (sdl.button.button == SDL_BUTTON_RIGHT) {
        e = MouseEvent(WindowEventKind::RightDown, sdl.button.x, sdl.button.y);
      } else {
        return;
      }
      break;
    case SDL_MOUSEBUTTONUP:
      if (sdl.button.button != SDL_BUTTON_LEFT) return;
      e = MouseEvent(WindowEventKind::LeftUp, sdl.button.x, sdl.button.y);
      break;
    case SDL_MOUSEWHEEL:
      e.kind = WindowEventKind::Wheel;
      e.wheel = sdl.wheel.preciseY * (sdl.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1.0f : 1.0f);
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      const SDL_Keysym& key = sdl.key.keysym;
      g_shiftDown = (key.mod & KMOD_SHIFT) != 0;
      e.key = VirtualKeyFor(key.sym, key.scancode);
      if (e.key == 0) return;
      e.kind = sdl.type == SDL_KEYDOWN ? WindowEventKind::KeyDown : WindowEventKind::KeyUp;
      e.repeat = sdl.key.repeat != 0;
      e.alt = (key.mod & KMOD_ALT) != 0;
      e.ctrl = (key.mod & KMOD_CTRL) != 0;
      e.shift = g_shiftDown;
      if (key.sym > 0x20 && key.sym < 0x7F) e.symbol = static_cast<wchar_t>(key.sym);
      g_queued.push_back(e);
      if (sdl.type == SDL_KEYDOWN) {
        if (const wchar_t c = ControlCharacterOf(key)) g_queued.push_back(CharacterEvent(c));
      }
      return;
    }
    case SDL_TEXTINPUT:
      // Left Alt makes a system key, whose character Windows does not type; AltGr still types.
      if (SDL_GetModState() & KMOD_LALT) return;
      for (wchar_t c : Utf8ToWide(sdl.text.text)) g_queued.push_back(CharacterEvent(c));
      return;
    case SDL_DROPBEGIN:
      g_dropTaken = false;
      return;
    case SDL_DROPCOMPLETE:
      g_dropTaken = false;
      return;
    case SDL_DROPFILE: {
      char* file = sdl.drop.file;
      if (!g_dropTaken && file) {
        g_dropTaken = true;
        // SDL gives no drop point: the pointer is where the drop happened.
        int gx = 0, gy = 0, wx = 0, wy = 0;
        SDL_GetGlobalMouseState(&gx, &gy);
        if (g_window) SDL_GetWindowPosition(g_window, &wx, &wy);
        e = MouseEvent(WindowEventKind::DropFile, gx - wx, gy - wy);
        e.path = PathFromBytes(file);
      }
      SDL_free(file);
      if (e.kind == WindowEventKind::None) return;
      break;
    }
    default:
      if (g_noticeEvent.load() != 0 && sdl.type == g_noticeEvent.load()) {
        const int n = sdl.user.code;
        if (n < 0 || n >= kNoticeKinds) return;
        g_noticeWaiting[n].store(false);
        e.kind = WindowEventKind::Notice;
        e.notice = static_cast<WindowNotice>(n);
      } else {
        return;
      }
      break;
  }
  e.shift = g_shiftDown;
  g_queued.push_back(e);
}

}  // namespace

float RoundedDpi(float dpi) {
  if (!(dpi > 0.0f) || !std::isfinite(dpi)) return kBaseDpi;
  const float steps = std::round(dpi / kDpiStep);
  return steps < 4.0f ? kBaseDpi : steps * kDpiStep;
}

// --- Start and end ---

namespace {

// What Xlib hands an error handler (its XErrorEvent; Xlib is loaded by SDL, not linked here).
struct XErrorView {
  int type;
  void* display;
  unsigned long resource;
  unsigned long serial;
  unsigned char errorCode, requestCode, minorCode;
};
using XErrorHandlerFn = int (*)(void*, XErrorView*);
XErrorHandlerFn g_otherXErrors = nullptr;
constexpr unsigned char kBadWindow = 3, kSendEventRequest = 25;

// SDL wakes its waiting event loop by sending an event to one of its windows over a second
// connection. When another thread posts just as that window closes (a popup menu dismissed on a
// busy machine) the server answers BadWindow, and Xlib's default handler would end the program.
// That one error is dropped; every other goes on to the handler it replaced.
int OnXError(void* display, XErrorView* error) {
  if (error && error->errorCode == kBadWindow && error->requestCode == kSendEventRequest) return 0;
  return g_otherXErrors ? g_otherXErrors(display, error) : 0;
}

void DropWakeupsToClosedWindows() {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::strcmp(driver, "x11") != 0) return;
  void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  if (!xlib) return;
  auto setHandler = reinterpret_cast<XErrorHandlerFn (*)(XErrorHandlerFn)>(dlsym(xlib, "XSetErrorHandler"));
  if (setHandler) {
    const XErrorHandlerFn replaced = setHandler(OnXError);
    if (replaced != OnXError) g_otherXErrors = replaced;
  }
  dlclose(xlib);
}

}  // namespace

bool StartWindowing(std::wstring* error) {
  // Signals are ours (platform/signals.h); closing the window is not the same as quitting;
  // the screen saver is held off only while the program plays (KeepAwake).
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
  // Frames are our own images blitted to the window surface. An accelerated surface would make SDL
  // destroy and recreate the X window at the first present, which loses what was placed on it.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0) {
    if (error) *error = Utf8ToWide(SDL_GetError());
    return false;
  }
  // With no display SDL falls back to a driver that shows nothing: a window no one can see or
  // close. Only a caller that asks for one by name (tests) gets it.
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* asked = SDL_getenv("SDL_VIDEODRIVER");
  const bool invisible = driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
  if (invisible && !(asked && std::strcmp(asked, driver) == 0)) {
    if (error) *error = L"neither DISPLAY nor WAYLAND_DISPLAY names a display that can be opened";
    SDL_Quit();
    return false;
  }
  const Uint32 base = SDL_RegisterEvents(1);
  if (base == static_cast<Uint32>(-1)) {
    if (error) *error = L"no SDL user events left";
    SDL_Quit();
    return false;
  }
  g_noticeEvent = base;
  DropWakeupsToClosedWindows();
  AcceptFileDrops(false);
  g_quit = false;
  g_quitCode = 0;
  g_started = true;
  return true;
}

namespace {

std::atomic<void (*)()> g_saveWhenDisplayLost{nullptr};
constexpr int kSaveWaitMs = 20000;  // how long another thread's break waits for the save

// Xlib's handler for a broken connection; it must not return.
int OnDisplayConnectionBroken(void* /*display*/) { DisplayConnectionBroken(); }

}  // namespace

void DisplayConnectionBroken() {
  static std::atomic<bool> seen{false};
  static std::atomic<std::thread::id> saver{};
  if (!seen.exchange(true)) {
    saver = std::this_thread::get_id();
    if (void (*save)() = g_saveWhenDisplayLost.load()) save();
    _exit(1);
  }
  // Another thread noticed the break as well: the first one is saving and ends the process when
  // it is done; ending it now would lose what it has not written yet. A break the save itself
  // runs into, on the saving thread, ends it at once.
  if (saver.load() != std::this_thread::get_id())
    for (int waited = 0; waited < kSaveWaitMs; waited += 10) SDL_Delay(10);
  _exit(1);
}

void OnDisplayLost(void (*saveWork)()) {
  g_saveWhenDisplayLost = saveWork;
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::strcmp(driver, "x11") != 0) return;
  // SDL loaded Xlib itself; only its handler is wanted from it, so it is not linked.
  void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  if (!xlib) return;
  using Handler = int (*)(void*);
  auto setHandler = reinterpret_cast<Handler (*)(Handler)>(dlsym(xlib, "XSetIOErrorHandler"));
  if (setHandler) setHandler(OnDisplayConnectionBroken);
  dlclose(xlib);
}

void StopWindowing() {
  if (!g_started) return;
  g_timers.clear();
  CloseMainWindow();
  g_started = false;
  g_noticeEvent = 0;
  SDL_Quit();
  g_queued.clear();
}

void ShowMessageBox(const std::wstring& caption, const std::wstring& text, MessageBoxIcon icon) {
  Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
  if (icon == MessageBoxIcon::Warning) flags = SDL_MESSAGEBOX_WARNING;
  if (icon == MessageBoxIcon::Error) flags = SDL_MESSAGEBOX_ERROR;
  if (SDL_ShowSimpleMessageBox(flags, Utf8(caption).c_str(), Utf8(text).c_str(), g_window) != 0) {
    // No box could be shown (no display, or no fonts on it): the text still reaches the user.
    std::fprintf(stderr, "%s: %s\n(%s)\n", Utf8(caption).c_str(), Utf8(text).c_str(), SDL_GetError());
  }
}

// --- The window ---

bool OpenMainWindow(const std::wstring& title, int width, int height) {
  if (!g_started || g_window) return false;
  g_window = SDL_CreateWindow(Utf8(title).c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height,
                              SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
  return g_window != nullptr;
}

void CloseMainWindow() {
  if (!g_window) return;
  SDL_DestroyWindow(g_window);
  g_window = nullptr;
  g_invalid = false;
}

bool MainWindowOpen() { return g_window != nullptr; }

void SetWindowCaption(const std::wstring& text) {
  if (g_window) SDL_SetWindowTitle(g_window, Utf8(text).c_str());
}

PixelRect WindowWorkArea() {
  const int display = g_window ? std::max(0, SDL_GetWindowDisplayIndex(g_window)) : 0;
  SDL_Rect r{};
  if (SDL_GetDisplayUsableBounds(display, &r) != 0 && SDL_GetDisplayBounds(display, &r) != 0) return {};
  return {r.x, r.y, r.w, r.h};
}

float WindowDpi() {
  const int display = g_window ? std::max(0, SDL_GetWindowDisplayIndex(g_window)) : 0;
  float diagonal = 0.0f;
  if (SDL_GetDisplayDPI(display, &diagonal, nullptr, nullptr) != 0) return kBaseDpi;
  return RoundedDpi(diagonal);
}

void PlaceWindow(const PixelRect& rect) {
  if (!g_window) return;
  SDL_SetWindowSize(g_window, rect.w, rect.h);
  SDL_SetWindowPosition(g_window, rect.x, rect.y);
}

namespace {

int g_minWidth = 0, g_minHeight = 0;  // the minimum asked for, before the work area limits it
constexpr int kFrameWaitMs = 1000, kFramePollMs = 10;

// The window manager's frame around the client area; all 0 while it is not known.
void FrameExtents(int* top, int* left, int* bottom, int* right) {
  *top = *left = *bottom = *right = 0;
  if (!g_window || SDL_GetWindowBordersSize(g_window, top, left, bottom, right) != 0) *top = *left = *bottom = *right = 0;
}

// The client area the work area leaves once the frame is around the window.
PixelRect UsableClientArea() {
  const PixelRect work = WindowWorkArea();
  int top = 0, left = 0, bottom = 0, right = 0;
  FrameExtents(&top, &left, &bottom, &right);
  return {work.x + left, work.y + top, work.w - left - right, work.h - top - bottom};
}

// A minimum above what the work area leaves would keep even the maximised window from fitting
// the screen: the caption or the bottom would be off it.
void ApplyMinimumSize() {
  const PixelRect usable = UsableClientArea();
  int width = g_minWidth, height = g_minHeight;
  if (usable.w > 0) width = std::min(width, usable.w);
  if (usable.h > 0) height = std::min(height, usable.h);
  SDL_SetWindowMinimumSize(g_window, std::max(width, 1), std::max(height, 1));
}

// Under a window manager the frame's size arrives once the window is framed; waits for it a
// little (the events read meanwhile stay queued).
void WaitForFrame() {
  if (!DesktopManagesWindows(MainTopWindow())) return;
  for (int waited = 0; waited < kFrameWaitMs; waited += kFramePollMs) {
    int top = 0, left = 0, bottom = 0, right = 0;
    FrameExtents(&top, &left, &bottom, &right);
    if (top > 0 || left > 0 || bottom > 0 || right > 0) return;
    SDL_PumpEvents();
    SDL_Delay(kFramePollMs);
  }
}

// Shrinks a window larger than the usable area to it, centred in the work area.
void FitIntoWorkArea() {
  const PixelRect work = WindowWorkArea(), usable = UsableClientArea();
  if (usable.w <= 0 || usable.h <= 0) return;
  int w = 0, h = 0;
  SDL_GetWindowSize(g_window, &w, &h);
  if (w <= usable.w && h <= usable.h) return;
  w = std::min(w, usable.w);
  h = std::min(h, usable.h);
  SDL_SetWindowSize(g_window, w, h);
  const int frameW = work.w - usable.w, frameH = work.h - usable.h;
  SDL_SetWindowPosition(g_window, usable.x + (work.w - frameW - w) / 2, usable.y + (work.h - frameH - h) / 2);
}

}  // namespace

void SetWindowMinimumSize(int width, int height) {
  g_minWidth = width;
  g_minHeight = height;
  if (g_window) ApplyMinimumSize();
}

void ShowMainWindow(bool maximised) {
  if (!g_window) return;
  SDL_ShowWindow(g_window);
  WaitForFrame();
  ApplyMinimumSize();
  if (maximised) SDL_MaximizeWindow(g_window);
  else FitIntoWorkArea();
  g_invalid = true;
}

void RestoreAndRaiseWindow() {
  if (!g_window) return;
  if (WindowMinimised()) SDL_RestoreWindow(g_window);
  SDL_RaiseWindow(g_window);
}

bool WindowMinimised() { return g_window && (SDL_GetWindowFlags(g_window) & SDL_WINDOW_MINIMIZED) != 0; }

void WindowClientSize(int* width, int* height) {
  int w = 0, h = 0;
  if (g_window) SDL_GetWindowSize(g_window, &w, &h);
  if (width) *width = w;
  if (height) *height = h;
}

void AcceptFileDrops(bool on) {
  const int state = on ? SDL_ENABLE : SDL_DISABLE;
  SDL_EventState(SDL_DROPFILE, state);
  SDL_EventState(SDL_DROPBEGIN, state);
  SDL_EventState(SDL_DROPCOMPLETE, state);
}

void PresentSolidFrame(uint32_t rgb) {
  if (!g_window) return;
  SDL_Surface* surface = SDL_GetWindowSurface(g_window);
  if (!surface) return;
  SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, (rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
  SDL_UpdateWindowSurface(g_window);
}

bool PresentFrameImage(const PixelView& image, const PixelBox& changed) {
  if (!g_window || !image.pixels || image.width <= 0 || image.height <= 0) return false;
  SDL_Surface* target = SDL_GetWindowSurface(g_window);
  // A frame is opaque: on a window surface without alpha its words are read as that surface's
  // own, so the blit is a plain copy of rows instead of a conversion of every pixel.
  const Uint32 format = target && target->format->format == SDL_PIXELFORMAT_RGB888 ? SDL_PIXELFORMAT_RGB888
                                                                                  : SDL_PIXELFORMAT_ARGB8888;
  SDL_Surface* frame =
      SDL_CreateRGBSurfaceWithFormatFrom(image.pixels, image.width, image.height, 32, image.stride * 4, format);
  if (!frame) return false;
  SDL_SetSurfaceBlendMode(frame, SDL_BLENDMODE_NONE);
  const int x0 = std::clamp(changed.x0, 0, image.width), y0 = std::clamp(changed.y0, 0, image.height);
  const int x1 = std::clamp(changed.x1, x0, image.width), y1 = std::clamp(changed.y1, y0, image.height);
  bool shown = target != nullptr;
  // A window surface of another size (just resized) takes the whole frame.
  if (shown && (x0 > 0 || y0 > 0 || x1 < image.width || y1 < image.height) && target->w == image.width &&
      target->h == image.height) {
    SDL_Rect box{x0, y0, x1 - x0, y1 - y0};
    SDL_Rect at = box;
    shown = box.w == 0 || box.h == 0 ||
            (SDL_BlitSurface(frame, &box, target, &at) == 0 && SDL_UpdateWindowSurfaceRects(g_window, &box, 1) == 0);
  } else if (shown) {
    shown = SDL_BlitSurface(frame, nullptr, target, nullptr) == 0 && SDL_UpdateWindowSurface(g_window) == 0;
  }
  SDL_FreeSurface(frame);
  return shown;
}

// --- Timers ---

void SetWindowTimer(int id, unsigned periodMs) {
  if (!g_started || id <= 0) return;
  WindowTimer& timer = g_timers[id];  // an event it has waiting stays queued
  timer.periodMs = std::max(periodMs, 1u);
  timer.dueMs = MonotonicMs() + timer.periodMs;
}

void KillWindowTimer(int id) { g_timers.erase(id); }

// --- The loop ---

void InvalidateWindow() {
  if (g_window) g_invalid = true;
}

bool NextWindowEvent(WindowEvent* event, unsigned maxWaitMs) {
  *event = WindowEvent{};
  if (g_quit || !g_started) return false;
  SDL_Event sdl;
  bool waited = false;
  for (;;) {
    while (g_queued.empty() && SDL_PollEvent(&sdl)) Translate(sdl);
    // A due timer comes after the events already read, as its event would have been queued.
    QueueDueTimers(MonotonicMs());
    while (!g_queued.empty()) {
      *event = g_queued.take();
      if (event->kind != WindowEventKind::Timer || TakeTimerEvent(*event)) return true;
      *event = WindowEvent{};
    }
    // Like WM_PAINT: only when nothing else waits, and taking it validates the window.
    if (g_invalid && g_window) {
      g_invalid = false;
      event->kind = WindowEventKind::Paint;
      return true;
    }
    if (waited) return true;  // kind None
    // Every event is taken: SDL's modifier state is now the queue's own. A key that went up in
    // a menu or a second window did not pass through here, so the main window's Shift is taken
    // from it again.
    g_shiftDown = (SDL_GetModState() & KMOD_SHIFT) != 0;
    const unsigned waitMs = MsUntilNextTimer(MonotonicMs(), maxWaitMs);
    if (waitMs > 0) SDL_WaitEventTimeout(nullptr, static_cast<int>(waitMs));
    waited = true;
  }
}

void PostQuit(int exitCode) {
  g_quit = true;
  g_quitCode = exitCode;
}

int QuitCode() { return g_quitCode; }

void PostWindowNotice(WindowNotice notice) {
  const int n = static_cast<int>(notice);
  const Uint32 type = g_noticeEvent.load();
  if (type == 0 || n < 0 || n >= kNoticeKinds) return;
  if (g_noticeWaiting[n].exchange(true)) return;
  SDL_Event event{};
  event.type = type;
  event.user.code = n;
  if (SDL_PushEvent(&event) != 1) g_noticeWaiting[n].store(false);
}

// --- Keep awake ---

void KeepAwake(bool on) {
  if (!g_started) return;
  if (on) SDL_DisableScreenSaver();
  else SDL_EnableScreenSaver();
}

// --- Keyboard ---


bool WriteClipboardText(const std::wstring& text) { return SDL_SetClipboardText(WideToUtf8(text).c_str()) == 0; }

bool ReadClipboardText(std::wstring* text) {
  if (!SDL_HasClipboardText()) return false;
  char* utf8 = SDL_GetClipboardText();
  if (!utf8) return false;
  *text = Utf8ToWide(utf8);
  SDL_free(utf8);
  return true;
}
