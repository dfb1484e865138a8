// The window layer on SDL's own headless video driver: timers, wake-ups from other threads, paint
// ordering and the end of the loop; the window procedure's input record and file drops; the key
// table.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "base/status_message.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "platform/ui_post.h"
#include "platform/window.h"
#include "screens/layout.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"

namespace {

using namespace std::chrono_literals;

// One headless window for the test; gone with the object.
struct HeadlessWindow {
  HeadlessWindow() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    std::wstring error;
    started = StartWindowing(&error) && OpenMainWindow(L"test", 1000, 600);
  }
  ~HeadlessWindow() { StopWindowing(); }
  bool started = false;
};

// Events until `limit` passes; Paint and None are left out.
std::vector<WindowEvent> EventsFor(std::chrono::milliseconds limit) {
  std::vector<WindowEvent> events;
  const auto end = std::chrono::steady_clock::now() + limit;
  WindowEvent e;
  while (std::chrono::steady_clock::now() < end && NextWindowEvent(&e, 5)) {
    if (e.kind != WindowEventKind::None && e.kind != WindowEventKind::Paint) events.push_back(e);
  }
  return events;
}

size_t CountKind(const std::vector<WindowEvent>& events, WindowEventKind kind) {
  size_t n = 0;
  for (const WindowEvent& e : events) n += e.kind == kind;
  return n;
}

}  // namespace

TEST(WindowLoop, TimersTickWithoutPilingUpAndStopWhenKilled) {
  HeadlessWindow window;
  ASSERT_TRUE(window.started);
  SetWindowTimer(1, 10);
  std::this_thread::sleep_for(150ms);  // many periods pass while nobody reads
  std::vector<WindowEvent> waiting;
  WindowEvent e;
  while (NextWindowEvent(&e, 0) && e.kind != WindowEventKind::None)
    if (e.kind == WindowEventKind::Timer) waiting.push_back(e);
  ASSERT_GE(waiting.size(), 1u);
  EXPECT_LE(waiting.size(), 2u) << "a waiting timer event must not be repeated";
  EXPECT_EQ(waiting.front().timerId, 1);

  auto events = EventsFor(100ms);
  EXPECT_GE(CountKind(events, WindowEventKind::Timer), 2u) << "it keeps ticking while read";

  KillWindowTimer(1);
  EventsFor(20ms);
  EXPECT_EQ(CountKind(EventsFor(80ms), WindowEventKind::Timer), 0u);
}

// The loop keeps its timers itself: a long wait ends when one is due, each keeps its own
// period, and a timer killed while its event waits in the queue is not heard from again.
TEST(WindowLoop, TimersEndTheWaitKeepTheirPeriodsAndAKilledOnesEventIsDropped) {
  HeadlessWindow window;
  ASSERT_TRUE(window.started);
  SetWindowTimer(1, 20);
  SetWindowTimer(2, 200);
  const auto began = std::chrono::steady_clock::now();
  WindowEvent e;
  do {
    ASSERT_TRUE(NextWindowEvent(&e, 5000));
  } while (e.kind != WindowEventKind::Timer);
  EXPECT_EQ(e.timerId, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - began, 4000ms) << "the wait ended for the timer, not its limit";

  size_t fast = 0, slow = 0;
  for (int round = 0; round < 100 && slow < 2; ++round) {
    const auto events = EventsFor(50ms);
    for (const WindowEvent& t : events) {
      fast += t.kind == WindowEventKind::Timer && t.timerId == 1;
      slow += t.kind == WindowEventKind::Timer && t.timerId == 2;
    }
  }
  EXPECT_GE(slow, 2u);
  EXPECT_GE(fast, slow) << "the 20 ms timer comes at least as often as the 200 ms one";

  std::this_thread::sleep_for(250ms);  // both are due: the first read queues both events
  ASSERT_TRUE(NextWindowEvent(&e, 0));
  ASSERT_EQ(e.kind, WindowEventKind::Timer);
  EXPECT_EQ(e.timerId, 1);
  KillWindowTimer(2);  // its event is waiting in the queue
  KillWindowTimer(1);
  size_t after = 0;
  for (const WindowEvent& t : EventsFor(300ms)) after += t.kind == WindowEventKind::Timer;
  EXPECT_EQ(after, 0u) << "a killed timer's waiting event was delivered";
}

TEST(WindowLoop, NoticesFromOtherThreadsWakeTheLoopAndMerge) {
  HeadlessWindow window;
  ASSERT_TRUE(window.started);
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t)
    posters.emplace_back([] {
      for (int i = 0; i < 200; ++i) PostWindowNotice(WindowNotice::UiPosts);
    });
  for (auto& p : posters) p.join();
  PostWindowNotice(WindowNotice::HandOff);
  const auto events = EventsFor(50ms);
  size_t posts = 0, handOffs = 0;
  for (const WindowEvent& e : events) {
    posts += e.kind == WindowEventKind::Notice && e.notice == WindowNotice::UiPosts;
    handOffs += e.kind == WindowEventKind::Notice && e.notice == WindowNotice::HandOff;
  }
  EXPECT_EQ(posts, 1u) << "800 posts while one notice waited make one notice";
  EXPECT_EQ(handOffs, 1u);

  // A wait ends early when a notice arrives.
  std::thread late([] {
    std::this_thread::sleep_for(30ms);
    PostWindowNotice(WindowNotice::DeviceChange);
  });
  const auto began = std::chrono::steady_clock::now();
  WindowEvent e;
  do {
    ASSERT_TRUE(NextWindowEvent(&e, 2000));
  } while (e.kind == WindowEventKind::None || e.kind == WindowEventKind::Paint);
  late.join();
  EXPECT_EQ(e.kind, WindowEventKind::Notice);
  EXPECT_EQ(e.notice, WindowNotice::DeviceChange);
  EXPECT_LT(std::chrono::steady_clock::now() - began, 1000ms);
}

TEST(WindowLoop, PaintComesOnlyWhenNothingElseWaitsAndQuitEndsTheLoop) {
  HeadlessWindow window;
  ASSERT_TRUE(window.started);
  EventsFor(20ms);  // settle
  WindowEvent e;
  ASSERT_TRUE(NextWindowEvent(&e, 0));
  EXPECT_NE(e.kind, WindowEventKind::Paint) << "nothing was invalidated";

  InvalidateWindow();
  PostWindowNotice(WindowNotice::UiPosts);
  std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(NextWindowEvent(&e, 100));
  EXPECT_EQ(e.kind, WindowEventKind::Notice);
  ASSERT_TRUE(NextWindowEvent(&e, 100));
  EXPECT_EQ(e.kind, WindowEventKind::Paint);
  ASSERT_TRUE(NextWindowEvent(&e, 0));
  EXPECT_NE(e.kind, WindowEventKind::Paint) << "taking the paint validated the window";

  PostQuit(3);
  EXPECT_FALSE(NextWindowEvent(&e, 100));
  EXPECT_EQ(QuitCode(), 3);
}

TEST(WindowProc, MouseMessagesFillTheInputRecordInDeviceIndependentPixels) {
  HeadlessWindow window;
  ASSERT_TRUE(window.started);
  Input = UiInput{};
  UiScale = 1.5f;
  WindowEvent e;
  e.kind = WindowEventKind::LeftDown;
  e.x = 300;
  e.y = -15;
  e.doubleClick = true;
  MainWndProc(e);
  EXPECT_FLOAT_EQ(Input.x, 200.0f);
  EXPECT_FLOAT_EQ(Input.y, -10.0f);
  EXPECT_TRUE(Input.held && Input.pressed && Input.doubleClicked);

  e = WindowEvent{};
  e.kind = WindowEventKind::CaptureLost;
  MainWndProc(e);
  EXPECT_FALSE(Input.held);
  EXPECT_TRUE(Input.released) << "a lost capture ends the press";

  e.kind = WindowEventKind::Wheel;
  e.wheel = 1.0f;
  MainWndProc(e);
  e.wheel = -0.5f;
  MainWndProc(e);
  EXPECT_FLOAT_EQ(Input.wheel, 0.5f);

  e = WindowEvent{};
  e.kind = WindowEventKind::RightDown;
  e.x = 30;
  e.y = 45;
  MainWndProc(e);
  EXPECT_TRUE(Input.rightPressed);
  EXPECT_FLOAT_EQ(Input.x, 20.0f);

  e = WindowEvent{};
  e.kind = WindowEventKind::Paint;
  MainWndProc(e);  // a drawn frame clears the one-frame fields
  EXPECT_FALSE(Input.pressed || Input.released || Input.rightPressed || Input.doubleClicked);
  EXPECT_FLOAT_EQ(Input.wheel, 0.0f);
  EXPECT_FLOAT_EQ(Input.x, 20.0f) << "the position stays";
  UiScale = 1.0f;
  Input = UiInput{};
}

TEST(WindowProc, AMoveAfterAClickInOneFrameWaitsForTheNextFrame) {
  HeadlessWindow window;
  ASSERT_TRUE(window.started);
  Input = UiInput{};
  auto send = [](WindowEventKind kind, float x) {
    WindowEvent e;
    e.kind = kind;
    e.x = x;
    e.y = 40;
    MainWndProc(e);
  };
  // Press and drag arrive before one frame: that frame must see the press where it happened.
  send(WindowEventKind::LeftDown, 100);
  send(WindowEventKind::MouseMove, 130);
  send(WindowEventKind::MouseMove, 160);
  EXPECT_TRUE(Input.pressed);
  EXPECT_FLOAT_EQ(Input.x, 100.0f);
  send(WindowEventKind::Paint, 0);
  EXPECT_FLOAT_EQ(Input.x, 160.0f) << "the next frame sees the drag";
  EXPECT_TRUE(Input.held);

  // Without a click in the frame a move lands at once.
  send(WindowEventKind::MouseMove, 170);
  EXPECT_FLOAT_EQ(Input.x, 170.0f);
  // A quick click: press, move, release in one frame still clicks where it was pressed.
  send(WindowEventKind::LeftUp, 0);
  send(WindowEventKind::Paint, 0);
  send(WindowEventKind::LeftDown, 50);
  send(WindowEventKind::MouseMove, 60);
  send(WindowEventKind::LeftUp, 0);
  EXPECT_FLOAT_EQ(Input.x, 50.0f);
  EXPECT_TRUE(Input.pressed && Input.released);
  send(WindowEventKind::Paint, 0);
  EXPECT_FLOAT_EQ(Input.x, 60.0f);
  Input = UiInput{};
}

TEST(WindowProc, ADroppedFileLoadsTheDeckOfItsHalfOfTheWindow) {
  TempHome home;
  HeadlessWindow window;
  ASSERT_TRUE(window.started);
  const std::wstring file = home.wpath() + L"/drop.wav";
  WriteRaw(home.path() + "/drop.wav", "RIFF");
  int width = 0;
  WindowClientSize(&width, nullptr);
  ASSERT_GT(width, 0);
  ResetDecksForTest();
  Screen = ScreenLayout{};  // no frame drawn yet: the halves of the window decide

  WindowEvent e;
  e.kind = WindowEventKind::DropFile;
  e.path = file;
  e.x = static_cast<float>(width / 2);  // the middle already counts as the right half
  MainWndProc(e);
  EXPECT_TRUE(LiveDeckViews[1].loading);
  EXPECT_EQ(LiveDeckViews[1].title, L"drop.wav");
  EXPECT_FALSE(LiveDeckViews[0].loading);

  e.x = static_cast<float>(width / 2 - 1);
  MainWndProc(e);
  EXPECT_TRUE(LiveDeckViews[0].loading);

  // A folder goes to the library, never onto a deck.
  LiveDeckViews[0] = DeckView{};
  e.path = home.wpath();
  MainWndProc(e);
  EXPECT_FALSE(LiveDeckViews[0].loading);
  ResetDecksForTest();
}

TEST(WindowProc, CompletionsReachTheirHandlersThroughTheWakeUp) {
  HeadlessWindow window;
  ASSERT_TRUE(window.started);
  OpenUiPosts([] { PostWindowNotice(WindowNotice::UiPosts); });
  Status = StatusLine{};
  std::thread worker([] {
    EXPECT_TRUE(PostToUi(9, 0, new UiText(L"Export finished")));
    EXPECT_TRUE(PostToUi(3, 1, nullptr));  // nothing handles it yet: dropped
  });
  worker.join();
  WindowEvent e;
  do {
    ASSERT_TRUE(NextWindowEvent(&e, 1000));
  } while (e.kind != WindowEventKind::Notice);
  EXPECT_EQ(e.notice, WindowNotice::UiPosts);
  MainWndProc(e);
  EXPECT_EQ(Status.text, L"Export finished");
  CloseUiPosts([](const UiPost& post) { ADD_FAILURE() << "post " << post.message << " left behind"; });
  Status = StatusLine{};
}

namespace {

std::atomic<bool> saveStarted{false};
const char* savedMark = nullptr;

void SlowSave() {
  saveStarted = true;
  usleep(300000);
  if (FILE* f = std::fopen(savedMark, "w")) std::fclose(f);
}
void SaveThatBreaksAgain() { DisplayConnectionBroken(); }

// Runs body in a child process; its exit code (-1 when it did not exit) and seconds taken.
int InChild(void (*body)(), double* seconds) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    body();
    _exit(3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

// The display going away is noticed by two threads: the second waits for the first one's save
// instead of ending the process halfway through it; a break the save itself runs into ends the
// process at once instead of waiting for itself.
TEST(DisplayLost, ASecondBreakWaitsForTheSaveAndTheSavingThreadNeverWaitsForItself) {
  char mark[] = "/tmp/veldmix-display-lost-XXXXXX";
  const int fd = mkstemp(mark);
  ASSERT_GE(fd, 0);
  close(fd);
  unlink(mark);
  savedMark = mark;
  double seconds = 0;
  const int code = InChild(
      [] {
        OnDisplayLost(SlowSave);
        std::thread first([] { DisplayConnectionBroken(); });
        while (!saveStarted) usleep(1000);
        std::thread second([] { DisplayConnectionBroken(); });
        first.join();
        second.join();
      },
      &seconds);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(access(mark, F_OK), 0) << "the second break ended the process before the save was written";
  unlink(mark);

  EXPECT_EQ(InChild(
                [] {
                  OnDisplayLost(SaveThatBreaksAgain);
                  DisplayConnectionBroken();
                },
                &seconds),
            1);
  EXPECT_LT(seconds, 5.0) << "the saving thread waited for itself";
}
