#include "platform/crash.h"

#define UNW_LOCAL_ONLY
#include <cxxabi.h>
#include <elfutils/libdwfl.h>
#include <fcntl.h>
#include <libunwind.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <mutex>

#include "platform/files.h"
#include "platform/system_info.h"
#include "platform/text.h"

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
// Big enough for the forked child, which runs on it too when the UI thread crashed and then
// symbolises with libdw; only the pages touched are ever backed.
constexpr size_t kAltStackBytes = size_t(1) << 20;
constexpr size_t kGuardBytes = 4096;
constexpr long kChildPollNs = 5'000'000;
// Exit code of a report child whose body threw.
constexpr int kChildFailed = 1;
// The report child's own stack: symbolising with libdw needs far more than a signal stack,
// and a crashed worker may be running on a small one set up by another library.
constexpr size_t kChildStackBytes = size_t(8) << 20;

std::atomic<FatalSignalCallback> g_callback{nullptr};
std::atomic<void (*)()> g_pureVirtualHandler{nullptr};
void* g_altStack = nullptr;

void OnFatalSignal(int signal, siginfo_t* info, void* context) {
  FatalEvent event;
  event.signal = signal;
  event.threadId = CurrentThreadId();
  if (info) {
    event.signalCode = info->si_code;
    // Only a kernel-raised fault (si_code > 0) carries an address; for kill() it is the sender.
    if (info->si_code > 0) event.faultAddress = reinterpret_cast<uintptr_t>(info->si_addr);
  }
  unw_cursor_t cursor;
  if (context && unw_init_local2(&cursor, static_cast<unw_context_t*>(context), UNW_INIT_SIGNAL_FRAME) == 0) {
    do {
      unw_word_t ip = 0;
      if (unw_get_reg(&cursor, UNW_REG_IP, &ip) != 0 || ip == 0) break;
      event.frames[event.frameCount++] = static_cast<uintptr_t>(ip);
    } while (event.frameCount < kMaxCrashFrames && unw_step(&cursor) > 0);
  }
  if (event.frameCount > 0) {
    event.faultPc = event.frames[0];
    event.firstFrameIsFault = true;
  }
  FatalSignalCallback callback = g_callback.load();
  if (callback) callback(&event);
  _exit(128 + signal);
}

void GiveThreadAltStack() {
  if (!g_altStack) {
    void* block = mmap(nullptr, kAltStackBytes + kGuardBytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (block == MAP_FAILED) return;
    // Stacks grow down: an overflow of the handler lands on the guard page, not on other data.
    mprotect(block, kGuardBytes, PROT_NONE);
    g_altStack = static_cast<char*>(block) + kGuardBytes;
  }
  stack_t stack{};
  stack.ss_sp = g_altStack;
  stack.ss_size = kAltStackBytes;
  sigaltstack(&stack, nullptr);
}

long long MonotonicNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

// In the report child: a fault must end the child at once rather than re-enter the reporter.
void RestoreDefaultFatalActions() {
  sigset_t fatal;
  sigemptyset(&fatal);
  for (int signal : kFatalSignals) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigaddset(&fatal, signal);
  }
  sigprocmask(SIG_UNBLOCK, &fatal, nullptr);
}

// libdw state, kept for the process that made it; Dwfl is not thread-safe.
std::mutex g_symbolsLock;
Dwfl* g_symbols = nullptr;
pid_t g_symbolsPid = 0;

Dwfl* OpenSymbols() {
  static char* debuginfoPath = nullptr;
  static const Dwfl_Callbacks callbacks = {
      .find_elf = dwfl_linux_proc_find_elf,
      .find_debuginfo = dwfl_standard_find_debuginfo,
      .section_address = nullptr,
      .debuginfo_path = &debuginfoPath,
  };
  Dwfl* dwfl = dwfl_begin(&callbacks);
  if (!dwfl) return nullptr;
  dwfl_report_begin(dwfl);
  if (dwfl_linux_proc_report(dwfl, getpid()) != 0 || dwfl_report_end(dwfl, nullptr, nullptr) != 0) {
    dwfl_end(dwfl);
    return nullptr;
  }
  return dwfl;
}

// Drops the session of another process (a forked child inherits its parent's) or a stale one.
Dwfl* Symbols(bool refresh) {
  if (g_symbols && (refresh || g_symbolsPid != getpid())) {
    dwfl_end(g_symbols);
    g_symbols = nullptr;
  }
  if (!g_symbols) {
    g_symbols = OpenSymbols();
    g_symbolsPid = getpid();
  }
  return g_symbols;
}

std::wstring Demangle(const char* name) {
  int status = 0;
  char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::wstring text = Utf8ToWide(status == 0 && plain ? plain : name);
  std::free(plain);
  return text;
}

std::wstring AfterLastSlash(const char* path) {
  std::string_view p(path);
  std::string_view::size_type slash = p.rfind('/');
  return Utf8ToWide(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

}  // namespace

// The C++ runtime calls this for a call through a pure virtual slot; defining it here replaces
// the runtime's own, which only prints and terminates without saying why.
extern "C" void __cxa_pure_virtual() {
  void (*handler)() = g_pureVirtualHandler.load();
  if (handler) handler();
  static const char kMessage[] = "pure virtual function call\n";
  [[maybe_unused]] ssize_t written = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  std::terminate();
}

void InstallFatalSignalHandlers(FatalSignalCallback callback) {
  g_callback.store(callback);
  GiveThreadAltStack();
  for (int signal : kFatalSignals) {
    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

void SetPureVirtualCallHandler(void (*handler)()) { g_pureVirtualHandler.store(handler); }

[[gnu::noinline]] void CaptureCallerStack(FatalEvent* event) {
  event->threadId = CurrentThreadId();
  event->frameCount = 0;
  event->firstFrameIsFault = false;
  unw_context_t context;
  unw_cursor_t cursor;
  if (unw_getcontext(&context) != 0 || unw_init_local(&cursor, &context) != 0) return;
  // The first step leaves this function, so the caller is frame 0.
  while (event->frameCount < kMaxCrashFrames && unw_step(&cursor) > 0) {
    unw_word_t ip = 0;
    if (unw_get_reg(&cursor, UNW_REG_IP, &ip) != 0 || ip == 0) break;
    event->frames[event->frameCount++] = static_cast<uintptr_t>(ip);
  }
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
  }
}

namespace {

bool (*g_childBody)(void*) = nullptr;
void* g_childArg = nullptr;

[[noreturn]] void RunChildBody() {
  bool ok = false;
  try {
    ok = g_childBody(g_childArg);
  } catch (...) {
    _exit(kChildFailed);
  }
  _exit(ok ? 0 : kChildFailed);
}

}  // namespace

bool RunInForkedChild(bool (*body)(void*), void* arg, unsigned timeoutMs) {
  // _Fork skips the fork handlers and malloc's fork locks, either of which could deadlock when
  // the crash happened inside them; the child may still block, which the timeout covers.
  pid_t child = _Fork();
  if (child < 0) return false;
  if (child == 0) {
    RestoreDefaultFatalActions();
    // libdw would ask a debuginfod server for missing symbols: a report never waits on the network.
    unsetenv("DEBUGINFOD_URLS");
    g_childBody = body;
    g_childArg = arg;
    void* stack = mmap(nullptr, kChildStackBytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    ucontext_t here;
    ucontext_t there;
    if (stack != MAP_FAILED && getcontext(&there) == 0) {
      there.uc_stack.ss_sp = stack;
      there.uc_stack.ss_size = kChildStackBytes;
      there.uc_link = nullptr;
      makecontext(&there, RunChildBody, 0);
      swapcontext(&here, &there);
    }
    RunChildBody();  // no stack of its own: try on the one it has
  }
  const long long deadline = MonotonicNs() + static_cast<long long>(timeoutMs) * 1'000'000LL;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (done < 0 && errno != EINTR) return false;
    if (MonotonicNs() >= deadline) {
      kill(child, SIGKILL);
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
      return false;
    }
    timespec pause{0, kChildPollNs};
    nanosleep(&pause, nullptr);
  }
}

void ExitProcessNow(int code) { _exit(code); }

void SleepForever() {
  for (;;) pause();
}

bool CreateEmptyFile(const char* path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  return close(fd) == 0;
}

CodeLocation LookUpCode(uintptr_t address, bool isReturnAddress) {
  CodeLocation location;
  location.offset = address;
  const Dwarf_Addr target = isReturnAddress && address > 0 ? address - 1 : address;
  std::lock_guard<std::mutex> hold(g_symbolsLock);
  Dwfl* dwfl = Symbols(false);
  Dwfl_Module* module = dwfl ? dwfl_addrmodule(dwfl, target) : nullptr;
  if (!module && dwfl) {
    // A library loaded after the session was made.
    dwfl = Symbols(true);
    module = dwfl ? dwfl_addrmodule(dwfl, target) : nullptr;
  }
  if (!module) return location;
  Dwarf_Addr start = 0;
  const char* name = dwfl_module_info(module, nullptr, &start, nullptr, nullptr, nullptr, nullptr, nullptr);
  location.module = name ? AfterLastSlash(name) : std::wstring();
  location.offset = address - start;
  GElf_Off symbolOffset = 0;
  GElf_Sym symbol;
  const char* symbolName = dwfl_module_addrinfo(module, target, &symbolOffset, &symbol, nullptr, nullptr, nullptr);
  if (symbolName && *symbolName) location.function = Demangle(symbolName);
  if (Dwfl_Line* line = dwfl_module_getsrc(module, target)) {
    int lineNumber = 0;
    const char* source = dwfl_lineinfo(line, nullptr, &lineNumber, nullptr, nullptr, nullptr);
    if (source && lineNumber > 0) {
      location.file = AfterLastSlash(source);
      location.line = static_cast<unsigned>(lineNumber);
    }
  }
  return location;
}

std::string ProcessMemoryMap() {
  std::string text;
  if (ReadBytes(L"/proc/self/maps", &text, size_t(16) << 20) != ReadStatus::Ok) text.clear();
  return text;
}
