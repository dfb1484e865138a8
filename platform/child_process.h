#pragma once
// A program run as a child process without a shell: its arguments are passed as they are, its
// standard output is collected, its standard input and error are /dev/null. The caller polls it
// (Running) so that its own loop keeps going. One thread uses one object.
#include <cstddef>
#include <string>
#include <vector>

// Standard output beyond this is dropped: children answer with a line, not a file.
inline constexpr size_t kMaxChildOutputBytes = size_t(1) << 20;

class ChildProcess {
 public:
  ChildProcess() = default;
  // A child still running is stopped (Kill).
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts arguments[0], looked up on PATH, with the rest as its arguments and this process's
  // environment. False with *error when it could not be started (no such program, no arguments,
  // already started).
  bool Start(const std::vector<std::string>& arguments, std::wstring* error);
  // Collects the output that is ready and tells whether the child still runs, waiting at most
  // maxWaitMs for output or its end. False once it has ended (or was never started).
  bool Running(unsigned maxWaitMs);
  // Stops a running child (SIGTERM, then SIGKILL after a short grace) and reaps it.
  void Kill();

  // The process id while running or after; 0 before Start.
  int Pid() const { return pid_; }
  // After the end: the exit status, or -1 when a signal ended it.
  int ExitCode() const { return exitCode_; }
  // Everything it wrote to standard output so far (at most kMaxChildOutputBytes).
  const std::string& Output() const { return output_; }

 private:
  void ReadReady(int waitMs);
  bool Reap(bool wait);
  void CloseOutput();

  int pid_ = 0;
  int outputFd_ = -1;
  bool ended_ = false;
  int exitCode_ = -1;
  std::string output_;
};
