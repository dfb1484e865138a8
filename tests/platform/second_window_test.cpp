// Second-screen windows on SDL's headless video driver: their input reaches their own handler and
// never the main window's loop, their timer paints them, and closing (by the owner, by the handler
// itself or all at once) tells the owner and drops what waited.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <vector>

#include "platform/clock.h"
#include "platform/second_window.h"
#include "platform/window.h"

namespace {

struct Seen {
  std::vector<SecondWindowEventKind> events;
  std::vector<int> keys;
  int paints = 0, closed = 0;
  bool closeOnKey = false;
  SecondWindow** handle = nullptr;
};

SecondWindowClient ClientFor(Seen* seen) {
  SecondWindowClient client;
  client.user = seen;
  client.draw = [](void* user, DrawSurface& target) {
    static_cast<Seen*>(user)->paints++;
    target.Clear(Rgba{1, 0, 0, 1});
  };
  client.event = [](void* user, SecondWindow* window, const SecondWindowEvent& e) {
    Seen* s = static_cast<Seen*>(user);
    s->events.push_back(e.kind);
    if (e.kind == SecondWindowEventKind::KeyDown) {
      s->keys.push_back(e.key);
      if (s->closeOnKey) CloseSecondWindow(window);
    }
  };
  client.closed = [](void* user) {
    Seen* s = static_cast<Seen*>(user);
    s->closed++;
    if (s->handle) *s->handle = nullptr;
  };
  return client;
}

struct Headless {
  Headless() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    std::wstring error;
    started = StartWindowing(&error) && OpenMainWindow(L"main", 800, 600);
  }
  ~Headless() {
    CloseAllSecondWindows();
    StopWindowing();
  }
  bool started = false;
};

void PushKey(Uint32 windowId, SDL_Keycode key) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.windowID = windowId;
  e.key.keysym.sym = key;
  e.key.keysym.scancode = SDL_GetScancodeFromKey(key);
  SDL_PushEvent(&e);
}

// Runs the main loop for a while as RunMessageLoop does; returns the main window's key events.
std::vector<int> RunLoop(unsigned ms) {
  std::vector<int> mainKeys;
  const uint64_t end = MonotonicMs() + ms;
  WindowEvent event;
  while (MonotonicMs() < end) {
    if (!NextWindowEvent(&event, 5)) break;
    if (event.kind == WindowEventKind::KeyDown) mainKeys.push_back(event.key);
    PumpSecondWindows();
  }
  return mainKeys;
}

Uint32 IdOf(SecondWindow* window) {
  return SDL_GetWindowID(reinterpret_cast<SDL_Window*>(SecondTopWindow(window)));
}

}  // namespace

TEST(SecondWindow, InputIsSetAsideTimerPaintsAndCloseTellsTheOwner) {
  Headless session;
  ASSERT_TRUE(session.started);
  Seen seen;
  SecondWindow* window = OpenSecondWindow(L"Second", {10, 10, 320, 180}, 16, ClientFor(&seen));
  ASSERT_NE(window, nullptr);
  seen.handle = &window;
  SDL_Window* main = SDL_GetWindowFromID(1);
  ASSERT_NE(main, nullptr);

  PushKey(IdOf(window), SDLK_F11);
  PushKey(SDL_GetWindowID(main), SDLK_F9);
  const std::vector<int> mainKeys = RunLoop(200);
  // Each key went to its own window only.
  EXPECT_EQ(mainKeys, std::vector<int>{0x78});
  EXPECT_EQ(seen.keys, std::vector<int>{0x7A});
  // About 12 ticks of 16 ms in 200 ms; a loaded machine may give fewer, never none.
  const long timers = std::count(seen.events.begin(), seen.events.end(), SecondWindowEventKind::Timer);
  EXPECT_GE(timers, 3);
  EXPECT_GE(seen.paints, 3);
  int w = 0, h = 0;
  SecondWindowClientSize(window, &w, &h);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 180);

  // The handler closes its own window from a key: the owner hears it once, and nothing else of
  // the window (its waiting timer events, a key behind the first) is handed over after it.
  seen.closeOnKey = true;
  const Uint32 id = IdOf(window);
  PushKey(id, SDLK_ESCAPE);
  PushKey(id, SDLK_F9);
  const size_t before = seen.events.size();
  RunLoop(100);
  EXPECT_EQ(window, nullptr);
  EXPECT_EQ(seen.closed, 1);
  ASSERT_EQ(seen.events.size(), before + 1);
  EXPECT_EQ(seen.keys.back(), 0x1B);
  const int paints = seen.paints;
  RunLoop(60);
  EXPECT_EQ(seen.paints, paints);
  CloseSecondWindow(window);  // null: nothing
  EXPECT_EQ(seen.closed, 1);
}

TEST(SecondWindow, CloseAllClosesEveryWindowOnce) {
  Headless session;
  ASSERT_TRUE(session.started);
  Seen a, b;
  SecondWindow* first = OpenSecondWindow(L"A", {0, 0, 100, 100}, 0, ClientFor(&a));
  SecondWindow* second = OpenSecondWindow(L"B", {0, 0, 100, 100}, 10, ClientFor(&b));
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(SecondWindowOpen(first));
  CloseAllSecondWindows();
  EXPECT_FALSE(SecondWindowOpen(first));
  EXPECT_FALSE(SecondWindowOpen(second));
  EXPECT_EQ(a.closed, 1);
  EXPECT_EQ(b.closed, 1);
  RunLoop(50);  // a timer that fired meanwhile finds no window
  EXPECT_EQ(b.paints, 0);
}
