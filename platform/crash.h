#pragma once
// The operating-system side of the crash reporter: fatal-signal handlers on an alternate stack,
// stack capture that allocates nothing (libunwind), a forked child for the work that must
// allocate, and code-address look-up through the debug information (libdw) for that child.
#include <cstdint>
#include <string>

inline constexpr int kMaxCrashFrames = 24;

// A fatal error as seen at the moment it happens; filled without allocating.
struct FatalEvent {
  int signal = 0;                // 0: no signal (std::terminate, a pure virtual call)
  int signalCode = 0;            // si_code
  uintptr_t faultAddress = 0;    // si_addr for a fault the kernel raised, else 0
  uintptr_t faultPc = 0;         // the interrupted instruction, 0 when unknown
  unsigned long threadId = 0;
  int frameCount = 0;
  uintptr_t frames[kMaxCrashFrames] = {};
  bool firstFrameIsFault = false;  // frames[0] is faultPc rather than a return address
};

// Runs on the faulting thread inside the signal handler, so only async-signal-safe calls until
// it forks. Should not return; when it does, the process ends with 128 + the signal number.
using FatalSignalCallback = void (*)(FatalEvent* event);

// Catches SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT. The calling thread (the UI thread) gets
// an alternate signal stack, so its stack overflowing is still reported; other threads report
// on their own stacks.
void InstallFatalSignalHandlers(FatalSignalCallback callback);
// Routes pure virtual calls to the handler, which must not return.
void SetPureVirtualCallHandler(void (*handler)());
// Fills threadId and frames from the caller's stack, the caller first. Async-signal-safe.
void CaptureCallerStack(FatalEvent* event);
// "SIGSEGV" and the like; "signal" for one not caught here.
const char* SignalName(int signal);

// Runs body(arg) in a forked copy of the process (holding only the calling thread, with the
// default fatal-signal actions) and waits for it at most timeoutMs, then kills it. True when
// body returned true in time. Async-signal-safe on the calling side.
bool RunInForkedChild(bool (*body)(void*), void* arg, unsigned timeoutMs);
// Ends the process now: no exit handlers, no flushing.
[[noreturn]] void ExitProcessNow(int code);
// Parks a thread that failed while another one is reporting.
[[noreturn]] void SleepForever();
// Creates or truncates an empty file; true on success. Async-signal-safe.
bool CreateEmptyFile(const char* path);

// Where a code address lies. Allocates: for the forked child and ordinary code only.
struct CodeLocation {
  std::wstring module;    // file name of the holding module, empty when none holds it
  uint64_t offset = 0;    // from the module's start; the bare address when no module holds it
  std::wstring function;  // demangled, empty when unknown
  std::wstring file;      // source file name without its folder, empty when unknown
  unsigned line = 0;
};
// A return address is looked up one byte earlier so that a call at the very end of a function
// is not credited to the next one.
CodeLocation LookUpCode(uintptr_t address, bool isReturnAddress);
// The process's memory map (/proc/self/maps) as text; empty when unreadable.
std::string ProcessMemoryMap();
