#include "platform/signals.h"

#include <atomic>
#include <csignal>

namespace {

// Lock-free atomics are the only shared state a handler may touch.
std::atomic<int> g_request{static_cast<int>(StopRequest::None)};
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need a lock-free flag");

void OnStopSignal(int signal) {
  const StopRequest wanted = signal == SIGHUP ? StopRequest::SessionEnd : StopRequest::Close;
  int seen = g_request.load(std::memory_order_relaxed);
  // Never downgrade a pending session end to a close.
  while (seen < static_cast<int>(wanted) &&
         !g_request.compare_exchange_weak(seen, static_cast<int>(wanted), std::memory_order_relaxed)) {
  }
}

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

StopRequest TakeStopRequest() {
  return static_cast<StopRequest>(g_request.exchange(static_cast<int>(StopRequest::None), std::memory_order_relaxed));
}
