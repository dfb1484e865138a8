// The window layer's X error handling on a real X server (Xvfb): an event sent to a window that
// has just closed must not end the program; every other error still reaches Xlib's handler.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/window.h"

// After our headers: Xlib defines None and Status as macros.
#include <X11/Xlib.h>

namespace {

constexpr const char* kXvfb = "/usr/bin/Xvfb";
constexpr Window kClosedWindow = 0x3FFFFE;  // an id the server never handed out

// A private Xvfb; its display name comes back on a pipe (-displayfd), so no number is guessed.
// -noreset: on a reset (last client gone) it would write that pipe again, find it closed and quit.
class PrivateXServer {
 public:
  PrivateXServer() {
    int fds[2];
    if (access(kXvfb, X_OK) != 0 || pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      execl(kXvfb, kXvfb, "-displayfd", fd.c_str(), "-screen", "0", "320x240x24", "-nolisten", "tcp",
            "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~PrivateXServer() {
    if (pid_ > 0) kill(pid_, SIGTERM), waitpid(pid_, nullptr, 0);
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// In the death test's child: the window layer started on the server, then one request on a
// connection of our own that the server refuses with BadWindow; exits 0 if the program lives on.
void RefusedRequest(const std::string& display, bool sendEvent) {
  setenv("DISPLAY", display.c_str(), 1);
  unsetenv("SDL_VIDEODRIVER");
  unsetenv("WAYLAND_DISPLAY");
  std::wstring error;
  if (!StartWindowing(&error)) _exit(3);
  Display* connection = XOpenDisplay(display.c_str());
  if (!connection) _exit(4);
  if (sendEvent) {
    XEvent wake{};
    wake.xclient.type = ClientMessage;
    wake.xclient.window = kClosedWindow;
    wake.xclient.format = 32;
    XSendEvent(connection, kClosedWindow, False, NoEventMask, &wake);
  } else {
    XMapWindow(connection, kClosedWindow);
  }
  XSync(connection, False);
  std::_Exit(0);
}

}  // namespace

TEST(XErrorsDeathTest, AWakeupSentToAClosedWindowIsDroppedAndOtherErrorsStillEndTheProgram) {
  PrivateXServer server;
  if (server.display().empty()) GTEST_SKIP() << "no Xvfb to run against";
  EXPECT_EXIT(RefusedRequest(server.display(), true), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(RefusedRequest(server.display(), false), testing::ExitedWithCode(1), "BadWindow");
}
