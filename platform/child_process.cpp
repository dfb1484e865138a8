#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/text.h"

extern char** environ;

namespace {

constexpr int kKillGraceMs = 500;       // a child gets this long to end after SIGTERM
constexpr int kReapStepMs = 5;          // how often a stopping child is looked at
constexpr int kFirstInheritedFd = 3;    // descriptors above stdin, stdout and stderr
constexpr size_t kReadChunkBytes = 4096;

std::wstring SystemError(const char* step, int code) {
  return Utf8ToWide(std::string(step) + ": " + std::strerror(code));
}

}  // namespace

ChildProcess::~ChildProcess() {
  Kill();
  CloseOutput();
}

bool ChildProcess::Start(const std::vector<std::string>& arguments, std::wstring* error) {
  auto fail = [&](std::wstring text) {
    if (error) *error = std::move(text);
    return false;
  };
  if (pid_ != 0) return fail(L"the child was already started");
  if (arguments.empty() || arguments[0].empty()) return fail(L"no program to start");

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return fail(SystemError("pipe", errno));

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // Sockets, devices and files this process holds must not live on in the child.
  posix_spawn_file_actions_addclosefrom_np(&actions, kFirstInheritedFd);

  // The child starts with no signal blocked or ignored, whatever this process set up.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(pipeFds[1]);
  if (rc != 0) {
    close(pipeFds[0]);
    return fail(SystemError(arguments[0].c_str(), rc));
  }
  pid_ = pid;
  outputFd_ = pipeFds[0];
  ended_ = false;
  exitCode_ = -1;
  output_.clear();
  return true;
}

void ChildProcess::CloseOutput() {
  if (outputFd_ >= 0) close(outputFd_);
  outputFd_ = -1;
}

// Reads what the pipe holds, waiting up to waitMs for the first bytes or the end of the output.
void ChildProcess::ReadReady(int waitMs) {
  if (outputFd_ < 0) return;
  pollfd p{outputFd_, POLLIN, 0};
  if (poll(&p, 1, waitMs) <= 0) return;
  char buffer[kReadChunkBytes];
  for (;;) {
    const ssize_t n = read(outputFd_, buffer, sizeof buffer);
    if (n > 0) {
      const size_t room = kMaxChildOutputBytes - std::min(output_.size(), kMaxChildOutputBytes);
      output_.append(buffer, std::min(static_cast<size_t>(n), room));
      pollfd again{outputFd_, POLLIN, 0};
      if (poll(&again, 1, 0) <= 0) return;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    CloseOutput();  // end of the output, or a broken pipe
    return;
  }
}

// Collects the child's status when it has ended; with wait, blocks until it has.
bool ChildProcess::Reap(bool wait) {
  if (ended_ || pid_ == 0) return true;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &status, wait ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return false;
  ended_ = true;
  exitCode_ = (r > 0 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
  return true;
}

bool ChildProcess::Running(unsigned maxWaitMs) {
  if (pid_ == 0) return false;
  if (ended_) {
    ReadReady(0);
    return false;
  }
  if (outputFd_ >= 0) {
    ReadReady(static_cast<int>(maxWaitMs));
  } else if (!Reap(false)) {
    // The output is closed but the child lives on: nothing to poll, so wait in small steps.
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<unsigned>(maxWaitMs, kReapStepMs)));
  }
  if (!Reap(false)) return true;
  ReadReady(0);  // what it wrote just before it ended
  return false;
}

void ChildProcess::Kill() {
  if (pid_ == 0 || ended_) return;
  if (Reap(false)) return;
  kill(pid_, SIGTERM);
  for (int waited = 0; waited < kKillGraceMs; waited += kReapStepMs) {
    if (Reap(false)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(kReapStepMs));
  }
  kill(pid_, SIGKILL);
  Reap(true);
}
