// Full screen and the second monitor: which monitor a window is on and which one is "the other",
// the fallbacks without monitors, and the switch to full screen and back on SDL's headless video
// driver (one 1024 x 768 display, which keeps no frames: the frame itself is checked on a real
// display by tests/e2e/popup_fullscreen.sh).
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/monitors.h"
#include "platform/window.h"
#include "ui/full_screen.h"

namespace {

MonitorInfo Monitor(int x, int y, int w, int h, int panel = 0) { return {{x, y, w, h}, {x, y, w, h - panel}}; }

bool Same(const PixelRect& a, const PixelRect& b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; }

struct HeadlessSession {
  HeadlessSession() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    std::wstring error;
    started = StartWindowing(&error) && OpenMainWindow(L"full screen test", 800, 600);
  }
  ~HeadlessSession() { StopWindowing(); }
  bool started = false;
};

}  // namespace

TEST(MonitorPick, TheFirstOtherMonitorInTheDesktopsOrderNotTheLargest) {
  const std::vector<MonitorInfo> three = {Monitor(0, 0, 1920, 1080), Monitor(1920, 0, 1280, 1024),
                                          Monitor(-3840, 0, 3840, 2160)};
  EXPECT_EQ(PickSecondMonitor(three, 0), 1);
  EXPECT_EQ(PickSecondMonitor(three, 1), 0);
  EXPECT_EQ(PickSecondMonitor(three, 2), 0);
  EXPECT_EQ(PickSecondMonitor({Monitor(0, 0, 1920, 1080)}, 0), -1);
  EXPECT_EQ(PickSecondMonitor({}, -1), -1);
}

TEST(MonitorPick, AWindowIsOnTheMonitorThatHoldsMostOfIt) {
  const std::vector<MonitorInfo> pair = {Monitor(0, 0, 1920, 1080), Monitor(1920, 0, 1280, 1024)};
  EXPECT_EQ(MonitorNearestRect(pair, {100, 100, 800, 600}), 0);
  EXPECT_EQ(MonitorNearestRect(pair, {1800, 100, 800, 600}), 1);  // 680 of 800 columns on the right
  EXPECT_EQ(MonitorNearestRect(pair, {1500, 100, 800, 600}), 0);
  // Off every monitor: the nearest one.
  EXPECT_EQ(MonitorNearestRect(pair, {4000, 100, 100, 100}), 1);
  EXPECT_EQ(MonitorNearestRect(pair, {-900, -900, 100, 100}), 0);
  // Heads that lie on each other (a multi-screen virtual server): the one centred nearer wins.
  const std::vector<MonitorInfo> stacked = {Monitor(0, 0, 1920, 1080), Monitor(0, 0, 1024, 768)};
  EXPECT_EQ(MonitorNearestRect(stacked, {0, 0, 1024, 768}), 1);
  EXPECT_EQ(MonitorNearestRect(stacked, {400, 200, 800, 600}), 0);
  EXPECT_EQ(MonitorNearestRect({}, {0, 0, 10, 10}), -1);

  EXPECT_EQ(MonitorNearestPoint(pair, 1919, 500), 0);
  EXPECT_EQ(MonitorNearestPoint(pair, 1920, 500), 1);
  EXPECT_EQ(MonitorNearestPoint(pair, 3000, 1050), 1);  // below the shorter monitor: still nearest
  EXPECT_EQ(MonitorNearestPoint({}, 0, 0), -1);
}

TEST(FullScreenMonitors, WithoutADisplayTheFixedRectangleIsUsed) {
  EXPECT_TRUE(ListMonitors().empty());
  PixelRect out{1, 2, 3, 4};
  EXPECT_FALSE(SecondMonitorRect(nullptr, &out));
  EXPECT_TRUE(Same(out, PixelRect{100, 100, 960, 540}));  // 100,100 - 1060,640
  EXPECT_EQ(MainTopWindow(), nullptr);
  ToggleFullScreen();  // nothing to switch
  EXPECT_FALSE(MainWindowFullScreen());
}

TEST(FullScreenMonitors, WithOneMonitorTheWindowsOwnWorkAreaComesBack) {
  HeadlessSession session;
  ASSERT_TRUE(session.started);
  const std::vector<MonitorInfo> monitors = ListMonitors();
  ASSERT_EQ(monitors.size(), 1u);
  TopWindow* main = MainTopWindow();
  ASSERT_NE(main, nullptr);
  PixelRect out;
  EXPECT_FALSE(SecondMonitorRect(main, &out));
  EXPECT_TRUE(Same(out, monitors[0].workArea));
}

TEST(FullScreenSwitch, CoversTheMonitorAndComesBackToExactlyTheEarlierPlace) {
  HeadlessSession session;
  ASSERT_TRUE(session.started);
  TopWindow* main = MainTopWindow();
  ASSERT_NE(main, nullptr);
  const PixelRect before{37, 41, 700, 500};
  PlaceTopWindow(main, before);
  PixelRect now;
  ASSERT_TRUE(TopWindowRect(main, &now));
  ASSERT_TRUE(Same(now, before));

  ToggleFullScreen();
  EXPECT_TRUE(MainWindowFullScreen());
  ASSERT_TRUE(TopWindowRect(main, &now));
  EXPECT_TRUE(Same(now, ListMonitors()[0].bounds));  // the whole monitor, not its work area

  ToggleFullScreen();
  EXPECT_FALSE(MainWindowFullScreen());
  ASSERT_TRUE(TopWindowRect(main, &now));
  EXPECT_TRUE(Same(now, before));
}

TEST(FullScreenSwitch, TheCallerKeepsOnePlacementPerWindow) {
  HeadlessSession session;
  ASSERT_TRUE(session.started);
  TopWindow* main = MainTopWindow();
  ASSERT_NE(main, nullptr);
  PlaceTopWindow(main, {10, 20, 640, 480});
  WindowPlacement saved;
  SetFullScreen(main, true, &saved);
  ASSERT_TRUE(saved.valid);
  EXPECT_TRUE(Same(saved.normal, PixelRect{10, 20, 640, 480}));
  EXPECT_TRUE(saved.bordered);
  EXPECT_FALSE(saved.maximised);
  // Leaving without a saved placement leaves the size and place alone.
  WindowPlacement empty;
  SetFullScreen(main, false, &empty);
  PixelRect now;
  ASSERT_TRUE(TopWindowRect(main, &now));
  EXPECT_TRUE(Same(now, ListMonitors()[0].bounds));
  SetFullScreen(main, false, &saved);
  ASSERT_TRUE(TopWindowRect(main, &now));
  EXPECT_TRUE(Same(now, PixelRect{10, 20, 640, 480}));
  SetFullScreen(nullptr, true, &saved);  // harmless
}
